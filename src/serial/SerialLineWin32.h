#pragma once

#include <memory>

#include "serial/SerialLine.h"

namespace kvq::serial {

// A COM port through the Win32 communications calls: an RS-485 adapter, or
// under Wine a pseudo-terminal mapped to a COM name. The port is opened for
// overlapped I/O, so one wait covers the line's input, a wake-up and the
// deadline together. A COM port is exclusive by nature: a second open, in
// this process or another, is refused while it is held; a claim on the port's
// name keeps two instances of the tool apart where a driver does not (Wine).
class SerialLineWin32 final : public SerialLine {
public:
    SerialLineWin32();
    // Closes a port still open, so no handle outlives the object.
    ~SerialLineWin32() override;

    // "COMn" opens \\.\COMn (which also reaches COM10 and above); a name
    // that starts with \\.\ is opened as it stands.
    OpenOutcome Open(const std::string& name, std::int32_t baudRate) override;
    void Close() override;
    void Discard() override;
    // Starts the frame going out and returns; the next Write (or Close)
    // waits for it, at most the frame's wire time and 100 ms more.
    void Write(std::span<const std::uint8_t> frame) override;
    LineEvent Wait(std::chrono::microseconds timeout, bool watchInput) override;
    std::size_t Read(std::span<std::uint8_t> into) override;
    void Wake() override;
    bool Vanished() const override;

private:
    struct Platform;  // the open port, its settings found at open, the pending I/O
    std::unique_ptr<Platform> platform_;
};

}  // namespace kvq::serial
