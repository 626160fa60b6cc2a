// The refresh's decisions as tables: from a snapshot of the shared state to
// what the dialog shows. And the snapshot itself, taken from the real objects.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "actuator/VLX400E.h"
#include "app/Process.h"
#include "ui/RefreshView.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::antenna;
using namespace kvq::actuator;
using namespace kvq::app;
using namespace kvq::ui;

namespace {

using enum ActuatorState;

// An actuator at rest after its check, port open, bytes arriving.
RefreshSnapshot Ready() {
    RefreshSnapshot s;
    s.device.state = ActuatorState::Checking;
    s.device.step = CheckStep::Complete;
    s.device.modelKnown = true;
    s.device.tiltKnown = true;
    s.device.serialNumber = "XXXT0004711";
    s.device.softwareVersion = "01.23";
    s.device.antennaModel = "Panel65-1710-2170-18dBi";
    s.device.minTilt = -25;
    s.device.maxTilt = 100;
    s.device.currentTilt = 20;
    s.device.requestedTilt = 65;
    s.sliderPosition = 40;
    s.isOpen = true;
    s.receivedSinceAsked = true;
    s.selectedPortName = "COM1";
    s.currentPort = 1;
    return s;
}

TEST(RefreshControls, EnabledOnlyWhenReadyAndProgressWhileBusy) {
    const struct {
        const char* label;
        ActuatorState state;
        Operation continuing;
        bool complete;
        double progress;
        bool enabled;
        int bar;
    } cases[] = {
        {"updating shows the download", Updating, Operation::None, false, 42.7, false, 42},
        {"a model change across a restart", Looking, Operation::ModelChange, false, 61.0, false,
         61},
        {"the check that ends a model change", Checking, Operation::ModelChange, false, 30.0,
         false, 30},
        {"checking", Checking, Operation::None, false, 99.9, false, 99},
        {"moving the tilt", Moving, Operation::None, false, 12.5, false, 12},
        {"ready after the check", Checking, Operation::None, true, 55.0, true, 0},
        {"looking", Looking, Operation::None, false, 80.0, false, 0},
        {"failed", Failed, Operation::None, false, 80.0, false, 0},
        {"changing the model", ChangingModel, Operation::ModelChange, false, 20.0, false, 20},
        {"progress beyond the bar is held at its end", Updating, Operation::None, false, 180.0,
         false, 100},
        {"negative progress shows empty", Updating, Operation::None, false, -3.0, false, 0},
        {"no number shows empty", Updating, Operation::None, false,
         std::numeric_limits<double>::quiet_NaN(), false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        RefreshSnapshot s = Ready();
        s.device.state = c.state;
        s.device.continuing = c.continuing;
        s.device.step = c.complete ? OperationStep(CheckStep::Complete) : OperationStep(NoStep{});
        s.device.progress = c.progress;
        const RefreshView view = ComputeRefresh(s);
        EXPECT_EQ(view.controls.changeModel, c.enabled);
        EXPECT_EQ(view.controls.setTilt, c.enabled);
        EXPECT_EQ(view.controls.progress, c.bar);
    }
}

// An actuator whose model the antenna table does not know: its range is not
// known, so no tilt is offered, and the button says why; a model can still be
// chosen.
TEST(RefreshControls, NoTiltIsOfferedForAModelTheTableDoesNotKnow) {
    RefreshSnapshot s = Ready();
    s.device.modelKnown = false;
    s.device.antennaModel = "AP0013";
    const RefreshView view = ComputeRefresh(s);
    EXPECT_TRUE(view.controls.changeModel);
    EXPECT_FALSE(view.controls.setTilt);
    EXPECT_NE(view.controls.setTiltWhyNot.find("AP0013"), std::string::npos)
        << view.controls.setTiltWhyNot;
    EXPECT_EQ(view.minTilt, "");
    EXPECT_EQ(view.maxTilt, "");
    EXPECT_EQ(view.currentTilt, "2.0") << "the actuator's own tilt is still known";
    EXPECT_EQ(ComputeRefresh(Ready()).controls.setTiltWhyNot, "");
}

// During a download the bar carries the percentage and, once the pace is
// known, the time left; at any other time no words.
TEST(RefreshControls, TheBarSaysTheDownloadsPercentageAndTimeLeft) {
    RefreshSnapshot s = Ready();
    EXPECT_EQ(ComputeRefresh(s).controls.progressText, "");
    s.device.state = Updating;
    s.device.progress = 10.2;
    s.device.firmware.bytesTotal = 5600;
    s.device.firmware.bytesAcknowledged = 560;
    s.device.firmware.firstBlockTick = 1000;
    s.nowTick = 1400;
    EXPECT_EQ(ComputeRefresh(s).controls.progressText, "10%") << "too early to tell";
    s.nowTick = 3000;  // 560 bytes in 2 s: 5040 more take 18 s
    EXPECT_EQ(ComputeRefresh(s).controls.progressText, "10%, 0:18 left");
}

TEST(RefreshFirmware, ABoxSaysWhyNothingWasSentOrThatTheUpdateWasNotTaken) {
    RefreshSnapshot s = Ready();
    s.firmwarePath = "/site/vlx400fw.bin";
    s.device.firmware.notices = 3;
    EXPECT_EQ(ComputeRefresh(s).firmwareNotice, std::nullopt);
    EXPECT_EQ(ComputeRefresh(s).firmwareNotices, 3u);

    s.device.firmware.fileProblem = "It holds the 10-byte header of version 01.24 but no image.";
    auto box = ComputeRefresh(s).firmwareNotice;
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, "Firmware File Error");
    EXPECT_NE(box->text.find("/site/vlx400fw.bin"), std::string::npos) << box->text;
    EXPECT_NE(box->text.find("no image"), std::string::npos) << box->text;

    s.device.firmware.updateNotTaken = true;
    s.device.firmware.downloadedVersion = "01.24";
    box = ComputeRefresh(s).firmwareNotice;
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, "Software Update Failed");
    EXPECT_NE(box->text.find("version 01.23, not on version 01.24 of /site/vlx400fw.bin"),
              std::string::npos)
        << box->text;
}

TEST(RefreshTilts, ShownWithOneDecimalOrNotAtAll) {
    const struct {
        const char* label;
        ActuatorState state;
        bool modelKnown;
        const char *min, *max, *requested, *current;
        std::int32_t currentTilt = 20;
    } cases[] = {
        {"at rest: requested follows the slider", Checking, true, "-2.5", "10.0", "4.0", "2.0"},
        // After a model change that narrowed the range: the actuator's own tilt.
        {"current tilt below the range", Checking, true, "-2.5", "10.0", "4.0", "-4.0", -40},
        {"current tilt above the range", Checking, true, "-2.5", "10.0", "4.0", "12.5", 125},
        {"moving: requested is the target", Moving, true, "-2.5", "10.0", "6.5", "2.0"},
        {"a model the table does not know", Checking, false, "", "", "", "2.0"},
        {"changing the model", ChangingModel, true, "", "", "", ""},
        {"changing the model in AISG mode", ChangingModelAisg, true, "", "", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        RefreshSnapshot s = Ready();
        s.device.state = c.state;
        s.device.modelKnown = c.modelKnown;
        s.device.currentTilt = c.currentTilt;
        const RefreshView view = ComputeRefresh(s);
        EXPECT_EQ(view.minTilt, c.min);
        EXPECT_EQ(view.maxTilt, c.max);
        EXPECT_EQ(view.requestedTilt, c.requested);
        EXPECT_EQ(view.currentTilt, c.current);
    }
    EXPECT_EQ(TiltText(-5), "-0.5");
    EXPECT_EQ(TiltText(0), "0.0");
    EXPECT_EQ(TiltText(-327), "-32.7");
}

TEST(RefreshConnection, WordFromThePortAndTheBytesReceived) {
    const struct {
        bool isOpen, received;
        bool setupPending;
        const char* word;
    } cases[] = {
        {false, true, true, "Port closed?"},
        {true, true, false, "Connected"},
        {true, false, true, "Connected"},
        {true, false, false, "Disconnected"},
    };
    for (const auto& c : cases) {
        RefreshSnapshot s = Ready();
        s.isOpen = c.isOpen;
        s.receivedSinceAsked = c.received;
        if (c.setupPending) {
            s.device.state = Looking;
            s.device.continuing = Operation::ModelChange;
        }
        EXPECT_EQ(ComputeRefresh(s).connection, c.word)
            << "open " << c.isOpen << " received " << c.received << " pending " << c.setupPending;
    }
}

TEST(RefreshTexts, IdentityPortAndMark) {
    RefreshSnapshot s = Ready();
    s.statusLines.emplace("READY", "");
    s.selectedPortName = "COM3";  // a change that failed: the name moved, the mark did not
    const RefreshView view = ComputeRefresh(s);
    EXPECT_EQ(view.serialNumber, "XXXT0004711");
    EXPECT_EQ(view.softwareVersion, "01.23");
    EXPECT_EQ(view.antennaModel, "Panel65-1710-2170-18dBi");
    EXPECT_EQ(view.portName, "COM3");
    EXPECT_EQ(view.markPort, 1);
    ASSERT_TRUE(view.statusLines);
    EXPECT_EQ(view.statusLines->first, "READY");
    EXPECT_FALSE(ComputeRefresh(Ready()).statusLines) << "unchanged lines leave the list alone";
    // No actuator: the field says there is no serial number; a failed one
    // keeps its own.
    s.device.serialNumber.clear();
    s.device.state = Looking;
    EXPECT_EQ(ComputeRefresh(s).serialNumber, "(no serial num)");
    s.device.serialNumber = "XXXT0004711";
    s.device.state = Failed;
    EXPECT_EQ(ComputeRefresh(s).serialNumber, "XXXT0004711");
}

TEST(StatusList, ANoticeStaysUntilTheEngineReportsSomethingNew) {
    const StatusPair ready{"READY", ""};
    const StatusPair notice{"ANTENNA NOT FOUND", ""};
    StatusListLines lines;
    EXPECT_TRUE(lines.Accept({"INITIALIZING", "SYSTEM"}));
    EXPECT_TRUE(lines.Accept(ready));
    EXPECT_TRUE(lines.Accept(ready)) << "without a notice every change is shown";

    lines.ShowNotice(notice);
    EXPECT_EQ(lines.Shown(), notice);
    const struct {
        StatusPair taken;
        bool shown;
        StatusPair after;
    } steps[] = {
        {ready, false, notice},   // the engine repeats itself: the notice stays
        {notice, false, notice},  // the notice's own lines, taken late
        {ready, false, notice},  {{"MOVING", ""}, true, {"MOVING", ""}},  // something happened
        {ready, true, ready},  // and the list follows again
    };
    for (const auto& step : steps) {
        EXPECT_EQ(lines.Accept(step.taken), step.shown) << step.taken.first;
        EXPECT_EQ(lines.Shown(), step.after) << step.taken.first;
    }
    // Two notices in a row still wait for a change from before the first.
    lines.ShowNotice(notice);
    lines.ShowNotice(notice);
    EXPECT_FALSE(lines.Accept(ready));
    EXPECT_TRUE(lines.Accept({"POSSIBLE PROBLEM", "TILT"}));
}

TEST(PortReport, OnceOnTheFifthRefresh) {
    for (int count = 1; count <= 12; ++count) {
        const auto report = PortReportFor(count, 1, 3);
        if (count != 5) {
            EXPECT_FALSE(report) << "refresh " << count;
            continue;
        }
        ASSERT_TRUE(report);
        EXPECT_EQ(report->text, "   Communication has been started on serial port 3.         ");
        EXPECT_EQ(report->caption, "Serial Port Success");
        EXPECT_EQ(report->icon, MessageText::Icon::Information);
    }
    for (const int opened : {0, -1}) {
        const auto problem = PortReportFor(5, opened, 3);
        ASSERT_TRUE(problem);
        EXPECT_EQ(problem->text, "   Problem opening port?");
        EXPECT_EQ(problem->caption, "Serial Port Problem");
    }
}

// The snapshot takes the two flags that are read and cleared, and only when due.
TEST(RefreshSnapshotTest, TakesTheStatusLinesAndTheReceivedFlag) {
    ProcessObjects process;
    ASSERT_TRUE(PrepareProcess(process));
    AntennaRecord model;
    model.key = "K";
    model.displayName = "Model";
    model.minTilt = -25;
    model.maxTilt = 100;
    ASSERT_TRUE(process.antennaTable.AppendRecord(model));
    process.actuator.SelectModelByKey("K");
    process.SystemContext.SetStatusLines("SEARCHING", "");

    // Port closed: the received flag is left for later.
    process.serialPort.ReceivedSinceAsked.store(1);
    RefreshSnapshot s = TakeRefreshSnapshot(process, 70, 2);
    EXPECT_FALSE(s.isOpen);
    EXPECT_EQ(process.serialPort.ReceivedSinceAsked.load(), 1);
    ASSERT_TRUE(s.statusLines);
    EXPECT_EQ(s.statusLines->first, "SEARCHING");
    EXPECT_EQ(s.device.maxTilt, 100);
    EXPECT_EQ(s.device.antennaModel, "Model");
    EXPECT_TRUE(s.device.modelKnown);
    EXPECT_EQ(s.sliderPosition, 70);
    EXPECT_EQ(s.currentPort, 2);
    EXPECT_EQ(s.selectedPortName, "NONE");

    // Port open: taken once.
    process.serialPort.IsOpen.store(1);
    s = TakeRefreshSnapshot(process, 70, 2);
    EXPECT_TRUE(s.receivedSinceAsked);
    EXPECT_FALSE(s.statusLines) << "the lines were taken by the first snapshot";
    EXPECT_FALSE(TakeRefreshSnapshot(process, 70, 2).receivedSinceAsked);
}

}  // namespace
