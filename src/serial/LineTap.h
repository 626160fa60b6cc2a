#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

#include "serial/SerialLine.h"

namespace kvq::serial {

// What one entry of a line tap holds.
enum class TapKind : std::uint8_t {
    Sent,      // octets written to the line
    Received,  // octets read from the line
    Opened,    // the line was opened: octets hold the port's name (cut short when long)
    Closed,    // the line was closed
};

// One run of octets as it crossed the line, or an open or a close. A run
// longer than one entry holds goes into several entries of the same time.
struct TapEntry {
    static constexpr std::size_t Capacity = 56;

    std::int64_t micros = 0;  // since the tap was made
    std::uint32_t baudRate = 0;
    TapKind kind = TapKind::Sent;
    std::uint8_t size = 0;
    // Received: bit i set when octets[i] closed a frame the line's echo filter
    // recognised as the line's own frame read back.
    std::uint64_t echoEnds = 0;
    LowLatency latency;  // Opened: what the driver granted
    std::array<std::uint8_t, Capacity> octets{};

    std::span<const std::uint8_t> Octets() const { return {octets.data(), size}; }
};

// A record of what crosses a line, taken on the line's own thread and handed
// to another that decodes and writes it. Recording never waits for that
// thread: it copies the octets into a ring of entries allocated once, under a
// lock held only for the copy, and when the ring is full the oldest entries go
// (counted, so the reader can say how many).
class LineTap {
public:
    using Clock = std::chrono::steady_clock;

    explicit LineTap(std::size_t capacity = 4096, Clock::time_point start = Clock::now());

    // The line's thread. echoEnds are offsets into octets (Received only).
    void Record(TapKind kind, std::span<const std::uint8_t> octets, std::uint32_t baudRate,
                std::span<const std::uint16_t> echoEnds = {});
    void RecordAt(Clock::time_point when, TapKind kind, std::span<const std::uint8_t> octets,
                  std::uint32_t baudRate, std::span<const std::uint16_t> echoEnds = {});
    void RecordOpened(std::string_view portName, std::uint32_t baudRate, const LowLatency& latency);
    void RecordClosed();

    // The reader's thread: moves every waiting entry to the end of into and
    // answers how many entries were dropped since the last Take.
    std::uint64_t Take(std::vector<TapEntry>& into);
    // Waits until an entry is waiting, Release was called, or the time is up.
    void WaitForEntries(std::chrono::milliseconds timeout);
    // Ends every wait, now and later: the reader takes what is left and stops.
    void Release();
    bool Released() const;

    Clock::time_point Start() const { return start_; }
    std::size_t Capacity() const { return ring_.size(); }

private:
    TapEntry& NextSlot();  // under the lock

    const Clock::time_point start_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<TapEntry> ring_;
    std::size_t head_ = 0;   // the oldest waiting entry
    std::size_t count_ = 0;  // entries waiting
    std::uint64_t dropped_ = 0;
    bool released_ = false;
};

}  // namespace kvq::serial
