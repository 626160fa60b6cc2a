#pragma once

#include <filesystem>
#include <system_error>

namespace kvq::app {

// A path made absolute against the working directory of now, so it still
// names the same file after the demo has moved into its own directory; as
// given when the working directory cannot be had.
inline std::filesystem::path AbsoluteOrAsGiven(const std::filesystem::path& path) {
    std::error_code ignored;
    auto absolute = std::filesystem::absolute(path, ignored);
    return absolute.empty() ? path : absolute;
}

}  // namespace kvq::app
