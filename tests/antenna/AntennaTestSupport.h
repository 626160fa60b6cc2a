#pragma once

#include <string>
#include <string_view>

#include "antenna/AntennaTable.h"
#include "support/TempDir.h"

namespace kvq::antenna {

// A configuration text of n groups: group i holds the pair (i + 1, 0x1000 + i).
inline std::string ConfigText(int groups) {
    const auto hex4 = [](unsigned value) {
        static constexpr char digits[] = "0123456789ABCDEF";
        std::string text;
        for (int shift = 12; shift >= 0; shift -= 4)
            text += digits[(value >> shift) & 0xF];
        return text;
    };
    std::string text;
    for (int i = 0; i < groups; ++i) {
        text += hex4(static_cast<unsigned>(i + 1)) + hex4(static_cast<unsigned>(0x1000 + i));
    }
    return text;
}

inline bool HasWarning(const CAntennaTable& table, int line, std::string_view part) {
    for (const auto& warning : table.LoadWarnings()) {
        if (warning.line == line && warning.text.find(part) != std::string::npos) return true;
    }
    return false;
}

}  // namespace kvq::antenna
