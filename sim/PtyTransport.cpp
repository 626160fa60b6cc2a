#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "sim/SimTransport.h"

namespace kvq::sim {

namespace {

// Octets are paced by sleeping until each one's time; the default timer slack
// (50 us a sleep) would stretch a 20-octet answer by a millisecond, which a
// line does not. Asked once per thread; where refused, pacing is just coarser.
void ExactSleeps() {
    thread_local bool asked = false;
    if (asked) return;
    asked = true;
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

using Clock = std::chrono::steady_clock;

constexpr auto LoopSlice = std::chrono::milliseconds{10};

std::string ErrorText(int error) {
    return std::strerror(error);
}

speed_t SpeedConstant(SimMode mode) {
    return mode == SimMode::Aisg ? B9600 : B115200;
}

std::uint32_t RateOf(speed_t speed) {
    switch (speed) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        case B460800:
            return 460800;
        case B921600:
            return 921600;
        default:
            return 0;
    }
}

// Raw 8N1 without flow control at the mode's speed, as the tool's port is set;
// the tool puts back at close what it found at open, which is then this.
bool SetRawLine(int fd, SimMode mode) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) return false;
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, SpeedConstant(mode));
    ::cfsetospeed(&settings, SpeedConstant(mode));
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

class PtyTransport final : public SimTransport {
public:
    // heldSlave: a slave descriptor held open so the line never hangs up
    // between the tool's closes and opens; -1 when serving a device.
    PtyTransport(int fd, int heldSlave) : fd_(fd), heldSlave_(heldSlave) {
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
            wakeRead_ = ends[0];
            wakeWrite_ = ends[1];
        }
    }
    ~PtyTransport() override {
        for (int fd : {heldSlave_, fd_, wakeRead_, wakeWrite_})
            if (fd >= 0) ::close(fd);
    }
    PtyTransport(const PtyTransport&) = delete;
    PtyTransport& operator=(const PtyTransport&) = delete;

    bool WaitInput(std::chrono::milliseconds timeout) override {
        pollfd entries[2] = {{fd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const int ready = ::poll(entries, 2, static_cast<int>(timeout.count()));
        if ((entries[1].revents & POLLIN) != 0) {
            std::uint8_t sink[64];
            while (::read(wakeRead_, sink, sizeof sink) > 0) {
            }
        }
        bool lineDown = ready < 0 && errno != EINTR;
        if (ready > 0 && (entries[0].revents & POLLIN) != 0) return true;
        // With the slave held a pseudo-terminal never hangs up, but a served
        // device may: wait instead of spinning on it.
        if (ready > 0 && (entries[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            lineDown = true;
        if (lineDown) std::this_thread::sleep_for(LoopSlice);
        return false;
    }

    std::size_t Read(std::span<std::uint8_t> into) override {
        const ssize_t got = ::read(fd_, into.data(), into.size());
        return got > 0 ? static_cast<std::size_t>(got) : 0;
    }

    bool Write(std::span<const std::uint8_t> line, std::uint32_t baudRate, bool pace,
               const std::atomic<bool>& stop) override {
        // Nobody reading for this long means nobody is there: the answer is lost,
        // as it would be on a line without a listener.
        constexpr auto WriteLimit = std::chrono::milliseconds{200};
        const auto octetTime = std::chrono::duration<double>(10.0 / baudRate);
        if (pace) ExactSleeps();
        const auto start = Clock::now();
        std::size_t sent = 0;
        while (sent < line.size()) {
            if (stop) return false;
            std::size_t count = line.size() - sent;
            if (pace) {
                // Each octet leaves when the one before it would have been on the wire.
                std::this_thread::sleep_until(
                    start + std::chrono::duration_cast<Clock::duration>(octetTime * (sent + 1)));
                count = 1;
            }
            const ssize_t written = ::write(fd_, line.data() + sent, count);
            if (written > 0) {
                sent += static_cast<std::size_t>(written);
                continue;
            }
            if (written < 0 && errno == EINTR) continue;
            if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
            if (!WaitWritable(WriteLimit, stop)) return false;
        }
        return true;
    }

    std::optional<std::uint32_t> ToolBaudRate() const override {
        // On a pseudo-terminal's master this reads the slave's settings: the
        // speed the tool chose.
        termios settings{};
        if (::tcgetattr(fd_, &settings) != 0) return std::nullopt;
        return RateOf(::cfgetospeed(&settings));
    }

    void FollowMode(SimMode mode) override {
        // A served device is our own end of the line: it follows the mode.
        if (heldSlave_ >= 0 || speedMode_ == mode) return;
        if (SetRawLine(fd_, mode) || !::isatty(fd_)) speedMode_ = mode;
    }

    void Wake() override {
        const std::uint8_t one = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(wakeWrite_, &one, 1);
    }

private:
    bool WaitWritable(std::chrono::milliseconds limit, const std::atomic<bool>& stop) {
        const auto deadline = Clock::now() + limit;
        while (!stop && Clock::now() < deadline) {
            pollfd entry{fd_, POLLOUT, 0};
            const int ready = ::poll(&entry, 1, static_cast<int>(LoopSlice.count()));
            if (ready > 0 && (entry.revents & POLLOUT) != 0) return true;
            if (ready > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
                std::this_thread::sleep_for(LoopSlice);
        }
        return false;
    }

    int fd_;
    int heldSlave_;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::optional<SimMode> speedMode_;  // the mode whose speed a served device is set to
};

}  // namespace

std::unique_ptr<SimTransport> CreatePtyTransport(SimMode mode, std::string& path,
                                                 std::string& error) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error = "cannot create a pseudo-terminal: " + ErrorText(errno);
        return nullptr;
    }
    char name[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        error = "cannot set up the pseudo-terminal: " + ErrorText(errno);
        ::close(master);
        return nullptr;
    }
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error = "cannot set up the pseudo-terminal: " + ErrorText(errno);
        ::close(master);
        return nullptr;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        error = std::string("cannot open ") + name + ": " + ErrorText(errno);
        ::close(master);
        return nullptr;
    }
    if (!SetRawLine(slave, mode)) {
        error = std::string("cannot set up ") + name + ": " + ErrorText(errno);
        ::close(slave);
        ::close(master);
        return nullptr;
    }
    path = name;
    return std::make_unique<PtyTransport>(master, slave);
}

std::unique_ptr<SimTransport> OpenDeviceTransport(const std::string& path, std::string& error) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path + ": " + ErrorText(errno);
        return nullptr;
    }
    return std::make_unique<PtyTransport>(fd, -1);
}

}  // namespace kvq::sim
