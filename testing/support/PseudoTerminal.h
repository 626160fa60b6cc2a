#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvq::testing {

// A pseudo-terminal standing in for the serial line. The test plays the far end
// on the master; the port under test opens SlavePath(). Settings read through
// the master are the slave's.
class PseudoTerminal {
public:
    // Held: the test keeps the slave open too, so the line does not hang up
    // when the port closes and the slave's exclusive flag can be read. Free:
    // only the code under test opens the slave, so its close shows as a hang-up.
    enum SlaveUse { Held, Free };

    explicit PseudoTerminal(SlaveUse use = Held) {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
            throw std::runtime_error("cannot create a pseudo-terminal");
        }
        char name[128] = {};
        if (::ptsname_r(master_, name, sizeof name) != 0) {
            throw std::runtime_error("cannot name the pseudo-terminal");
        }
        slavePath_ = name;
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        if (use == Held) {
            slave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (slave_ < 0) {
                throw std::runtime_error("cannot open " + slavePath_);
            }
        }
    }
    ~PseudoTerminal() {
        CloseMaster();
        if (slave_ >= 0) {
            ::close(slave_);
        }
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool Ok() const { return master_ >= 0 && !slavePath_.empty(); }
    const std::string& SlavePath() const { return slavePath_; }
    int Master() const { return master_; }
    int Slave() const { return slave_; }

    // True once the slave has been opened and closed again by everyone: the
    // master then sees a hang-up (before any open it does not).
    bool SlaveClosed() const {
        pollfd entry{master_, POLLIN, 0};
        return ::poll(&entry, 1, 0) >= 0 && (entry.revents & POLLHUP) != 0;
    }

    termios SlaveSettings() const {
        termios settings{};
        ::tcgetattr(master_, &settings);
        return settings;
    }
    void SetSlaveSettings(const termios& settings) const {
        ::tcsetattr(slave_, TCSANOW, &settings);
    }

    // TIOCGEXCL reads the flag of the side it is asked on, so ask the slave.
    int SlaveExclusive() const {
        int exclusive = -1;
        ::ioctl(slave_, TIOCGEXCL, &exclusive);
        return exclusive;
    }

    void Write(const std::vector<std::uint8_t>& bytes) const {
        if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) {
            throw std::runtime_error("short write to the pseudo-terminal");
        }
    }

    // What arrives at the master until `count` bytes are in or `wait` has passed.
    std::vector<std::uint8_t> Read(std::size_t count, std::chrono::milliseconds wait) const {
        std::vector<std::uint8_t> bytes;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        std::uint8_t chunk[4096];
        while (bytes.size() < count) {
            const ssize_t got =
                ::read(master_, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (got > 0) {
                bytes.insert(bytes.end(), chunk, chunk + got);
                continue;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                break;
            }
            pollfd entry{master_, POLLIN, 0};
            ::poll(&entry, 1, static_cast<int>(left.count()));
        }
        return bytes;
    }

    // Hangs up the line as an unplugged adapter would.
    void CloseMaster() {
        if (master_ >= 0) {
            ::close(master_);
            master_ = -1;
        }
    }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace kvq::testing
