// Firmware download, conversion and a refused move, end to end: the tool's
// workers in this process against the simulated actuator.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimulatedActuator.h"
#include "support/ToolUnderTest.h"
#include "sim/Vlx400Application.h"

using namespace kvq::serial;
using namespace kvq::hdlc;
using namespace kvq::actuator;
using namespace kvq::sim;
using namespace kvq::testing;

using namespace kvq::testing::reliability;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

class Operations : public ::testing::Test {
protected:
    void SetUp() override {
        directory = std::make_unique<WorkingDirectory>(
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        settings.serialNumber = "XXXT0000815";
        settings.softwareVersion = "01.23";
        settings.modelKey = "AP1721-65-18";
        settings.tilt = 20;
    }
    void TearDown() override {
        if (tool) {
            EXPECT_TRUE(tool->Stop()) << "a worker did not end within the close allowance";
        }
        tool.reset();
        sim.reset();
        directory.reset();
    }
    void Start(SimOptions options = {}) {
        application = std::make_shared<Vlx400Application>(settings);
        sim = std::make_unique<SimulatedActuator>(options, application);
        ASSERT_TRUE(sim->Start()) << sim->Error();
        tool = std::make_unique<InProcessTool>(sim->DevicePath());
        ASSERT_TRUE(tool->Prepared());
    }
    // Whether this process holds the firmware file open, seen from outside
    // the actuator thread's own bookkeeping.
    static bool FirmwareFileHeld() {
        namespace fs = std::filesystem;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
            const auto target = fs::read_symlink(entry.path(), error);
            if (!error && target.filename() == "vlx400fw.bin") return true;
        }
        return false;
    }
    std::vector<std::uint8_t> FirmwareBytes() const {
        std::ifstream file(directory->Path() / "vlx400fw.bin", std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    std::unique_ptr<WorkingDirectory> directory;
    Vlx400Settings settings;
    std::shared_ptr<Vlx400Application> application;
    std::unique_ptr<SimulatedActuator> sim;
    std::unique_ptr<InProcessTool> tool;
};

}  // namespace

TEST_F(Operations, FirmwareIsDownloadedWholeExactlyWhenTheVersionsDiffer) {
    struct Case {
        const char* what;
        const char* fileVersion;
        std::size_t bodySize;
        bool downloaded;
    } cases[] = {
        {"another version: the whole file, header included", "02.00", 1000, true},
        {"one block and a byte", "02.01", 47, true},
        {"the actuator's own version: nothing sent", "01.23", 1000, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        directory->WriteFirmware(c.fileVersion, c.bodySize);
        Start();
        ASSERT_EQ(tool->WaitUntilReady(seconds(30)), WaitEnd::Ready) << tool->Line1();
        const Vlx400State state = application->State();
        if (c.downloaded) {
            ASSERT_TRUE(state.lastImage.has_value());
            EXPECT_EQ(*state.lastImage, FirmwareBytes());
            EXPECT_EQ(state.restarts, 1u);
            EXPECT_EQ(state.softwareVersion, c.fileVersion);
            EXPECT_EQ(tool->Snapshot().softwareVersion, c.fileVersion);
        } else {
            EXPECT_FALSE(state.lastImage.has_value());
            EXPECT_FALSE(state.imageReceiving.has_value());
            EXPECT_EQ(state.restarts, 0u);
        }
        EXPECT_FALSE(FirmwareFileHeld());
        EXPECT_TRUE(tool->Stop());
        tool.reset();
        sim.reset();
    }
}

// A download that stops in the middle: an actuator that falls silent is lost
// (ten unanswered polls) and forgotten; one that still answers polls but takes
// no more blocks is failed by the reply watchdog. Either way the file is let
// go and nothing counts as done. The lost one is found again and the download
// starts over; the failed one waits for the user, and a move then ends ready
// with the version the actuator really has.
TEST_F(Operations, ADownloadCutShortIsNeverTakenForDoneAndStartsOver) {
    struct Case {
        const char* what;
        bool silent;  // else the commands are lost and polls still answered
        ActuatorState endState;
        FailCode failCode;
        seconds within;
    } cases[] = {
        {"silent: lost and forgotten", true, ActuatorState::Looking, FailCode::None, seconds(4)},
        {"blocks lost: the watchdog fails it", false, ActuatorState::Failed, FailCode::NoReply,
         seconds(12)},
    };
    ASSERT_FALSE(FirmwareFileHeld());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        directory->WriteFirmware("02.00", 20000);
        Start();
        ASSERT_TRUE(tool->WaitFor(
            [&] {
                const auto receiving = application->State().imageReceiving;
                return receiving && receiving->size() >= 560;
            },
            seconds(20)));
        if (c.silent) {
            sim->SetSilent(true);
        } else {
            sim->DropNextInformationFrames(1000000);
        }
        const auto cut = SteadyClock::now();
        ASSERT_TRUE(
            tool->WaitFor([&] { return tool->Snapshot().state == c.endState; }, seconds(20)));
        EXPECT_LT(SteadyClock::now() - cut, c.within);
        EXPECT_EQ(tool->Snapshot().failCode, c.failCode);
        EXPECT_FALSE(tool->Snapshot().SetupPending());
        EXPECT_EQ(tool->Snapshot().outcome.operation, Operation::Download);
        EXPECT_NE(tool->Snapshot().outcome.ending, Ending::Done);
        EXPECT_TRUE(tool->WaitFor([] { return !FirmwareFileHeld(); }, milliseconds(500)))
            << "the firmware file is still open";
        EXPECT_FALSE(application->State().lastImage.has_value()) << "the download never ended";

        sim->SetSilent(false);
        sim->DropNextInformationFrames(0);
        if (!c.silent) {
            tool->RequestTilt(20);
        }
        ASSERT_EQ(tool->WaitUntilReady(seconds(60), true), WaitEnd::Ready) << tool->Line1();
        if (c.silent) {
            ASSERT_TRUE(application->State().lastImage.has_value());
            EXPECT_EQ(*application->State().lastImage, FirmwareBytes());
        } else {
            EXPECT_FALSE(application->State().lastImage.has_value());
        }
        EXPECT_EQ(tool->Snapshot().softwareVersion, application->State().softwareVersion);
        EXPECT_FALSE(FirmwareFileHeld());
        EXPECT_TRUE(tool->Stop());
        tool.reset();
        sim.reset();
    }
}

TEST_F(Operations, AnActuatorInAisgModeIsConvertedAndReady) {
    SimOptions options;
    options.mode = SimMode::Aisg;
    Start(options);
    ASSERT_EQ(tool->WaitUntilReady(seconds(40), true), WaitEnd::Ready) << tool->Line1();
    EXPECT_EQ(sim->LinkState().mode, SimMode::Ericsson);
    EXPECT_GE(application->State().restarts, 1u);
    EXPECT_EQ(tool->Snapshot().serialNumber, settings.serialNumber);
}

TEST_F(Operations, ARefusedMoveIsReportedNotTakenForDone) {
    settings.refused.insert(Vlx400Command::SetTilt);
    Start();
    ASSERT_EQ(tool->WaitUntilReady(seconds(30)), WaitEnd::Ready) << tool->Line1();
    const auto trace = tool->SetTilt(65, seconds(20));
    EXPECT_NE(trace.outcome, WaitEnd::TimedOut);
    EXPECT_EQ(tool->Line1(), "POSSIBLE PROBLEM");
    EXPECT_EQ(tool->Context().GetStatusLine2(), "SET TILT FAILED");
    EXPECT_EQ(application->State().currentTilt, 20) << "the actuator did not move";
    EXPECT_EQ(tool->Snapshot().currentTilt, 20);

    // Allowed again, the next move goes through.
    application->Refuse(Vlx400Command::SetTilt, false);
    const auto again = tool->SetTilt(30, seconds(20));
    EXPECT_EQ(again.outcome, WaitEnd::Ready);
    EXPECT_EQ(application->State().currentTilt, 30);
    EXPECT_EQ(tool->Snapshot().currentTilt, 30);
}
