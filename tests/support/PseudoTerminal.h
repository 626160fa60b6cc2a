#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

// A pseudo-terminal for tests: the test keeps the master side, the code under
// test opens the slave by its path, as it would a serial device.
class PseudoTerminal {
public:
    PseudoTerminal() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) == 0) slavePath_ = name;
    }
    ~PseudoTerminal() {
        if (master_ >= 0) close(master_);
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool Ok() const { return master_ >= 0 && !slavePath_.empty(); }
    int Master() const { return master_; }
    const std::string& SlavePath() const { return slavePath_; }

    // The slave's settings, as the code under test left them.
    bool SlaveSettings(termios& settings) const { return tcgetattr(master_, &settings) == 0; }

    bool Write(const std::vector<std::uint8_t>& bytes) const {
        return write(master_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Whatever arrives within timeoutMs of quiet.
    std::vector<std::uint8_t> Read(int timeoutMs) const {
        std::vector<std::uint8_t> bytes;
        for (;;) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) break;
            std::uint8_t chunk[512];
            const ssize_t n = read(master_, chunk, sizeof chunk);
            if (n <= 0) break;
            bytes.insert(bytes.end(), chunk, chunk + n);
        }
        return bytes;
    }

    // True while no one holds the slave open (the master then sees a hang-up).
    bool SlaveClosed() const {
        pollfd p{master_, POLLIN, 0};
        return poll(&p, 1, 0) >= 0 && (p.revents & POLLHUP) != 0;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};
