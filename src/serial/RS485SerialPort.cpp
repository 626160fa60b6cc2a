#include "serial/RS485SerialPort.h"

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

#include "core/MainDataStore.h"
#include "serial/PortNames.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// A one-byte read waits this long in all. VTIME counts in tenths of a second,
// too coarse, so the wait is a poll().
constexpr auto ReadWait = std::chrono::milliseconds(20);
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

enum class ReadResult { Byte, Nothing, LineDown };

ReadResult ReadOnce(int fd, std::uint8_t& byte) {
    for (;;) {
        const ssize_t got = ::read(fd, &byte, 1);
        if (got == 1) {
            return ReadResult::Byte;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        // With VMIN and VTIME 0 an empty line reads as 0 bytes, and so does a
        // hung-up one; poll() tells the two apart.
        if (got == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            return ReadResult::Nothing;
        }
        return ReadResult::LineDown;  // EIO and the like: the device went away
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

}  // namespace

struct CRS485SerialPort::Platform {
    int fd = -1;
    bool exclusive = false;  // we set TIOCEXCL and must clear it again
    termios saved{};         // the settings found at open, put back at close
};

CRS485SerialPort::CRS485SerialPort(CMainDataStore& context)
    : context_(context), platform_(std::make_unique<Platform>()) {}

// Closes a port still open, so no descriptor (and no exclusive flag) outlives
// the object.
CRS485SerialPort::~CRS485SerialPort() {
    Close();
}

void CRS485SerialPort::Open(const std::string& name, std::int32_t baudRate) {
    // Normally called on a closed port; never leak the descriptor if it is not.
    Close();
    IsOpen = 0;
    if (name == "USB") {
        return;
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
        lastError_ = error;
        lastFailure_ = failure;
        context_.PortOpened = 0;
        IsOpen = 0;
    };

    const auto path = DevicePathForPortName(name);
    if (!path) {
        fail(0, OpenFailure::NoSuchDevice);
        return;
    }
    port.fd = ::open(path->c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.fd < 0) {
        fail(errno, FailureForError(errno));
        return;
    }
    // The lock first: if someone else holds the port, its exclusive flag is
    // theirs and must not be touched.
    if (::flock(port.fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        fail(error, error == EWOULDBLOCK ? OpenFailure::Busy : FailureForError(error));
        return;
    }
    if (::ioctl(port.fd, TIOCEXCL) != 0) {
        fail(errno, FailureForError(errno));
        return;
    }
    port.exclusive = true;
    if (::tcgetattr(port.fd, &port.saved) != 0) {
        const int error = errno;
        fail(error, OpenFailure::NotASerialPort);
        return;
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
    const std::int32_t rate = baudRate == 9600 ? 9600 : 115200;
    const speed_t speed = rate == 9600 ? B9600 : B115200;
    cfsetispeed(&settings, speed);
    cfsetospeed(&settings, speed);
    if (const int error = SetAttributes(port.fd, settings); error != 0) {
        fail(error, FailureForError(error));
        return;
    }
    // tcsetattr succeeds when any part of the change was taken; a driver that
    // refused the speed would leave the link talking at the wrong rate.
    termios applied{};
    if (::tcgetattr(port.fd, &applied) != 0 || cfgetospeed(&applied) != speed ||
        (applied.c_cflag & CSIZE) != CS8) {
        fail(EINVAL, OpenFailure::Other);
        return;
    }
    // A pseudo-terminal has no modem lines, so the answer is ignored.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(port.fd, TIOCMBIS, &lines);

    Purge();
    baudRate_ = rate;
    lastError_ = 0;
    lastFailure_ = OpenFailure::None;
    context_.PortOpened = 1;
    IsOpen = 1;
}

void CRS485SerialPort::Close() {
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
    Purge();
    SetAttributes(port.fd, port.saved);
    ::close(port.fd);  // also drops the lock
    port.fd = -1;
    port.exclusive = false;
}

void CRS485SerialPort::Purge() {
    const int fd = platform_->fd;
    if (fd < 0) {
        return;
    }
    ::tcflush(fd, TCOFLUSH);
    ::tcflush(fd, TCIFLUSH);
}

bool CRS485SerialPort::HasInput() {
    const int fd = platform_->fd;
    if (fd < 0) {
        return false;
    }
    int waiting = 0;
    return ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting > 0;
}

bool CRS485SerialPort::ReadByte(std::uint8_t& byte) {
    const int fd = platform_->fd;
    if (fd < 0) {
        return false;
    }
    std::uint8_t got = 0;
    ReadResult result = ReadOnce(fd, got);
    const auto deadline = SteadyClock::now() + ReadWait;
    while (result == ReadResult::Nothing) {
        const short events = WaitFor(fd, POLLIN, deadline);
        result = ReadOnce(fd, got);
        // Time-out, hang-up or error: that last read was the final try. Only a
        // plain "readable" that turned out empty is worth waiting on again.
        if (events == 0 || (events & (POLLERR | POLLHUP | POLLNVAL)) != 0 ||
            SteadyClock::now() >= deadline) {
            break;
        }
    }
    if (result != ReadResult::Byte) {
        return false;
    }
    byte = got;
    ReceivedSinceAsked = 1;
    return true;
}

void CRS485SerialPort::ResetTransmit() {
    if (platform_->fd < 0) {
        return;
    }
    transmitLength_ = 0;
}

void CRS485SerialPort::AppendTransmit(const std::uint8_t* bytes, std::size_t count) {
    if (platform_->fd < 0 || bytes == nullptr) {
        return;
    }
    const std::size_t taken = std::min(count, TransmitSize - transmitLength_);
    std::copy_n(bytes, taken, transmit_.begin() + static_cast<std::ptrdiff_t>(transmitLength_));
    transmitLength_ += taken;
}

void CRS485SerialPort::SendTransmit() {
    const int fd = platform_->fd;
    if (fd < 0) {
        return;
    }
    std::size_t sent = 0;
    std::optional<SteadyClock::time_point> deadline;
    while (sent < transmitLength_) {
        const ssize_t written = ::write(fd, transmit_.data() + sent, transmitLength_ - sent);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
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

std::string DescribeOpenFailure(OpenFailure failure, const std::string& portName, int error) {
    std::string port = portName;
    if (portName.empty() || portName.front() != '/') {
        if (const auto path = DevicePathForPortName(portName)) {
            port += " (" + *path + ")";
        }
    }
    const std::string prefix = "Cannot open serial port " + port + ": ";
    switch (failure) {
        case OpenFailure::None:
            return "Serial port " + port + " is open.";
        case OpenFailure::NoSuchDevice:
            return prefix + "the port does not exist or is not connected.";
        case OpenFailure::Busy:
            return prefix + "another program is using it. Close that program and try again.";
        case OpenFailure::PermissionDenied:
            return prefix +
                   "permission denied. Add your user to the dialout group (sudo usermod -aG "
                   "dialout $USER) and log in again.";
        case OpenFailure::NotASerialPort:
            return prefix + "the device is not a serial port.";
        case OpenFailure::Other:
            break;
    }
    if (error != 0) {
        return prefix + std::generic_category().message(error) + " (error " +
               std::to_string(error) + ").";
    }
    return prefix + "the port could not be set up.";
}
