#include "sim/SimCommandLine.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

using namespace kvq::hdlc;

namespace kvq::sim {

namespace {

// Decimal digits only, from 0 to max.
std::optional<std::int64_t> ParseCount(std::string_view text, std::int64_t max) {
    std::int64_t value = 0;
    // from_chars takes a minus sign, which would let "-0" through.
    if (text.empty() || text[0] < '0' || text[0] > '9') return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value < 0 || value > max)
        return std::nullopt;
    return value;
}

std::optional<double> ParseShare(std::string_view text) {
    // strtod wants a terminated string; the text is short.
    const std::string copy(text);
    char* end = nullptr;
    const double value = std::strtod(copy.c_str(), &end);
    if (copy.empty() || end != copy.c_str() + copy.size() || !std::isfinite(value) || value < 0.0 ||
        value > 1.0)
        return std::nullopt;
    return value;
}

// Degrees with at most one decimal ("6.5", "-1.5", "10") as tenths.
std::optional<std::int64_t> ParseTenths(std::string_view text, std::int64_t min, std::int64_t max) {
    const bool negative = text.starts_with('-');
    if (negative) text.remove_prefix(1);
    const auto point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    std::int64_t tenths = 0;
    if (point != text.npos) {
        const std::string_view fraction = text.substr(point + 1);
        if (fraction.size() != 1 || fraction[0] < '0' || fraction[0] > '9') return std::nullopt;
        tenths = fraction[0] - '0';
    }
    // Seven digits hold every tilt and speed there is, and cannot overflow.
    if (whole.empty() || whole.size() > 7) return std::nullopt;
    const auto degrees = ParseCount(whole, 9'999'999);
    if (!degrees) return std::nullopt;
    const std::int64_t value = (*degrees * 10 + tenths) * (negative ? -1 : 1);
    if (value < min || value > max) return std::nullopt;
    return value;
}

// "NAME" or "NAME:N": a command by the name the fault options use, and which
// of its occurrences (1 when not given, at most a million).
std::optional<RestartTrigger> ParseCommandOccurrence(std::string_view text) {
    const auto colon = text.find(':');
    const auto command = CommandNamed(text.substr(0, colon));
    std::optional<std::int64_t> occurrence = 1;
    if (colon != std::string_view::npos) occurrence = ParseCount(text.substr(colon + 1), 1'000'000);
    if (!command || !occurrence || *occurrence == 0) return std::nullopt;
    return RestartTrigger{*command, static_cast<std::uint32_t>(*occurrence)};
}

// An AISG return code, decimal or 0x-hexadecimal, from 1 to 255 (0 is OK).
std::optional<std::uint8_t> ParseReturnCode(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || text[0] == '-' || text[0] == '+' || error != std::errc{} ||
        end != text.data() + text.size() || value < 1 || value > 255)
        return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

// A text the actuator can report: printable ASCII, within its length limit.
bool FitsText(std::string_view text, std::size_t maxLength, bool mayBeEmpty) {
    if (text.size() > maxLength || (text.empty() && !mayBeEmpty)) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c <= 0x7E; });
}

}  // namespace

const char* SimUsage() {
    return "usage: vlx400-sim [--aisg] [--device PATH] [--no-pace] [--reply-delay MS]\n"
           "                  [--drop SHARE] [--corrupt SHARE] [--seed N] [--silent]\n"
           "                  [--adapter-echo] [--trace FILE]\n"
           "                  [--serial TEXT] [--version TEXT] [--model KEY] [--aux TEXT]\n"
           "                  [--tilt DEGREES] [--tilt-speed DEG_PER_S] [--tilt-range MIN,MAX]\n"
           "                  [--tilt-reply done|accepted] [--restart-silence MS]\n"
           "                  [--keep-version]\n"
           "                  [--refuse NAME[:CODE]]... [--restart-on NAME[:N]]\n"
           "                  [--power-cut NAME[:N],DELAY,OFF] [--stay-aisg N|always]\n"
           "                  [--next-serial TEXT [--next-model KEY] [--next-tilt DEGREES]]\n"
           "                  [--echo]\n"
           "\n"
           "Simulates the E-VLX400 actuator behind its RS-485 adapter. Prints the device\n"
           "path to open as the first line, then serves it until interrupted.\n"
           "\n"
           "The line:\n"
           "  --aisg             start in AISG mode (9600 baud) instead of 115200 baud\n"
           "  --device PATH      serve an existing serial device instead of a new\n"
           "                     pseudo-terminal\n"
           "  --no-pace          send answers at once instead of at wire speed\n"
           "  --reply-delay MS   answer MS milliseconds late\n"
           "  --drop SHARE       ignore this share (0 to 1) of the frames received\n"
           "  --corrupt SHARE    send this share (0 to 1) of the answers with a bad FCS\n"
           "  --seed N           seed for dropping and corrupting, for a repeatable run\n"
           "  --silent           answer nothing\n"
           "  --adapter-echo     send every octet received straight back before any answer,\n"
           "                     as a two-wire RS-485 adapter that hears itself\n"
           "  --trace FILE       write every frame received and sent to FILE as it happens\n"
           "\n"
           "The actuator:\n"
           "  --serial TEXT      serial number (default XXXT0000001, at most 20 characters)\n"
           "  --version TEXT     software version (default 01.23, at most 32 characters)\n"
           "  --model KEY        antenna model key (default M-100, at most 16 characters)\n"
           "  --aux TEXT         aux text (default empty, at most 31 characters)\n"
           "  --tilt DEGREES     tilt at start, e.g. 6.5 or -1.5 (default 0)\n"
           "  --tilt-speed DEG_PER_S\n"
           "                     how fast the tilt moves, 0.1 to 1000 (default 1)\n"
           "  --tilt-range MIN,MAX\n"
           "                     refuse moves to targets outside, e.g. -2.5,10 (default:\n"
           "                     refuse none)\n"
           "  --tilt-reply done|accepted\n"
           "                     answer a move when the tilt has reached the target\n"
           "                     (default) or as soon as it is accepted\n"
           "  --restart-silence MS\n"
           "                     how long a restart keeps it silent (default 3000)\n"
           "  --keep-version     take a firmware download whole, but come back from the\n"
           "                     restart on the old version (a loader that refuses the\n"
           "                     image)\n"
           "  --refuse NAME      refuse this command; may be repeated. Names: open, poll,\n"
           "                     identity, version, prepare1, prepare2, prepare3,\n"
           "                     set-tilt, get-tilt, preread1, preread2, read-page,\n"
           "                     read-model, read-aux, write-model, mode-select, restart,\n"
           "                     download-start, download-block, download-end,\n"
           "                     aisg-configure, aisg-prepare, aisg-mode-select,\n"
           "                     aisg-restart. Vendor commands answer status 1, set-tilt\n"
           "                     the refusal, get-tilt the failure; the others no answer.\n"
           "                     An AISG procedure given a CODE (1 to 255, e.g. 0x19 for\n"
           "                     unknown procedure) is answered with FAIL and that code\n"
           "  --restart-on NAME[:N]\n"
           "                     restart instead of answering the N-th (default first)\n"
           "                     command of that name\n"
           "  --power-cut NAME[:N],DELAY,OFF\n"
           "                     lose power DELAY ms after accepting the N-th (default\n"
           "                     first) command of that name, e.g. set-tilt,1500,5000: a\n"
           "                     move stops where it is, and it comes back OFF ms later,\n"
           "                     not connected, in its mode\n"
           "  --stay-aisg N|always\n"
           "                     take the next N conversions back to Ericsson mode (or\n"
           "                     all), but come back from their restart in AISG mode\n"
           "  --next-serial TEXT another actuator answers after the next restart or power\n"
           "                     cut (the cable moved to the next sector's): this serial\n"
           "                     number, and with --next-model KEY and --next-tilt DEGREES\n"
           "                     that model and tilt (else the model and tilt stay)\n"
           "  --echo             answer every command with itself (for link tests)\n"
           "  --help             show this text\n";
}

SimCommandLineResult ParseSimCommandLine(std::span<const std::string_view> arguments) {
    constexpr std::int64_t MaxReplyDelayMs = 3'600'000;
    SimCommandLine result;
    // The first option that sets up the E-VLX400, which --echo would ignore.
    std::string actuatorOption;
    // Gathered from --next-serial, --next-model and --next-tilt in any order.
    std::optional<NextIdentity> nextIdentity;
    const auto fail = [](std::string message) {
        return SimCommandLineResult{std::nullopt, std::move(message)};
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view name = arguments[i];
        std::optional<std::string_view> inlineValue;
        if (const auto equals = name.find('='); name.starts_with("--") && equals != name.npos) {
            inlineValue = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        const std::string shown(name);
        const auto flag = [&]() { return !inlineValue; };
        const auto setsActuator = [&]() {
            if (actuatorOption.empty()) actuatorOption = shown;
        };
        // The value of an option that takes one: after '=' or the next argument.
        const auto value = [&]() -> std::optional<std::string_view> {
            if (inlineValue) return inlineValue;
            if (i + 1 < arguments.size()) return arguments[++i];
            return std::nullopt;
        };

        if (name == "--help" && flag()) {
            result.help = true;
        } else if (name == "--aisg" && flag()) {
            result.options.mode = SimMode::Aisg;
        } else if (name == "--no-pace" && flag()) {
            result.options.pace = false;
        } else if (name == "--silent" && flag()) {
            result.options.silent = true;
        } else if (name == "--keep-version" && flag()) {
            result.actuator.keepVersionOnRestart = true;
            setsActuator();
        } else if (name == "--aisg" || name == "--no-pace" || name == "--silent" ||
                   name == "--help" || name == "--keep-version") {
            return fail("option " + shown + " takes no value");
        } else if (name == "--device") {
            const auto text = value();
            if (!text || text->empty()) return fail("option --device needs a path");
            result.device = std::string(*text);
        } else if (name == "--trace") {
            const auto text = value();
            if (!text || text->empty()) return fail("option --trace needs a file name");
            result.trace = std::string(*text);
        } else if (name == "--reply-delay") {
            const auto text = value();
            const auto ms = text ? ParseCount(*text, MaxReplyDelayMs) : std::nullopt;
            if (!ms) return fail("option --reply-delay needs milliseconds from 0 to 3600000");
            result.options.replyDelay = std::chrono::milliseconds{*ms};
        } else if (name == "--drop" || name == "--corrupt") {
            const auto text = value();
            const auto share = text ? ParseShare(*text) : std::nullopt;
            if (!share) return fail("option " + shown + " needs a share from 0 to 1, e.g. 0.25");
            (name == "--drop" ? result.options.dropShare : result.options.corruptShare) = *share;
        } else if (name == "--seed") {
            const auto text = value();
            const auto seed = text ? ParseCount(*text, UINT32_MAX) : std::nullopt;
            if (!seed) return fail("option --seed needs a number from 0 to 4294967295");
            result.options.seed = static_cast<std::uint32_t>(*seed);
        } else if (name == "--adapter-echo" && flag()) {
            result.options.adapterEcho = true;
        } else if (name == "--adapter-echo") {
            return fail("option --adapter-echo takes no value");
        } else if (name == "--echo" && flag()) {
            result.echo = true;
        } else if (name == "--echo") {
            return fail("option --echo takes no value");
        } else if (name == "--serial" || name == "--version" || name == "--model" ||
                   name == "--aux" || name == "--next-serial" || name == "--next-model") {
            const auto text = value();
            struct Field {
                std::string* target;
                std::size_t limit;
                bool mayBeEmpty;
            };
            auto& actuator = result.actuator;
            if (name.starts_with("--next-") && !nextIdentity) nextIdentity.emplace();
            const Field field =
                name == "--serial" ? Field{&actuator.serialNumber, vlx::SerialNumberMax, false}
                : name == "--version"
                    ? Field{&actuator.softwareVersion, vlx::SoftwareVersionMax, false}
                : name == "--model" ? Field{&actuator.modelKey, vlx::ModelKeyMax, true}
                : name == "--aux"   ? Field{&actuator.auxText, vlx::AuxTextMax, true}
                : name == "--next-serial"
                    ? Field{&nextIdentity->serialNumber, vlx::SerialNumberMax, false}
                    : Field{&nextIdentity->modelKey.emplace(), vlx::ModelKeyMax, true};
            if (!text || !FitsText(*text, field.limit, field.mayBeEmpty)) {
                return fail("option " + shown + " needs " + (field.mayBeEmpty ? "" : "1 to ") +
                            std::to_string(field.limit) + " printable ASCII characters");
            }
            *field.target = std::string(*text);
            setsActuator();
        } else if (name == "--tilt" || name == "--next-tilt") {
            const auto text = value();
            const auto tenths = text ? ParseTenths(*text, INT16_MIN, INT16_MAX) : std::nullopt;
            if (!tenths)
                return fail("option " + shown + " needs degrees from -3276.8 to 3276.7, e.g. 6.5");
            const auto tilt = static_cast<std::int16_t>(*tenths);
            if (name == "--tilt") {
                result.actuator.tilt = tilt;
            } else {
                if (!nextIdentity) nextIdentity.emplace();
                nextIdentity->tilt = tilt;
            }
            setsActuator();
        } else if (name == "--tilt-speed") {
            const auto text = value();
            const auto tenths = text ? ParseTenths(*text, 1, 10'000) : std::nullopt;
            if (!tenths)
                return fail("option --tilt-speed needs degrees per second from 0.1 to 1000");
            result.actuator.tiltSpeed = static_cast<std::int32_t>(*tenths);
            setsActuator();
        } else if (name == "--tilt-range") {
            const auto text = value();
            const auto comma = text ? text->find(',') : std::string_view::npos;
            std::optional<std::int64_t> low;
            std::optional<std::int64_t> high;
            if (comma != std::string_view::npos) {
                low = ParseTenths(text->substr(0, comma), INT16_MIN, INT16_MAX);
                high = ParseTenths(text->substr(comma + 1), INT16_MIN, INT16_MAX);
            }
            if (!low || !high || *low > *high)
                return fail(
                    "option --tilt-range needs MIN,MAX in degrees with MIN <= MAX, e.g. "
                    "-2.5,10");
            result.actuator.minTarget = static_cast<std::int16_t>(*low);
            result.actuator.maxTarget = static_cast<std::int16_t>(*high);
            setsActuator();
        } else if (name == "--tilt-reply") {
            const auto text = value();
            if (text == "done") {
                result.actuator.setTiltReply = SetTiltReply::WhenDone;
            } else if (text == "accepted") {
                result.actuator.setTiltReply = SetTiltReply::AtOnce;
            } else {
                return fail("option --tilt-reply needs done or accepted");
            }
            setsActuator();
        } else if (name == "--restart-silence") {
            const auto text = value();
            const auto ms = text ? ParseCount(*text, MaxReplyDelayMs) : std::nullopt;
            if (!ms) return fail("option --restart-silence needs milliseconds from 0 to 3600000");
            result.actuator.restartSilence = std::chrono::milliseconds{*ms};
            setsActuator();
        } else if (name == "--refuse") {
            const auto text = value().value_or("");
            const auto colon = text.find(':');
            const auto command = CommandNamed(text.substr(0, colon));
            if (!command) {
                return fail("option --refuse needs a command name such as set-tilt, not '" +
                            std::string(text.substr(0, colon)) + "' (see --help)");
            }
            auto& actuator = result.actuator;
            // value_or only keeps GCC from a false warning: the command is set.
            const Vlx400Command refused = command.value_or(Vlx400Command::Open);
            actuator.refused.insert(refused);
            actuator.refusalCodes.erase(refused);
            if (colon != std::string_view::npos) {
                const auto code = ParseReturnCode(text.substr(colon + 1));
                if (!code || !IsAisgProcedure(refused)) {
                    return fail(
                        "option --refuse takes a return code (1 to 255, e.g. 0x19) only after "
                        "an AISG procedure, e.g. aisg-prepare:0x19");
                }
                actuator.refusalCodes[refused] = *code;
            }
            setsActuator();
        } else if (name == "--restart-on") {
            const auto text = value();
            const auto trigger = text ? ParseCommandOccurrence(*text) : std::nullopt;
            if (!trigger) {
                return fail(
                    "option --restart-on needs a command name and optionally a count "
                    "from 1 to 1000000, e.g. download-block:3 (see --help)");
            }
            result.actuator.restartOn = trigger;
            setsActuator();
        } else if (name == "--power-cut") {
            const auto text = value().value_or("");
            const auto first = text.find(',');
            const auto second = first == text.npos ? text.npos : text.find(',', first + 1);
            const auto trigger = ParseCommandOccurrence(text.substr(0, first));
            std::optional<std::int64_t> delay;
            std::optional<std::int64_t> off;
            if (second != text.npos) {
                delay = ParseCount(text.substr(first + 1, second - first - 1), MaxReplyDelayMs);
                off = ParseCount(text.substr(second + 1), MaxReplyDelayMs);
            }
            if (!trigger || !delay || !off) {
                return fail(
                    "option --power-cut needs NAME[:N],DELAY,OFF with DELAY and OFF in "
                    "milliseconds from 0 to 3600000, e.g. set-tilt,1500,5000 (see --help)");
            }
            result.actuator.powerCutAfter =
                PowerCutTrigger{trigger->command, trigger->occurrence,
                                std::chrono::milliseconds{*delay}, std::chrono::milliseconds{*off}};
            setsActuator();
        } else if (name == "--stay-aisg") {
            const auto text = value();
            const auto count = text == "always" ? std::optional<std::int64_t>{EveryConversion}
                               : text           ? ParseCount(*text, 1'000'000)
                                                : std::nullopt;
            if (!count || *count == 0)
                return fail("option --stay-aisg needs a count from 1 to 1000000, or always");
            result.actuator.conversionsIgnored = static_cast<std::uint32_t>(*count);
            setsActuator();
        } else if (name.starts_with("-")) {
            return fail("unknown option " + shown + " (see --help)");
        } else {
            return fail("unexpected argument " + shown + " (see --help)");
        }
    }
    if (result.echo && !actuatorOption.empty())
        return fail("option " + actuatorOption + " has no effect with --echo");
    if (nextIdentity && nextIdentity->serialNumber.empty())
        return fail(
            "options --next-model and --next-tilt describe another actuator: give its "
            "--next-serial");
    result.actuator.nextIdentity = nextIdentity;
    return {std::move(result), {}};
}

}  // namespace kvq::sim
