#include "serial/PortNames.h"

#include <algorithm>

#include "core/Text.h"

using namespace kvq::core;

namespace kvq::serial {

namespace {

constexpr std::string_view Blanks = " \t\r\n";

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
        const auto name = Trim(entry.substr(0, equals), Blanks);
        const auto path = Trim(entry.substr(equals + 1), Blanks);
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

}  // namespace kvq::serial
