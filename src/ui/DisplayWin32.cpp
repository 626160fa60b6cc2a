#include <windows.h>

#include <cstdio>

#include "ui/AppOptions.h"

namespace kvq::ui {

// A windowed program has no console of its own: started from a console
// (kvq.exe --help in a command prompt) it writes to that one. Streams handed
// over already (redirected, or under a script) stay as they are.
void ConnectStandardStreams() {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    const bool have = (error != nullptr && error != INVALID_HANDLE_VALUE) ||
                      (output != nullptr && output != INVALID_HANDLE_VALUE);
    if (have || !AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!std::freopen("CONOUT$", "w", stdout) || !std::freopen("CONOUT$", "w", stderr)) return;
    std::fputs("\n", stdout);  // off the prompt's line
}

// A Windows desktop program always has its desktop.
bool DisplayAvailable() {
    return true;
}

}  // namespace kvq::ui
