#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace kvq::core {

// File names travel through the tool as UTF-8 text: from the command line, in
// messages, in the trace's title. A path is made from such text here and
// nowhere else, because the plain std::string constructor reads it in the
// system's narrow code page on Windows, where a name outside ASCII then names
// another file. On Linux both directions leave the bytes as they are.
inline std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8Text(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

}  // namespace kvq::core
