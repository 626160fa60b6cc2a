#include "ui/CloseGuard.h"

#include "ui/DialogTexts.h"

using namespace kvq::actuator;

namespace kvq::ui {

WorkUnderWay WorkUnderWayFor(const DeviceSnapshot& device) {
    switch (OperationAtRisk(device)) {
        case Operation::Download:
            return WorkUnderWay::Download;
        case Operation::ModelChange:
            return WorkUnderWay::ModelChange;
        case Operation::Conversion:
            return WorkUnderWay::Conversion;
        case Operation::Move:
            return WorkUnderWay::Move;
        case Operation::None:
            break;
    }
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
