#pragma once

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "hdlc/FrameCodec.h"
#include "support/WaitUntil.h"

namespace kvq::sim {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Encode(const Bytes& body) {
    hdlc::FrameBytes frame;
    hdlc::EncodeFrame(body, frame);
    return Bytes(frame.data(), frame.data() + frame.size());
}

inline Bytes Joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The good frames (address through FCS) in what came off the line.
inline std::vector<Bytes> GoodFrames(const Bytes& line) {
    hdlc::FrameReceiver receiver(253);
    std::vector<Bytes> frames;
    std::vector<std::uint8_t> storage(256);
    std::size_t length = 0;
    for (auto octet : line) {
        if (receiver.AcceptByte(octet, storage, length))
            frames.emplace_back(storage.begin(), storage.begin() + length);
    }
    return frames;
}

// The tool's end of the line: the slave opened and set as the tool's port does.
class ToolPort {
public:
    ToolPort(const std::string& path, speed_t speed, bool configure = true) : path_(path) {
        Open(speed, configure);
    }
    ~ToolPort() { Close(); }
    ToolPort(const ToolPort&) = delete;
    ToolPort& operator=(const ToolPort&) = delete;

    void Open(speed_t speed, bool configure = true) {
        Close();
        fd_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) throw std::runtime_error("cannot open " + path_);
        if (configure) SetSpeed(speed);
    }
    void Close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    void SetSpeed(speed_t speed) const {
        termios settings{};
        ::tcgetattr(fd_, &settings);
        ::cfmakeraw(&settings);
        settings.c_cflag |= CLOCAL | CREAD;
        ::cfsetispeed(&settings, speed);
        ::cfsetospeed(&settings, speed);
        if (::tcsetattr(fd_, TCSANOW, &settings) != 0)
            throw std::runtime_error("cannot set up " + path_);
    }
    termios Settings() const {
        termios settings{};
        ::tcgetattr(fd_, &settings);
        return settings;
    }

    void Write(const Bytes& line) const {
        if (::write(fd_, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            throw std::runtime_error("short write to " + path_);
    }
    void Send(const Bytes& body) const { Write(Encode(body)); }

    // What arrives until `count` octets are in or `wait` has passed.
    Bytes Read(std::size_t count, std::chrono::milliseconds wait) const {
        Bytes bytes;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (bytes.size() < count) {
            std::uint8_t chunk[512];
            const ssize_t got = ::read(fd_, chunk, std::min(sizeof chunk, count - bytes.size()));
            if (got > 0) {
                bytes.insert(bytes.end(), chunk, chunk + got);
                continue;
            }
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            pollfd entry{fd_, POLLIN, 0};
            ::poll(&entry, 1, static_cast<int>(left.count()));
        }
        return bytes;
    }
    // One frame as it came: octets up to the second flag, or what came in time.
    Bytes ReadFrameLine(std::chrono::milliseconds wait) const {
        Bytes bytes;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        int flags = 0;
        while (flags < 2) {
            const Bytes octet = Read(1, std::chrono::ceil<std::chrono::milliseconds>(
                                            deadline - std::chrono::steady_clock::now()));
            if (octet.empty()) break;
            bytes.push_back(octet[0]);
            if (octet[0] == hdlc::Flag) ++flags;
        }
        return bytes;
    }
    // Everything that arrives within `wait`.
    Bytes ReadFor(std::chrono::milliseconds wait) const { return Read(SIZE_MAX, wait); }

    int Fd() const { return fd_; }

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace kvq::sim
