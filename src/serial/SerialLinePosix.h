#pragma once

#include <filesystem>
#include <memory>

#include "serial/SerialLine.h"

namespace kvq::serial {

// A serial port through termios: an RS-485 adapter, or a pseudo-terminal in
// tests. DTR and RTS are asserted; the port is held exclusively while open.
// On open the driver is asked for low latency (LowLatencyGranted says what it
// gave), and it is put back at close.
class SerialLinePosix final : public SerialLine {
public:
    // sysfsRoot: where the adapters' settings are looked up ("/sys").
    explicit SerialLinePosix(std::filesystem::path sysfsRoot = "/sys");
    // Closes a port still open, so no descriptor (and no exclusive flag)
    // outlives the object.
    ~SerialLinePosix() override;

    // "COMn" goes through the port map; a name starting with '/' is a path.
    OpenOutcome Open(const std::string& name, std::int32_t baudRate) override;
    void Close() override;
    void Discard() override;
    void Write(std::span<const std::uint8_t> frame) override;
    LineEvent Wait(std::chrono::microseconds timeout, bool watchInput) override;
    std::size_t Read(std::span<std::uint8_t> into) override;
    void Wake() override;
    bool Vanished() const override;

private:
    struct Platform;  // the open device, the settings found at open, the wake-up
    std::unique_ptr<Platform> platform_;
};

}  // namespace kvq::serial
