#include "serial/LowLatencyLinux.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <fstream>
#include <system_error>

namespace kvq::serial {

namespace {

constexpr int LowestTimerMs = 1;

bool SetDriverFlag(int fd, bool on) {
    serial_struct settings{};
    if (::ioctl(fd, TIOCGSERIAL, &settings) != 0) return false;
    if (on) {
        settings.flags |= ASYNC_LOW_LATENCY;
    } else {
        settings.flags &= ~ASYNC_LOW_LATENCY;
    }
    return ::ioctl(fd, TIOCSSERIAL, &settings) == 0;
}

// None when the driver has no such settings (a pseudo-terminal).
std::optional<bool> DriverFlag(int fd) {
    serial_struct settings{};
    if (::ioctl(fd, TIOCGSERIAL, &settings) != 0) return std::nullopt;
    return (settings.flags & ASYNC_LOW_LATENCY) != 0;
}

}  // namespace

std::optional<std::filesystem::path> LatencyTimerFile(const std::filesystem::path& sysfsRoot,
                                                      const std::filesystem::path& device) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(device, error);
    if (error) resolved = device;
    const std::string name = resolved.filename().string();
    if (name.empty()) return std::nullopt;
    for (const auto& candidate :
         {sysfsRoot / "class" / "tty" / name / "device" / "latency_timer",
          sysfsRoot / "bus" / "usb-serial" / "devices" / name / "latency_timer"}) {
        if (std::filesystem::is_regular_file(candidate, error)) return candidate;
    }
    return std::nullopt;
}

std::optional<int> ReadLatencyTimer(const std::filesystem::path& file) {
    std::ifstream in(file);
    int value = -1;
    if (!(in >> value) || value < 0) return std::nullopt;
    return value;
}

bool WriteLatencyTimer(const std::filesystem::path& file, int milliseconds) {
    std::ofstream out(file, std::ios::out | std::ios::trunc);
    if (!out) return false;
    out << milliseconds << '\n';
    out.flush();
    return static_cast<bool>(out);
}

LatencyChange RequestLowLatency(int fd, const std::filesystem::path& device,
                                const std::filesystem::path& sysfsRoot) {
    LatencyChange change;
    if (const auto flag = DriverFlag(fd)) {
        if (!*flag && SetDriverFlag(fd, true)) change.flagSet = DriverFlag(fd).value_or(false);
        change.granted.driverFlag = DriverFlag(fd).value_or(false);
    }
    // The flag alone brings some drivers' timer down; where it did not, the
    // timer is set itself.
    const auto file = LatencyTimerFile(sysfsRoot, device);
    if (!file) return change;
    const auto timer = ReadLatencyTimer(*file);
    if (!timer) return change;
    change.granted.timerMs = *timer;
    if (*timer > LowestTimerMs && WriteLatencyTimer(*file, LowestTimerMs)) {
        const auto now = ReadLatencyTimer(*file);
        if (now && *now < *timer) {
            change.granted.timerMs = *now;
            change.granted.timerWasMs = *timer;
            change.timerFile = *file;
        } else {
            WriteLatencyTimer(*file, *timer);  // not taken as asked: put it back
        }
    }
    return change;
}

void RestoreLatency(int fd, const LatencyChange& change) {
    if (change.timerFile) WriteLatencyTimer(*change.timerFile, change.granted.timerWasMs);
    if (change.flagSet) SetDriverFlag(fd, false);
}

}  // namespace kvq::serial
