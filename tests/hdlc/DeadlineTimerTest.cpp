#include <gtest/gtest.h>

#include <cstdint>

#include "hdlc/DeadlineTimer.h"
#include "support/ManualClock.h"

using namespace kvq::hdlc;
using namespace kvq::testing;

namespace {

struct WrapCase {
    const char* what;
    std::uint32_t start;
    std::uint32_t interval;
};

}  // namespace

// Wherever the tick stands, a deadline expires exactly one millisecond after the
// interval has passed: never at once and never 49 days late.
TEST(DeadlineTimer, ExpiresAfterItsIntervalWhereverTheTickStands) {
    const WrapCase cases[] = {
        {"far from the wrap", 1000, 120},
        {"deadline lands exactly on zero", 0xFFFFFF88u, 120},
        {"deadline lands just past the wrap", 0xFFFFFFF0u, 120},
        {"set one tick before the wrap", 0xFFFFFFFFu, 10000},
        {"set at the wrap", 0, 50000},
        {"crossing the signed midpoint", 0x7FFFFFF0u, 100},
        {"zero interval at the top", 0xFFFFFFFFu, 0},
        {"longest interval that still works", 5, 0x7FFFFFFFu},
    };
    for (const auto& c : cases) {
        ManualClock clock(c.start);
        ScopedClock scoped(clock);
        DeadlineTimer timer;
        timer.Set(c.interval);
        EXPECT_FALSE(timer.Expired()) << c.what << ": expired at once";
        clock.Set(c.start + c.interval);
        EXPECT_FALSE(timer.Expired()) << c.what << ": expired at the deadline itself";
        clock.Advance(1);
        EXPECT_TRUE(timer.Expired()) << c.what << ": not expired a millisecond later";
    }
}

TEST(DeadlineTimer, ExtendMovesTheDeadlineWithoutReadingTheClock) {
    ManualClock clock(0xFFFFFF00u);
    ScopedClock scoped(clock);
    DeadlineTimer timer;
    timer.Set(120);
    clock.Advance(200);  // across the wrap, and past the deadline
    EXPECT_TRUE(timer.Expired());
    timer.Extend(80);  // an expired timer can become unexpired again
    EXPECT_FALSE(timer.Expired());
    EXPECT_EQ(timer.Deadline(), 0xFFFFFF00u + 200u);
    clock.Advance(1);
    EXPECT_TRUE(timer.Expired());
}

TEST(DeadlineTimer, SetZeroExpiresOneMillisecondLater) {
    ManualClock clock(42);
    ScopedClock scoped(clock);
    DeadlineTimer timer;
    timer.Set(0);
    EXPECT_FALSE(timer.Expired());
    clock.Advance(1);
    EXPECT_TRUE(timer.Expired());
}
