#pragma once

#include <ctime>
#include <string>

namespace kvq::cli {

// Whether the standard error is a terminal (a progress bar is then drawn in place).
bool StandardErrorIsTerminal();
// How many columns the terminal on the standard error has; 0 when not known.
int StandardErrorColumns();
// The local date and time of `when`: "2026-12-11 14:03:27".
std::string LocalTimeText(std::time_t when);

}  // namespace kvq::cli
