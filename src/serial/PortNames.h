#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvq::serial {

// Which device a port name ("COM1" .. "COM8") stands for.
struct PortMapEntry {
    std::string comName;     // "COM3"
    std::string devicePath;  // "/tmp/vtty"
};
using PortMap = std::vector<PortMapEntry>;

// Environment variable that replaces port discovery completely, for tests and
// unusual set-ups: "COM1=/dev/ttyUSB0;COM3=/tmp/vtty".
inline constexpr const char* PortMapVariable = "KVQ_SERIAL_PORTS";

// Upper-case "COM" and at least one digit: the names the rest of the program uses.
bool IsComName(std::string_view name);

// A USB adapter named by what it is rather than where it is plugged in:
// "usb:VID:PID" or "usb:VID:PID:SERIAL", VID and PID four hexadecimal digits.
struct UsbPortSpec {
    std::string vendor;   // "0403", lower case
    std::string product;  // "6001", lower case
    std::string serial;   // empty: any serial number
};

// Whether a name is meant as a USB spec: it starts with "usb:" in any case.
bool IsUsbPortSpec(std::string_view name);

// Reads a USB spec; the serial number, when given, must not be empty and is
// compared exactly. A malformed spec gives nullopt and says why in `error`.
std::optional<UsbPortSpec> ParseUsbPortSpec(std::string_view text, std::string& error);

// Reads the variable's format. Entries are separated by ';', blanks around the
// parts are ignored. An entry is kept only when its name is "COM" and a number
// and its path is absolute; anything else is skipped. The first entry for a
// name wins.
PortMap ParsePortMap(std::string_view text);

// The ports known now: the environment variable when it is set (even empty),
// otherwise the ports found on this machine.
PortMap BuildPortMap();

// The device to open for a name: a name starting with '/' is a device path and
// is used as it is (a link such as a /dev/serial/by-id name is followed when
// the device is opened, so it finds the adapter under whatever tty it has
// now); "COMn" goes through BuildPortMap(); a USB spec names the first listed
// port whose adapter matches it, looked up afresh on every call. Anything
// else, or a name that maps to nothing now, gives nullopt.
std::optional<std::string> DevicePathForPortName(const std::string& name);

}  // namespace kvq::serial
