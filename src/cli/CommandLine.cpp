#include "cli/CommandLine.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <sstream>
#include <utility>

#include "cli/FirmwareUpdate.h"
#include "serial/PortNames.h"

namespace kvq::cli {

namespace {

using Command = CliOptions::Command;

// Room for an actuator that is still busy with a long move or a conversion
// before the operation itself.
constexpr double OperationTimeoutSeconds = 900;
// A check normally ends within seconds; a minute says clearly that nothing answers.
constexpr double StatusTimeoutSeconds = 60;
constexpr double MaxTimeoutSeconds = 86400;

struct CommandEntry {
    const char* name;
    Command command;
    const char* argument;  // its one argument's name, or null
    const char* description;
};

constexpr CommandEntry Commands[] = {
    {"status", Command::Status, nullptr,
     "wait until the actuator is checked, print its identity and tilt"},
    {"monitor", Command::Monitor, nullptr,
     "print status changes until interrupted or the time-out"},
    {"set-tilt", Command::SetTilt, "DEGREES",
     "set the electrical tilt (e.g. 6.5 or -1.5, one decimal) and read it\n"
     "back; outside the model's range: exit 2, nothing sent"},
    {"change-model", Command::ChangeModel, "NAME",
     "assign the antenna model with this display name or key (letter case\n"
     "ignored when that leaves one model); a name that is unknown or\n"
     "ambiguous: exit 2 before the port is opened"},
    {"update-firmware", Command::UpdateFirmware, nullptr,
     "download the firmware file to the actuator when its version differs\n"
     "and wait until the actuator is ready on it; the only command that\n"
     "writes the actuator's software. Already at the file's version: exit 0,\n"
     "nothing sent; an unusable file: exit 2 before the port is opened"},
    {"ports", Command::Ports, nullptr,
     "list the serial ports found (COM name, device, adapter and its serial\n"
     "number, and the name that finds the adapter after a replug); needs\n"
     "no actuator"},
    {"models", Command::Models, nullptr,
     "list the antenna table's models (key, display name, tilt range);\n"
     "needs no actuator"},
};

const char* const Footer =
    "Defaults:\n"
    "  port       the first port present: the lowest COM number that 'kvqctl ports' lists;\n"
    "             KVQ_SERIAL_PORTS=\"COM1=/dev/ttyUSB0;COM3=/tmp/vtty\" replaces the discovery\n"
    "  time-out   status 60 s; set-tilt and change-model 900 s; update-firmware 120 s plus\n"
    "             1 s per KiB of the firmware file; monitor runs until interrupted\n"
    "  files      all in the working directory: the settings KVQ.INI, the antenna table (the\n"
    "             greatest name matching *.ascu), the firmware file vlx400fw.bin (another\n"
    "             with --firmware FILE)\n"
    "\n"
    "Firmware: only update-firmware writes the actuator's software. Every other command\n"
    "leaves it alone and, when the firmware file holds another version, names both versions\n"
    "on the standard error (with --json also as \"firmwareFileVersion\").\n"
    "\n"
    "Exit codes:\n"
    "  0    done, and the actuator ready without a problem\n"
    "  1    the actuator failed or reported a problem (an update it did not take too)\n"
    "  2    usage error or bad input (command line, settings, antenna table, model, tilt,\n"
    "       the firmware file for update-firmware)\n"
    "  3    time-out\n"
    "  4    no port, or the port could not be opened\n"
    "  130  interrupted (Ctrl-C); 143 terminated (SIGTERM); the port is closed first\n"
    "\n"
    "With --json the standard output carries only JSON, one object per line: one per status\n"
    "change, the final object last with \"exitCode\" and \"error\" (a sentence, or null on\n"
    "success); \"ready\" is true when the check is complete and no problem stands; \"progress\"\n"
    "is 0 to 100 during an operation, else 0. Messages for people go to the standard error.\n"
    "\n"
    "A firmware download and a model change show a progress bar with the time left on the\n"
    "standard error (a line at every tenth when it is not a terminal); monitor's lines start\n"
    "with the local date and time and the tilt.\n";

// Lists each command with its argument, as it is typed.
class UsageFormatter : public CLI::Formatter {
public:
    std::string make_subcommand(const CLI::App* sub) const override {
        std::string name = sub->get_name();
        for (const CLI::Option* positional : sub->get_options())
            if (positional->get_positional()) name += " " + positional->get_name();
        std::stringstream out;
        CLI::detail::format_help(out, name, sub->get_description(), get_column_width());
        return out.str();
    }
};

// Digits after a minus: a negative tilt, never an option.
bool LooksNumeric(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-' &&
           (std::isdigit(static_cast<unsigned char>(arg[1])) || arg[1] == '.');
}

// The parser and the places it writes to, built once per parse.
struct Parser {
    CLI::App app{"kvqctl: the E-VLX400 configuration tool without a desktop", "kvqctl"};
    std::string port;
    std::string timeout;
    std::string firmware;
    std::string trace;
    bool json = false;
    bool demo = false;
    bool version = false;
    std::vector<std::pair<CLI::App*, const CommandEntry*>> commands;
    std::vector<std::string> arguments = std::vector<std::string>(std::size(Commands));

    Parser() {
        app.formatter(std::make_shared<UsageFormatter>());
        app.get_formatter()->label("SUBCOMMAND", "COMMAND");
        app.get_formatter()->column_width(26);
        app.set_help_flag("-h,--help", "print this help and exit");
        app.add_flag("--version", version, "print the version and exit");
        app.add_option("--port", port,
                       "the serial port: COMn (any number), a device path (a\n"
                       "/dev/serial/by-id/ name finds the adapter again after a\n"
                       "replug) or a USB adapter by its ids and serial number;\n"
                       "default: the first port present")
            ->type_name("COMn|/dev/PATH|usb:VID:PID[:SERIAL]")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app.add_option("--timeout", timeout,
                       "give up after this many seconds (exit 3); default: status 60,\n"
                       "set-tilt and change-model 900, update-firmware 120 + 1 per\n"
                       "KiB of the file, monitor none")
            ->type_name("SECONDS")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app.add_option("--firmware", firmware,
                       "the firmware file that update-firmware installs and the other\n"
                       "commands compare with; default: vlx400fw.bin in the working\n"
                       "directory")
            ->type_name("FILE")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app.add_option("--trace", trace,
                       "write every frame sent and received to FILE as it happens:\n"
                       "time, direction, baud, octets and their meaning")
            ->type_name("FILE")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app.add_flag("--json", json, "JSON lines on the standard output (below)");
        app.add_flag("--demo", demo, "work with a simulated actuator inside the program, on COM1");
        app.footer(Footer);
        // Options may follow the command; what nothing takes is judged below,
        // with a reason in the tool's own words.
        app.fallthrough();
        app.allow_extras();
        // One command: a second command's name is an unexpected argument, never
        // a command that silently takes the first one's place.
        app.require_subcommand(0, 1);
        for (std::size_t i = 0; i < std::size(Commands); ++i) {
            const CommandEntry& entry = Commands[i];
            CLI::App* sub = app.add_subcommand(entry.name, entry.description);
            sub->group("Commands");
            sub->allow_extras();
            if (entry.argument) sub->add_option(entry.argument, arguments[i]);
            commands.emplace_back(sub, &entry);
        }
    }
};

std::optional<double> ParseTimeout(const std::string& value, std::string& error) {
    char* end = nullptr;
    const double seconds = std::strtod(value.c_str(), &end);
    if (value.empty() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
        seconds > MaxTimeoutSeconds) {
        error = "--timeout needs a number of seconds above 0 (at most 86400), not '" + value + "'";
        return std::nullopt;
    }
    return seconds;
}

}  // namespace

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
    Parser parser;
    CliOptions options;
    // CLI11 takes the arguments last first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        parser.app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        options.help = true;
        return options;
    } catch (const CLI::ArgumentMismatch& e) {
        // "--port: 1 required TEXT missing": only an option's missing value
        // gets here.
        const std::string what = e.what();
        error = what.substr(0, what.find(':')) + " needs a value";
        return std::nullopt;
    } catch (const CLI::ParseError& e) {
        error = e.what();
        return std::nullopt;
    }
    if (parser.version) {
        options.version = true;
        return options;
    }
    options.json = parser.json;
    options.demo = parser.demo;

    std::vector<std::string> rest = parser.app.remaining();
    // What nothing took after "--" is a word, never an option.
    const bool optionsEnded = !rest.empty() && rest.front() == "--";
    if (optionsEnded) rest.erase(rest.begin());
    const CLI::App* chosen = nullptr;
    std::size_t index = 0;
    for (std::size_t i = 0; i < parser.commands.size(); ++i) {
        if (parser.commands[i].first->parsed()) {
            chosen = parser.commands[i].first;
            index = i;
        }
    }
    const auto unwanted = [&](const std::string& arg, const char* otherwise) {
        error = (!optionsEnded && arg.size() > 1 && arg[0] == '-' && !LooksNumeric(arg))
                    ? "unknown option '" + arg + "'"
                    : std::string(otherwise) + " '" + arg + "'";
    };
    if (!chosen) {
        if (rest.empty()) {
            error = "no command given";
        } else {
            unwanted(rest.front(), "unknown command");
        }
        return std::nullopt;
    }
    const CommandEntry& entry = *parser.commands[index].second;
    options.command = entry.command;
    std::string argument = parser.arguments[index];
    // A negative tilt such as "-.5" is not taken by the parser as a value.
    if (entry.argument && argument.empty() && !rest.empty() && LooksNumeric(rest.front())) {
        argument = rest.front();
        rest.erase(rest.begin());
    }
    if (!rest.empty()) {
        unwanted(rest.front(), "unexpected argument");
        return std::nullopt;
    }
    if (parser.app.count("--port") > 0) {
        if (parser.port.empty()) {
            error = "--port needs a port name such as COM1 or /dev/ttyUSB0";
            return std::nullopt;
        }
        if (serial::IsUsbPortName(parser.port)) {
            std::string why;
            if (!serial::ParseUsbPortName(parser.port, why)) {
                error = "--port " + why;
                return std::nullopt;
            }
        }
        options.port = parser.port;
    }
    if (parser.app.count("--firmware") > 0) {
        if (parser.firmware.empty()) {
            error = "--firmware needs the path of a firmware file";
            return std::nullopt;
        }
        options.firmware = parser.firmware;
    }
    if (parser.app.count("--trace") > 0) {
        if (parser.trace.empty()) {
            error = "--trace needs a file name";
            return std::nullopt;
        }
        options.traceFile = parser.trace;
    }
    if (parser.app.count("--timeout") > 0) {
        options.timeoutSeconds = ParseTimeout(parser.timeout, error);
        if (!options.timeoutSeconds) return std::nullopt;
    }
    if (entry.argument && argument.empty()) {
        error = std::string(entry.name) + (entry.command == Command::SetTilt
                                               ? " needs the tilt in degrees, e.g. 6.5"
                                               : " needs the model's display name or key");
        return std::nullopt;
    }
    if (entry.command == Command::SetTilt) {
        const auto tilt = ParseTiltDegrees(argument);
        if (!tilt) {
            error = "'" + argument + "' is not a tilt in degrees (e.g. 6.5 or -1.5, one decimal)";
            return std::nullopt;
        }
        options.tilt = *tilt;
    }
    if (entry.command == Command::ChangeModel) options.modelName = argument;
    return options;
}

bool AsksForJson(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--") return false;
        if (arg == "--json") return true;
    }
    return false;
}

std::optional<double> DefaultTimeoutSeconds(Command command, std::uint64_t firmwareFileSize) {
    switch (command) {
        case Command::Status:
            return StatusTimeoutSeconds;
        case Command::Monitor:
        case Command::Ports:
        case Command::Models:
            return std::nullopt;
        case Command::SetTilt:
        case Command::ChangeModel:
            return OperationTimeoutSeconds;
        case Command::UpdateFirmware:
            return UpdateFirmwareTimeoutSeconds(firmwareFileSize);
    }
    return std::nullopt;
}

bool NeedsActuator(Command command) {
    return command != Command::Ports && command != Command::Models;
}

std::string UsageText() {
    const Parser parser;
    return parser.app.help();
}

std::string VersionText() {
    return std::string("kvqctl ") + KVQ_VERSION + "\n";
}

}  // namespace kvq::cli
