// Windows has no pseudo-terminals: there the simulator runs only on the
// in-memory line (the demo, the in-process tests).

#include "sim/SimTransport.h"

namespace kvq::sim {

std::unique_ptr<SimTransport> CreatePtyTransport(SimMode, std::string&, std::string& error) {
    error = "pseudo-terminals are not available on Windows; run the simulator on the in-memory line";
    return nullptr;
}

std::unique_ptr<SimTransport> OpenDeviceTransport(const std::string& path, std::string& error) {
    error = "serving the device " + path + " is not available on Windows";
    return nullptr;
}

}  // namespace kvq::sim
