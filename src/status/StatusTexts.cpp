#include "status/StatusTexts.h"

#include "actuator/VLX400E.h"

using namespace kvq::actuator;

namespace kvq::status {

std::string FailText(std::int32_t failCode) {
    switch (static_cast<FailCode>(failCode)) {
        case FailCode::NoReply:
            return "FAIL (C)";
        case FailCode::Identity:
            return "FAIL (E)";
        case FailCode::Download:
            return "FAIL (DL)";
        case FailCode::UpdateNotTaken:
            return "UPDATE NOT TAKEN";
        case FailCode::Unexpected:
            return "UNEXPECTED REPLY";
        case FailCode::NotConverted:
            return "NOT CONVERTED";
        case FailCode::None:
            break;
    }
    return "FAIL (?)";
}

std::string StateText(std::int32_t state, std::int32_t failCode) {
    using enum ActuatorState;
    switch (static_cast<ActuatorState>(state)) {
        case Looking:
            return "SEARCHING";
        case ReadingIdentity:
            return "READING";
        case Updating:
            return "UPDATING";
        case ChangingModel:
            return "CALIBRATING";
        case Moving:
            return "TESTING";
        case Checking:
            return "SCAN S/N";
        case Failed:
            return FailText(failCode);
        case ChangingModelAisg:
            return "CALIBRATING AISG";
        case Converting:
            return "CONVERTING";
        case Converted:
            return "FINISHED";
    }
    return "(unknown)";
}

std::string StateText(const DeviceSnapshot& device) {
    return StateText(static_cast<std::int32_t>(device.state),
                     static_cast<std::int32_t>(device.failCode));
}

}  // namespace kvq::status
