#include "serial/PortNames.h"

#include <algorithm>
#include <cstdlib>

#include "serial/PortDiscovery.h"

namespace {

std::string_view Trim(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// Upper-case "COM" and at least one digit: the names the rest of the program uses.
bool IsComName(std::string_view name) {
    constexpr std::string_view prefix = "COM";
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) {
        return false;
    }
    const auto digits = name.substr(prefix.size());
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Ports found on this machine, under the COM names the port list gives them.
PortMap DiscoverPorts() {
    PortMap map;
    for (const auto& port : DiscoverSerialPorts())
        map.push_back({port.data, port.devicePath});
    return map;
}

}  // namespace

PortMap ParsePortMap(std::string_view text) {
    PortMap map;
    while (!text.empty()) {
        const auto end = text.find(';');
        const auto entry = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

        const auto equals = entry.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const auto name = Trim(entry.substr(0, equals));
        const auto path = Trim(entry.substr(equals + 1));
        if (!IsComName(name) || path.empty() || path.front() != '/') {
            continue;
        }
        const bool known = std::any_of(map.begin(), map.end(),
                                       [&](const PortMapEntry& e) { return e.comName == name; });
        if (!known) {
            map.push_back({std::string(name), std::string(path)});
        }
    }
    return map;
}

PortMap BuildPortMap() {
    if (const char* text = std::getenv(PortMapVariable)) {
        return ParsePortMap(text);
    }
    return DiscoverPorts();
}

std::optional<std::string> DevicePathForPortName(const std::string& name) {
    if (!name.empty() && name.front() == '/') {
        return name;
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
