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

}  // namespace kvq::ui
