#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace kvq::core {

// Small text helpers the layers share.

// The text without the given blanks at either end.
constexpr std::string_view Trim(std::string_view text, std::string_view blanks = " \t") {
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

// A tilt in tenths of a degree as the tool shows it everywhere: one decimal
// ("6.5", "-1.5", "0.0").
inline std::string TiltText(std::int32_t tenths) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1lf", tenths / 10.0);
    return text;
}

}  // namespace kvq::core
