// kvqctl as a technician's script runs it: the real executable against the
// simulated actuator on a pseudo-terminal, in a directory with the sample
// antenna table. What the program itself adds to its library (its streams,
// real stop signals, the system's ports) is checked here; the commands'
// behaviour is checked in-process (KvqctlCommands, KvqctlFirmware,
// KvqctlEndings, KvqctlPort).

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KvqctlOutputs.h"
#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"
#include "support/ChildProcess.h"

using namespace kvq::sim;
using namespace kvq::testing;

namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

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
    void StartSimulator(const std::string& modelKey) {
        settings.modelKey = modelKey;
        settings.tiltSpeed = 50;  // 5 degrees a second keeps the moves short
        application = std::make_shared<Vlx400Application>(settings);
        sim = std::make_unique<SimulatedActuator>(SimOptions{}, application);
        ASSERT_TRUE(sim->Start()) << sim->Error();
    }
    std::unique_ptr<ChildProcess> Run(std::vector<std::string> args,
                                      const std::vector<std::string>& environment = {}) {
        return std::make_unique<ChildProcess>(KVQCTL_PATH, args, directory, "kvqctl", environment);
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

// For a person: the status lines and the report on the standard output, and
// nothing of them on the standard error.
TEST_F(Kvqctl, StatusInTextReportsOnTheStandardOutput) {
    StartSimulator("AP1721-65-18");
    auto run = Run({"--port", sim->DevicePath(), "status"});
    ASSERT_EQ(run->Wait(milliseconds(30000)), 0) << run->Out() << run->Err();
    const std::string out = run->Out();
    EXPECT_TRUE(Says(out, "LOOKING FOR DEVICE")) << out;
    EXPECT_TRUE(Says(out, "\nREADY ")) << out;
    EXPECT_TRUE(Says(out, "Serial number:     XXXT0004711\n")) << out;
    EXPECT_TRUE(Says(out, "Current tilt:      2.0 degrees\n")) << out;
    EXPECT_FALSE(Says(out, "{")) << "JSON without --json: " << out;
    EXPECT_FALSE(Says(run->Err(), "READY")) << run->Err();
    EXPECT_FALSE(Says(run->Err(), "Serial number")) << run->Err();
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

TEST_F(Kvqctl, APortThatCannotBeOpenedIsSaidInOneSentence) {
    // A path to nothing, and a USB adapter that is not plugged in.
    for (const char* port : {"/dev/kvq-no-such-port", "usb:0403:f00d:KVQ-NONE"}) {
        auto run = Run({"--port", port, "status"});
        EXPECT_EQ(run->Wait(milliseconds(5000)), 4) << port;
        EXPECT_NE(run->Err().find("does not exist"), std::string::npos) << run->Err();
        EXPECT_NE(run->Err().find(port), std::string::npos) << run->Err();
    }
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
