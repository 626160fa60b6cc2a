#include "serial/SerialLine.h"

#include "serial/PortNames.h"

namespace kvq::serial {

std::string DescribeOpenFailure(OpenFailure failure, const std::string& portName, int error) {
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
            return prefix + "another program is using it. Close that program and try again.";
        case OpenFailure::PermissionDenied:
            return prefix +
                   "permission denied. Add your user to the dialout group (sudo usermod -aG "
                   "dialout $USER) and log in again.";
        case OpenFailure::NotASerialPort:
            return prefix + "the device is not a serial port.";
        case OpenFailure::Other:
            break;
    }
    if (error != 0) {
        return prefix + SystemErrorText(error) + " (error " +
               std::to_string(error) + ").";
    }
    return prefix + "the port could not be set up.";
}

}  // namespace kvq::serial
