#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"

namespace kvq::sim {

// What the vlx400-sim command line asks for.
struct SimCommandLine {
    SimOptions options;
    Vlx400Settings actuator;
    bool echo = false;                  // the plain echo application instead of the E-VLX400
    std::optional<std::string> device;  // serve this instead of a new pseudo-terminal
    std::optional<std::string> trace;   // every frame received and sent goes to this file
    bool help = false;
};

struct SimCommandLineResult {
    std::optional<SimCommandLine> commandLine;
    std::string error;  // one line, when commandLine is empty
};

// The arguments after the program name.
SimCommandLineResult ParseSimCommandLine(std::span<const std::string_view> arguments);

const char* SimUsage();

}  // namespace kvq::sim
