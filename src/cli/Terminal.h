#pragma once

namespace kvq::cli {

// Whether the standard output is a terminal (a progress line is then drawn).
bool StandardOutputIsTerminal();

}  // namespace kvq::cli
