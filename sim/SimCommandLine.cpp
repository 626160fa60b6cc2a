#include "SimCommandLine.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

namespace {

// Decimal digits only, from 0 to max.
std::optional<std::int64_t> ParseCount(std::string_view text, std::int64_t max) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || value < 0 ||
        value > max)
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

}  // namespace

const char* SimUsage() {
    return "usage: vlx400-sim [--aisg] [--device PATH] [--no-pace] [--reply-delay MS]\n"
           "                  [--drop SHARE] [--corrupt SHARE] [--seed N] [--silent]\n"
           "\n"
           "Simulates the E-VLX400 actuator behind its RS-485 adapter. Prints the device\n"
           "path to open as the first line, then serves it until interrupted.\n"
           "\n"
           "  --aisg             start in AISG mode (9600 baud) instead of 115200 baud\n"
           "  --device PATH      serve an existing serial device instead of a new\n"
           "                     pseudo-terminal\n"
           "  --no-pace          send answers at once instead of at wire speed\n"
           "  --reply-delay MS   answer MS milliseconds late\n"
           "  --drop SHARE       ignore this share (0 to 1) of the frames received\n"
           "  --corrupt SHARE    send this share (0 to 1) of the answers with a bad FCS\n"
           "  --seed N           seed for dropping and corrupting, for a repeatable run\n"
           "  --silent           answer nothing\n"
           "  --help             show this text\n";
}

SimCommandLineResult ParseSimCommandLine(std::span<const std::string_view> arguments) {
    constexpr std::int64_t MaxReplyDelayMs = 3'600'000;
    SimCommandLine result;
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
        } else if (name == "--aisg" || name == "--no-pace" || name == "--silent" ||
                   name == "--help") {
            return fail("option " + shown + " takes no value");
        } else if (name == "--device") {
            const auto text = value();
            if (!text || text->empty()) return fail("option --device needs a path");
            result.device = std::string(*text);
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
        } else if (name.starts_with("-")) {
            return fail("unknown option " + shown + " (see --help)");
        } else {
            return fail("unexpected argument " + shown + " (see --help)");
        }
    }
    return {std::move(result), {}};
}
