#include "ui/AppOptions.h"

namespace kvq::ui {

// A Windows desktop program always has its desktop.
bool DisplayAvailable() {
    return true;
}

}  // namespace kvq::ui
