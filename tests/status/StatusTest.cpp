// The status engine's lines and watchdog, and the texts of the state codes.

#include <gtest/gtest.h>

#include "actuator/Actuator.h"
#include "core/Controls.h"
#include "hdlc/LinkThread.h"
#include "settings/KVQSystem.h"
#include "core/MainDataStore.h"
#include "support/ManualClock.h"
#include "serial/SerialLinePosix.h"
#include "status/StatusTexts.h"
#include "status/TestEngine.h"

namespace {

using Lines = std::pair<std::string, std::string>;

class Engine : public ::testing::Test {
protected:
    void SetUp() override {
        settings.Variant = "E-VLX400";
        ASSERT_TRUE(context.CreateActuator(settings));
        device = context.GetDevice(1);
    }
    std::pair<std::string, std::string> Shown() {
        return {context.GetStatusLine1(), context.GetStatusLine2()};
    }

    ManualClock clock{500};
    ScopedClock scoped{clock};
    CMainDataStore context;
    CKVQSystem settings;
    SerialLinePosix port;
    CLinkThread link;
    CTestEngine engine{context, port, link};
    CActuator* device = nullptr;
};

}  // namespace

TEST_F(Engine, ChoosesTheLinesByTheFirstRowThatApplies) {
    struct Case {
        std::int32_t state;
        std::int32_t setupPending;
        std::int32_t step;
        const char* problem;
        Lines lines;
    } cases[] = {
        {Updating, 0, 0, "", {"UPDATING SOFTWARE", "PLEASE WAIT"}},
        {Calibrating, 1, 0, "", {"SETTING UP", ""}},
        {CalibratingAisg, 1, 0, "", {"SETTING UP", ""}},
        {Searching, 1, 0, "", {"SETTING UP", ""}},
        {ConvertingToEricsson, 0, 0, "", {"CONVERTING TO", "ERICSSON MODE"}},
        {Testing, 0, 3, "SET TILT FAILED", {"MOVING", ""}},
        {ScanSerial, 0, 7, "", {"CHECKING", ""}},
        {ScanSerial, 0, 8, "", {"READY", ""}},
        {ScanSerial, 0, 8, "SET TILT FAILED", {"POSSIBLE PROBLEM", "SET TILT FAILED"}},
        {Reading, 0, 0, "", {"COLLECTING", "DATA"}},
        {ConversionFinished, 0, 0, "", {"IDLE", " "}},
    };
    for (const auto& c : cases) {
        device->state.store(c.state);
        device->setupPending.store(c.setupPending);
        device->step.store(c.step);
        device->problemText.Set(c.problem);
        EXPECT_EQ(CTestEngine::LinesFor(*device), c.lines) << "state " << c.state;
    }
}

TEST_F(Engine, PassesWriteTheLinesWithTheirPauses) {
    struct Case {
        const char* what;
        std::int32_t state;
        std::int32_t setupPending;
        Lines lines;
        std::uint32_t passMs;  // sleeps of the pass after its first 50 ms
    } cases[] = {
        {"no device, port closed",
         Searching,
         0,
         {"SERIAL PORT NOT OPEN?", "TORVIN E-VLX400 ?"},
         550},
        {"failed", Failed, 0, {"REMOVE DEVICE", "FROM POSITION 1"}, 600},
        {"finished", Finished, 0, {"LABEL AND SHIP VLX", "FROM POSITION 1"}, 600},
        {"reading", Reading, 0, {"COLLECTING", "DATA"}, 150},
        {"idle", ConversionFinished, 0, {"IDLE", " "}, 650},
    };
    for (const auto& c : cases) {
        device->state.store(c.state);
        device->setupPending.store(c.setupPending);
        device->replyDeadline.Set(60000);
        device->serialNumber.Set("SN");
        const std::uint32_t before = clock.TickCount();
        engine.Pass();
        EXPECT_EQ(Shown(), c.lines) << c.what;
        EXPECT_EQ(clock.TickCount() - before, c.passMs) << c.what;
        EXPECT_EQ(context.TakeStatusChanged(), 1) << c.what;
        const bool forgets = c.state == Searching || c.state == Failed || c.state == Finished;
        EXPECT_EQ(device->serialNumber.Get(), forgets ? "(no serial num)" : "SN") << c.what;
    }
}

TEST_F(Engine, TheWatchdogFailsOnlyWatchedStates) {
    for (std::int32_t state = 0; state <= 16; ++state) {
        device->state.store(state);
        device->failCode.store(0);
        device->step.store(4);
        device->replyDeadline.Set(100);
        clock.Advance(100);
        engine.CheckReplyTimeout(1);
        const bool watched = !(state == Searching || state == Finished || state == Inactive ||
                               state == ScanSerial || state == Failed || state == 11);
        EXPECT_EQ(device->state.load(), state) << "failed at the deadline itself, state " << state;
        clock.Advance(1);
        engine.CheckReplyTimeout(1);
        EXPECT_EQ(device->state.load() == Failed && device->failCode.load() == FailNoReply, watched)
            << "state " << state;
        if (watched) {
            EXPECT_EQ(device->step.load(), 4) << "the watchdog leaves the step";
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

TEST(DeviceRecord, SetStateKeepsSetupAcrossTheRestart) {
    CMainDataStore context;
    CVLX400E device(context);
    struct Case {
        std::int32_t from, to;
        std::int32_t setupPending;
        bool progressKept;
    } cases[] = {
        {Calibrating, Searching, 1, true}, {CalibratingAisg, Searching, 1, true},
        {ScanSerial, Searching, 0, false}, {Calibrating, Testing, 0, true},
        {Searching, Calibrating, 1, true}, {Searching, CalibratingAisg, 1, true},
    };
    for (const auto& c : cases) {
        device.SetState(c.from);
        device.progress.store(42.0);
        device.SetState(c.to);
        EXPECT_EQ(device.setupPending.load(), c.setupPending) << c.from << "->" << c.to;
        EXPECT_EQ(device.progress.load() == 42.0, c.progressKept) << c.from << "->" << c.to;
    }
    device.Fail(99);
    EXPECT_EQ(StateText(device), "FAIL (?)");
}

TEST(DeviceRecord, TiltRangeTicksEveryDegreeFromTheMinimum) {
    struct Slider : TiltSliderControl {
        void SetRange(std::int32_t low, std::int32_t high) override {
            range = {low, high};
            ticks.clear();
        }
        void AddTick(std::int32_t at) override { ticks.push_back(at); }
        void SetPosition(std::int32_t) override {}
        std::int32_t Position() const override { return 0; }
        std::pair<std::int32_t, std::int32_t> range;
        std::vector<std::int32_t> ticks;
    } slider;
    CMainDataStore context;
    CVLX400E device(context);
    device.tiltSlider = &slider;
    device.minTilt.store(20);
    device.maxTilt.store(120);
    device.ApplyTiltRange();
    EXPECT_EQ(slider.ticks.size(), 11u);
    EXPECT_EQ(slider.ticks.back(), 120);
    device.minTilt.store(-25);
    device.maxTilt.store(100);
    device.ApplyTiltRange();
    ASSERT_EQ(slider.ticks.size(), 13u);
    EXPECT_EQ(slider.ticks.front(), -25);
    EXPECT_EQ(slider.ticks.back(), 95);
}
