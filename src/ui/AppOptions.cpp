#include "ui/AppOptions.h"

#include <cstdio>
#include <cstdlib>

#include "actuator/VLX400E.h"

namespace kvq::ui {

const char* const KvqUsage =
    "usage: kvq [--demo] [--trace FILE] [--screenshot FILE.png [--screenshot-then ACTION]]\n"
    "  --demo             run against a simulated E-VLX400 on COM1, in a fresh demo directory\n"
    "                     (with the working directory's antenna table and firmware file\n"
    "                     vlx400fw.bin when it has them)\n"
    "  --trace FILE       write every frame sent and received to FILE as it happens\n"
    "  --screenshot FILE  save a picture of the dialog once it shows READY, then end; each\n"
    "                     message box shown is saved beside it as FILE-box1.png, ...\n"
    "  --screenshot-then ACTION\n"
    "                     after the picture: close-while-moving (start a move, then close)\n"
    "                     or port:N (choose port N from the Communication menu)\n";

const char* const NoDisplaySentence =
    "kvq: there is no display to open the dialog on (neither DISPLAY nor WAYLAND_DISPLAY is "
    "set); for the same tool without a display try: kvqctl --demo status\n";

std::optional<KvqOptions> ParseKvqArguments(const std::vector<std::string>& args,
                                            std::string& error) {
    KvqOptions options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--demo") {
            options.demo = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--screenshot") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = "--screenshot needs the name of the PNG file to write";
                return std::nullopt;
            }
            options.screenshotPath = args[++i];
        } else if (arg == "--trace") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = "--trace needs the name of the file to write";
                return std::nullopt;
            }
            options.tracePath = args[++i];
        } else if (arg == "--screenshot-then") {
            const std::string action = i + 1 < args.size() ? args[++i] : std::string();
            const std::string number = action.rfind("port:", 0) == 0 ? action.substr(5) : "";
            const bool digits = !number.empty() && number.size() <= 3 &&
                                number.find_first_not_of("0123456789") == std::string::npos;
            const bool port = digits && std::stoi(number) >= 1 && std::stoi(number) <= 255;
            if (action != "close-while-moving" && !port) {
                error = "--screenshot-then needs close-while-moving or port:N (N from 1 to 255)";
                return std::nullopt;
            }
            options.screenshotThen = action;
        } else {
            error = "unknown argument '" + arg + "'";
            return std::nullopt;
        }
    }
    if (options.screenshotThen && !options.screenshotPath) {
        error = "--screenshot-then needs --screenshot";
        return std::nullopt;
    }
    return options;
}

bool ReadyForScreenshot(const actuator::DeviceSnapshot& device, bool setTiltEnabled) {
    return actuator::TakesRequests(device) && device.problemText.empty() && setTiltEnabled;
}

std::int32_t FarEndTilt(const actuator::DeviceSnapshot& device) {
    const std::int32_t middle = (device.minTilt + device.maxTilt) / 2;
    return device.currentTilt > middle ? device.minTilt : device.maxTilt;
}

std::string BoxPicturePath(const std::string& screenshotPath, int n) {
    std::string stem = screenshotPath;
    const auto dot = stem.rfind('.');
    const auto slash = stem.find_last_of("/\\");
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) stem.resize(dot);
    return stem + "-box" + std::to_string(n) + ".png";
}

int ScreenshotRunCode(bool readySeen, int code) {
    if (readySeen || code != 0) return code;
    std::fprintf(stderr, "kvq: the dialog ended before it showed READY; no screenshot\n");
    return 1;
}

int EndOfDialogRun(bool workersJoined, int code) {
    if (workersJoined) return code;
    std::fprintf(stderr, "kvq: a worker did not end in time\n");
    std::fflush(nullptr);
    std::_Exit(code);
}

}  // namespace kvq::ui
