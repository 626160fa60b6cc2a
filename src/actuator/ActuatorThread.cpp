#include "actuator/ActuatorThread.h"

#include <algorithm>

#include "actuator/Actuator.h"
#include "core/MainDataStore.h"

namespace {

constexpr std::uint32_t IdlePassMs = 50;

void DispatchReply(CActuator& device, const CommandBuffer& reply) {
    switch (device.state.load()) {
        case Reading:
            device.OnReadingReply(reply);
            break;
        case Updating:
            device.OnUpdatingReply(reply);
            break;
        case Resetting:
            device.OnResettingReply(reply);
            break;
        case Calibrating:
            device.OnModelChangeReply(reply);
            break;
        case Testing:
            device.OnTiltReply(reply);
            break;
        case Finished:
        case ConversionFinished:
            device.OnFinishedReply(reply);
            break;
        case Recording:
            device.OnRecordingReply(reply);
            break;
        case ScanSerial:
            device.OnCheckReply(reply);
            break;
        case CalibratingAisg:
            device.OnAisgSetupReply(reply);
            break;
        case ConvertingToEricsson:
            device.OnConversionReply(reply);
            break;
        default:
            break;  // Searching, Inactive, Failed: nothing is awaited
    }
}

}  // namespace

void HandleActuatorMessage(CActuator& device, ThreadMessage& message) {
    switch (message.number) {
        case MsgCommand:
            if (message.lParam) DispatchReply(device, *message.lParam);
            break;
        case MsgLinkUp:
            device.aisgSetupCutShort.store(false);  // found in Ericsson mode
            if (device.state.load() == Searching) {
                device.ArmReplyTimer();
                device.SetState(Reading);
                device.StartReading();
                device.replyDeadline.Set(FirstReplyTimeoutMs);
            }
            break;
        case MsgLinkDown:
            switch (device.state.load()) {
                case Calibrating:
                    break;  // the actuator restarts during a model change
                case Finished:
                case ConversionFinished:
                    device.SetState(Searching);
                    break;
                case CalibratingAisg:
                    device.SetState(Searching);
                    device.step.store(0);
                    break;
                default:
                    device.Fail(FailNoReply);
                    break;
            }
            break;
        case MsgDeviceLost:
            // Once the model has been written and the mode chosen, the actuator
            // restarts and falls silent: that is the change going as planned,
            // not a lost device. Forgetting the setup here would treat its
            // return in AISG mode as a stray actuator and skip the
            // configuration. The reply watchdog still ends a restart that
            // never comes back.
            if (device.state.load() == Calibrating &&
                device.step.load() == ModelChangeRestartStep) {
                break;
            }
            device.aisgSetupCutShort.store(device.state.load() == CalibratingAisg);
            device.ForgetDevice();
            device.SetState(Searching);
            device.setupPending.store(0);
            break;
        case MsgSetTilt:
            device.SetState(Testing);
            device.StartSetTilt();
            break;
        case MsgChangeModel:
            device.aisgSetupCutShort.store(false);
            device.SetState(Calibrating);
            device.StartModelChange();
            break;
        case MsgAisgDeviceFound:
            if (device.setupPending.load() == 1 || device.aisgSetupCutShort.exchange(false)) {
                device.SetState(CalibratingAisg);
                device.StartAisgSetup();
            } else {
                device.SetState(ConvertingToEricsson);
                device.StartConversion();
            }
            break;
        default:
            break;  // not for this thread
    }
    if (device.state.load() != Updating) device.ReleaseOperationResources();
}

void ActuatorIdleWork::Pass(CActuator& device) {
    switch (device.state.load()) {
        case Calibrating:
        case ScanSerial:
        case CalibratingAisg:
            device.progress.store(std::min(device.progress.load() + 3.0, 100.0));
            break;
        case Testing:
            if (++idlePasses_ > 10) {
                idlePasses_ = 0;
                if (device.step.load() == 8) device.PollTilt();
            }
            break;
        default:
            break;
    }
    if (device.state.load() != Updating) device.ReleaseOperationResources();
}

void ActuatorThread(CMainDataStore& context, std::int32_t slot, ThreadId self) {
    CreateMessageQueue(self);
    CActuator* device = context.GetDevice(slot);
    if (device == nullptr) return;
    device->deviceIndex.store(slot);
    device->serialNumber.Set("");

    ActuatorIdleWork idle;
    while (!context.StopRequested()) {
        ThreadMessage message;
        if (TakeMessage(self, message)) {
            HandleActuatorMessage(*device, message);
            continue;  // the message, and any reply block with it, is freed here
        }
        // A post cuts the pause short; the idle work only runs on a quiet pass.
        if (WaitMessage(self, IdlePassMs)) continue;
        idle.Pass(*device);
    }
}
