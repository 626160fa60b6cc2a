// The port list as the program uses it, whatever the platform: the
// platform's ports, or the ones KVQ_SERIAL_PORTS names instead.

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string_view>

#include "serial/PortDiscovery.h"
#include "serial/PortNames.h"

namespace kvq::serial {

namespace fs = std::filesystem;

namespace {

// The one place the variable is read: its text when set (even empty).
std::optional<std::string> PortMapText() {
    if (const char* text = std::getenv(PortMapVariable)) return std::string(text);
    return std::nullopt;
}

// The registry hands out zero-terminated texts.
std::string_view UpToNul(const std::string& text) {
    return std::string_view(text).substr(0, text.find('\0'));
}

}  // namespace

std::optional<int> ListedPortNumber(const SerialPortInfo& port) {
    if (UpToNul(port.valueName).find("Serial") == std::string_view::npos) return std::nullopt;
    constexpr std::string_view prefix = "COM";
    const std::string_view data = UpToNul(port.data);
    if (data.substr(0, prefix.size()) != prefix) return std::nullopt;
    const auto rest = data.substr(prefix.size());
    const auto digits = rest.substr(0, rest.find_first_not_of("0123456789"));
    if (digits.empty()) return std::nullopt;
    int number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error == std::errc::result_out_of_range) return std::numeric_limits<int>::max();
    if (error != std::errc() || end != digits.data() + digits.size()) return std::nullopt;
    return number;
}

std::string DescribePort(const SerialPortInfo& port) {
    std::string text = port.devicePath;
    const std::string& detail = !port.product.empty()        ? port.product
                                : !port.manufacturer.empty() ? port.manufacturer
                                                             : port.vidPid;
    if (!detail.empty()) text += (text.empty() ? "" : ", ") + detail;
    return text;
}

std::string DescribeAdapter(const SerialPortInfo& port) {
    std::string text = port.manufacturer;
    if (!port.product.empty()) text += (text.empty() ? "" : " ") + port.product;
    std::string bracket = port.serialNumber;
    if (!port.vidPid.empty()) bracket += (bracket.empty() ? "" : ", ") + port.vidPid;
    if (!bracket.empty()) text += (text.empty() ? "(" : " (") + bracket + ")";
    return text;
}

std::string AdapterIdentity(const SerialPortInfo& port) {
    if (!port.stableName.empty()) return port.stableName;
    if (port.vidPid.empty()) return {};
    std::string identity = "usb:" + port.vidPid;
    if (!port.serialNumber.empty()) identity += ":" + port.serialNumber;
    return identity;
}

bool MatchesUsbPortSpec(const UsbPortSpec& spec, const SerialPortInfo& port) {
    std::string vidPid = port.vidPid;
    std::transform(vidPid.begin(), vidPid.end(), vidPid.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (vidPid != spec.vendor + ":" + spec.product) return false;
    return spec.serial.empty() || spec.serial == port.serialNumber;
}

std::optional<std::string> DeviceForUsbPortSpec(const UsbPortSpec& spec,
                                                const std::vector<SerialPortInfo>& ports) {
    for (const auto& port : ports) {
        if (MatchesUsbPortSpec(spec, port)) return port.devicePath;
    }
    return std::nullopt;
}

std::vector<SerialPortInfo> ListSerialPorts(const fs::path& sysfsRoot,
                                            const fs::path& byIdDirectory) {
    const auto variable = PortMapText();
    if (!variable) return DiscoverSerialPorts(sysfsRoot, byIdDirectory);

    // Named by hand: still worth saying what adapter a /dev/ttyUSBn path is.
    const auto discovered = DiscoverSerialPorts(sysfsRoot, byIdDirectory);
    std::vector<SerialPortInfo> ports;
    for (const auto& entry : ParsePortMap(*variable)) {
        SerialPortInfo info;
        const auto same = std::find_if(discovered.begin(), discovered.end(), [&](const auto& d) {
            return d.devicePath == entry.devicePath;
        });
        if (same != discovered.end()) info = *same;
        info.valueName = entry.devicePath + " Serial";
        info.data = entry.comName;
        info.devicePath = entry.devicePath;
        ports.push_back(std::move(info));
    }
    return ports;
}

PortMap BuildPortMap() {
    if (const auto text = PortMapText()) return ParsePortMap(*text);
    PortMap map;
    for (const auto& port : DiscoverSerialPorts())
        map.push_back({port.data, port.devicePath});
    return map;
}

std::optional<std::string> DevicePathForPortName(const std::string& name) {
    if (!name.empty() && name.front() == '/') {
        return name;
    }
    if (IsUsbPortSpec(name)) {
        std::string error;
        const auto spec = ParseUsbPortSpec(name, error);
        if (!spec) return std::nullopt;
        return DeviceForUsbPortSpec(*spec, ListSerialPorts());
    }
    if (!IsComName(name)) {
        return std::nullopt;
    }
    for (const auto& entry : BuildPortMap()) {
        if (entry.comName == name) {
            return entry.devicePath;
        }
    }
    return std::nullopt;
}

std::vector<SerialPortInfo> ListedPortsInOrder(const std::vector<SerialPortInfo>& ports) {
    std::vector<std::pair<int, const SerialPortInfo*>> numbered;
    for (const auto& port : ports) {
        const auto number = ListedPortNumber(port);
        // COM0 and a number too large to read name no port.
        if (!number || *number < 1 || *number == std::numeric_limits<int>::max()) continue;
        const bool seen = std::any_of(numbered.begin(), numbered.end(),
                                      [&](const auto& n) { return n.first == *number; });
        if (!seen) numbered.emplace_back(*number, &port);
    }
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<SerialPortInfo> ordered;
    ordered.reserve(numbered.size());
    for (const auto& [number, port] : numbered)
        ordered.push_back(*port);
    return ordered;
}

}  // namespace kvq::serial
