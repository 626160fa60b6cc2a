#pragma once

#include <optional>

#include "actuator/VLX400E.h"
#include "ui/MessageText.h"

namespace kvq::ui {

// Work on the actuator that closing the tool would cut short.
enum class WorkUnderWay {
    None,         // idle, searching, reading or checking: nothing is written
    Download,     // new software is being written
    ModelChange,  // a new antenna model is being written, also across the restart
    Conversion,   // the actuator is being switched back from AISG mode
    Move,         // the tilt is being set
};

// Decided from the record's state, step and pending setup, never from what
// the screen shows.
WorkUnderWay WorkUnderWayFor(const actuator::DeviceSnapshot& device);

// The question to ask before closing, when closing now would cut work short;
// none when the tool may close at once.
std::optional<MessageText> CloseQuestionFor(const actuator::DeviceSnapshot& device);

// Every way of closing passes here first: while the workers run and the
// actuator's work would be cut short, the question is asked (No the default),
// never twice at once. True when the dialog may close.
class CloseGate {
public:
    bool MayClose(bool workersRunning, const actuator::DeviceSnapshot& device,
                  MessagePresenter& boxes);

private:
    bool asking_ = false;
};

// Enter in the main dialog, by what has the focus. It never closes the
// window from a field; in the requested tilt it is Set Tilt.
enum class FocusKind { PushButton, RequestedTilt, TextField, Other };
enum class EnterAction { PressButton, SetTilt, Nothing, Close };
// enabled: the focused push button's state, or Set Tilt's for the requested tilt.
EnterAction EnterKeyAction(FocusKind focus, bool enabled);

}  // namespace kvq::ui
