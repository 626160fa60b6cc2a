#include "cli/CommandLine.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>

const char* const CliUsage =
    "usage: kvqctl [--port COMn|/dev/PATH] [--timeout SECONDS] [--json] [--demo]\n"
    "              [--firmware FILE] COMMAND\n"
    "commands:\n"
    "  status              wait until the actuator is checked, print its identity and tilt\n"
    "  monitor             print status changes until interrupted or the time-out\n"
    "  set-tilt DEGREES    set the electrical tilt (e.g. 6.5 or -1.5) and read it back\n"
    "  change-model NAME   assign the antenna model with this display name\n"
    "  update-firmware     download the firmware file (--firmware FILE, default\n"
    "                      vlx400fw.bin in the working directory) when the actuator's\n"
    "                      version differs, and wait until it is ready on it; the only\n"
    "                      command that writes the actuator's software. Default time-out\n"
    "                      120 s plus 1 s per KiB of the file\n";

std::optional<std::int32_t> ParseTiltDegrees(const std::string& text) {
    // Digits, an optional sign and at most one decimal: no exponents, no
    // "nan", nothing a typing slip could turn into a wild tilt.
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::int64_t whole = 0;
    std::size_t digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        whole = whole * 10 + (text[i++] - '0');
        if (whole > 100000) return std::nullopt;
        ++digits;
    }
    std::int64_t tenth = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        if (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            tenth = text[i++] - '0';
            ++digits;
        }
        // A second decimal that is not zero asks for more precision than the
        // actuator has.
        while (i < text.size() && text[i] == '0')
            ++i;
    }
    if (digits == 0 || i != text.size()) return std::nullopt;
    std::int64_t tenths = whole * 10 + tenth;
    if (negative) tenths = -tenths;
    if (tenths < std::numeric_limits<std::int16_t>::min() ||
        tenths > std::numeric_limits<std::int16_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(tenths);
}

std::optional<CliOptions> ParseCommandLine(const std::vector<std::string>& args,
                                           std::string& error) {
    CliOptions options;
    std::vector<std::string> words;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        // A negative tilt is a value, not an option.
        const bool looksNumeric =
            arg.size() > 1 && arg[0] == '-' &&
            (std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
        if (optionsEnded || arg.empty() || arg[0] != '-' || arg == "-" || looksNumeric) {
            words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--demo") {
            options.demo = true;
        } else if (arg == "--port" || arg == "--timeout" || arg == "--firmware") {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            if (arg == "--firmware") {
                if (value.empty()) {
                    error = "--firmware needs the path of a firmware file";
                    return std::nullopt;
                }
                options.firmware = value;
            } else if (arg == "--port") {
                if (value.empty()) {
                    error = "--port needs a port name such as COM1 or /dev/ttyUSB0";
                    return std::nullopt;
                }
                options.port = value;
            } else {
                char* end = nullptr;
                const double seconds = std::strtod(value.c_str(), &end);
                if (value.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
                    seconds > 86400) {
                    error = "--timeout needs a number of seconds above 0 (at most 86400), not '" +
                            value + "'";
                    return std::nullopt;
                }
                options.timeoutSeconds = seconds;
            }
        } else {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        }
    }
    if (words.empty()) {
        error = "no command given";
        return std::nullopt;
    }
    const std::string& command = words[0];
    const std::size_t wanted = (command == "set-tilt" || command == "change-model") ? 2 : 1;
    if (command == "status") {
        options.command = CliOptions::Command::Status;
    } else if (command == "monitor") {
        options.command = CliOptions::Command::Monitor;
    } else if (command == "set-tilt") {
        options.command = CliOptions::Command::SetTilt;
    } else if (command == "change-model") {
        options.command = CliOptions::Command::ChangeModel;
    } else if (command == "update-firmware") {
        options.command = CliOptions::Command::UpdateFirmware;
    } else {
        error = "unknown command '" + command + "'";
        return std::nullopt;
    }
    if (words.size() < wanted) {
        error = command + (command == "set-tilt" ? " needs the tilt in degrees, e.g. 6.5"
                                                 : " needs the model's display name");
        return std::nullopt;
    }
    if (words.size() > wanted) {
        error = "unexpected argument '" + words[wanted] + "'";
        return std::nullopt;
    }
    if (options.command == CliOptions::Command::SetTilt) {
        const auto tilt = ParseTiltDegrees(words[1]);
        if (!tilt) {
            error = "'" + words[1] + "' is not a tilt in degrees (e.g. 6.5 or -1.5, one decimal)";
            return std::nullopt;
        }
        options.tilt = *tilt;
    }
    if (options.command == CliOptions::Command::ChangeModel) options.modelName = words[1];
    return options;
}
