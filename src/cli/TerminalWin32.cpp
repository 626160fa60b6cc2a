#include <windows.h>

#include "cli/Terminal.h"

namespace kvq::cli {

bool StandardOutputIsTerminal() {
    // A console answers GetConsoleMode; a pipe, a file or Wine's redirected
    // output does not.
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    return output != INVALID_HANDLE_VALUE && output != nullptr &&
           ::GetFileType(output) == FILE_TYPE_CHAR && ::GetConsoleMode(output, &mode) != 0;
}

}  // namespace kvq::cli
