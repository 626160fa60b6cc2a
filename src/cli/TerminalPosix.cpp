#include <sys/ioctl.h>
#include <unistd.h>

#include "cli/Terminal.h"

namespace kvq::cli {

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

int StandardErrorColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) return 0;
    return size.ws_col;
}

std::string LocalTimeText(std::time_t when) {
    std::tm local{};
    char text[32];
    if (!localtime_r(&when, &local) ||
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0)
        return "";
    return text;
}

}  // namespace kvq::cli
