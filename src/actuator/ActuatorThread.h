#pragma once

#include <cstdint>

#include "core/ThreadMessages.h"

class CActuator;
class CMainDataStore;

// The actuator thread's whole life for the device in the given slot: take one
// message per pass, otherwise pause and do the idle work, until stop.
void ActuatorThread(CMainDataStore& context, std::int32_t slot, ThreadId self);

// One message, as the thread handles it; a reply block is freed afterwards.
void HandleActuatorMessage(CActuator& device, ThreadMessage& message);

// The work of a quiet pass: progress that creeps while checking or setting up,
// and the tilt asked for about every 550 ms while it moves.
class ActuatorIdleWork {
public:
    void Pass(CActuator& device);

private:
    int idlePasses_ = 0;
};
