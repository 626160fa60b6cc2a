#include "serial/PortNames.h"

#include <algorithm>

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

}  // namespace

bool IsComName(std::string_view name) {
    constexpr std::string_view prefix = "COM";
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) {
        return false;
    }
    const auto digits = name.substr(prefix.size());
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

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
