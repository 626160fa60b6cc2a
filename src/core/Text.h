#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
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

// A tilt typed in degrees ("6.5", "-1.5", " 7 ", "+2.50") in tenths of a
// degree: an optional sign, digits, at most one decimal that counts (further
// zeros are allowed), within 16 bits. No exponents, no "nan", nothing a typing
// slip could turn into a wild tilt; none otherwise.
inline std::optional<std::int32_t> TiltFromText(std::string_view typed) {
    const std::string_view text = Trim(typed);
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    const auto isDigit = [&](std::size_t at) {
        return at < text.size() && text[at] >= '0' && text[at] <= '9';
    };
    std::int64_t tenths = 0;
    std::size_t digits = 0;
    for (; isDigit(i); ++i, ++digits) {
        tenths = tenths * 10 + (text[i] - '0');
        if (tenths > 100000) return std::nullopt;
    }
    tenths *= 10;
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (isDigit(i)) {
            tenths += text[i++] - '0';
            ++digits;
        }
        while (i < text.size() && text[i] == '0')
            ++i;
    }
    if (digits == 0 || i != text.size()) return std::nullopt;
    if (negative) tenths = -tenths;
    if (tenths < INT16_MIN || tenths > INT16_MAX) return std::nullopt;
    return static_cast<std::int32_t>(tenths);
}

}  // namespace kvq::core
