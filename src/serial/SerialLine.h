#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "serial/EchoFilter.h"

namespace kvq::serial {

class LineTap;

// Why the last Open failed, so a front end can say it in a sentence.
enum class OpenFailure : std::uint8_t {
    None,              // the last open succeeded (or none was tried)
    NoSuchDevice,      // the name maps to no device, or the device does not exist
    Busy,              // another program (or another open here) holds the port
    PermissionDenied,  // the user may not open the device
    NotASerialPort,    // the device exists but is not a terminal
    Other,             // anything else; see LastOpenError()
};

// What an Open did: "USB" names no port and is not tried at all.
enum class OpenOutcome : std::uint8_t { Opened, Failed, NotTried };

// What the driver granted, when the line was opened, towards handing received
// octets on at once instead of holding them back (a USB adapter's latency
// timer holds them up to 16 ms by default).
struct LowLatency {
    bool driverFlag = false;  // the driver took its low-latency flag
    int timerMs = -1;         // the adapter's latency timer while open; -1 when it has none known
    int timerWasMs = -1;      // the timer found at open, put back at close; -1 when unchanged

    bool Granted() const { return driverFlag || (timerMs >= 0 && timerMs <= 1); }
};

// One line for a log or a trace, e.g. "low latency: driver flag set, latency
// timer 1 ms (was 16 ms)".
std::string DescribeLowLatency(const LowLatency& latency);

// What ended a Wait.
enum class LineEvent : std::uint8_t { Input, WokenUp, TimedOut };

// The link's access to its serial line: 8N1, no flow control, 9600 or 115200
// baud. Only the link thread (or, before it starts, the front end's probe)
// calls the operations; Wake may be called from any thread, and the flags
// below are read by other threads.
class SerialLine {
public:
    static constexpr std::int32_t SlowRate = 9600;
    static constexpr std::int32_t FastRate = 115200;

    SerialLine() = default;
    virtual ~SerialLine() = default;
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // A rate of 9600 gives 9600, anything else 115200. The outcome shows in
    // IsOpen, BaudRate and LastOpenFailure; "USB" opens nothing and leaves
    // them as they were (apart from IsOpen: a line open before is closed).
    virtual OpenOutcome Open(const std::string& name, std::int32_t baudRate) = 0;
    // Discards what is left, restores the line as it was found, closes.
    virtual void Close() = 0;
    // Drops input not yet read.
    virtual void Discard() = 0;
    // Writes one frame whole; a line that takes it only in parts gets at most
    // 100 ms for the rest. Nothing happens on a closed line.
    virtual void Write(std::span<const std::uint8_t> frame) = 0;
    // Waits until input is there (only when watchInput), a Wake, or the time
    // is up. A Wake that came before the call ends it at once; either way the
    // wake is used up.
    virtual LineEvent Wait(std::chrono::microseconds timeout, bool watchInput = true) = 0;
    // Takes what has arrived, without waiting; 0 when nothing has.
    virtual std::size_t Read(std::span<std::uint8_t> into) = 0;
    // Cuts a Wait short, now or the next one; from any thread.
    virtual void Wake() = 0;
    // Whether the open device has gone away (an adapter pulled out, the far
    // end of a pseudo-terminal closed): nothing more will come through it,
    // and only closing and opening it again can help.
    virtual bool Vanished() const { return false; }

    std::int32_t BaudRate() const { return baudRate_.load(); }
    OpenFailure LastOpenFailure() const { return lastFailure_.load(); }
    // The system's code for the failed call: errno, or GetLastError on Windows.
    int LastOpenError() const { return lastError_.load(); }

    // What the driver granted at the last successful open (nothing on a line
    // closed since, a pseudo-terminal or a driver that refused); any thread.
    LowLatency LowLatencyGranted() const {
        const std::lock_guard lock(latencyMutex_);
        return latency_;
    }

    // Recognises the line's own frames read back on an adapter that echoes.
    // The link thread feeds it, and resets it whenever it opens a port that
    // may hold another adapter.
    EchoFilter& Echo() { return echo_; }
    const EchoFilter& Echo() const { return echo_; }

    // A record of what crosses the line, kept by whoever reads and writes it
    // (the link thread); set before that thread starts, nullptr for none.
    void SetTap(LineTap* tap) { tap_ = tap; }
    LineTap* Tap() const { return tap_; }

    std::atomic<std::uint8_t> ReceivedSinceAsked{0};
    std::atomic<std::uint8_t> IsOpen{0};

protected:
    static std::int32_t RateFor(std::int32_t requested) {
        return requested == SlowRate ? SlowRate : FastRate;
    }
    void NoteOpened(std::int32_t rate, const LowLatency& latency = {}) {
        SetLowLatency(latency);
        baudRate_ = rate;
        lastError_ = 0;
        lastFailure_ = OpenFailure::None;
        IsOpen = 1;
    }
    // Called at close: what was granted is put back.
    void SetLowLatency(const LowLatency& latency) {
        const std::lock_guard lock(latencyMutex_);
        latency_ = latency;
    }
    void NoteFailed(OpenFailure failure, int error) {
        lastError_ = error;
        lastFailure_ = failure;
        IsOpen = 0;
    }

private:
    std::atomic<std::int32_t> baudRate_{0};
    std::atomic<OpenFailure> lastFailure_{OpenFailure::None};
    std::atomic<int> lastError_{0};
    mutable std::mutex latencyMutex_;
    LowLatency latency_;
    EchoFilter echo_;
    LineTap* tap_ = nullptr;
};

// The serial line of this platform (termios, or the Win32 communications calls).
std::unique_ptr<SerialLine> MakeSystemSerialLine();

// The system's own text for an error code of LastOpenError (one per platform).
std::string SystemErrorText(int error);

// What the system can tell about a device that would not open, so the user
// is told what to do about it.
struct OpenFailureFacts {
    // The program that holds a busy port, "minicom (process 4711)"; empty when not known.
    std::string holder;
    // The group the device belongs to; empty when not known.
    std::string group;
    // The group may read and write the device and the user is not in it.
    bool joiningGroupHelps = false;
    // The user's account is in that group, but the running login is not yet.
    bool membershipNotActive = false;
};

// Looks the facts up for the device (one file per platform); what cannot be
// found out stays empty.
OpenFailureFacts GatherOpenFailureFacts(OpenFailure failure, const std::string& devicePath);

// One sentence for the user about why the port could not be opened: a busy
// port names the program holding it when known, a denied one names the group
// to join only when joining it would help.
std::string DescribeOpenFailure(OpenFailure failure, const std::string& portName, int error,
                                const OpenFailureFacts& facts);
// The same, with the facts gathered for the device the port name stands for.
std::string DescribeOpenFailure(OpenFailure failure, const std::string& portName, int error = 0);

}  // namespace kvq::serial
