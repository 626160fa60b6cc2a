#pragma once

#include <cstdint>

#include "ThreadMessages.h"

class CMainDataStore;

// The actuator thread's whole life for the device in the given slot: take one
// message per pass, otherwise pause and do the idle work, until stop.
void ActuatorThread(CMainDataStore& context, std::int32_t slot, ThreadId self);
