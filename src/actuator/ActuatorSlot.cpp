// The parts of the shared system object that deal with the device record.

#include <string>

#include "actuator/Actuator.h"
#include "actuator/ActuatorThread.h"
#include "core/MainDataStore.h"
#include "settings/KVQSystem.h"
#include "core/WorkerThread.h"

struct CMainDataStore::ActuatorSlot {
    std::unique_ptr<CVLX400E> record;
    WorkerThread thread;  // declared last, so it is released before the record it uses
};

CVLX400E* CMainDataStore::GetActuator() const {
    return actuator_ ? actuator_->record.get() : nullptr;
}

std::int32_t CMainDataStore::GetDeviceState(std::int32_t slot) const {
    const CActuator* device = GetDevice(slot);
    return device ? device->state.load() : 0;
}

std::int32_t CMainDataStore::GetSetupPending(std::int32_t slot) const {
    const CActuator* device = GetDevice(slot);
    return device ? device->setupPending.load() : 0;
}

void CMainDataStore::PaintTick() {
    if (CActuator* device = GetDevice(1)) device->OnPaintTick();
}

bool CMainDataStore::CreateActuator(const CKVQSystem& settings) {
    const std::string& variant = settings.Variant;
    if (variant != "E-VLX400" && variant != "VLX400-002") return false;
    if (actuator_) return true;  // slot 1 is filled once
    {
        std::lock_guard lock(statusMutex_);
        statusLine1_.clear();
        statusLine2_.clear();
    }
    actuator_ = std::make_shared<ActuatorSlot>();
    actuator_->record = std::make_unique<CVLX400E>(*this);
    deviceSlots_[1] = actuator_->record.get();
    return true;
}

void CMainDataStore::StartActuatorThread() {
    if (!actuator_ || actuator_->thread.Started()) return;
    CActuator& device = *actuator_->record;
    const ThreadId id =
        actuator_->thread.Start([this](ThreadId self) { ActuatorThread(*this, 1, self); });
    device.threadId.store(id);
    device.SetState(Searching);
}

bool CMainDataStore::JoinActuatorThread(std::uint32_t withinMs) {
    return actuator_ ? actuator_->thread.Join(withinMs) : true;
}
