#include <windows.h>

#include "cli/Terminal.h"

namespace kvq::cli {

namespace {

HANDLE StandardErrorConsole() {
    // A console answers GetConsoleMode; a pipe, a file or Wine's redirected
    // output does not.
    const HANDLE output = ::GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    const bool console = output != INVALID_HANDLE_VALUE && output != nullptr &&
                         ::GetFileType(output) == FILE_TYPE_CHAR &&
                         ::GetConsoleMode(output, &mode) != 0;
    return console ? output : nullptr;
}

}  // namespace

bool StandardErrorIsTerminal() {
    return StandardErrorConsole() != nullptr;
}

int StandardErrorColumns() {
    const HANDLE console = StandardErrorConsole();
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!console || !::GetConsoleScreenBufferInfo(console, &info)) return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

std::string LocalTimeText(std::time_t when) {
    std::tm local{};
    char text[32];
    if (localtime_s(&local, &when) != 0 ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
        return "";
    return text;
}

}  // namespace kvq::cli
