#include "ui/RefreshView.h"

#include <cmath>
#include <cstdio>

#include "actuator/Actuator.h"
#include "ui/DialogTexts.h"
#include "app/Process.h"

namespace {

// Truncated toward zero, kept inside the bar's range (and a NaN at 0).
int ProgressPosition(double progress) {
    if (!(progress > 0.0)) return 0;
    if (progress >= 100.0) return 100;
    return static_cast<int>(progress);
}

// The controls are the user's only while the actuator rests after its check.
bool ControlsEnabled(const RefreshSnapshot& s) {
    if (s.state == Updating || s.setupPending == 1) return false;
    if (s.state == Testing) return false;
    return s.state == ScanSerial && s.step >= 8;
}

// The bar shows the operation's progress while one runs, else 0.
int ProgressShown(const RefreshSnapshot& s) {
    const bool busy = s.state == Updating || s.setupPending == 1 ||
                      (s.state == ScanSerial && s.step < 8) || s.state == Testing;
    return busy ? ProgressPosition(s.progress) : 0;
}

}  // namespace

bool StatusListLines::Accept(const StatusPair& lines) {
    // The notice stays while the engine repeats itself (or the notice).
    if (before_ && (lines == *before_ || lines == shown_)) return false;
    before_.reset();
    shown_ = lines;
    return true;
}

void StatusListLines::ShowNotice(const StatusPair& notice) {
    if (!before_) before_ = shown_;
    shown_ = notice;
}

std::string TiltText(std::int32_t tenths) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", tenths / 10.0);
    return text;
}

RefreshView ComputeRefresh(const RefreshSnapshot& s) {
    RefreshView view;
    view.statusLines = s.statusLines;
    view.controlsEnabled = ControlsEnabled(s);
    view.progress = ProgressShown(s);
    view.serialNumber = s.serialNumber;
    view.softwareVersion = s.softwareVersion;

    // Limits not read yet, or about to change with the model: no tilt at all
    // rather than zeros.
    const bool noTilt = s.state == Calibrating || s.state == CalibratingAisg || s.maxTilt == 0;
    if (!noTilt) {
        view.minTilt = TiltText(s.minTilt);
        view.maxTilt = TiltText(s.maxTilt);
        // While a move runs the target stays shown; otherwise the field
        // follows the slider as the user drags it.
        view.requestedTilt = TiltText(s.state == Testing ? s.requestedTilt : s.sliderPosition);
        view.currentTilt = TiltText(s.currentTilt);
    }
    view.antennaModel = s.antennaModel;

    if (!s.isOpen) {
        view.connection = ui_text::PortClosedWord;
    } else if (s.receivedSinceAsked || s.setupPending == 1) {
        // A model change waits for the actuator to come back: still connected.
        view.connection = ui_text::ConnectedWord;
    } else {
        view.connection = ui_text::DisconnectedWord;
    }
    view.portName = s.selectedPortName;
    view.markPort = s.currentPort;
    return view;
}

std::optional<MessageText> PortReportFor(std::int32_t refreshCount, std::int32_t portOpened,
                                         std::int32_t currentPort) {
    if (refreshCount != 5) return std::nullopt;
    if (portOpened == 1) {
        return MessageText{WithNumber(ui_text::PortStartedText, currentPort),
                           ui_text::PortSuccessCaption, MessageText::Icon::Information};
    }
    return MessageText{ui_text::PortProblemText, ui_text::PortProblemCaption,
                       MessageText::Icon::Information};
}

RefreshSnapshot TakeRefreshSnapshot(ProcessObjects& process, std::int32_t sliderPosition,
                                    std::int32_t currentPort) {
    RefreshSnapshot s;
    CMainDataStore& context = process.SystemContext;
    if (const CVLX400E* device = context.GetActuator()) {
        s.state = device->state.load();
        s.setupPending = device->setupPending.load();
        s.step = device->step.load();
        s.progress = device->progress.load();
        s.serialNumber = device->serialNumber.Get();
        s.softwareVersion = device->softwareVersion.Get();
        s.antennaModel = device->antennaModel.Get();
        s.minTilt = device->minTilt.load();
        s.maxTilt = device->maxTilt.load();
        s.currentTilt = device->currentTilt.load();
        s.requestedTilt = device->requestedTilt.load();
    }
    s.sliderPosition = sliderPosition;
    std::string line1, line2;
    if (context.TakeStatusLines(line1, line2)) s.statusLines.emplace(line1, line2);
    s.isOpen = process.serialPort.IsOpen.load() != 0;
    if (s.isOpen) s.receivedSinceAsked = process.serialPort.ReceivedSinceAsked.exchange(0) != 0;
    s.selectedPortName = context.SelectedPortName();
    s.currentPort = currentPort;
    return s;
}
