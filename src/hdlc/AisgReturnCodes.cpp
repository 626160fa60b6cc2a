#include "hdlc/AisgReturnCodes.h"

#include <algorithm>
#include <iterator>

namespace kvq::hdlc {

namespace {

// The standard return codes of AISG 2.0 (3GPP's common set and AISG's own).
struct ReturnCode {
    std::uint8_t code;
    std::string_view name;
};
constexpr ReturnCode AisgReturnCodes[] = {
    {0x00, "OK"},
    {0x02, "MotorJam"},
    {0x03, "ActuatorJam"},
    {0x05, "Busy"},
    {0x06, "ChecksumError"},
    {AisgFail, "FAIL"},
    {0x0E, "NotCalibrated"},
    {0x0F, "NotConfigured"},
    {0x11, "HardwareError"},
    {0x13, "OutOfRange"},
    {0x19, "UnknownProcedure"},
    {0x1A, "MinorTMAFault"},
    {0x1B, "MajorTMAFault"},
    {0x1C, "UnsupportedValue"},
    {0x1D, "ReadOnly"},
    {0x1E, "UnknownParameter"},
    {0x21, "WorkingSoftwareMissing"},
    {0x22, "InvalidFileContent"},
    {0x24, "FormatError"},
    {0x25, "UnsupportedProcedure"},
    {0x26, "InvalidProcedureSequence"},
    {0x27, "ActuatorInterference"},
};

}  // namespace

std::optional<std::string_view> AisgReturnCodeName(std::uint8_t code) {
    const auto* known =
        std::find_if(std::begin(AisgReturnCodes), std::end(AisgReturnCodes),
                     [code](const ReturnCode& entry) { return entry.code == code; });
    if (known == std::end(AisgReturnCodes)) return std::nullopt;
    return known->name;
}

}  // namespace kvq::hdlc
