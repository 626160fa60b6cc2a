// Low latency on open: the driver's flag (a pseudo-terminal has none) and a USB
// adapter's latency timer in sysfs, here a directory of the test's own laid out
// as sysfs is, with the pseudo-terminal standing for the adapter's port.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "SerialTestSupport.h"
#include "serial/LowLatencyLinux.h"
#include "serial/SerialLinePosix.h"
#include "support/PseudoTerminal.h"

using namespace kvq::serial;
using namespace kvq::testing;
namespace fs = std::filesystem;

namespace {

class FakeSysfs {
public:
    FakeSysfs() {
        root_ = fs::temp_directory_path() /
                ("kvq-sysfs-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    ~FakeSysfs() {
        std::error_code ignored;
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(root_, ignored);
    }
    FakeSysfs(const FakeSysfs&) = delete;
    FakeSysfs& operator=(const FakeSysfs&) = delete;

    const fs::path& Root() const { return root_; }
    // A latency_timer file holding `text` at `relative` under the root.
    fs::path Timer(const fs::path& relative, const std::string& text) const {
        const fs::path file = root_ / relative;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
        return file;
    }

private:
    fs::path root_;
};

std::string Contents(const fs::path& file) {
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    return text;
}

}  // namespace

// On a pseudo-terminal nothing is granted and nothing changes: the line opens,
// carries octets and closes back to the settings it found.
TEST(LowLatencyTest, APseudoTerminalOpensAndClosesUnchanged) {
    ScopedPortMap noPortMap{std::nullopt};
    PseudoTerminal pty;
    const termios before = pty.SlaveSettings();
    SerialLinePosix port;
    ASSERT_EQ(port.Open(pty.SlavePath(), 115200), OpenOutcome::Opened);
    const LowLatency granted = port.LowLatencyGranted();
    EXPECT_FALSE(granted.driverFlag);
    EXPECT_EQ(granted.timerMs, -1);
    EXPECT_FALSE(granted.Granted());
    pty.Write({0x7E, 0x01, 0x7E});
    std::uint8_t got[8] = {};
    ASSERT_EQ(port.Wait(std::chrono::milliseconds(500), true), LineEvent::Input);
    EXPECT_EQ(port.Read(got), 3u);
    port.Close();
    const termios after = pty.SlaveSettings();
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
}

// The adapter's timer is set to 1 ms while the port is open and put back at
// close, wherever sysfs keeps it and by whatever name the port is opened.
TEST(LowLatencyTest, TheAdaptersTimerIsLoweredWhileOpenAndPutBack) {
    ScopedPortMap noPortMap{std::nullopt};
    const struct {
        const char* what;
        const char* layout;  // "class" or "bus"
        const char* before;
        bool throughLink;
        bool readOnly;
        int openMs;  // the timer while open
        int wasMs;   // granted.timerWasMs
        const char* after;
    } cases[] = {
        {"the tty class's device", "class", "16", false, false, 1, 16, "16"},
        {"the usb-serial bus", "bus", "16\n", false, false, 1, 16, "16"},
        {"opened by a stable name linking to the device", "class", "10", true, false, 1, 10, "10"},
        {"already at 1 ms: left alone", "class", "1", false, false, 1, -1, "1"},
        {"not writable: left alone", "class", "16", false, true, 16, -1, "16"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.readOnly && ::geteuid() == 0)
            continue;  // root writes it anyway; the unprivileged run covers it
        PseudoTerminal pty;
        FakeSysfs sysfs;
        const std::string name = fs::path(pty.SlavePath()).filename().string();
        const fs::path timer =
            sysfs.Timer(std::string(c.layout) == "class"
                            ? fs::path("class/tty") / name / "device/latency_timer"
                            : fs::path("bus/usb-serial/devices") / name / "latency_timer",
                        c.before);
        if (c.readOnly) fs::permissions(timer, fs::perms::owner_read | fs::perms::group_read);
        std::string portName = pty.SlavePath();
        if (c.throughLink) {
            portName = (sysfs.Root() / "usb-FTDI_adapter-if00-port0").string();
            fs::create_symlink(pty.SlavePath(), portName);
        }

        SerialLinePosix port(sysfs.Root());
        ASSERT_EQ(port.Open(portName, 115200), OpenOutcome::Opened);
        EXPECT_EQ(Contents(timer), std::to_string(c.openMs));
        const LowLatency granted = port.LowLatencyGranted();
        EXPECT_EQ(granted.timerMs, c.openMs);
        EXPECT_EQ(granted.timerWasMs, c.wasMs);
        EXPECT_EQ(granted.Granted(), c.openMs == 1);
        port.Close();
        EXPECT_EQ(Contents(timer), c.after);
        EXPECT_EQ(port.LowLatencyGranted().timerMs, -1) << "nothing is granted on a closed line";
    }
}

TEST(LowLatencyTest, TheTimerFileIsFoundOnlyWhereSysfsKeepsIt) {
    FakeSysfs sysfs;
    sysfs.Timer("class/tty/ttyUSB0/device/latency_timer", "16");
    sysfs.Timer("bus/usb-serial/devices/ttyUSB1/latency_timer", "16");
    sysfs.Timer("class/tty/ttyUSB2/latency_timer", "16");  // not under device/
    EXPECT_EQ(LatencyTimerFile(sysfs.Root(), "/dev/ttyUSB0"),
              sysfs.Root() / "class/tty/ttyUSB0/device/latency_timer");
    EXPECT_EQ(LatencyTimerFile(sysfs.Root(), "/dev/ttyUSB1"),
              sysfs.Root() / "bus/usb-serial/devices/ttyUSB1/latency_timer");
    EXPECT_EQ(LatencyTimerFile(sysfs.Root(), "/dev/ttyUSB2"), std::nullopt);
    EXPECT_EQ(LatencyTimerFile(sysfs.Root(), "/dev/ttyS0"), std::nullopt);
    sysfs.Timer("class/tty/ttyUSB3/device/latency_timer", "garbage");
    EXPECT_EQ(ReadLatencyTimer(sysfs.Root() / "class/tty/ttyUSB3/device/latency_timer"),
              std::nullopt);
}

TEST(LowLatencyTest, WhatWasGrantedIsSaidInOneLine) {
    const struct {
        LowLatency latency;
        const char* text;
    } cases[] = {
        {{}, "low latency: not available (no such driver setting, or refused)"},
        {{true, -1, -1}, "low latency: driver flag set"},
        {{true, 1, -1}, "low latency: driver flag set, latency timer 1 ms"},
        {{false, 1, 16}, "low latency: latency timer 1 ms (was 16 ms)"},
        {{false, 16, -1}, "low latency: latency timer 16 ms"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DescribeLowLatency(c.latency), c.text);
}
