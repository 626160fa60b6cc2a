#include "ui/CloseGuard.h"

#include "ui/DialogTexts.h"

using namespace kvq::actuator;

namespace kvq::ui {

WorkUnderWay WorkUnderWayFor(const DeviceSnapshot& device) {
    using enum ActuatorState;
    switch (device.state) {
        case Updating:
            return WorkUnderWay::Download;
        case Calibrating:
        case CalibratingAisg:
            return WorkUnderWay::ModelChange;
        case ConvertingToEricsson:
            return WorkUnderWay::Conversion;
        case Testing:
            return WorkUnderWay::Move;
        default:
            break;
    }
    // A model change goes on while the actuator restarts and is found again:
    // the record then searches, reads and checks with the setup still pending.
    if (device.setupPending == 1 && device.state != Failed) return WorkUnderWay::ModelChange;
    return WorkUnderWay::None;
}

std::optional<MessageText> CloseQuestionFor(const DeviceSnapshot& device) {
    const char* text = nullptr;
    switch (WorkUnderWayFor(device)) {
        case WorkUnderWay::None:
            return std::nullopt;
        case WorkUnderWay::Download:
            text = ui_text::CloseDuringDownload;
            break;
        case WorkUnderWay::ModelChange:
            text = ui_text::CloseDuringModelChange;
            break;
        case WorkUnderWay::Conversion:
            text = ui_text::CloseDuringConversion;
            break;
        case WorkUnderWay::Move:
            text = ui_text::CloseDuringMove;
            break;
    }
    return MessageText{text, ui_text::CloseCaption, MessageText::Icon::Question, {}};
}

bool CloseGate::MayClose(bool workersRunning, const DeviceSnapshot& device,
                         MessagePresenter& boxes) {
    if (!workersRunning) return true;
    if (asking_) return false;  // the question is open already
    const auto question = CloseQuestionFor(device);
    if (!question) return true;
    asking_ = true;
    const bool yes = boxes.Ask(*question);
    asking_ = false;
    return yes;
}

EnterAction EnterKeyAction(FocusKind focus, bool enabled) {
    switch (focus) {
        case FocusKind::PushButton:
            return enabled ? EnterAction::PressButton : EnterAction::Close;
        case FocusKind::RequestedTilt:
            return enabled ? EnterAction::SetTilt : EnterAction::Nothing;
        case FocusKind::TextField:
            return EnterAction::Nothing;
        case FocusKind::Other:
            break;
    }
    return EnterAction::Close;
}

}  // namespace kvq::ui
