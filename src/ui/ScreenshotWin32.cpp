#include "ui/ScreenshotWin32.h"

#include <cstdint>
#include <vector>

#include "ui/PngFile.h"

namespace kvq::ui {

bool SaveWindowPicture(HWND window, const std::string& path) {
    RECT rect = {};
    if (!GetWindowRect(window, &rect)) return false;
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0) return false;

    // Everything drawn so far reaches the screen first.
    RedrawWindow(window, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW | RDW_FRAME);
    GdiFlush();

    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    const bool copied =
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY) != FALSE;
    SelectObject(memory, old);

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top row first
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<std::uint8_t> bgra(static_cast<std::size_t>(width) *
                                   static_cast<std::size_t>(height) * 4);
    const bool read = copied && GetDIBits(memory, bitmap, 0, static_cast<UINT>(height), bgra.data(),
                                          &info, DIB_RGB_COLORS) == height;
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    if (!read) return false;

    std::vector<std::uint8_t> rgb;
    rgb.reserve(bgra.size() / 4 * 3);
    for (std::size_t i = 0; i < bgra.size(); i += 4) {
        rgb.push_back(bgra[i + 2]);
        rgb.push_back(bgra[i + 1]);
        rgb.push_back(bgra[i]);
    }
    return WriteRgbPng(path, width, height, rgb);
}

}  // namespace kvq::ui
