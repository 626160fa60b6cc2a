#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "serial/FrameSplitter.h"
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

// What a line tap still holds, for a save of the latest frames: its entries,
// oldest first, and where the entries it has forgotten left the lines of each
// direction.
struct TapHistory {
    std::vector<TapEntry> entries;
    FrameSplitter sent;                     // the sent octets' line under way
    FrameSplitter received;                 // the received octets' line under way
    std::uint64_t linesForgotten = 0;       // trace lines the forgotten entries ended
    std::optional<TapEntry> openForgotten;  // the latest open among them
};

// A record of what crosses a line, taken on the line's own thread and handed
// to another that decodes and writes it. Recording never waits for that
// thread and never allocates: it copies the octets into a ring of entries
// allocated once, under a lock held only for the copy. The ring keeps the
// latest entries after the reader took them, for a save that names them
// later (the dialog's, which needs no reader at all). A reader that falls a
// whole ring behind loses the oldest entries it had not taken (counted, so it
// can say how many). The reader is woken only when its batch is due: the
// first entry after a quiet spell, or the ring filling half with entries it
// has not taken; it waits out its batching period itself.
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
    void RecordOpenedAt(Clock::time_point when, std::string_view portName, std::uint32_t baudRate,
                        const LowLatency& latency);
    void RecordClosed();

    // The reader's thread: copies every entry recorded since its last Take to
    // the end of into and answers how many it missed (recorded over before it
    // took them) since then.
    std::uint64_t Take(std::vector<TapEntry>& into);
    // The reader's thread: waits until its next batch is due. busy: the last
    // batch held entries, so more are likely; else it first waits for an
    // entry. Then it waits one period, cut short when the entries waiting
    // fill half the ring. Release ends either wait at once.
    void WaitForBatch(std::chrono::milliseconds period, bool busy);
    // Ends every wait, now and later: the reader takes what is left and stops.
    void Release();
    bool Released() const;

    // Any thread: what the ring holds now. Copied in slices, so the line's
    // thread waits for one slice at most.
    TapHistory History() const;

    Clock::time_point Start() const { return start_; }
    std::size_t Capacity() const { return ring_.size(); }

private:
    // Under the lock.
    TapEntry& NextSlot();
    void Forget(const TapEntry& entry);
    std::uint64_t Oldest() const;
    std::uint64_t Waiting() const;
    bool NoteRecorded(std::uint64_t waitingBefore);

    const Clock::time_point start_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::vector<TapEntry> ring_;  // entry n at n % size
    std::uint64_t next_ = 0;      // the number of the next entry recorded
    std::uint64_t read_ = 0;      // the next entry the reader takes
    bool readerIdle_ = false;     // the reader waits for the first entry
    bool released_ = false;
    // What the entries recorded over left behind.
    FrameSplitter forgotSent_;
    FrameSplitter forgotReceived_;
    std::uint64_t linesForgotten_ = 0;
    TapEntry openForgotten_;
    bool openWasForgotten_ = false;
};

}  // namespace kvq::serial
