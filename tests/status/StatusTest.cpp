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

DeviceSnapshot Record(ActuatorState state, std::int32_t setupPending, bool checkComplete,
                      const char* problem) {
    DeviceSnapshot record;
    record.state = state;
    record.setupPending = setupPending;
    record.checkComplete = checkComplete;
    record.problemText = problem;
    return record;
}

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

TEST(StatusLines, ChoosesTheLinesByTheFirstRowThatApplies) {
    struct Case {
        ActuatorState state;
        std::int32_t setupPending;
        bool checkComplete;
        const char* problem;
        bool portOpen;
        Lines lines;
    } cases[] = {
        {Searching, 0, false, "", false, {"SERIAL PORT NOT OPEN?", "TORVIN E-VLX400 ?"}},
        {Searching, 0, false, "", true, {"LOOKING FOR DEVICE", "TORVIN E-VLX400 ?"}},
        {Failed, 0, false, "", true, {"REMOVE DEVICE", "FROM POSITION 1"}},
        {Finished, 0, false, "", true, {"LABEL AND SHIP VLX", "FROM POSITION 1"}},
        {Updating, 0, false, "", true, {"UPDATING SOFTWARE", "PLEASE WAIT"}},
        {Calibrating, 1, false, "", true, {"SETTING UP", ""}},
        {CalibratingAisg, 1, false, "", true, {"SETTING UP", ""}},
        {Searching, 1, false, "", true, {"SETTING UP", ""}},
        {ConvertingToEricsson, 0, false, "", true, {"CONVERTING TO", "ERICSSON MODE"}},
        {Testing, 0, false, "SET TILT FAILED", true, {"MOVING", ""}},
        {ScanSerial, 0, false, "", true, {"CHECKING", ""}},
        {ScanSerial, 0, true, "", true, {"READY", ""}},
        {ScanSerial, 0, true, "SET TILT FAILED", true, {"POSSIBLE PROBLEM", "SET TILT FAILED"}},
        {Reading, 0, false, "", true, {"COLLECTING", "DATA"}},
        {ConversionFinished, 0, false, "", true, {"IDLE", " "}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CTestEngine::LinesFor(Record(c.state, c.setupPending, c.checkComplete, c.problem),
                                        c.portOpen),
                  c.lines)
            << "state " << static_cast<int>(c.state);
    }
    // A download the actuator did not take names both versions; every other
    // failure keeps its one pair of lines.
    DeviceSnapshot notTaken = Record(Failed, 0, false, "");
    notTaken.failCode = FailCode::UpdateNotTaken;
    notTaken.softwareVersion = "01.23";
    notTaken.firmware.downloadedVersion = "01.24";
    EXPECT_EQ(CTestEngine::LinesFor(notTaken, true), Lines("UPDATE NOT TAKEN", "RUNS 01.23, NOT 01.24"));
    notTaken.failCode = FailCode::Download;
    EXPECT_EQ(CTestEngine::LinesFor(notTaken, true), Lines("REMOVE DEVICE", "FROM POSITION 1"));
}

// The engine writes the lines when they change, forgets the serial number of
// an absent or ended device, and says when it must look again by itself: the
// port re-check while no device is there, the reply deadline while one is
// awaited, else never.
TEST_F(Engine, UpdatesWriteChangedLinesAndNameTheNextWake) {
    struct Case {
        const char* what;
        ActuatorState state;
        Lines lines;
        bool forgets;
        std::optional<std::uint32_t> wake;
    } cases[] = {
        {"no device, port closed",
         Searching,
         {"SERIAL PORT NOT OPEN?", "TORVIN E-VLX400 ?"},
         true,
         500},
        {"failed", Failed, {"REMOVE DEVICE", "FROM POSITION 1"}, true, std::nullopt},
        {"finished", Finished, {"LABEL AND SHIP VLX", "FROM POSITION 1"}, true, std::nullopt},
        {"reading", Reading, {"COLLECTING", "DATA"}, false, 60001},
        {"idle", ConversionFinished, {"IDLE", " "}, false, 60001},
        {"ready", ScanSerial, {"CHECKING", ""}, false, std::nullopt},
    };
    for (const auto& c : cases) {
        device.SetState(c.state);
        device.ArmReplyTimer(60000);
        context.TakeStatusChanged();
        const std::string serialBefore = device.Snapshot().serialNumber;
        EXPECT_EQ(engine.Update(), c.wake) << c.what;
        EXPECT_EQ(Shown(), c.lines) << c.what;
        EXPECT_EQ(context.TakeStatusChanged(), 1) << c.what;
        EXPECT_EQ(device.Snapshot().serialNumber, c.forgets ? "(no serial num)" : serialBefore)
            << c.what;
        engine.Update();
        EXPECT_EQ(context.TakeStatusChanged(), 0)
            << c.what << ": unchanged lines are not rewritten";
    }
    // The port opens while no device is there: the next update says so.
    device.SetState(Searching);
    engine.Update();
    portOpen = true;
    engine.Update();
    EXPECT_EQ(Shown(), (Lines{"LOOKING FOR DEVICE", "TORVIN E-VLX400 ?"}));
}

// The adapter pulled out: said in words whatever the record still holds, and
// looked at again while it lasts; once it is back, the usual lines.
TEST_F(Engine, AnAdapterPulledOutIsSaidUntilItIsBack) {
    const Lines removed{"ADAPTER REMOVED?", "PLUG IT IN AGAIN"};
    for (const ActuatorState state : {ScanSerial, Searching, Updating, Failed}) {
        EXPECT_EQ(CTestEngine::LinesFor(Record(state, 0, true, ""), false, true), removed)
            << "state " << static_cast<int>(state);
    }
    device.SetState(ScanSerial);
    portOpen = true;
    engine.Update();
    context.SetPortLost(1);
    portOpen = false;
    EXPECT_EQ(engine.Update(), 500u) << "looked at again while the adapter is away";
    EXPECT_EQ(Shown(), removed);
    context.SetPortLost(0);
    portOpen = true;
    device.SetState(Searching);
    engine.Update();
    EXPECT_EQ(Shown(), (Lines{"LOOKING FOR DEVICE", "TORVIN E-VLX400 ?"}));
}

TEST(Watchdog, FailsOnlyWatchedStatesAndOnlyAfterTheDeadline) {
    ManualClock clock{500};
    ScopedClock scoped{clock};
    for (std::int32_t code = 0; code <= 16; ++code) {
        const auto state = static_cast<ActuatorState>(code);
        CMainDataStore context;
        CVLX400E device;
        CTestEngine engine{context, device, [] { return true; }, nullptr};
        device.SetState(state);
        device.SetStep(4);
        device.ArmReplyTimer(100);
        const bool watched = !(state == Searching || state == Finished || state == Inactive ||
                               state == ScanSerial || state == Failed || code == 11);
        EXPECT_EQ(device.MsUntilReplyOverdue().has_value(), watched) << code;
        clock.Advance(100);
        engine.Update();
        EXPECT_EQ(device.Snapshot().state, state)
            << "failed at the deadline itself, state " << code;
        clock.Advance(1);
        engine.Update();
        const DeviceSnapshot after = device.Snapshot();
        EXPECT_EQ(after.state == Failed && after.failCode == FailCode::NoReply, watched) << code;
        if (watched) {
            EXPECT_EQ(after.step, 4) << "the watchdog leaves the step";
            EXPECT_EQ(context.GetStatusLine1(), "REMOVE DEVICE") << code;
        }
    }
}

TEST(StatusTexts, StateAndFailTexts) {
    struct Case {
        std::int32_t state;
        std::int32_t failCode;
        const char* text;
    } cases[] = {
        {0, 0, "SEARCHING"},   {1, 0, "READING"},
        {2, 0, "UPDATING"},    {3, 0, "RESETTING"},
        {4, 0, "CALIBRATING"}, {5, 0, "TESTING"},
        {6, 0, "FINISHED"},    {7, 0, "INACTIVE"},
        {8, 0, "RECORDING"},   {9, 0, "SCAN S/N"},
        {10, 14, "FAIL (C)"},  {10, 16, "FAIL (E)"},
        {10, 18, "FAIL (DL)"}, {10, 22, "CYCLE TEST FAILED!"},
        {10, 9, "FAIL (?)"},   {10, 23, "FAIL (?)"},
        {10, 24, "UPDATE NOT TAKEN"}, {10, 25, "FAIL (?)"},
        {10, -1, "FAIL (?)"},  {11, 0, "(unknown)"},
        {12, 0, "(unknown)"},  {13, 0, "CALIBRATING AISG"},
        {14, 0, "(unknown)"},  {15, 0, "FINISHED"},
        {16, 0, "(unknown)"},  {-1, 0, "(unknown)"},
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
