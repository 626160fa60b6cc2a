#include "Actuator.h"

CActuator::CActuator() : serialNumber("(no serial num)") {}

CActuator::~CActuator() = default;

void CActuator::SetState(std::int32_t newState) {
    const std::int32_t oldState = state.load();
    const bool calibrating = newState == Calibrating || newState == CalibratingAisg;
    const bool restartingDuringSetup =
        newState == Searching && (oldState == Calibrating || oldState == CalibratingAisg);
    setupPending.store(calibrating || restartingDuringSetup ? 1 : 0);
    state.store(newState);
    if (setupPending.load() == 0 && newState == Searching) progress.store(0.0);
}

CVLX400E::CVLX400E() {
    serialNumber.Set("");
}
