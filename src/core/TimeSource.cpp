#include "core/TimeSource.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace kvq::core {

namespace {

class SystemClock final : public TimeSource {
public:
    std::uint32_t TickCount() override {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
        return static_cast<std::uint32_t>(ms);  // wraps like any tick counter
    }
    void Sleep(std::uint32_t ms) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
    std::chrono::microseconds UntilTick(std::uint32_t tick) override {
        using namespace std::chrono;
        const auto now = steady_clock::now();
        const auto nowMs = floor<milliseconds>(now);
        const auto left = static_cast<std::int32_t>(
            tick - static_cast<std::uint32_t>(nowMs.time_since_epoch().count()));
        if (left <= 0) return microseconds(0);
        return ceil<microseconds>(nowMs + milliseconds(left) - now);
    }
    bool IsSystemClock() const override { return true; }
};

SystemClock systemClock;
std::atomic<TimeSource*> currentClock{&systemClock};

}  // namespace

TimeSource& Clock() {
    return *currentClock.load(std::memory_order_acquire);
}

void SetClock(TimeSource* clock) {
    currentClock.store(clock ? clock : &systemClock, std::memory_order_release);
}

}  // namespace kvq::core
