// kvqctl's commands carried out against the simulated actuator on the
// in-memory line, kvqctl running in the test's process.

// GCC 12 warns falsely inside <regex>'s automaton when optimising with the
// sanitizers (an std::function "may be used uninitialized"); the warning is in
// the library's code, not this file's.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "InProcessKvqctl.h"
#include "KvqctlOutputs.h"

using namespace kvq::sim;
using namespace kvq::testing;

namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

using KvqctlCommands = KvqctlInProcess;

}  // namespace

// A model key the table does not know: the check ends with the problem its own
// read-back found, and the final report is one picture of the record, never
// READY beside a problem text. Repeated, as the read-back and the report race.
TEST_F(KvqctlCommands, AnUnknownModelIsReportedAsOneConsistentProblem) {
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

TEST_F(KvqctlCommands, SetTiltMovesTheActuatorIncludingNegativeTilts) {
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

// monitor's lines for a person: each with the local date and time and the
// tilt, which is "-" until the actuator has told it.
TEST_F(KvqctlCommands, MonitorLinesCarryATimeStampAndTheTilt) {
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

TEST_F(KvqctlCommands, RefusesWhatItCannotDoWithoutSendingIt) {
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

TEST_F(KvqctlCommands, ChangeModelWritesTheModelAndItsConfiguration) {
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
TEST_F(KvqctlCommands, ChangeModelTakesAKeyOrANameInAnyCaseAndRefusesTheRestUnsent) {
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

// The main operations behind an adapter that reads back every octet the tool
// sends, and behind one that does not: the same outcome either way.
class KvqctlBehindAdapter : public KvqctlInProcess, public ::testing::WithParamInterface<bool> {};

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
