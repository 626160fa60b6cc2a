#pragma once

#include <chrono>
#include <cstdint>

namespace kvq::core {

// The one source of time: a wrapping 32-bit millisecond tick and a sleep.
// Tests put a clock of their own in place so deadlines and step machines can
// be driven without waiting.
class TimeSource {
public:
    virtual ~TimeSource() = default;
    virtual std::uint32_t TickCount() = 0;
    virtual void Sleep(std::uint32_t ms) = 0;
    // How long from now until the tick count reaches tick (zero when it has):
    // to the microsecond on the real clock, so a wait ends on the millisecond
    // it is meant for rather than up to one later.
    virtual std::chrono::microseconds UntilTick(std::uint32_t tick) {
        const auto left = static_cast<std::int32_t>(tick - TickCount());
        return std::chrono::milliseconds(left > 0 ? left : 0);
    }
    // True for the real clock, whose sleeps other threads can wake.
    virtual bool IsSystemClock() const { return false; }
};

// The clock in use; the system clock unless a test has set another.
TimeSource& Clock();
// Puts a clock in place (nullptr restores the system clock). The caller keeps
// it alive for as long as it is in place.
void SetClock(TimeSource* clock);

inline std::uint32_t TickCount() {
    return Clock().TickCount();
}
inline void SleepMs(std::uint32_t ms) {
    Clock().Sleep(ms);
}

}  // namespace kvq::core
