#include "serial/SerialLinePosix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <optional>
#include <string>
#include <system_error>

#include "serial/LowLatencyLinux.h"
#include "serial/PortNames.h"

namespace kvq::serial {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How long a frame the driver did not take at once may take to go out. The
// driver's buffer normally takes a whole frame; this only bounds a stuck line.
constexpr auto WriteWait = std::chrono::milliseconds(100);

OpenFailure FailureForError(int error) {
    switch (error) {
        case ENOENT:
        case ENXIO:
        case ENODEV:
            return OpenFailure::NoSuchDevice;
        case EBUSY:
        case EWOULDBLOCK:
            return OpenFailure::Busy;
        case EACCES:
        case EPERM:
            return OpenFailure::PermissionDenied;
        case ENOTTY:
            return OpenFailure::NotASerialPort;
        default:
            return OpenFailure::Other;
    }
}

int MillisecondsUntil(SteadyClock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

timespec TimespecUntil(SteadyClock::time_point deadline) {
    const auto left = std::max(deadline - SteadyClock::now(), SteadyClock::duration::zero());
    const auto seconds = std::chrono::floor<std::chrono::seconds>(left);
    const auto nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds);
    return timespec{static_cast<time_t>(seconds.count()), static_cast<long>(nanoseconds.count())};
}

// Waits until fd reports one of events or the deadline passes. Answers the
// reported events, 0 on time-out, POLLERR when poll itself fails.
short WaitFor(int fd, short events, SteadyClock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = ::poll(&entry, 1, MillisecondsUntil(deadline));
        if (ready > 0) {
            return entry.revents;
        }
        if (ready == 0) {
            return 0;
        }
        if (errno != EINTR) {
            return POLLERR;
        }
    }
}

int SetAttributes(int fd, const termios& settings) {
    while (::tcsetattr(fd, TCSANOW, &settings) != 0) {
        if (errno != EINTR) {
            return errno;
        }
    }
    return 0;
}

// What read and write answer once the device behind the descriptor is gone.
bool IsGone(int error) {
    return error == EIO || error == ENXIO || error == ENODEV;
}

void Drain(int fd) {
    std::uint8_t sink[64];
    while (::read(fd, sink, sizeof sink) > 0) {
    }
}

}  // namespace

struct SerialLinePosix::Platform {
    int fd = -1;
    bool exclusive = false;  // we set TIOCEXCL and must clear it again
    termios saved{};         // the settings found at open, put back at close
    bool hungUp = false;     // the device went away; only a new open helps
    std::filesystem::path sysfsRoot;
    LatencyChange latency;  // what the open asked of the driver, put back at close
    // A self-pipe: Wake writes to it, Wait polls its read end with the port.
    int wakeRead = -1;
    int wakeWrite = -1;
};

SerialLinePosix::SerialLinePosix(std::filesystem::path sysfsRoot)
    : platform_(std::make_unique<Platform>()) {
    platform_->sysfsRoot = std::move(sysfsRoot);
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_NONBLOCK | O_CLOEXEC) == 0) {
        platform_->wakeRead = ends[0];
        platform_->wakeWrite = ends[1];
    }
}

SerialLinePosix::~SerialLinePosix() {
    Close();
    if (platform_->wakeRead >= 0) ::close(platform_->wakeRead);
    if (platform_->wakeWrite >= 0) ::close(platform_->wakeWrite);
}

std::unique_ptr<SerialLine> MakeSystemSerialLine() {
    return std::make_unique<SerialLinePosix>();
}

std::string SystemErrorText(int error) {
    return std::generic_category().message(error);
}

OpenOutcome SerialLinePosix::Open(const std::string& name, std::int32_t baudRate) {
    // Normally called on a closed port; never leak the descriptor if it is not.
    Close();
    IsOpen = 0;
    if (name == "USB") {
        return OpenOutcome::NotTried;
    }

    Platform& port = *platform_;
    bool settingsSaved = false;
    const auto fail = [&](int error, OpenFailure failure) {
        if (port.fd >= 0) {
            if (port.exclusive) {
                ::ioctl(port.fd, TIOCNXCL);
            }
            if (settingsSaved) {
                SetAttributes(port.fd, port.saved);
            }
            ::close(port.fd);
        }
        port.fd = -1;
        port.exclusive = false;
        NoteFailed(failure, error);
        return OpenOutcome::Failed;
    };

    const auto path = DevicePathForPortName(name);
    if (!path) {
        return fail(0, OpenFailure::NoSuchDevice);
    }
    port.fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.fd < 0) {
        const int error = errno;
        return fail(error, FailureForError(error));
    }
    // The lock first: if someone else holds the port, its exclusive flag is
    // theirs and must not be touched.
    if (::flock(port.fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        return fail(error, error == EWOULDBLOCK ? OpenFailure::Busy : FailureForError(error));
    }
    if (::ioctl(port.fd, TIOCEXCL) != 0) {
        const int error = errno;
        return fail(error, FailureForError(error));
    }
    port.exclusive = true;
    if (::tcgetattr(port.fd, &port.saved) != 0) {
        const int error = errno;
        return fail(error, OpenFailure::NotASerialPort);
    }
    settingsSaved = true;

    termios settings = port.saved;
    settings.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR |
                                               ICRNL | IXON | IXOFF | IXANY | INPCK);
    settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CREAD | CLOCAL;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    const std::int32_t rate = RateFor(baudRate);
    const speed_t speed = rate == SlowRate ? B9600 : B115200;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    if (const int error = SetAttributes(port.fd, settings); error != 0) {
        return fail(error, FailureForError(error));
    }
    // tcsetattr succeeds when any part of the change was taken; a driver that
    // refused the speed would leave the link talking at the wrong rate.
    termios applied{};
    if (::tcgetattr(port.fd, &applied) != 0 || cfgetospeed(&applied) != speed ||
        (applied.c_cflag & CSIZE) != CS8) {
        return fail(EINVAL, OpenFailure::Other);
    }
    // A pseudo-terminal has no modem lines, so the answer is ignored.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(port.fd, TIOCMBIS, &lines);

    // A pseudo-terminal, or a driver that refuses, is used as it is.
    port.latency = RequestLowLatency(port.fd, *path, port.sysfsRoot);

    ::tcflush(port.fd, TCIOFLUSH);
    port.hungUp = false;
    NoteOpened(rate, port.latency.granted);
    return OpenOutcome::Opened;
}

void SerialLinePosix::Close() {
    Platform& port = *platform_;
    if (port.fd < 0) {
        return;
    }
    IsOpen = 0;
    // A pseudo-terminal keeps the flag after the last close, and a user
    // without privileges could then never open it again.
    if (port.exclusive) {
        ::ioctl(port.fd, TIOCNXCL);
    }
    ::tcflush(port.fd, TCIOFLUSH);
    RestoreLatency(port.fd, port.latency);
    port.latency = {};
    SetLowLatency({});
    SetAttributes(port.fd, port.saved);
    ::close(port.fd);  // also drops the lock
    port.fd = -1;
    port.exclusive = false;
}

void SerialLinePosix::Discard() {
    if (platform_->fd >= 0) ::tcflush(platform_->fd, TCIFLUSH);
}

void SerialLinePosix::Write(std::span<const std::uint8_t> frame) {
    const int fd = platform_->fd;
    if (fd < 0) {
        return;
    }
    std::size_t sent = 0;
    std::optional<SteadyClock::time_point> deadline;
    while (sent < frame.size()) {
        const ssize_t written = ::write(fd, frame.data() + sent, frame.size() - sent);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            if (written < 0 && IsGone(errno)) platform_->hungUp = true;
            return;  // the line is gone; the link notices the missing answer
        }
        // The driver is full: wait for room rather than cut the frame short.
        if (!deadline) {
            deadline = SteadyClock::now() + WriteWait;
        }
        const short events = WaitFor(fd, POLLOUT, *deadline);
        if ((events & POLLOUT) == 0 || (events & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            return;
        }
    }
}

LineEvent SerialLinePosix::Wait(std::chrono::microseconds timeout, bool watchInput) {
    Platform& port = *platform_;
    const auto deadline = SteadyClock::now() + timeout;
    // A line that hung up reports it at once and for good: then only the wake
    // and the time end the wait, or the link would spin on it.
    bool lineUsable = watchInput && port.fd >= 0 && !port.hungUp;
    for (;;) {
        pollfd entries[2] = {{port.wakeRead, POLLIN, 0}, {port.fd, POLLIN, 0}};
        const nfds_t count = lineUsable ? 2 : 1;
        // ppoll, not poll: a wait that ends on a tick boundary must not be
        // rounded up to the next whole millisecond.
        const timespec left = TimespecUntil(deadline);
        const int ready = ::ppoll(entries, count, &left, nullptr);
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if ((entries[0].revents & POLLIN) != 0) {
            Drain(port.wakeRead);
            return LineEvent::WokenUp;
        }
        if (ready <= 0) {
            return LineEvent::TimedOut;
        }
        if ((entries[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            port.hungUp = true;
            lineUsable = false;
            continue;
        }
        if ((entries[1].revents & POLLIN) != 0) {
            return LineEvent::Input;
        }
    }
}

std::size_t SerialLinePosix::Read(std::span<std::uint8_t> into) {
    const int fd = platform_->fd;
    if (fd < 0 || into.empty()) {
        return 0;
    }
    for (;;) {
        const ssize_t got = ::read(fd, into.data(), into.size());
        if (got > 0) {
            ReceivedSinceAsked = 1;
            return static_cast<std::size_t>(got);
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0 && IsGone(errno)) platform_->hungUp = true;
        // Empty, or the device went away: the link notices the missing answer.
        return 0;
    }
}

bool SerialLinePosix::Vanished() const {
    return platform_->fd >= 0 && platform_->hungUp;
}

void SerialLinePosix::Wake() {
    if (platform_->wakeWrite < 0) return;
    const std::uint8_t one = 1;
    // A full pipe already holds a wake-up; nothing is lost by not adding one.
    [[maybe_unused]] const ssize_t ignored = ::write(platform_->wakeWrite, &one, 1);
}

}  // namespace kvq::serial
