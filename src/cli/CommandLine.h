#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What kvqctl was asked to do.
struct CliOptions {
    enum class Command { Status, Monitor, SetTilt, ChangeModel, UpdateFirmware };

    std::optional<std::string> port;  // COMn or /dev/PATH; none: the lowest present port
    std::optional<double> timeoutSeconds;
    std::optional<std::string> firmware;  // the firmware file; none: vlx400fw.bin
    bool json = false;
    bool demo = false;
    Command command = Command::Status;
    std::int32_t tilt = 0;  // tenths of a degree, for set-tilt
    std::string modelName;  // for change-model
};

// Parses the arguments after the program name. On failure answers nothing and
// puts a one-line reason in error.
std::optional<CliOptions> ParseCommandLine(const std::vector<std::string>& args,
                                           std::string& error);

// A tilt in degrees as written ("6.5", "-1.5", "10") in tenths of a degree;
// at most one decimal, within the 16-bit range of the wire.
std::optional<std::int32_t> ParseTiltDegrees(const std::string& text);

extern const char* const CliUsage;
