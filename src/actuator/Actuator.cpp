#include "actuator/Actuator.h"

#include "core/Controls.h"

CActuator::CActuator() : serialNumber("(no serial num)") {}

CActuator::~CActuator() = default;

void CActuator::SetState(std::int32_t newState) {
    std::lock_guard lock(stateMutex_);
    SetStateLocked(newState);
}

void CActuator::SetStateLocked(std::int32_t newState) {
    const std::int32_t oldState = state.load();
    const bool calibrating = newState == Calibrating || newState == CalibratingAisg;
    const bool restartingDuringSetup =
        newState == Searching && (oldState == Calibrating || oldState == CalibratingAisg);
    setupPending.store(calibrating || restartingDuringSetup ? 1 : 0);
    state.store(newState);
    if (setupPending.load() == 0 && newState == Searching) progress.store(0.0);
}

bool CActuator::FailIfReplyOverdue() {
    std::lock_guard lock(stateMutex_);
    switch (state.load()) {
        case Searching:
        case Finished:
        case Inactive:
        case ScanSerial:
        case Failed:
        case 11:
            return false;  // nothing is awaited in these states
        default:
            break;
    }
    if (!replyDeadline.Expired()) return false;
    failCode.store(FailNoReply);
    SetStateLocked(Failed);
    return true;
}

void CActuator::ApplyTiltRange() {
    if (tiltSlider == nullptr) return;
    const std::int32_t low = minTilt.load();
    const std::int32_t high = maxTilt.load();
    tiltSlider->SetRange(low, high);
    if (high < low) return;
    for (std::int32_t i = 0; i <= (high - low) / 10; ++i)
        tiltSlider->AddTick(low + 10 * i);
}

void CActuator::SelectNewModel(std::int32_t index) {
    newModelIndex.store(index);
    ApplyTiltRange();
}

void CActuator::ForgetDevice() {
    serialNumber.Set("(no serial num)");
    softwareVersion.Set(" ");
    maxTilt.store(0);
    minTilt.store(0);
    problemText.Set("");
    antennaModel.Set("");
    requestedTilt.store(0);
}
