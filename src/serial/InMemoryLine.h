#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "serial/SerialLine.h"

namespace kvq::serial {

// Both ends of a serial line inside one process: the tool's end is a
// SerialLine (any port name opens it), the far end serves a simulated device.
// Octets the far end sends can be paced: each becomes readable when it would
// have arrived over a real line at the given rate, so the link sees the same
// timing as on a wire without anyone sleeping per octet.
class InMemoryLine {
public:
    // The device's side of the line.
    class FarEnd {
    public:
        // Octets for the tool. With a rate they arrive one octet time (10 bits)
        // apart, after whatever is still on its way; without one, at once. A
        // closed tool end hears nothing.
        void Write(std::span<const std::uint8_t> octets, std::uint32_t paceRate = 0);
        // Takes what the tool has sent, without waiting.
        std::size_t Read(std::span<std::uint8_t> into);
        // Until the tool has sent something, a Wake, or the time is up.
        LineEvent Wait(std::chrono::milliseconds timeout);
        void Wake();
        // The rate the tool set; 0 while its end is closed.
        std::int32_t ToolBaudRate() const;
        bool ToolOpen() const;

    private:
        friend class InMemoryLine;
        explicit FarEnd(InMemoryLine& line) : line_(line) {}
        InMemoryLine& line_;
    };

    InMemoryLine();
    ~InMemoryLine();
    InMemoryLine(const InMemoryLine&) = delete;
    InMemoryLine& operator=(const InMemoryLine&) = delete;

    SerialLine& ToolEnd();
    FarEnd& Far() { return far_; }

private:
    class ToolSide;
    struct Shared;
    std::unique_ptr<Shared> shared_;
    std::unique_ptr<ToolSide> tool_;
    FarEnd far_{*this};
};

}  // namespace kvq::serial
