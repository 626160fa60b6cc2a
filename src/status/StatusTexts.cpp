#include "status/StatusTexts.h"

#include "actuator/VLX400E.h"

using namespace kvq::actuator;

namespace kvq::status {

std::string FailText(std::int32_t failCode) {
    switch (failCode) {
        case 10:
            return "FAIL (P)";
        case 11:
            return "FAIL (D)";
        case 12:
            return "FAIL (T)";
        case 13:
            return "FAIL (F)";
        case 14:
            return "FAIL (C)";
        case 15:
            return "FAIL (M)";
        case 16:
            return "FAIL (E)";
        case 17:
            return "MISSED STAGE";
        case 18:
            return "FAIL (DL)";
        case 19:
            return "FAIL (CL)";
        case 20:
            return "FAIL (TE)";
        case 21:
            return "NOT CYCLE TESTED?";
        case 22:
            return "CYCLE TEST FAILED!";
        case 24:
            return "UPDATE NOT TAKEN";
        default:
            return "FAIL (?)";
    }
}

std::string StateText(std::int32_t state, std::int32_t failCode) {
    using enum ActuatorState;
    switch (static_cast<ActuatorState>(state)) {
        case Searching:
            return "SEARCHING";
        case Reading:
            return "READING";
        case Updating:
            return "UPDATING";
        case Resetting:
            return "RESETTING";
        case Calibrating:
            return "CALIBRATING";
        case Testing:
            return "TESTING";
        case Finished:
            return "FINISHED";
        case Inactive:
            return "INACTIVE";
        case Recording:
            return "RECORDING";
        case ScanSerial:
            return "SCAN S/N";
        case Failed:
            return FailText(failCode);
        case CalibratingAisg:
            return "CALIBRATING AISG";
        case ConversionFinished:
            return "FINISHED";
        default:
            return "(unknown)";  // 11, 12, ConvertingToEricsson, anything else
    }
}

std::string StateText(const DeviceSnapshot& device) {
    return StateText(static_cast<std::int32_t>(device.state),
                     static_cast<std::int32_t>(device.failCode));
}

}  // namespace kvq::status
