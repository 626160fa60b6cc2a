// kvqctl as a technician's script runs it: the real executable against the
// simulated actuator on a pseudo-terminal, in a directory with the sample
// antenna table.

// GCC 12 warns falsely inside <regex>'s automaton when optimising with the
// sanitizers (an std::function "may be used uninitialized"); the warning is in
// the library's code, not this file's.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "hdlc/TraceDecoder.h"
#include "hdlc/TraceWriter.h"
#include "serial/LineTap.h"
#include "sim/SimTraceNames.h"
#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"
#include "support/ChildProcess.h"
#include "support/PseudoTerminal.h"
#include "support/WaitUntil.h"

using namespace kvq::hdlc;
using namespace kvq::sim;
using namespace kvq::testing;

namespace {

using nlohmann::json;
using std::chrono::milliseconds;
namespace fs = std::filesystem;

// Every line of kvqctl's standard output under --json, parsed: a line that is
// not one JSON object fails the test.
std::vector<json> JsonLines(const std::string& out) {
    std::vector<json> objects;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const json object = json::parse(line, nullptr, false);
        EXPECT_TRUE(object.is_object()) << "not a JSON object: " << line;
        if (object.is_object()) objects.push_back(object);
    }
    return objects;
}

// The stream ends with the one final object: it alone has the exit code, and
// its error is a sentence exactly when the run failed.
json FinalObject(const std::string& out, int code) {
    const auto objects = JsonLines(out);
    if (objects.empty()) {
        ADD_FAILURE() << "no JSON on the standard output";
        return json::object();
    }
    for (std::size_t i = 0; i + 1 < objects.size(); ++i)
        EXPECT_FALSE(objects[i].contains("exitCode")) << "a final object before the last line";
    const json& last = objects.back();
    EXPECT_EQ(last.value("exitCode", -1), code) << last;
    EXPECT_TRUE(last.contains("error")) << last;
    if (code == 0) {
        EXPECT_TRUE(last["error"].is_null()) << last;
    } else {
        EXPECT_TRUE(last["error"].is_string() && !last["error"].get<std::string>().empty()) << last;
    }
    EXPECT_TRUE(last.contains("ready") && last.contains("progress")) << last;
    return last;
}

// The figures of the progress lines for `what` on a standard error that is no
// terminal ("downloading  40%  0:12 left"), in order.
std::vector<int> ProgressFigures(const std::string& err, const std::string& what) {
    std::vector<int> figures;
    std::istringstream lines(err);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(what + " ", 0) != 0 || line.find(" left") == std::string::npos) continue;
        EXPECT_EQ(line.find('\r'), std::string::npos) << "a bar drawn in place: " << line;
        figures.push_back(std::stoi(line.substr(what.size())));
    }
    return figures;
}

// Progress that only goes up, from its start to its end.
void ExpectRisingProgress(const std::vector<int>& figures, const std::string& err) {
    ASSERT_GE(figures.size(), 3u) << err;
    for (std::size_t i = 1; i < figures.size(); ++i)
        EXPECT_GT(figures[i], figures[i - 1]) << err;
    EXPECT_LT(figures.front(), 10) << err;
    EXPECT_GE(figures.back(), 90) << err;
}

// Two models of the sample, and two whose names differ only in letter case.
void WriteSmallTable(const fs::path& directory, const fs::path& sample) {
    std::ifstream in(sample);
    std::ofstream out(directory / "ZZ_SMALL.ascu");
    out << "AT-VERSION\t3\n";
    std::string line, config;
    while (std::getline(in, line)) {
        if (line.rfind("AP1721-65-18\t", 0) == 0 || line.rfind("AP1727-90-16\t", 0) == 0)
            out << line << "\n";
        if (line.rfind("AP1727-90-16\t", 0) == 0) {
            std::istringstream columns(line);
            for (int i = 0; i < 5; ++i)
                columns >> config;
        }
    }
    out << "WIDE-1\t0\t150\t0\t" << config << "\tWide\n";
    out << "WIDE-2\t-20\t80\t0\t" << config << "\tWIDE\n";
}

// The frames of a trace file, in its order.
std::vector<ParsedTraceLine> TraceFrames(const fs::path& path, std::string* all = nullptr) {
    std::vector<ParsedTraceLine> frames;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        if (all) *all += line + "\n";
        ParsedTraceLine parsed;
        if (ParseTraceLine(line, parsed)) frames.push_back(parsed);
    }
    return frames;
}

using FrameFilter = bool (*)(const ParsedTraceLine&);
std::vector<std::vector<std::uint8_t>> Octets(const std::vector<ParsedTraceLine>& frames,
                                              FrameFilter wanted) {
    std::vector<std::vector<std::uint8_t>> octets;
    for (const auto& frame : frames) {
        if (wanted(frame)) octets.push_back(frame.line);
    }
    return octets;
}

class Kvqctl : public ::testing::Test {
protected:
    void SetUp() override {
        directory = fs::temp_directory_path() /
                    ("kvqctl-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(directory);
        fs::copy_file(fs::path(KVQ_EXAMPLES_DIR) / "KVQ_SAMPLE.ascu",
                      directory / "KVQ_SAMPLE.ascu");
        settings.serialNumber = "XXXT0004711";
        settings.softwareVersion = "01.23";
        settings.tilt = 20;
        settings.restartSilence = milliseconds(3000);
    }
    void TearDown() override {
        sim.reset();
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }
    void StartSimulator(const std::string& modelKey, SimOptions options = {},
                        kvq::serial::LineTap* tap = nullptr) {
        settings.modelKey = modelKey;
        settings.tiltSpeed = 50;  // 5 degrees a second keeps the moves short
        application = std::make_shared<Vlx400Application>(settings);
        sim = std::make_unique<SimulatedActuator>(options, application);
        sim->SetTap(tap);
        ASSERT_TRUE(sim->Start()) << sim->Error();
    }
    std::unique_ptr<ChildProcess> Run(std::vector<std::string> args,
                                      const std::vector<std::string>& environment = {}) {
        return std::make_unique<ChildProcess>(KVQCTL_PATH, args, directory, "kvqctl", environment);
    }
    std::uint64_t FramesSeen() const { return sim ? sim->Counters().framesReceived : 0; }

    fs::path directory;
    Vlx400Settings settings;
    std::shared_ptr<Vlx400Application> application;
    std::unique_ptr<SimulatedActuator> sim;
};

}  // namespace

TEST_F(Kvqctl, StatusReachesReadyWithTheIdentityAndTilt) {
    StartSimulator("AP1721-65-18");
    const auto start = std::chrono::steady_clock::now();
    auto run = Run({"--port", sim->DevicePath(), "--json", "status"});
    const auto code = run->Wait(milliseconds(30000));
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(code, 0) << run->Out() << run->Err();
    const json last = FinalObject(run->Out(), 0);
    EXPECT_EQ(last["state"], 9);
    EXPECT_EQ(last["statusLine1"], "READY");
    EXPECT_EQ(last["serialNumber"], "XXXT0004711");
    EXPECT_EQ(last["softwareVersion"], "01.23");
    EXPECT_EQ(last["antennaModel"], "Panel65-1710-2170-18dBi");
    EXPECT_EQ(last["minTilt"], 0);
    EXPECT_EQ(last["maxTilt"], 100);
    EXPECT_EQ(last["currentTilt"], 20);
    EXPECT_EQ(last["problemText"], "");
    EXPECT_EQ(last["ready"], true);
    EXPECT_EQ(last["progress"], 0);
    // One object per change before it: the search, then READY; never ready
    // before the end, progress within its range.
    const auto objects = JsonLines(run->Out());
    ASSERT_GE(objects.size(), 3u);
    EXPECT_EQ(objects.front()["ready"], false);
    for (const auto& object : objects) {
        EXPECT_GE(object["progress"].get<int>(), 0);
        EXPECT_LE(object["progress"].get<int>(), 100);
    }
    EXPECT_NE(run->Err().find("READY"), std::string::npos) << "the status lines go to stderr";
    EXPECT_NE(run->Err().find("Serial number:     XXXT0004711"), std::string::npos)
        << "the report for a person goes to stderr";
    RecordProperty("secondsToReady", std::to_string(std::chrono::duration<double>(took).count()));
}

// A model key the table does not know: the check ends with the problem its own
// read-back found, and the final report is one picture of the record, never
// READY beside a problem text. Repeated, as the read-back and the report race.
TEST_F(Kvqctl, AnUnknownModelIsReportedAsOneConsistentProblem) {
    StartSimulator("NOT-IN-TABLE");
    for (int i = 0; i < 3; ++i) {
        auto run = Run({"--port", sim->DevicePath(), "--json", "status"});
        EXPECT_EQ(run->Wait(milliseconds(30000)), 1) << run->Out() << run->Err();
        const json last = FinalObject(run->Out(), 1);
        EXPECT_EQ(last["statusLine1"], "POSSIBLE PROBLEM") << last;
        EXPECT_EQ(last["statusLine2"], "NO RECOGNIZED ANTENNA MODEL?") << last;
        EXPECT_EQ(last["problemText"], "NO RECOGNIZED ANTENNA MODEL?") << last;
        EXPECT_EQ(last["ready"], false) << last;
    }
}

TEST_F(Kvqctl, SetTiltMovesTheActuatorIncludingNegativeTilts) {
    StartSimulator("AP2627-33-21");  // a model whose range starts at -2.5 degrees
    for (const char* tilt : {"6.5", "-1.5"}) {
        auto run = Run({"--port", sim->DevicePath(), "--json", "set-tilt", tilt});
        ASSERT_EQ(run->Wait(milliseconds(40000)), 0) << run->Out() << run->Err();
        const int tenths = static_cast<int>(std::stod(tilt) * 10);
        EXPECT_EQ(FinalObject(run->Out(), 0)["currentTilt"], tenths);
        EXPECT_EQ(application->State().currentTilt, tenths);
        // The move's progress is seen on the way.
        bool moving = false;
        for (const auto& object : JsonLines(run->Out()))
            moving = moving || (object["state"] == 5 && object["progress"].get<int>() > 0);
        EXPECT_TRUE(moving) << run->Out();
    }
}

// A firmware download while a script waits: its progress on the standard
// error, a line at every tenth and rising, the standard output JSON only.
TEST_F(Kvqctl, ADownloadShowsItsProgressOnTheStandardError) {
    StartSimulator("AP1721-65-18");
    {
        std::ofstream file(directory / "vlx400fw.bin", std::ios::binary);
        std::string header(10, '\0');
        header[0] = 0x01;
        header.replace(2, 5, "02.00");
        file << header << std::string(6000, '\x5A');
    }
    auto run = Run({"--port", sim->DevicePath(), "--json", "update-firmware"});
    ASSERT_EQ(run->Wait(milliseconds(90000)), 0) << run->Out() << run->Err();
    EXPECT_EQ(FinalObject(run->Out(), 0)["softwareVersion"], "02.00");
    EXPECT_EQ(application->State().softwareVersion, "02.00");
    const auto figures = ProgressFigures(run->Err(), "downloading");
    ExpectRisingProgress(figures, run->Err());
    ASSERT_FALSE(figures.empty()) << run->Err();
    EXPECT_EQ(figures.back(), 100) << run->Err();
    EXPECT_EQ(run->Out().find("downloading"), std::string::npos) << "progress on stdout";
}

// monitor's lines for a person: each with the local date and time and the
// tilt, which is "-" until the actuator has told it.
TEST_F(Kvqctl, MonitorLinesCarryATimeStampAndTheTilt) {
    StartSimulator("AP1721-65-18");
    auto run = Run({"--port", sim->DevicePath(), "--timeout", "8", "monitor"});
    ASSERT_EQ(run->Wait(milliseconds(20000)), 0) << run->Out() << run->Err();
    const std::regex shape(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  tilt +(-|-?\d+\.\d)  \S.*)");
    std::istringstream lines(run->Out());
    std::vector<std::string> seen;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(std::regex_match(line, shape)) << line;
        seen.push_back(line);
    }
    ASSERT_GE(seen.size(), 2u) << run->Out();
    EXPECT_NE(seen.front().find("tilt     -  "), std::string::npos) << seen.front();
    EXPECT_NE(seen.back().find("tilt   2.0  READY"), std::string::npos) << run->Out();
}

TEST_F(Kvqctl, RefusesWhatItCannotDoWithoutSendingIt) {
    StartSimulator("AP1721-65-18");  // 0 to 10 degrees
    struct Case {
        std::vector<std::string> args;
        int code;
        const char* says;
    } cases[] = {
        {{"set-tilt", "12.5"}, 2, "outside the range"},
        {{"set-tilt", "-0.5"}, 2, "outside the range"},
        {{"change-model", "No Such Model"}, 2, "no model named"},
        {{"set-tilt", "6.55"}, 2, "one decimal"},
        {{"frobnicate"}, 2, "unknown command"},
        // The last --port counts: a malformed usb: name is refused before any open.
        {{"set-tilt", "5", "--port", "usb:0403"}, 2, "product id must be four hexadecimal digits"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"--port", sim->DevicePath()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto run = Run(args);
        EXPECT_EQ(run->Wait(milliseconds(30000)), c.code) << c.args[0];
        EXPECT_NE(run->Err().find(c.says), std::string::npos) << run->Err();
    }
    EXPECT_EQ(application->State().currentTilt, 20) << "nothing was moved";
    EXPECT_EQ(application->State().modelKey, "AP1721-65-18");
}

TEST_F(Kvqctl, ChangeModelWritesTheModelAndItsConfiguration) {
    StartSimulator("AP1721-65-18");
    auto run =
        Run({"--port", sim->DevicePath(), "--json", "change-model", "Panel90-1695-2690-16dBi"});
    ASSERT_EQ(run->Wait(milliseconds(90000)), 0) << run->Out() << run->Err();
    EXPECT_EQ(FinalObject(run->Out(), 0)["antennaModel"], "Panel90-1695-2690-16dBi");
    const auto state = application->State();
    EXPECT_EQ(state.modelKey, "AP1727-90-16");
    ASSERT_TRUE(state.aisgConfiguration.has_value()) << run->Out() << run->Err();
    // The table's 128 configuration digits, byte for byte.
    std::ifstream table(directory / "KVQ_SAMPLE.ascu");
    std::string line, digits;
    while (std::getline(table, line)) {
        if (line.rfind("AP1727-90-16\t", 0) == 0) {
            std::istringstream columns(line);
            std::string column;
            for (int i = 0; i < 5; ++i)
                columns >> column;
            digits = column;
        }
    }
    ASSERT_EQ(digits.size(), 128u);
    for (std::size_t i = 0; i < 64; ++i) {
        EXPECT_EQ((*state.aisgConfiguration)[i], std::stoi(digits.substr(2 * i, 2), nullptr, 16))
            << "byte " << i;
    }
    EXPECT_EQ(sim->LinkState().mode, SimMode::Ericsson) << "back in Ericsson mode";
    EXPECT_NE(run->Err().find("SETTING UP"), std::string::npos);
    ExpectRisingProgress(ProgressFigures(run->Err(), "changing model"), run->Err());
    bool settingUp = false;
    for (const auto& object : JsonLines(run->Out()))
        settingUp = settingUp || object["statusLine1"] == "SETTING UP";
    EXPECT_TRUE(settingUp) << "one object per status change";
}

// A name is a display name or a key, in any letter case when that leaves one
// model; an unknown or ambiguous one is refused before the port is opened, so
// the actuator never hears of it.
TEST_F(Kvqctl, ChangeModelTakesAKeyOrANameInAnyCaseAndRefusesTheRestUnsent) {
    WriteSmallTable(directory, directory / "KVQ_SAMPLE.ascu");
    StartSimulator("AP1721-65-18");
    struct Refused {
        const char* name;
        const char* says;
    } refused[] = {
        {"wide", "ambiguous: it could be WIDE-1 (Wide), WIDE-2 (WIDE)"},
        {"Panel90", "no model named 'Panel90'"},
    };
    for (const auto& r : refused) {
        auto run = Run({"--port", sim->DevicePath(), "--json", "change-model", r.name});
        EXPECT_EQ(run->Wait(milliseconds(10000)), 2) << r.name;
        EXPECT_NE(run->Err().find(r.says), std::string::npos) << run->Err();
        EXPECT_NE(FinalObject(run->Out(), 2)["error"].get<std::string>().find(r.says),
                  std::string::npos);
    }
    EXPECT_EQ(FramesSeen(), 0u) << "the refused names reached the actuator";

    struct Accepted {
        const char* name;
        const char* key;
        const char* displayName;
    } accepted[] = {
        {"ap1727-90-16", "AP1727-90-16", "Panel90-1695-2690-16dBi"},
        {"PANEL65-1710-2170-18DBI", "AP1721-65-18", "Panel65-1710-2170-18dBi"},
    };
    for (const auto& a : accepted) {
        auto run = Run({"--port", sim->DevicePath(), "--json", "change-model", a.name});
        ASSERT_EQ(run->Wait(milliseconds(90000)), 0) << run->Out() << run->Err();
        EXPECT_EQ(FinalObject(run->Out(), 0)["antennaModel"], a.displayName);
        EXPECT_EQ(application->State().modelKey, a.key);
    }
}

TEST_F(Kvqctl, ListsTheModelsOfTheTableWithoutAnActuator) {
    WriteSmallTable(directory, directory / "KVQ_SAMPLE.ascu");
    auto run = Run({"models"}, {"KVQ_SERIAL_PORTS="});
    ASSERT_EQ(run->Wait(milliseconds(5000)), 0) << run->Err();
    for (const char* line :
         {"AP1721-65-18     Panel65-1710-2170-18dBi          0.0 to 10.0 degrees",
          "WIDE-2           WIDE                             -2.0 to 8.0 degrees"})
        EXPECT_NE(run->Out().find(line), std::string::npos) << run->Out();

    run = Run({"--json", "models"});
    ASSERT_EQ(run->Wait(milliseconds(5000)), 0) << run->Err();
    const json models = FinalObject(run->Out(), 0)["models"];
    ASSERT_EQ(models.size(), 4u) << models;
    EXPECT_EQ(models[1], (json{{"key", "AP1727-90-16"},
                               {"displayName", "Panel90-1695-2690-16dBi"},
                               {"minTilt", 20},
                               {"maxTilt", 100}}));
}

TEST_F(Kvqctl, ListsThePortsByNumberPastCom8) {
    const std::vector<std::string> map = {
        "KVQ_SERIAL_PORTS=COM12=/dev/kvq-twelve;COM3=/dev/kvq-three"};
    auto run = Run({"ports"}, map);
    ASSERT_EQ(run->Wait(milliseconds(5000)), 0) << run->Err();
    EXPECT_EQ(run->Out(), "COM3  /dev/kvq-three\nCOM12  /dev/kvq-twelve\n");

    run = Run({"ports", "--json"}, map);
    ASSERT_EQ(run->Wait(milliseconds(5000)), 0) << run->Err();
    const json ports = FinalObject(run->Out(), 0)["ports"];
    ASSERT_EQ(ports.size(), 2u) << ports;
    EXPECT_EQ(ports[0]["port"], "COM3");
    EXPECT_EQ(ports[1]["port"], "COM12");
    EXPECT_EQ(ports[1]["device"], "/dev/kvq-twelve");
    EXPECT_TRUE(ports[1].contains("adapter") && ports[1].contains("adapterSerialNumber"));
}

// Without --port the first port present is used, as the dialog chooses it,
// not COM1 and not the first named; a port past COM8 works when named.
TEST_F(Kvqctl, ChoosesTheFirstPresentPortAndTakesPortsPastCom8) {
    StartSimulator("AP1721-65-18");
    struct Case {
        std::string map;
        std::vector<std::string> port;
    } cases[] = {
        {"COM5=/dev/kvq-no-such-port;COM2=" + sim->DevicePath(), {}},
        {"COM1=/dev/kvq-no-such-port;COM12=" + sim->DevicePath(), {"--port", "COM12"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.port;
        args.insert(args.end(), {"--json", "status"});
        auto run = Run(args, {"KVQ_SERIAL_PORTS=" + c.map});
        ASSERT_EQ(run->Wait(milliseconds(30000)), 0) << c.map << run->Out() << run->Err();
        EXPECT_EQ(FinalObject(run->Out(), 0)["serialNumber"], "XXXT0004711");
    }
}

TEST_F(Kvqctl, APortThatCannotBeOpenedIsSaidInOneSentence) {
    // A path to nothing, and a USB adapter that is not plugged in.
    for (const char* port : {"/dev/kvq-no-such-port", "usb:0403:f00d:KVQ-NONE"}) {
        auto run = Run({"--port", port, "status"});
        EXPECT_EQ(run->Wait(milliseconds(5000)), 4) << port;
        EXPECT_NE(run->Err().find("does not exist"), std::string::npos) << run->Err();
        EXPECT_NE(run->Err().find(port), std::string::npos) << run->Err();
    }
}

// A time-out says what was tried and what to check, the same sentence on the
// standard error and in the final object.
TEST_F(Kvqctl, ASilentActuatorTimesOutWithWhatToCheck) {
    SimOptions options;
    options.silent = true;
    StartSimulator("AP1721-65-18", options);
    auto run = Run({"--port", "COM4", "--timeout", "2", "--json", "status"},
                   {"KVQ_SERIAL_PORTS=COM4=" + sim->DevicePath()});
    EXPECT_EQ(run->Wait(milliseconds(15000)), 3);
    const json last = FinalObject(run->Out(), 3);
    EXPECT_EQ(last["statusLine1"], "LOOKING FOR DEVICE");
    const std::string error = last["error"];
    EXPECT_NE(run->Err().find("kvqctl: " + error), std::string::npos) << run->Err();
    for (const std::string& part :
         std::vector<std::string>{"timed out after 2 s", "COM4 (" + sim->DevicePath(),
                                  "115200 baud", "adapter", "power", "wiring"})
        EXPECT_NE(error.find(part), std::string::npos) << part << " in: " << error;
}

// The adapter pulled out while kvqctl runs and plugged in again, where it
// gets another tty behind the same stable name (a link standing in for the
// one in /dev/serial/by-id): kvqctl says so, and carries on to READY on the
// new device without a restart.
TEST_F(Kvqctl, FindsTheAdapterAgainBehindItsStableNameAfterAReplug) {
    StartSimulator("AP1721-65-18");
    const fs::path stable = directory / "usb-FTDI_USB-RS485_A1B2C3-if00-port0";
    fs::create_symlink(sim->DevicePath(), stable);
    auto run = Run({"--port", stable.string(), "--timeout", "60", "monitor"});
    const auto readyAfter = [&](const std::string& mark) {
        const std::string out = run->Out();
        const auto at = mark.empty() ? 0 : out.find(mark);
        return at != std::string::npos && out.find("READY", at) != std::string::npos;
    };
    ASSERT_TRUE(WaitUntil([&] { return readyAfter(""); }, milliseconds(20000)))
        << run->Out() << run->Err();

    const std::string before = sim->DevicePath();
    sim->Stop();
    fs::remove(stable);  // as the system takes the link away with the device
    ASSERT_TRUE(WaitUntil([&] { return run->Err().find("is gone") != std::string::npos; },
                          milliseconds(5000)))
        << run->Out() << run->Err();
    // The port is closed, so the old tty's number is free: taken here, the
    // simulator comes back under another.
    const auto placeholders = HoldPseudoTerminalName(before);
    // A while unplugged: kvqctl stays, trying the stable name again now and then.
    std::this_thread::sleep_for(milliseconds(1500));
    EXPECT_EQ(run->Err().find("the adapter is back;"), std::string::npos) << run->Err();
    EXPECT_EQ(run->Wait(milliseconds(0)), std::nullopt) << "kvqctl ended: " << run->Err();
    ASSERT_TRUE(sim->Start()) << sim->Error();
    ASSERT_NE(sim->DevicePath(), before);
    fs::create_symlink(sim->DevicePath(), stable);

    EXPECT_TRUE(WaitUntil([&] { return readyAfter("ADAPTER REMOVED?"); }, milliseconds(20000)))
        << run->Out() << run->Err();
    EXPECT_NE(run->Err().find("the adapter is back;"), std::string::npos) << run->Err();
    EXPECT_EQ(run->Wait(milliseconds(0)), std::nullopt) << "kvqctl ended: " << run->Err();
    run->Signal(SIGTERM);
    EXPECT_EQ(run->Wait(milliseconds(4000)), 128 + SIGTERM);
}

TEST_F(Kvqctl, StopsCleanlyOnASignal) {
    StartSimulator("AP1721-65-18");
    for (int signal : {SIGINT, SIGTERM}) {
        auto run = Run({"--port", sim->DevicePath(), "--json", "monitor"});
        std::this_thread::sleep_for(milliseconds(1500));  // inside the link's start-up
        const auto start = std::chrono::steady_clock::now();
        run->Signal(signal);
        EXPECT_EQ(run->Wait(milliseconds(4000)), 128 + signal);
        EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2000));
        FinalObject(run->Out(), 128 + signal);
    }
}

TEST_F(Kvqctl, WithoutAnAntennaTableItSaysSo) {
    fs::remove(directory / "KVQ_SAMPLE.ascu");
    auto run = Run({"--port", "/dev/null", "status"});
    EXPECT_EQ(run->Wait(milliseconds(5000)), 2);
    EXPECT_NE(run->Err().find("No Antenna Table File Found!"), std::string::npos) << run->Err();
}

// A Variant the tool does not serve is named with its file, key and value and
// the accepted values; nothing reaches the actuator.
TEST_F(Kvqctl, AVariantItDoesNotServeIsNamedAndNothingIsSent) {
    StartSimulator("AP1721-65-18");
    std::ofstream(directory / "KVQ.INI") << "[VLX400]\r\nVariant=E-VLX4OO\r\n";
    auto run = Run({"--port", sim->DevicePath(), "set-tilt", "5.0"});
    EXPECT_EQ(run->Wait(milliseconds(5000)), 2);
    EXPECT_EQ(run->Out(), "");
    for (const std::string& part :
         std::vector<std::string>{(directory / "KVQ.INI").string(), "Variant", "\"E-VLX4OO\"",
                                  "\"E-VLX400\" or \"VLX400-002\""})
        EXPECT_NE(run->Err().find(part), std::string::npos) << part << " in: " << run->Err();
    EXPECT_EQ(FramesSeen(), 0u);
    EXPECT_EQ(application->State().currentTilt, 20);
}

// Every ending under --json is a final object on the standard output, which
// carries nothing else; the reasons go to the standard error as well.
TEST_F(Kvqctl, EveryJsonEndingIsAFinalObject) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* settings;  // KVQ.INI, or null
        int code;
        const char* errorHas;
    } cases[] = {
        {"bad command line", {"--json", "frobnicate"}, nullptr, 2, "unknown command"},
        {"bad option value", {"--json", "--timeout", "0", "status"}, nullptr, 2, "--timeout"},
        {"bad settings", {"--json", "status"}, "[VLX400]\nVariant=VLX400\n", 2, "Variant"},
        {"port failure",
         {"--json", "--port", "/dev/kvq-no-such-port", "status"},
         nullptr,
         4,
         "does not exist"},
        {"no port at all", {"--json", "status"}, nullptr, 4, "no serial ports"},
        {"unknown model",
         {"--json", "--port", "/dev/null", "change-model", "X"},
         nullptr,
         2,
         "no model named"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(directory / "KVQ.INI");
        if (c.settings) std::ofstream(directory / "KVQ.INI") << c.settings;
        auto run = Run(c.args, {"KVQ_SERIAL_PORTS="});
        ASSERT_EQ(run->Wait(milliseconds(5000)), c.code) << run->Out() << run->Err();
        const json last = FinalObject(run->Out(), c.code);
        EXPECT_NE(last["error"].get<std::string>().find(c.errorHas), std::string::npos) << last;
        EXPECT_EQ(last["ready"], false);
        EXPECT_NE(run->Err().find(c.errorHas), std::string::npos) << run->Err();
    }
}

TEST_F(Kvqctl, HelpAndVersionSayItAndEndWell) {
    for (const char* flag : {"--help", "-h"}) {
        auto run = Run({flag});
        ASSERT_EQ(run->Wait(milliseconds(5000)), 0) << flag;
        for (const char* command :
             {"status", "monitor", "set-tilt", "change-model", "ports", "models", "update-firmware",
              "--firmware FILE", "vlx400fw.bin", "Exit codes"})
            EXPECT_NE(run->Out().find(command), std::string::npos) << flag << ": " << command;
    }
    auto run = Run({"--version"});
    ASSERT_EQ(run->Wait(milliseconds(5000)), 0);
    EXPECT_EQ(run->Out(), std::string("kvqctl ") + KVQ_VERSION + "\n");

    run = Run({"--json", "--help"});
    ASSERT_EQ(run->Wait(milliseconds(5000)), 0);
    FinalObject(run->Out(), 0);
    EXPECT_NE(run->Err().find("change-model NAME"), std::string::npos) << "the usage on stderr";
}

// ---- the actuator's software --------------------------------------------------------------

namespace {

// vlx400fw.bin in the test's directory: a header with `version`, then a short
// image, so a download takes a few blocks.
std::vector<char> WriteFirmware(const fs::path& directory, const std::string& version,
                                std::size_t imageSize = 500) {
    std::vector<char> file(10, '\0');
    file[0] = 0x01;
    std::copy(version.begin(), version.end(), file.begin() + 2);
    for (std::size_t i = 0; i < imageSize; ++i)
        file.push_back(static_cast<char>(i * 11 + 5));
    std::ofstream(directory / "vlx400fw.bin", std::ios::binary)
        .write(file.data(), static_cast<std::streamsize>(file.size()));
    return file;
}

bool Says(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

// status never writes the actuator's software: it names both versions and
// the command that installs the file, and ends as a status does.
TEST_F(Kvqctl, StatusNeverDownloadsAndNamesBothVersions) {
    WriteFirmware(directory, "01.24");
    StartSimulator("AP1721-65-18");
    auto run = Run({"--port", sim->DevicePath(), "--json", "status"});
    ASSERT_EQ(run->Wait(milliseconds(30000)), 0) << run->Out() << run->Err();
    const json last = FinalObject(run->Out(), 0);
    EXPECT_EQ(last["statusLine1"], "READY");
    EXPECT_EQ(last["softwareVersion"], "01.23");
    EXPECT_EQ(last["firmwareFileVersion"], "01.24");
    // The file's version follows "ready", before the ending's members, as
    // written (an ordered parse of the last line keeps the order).
    const std::string out = run->Out();
    const auto lastLineAt = out.rfind('\n', out.size() - 2);
    const auto written = nlohmann::ordered_json::parse(
        out.substr(lastLineAt == std::string::npos ? 0 : lastLineAt + 1));
    std::vector<std::string> keys;
    for (const auto& item : written.items())
        keys.push_back(item.key());
    const auto at = std::find(keys.begin(), keys.end(), "firmwareFileVersion");
    ASSERT_NE(at, keys.end());
    ASSERT_NE(at, keys.begin());
    EXPECT_EQ(*(at - 1), "ready");
    EXPECT_EQ(std::vector<std::string>(at + 1, keys.end()),
              (std::vector<std::string>{"exitCode", "error"}));
    for (const auto& object : JsonLines(run->Out())) {
        EXPECT_EQ(object.value("firmwareFileVersion", ""), "01.24") << object;
        EXPECT_NE(object["statusLine1"], "UPDATING SOFTWARE") << object;
    }
    EXPECT_TRUE(Says(run->Err(), "holds version 01.24")) << run->Err();
    EXPECT_TRUE(Says(run->Err(), "runs version 01.23")) << run->Err();
    EXPECT_TRUE(Says(run->Err(), "kvqctl update-firmware")) << run->Err();
    const auto state = application->State();
    EXPECT_FALSE(state.imageReceiving.has_value());
    EXPECT_FALSE(state.lastImage.has_value());
    EXPECT_EQ(state.restarts, 0u);
}

TEST_F(Kvqctl, UpdateFirmwareInstallsTheFileAndEndsReadyOnItsVersion) {
    const auto file = WriteFirmware(directory, "01.24");
    StartSimulator("AP1721-65-18");
    auto run = Run({"--port", sim->DevicePath(), "--json", "update-firmware"});
    ASSERT_EQ(run->Wait(milliseconds(60000)), 0) << run->Out() << run->Err();
    const json last = FinalObject(run->Out(), 0);
    EXPECT_EQ(last["statusLine1"], "READY");
    EXPECT_EQ(last["softwareVersion"], "01.24");
    EXPECT_EQ(last["ready"], true);
    // The download's progress is seen on the way.
    bool downloading = false;
    for (const auto& object : JsonLines(run->Out()))
        downloading = downloading || (object["statusLine1"] == "UPDATING SOFTWARE" &&
                                      object["progress"].get<int>() > 0);
    EXPECT_TRUE(downloading) << run->Out();
    EXPECT_TRUE(Says(run->Err(), "version 01.24 installed")) << run->Err();
    const auto state = application->State();
    ASSERT_TRUE(state.lastImage.has_value());
    EXPECT_EQ(*state.lastImage, std::vector<std::uint8_t>(file.begin(), file.end()));
    EXPECT_EQ(state.softwareVersion, "01.24");
    EXPECT_EQ(state.restarts, 1u);

    // Once more: the versions match, nothing is sent.
    auto again = Run({"--port", sim->DevicePath(), "update-firmware"});
    ASSERT_EQ(again->Wait(milliseconds(30000)), 0) << again->Out() << again->Err();
    EXPECT_TRUE(Says(again->Out(), "already at version 01.24")) << again->Out();
    EXPECT_FALSE(Says(again->Out(), "UPDATING SOFTWARE"));
    EXPECT_EQ(application->State().restarts, 1u);
}

// A file that cannot be an image is refused with the reason, before the port
// is opened: the simulator never sees a frame.
TEST_F(Kvqctl, UpdateFirmwareRefusesAnUnusableFileBeforeThePortIsOpened) {
    StartSimulator("AP1721-65-18");
    const auto path = (directory / "vlx400fw.bin").string();
    struct Case {
        const char* what;
        std::function<void()> write;
        const char* says;
    } cases[] = {
        {"no file", [&] { fs::remove(path); }, "there is no firmware file"},
        {"random bytes",
         [&] {
             std::ofstream out(path, std::ios::binary);
             out << "\x9c\x41i\xdd;_5\xafI\xba";
             for (int i = 0; i < 4086; ++i)
                 out.put(static_cast<char>((i * 7919) >> 3));
         },
         "not printable"},
        {"three bytes",
         [&] {
             std::ofstream(path, std::ios::binary) << std::string(
                 "\x01\x00"
                 "9",
                 3);
         },
         "only 3 bytes"},
        {"empty version text",
         [&] {
             std::ofstream(path, std::ios::binary)
                 << std::string("\x01", 1) << std::string(60, '\0');
         },
         "no version text"},
        {"header only", [&] { WriteFirmware(directory, "01.24", 0); }, "no image"},
        {"above 4 MiB",
         [&] {
             WriteFirmware(directory, "01.24");
             fs::resize_file(path, 5u << 20);
         },
         "more than an E-VLX400 image can be"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.write();
        auto run = Run({"--port", sim->DevicePath(), "update-firmware"});
        EXPECT_EQ(run->Wait(milliseconds(10000)), 2);
        EXPECT_TRUE(Says(run->Err(), path)) << run->Err();
        EXPECT_TRUE(Says(run->Err(), c.says)) << run->Err();
        EXPECT_EQ(run->Out(), "") << "no worker started";
    }
    // The file named on the command line is the one checked.
    WriteFirmware(directory, "01.24", 0);
    fs::rename(path, directory / "other.bin");
    auto run = Run({"--port", sim->DevicePath(), "--firmware", "other.bin", "update-firmware"});
    EXPECT_EQ(run->Wait(milliseconds(10000)), 2);
    EXPECT_TRUE(Says(run->Err(), (directory / "other.bin").string())) << run->Err();
    EXPECT_EQ(sim->Counters().framesReceived + sim->Counters().framesAtWrongSpeed, 0u);
}

// An actuator whose loader refuses the image takes the download whole and
// comes back on its old version: one download, a failure that names both
// versions, exit 1.
TEST_F(Kvqctl, UpdateFirmwareThatIsNotTakenFailsAfterOneDownload) {
    WriteFirmware(directory, "01.24");
    settings.keepVersionOnRestart = true;
    StartSimulator("AP1721-65-18");
    auto run = Run({"--port", sim->DevicePath(), "--json", "update-firmware"});
    ASSERT_EQ(run->Wait(milliseconds(60000)), 1) << run->Out() << run->Err();
    const json last = FinalObject(run->Out(), 1);
    EXPECT_EQ(last["statusLine1"], "UPDATE NOT TAKEN");
    EXPECT_EQ(last["statusLine2"], "RUNS 01.23, NOT 01.24");
    EXPECT_NE(last["error"].get<std::string>().find("did not take the update"), std::string::npos)
        << last;
    EXPECT_TRUE(Says(run->Err(), "did not take the update")) << run->Err();
    EXPECT_TRUE(Says(run->Err(), "version 01.23, not on version 01.24")) << run->Err();
    const auto state = application->State();
    EXPECT_EQ(state.restarts, 1u) << "one download, one restart";
    EXPECT_TRUE(state.lastImage.has_value());
    EXPECT_EQ(state.softwareVersion, "01.23");
}

// The demo tries the working directory's firmware file as it is: an unusable
// one is named and never sent, a usable one is installed only when asked.
TEST_F(Kvqctl, TheDemoTriesTheWorkingDirectorysFirmwareFile) {
    const auto path = (fs::canonical(directory) / "vlx400fw.bin").string();
    std::ofstream(path, std::ios::binary) << std::string(
        "\x01\x00"
        "9",
        3);
    auto status = Run({"--demo", "status"});
    ASSERT_EQ(status->Wait(milliseconds(30000)), 0) << status->Out() << status->Err();
    EXPECT_TRUE(Says(status->Err(), "the firmware file " + path + " is not used")) << status->Err();
    EXPECT_TRUE(Says(status->Out(), "Software version:  01.23")) << status->Out();

    auto refused = Run({"--demo", "update-firmware"});
    EXPECT_EQ(refused->Wait(milliseconds(30000)), 2) << refused->Out() << refused->Err();
    EXPECT_TRUE(Says(refused->Err(), path)) << refused->Err();

    WriteFirmware(directory, "01.24");
    auto update = Run({"--demo", "update-firmware"});
    ASSERT_EQ(update->Wait(milliseconds(60000)), 0) << update->Out() << update->Err();
    EXPECT_TRUE(Says(update->Out(), "version 01.24 installed")) << update->Out();
    EXPECT_TRUE(Says(update->Out(), "Software version:  01.24")) << update->Out();
}

// The tool's trace and the actuator's, taken at the two ends of the line, name
// the same frames in the same order: each frame the tool sent the actuator
// received, and each answer the tool read the actuator sent. Behind an adapter
// that echoes, the tool's trace also shows its own frames read back, marked.
TEST_F(Kvqctl, TheToolsTraceAndTheActuatorsShowTheSameFramesInOrder) {
    for (const bool echo : {false, true}) {
        SCOPED_TRACE(echo ? "adapter echo" : "no echo");
        const fs::path toolTrace = directory / "tool.trace";
        const fs::path simTrace = directory / "sim.trace";
        kvq::serial::LineTap tap;
        TraceFileSink file;
        TraceWriter writer(tap, false, SimCommandNamer());
        // The simulator records into the tap: it ends first, also when an
        // assertion ends the test early.
        struct SimulatorEnds {
            std::unique_ptr<SimulatedActuator>& sim;
            ~SimulatorEnds() { sim.reset(); }
        } simulatorEnds{sim};
        std::string error;
        ASSERT_TRUE(file.Open(simTrace.string(), TraceTitle("vlx400-sim"), error)) << error;
        writer.AddSink(file);
        writer.Start();
        SimOptions options;
        options.adapterEcho = echo;
        StartSimulator("AP1721-65-18", options, &tap);
        auto run =
            Run({"--port", sim->DevicePath(), "--trace", toolTrace.string(), "set-tilt", "3.5"});
        ASSERT_EQ(run->Wait(milliseconds(40000)), 0) << run->Out() << run->Err();
        sim->Stop();
        writer.Stop();

        std::string toolText;
        std::string simText;
        const auto tool = TraceFrames(toolTrace, &toolText);
        const auto actuator = TraceFrames(simTrace, &simText);
        const auto sent = Octets(tool, [](const ParsedTraceLine& f) { return f.sent; });
        const auto read = Octets(tool, [](const ParsedTraceLine& f) { return !f.sent && !f.echo; });
        const auto echoes =
            Octets(tool, [](const ParsedTraceLine& f) { return !f.sent && f.echo; });
        const auto received = Octets(actuator, [](const ParsedTraceLine& f) { return !f.sent; });
        const auto answered = Octets(actuator, [](const ParsedTraceLine& f) { return f.sent; });

        ASSERT_GT(sent.size(), 20u) << toolText;
        EXPECT_EQ(sent, received) << toolText << simText;
        // The actuator may have answered the last poll after the tool let go.
        ASSERT_GE(answered.size(), read.size()) << toolText << simText;
        EXPECT_LE(answered.size(), read.size() + 1) << toolText << simText;
        EXPECT_EQ(read, decltype(answered)(answered.begin(), answered.begin() + long(read.size())))
            << toolText << simText;
        if (echo) {
            // Every frame sent came back first, save perhaps the last one.
            ASSERT_GE(echoes.size() + 1, sent.size()) << toolText;
            EXPECT_EQ(echoes, decltype(sent)(sent.begin(), sent.begin() + long(echoes.size())));
        } else {
            EXPECT_TRUE(echoes.empty()) << toolText;
        }
        for (const auto* frames : {&tool, &actuator}) {
            for (std::size_t i = 1; i < frames->size(); ++i)
                EXPECT_LE((*frames)[i - 1].ms, (*frames)[i].ms) << "out of time order at " << i;
            for (const auto& frame : *frames) {
                EXPECT_EQ(frame.baudRate, 115200u);
                EXPECT_EQ(frame.meaning.find("bad"), std::string::npos) << frame.meaning;
            }
        }
        // Both ends name the move alike, and the tool says what it opened.
        const std::string move = "SetTiltRequest tilt 3.5 params 00 01 00 23";
        EXPECT_NE(toolText.find(" TX 115200 "), std::string::npos);
        EXPECT_NE(toolText.find(move), std::string::npos) << toolText;
        EXPECT_NE(simText.find(move), std::string::npos) << simText;
        EXPECT_NE(toolText.find(" OPEN 115200 " + sim->DevicePath() + " | low latency: "),
                  std::string::npos)
            << toolText;
        sim.reset();
    }
}

// A trace file named relative to where kvqctl was started is written there,
// not into the demo's own directory, which goes when the run ends.
TEST_F(Kvqctl, ARelativeTraceFileOutlivesTheDemo) {
    auto run = Run({"--demo", "--trace", "line.trace", "status"});
    ASSERT_EQ(run->Wait(milliseconds(30000)), 0) << run->Out() << run->Err();
    std::ifstream in(directory / "line.trace");
    ASSERT_TRUE(in) << run->Err();
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(" TX 115200 "), std::string::npos) << text;
}

// The main operations behind an adapter that reads back every octet the tool
// sends, and behind one that does not: the same outcome either way.
class KvqctlBehindAdapter : public Kvqctl, public ::testing::WithParamInterface<bool> {};

TEST_P(KvqctlBehindAdapter, TheMainOperationsSucceed) {
    const bool echo = GetParam();
    const std::vector<std::uint8_t> firmware = [] {
        std::vector<std::uint8_t> bytes = {0x01, 0x00, '0', '2', '.', '0', '0', 0, 0, 0};
        for (int i = 0; i < 1500; ++i)
            bytes.push_back(static_cast<std::uint8_t>(i * 7 + 3));
        return bytes;
    }();
    struct Case {
        const char* what;
        std::vector<std::string> args;
        bool withFirmware;
        std::function<void(const json& last)> check;
    } cases[] = {
        {"status to READY",
         {"status"},
         false,
         [&](const json& last) {
             EXPECT_EQ(last["statusLine1"], "READY");
             EXPECT_EQ(last["serialNumber"], "XXXT0004711");
             EXPECT_EQ(last["currentTilt"], 20);
         }},
        {"a move with its read-back",
         {"set-tilt", "6.5"},
         false,
         [&](const json& last) {
             EXPECT_EQ(last["currentTilt"], 65);
             EXPECT_EQ(application->State().currentTilt, 65);
         }},
        {"a firmware download",
         {"update-firmware"},
         true,
         [&](const json& last) {
             EXPECT_EQ(last["softwareVersion"], "02.00");
             ASSERT_TRUE(application->State().lastImage.has_value());
             EXPECT_EQ(*application->State().lastImage, firmware);
         }},
        {"a model change",
         {"change-model", "Panel90-1695-2690-16dBi"},
         false,
         [&](const json& last) {
             EXPECT_EQ(last["antennaModel"], "Panel90-1695-2690-16dBi");
             EXPECT_EQ(application->State().modelKey, "AP1727-90-16");
             EXPECT_TRUE(application->State().aisgConfiguration.has_value());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove(directory / "vlx400fw.bin");
        if (c.withFirmware) {
            std::ofstream(directory / "vlx400fw.bin", std::ios::binary)
                .write(reinterpret_cast<const char*>(firmware.data()),
                       static_cast<std::streamsize>(firmware.size()));
        }
        SimOptions options;
        options.adapterEcho = echo;
        StartSimulator("AP1721-65-18", options);
        std::vector<std::string> args = {"--port", sim->DevicePath(), "--json"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        auto run = Run(args);
        ASSERT_EQ(run->Wait(milliseconds(90000)), 0) << run->Out() << run->Err();
        const json last = FinalObject(run->Out(), 0);
        EXPECT_EQ(last["ready"], true);
        c.check(last);
        const SimCounters counters = sim->Counters();
        EXPECT_EQ(counters.octetsEchoed > 0, echo);
        EXPECT_EQ(counters.answersRepeated, 0u) << "an answer was lost to an echo taken for it";
        sim.reset();
    }
}

INSTANTIATE_TEST_SUITE_P(Echo, KvqctlBehindAdapter, ::testing::Bool(),
                         [](const auto& param) { return param.param ? "Echoing" : "Quiet"; });
