#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <vector>

#include "serial/LineTap.h"

using namespace kvq::serial;

namespace {

std::vector<std::uint8_t> Octets(const std::vector<TapEntry>& entries) {
    std::vector<std::uint8_t> all;
    for (const TapEntry& entry : entries)
        all.insert(all.end(), entry.Octets().begin(), entry.Octets().end());
    return all;
}

}  // namespace

// A reader that falls behind loses the oldest entries, never the newest, and
// is told how many it lost, once.
TEST(LineTap, AFullRingDropsTheOldestAndCountsThem) {
    LineTap tap(4);
    for (std::uint8_t i = 1; i <= 7; ++i) {
        const std::uint8_t octet[] = {i};
        tap.Record(TapKind::Sent, octet, 115200);
    }
    std::vector<TapEntry> taken;
    EXPECT_EQ(tap.Take(taken), 3u);
    EXPECT_EQ(Octets(taken), (std::vector<std::uint8_t>{4, 5, 6, 7}));

    taken.clear();
    EXPECT_EQ(tap.Take(taken), 0u) << "a loss is reported once";
    EXPECT_TRUE(taken.empty());

    const std::uint8_t again[] = {8};
    tap.Record(TapKind::Received, again, 9600);
    EXPECT_EQ(tap.Take(taken), 0u);
    ASSERT_EQ(taken.size(), 1u);
    EXPECT_EQ(taken[0].kind, TapKind::Received);
    EXPECT_EQ(taken[0].baudRate, 9600u);
}

// A run longer than an entry is kept whole over several entries of the same
// time, each marking the echoed frames' ends at its own offsets.
TEST(LineTap, ALongRunIsSplitWithItsEchoEndsInPlace) {
    const auto start = LineTap::Clock::now();
    LineTap tap(16, start);
    std::vector<std::uint8_t> run(130);
    for (std::size_t i = 0; i < run.size(); ++i)
        run[i] = static_cast<std::uint8_t>(i);
    const std::uint16_t ends[] = {0, 55, 56, 129};
    tap.RecordAt(start + std::chrono::microseconds(1500), TapKind::Received, run, 115200, ends);

    std::vector<TapEntry> taken;
    EXPECT_EQ(tap.Take(taken), 0u);
    ASSERT_EQ(taken.size(), 3u);
    EXPECT_EQ(Octets(taken), run);
    EXPECT_EQ(taken[0].echoEnds, (std::uint64_t{1} << 55) | 1u);
    EXPECT_EQ(taken[1].echoEnds, 1u);
    EXPECT_EQ(taken[2].echoEnds, std::uint64_t{1} << (129 - 112));
    for (const TapEntry& entry : taken)
        EXPECT_EQ(entry.micros, 1500);
}

TEST(LineTap, AnOpenKeepsThePortAndWhatTheDriverGranted) {
    LineTap tap(2);
    LowLatency latency;
    latency.timerMs = 1;
    latency.timerWasMs = 16;
    tap.RecordOpened("/dev/ttyUSB0", 115200, latency);
    tap.RecordClosed();
    std::vector<TapEntry> taken;
    tap.Take(taken);
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[0].kind, TapKind::Opened);
    EXPECT_EQ(std::string(taken[0].Octets().begin(), taken[0].Octets().end()), "/dev/ttyUSB0");
    EXPECT_EQ(taken[0].latency.timerWasMs, 16);
    EXPECT_EQ(taken[1].kind, TapKind::Closed);
}

TEST(LineTap, AReleaseEndsTheReadersWaitAtOnce) {
    LineTap tap(2);
    tap.Release();
    const auto before = std::chrono::steady_clock::now();
    tap.WaitForEntries(std::chrono::seconds(10));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_TRUE(tap.Released());
}
