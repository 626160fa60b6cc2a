#pragma once

#include <cstdint>

#include "core/ThreadMessages.h"

namespace kvq::core {
class CMainDataStore;
}  // namespace kvq::core

namespace kvq::actuator {

class CVLX400E;

// The requests a front end posts to the actuator thread; each carries what
// the record must show once the thread has taken it. False when the thread
// could not be told.
bool PostSetTilt(core::ThreadId actuatorThread, std::int32_t targetTenths);
bool PostChangeModel(core::ThreadId actuatorThread, std::int32_t modelIndex);

// One message, as the thread handles it; a reply block is freed afterwards.
void HandleActuatorMessage(CVLX400E& device, core::ThreadMessage& message);

// The actuator thread's turns: a step's pause runs to its end before any
// message is taken; otherwise one message is handled, or the idle work that
// is due is done; in between the thread waits on its queue and the next
// deadline together, and without a deadline only on its queue.
class ActuatorLoop {
public:
    ActuatorLoop(CVLX400E& device, core::CMainDataStore& context, core::ThreadId self);
    ActuatorLoop(const ActuatorLoop&) = delete;
    ActuatorLoop& operator=(const ActuatorLoop&) = delete;

    // One turn, waiting as long as it must; false once stop is requested (a
    // pause that stop cut short has then run the rest of its step).
    bool Turn();

private:
    CVLX400E& device_;
    core::CMainDataStore& context_;
    core::ThreadId self_;
};

// The actuator thread's whole life: takes its queue, marks the record as the
// device in slot 1 (station address 20), and turns until stop.
void ActuatorThread(CVLX400E& device, core::CMainDataStore& context, core::ThreadId self);

}  // namespace kvq::actuator
