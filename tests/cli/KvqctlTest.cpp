// kvqctl as a technician's script runs it: the real executable against the
// simulated actuator on a pseudo-terminal, in a directory with the sample
// antenna table.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "support/ChildProcess.h"
#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"

namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

// A JSON number or string field of kvqctl's last line.
// Texts here hold no escaped quotes, so the value ends at the next quote or comma.
std::string Field(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const std::size_t at = json.find(key);
    if (at == std::string::npos) return "<missing>";
    std::size_t from = at + key.size();
    if (from < json.size() && json[from] == '"') {
        const std::size_t end = json.find('"', from + 1);
        return end == std::string::npos ? "<missing>" : json.substr(from + 1, end - from - 1);
    }
    const std::size_t end = json.find_first_of(",}", from);
    return json.substr(from, end - from);
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
    void StartSimulator(const std::string& modelKey, SimOptions options = {}) {
        settings.modelKey = modelKey;
        settings.tiltSpeed = 50;  // 5 degrees a second keeps the moves short
        application = std::make_shared<Vlx400Application>(settings);
        sim = std::make_unique<SimulatedActuator>(options, application);
        ASSERT_TRUE(sim->Start()) << sim->Error();
    }
    std::unique_ptr<ChildProcess> Run(std::vector<std::string> args) {
        return std::make_unique<ChildProcess>(KVQCTL_PATH, args, directory, "kvqctl");
    }

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
    const std::string json = run->LastLine();
    EXPECT_EQ(Field(json, "state"), "9");
    EXPECT_EQ(Field(json, "statusLine1"), "READY");
    EXPECT_EQ(Field(json, "serialNumber"), "XXXT0004711");
    EXPECT_EQ(Field(json, "softwareVersion"), "01.23");
    EXPECT_EQ(Field(json, "antennaModel"), "Panel65-1710-2170-18dBi");
    EXPECT_EQ(Field(json, "minTilt"), "0");
    EXPECT_EQ(Field(json, "maxTilt"), "100");
    EXPECT_EQ(Field(json, "currentTilt"), "20");
    EXPECT_EQ(Field(json, "problemText"), "");
    EXPECT_NE(run->Out().find("READY"), std::string::npos) << "the status lines are printed";
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
        const std::string json = run->LastLine();
        EXPECT_EQ(Field(json, "statusLine1"), "POSSIBLE PROBLEM") << json;
        EXPECT_EQ(Field(json, "statusLine2"), "NO RECOGNIZED ANTENNA MODEL?") << json;
        EXPECT_EQ(Field(json, "problemText"), "NO RECOGNIZED ANTENNA MODEL?") << json;
    }
}

TEST_F(Kvqctl, SetTiltMovesTheActuatorIncludingNegativeTilts) {
    StartSimulator("AP2627-33-21");  // a model whose range starts at -2.5 degrees
    for (const char* tilt : {"6.5", "-1.5"}) {
        auto run = Run({"--port", sim->DevicePath(), "--json", "set-tilt", tilt});
        ASSERT_EQ(run->Wait(milliseconds(40000)), 0) << run->Out() << run->Err();
        const int tenths = static_cast<int>(std::stod(tilt) * 10);
        EXPECT_EQ(Field(run->LastLine(), "currentTilt"), std::to_string(tenths));
        EXPECT_EQ(application->State().currentTilt, tenths);
    }
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
    EXPECT_EQ(Field(run->LastLine(), "antennaModel"), "Panel90-1695-2690-16dBi");
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
    EXPECT_NE(run->Out().find("SETTING UP"), std::string::npos);
}

TEST_F(Kvqctl, APortThatCannotBeOpenedIsSaidInOneSentence) {
    auto run = Run({"--port", "/dev/kvq-no-such-port", "status"});
    EXPECT_EQ(run->Wait(milliseconds(5000)), 4);
    EXPECT_NE(run->Err().find("does not exist"), std::string::npos) << run->Err();
}

TEST_F(Kvqctl, ASilentActuatorTimesOut) {
    SimOptions options;
    options.silent = true;
    StartSimulator("AP1721-65-18", options);
    auto run = Run({"--port", sim->DevicePath(), "--timeout", "4", "--json", "status"});
    EXPECT_EQ(run->Wait(milliseconds(15000)), 3);
    EXPECT_EQ(Field(run->LastLine(), "statusLine1"), "LOOKING FOR DEVICE");
}

TEST_F(Kvqctl, StopsCleanlyOnASignal) {
    StartSimulator("AP1721-65-18");
    for (int signal : {SIGINT, SIGTERM}) {
        auto run = Run({"--port", sim->DevicePath(), "monitor"});
        std::this_thread::sleep_for(milliseconds(1500));  // inside the link's start-up
        const auto start = std::chrono::steady_clock::now();
        run->Signal(signal);
        EXPECT_EQ(run->Wait(milliseconds(4000)), 128 + signal);
        EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(2000));
    }
}

TEST_F(Kvqctl, WithoutAnAntennaTableItSaysSo) {
    fs::remove(directory / "KVQ_SAMPLE.ascu");
    auto run = Run({"--port", "/dev/null", "status"});
    EXPECT_EQ(run->Wait(milliseconds(5000)), 2);
    EXPECT_NE(run->Err().find("No Antenna Table File Found!"), std::string::npos) << run->Err();
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
    EXPECT_EQ(Field(run->LastLine(), "statusLine1"), "READY");
    EXPECT_EQ(Field(run->LastLine(), "softwareVersion"), "01.23");
    EXPECT_EQ(Field(run->LastLine(), "firmwareFileVersion"), "01.24");
    EXPECT_TRUE(Says(run->Err(), "holds version 01.24")) << run->Err();
    EXPECT_TRUE(Says(run->Err(), "runs version 01.23")) << run->Err();
    EXPECT_TRUE(Says(run->Err(), "kvqctl update-firmware")) << run->Err();
    EXPECT_FALSE(Says(run->Out(), "UPDATING SOFTWARE"));
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
    EXPECT_EQ(Field(run->LastLine(), "statusLine1"), "READY");
    EXPECT_EQ(Field(run->LastLine(), "softwareVersion"), "01.24");
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
         [&] { std::ofstream(path, std::ios::binary) << std::string("\x01\x00" "9", 3); },
         "only 3 bytes"},
        {"empty version text",
         [&] { std::ofstream(path, std::ios::binary) << std::string("\x01", 1) << std::string(60, '\0'); },
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
    EXPECT_EQ(Field(run->LastLine(), "statusLine1"), "UPDATE NOT TAKEN");
    EXPECT_EQ(Field(run->LastLine(), "statusLine2"), "RUNS 01.23, NOT 01.24");
    EXPECT_TRUE(Says(run->Err(), "did not take the update")) << run->Err();
    EXPECT_TRUE(Says(run->Err(), "version 01.23, not on version 01.24")) << run->Err();
    const auto state = application->State();
    EXPECT_EQ(state.restarts, 1u) << "one download, one restart";
    EXPECT_TRUE(state.lastImage.has_value());
    EXPECT_EQ(state.softwareVersion, "01.23");
}
