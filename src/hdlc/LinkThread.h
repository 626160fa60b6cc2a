#pragma once

#include <cstdint>

#include "hdlc/HDLCPrimary.h"
#include "core/ThreadMessages.h"

class CMainDataStore;
class CRS485SerialPort;

// The five-step poll cycle that drives the station against the serial port.
// One Pass is one turn of the link thread's loop, without its wait.
class PollCycle : public FrameSink {
public:
    PollCycle(CHDLCPrimary& link, CRS485SerialPort& port, CMainDataStore& context, ThreadId self);
    ~PollCycle() override;

    void Pass();
    // How long the loop waits before the next pass: the usual 5 ms, ending at
    // the poll timer's deadline when that comes sooner, and in 1 ms slices
    // while an answer may be on its way, so that it is parsed as soon as it is
    // in. A posted message cuts the wait short.
    std::uint32_t PassWaitMs() const;
    void SendFrameBytes(std::span<const std::uint8_t> frame) override;

    bool ReplyWindowArmed() const { return replyWindowArmed_; }
    bool ReopenPending() const { return reopenPending_; }

private:
    void HandleMessage(ThreadMessage& message);
    void DrainInput();
    void Step();
    void TransmitStep();
    bool DeviceIdle() const;
    std::uint32_t ModePause(std::uint32_t ericssonMs, std::uint32_t aisgMs) const;

    CHDLCPrimary& link_;
    CRS485SerialPort& port_;
    CMainDataStore& context_;
    ThreadId self_;
    bool replyWindowArmed_ = false;
    bool reopenPending_ = false;
};

// The link thread's whole life: open the chosen port, run the poll cycle until
// the stop flag is raised, close the port on the way out.
void LinkThread(CHDLCPrimary& link, CRS485SerialPort& port, CMainDataStore& context,
                LinkDevice* device, ThreadId self);

constexpr std::int32_t EricssonBaud = 115200;
constexpr std::int32_t AisgBaud = 9600;
