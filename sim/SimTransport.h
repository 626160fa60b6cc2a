#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "serial/InMemoryLine.h"
#include "sim/SecondaryLink.h"

namespace kvq::sim {

// The simulator's end of the line: a pseudo-terminal's master or a served
// device (PtyTransport.cpp), or the far end of an in-memory line.
class SimTransport {
public:
    virtual ~SimTransport() = default;

    // Until the tool has sent something, Wake, or the time is up; true when
    // there is input.
    virtual bool WaitInput(std::chrono::milliseconds timeout) = 0;
    virtual std::size_t Read(std::span<std::uint8_t> into) = 0;
    // One answer at the given rate, paced or at once; false when it could not
    // be written whole (nobody reading, the simulator stopping).
    virtual bool Write(std::span<const std::uint8_t> line, std::uint32_t baudRate, bool pace,
                       const std::atomic<bool>& stop) = 0;
    // The speed the tool's end is set to (0 for one without a known rate);
    // none when it cannot be told.
    virtual std::optional<std::uint32_t> ToolBaudRate() const = 0;
    // Called on every turn of the simulator's loop with the station's mode.
    virtual void FollowMode(SimMode) {}
    virtual void Wake() = 0;
};

// The pseudo-terminal the simulator creates, its slave set up for the mode;
// nullptr with error set when that fails. path receives the slave's name.
std::unique_ptr<SimTransport> CreatePtyTransport(SimMode mode, std::string& path,
                                                 std::string& error);
// A device (a serial port wired to the tool's) served as it is.
std::unique_ptr<SimTransport> OpenDeviceTransport(const std::string& path, std::string& error);
// The far end of an in-memory line; the line must outlive the transport.
std::unique_ptr<SimTransport> InMemoryTransport(serial::InMemoryLine::FarEnd& far);

}  // namespace kvq::sim
