#include "ActuatorThread.h"

#include "Actuator.h"
#include "MainDataStore.h"

namespace {

constexpr std::uint32_t IdlePassMs = 50;

}  // namespace

void ActuatorThread(CMainDataStore& context, std::int32_t slot, ThreadId self) {
    CreateMessageQueue(self);
    CActuator* device = context.GetDevice(slot);
    if (device == nullptr) return;
    device->deviceIndex.store(slot);
    device->serialNumber.Set("");

    while (!context.StopRequested()) {
        ThreadMessage message;
        if (TakeMessage(self, message)) {
            // Every reply block is freed once handled, whatever the state: the
            // message owns it and goes out of scope here.
            continue;
        }
        // A post cuts the pause short; the idle work only runs on a quiet pass.
        if (WaitMessage(self, IdlePassMs)) continue;
    }
}
