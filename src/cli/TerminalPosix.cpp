#include <unistd.h>

#include "cli/Terminal.h"

namespace kvq::cli {

bool StandardOutputIsTerminal() {
    return isatty(STDOUT_FILENO) != 0;
}

}  // namespace kvq::cli
