#include "ui/AppOptions.h"

#include <cstdlib>

namespace kvq::ui {

const char* const KvqUsage =
    "usage: kvq [--demo] [--screenshot FILE.png]\n"
    "  --demo             run against a simulated E-VLX400 on COM1, in a fresh demo directory\n"
    "  --screenshot FILE  save a picture of the dialog once it shows READY, then end\n";

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
        } else {
            error = "unknown argument '" + arg + "'";
            return std::nullopt;
        }
    }
    return options;
}

bool DisplayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace kvq::ui
