#include "actuator/ActuatorThread.h"

#include <limits>

#include "actuator/VLX400E.h"
#include "core/MainDataStore.h"
#include "core/TimeSource.h"

using namespace kvq::core;

namespace kvq::actuator {

namespace {

// Slot 1 is the only device; its station address is slot + 19 = 20.
constexpr std::int32_t DeviceSlot = 1;

// A stop request posts this to the thread so its wait ends; it is not handled.
constexpr std::uint32_t MsgWake = 0;

// Tilts travel as their 32-bit two's complement in the message's parameter.
std::uintptr_t Encode(std::int32_t value) {
    return static_cast<std::uint32_t>(value);
}
std::int32_t Decode(std::uintptr_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

std::uint32_t MsUntil(std::uint32_t deadline) {
    const auto left = static_cast<std::int32_t>(deadline - TickCount());
    return left > 0 ? static_cast<std::uint32_t>(left) : 0;
}

}  // namespace

bool PostSetTilt(ThreadId actuatorThread, std::int32_t targetTenths) {
    return PostThreadMessage(actuatorThread, MsgSetTilt, Encode(targetTenths));
}

bool PostChangeModel(ThreadId actuatorThread, std::int32_t modelIndex) {
    return PostThreadMessage(actuatorThread, MsgChangeModel, Encode(modelIndex));
}

void HandleActuatorMessage(CVLX400E& device, ThreadMessage& message) {
    switch (message.number) {
        case MsgCommand:
            if (message.lParam) device.OnReply(*message.lParam);
            break;
        case MsgLinkUp:
            device.OnLinkUp();
            break;
        case MsgLinkDown:
            device.OnLinkDown();
            break;
        case MsgDeviceLost:
            device.OnDeviceLost();
            break;
        case MsgSetTilt:
            device.RequestSetTilt(Decode(message.wParam));
            break;
        case MsgChangeModel:
            device.RequestModelChange(Decode(message.wParam));
            break;
        case MsgAisgDeviceFound:
            device.OnAisgDeviceFound();
            break;
        default:
            break;  // not for this thread
    }
    device.MessageHandled(TickCount());
}

ActuatorLoop::ActuatorLoop(CVLX400E& device, CMainDataStore& context, ThreadId self)
    : device_(device), context_(context), self_(self) {}

bool ActuatorLoop::Turn() {
    if (const auto pauseEnd = device_.PauseEnd()) {
        // Messages wait in the queue until the step's pause is over.
        context_.PauseUnlessStopped(MsUntil(*pauseEnd));
        device_.EndPause();
        return !context_.StopRequested();
    }
    if (context_.StopRequested()) return false;
    ThreadMessage message;
    if (TakeMessage(self_, message)) {
        HandleActuatorMessage(device_, message);
        return true;  // the message, and any reply block with it, is freed here
    }
    const auto idle = device_.NextIdleWork();
    const std::uint32_t wait = idle ? MsUntil(*idle) : std::numeric_limits<std::uint32_t>::max();
    if (wait > 0 && WaitMessage(self_, wait)) return true;
    if (idle) device_.IdleWork(TickCount());
    return true;
}

void ActuatorThread(CVLX400E& device, CMainDataStore& context, ThreadId self) {
    CreateMessageQueue(self);
    context.AddStopListener([self] { PostThreadMessage(self, MsgWake); });
    device.SetDeviceIndex(DeviceSlot);
    ActuatorLoop loop(device, context, self);
    while (loop.Turn()) {
    }
}

}  // namespace kvq::actuator
