#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kvq::ui {

// What kvq was started with.
struct KvqOptions {
    bool demo = false;  // the simulated actuator on COM1, in a demo directory
    bool help = false;
    // Save a picture of the dialog once it shows READY, then end.
    std::optional<std::string> screenshotPath;
};

// Parses the arguments after the program name; on failure answers nothing and
// says why in error.
std::optional<KvqOptions> ParseKvqArguments(const std::vector<std::string>& args,
                                            std::string& error);

extern const char* const KvqUsage;

// Whether a window can be shown at all: an X or Wayland display, or a Qt
// platform named explicitly (such as offscreen).
bool DisplayAvailable();

// The one sentence kvq prints when there is no display.
extern const char* const NoDisplaySentence;

}  // namespace kvq::ui
