#include "serial/LineTap.h"

#include <algorithm>

namespace kvq::serial {

LineTap::LineTap(std::size_t capacity, Clock::time_point start)
    : start_(start), ring_(std::max<std::size_t>(capacity, 1)) {}

TapEntry& LineTap::NextSlot() {
    if (count_ == ring_.size()) {
        // Full: the oldest entry makes room.
        head_ = (head_ + 1) % ring_.size();
        --count_;
        ++dropped_;
    }
    TapEntry& slot = ring_[(head_ + count_) % ring_.size()];
    ++count_;
    return slot;
}

void LineTap::Record(TapKind kind, std::span<const std::uint8_t> octets, std::uint32_t baudRate,
                     std::span<const std::uint16_t> echoEnds) {
    RecordAt(Clock::now(), kind, octets, baudRate, echoEnds);
}

void LineTap::RecordAt(Clock::time_point when, TapKind kind, std::span<const std::uint8_t> octets,
                       std::uint32_t baudRate, std::span<const std::uint16_t> echoEnds) {
    const std::int64_t micros =
        std::chrono::duration_cast<std::chrono::microseconds>(when - start_).count();
    {
        const std::lock_guard lock(mutex_);
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
    }
    ready_.notify_one();
}

void LineTap::RecordOpened(std::string_view portName, std::uint32_t baudRate,
                           const LowLatency& latency) {
    const std::size_t size = std::min(portName.size(), TapEntry::Capacity);
    {
        const std::lock_guard lock(mutex_);
        TapEntry& slot = NextSlot();
        slot.micros =
            std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start_).count();
        slot.baudRate = baudRate;
        slot.kind = TapKind::Opened;
        slot.size = static_cast<std::uint8_t>(size);
        slot.echoEnds = 0;
        slot.latency = latency;
        std::copy_n(portName.begin(), size, slot.octets.begin());
    }
    ready_.notify_one();
}

void LineTap::RecordClosed() {
    Record(TapKind::Closed, {}, 0);
}

std::uint64_t LineTap::Take(std::vector<TapEntry>& into) {
    const std::lock_guard lock(mutex_);
    for (; count_ > 0; --count_) {
        into.push_back(ring_[head_]);
        head_ = (head_ + 1) % ring_.size();
    }
    const std::uint64_t dropped = dropped_;
    dropped_ = 0;
    return dropped;
}

void LineTap::WaitForEntries(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    ready_.wait_for(lock, timeout, [this] { return count_ > 0 || released_; });
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

}  // namespace kvq::serial
