#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kvq::ui {

// What kvq was started with.
struct KvqOptions {
    bool demo = false;  // the simulated actuator on COM1, in a demo directory
    bool help = false;
    // Save a picture of the dialog once it shows READY, then end; every box
    // shown meanwhile is saved beside it (FILE-box1.png, ...).
    std::optional<std::string> screenshotPath;
    // After that picture, before the end: "close-while-moving" (start a move,
    // then close) or "port:N" (choose port N from the menu), so their boxes
    // are saved too.
    std::optional<std::string> screenshotThen;
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
