#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
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

// The ring keeps what its reader took, for a save that names it later; what
// it forgets it still accounts for: the lines those entries ended, where they
// left each direction, and the latest open among them.
TEST(LineTap, KeepsWhatItsReaderTookAndAccountsForWhatItForgets) {
    LineTap tap(4);
    tap.RecordOpened("COM1", 115200, LowLatency{});
    const std::uint8_t rr[] = {0x7E, 0x14, 0x11, 0xBE, 0xFC, 0x7E};
    tap.Record(TapKind::Sent, rr, 115200);
    std::vector<TapEntry> taken;
    EXPECT_EQ(tap.Take(taken), 0u);
    EXPECT_EQ(taken.size(), 2u);

    TapHistory history = tap.History();
    ASSERT_EQ(history.entries.size(), 2u) << "taken, and still kept";
    EXPECT_EQ(history.entries[0].kind, TapKind::Opened);
    EXPECT_EQ(history.linesForgotten, 0u);
    EXPECT_FALSE(history.openForgotten);

    // An answer read in two pieces; the open and the poll make room for it
    // and the next poll.
    const std::uint8_t first[] = {0x7E, 0x14};
    const std::uint8_t rest[] = {0x11, 0xBE, 0xFC, 0x7E};
    tap.Record(TapKind::Received, first, 115200);
    tap.Record(TapKind::Received, rest, 115200);
    tap.Record(TapKind::Sent, rr, 115200);
    tap.Record(TapKind::Sent, rr, 115200);
    history = tap.History();
    ASSERT_EQ(history.entries.size(), 4u);
    EXPECT_EQ(Octets(history.entries),
              (std::vector<std::uint8_t>{0x7E, 0x14, 0x11, 0xBE, 0xFC, 0x7E, 0x7E, 0x14, 0x11, 0xBE,
                                         0xFC, 0x7E, 0x7E, 0x14, 0x11, 0xBE, 0xFC, 0x7E}));
    EXPECT_EQ(history.linesForgotten, 1u) << "the first poll";
    ASSERT_TRUE(history.openForgotten);
    EXPECT_EQ(
        std::string(history.openForgotten->Octets().begin(), history.openForgotten->Octets().end()),
        "COM1");
    EXPECT_FALSE(history.received.Midway());

    // Forgetting the answer's first piece leaves its line under way.
    tap.Record(TapKind::Sent, rr, 115200);
    history = tap.History();
    EXPECT_TRUE(history.received.Midway());
    EXPECT_EQ(history.linesForgotten, 1u);
    EXPECT_FALSE(history.sent.Midway());

    taken.clear();
    EXPECT_EQ(tap.Take(taken), 1u) << "the reader missed the answer's first piece";
    EXPECT_EQ(taken.size(), 4u);
}

// A reader waits for its batch: on a quiet line for the first entry, then a
// period from then, which half the ring waiting cuts short; a release ends
// either wait at once.
TEST(LineTap, AReaderWaitsForItsBatch) {
    using std::chrono::milliseconds;
    using std::chrono::steady_clock;
    const std::uint8_t octet[] = {0x7E};
    {
        LineTap tap(8);
        steady_clock::time_point recorded;
        std::thread reader([&] { tap.WaitForBatch(milliseconds(200), false); });
        std::this_thread::sleep_for(milliseconds(50));
        recorded = steady_clock::now();
        tap.Record(TapKind::Sent, octet, 115200);
        reader.join();
        EXPECT_GE(steady_clock::now() - recorded, milliseconds(200));
    }
    {
        LineTap tap(8);
        std::thread reader([&] { tap.WaitForBatch(std::chrono::hours(1), true); });
        for (int i = 0; i < 4; ++i)
            tap.Record(TapKind::Sent, octet, 115200);
        reader.join();  // hangs, and the suite times out, when half the ring does not wake it
    }
    for (const bool busy : {false, true}) {
        LineTap tap(8);
        std::thread reader([&] { tap.WaitForBatch(std::chrono::hours(1), busy); });
        std::this_thread::sleep_for(milliseconds(20));
        tap.Release();
        reader.join();
        EXPECT_TRUE(tap.Released());
        const auto before = steady_clock::now();
        tap.WaitForBatch(std::chrono::hours(1), busy);
        EXPECT_LT(steady_clock::now() - before, std::chrono::seconds(5));
    }
}
