#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "core/MainDataStore.h"
#include "support/ManualClock.h"

using namespace kvq::core;
using namespace kvq::testing;

TEST(SystemContext, StatusLinesRaiseTheFlagOnEveryWrite) {
    CMainDataStore context;
    EXPECT_EQ(context.TakeStatusChanged(), 0);
    context.SetStatusLines("READY", "");
    EXPECT_EQ(context.TakeStatusChanged(), 1);
    EXPECT_EQ(context.TakeStatusChanged(), 0);
    // The same texts again still count as a change.
    context.SetStatusLines("READY", "");
    EXPECT_EQ(context.TakeStatusChanged(), 1);
    EXPECT_EQ(context.GetStatusLine1(), "READY");
    EXPECT_EQ(context.GetStatusLine2(), "");
}

TEST(SystemContext, TakeStatusLinesReadsThePairOnlyWhenChanged) {
    CMainDataStore context;
    std::string line1 = "old", line2 = "old";
    EXPECT_FALSE(context.TakeStatusLines(line1, line2));
    EXPECT_EQ(line1, "old");
    context.SetStatusLines("POSSIBLE PROBLEM", "SET TILT FAILED");
    ASSERT_TRUE(context.TakeStatusLines(line1, line2));
    EXPECT_EQ(line1, "POSSIBLE PROBLEM");
    EXPECT_EQ(line2, "SET TILT FAILED");
    EXPECT_EQ(context.TakeStatusChanged(), 0);
}

TEST(SystemContext, TextsAreBoundedToTheirFields) {
    struct Case {
        std::string given;
        std::string kept;
    } lines[] = {
        {std::string(255, 'A'), std::string(255, 'A')},
        {std::string(256, 'B'), std::string(255, 'B')},
        {std::string(1000, 'C'), std::string(255, 'C')},
        {std::string("AB\0CD", 5), "AB"},
    };
    CMainDataStore context;
    for (const auto& c : lines) {
        context.SetStatusLines(c.given, c.given);
        EXPECT_EQ(context.GetStatusLine1(), c.kept);
        EXPECT_EQ(context.GetStatusLine2(), c.kept);
    }
    EXPECT_EQ(context.SelectedPortName(), "NONE");
    context.SetSelectedPortName(std::string(300, 'p'));
    EXPECT_EQ(context.SelectedPortName(), std::string(127, 'p'));
}

TEST(SystemContext, StartsWithThePortNotOpenedAndNoStop) {
    CMainDataStore context;
    EXPECT_EQ(context.PortOpened.load(), 0);
    EXPECT_FALSE(context.StopRequested());
}

// A waiter on the status lines or the port is woken by each change, and only
// by a change.
TEST(SystemContext, StatusAndPortChangesWakeTheirWaiters) {
    CMainDataStore context;
    struct Case {
        const char* what;
        ChangeSignal& signal;
        std::function<void()> change;
    } cases[] = {
        {"status lines", context.StatusChanges(), [&] { context.SetStatusLines("A", "B"); }},
        {"port opened", context.PortChanges(), [&] { context.SetPortOpened(1); }},
    };
    for (auto& c : cases) {
        const auto seen = c.signal.Count();
        EXPECT_EQ(c.signal.WaitForChange(seen, 20), seen) << c.what << ": nothing changed";
        std::thread changer(c.change);
        EXPECT_NE(c.signal.WaitForChange(seen, 5000), seen) << c.what;
        changer.join();
    }
    EXPECT_EQ(context.PortOpened.load(), 1);
}

TEST(SystemContext, APauseEndsEarlyOnceStopIsRequested) {
    CMainDataStore context;
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        context.RequestStop();
    });
    const auto start = std::chrono::steady_clock::now();
    context.PauseUnlessStopped(5000);
    const auto paused = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_TRUE(context.StopRequested());
    EXPECT_LT(paused, std::chrono::milliseconds(1000));
    // Once stopped, a pause does not wait at all.
    const auto again = std::chrono::steady_clock::now();
    context.PauseUnlessStopped(5000);
    EXPECT_LT(std::chrono::steady_clock::now() - again, std::chrono::milliseconds(1000));
}

TEST(SystemContext, APauseLastsItsTimeOnTheClockInUse) {
    ManualClock clock(0xFFFFFFF0u);  // across the wrap of the tick
    ScopedClock scoped(clock);
    CMainDataStore context;
    context.PauseUnlessStopped(1000);
    EXPECT_EQ(clock.TickCount(), 0xFFFFFFF0u + 1000u);
}
