#include "serial/SerialLine.h"

#include <optional>

#include "serial/PortNames.h"

namespace kvq::serial {

namespace {

// The device a port name stands for: a path as it is, a COM name through the port map.
std::optional<std::string> DeviceOf(const std::string& portName) {
    if (!portName.empty() && portName.front() == '/') return portName;
    return DevicePathForPortName(portName);
}

std::string PermissionAdvice(const OpenFailureFacts& facts) {
    if (facts.joiningGroupHelps) {
        return "permission denied. Add your user to the " + facts.group +
               " group (sudo usermod -aG " + facts.group + " $USER) and log in again.";
    }
    if (facts.membershipNotActive) {
        return "permission denied. Your user is in the " + facts.group +
               " group, but this login is not yet: log out and in again.";
    }
    return "permission denied. Ask the administrator for read and write access to the port.";
}

}  // namespace

std::string DescribeLowLatency(const LowLatency& latency) {
    if (!latency.driverFlag && latency.timerMs < 0)
        return "low latency: not available (no such driver setting, or refused)";
    std::string text = "low latency:";
    if (latency.driverFlag) text += " driver flag set";
    if (latency.timerMs >= 0) {
        text += std::string(latency.driverFlag ? "," : "") + " latency timer " +
                std::to_string(latency.timerMs) + " ms";
        if (latency.timerWasMs >= 0) text += " (was " + std::to_string(latency.timerWasMs) + " ms)";
    }
    return text;
}

std::string DescribeOpenFailure(OpenFailure failure, const std::string& portName, int error,
                                const OpenFailureFacts& facts) {
    std::string port = portName;
    if (portName.empty() || portName.front() != '/') {
        if (const auto path = DevicePathForPortName(portName)) {
            port += " (" + *path + ")";
        }
    }
    const std::string prefix = "Cannot open serial port " + port + ": ";
    switch (failure) {
        case OpenFailure::None:
            return "Serial port " + port + " is open.";
        case OpenFailure::NoSuchDevice:
            return prefix + "the port does not exist or is not connected.";
        case OpenFailure::Busy:
            return prefix + "another program is using it" +
                   (facts.holder.empty() ? std::string() : " (" + facts.holder + ")") +
                   ". Close that program and try again.";
        case OpenFailure::PermissionDenied:
            return prefix + PermissionAdvice(facts);
        case OpenFailure::NotASerialPort:
            return prefix + "the device is not a serial port.";
        case OpenFailure::Other:
            break;
    }
    if (error != 0) {
        return prefix + SystemErrorText(error) + " (error " + std::to_string(error) + ").";
    }
    return prefix + "the port could not be set up.";
}

std::string DescribeOpenFailure(OpenFailure failure, const std::string& portName, int error) {
    const auto device = DeviceOf(portName);
    const OpenFailureFacts facts =
        device ? GatherOpenFailureFacts(failure, *device) : OpenFailureFacts{};
    return DescribeOpenFailure(failure, portName, error, facts);
}

}  // namespace kvq::serial
