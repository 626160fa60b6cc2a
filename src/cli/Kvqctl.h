#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cli/Output.h"

namespace kvq::serial {
class SerialLine;
}  // namespace kvq::serial

namespace kvq::cli {

// How a run hears of Ctrl-C and SIGTERM. `watch` is handed, before the
// workers start, what to call with the signal's number (from any thread);
// after `unwatch` it is not called any more. Either may be empty.
struct StopSignalHook {
    std::function<void(std::function<void(int)>)> watch;
    std::function<void()> unwatch;
};

// What a run of kvqctl takes from the process it runs in: the program hands
// its own, a test its streams, its stop signals and perhaps a line of its own.
struct Surroundings {
    Console console;
    StopSignalHook stopSignals;
    // The tool's line, opened by any port name, instead of the system's serial
    // ports (unless --demo); it must outlive the run.
    serial::SerialLine* line = nullptr;
};

// kvqctl's own streams, terminal and stop signals.
Surroundings ThisProcess();

// One run of kvqctl with the arguments after the program's name: parses them,
// sets up the demo, the settings, the antenna table, the firmware file and
// the port, runs the command's session and shuts down. Answers the exit code.
int RunKvqctl(const std::vector<std::string>& args, const Surroundings& surroundings);

}  // namespace kvq::cli
