#pragma once

#include <windows.h>

#include <string>

namespace kvq::ui {

// Saves what the screen shows of the window, frame and caption included, as a
// PNG file. False when nothing could be taken or written.
bool SaveWindowPicture(HWND window, const std::string& path);

}  // namespace kvq::ui
