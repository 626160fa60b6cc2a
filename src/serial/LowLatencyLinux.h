#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "serial/SerialLine.h"

namespace kvq::serial {

// The USB serial adapter's latency timer in sysfs, for the device a path
// names (a symbolic link such as a /dev/serial/by-id/ name is followed):
// <root>/class/tty/<name>/device/latency_timer, else
// <root>/bus/usb-serial/devices/<name>/latency_timer. None when neither exists.
std::optional<std::filesystem::path> LatencyTimerFile(const std::filesystem::path& sysfsRoot,
                                                      const std::filesystem::path& device);
// The timer in milliseconds; none when it cannot be read.
std::optional<int> ReadLatencyTimer(const std::filesystem::path& file);
// False when the file cannot be written (normally only root may).
bool WriteLatencyTimer(const std::filesystem::path& file, int milliseconds);

// What an open asked of the driver and must put back at close.
struct LatencyChange {
    LowLatency granted;
    bool flagSet = false;                            // the low-latency flag was off and we set it
    std::optional<std::filesystem::path> timerFile;  // written, with granted.timerWasMs to restore
};

// Asks the driver of an open serial port for low latency: its low-latency
// flag, then, where the timer is still above 1 ms and may be written, the
// adapter's latency timer. A driver that refuses either is left as it is.
LatencyChange RequestLowLatency(int fd, const std::filesystem::path& device,
                                const std::filesystem::path& sysfsRoot);
// Puts back what RequestLowLatency changed; the port is still open.
void RestoreLatency(int fd, const LatencyChange& change);

}  // namespace kvq::serial
