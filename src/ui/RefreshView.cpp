#include "ui/RefreshView.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "app/Paths.h"
#include "app/Process.h"
#include "core/TimeSource.h"
#include "ui/DialogTexts.h"

using namespace kvq::core;
using namespace kvq::actuator;
using namespace kvq::app;

namespace kvq::ui {

namespace {

constexpr const char* NoSerialNumber = "(no serial num)";

// The commands are the user's only while the actuator is ready; a tilt only
// when the antenna table gives the model's range.
ControlStates ControlsFor(const DeviceSnapshot& d, int progress, const std::string& progressText) {
    ControlStates states;
    const bool ready = TakesRequests(d);
    states.changeModel = ready;
    states.setTilt = ready && d.modelKnown;
    if (ready && !d.modelKnown)
        states.setTiltWhyNot = "The actuator's antenna model (" + d.antennaModel +
                               ") is not in the antenna table, so its tilt range is not known. "
                               "Choose its model with Change Antenna Model first.";
    if (!ready) {
        states.progress = progress;
        states.progressText = progressText;
    }
    return states;
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

RefreshView ComputeRefresh(const RefreshSnapshot& s) {
    const DeviceSnapshot& d = s.device;
    const Activity activity = ActivityOf(d);
    RefreshView view;
    view.statusLines = s.statusLines;
    const int progress = ProgressOf(d);
    const std::string progressText =
        d.state == ActuatorState::Updating
            ? DownloadProgressText(progress, DownloadMsLeft(d.firmware, s.nowTick))
            : std::string();
    view.controls = ControlsFor(d, progress, progressText);
    view.firmwareNotices = d.firmware.notices;
    view.firmwareNotice = FirmwareNoticeFor(d, s.firmwarePath);
    const bool noActuator = activity == Activity::Looking || activity == Activity::Lost;
    view.serialNumber = d.serialNumber.empty() && noActuator ? NoSerialNumber : d.serialNumber;
    view.softwareVersion = d.softwareVersion;

    // A range not known, or about to change with the model: no tilt at all
    // rather than zeros.
    const bool changing = activity == Activity::ChangingModel;
    if (!changing && d.modelKnown) {
        view.minTilt = TiltText(d.minTilt);
        view.maxTilt = TiltText(d.maxTilt);
        // While a move runs the target stays shown; otherwise the field
        // follows the slider as the user drags it.
        view.requestedTilt =
            TiltText(d.state == ActuatorState::Moving ? d.requestedTilt : s.sliderPosition);
    }
    if (!changing && d.tiltKnown) view.currentTilt = TiltText(d.currentTilt);
    view.antennaModel = d.antennaModel;

    if (!s.isOpen) {
        view.connection = ui_text::PortClosedWord;
    } else if (s.receivedSinceAsked || d.SetupPending()) {
        // A model change waits for the actuator to come back: still connected.
        view.connection = ui_text::ConnectedWord;
    } else {
        view.connection = ui_text::DisconnectedWord;
    }
    view.portName = s.selectedPortName;
    view.markPort = s.currentPort;
    return view;
}

std::optional<MessageText> FirmwareNoticeFor(const DeviceSnapshot& device,
                                             const std::string& firmwarePath) {
    if (device.firmware.updateNotTaken) {
        return MessageText{
            "The actuator did not take the software update: it came back on "
            "version " +
                device.softwareVersion + ", not on version " + device.firmware.downloadedVersion +
                " of " + firmwarePath +
                ".\n\nThe file is not sent to this actuator again until the "
                "tool is started again or the file is replaced.",
            ui_text::UpdateNotTakenCaption,
            MessageText::Icon::Exclamation,
            {}};
    }
    if (!device.firmware.fileProblem.empty()) {
        return MessageText{"The firmware file " + firmwarePath +
                               " is not used; nothing was sent to the actuator.\n\n" +
                               device.firmware.fileProblem,
                           ui_text::FirmwareFileCaption,
                           MessageText::Icon::Exclamation,
                           {}};
    }
    return std::nullopt;
}

std::optional<MessageText> PortReportFor(std::int32_t refreshCount, std::int32_t portOpened,
                                         std::int32_t currentPort) {
    if (refreshCount != 5) return std::nullopt;
    if (portOpened == 1) {
        return MessageText{WithNumber(ui_text::PortStartedText, currentPort),
                           ui_text::PortSuccessCaption,
                           MessageText::Icon::Information,
                           {}};
    }
    return MessageText{
        ui_text::PortProblemText, ui_text::PortProblemCaption, MessageText::Icon::Information, {}};
}

RefreshSnapshot TakeRefreshSnapshot(ProcessObjects& process, std::int32_t sliderPosition,
                                    std::int32_t currentPort) {
    RefreshSnapshot s;
    CMainDataStore& context = process.SystemContext;
    s.device = process.actuator.Snapshot();
    s.sliderPosition = sliderPosition;
    std::string line1, line2;
    if (context.TakeStatusLines(line1, line2)) s.statusLines.emplace(line1, line2);
    s.isOpen = process.serialPort.IsOpen.load() != 0;
    if (s.isOpen) s.receivedSinceAsked = process.serialPort.ReceivedSinceAsked.exchange(0) != 0;
    s.selectedPortName = context.SelectedPortName();
    s.currentPort = currentPort;
    s.nowTick = TickCount();
    s.firmwarePath = app::AbsoluteOrAsGiven(process.actuator.FirmwarePath()).string();
    return s;
}

}  // namespace kvq::ui
