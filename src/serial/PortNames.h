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

// Reads the variable's format. Entries are separated by ';', blanks around the
// parts are ignored. An entry is kept only when its name is "COM" and a number
// and its path is absolute; anything else is skipped. The first entry for a
// name wins.
PortMap ParsePortMap(std::string_view text);

// The ports known now: the environment variable when it is set (even empty),
// otherwise the ports found on this machine.
PortMap BuildPortMap();

// The device to open for a name: a name starting with '/' is a device path and
// is used as it is; "COMn" goes through BuildPortMap(). Anything else, or a
// COM name that maps to nothing, gives nullopt.
std::optional<std::string> DevicePathForPortName(const std::string& name);

}  // namespace kvq::serial
