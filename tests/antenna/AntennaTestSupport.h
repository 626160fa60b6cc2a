#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

#include "antenna/AntennaTable.h"

namespace kvq::antenna {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TableDir {
public:
    TableDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kvq-antenna-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        path_ = pattern;
    }
    ~TableDir() {
        std::error_code error;
        std::filesystem::remove_all(path_, error);
    }
    TableDir(const TableDir&) = delete;
    TableDir& operator=(const TableDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    std::filesystem::path Write(const std::filesystem::path& name, std::string_view bytes) const {
        const auto file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + file.string());
        return file;
    }

private:
    std::filesystem::path path_;
};

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
