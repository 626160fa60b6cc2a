// The status engine's lines and watchdog, and the texts of the state codes.

#include <gtest/gtest.h>

#include "actuator/Controls.h"
#include "actuator/VLX400E.h"
#include "core/MainDataStore.h"
#include "status/StatusTexts.h"
#include "status/TestEngine.h"
#include "support/ManualClock.h"

using namespace kvq::core;
using namespace kvq::actuator;
using namespace kvq::status;
using namespace kvq::testing;

namespace {

using Lines = std::pair<std::string, std::string>;
using enum ActuatorState;

// A record in a state; complete: its check is over and its tilt is back.
DeviceSnapshot Record(ActuatorState state, Operation continuing, bool complete,
                      const char* problem) {
    DeviceSnapshot record;
    record.state = state;
    record.continuing = continuing;
    if (complete) record.step = CheckStep::Complete;
    record.problemText = problem;
    return record;
}
constexpr Operation None = Operation::None;

class Engine : public ::testing::Test {
protected:
    Lines Shown() { return {context.GetStatusLine1(), context.GetStatusLine2()}; }

    ManualClock clock{500};
    ScopedClock scoped{clock};
    CMainDataStore context;
    bool portOpen = false;
    CVLX400E device;
    CTestEngine engine{context, device, [this] { return portOpen; }, nullptr};
};

}  // namespace

// The lines follow what the actuator is doing; an operation that goes on
// across the actuator's restart keeps its lines until it is over.
TEST(StatusLines, FollowTheActivity) {
    using Op = Operation;
    struct Case {
        ActuatorState state;
        Operation continuing;
        bool complete;
        const char* problem;
        bool portOpen;
        Lines lines;
    } cases[] = {
        {Looking, None, false, "", false, {"SERIAL PORT NOT OPEN?", "TORVIN E-VLX400 ?"}},
        {Looking, None, false, "", true, {"LOOKING FOR DEVICE", "TORVIN E-VLX400 ?"}},
        {Failed, None, false, "", true, {"REMOVE DEVICE", "FROM POSITION 1"}},
        {Updating, None, false, "", true, {"UPDATING SOFTWARE", "PLEASE WAIT"}},
        {Looking, Op::Download, false, "", true, {"UPDATING SOFTWARE", "PLEASE WAIT"}},
        {ReadingIdentity, Op::Download, false, "", true, {"UPDATING SOFTWARE", "PLEASE WAIT"}},
        {ChangingModel, None, false, "", true, {"SETTING UP", ""}},
        {ChangingModelAisg, None, false, "", true, {"SETTING UP", ""}},
        {Looking, Op::ModelChange, false, "", true, {"SETTING UP", ""}},
        {Checking, Op::ModelChange, false, "", true, {"SETTING UP", ""}},
        {Converting, None, false, "", true, {"CONVERTING TO", "ERICSSON MODE"}},
        {Converted, Op::Conversion, false, "", true, {"CONVERTING TO", "ERICSSON MODE"}},
        {Moving, None, false, "SET TILT FAILED", true, {"MOVING", ""}},
        {Checking, None, false, "", true, {"CHECKING", ""}},
        {Checking, None, true, "", true, {"READY", ""}},
        {Checking, None, true, "SET TILT FAILED", true, {"POSSIBLE PROBLEM", "SET TILT FAILED"}},
        {ReadingIdentity, None, false, "", true, {"COLLECTING", "DATA"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CTestEngine::LinesFor(Record(c.state, c.continuing, c.complete, c.problem),
                                        c.portOpen),
                  c.lines)
            << "state " << static_cast<int>(c.state) << ", continuing "
            << static_cast<int>(c.continuing);
    }
    // A download the actuator did not take names both versions while it is
    // ready, until another download starts.
    DeviceSnapshot notTaken = Record(Checking, None, true, "");
    notTaken.firmware.updateNotTaken = true;
    notTaken.softwareVersion = "01.23";
    notTaken.firmware.downloadedVersion = "01.24";
    EXPECT_EQ(CTestEngine::LinesFor(notTaken, true), Lines("UPDATE NOT TAKEN", "RUNS 01.23, NOT 01.24"));
}

// The engine writes the lines when they change and says when it must look
// again by itself: the port re-check while no device is there, the reply
// deadline while one is awaited, else never. The record's identity is the
// record's: the engine writes no placeholder into it.
TEST_F(Engine, UpdatesWriteChangedLinesAndNameTheNextWake) {
    struct Case {
        const char* what;
        ActuatorState state;
        Lines lines;
        std::optional<std::uint32_t> wake;
    } cases[] = {
        {"no device, port closed", Looking, {"SERIAL PORT NOT OPEN?", "TORVIN E-VLX400 ?"}, 500},
        {"failed", Failed, {"REMOVE DEVICE", "FROM POSITION 1"}, std::nullopt},
        {"reading", ReadingIdentity, {"COLLECTING", "DATA"}, 60001},
        {"checking", Checking, {"CHECKING", ""}, std::nullopt},
    };
    for (const auto& c : cases) {
        device.SetState(c.state);
        device.ArmReplyTimer(60000);
        context.TakeStatusChanged();
        const std::string serialBefore = device.Snapshot().serialNumber;
        EXPECT_EQ(engine.Update(), c.wake) << c.what;
        EXPECT_EQ(Shown(), c.lines) << c.what;
        EXPECT_EQ(context.TakeStatusChanged(), 1) << c.what;
        EXPECT_EQ(device.Snapshot().serialNumber, serialBefore) << c.what;
        engine.Update();
        EXPECT_EQ(context.TakeStatusChanged(), 0)
            << c.what << ": unchanged lines are not rewritten";
    }
    // The port opens while no device is there: the next update says so.
    device.SetState(Looking);
    engine.Update();
    portOpen = true;
    engine.Update();
    EXPECT_EQ(Shown(), (Lines{"LOOKING FOR DEVICE", "TORVIN E-VLX400 ?"}));
}

// The adapter pulled out: said in words whatever the record still holds, and
// looked at again while it lasts; once it is back, the usual lines.
TEST_F(Engine, AnAdapterPulledOutIsSaidUntilItIsBack) {
    const Lines removed{"ADAPTER REMOVED?", "PLUG IT IN AGAIN"};
    for (const ActuatorState state : {Checking, Looking, Updating, Failed}) {
        EXPECT_EQ(CTestEngine::LinesFor(Record(state, None, true, ""), false, true), removed)
            << "state " << static_cast<int>(state);
    }
    device.SetState(Checking);
    portOpen = true;
    engine.Update();
    context.SetPortLost(1);
    portOpen = false;
    EXPECT_EQ(engine.Update(), 500u) << "looked at again while the adapter is away";
    EXPECT_EQ(Shown(), removed);
    context.SetPortLost(0);
    portOpen = true;
    device.SetState(Looking);
    engine.Update();
    EXPECT_EQ(Shown(), (Lines{"LOOKING FOR DEVICE", "TORVIN E-VLX400 ?"}));
}

TEST(Watchdog, FailsOnlyWatchedStatesAndOnlyAfterTheDeadline) {
    ManualClock clock{500};
    ScopedClock scoped{clock};
    struct Case {
        ActuatorState state;
        OperationStep step;
        bool watched;
    } cases[] = {
        {Looking, NoStep{}, false},
        {ReadingIdentity, ReadingStep::AwaitIdentity, true},
        {Updating, DownloadStep::AwaitBlock, true},
        {ChangingModel, ModelChangeStep::AwaitWrite, true},
        {Moving, MoveStep::AwaitMoveEnd, true},
        {Checking, CheckStep::AwaitModel, false},
        {Failed, NoStep{}, false},
        {ChangingModelAisg, AisgSetupStep::AwaitPrepare, true},
        {Converting, ConversionStep::AwaitPrepare, true},
        {Converted, NoStep{}, true},
    };
    for (const auto& c : cases) {
        const auto code = static_cast<int>(c.state);
        CMainDataStore context;
        CVLX400E device;
        CTestEngine engine{context, device, [] { return true; }, nullptr};
        device.SetState(c.state);
        std::visit([&](auto step) { device.SetStep(step); }, c.step);
        device.ArmReplyTimer(100);
        EXPECT_EQ(device.MsUntilReplyOverdue().has_value(), c.watched) << code;
        clock.Advance(100);
        engine.Update();
        EXPECT_EQ(device.Snapshot().state, c.state)
            << "failed at the deadline itself, state " << code;
        clock.Advance(1);
        engine.Update();
        const DeviceSnapshot after = device.Snapshot();
        EXPECT_EQ(after.state == Failed && after.failCode == FailCode::NoReply, c.watched) << code;
        if (c.watched) {
            EXPECT_EQ(context.GetStatusLine1(), "REMOVE DEVICE") << code;
            EXPECT_EQ(ActivityOf(after), Activity::Failed) << code;
        }
    }
}

// The texts of the state codes: the ones the record enters, and for Failed
// the text of each failure code it sets.
TEST(StatusTexts, StateAndFailTexts) {
    struct Case {
        std::int32_t state;
        std::int32_t failCode;
        const char* text;
    } cases[] = {
        {0, 0, "SEARCHING"},          {1, 0, "READING"},
        {2, 0, "UPDATING"},           {4, 0, "CALIBRATING"},
        {5, 0, "TESTING"},            {9, 0, "SCAN S/N"},
        {10, 14, "FAIL (C)"},         {10, 16, "FAIL (E)"},
        {10, 18, "FAIL (DL)"},        {10, 24, "UPDATE NOT TAKEN"},
        {10, 25, "UNEXPECTED REPLY"}, {10, 26, "NOT CONVERTED"},
        {10, 0, "FAIL (?)"},          {10, 9, "FAIL (?)"},
        {10, -1, "FAIL (?)"},         {13, 0, "CALIBRATING AISG"},
        {14, 0, "CONVERTING"},        {15, 0, "FINISHED"},
        {3, 0, "(unknown)"},          {-1, 0, "(unknown)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(StateText(c.state, c.failCode), c.text) << c.state;
}

TEST(ManufacturingPage, ResetMarksAndCounts) {
    CManufacturingDataPage page;
    EXPECT_TRUE(page.IsValid());
    std::array<std::uint8_t, 32> bytes{};
    bytes.fill(0xAB);
    bytes[4] = 0x50;  // the mark with its bytes the wrong way round
    bytes[5] = 0xC2;
    bytes[6] = 0xB4;
    bytes[7] = 0x85;
    page.StoreDataPage(0, bytes);
    EXPECT_FALSE(page.IsValid());
    page.StoreDataPage(4, bytes);  // no such page: nothing changes
    EXPECT_EQ(page.Image()[100], 0);
    bytes[4] = 0x85;
    bytes[5] = 0xB4;
    bytes[6] = 0xC2;
    bytes[7] = 0x50;
    page.StoreDataPage(0, bytes);
    EXPECT_TRUE(page.IsValid());
    page.ResetPage();
    EXPECT_EQ(page.Image()[0], 0xAB) << "bytes outside the known fields stay";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(page.Image().data() + 8)), "None");
}
