#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvq::ui {

// Writes an 8-bit RGB picture (rows top to bottom, three bytes a pixel) as a
// PNG file, without a compression library: the image data goes into stored
// deflate blocks. False when the file cannot be written or the size is wrong.
bool WriteRgbPng(const std::string& path, int width, int height,
                 const std::vector<std::uint8_t>& rgb);

}  // namespace kvq::ui
