#pragma once

#include <atomic>
#include <cstdint>

#include "core/TimeSource.h"

namespace kvq::hdlc {

// A millisecond deadline on the wrapping tick count. Nothing waits on it: the
// owner tests it on its own passes and sizes its waits by it. Comparing by signed difference keeps
// it right across the wrap for any interval below 2^31 ms.
class DeadlineTimer {
public:
    void Set(std::uint32_t ms) { SetFrom(core::TickCount(), ms); }
    // As if Set had been called at the given tick (a step taken on time that
    // nobody woke up for).
    void SetFrom(std::uint32_t tick, std::uint32_t ms) {
        deadline_.store(tick + ms, std::memory_order_relaxed);
    }
    void Extend(std::uint32_t ms) { deadline_.fetch_add(ms, std::memory_order_relaxed); }
    // Not yet at the deadline itself; expired from the next millisecond on.
    bool Expired() const {
        const std::uint32_t late = core::TickCount() - deadline_.load(std::memory_order_relaxed);
        return static_cast<std::int32_t>(late) > 0;
    }
    std::uint32_t Deadline() const { return deadline_.load(std::memory_order_relaxed); }

private:
    // Armed on one thread and tested on another (the actuator's reply watchdog).
    std::atomic<std::uint32_t> deadline_{0};
};

}  // namespace kvq::hdlc
