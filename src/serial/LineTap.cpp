#include "serial/LineTap.h"

#include <algorithm>

namespace kvq::serial {

LineTap::LineTap(std::size_t capacity, Clock::time_point start)
    : start_(start), ring_(std::max<std::size_t>(capacity, 1)) {}

std::uint64_t LineTap::Oldest() const {
    return next_ > ring_.size() ? next_ - ring_.size() : 0;
}

std::uint64_t LineTap::Waiting() const {
    return next_ - std::max(read_, Oldest());
}

void LineTap::Forget(const TapEntry& entry) {
    switch (entry.kind) {
        case TapKind::Sent:
            linesForgotten_ += forgotSent_.Feed(entry.Octets());
            break;
        case TapKind::Received:
            linesForgotten_ += forgotReceived_.Feed(entry.Octets());
            break;
        case TapKind::Opened:
        case TapKind::Closed:
            // An open or a close ends what either direction had begun.
            linesForgotten_ += (forgotSent_.Flush() != FrameSplitter::End::None ? 1 : 0) +
                               (forgotReceived_.Flush() != FrameSplitter::End::None ? 1 : 0);
            if (entry.kind == TapKind::Opened) {
                openForgotten_ = entry;
                openWasForgotten_ = true;
            }
            break;
    }
}

TapEntry& LineTap::NextSlot() {
    TapEntry& slot = ring_[next_ % ring_.size()];
    // Full: the oldest entry makes room, and what it ended is counted.
    if (next_ >= ring_.size()) Forget(slot);
    ++next_;
    return slot;
}

// Whether the reader is to be woken: it waits for a first entry, or the
// entries it has not taken just reached half the ring.
bool LineTap::NoteRecorded(std::uint64_t waitingBefore) {
    const std::uint64_t half = std::max<std::uint64_t>(ring_.size() / 2, 1);
    bool wake = waitingBefore < half && Waiting() >= half;
    if (readerIdle_) {
        readerIdle_ = false;
        wake = true;
    }
    return wake;
}

void LineTap::Record(TapKind kind, std::span<const std::uint8_t> octets, std::uint32_t baudRate,
                     std::span<const std::uint16_t> echoEnds) {
    RecordAt(Clock::now(), kind, octets, baudRate, echoEnds);
}

void LineTap::RecordAt(Clock::time_point when, TapKind kind, std::span<const std::uint8_t> octets,
                       std::uint32_t baudRate, std::span<const std::uint16_t> echoEnds) {
    const std::int64_t micros =
        std::chrono::duration_cast<std::chrono::microseconds>(when - start_).count();
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        const std::uint64_t waiting = Waiting();
        std::size_t done = 0;
        do {
            TapEntry& slot = NextSlot();
            const std::size_t size = std::min(octets.size() - done, TapEntry::Capacity);
            slot.micros = micros;
            slot.baudRate = baudRate;
            slot.kind = kind;
            slot.size = static_cast<std::uint8_t>(size);
            slot.latency = {};
            slot.echoEnds = 0;
            for (const std::uint16_t end : echoEnds) {
                if (end >= done && end < done + size)
                    slot.echoEnds |= std::uint64_t{1} << (end - done);
            }
            std::copy_n(octets.begin() + static_cast<std::ptrdiff_t>(done), size,
                        slot.octets.begin());
            done += size;
        } while (done < octets.size());
        wake = NoteRecorded(waiting);
    }
    if (wake) ready_.notify_one();
}

void LineTap::RecordOpened(std::string_view portName, std::uint32_t baudRate,
                           const LowLatency& latency) {
    RecordOpenedAt(Clock::now(), portName, baudRate, latency);
}

void LineTap::RecordOpenedAt(Clock::time_point when, std::string_view portName,
                             std::uint32_t baudRate, const LowLatency& latency) {
    const std::size_t size = std::min(portName.size(), TapEntry::Capacity);
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        const std::uint64_t waiting = Waiting();
        TapEntry& slot = NextSlot();
        slot.micros = std::chrono::duration_cast<std::chrono::microseconds>(when - start_).count();
        slot.baudRate = baudRate;
        slot.kind = TapKind::Opened;
        slot.size = static_cast<std::uint8_t>(size);
        slot.echoEnds = 0;
        slot.latency = latency;
        std::copy_n(portName.begin(), size, slot.octets.begin());
        wake = NoteRecorded(waiting);
    }
    if (wake) ready_.notify_one();
}

void LineTap::RecordClosed() {
    Record(TapKind::Closed, {}, 0);
}

std::uint64_t LineTap::Take(std::vector<TapEntry>& into) {
    const std::lock_guard lock(mutex_);
    const std::uint64_t oldest = Oldest();
    std::uint64_t missed = 0;
    if (read_ < oldest) {
        missed = oldest - read_;
        read_ = oldest;
    }
    for (; read_ < next_; ++read_)
        into.push_back(ring_[read_ % ring_.size()]);
    return missed;
}

void LineTap::WaitForBatch(std::chrono::milliseconds period, bool busy) {
    std::unique_lock lock(mutex_);
    if (!busy) {
        // A quiet line: no wake-up until there is something to write.
        readerIdle_ = Waiting() == 0;
        ready_.wait(lock, [this] { return Waiting() > 0 || released_; });
        readerIdle_ = false;
    }
    const std::uint64_t half = std::max<std::uint64_t>(ring_.size() / 2, 1);
    ready_.wait_for(lock, period, [this, half] { return Waiting() >= half || released_; });
}

void LineTap::Release() {
    {
        const std::lock_guard lock(mutex_);
        released_ = true;
    }
    ready_.notify_all();
}

bool LineTap::Released() const {
    const std::lock_guard lock(mutex_);
    return released_;
}

TapHistory LineTap::History() const {
    // Slices small enough that the line's thread never waits long for one.
    constexpr std::uint64_t Slice = 512;
    TapHistory history;
    history.entries.reserve(ring_.size());
    std::uint64_t at = 0;
    std::uint64_t end = 0;
    bool begun = false;
    for (;;) {
        const std::lock_guard lock(mutex_);
        if (!begun || at < Oldest()) {
            // From the oldest entry, and again should the line have recorded
            // over the part not yet copied.
            begun = true;
            history.entries.clear();
            at = Oldest();
            end = next_;
            history.sent = forgotSent_;
            history.received = forgotReceived_;
            history.linesForgotten = linesForgotten_;
            history.openForgotten.reset();
            if (openWasForgotten_) history.openForgotten = openForgotten_;
        }
        for (const std::uint64_t stop = std::min(end, at + Slice); at < stop; ++at)
            history.entries.push_back(ring_[at % ring_.size()]);
        if (at == end) return history;
    }
}

}  // namespace kvq::serial
