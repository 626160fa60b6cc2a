#include <cstdlib>

#include "ui/AppOptions.h"

namespace kvq::ui {

// A program started from a terminal has its streams already.
void ConnectStandardStreams() {}

bool DisplayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

}  // namespace kvq::ui
