// How kvqctl ends when it cannot do what it was asked: bad input, a silent
// actuator, a stop signal, and --help and --version; kvqctl running in the
// test's process.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "InProcessKvqctl.h"
#include "KvqctlOutputs.h"
#include "support/WaitUntil.h"

using namespace kvq::sim;
using namespace kvq::testing;

namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

using KvqctlEndings = KvqctlInProcess;

}  // namespace

TEST_F(KvqctlEndings, WithoutAnAntennaTableItSaysSo) {
    fs::remove(directory / "KVQ_SAMPLE.ascu");
    auto run = Run({"--port", "/dev/null", "status"});
    EXPECT_EQ(run->Wait(milliseconds(5000)), 2);
    EXPECT_NE(run->Err().find("No Antenna Table File Found!"), std::string::npos) << run->Err();
}

// A Variant the tool does not serve is named with its file, key and value and
// the accepted values; nothing reaches the actuator.
TEST_F(KvqctlEndings, AVariantItDoesNotServeIsNamedAndNothingIsSent) {
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
TEST_F(KvqctlEndings, EveryJsonEndingIsAFinalObject) {
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

TEST_F(KvqctlEndings, HelpAndVersionSayItAndEndWell) {
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

// A time-out says what was tried and what to check, the same sentence on the
// standard error and in the final object.
TEST_F(KvqctlEndings, ASilentActuatorTimesOutWithWhatToCheck) {
    SimOptions options;
    options.silent = true;
    StartSimulator("AP1721-65-18", options, nullptr, Line::PseudoTerminal);
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

// A stop signal ends any wait at once, with the port closed, and says which
// one came, on the standard error and in the final object.
TEST_F(KvqctlEndings, AStopSignalEndsTheWaitAndSaysWhichCame) {
    struct Case {
        const char* what;
        bool silent;
        std::vector<std::string> command;
        std::function<bool(const InProcessKvqctl&)> underWay;
        int signal;
        const char* says;
    } cases[] = {
        {"status while the actuator is looked for",
         true,
         {"status"},
         [](const InProcessKvqctl& run) { return Says(run.Err(), "LOOKING FOR DEVICE"); },
         SIGINT,
         "stopped by Ctrl-C (SIGINT); the port is closed on the way out"},
        {"monitor at READY",
         false,
         {"monitor"},
         [](const InProcessKvqctl& run) { return Says(run.Err(), "READY"); },
         SIGTERM,
         "stopped by a signal; the port is closed on the way out"},
        {"set-tilt during the move",
         false,
         {"set-tilt", "8.0"},
         [this](const InProcessKvqctl&) { return application->State().moving; },
         SIGINT,
         "stopped by Ctrl-C (SIGINT); the port is closed on the way out"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimOptions options;
        options.silent = c.silent;
        StartSimulator("AP1721-65-18", options);
        std::vector<std::string> args = {"--port", sim->DevicePath(), "--json"};
        args.insert(args.end(), c.command.begin(), c.command.end());
        auto run = Run(args);
        ASSERT_TRUE(WaitUntil([&] { return c.underWay(*run); }, milliseconds(20000)))
            << run->Out() << run->Err();
        run->Signal(c.signal);
        ASSERT_EQ(run->Wait(milliseconds(2000)), 128 + c.signal) << run->Err();
        const json last = FinalObject(run->Out(), 128 + c.signal);
        EXPECT_EQ(last["error"], c.says) << last;
        EXPECT_TRUE(Says(run->Err(), std::string("kvqctl: ") + c.says)) << run->Err();
        EXPECT_FALSE(memoryLine->Far().ToolOpen()) << "the port was left open";
    }
}
