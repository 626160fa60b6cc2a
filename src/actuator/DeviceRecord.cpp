#include "actuator/DeviceRecord.h"

#include "core/Text.h"

namespace kvq::actuator {

Activity ActivityOf(const DeviceSnapshot& device) {
    using enum ActuatorState;
    switch (device.state) {
        case Failed:
            return Activity::Failed;
        case Moving:
            return Activity::Moving;
        case Updating:
            return Activity::Updating;
        case ChangingModel:
        case ChangingModelAisg:
            return Activity::ChangingModel;
        case Converting:
        case Converted:
            return Activity::Converting;
        case Looking:
        case ReadingIdentity:
        case Checking:
            break;
    }
    // An operation that goes on across the actuator's restart is what it is
    // doing while it is looked for, read and checked again.
    switch (device.continuing) {
        case Operation::Download:
            return Activity::Updating;
        case Operation::ModelChange:
            return Activity::ChangingModel;
        case Operation::Conversion:
            return Activity::Converting;
        case Operation::None:
        case Operation::Move:
            break;
    }
    if (device.state == Looking) return device.lost ? Activity::Lost : Activity::Looking;
    return device.CheckComplete() ? Activity::Ready : Activity::Checking;
}

namespace {

// The operation a state belongs to; the record's continuing one while it
// looks, reads and checks after a restart the operation asked for.
Operation OperationUnderWayOf(const DeviceSnapshot& r) {
    using enum ActuatorState;
    switch (r.state) {
        case Moving:
            return Operation::Move;
        case Updating:
            return Operation::Download;
        case ChangingModel:
        case ChangingModelAisg:
            return Operation::ModelChange;
        case Converting:
        case Converted:
            return Operation::Conversion;
        case Failed:
            return Operation::None;
        case Looking:
        case ReadingIdentity:
        case Checking:
            break;
    }
    return r.continuing;
}

}  // namespace

Operation OperationUnderWay(const DeviceSnapshot& device) {
    return OperationUnderWayOf(device);
}

std::string LeftBehind(const DeviceSnapshot& r) {
    using core::TiltText;
    switch (OperationUnderWayOf(r)) {
        case Operation::Move:
            return "the tilt stood at " + TiltText(r.currentTilt) + " degrees, on its way to " +
                   TiltText(r.requestedTilt);
        case Operation::Download:
            if (r.state != ActuatorState::Updating)
                return "the download was complete; the actuator's next start shows whether it "
                       "took it";
            if (r.At(DownloadStep::AwaitStart)) return "nothing of the new software was sent yet";
            return "the actuator has no working software until a download completes";
        case Operation::ModelChange: {
            const auto at = r.StepOf<ModelChangeStep>();
            if (r.state == ActuatorState::ChangingModel && at && *at < ModelChangeStep::AwaitWrite)
                return "nothing was written to the actuator yet";
            if (r.state == ActuatorState::ChangingModel)
                return "the new model name may be written, but not its configuration";
            if (r.state == ActuatorState::ChangingModelAisg || r.SetupPending())
                return "the actuator's configuration is half-written and it may be left in AISG "
                       "mode";
            return "the new model is written; the actuator's check had not read it back yet";
        }
        case Operation::Conversion:
            return "the actuator may still be in AISG mode";
        case Operation::None:
            break;
    }
    return {};
}

Operation OperationAtRisk(const DeviceSnapshot& device) {
    using enum ActuatorState;
    switch (device.state) {
        case Moving:
            return Operation::Move;
        case Updating:
            return Operation::Download;
        case ChangingModel:
        case ChangingModelAisg:
            return Operation::ModelChange;
        case Converting:
            return Operation::Conversion;
        case Looking:
            return device.SetupPending() ? Operation::ModelChange : Operation::None;
        case ReadingIdentity:
        case Checking:
        case Failed:
        case Converted:
            break;
    }
    return Operation::None;
}

int ProgressOf(const DeviceSnapshot& device) {
    using enum ActuatorState;
    const bool shown = device.state == Updating || device.state == ChangingModel ||
                       device.state == ChangingModelAisg || device.SetupPending() ||
                       (device.state == Checking && !device.CheckComplete()) ||
                       device.state == Moving;
    if (!shown || !(device.progress > 0.0)) return 0;  // a NaN too
    return device.progress >= 100.0 ? 100 : static_cast<int>(device.progress);
}

std::string_view ActivityWord(Activity activity) {
    switch (activity) {
        case Activity::Looking:
            return "looking";
        case Activity::Checking:
            return "checking";
        case Activity::Ready:
            return "ready";
        case Activity::Moving:
            return "moving";
        case Activity::Updating:
            return "updating";
        case Activity::ChangingModel:
            return "changing model";
        case Activity::Converting:
            return "converting";
        case Activity::Failed:
            return "failed";
        case Activity::Lost:
            return "lost";
    }
    return "looking";
}

std::string_view OperationWord(Operation operation) {
    switch (operation) {
        case Operation::None:
            return "none";
        case Operation::Move:
            return "set tilt";
        case Operation::Download:
            return "firmware update";
        case Operation::ModelChange:
            return "model change";
        case Operation::Conversion:
            return "conversion to Ericsson mode";
    }
    return "none";
}

std::string_view EndingWord(Ending ending) {
    switch (ending) {
        case Ending::None:
            return "under way";
        case Ending::Done:
            return "done";
        case Ending::Failed:
            return "failed";
        case Ending::Interrupted:
            return "interrupted";
    }
    return "under way";
}

}  // namespace kvq::actuator
