#include <unistd.h>

#include "cli/Terminal.h"

bool StandardOutputIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}
