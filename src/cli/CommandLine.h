#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvq::cli {

// What kvqctl was asked to do.
struct CliOptions {
    enum class Command { Status, Monitor, SetTilt, ChangeModel, UpdateFirmware, Ports, Models };

    std::optional<std::string> port;  // COMn or /dev/PATH; none: the first present port
    std::optional<double> timeoutSeconds;
    std::optional<std::string> firmware;   // the firmware file; none: vlx400fw.bin
    std::optional<std::string> traceFile;  // --trace: the line's frames go there
    bool json = false;
    bool demo = false;
    // --help or --version: say it and end; no command is needed then.
    bool help = false;
    bool version = false;
    Command command = Command::Status;
    std::int32_t tilt = 0;  // tenths of a degree, for set-tilt
    std::string modelName;  // for change-model: a display name or a key
};

// Parses the arguments after the program name. On failure answers nothing and
// puts a one-line reason in error.
std::optional<CliOptions> ParseCommandLine(const std::vector<std::string>& args,
                                           std::string& error);

// Whether the arguments ask for JSON output, read even from a command line
// that does not parse, so that its error can be given as JSON too.
bool AsksForJson(const std::vector<std::string>& args);

// A tilt in degrees as written ("6.5", "-1.5", "10") in tenths of a degree;
// at most one decimal, within the 16-bit range of the wire.
std::optional<std::int32_t> ParseTiltDegrees(const std::string& text);

// How long a command waits by default, in seconds; none for monitor, which
// runs until it is interrupted. update-firmware's grows with the size of the
// firmware file.
std::optional<double> DefaultTimeoutSeconds(CliOptions::Command command,
                                            std::uint64_t firmwareFileSize = 0);

// The usage: every command, option, default and exit code.
std::string UsageText();
// "kvqctl 1.3.1".
std::string VersionText();

// Whether a command talks to the actuator (ports and models need none).
bool NeedsActuator(CliOptions::Command command);

}  // namespace kvq::cli
