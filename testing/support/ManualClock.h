#pragma once

#include <atomic>
#include <cstdint>

#include "core/TimeSource.h"

namespace kvq::testing {

// A clock that only moves when told to, or when someone sleeps on it.
class ManualClock final : public core::TimeSource {
public:
    explicit ManualClock(std::uint32_t start = 0) : tick_(start) {}
    std::uint32_t TickCount() override { return tick_.load(); }
    void Sleep(std::uint32_t ms) override { tick_ += ms; }
    void Advance(std::uint32_t ms) { tick_ += ms; }
    void Set(std::uint32_t tick) { tick_ = tick; }

private:
    std::atomic<std::uint32_t> tick_;
};

// Puts a clock in place for the life of a scope.
class ScopedClock {
public:
    explicit ScopedClock(core::TimeSource& clock) { core::SetClock(&clock); }
    ~ScopedClock() { core::SetClock(nullptr); }
    ScopedClock(const ScopedClock&) = delete;
    ScopedClock& operator=(const ScopedClock&) = delete;
};

}  // namespace kvq::testing
