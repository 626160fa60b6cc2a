#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "hdlc/FrameCodec.h"
#include "hdlc/RecentTrace.h"
#include "hdlc/TraceDecoder.h"
#include "hdlc/TraceWriter.h"
#include "serial/LineTap.h"
#include "support/WaitUntil.h"

using namespace kvq::hdlc;
using kvq::serial::LineTap;
using kvq::serial::LowLatency;
using kvq::serial::TapKind;
using kvq::testing::WaitUntil;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::pair<std::string, bool>>;

Bytes Framed(const Bytes& body) {
    FrameBytes frame;
    EncodeFrame(body, frame);
    return {frame.data(), frame.data() + frame.size()};
}

// The lines handed to a sink, and when the first of them came; the writer's
// thread hands them on while the test reads them.
class Collect final : public TraceSink {
public:
    void Line(const std::string& text, bool frame) override {
        const std::lock_guard lock(mutex_);
        if (lines_.empty()) firstAt_ = steady_clock::now();
        lines_.emplace_back(text, frame);
    }
    Lines Taken() const {
        const std::lock_guard lock(mutex_);
        return lines_;
    }
    std::size_t Size() const { return Taken().size(); }
    steady_clock::time_point FirstAt() const {
        const std::lock_guard lock(mutex_);
        return firstAt_;
    }

private:
    mutable std::mutex mutex_;
    Lines lines_;
    steady_clock::time_point firstAt_;
};

// A tool's writer on a tap of the given size, its lines collected.
struct Traced {
    explicit Traced(std::size_t capacity, milliseconds period = TraceWriter::BatchPeriod)
        : tap(capacity), writer(tap, true, {}, period) {
        writer.AddSink(sink);
    }
    // The sink outlives the writer, whose end still drains into it.
    LineTap tap;
    Collect sink;
    TraceWriter writer;
};

const Bytes& Rr() {
    static const Bytes rr = Framed({0x14, RrControl(0)});
    return rr;
}

}  // namespace

// A writer that fell behind says how much it lost before what it still has,
// and goes on decoding from there.
TEST(TraceWriter, SaysHowManyEntriesWereLostBeforeTheRest) {
    Traced traced(3);
    auto& [tap, sink, writer] = traced;
    tap.RecordOpened("COM1", 115200, LowLatency{});
    for (int i = 0; i < 4; ++i)
        tap.Record(TapKind::Sent, Rr(), 115200);
    EXPECT_EQ(writer.Drain(), 3u);
    const Lines lines = sink.Taken();
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_NE(lines[0].first.find(" LOST | 2 entries dropped"), std::string::npos)
        << lines[0].first;
    EXPECT_FALSE(lines[0].second);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_TRUE(lines[i].second);
        EXPECT_NE(lines[i].first.find(" TX 115200 7E 14 11 BE FC 7E | addr 0x14 RR N(R)=0 P"),
                  std::string::npos)
            << lines[i].first;
    }
}

TEST(TraceWriter, AnOpenSaysThePortTheRateAndTheLowLatency) {
    Traced traced(8);
    auto& [tap, sink, writer] = traced;
    LowLatency granted;
    granted.driverFlag = true;
    tap.RecordOpened("/dev/ttyUSB0", 9600, granted);
    tap.RecordClosed();
    writer.Stop();
    const Lines lines = sink.Taken();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].first.find(" OPEN   9600 /dev/ttyUSB0 | low latency: driver flag set"),
              std::string::npos)
        << lines[0].first;
    EXPECT_NE(lines[1].first.find(" CLOSE | "), std::string::npos);
}

// Once stopped, a writer touches its sinks no more: a tool may let a sink go
// after the stop and before the writer (the writer's own end stops it again).
TEST(TraceWriter, AfterItsStopItTouchesItsSinksNoMore) {
    class Counting final : public TraceSink {
    public:
        void Line(const std::string&, bool) override { ++calls; }
        void Flush() override { ++calls; }
        int calls = 0;
    };
    for (const bool threaded : {false, true}) {
        SCOPED_TRACE(threaded ? "with its thread" : "without a thread");
        LineTap tap(8);
        Counting sink;
        auto writer = std::make_unique<TraceWriter>(tap, true, InformationNamer{});
        writer->AddSink(sink);
        if (threaded) writer->Start();
        tap.RecordOpened("COM1", 115200, LowLatency{});
        writer->Stop();
        const int calls = sink.calls;
        EXPECT_GT(calls, 0);
        tap.RecordClosed();
        writer->Stop();
        writer.reset();
        EXPECT_EQ(sink.calls, calls);
    }
}

// The writer's thread wakes for a batch, not for every frame: what is
// recorded is written a batching period after the first of it (the file keeps
// up with the line within that), and a stop writes at once all that was
// recorded before it.
TEST(TraceWriter, WritesABatchAPeriodAfterItsFirstEntryAndAllAtItsStop) {
    const milliseconds period(300);
    Traced traced(64, period);
    LineTap& tap = traced.tap;
    Collect& sink = traced.sink;
    TraceWriter& writer = traced.writer;
    tap.Record(TapKind::Sent, Rr(), 115200);
    tap.Record(TapKind::Received, Rr(), 115200);
    const auto started = steady_clock::now();
    writer.Start();
    ASSERT_TRUE(WaitUntil([&] { return sink.Size() == 2; }, milliseconds(10000)));
    EXPECT_GE(sink.FirstAt() - started, period) << "written before the period was out";

    // A quiet line: the writer waits for the next entry, then for the period.
    ASSERT_TRUE(
        WaitUntil([&] { return steady_clock::now() - started > 3 * period; }, milliseconds(10000)));
    const auto recorded = steady_clock::now();
    tap.Record(TapKind::Sent, Rr(), 115200);
    ASSERT_TRUE(WaitUntil([&] { return sink.Size() == 3; }, milliseconds(10000)));
    const auto written = steady_clock::now();
    EXPECT_GE(written - recorded, period) << "written before the period was out";

    tap.Record(TapKind::Received, Rr(), 115200);
    writer.Stop();
    EXPECT_EQ(sink.Size(), 4u) << "the stop writes what was recorded before it";
}

// A ring filling up does not wait for the period: half of it waiting wakes
// the writer, so a burst is not lost to a long period.
TEST(TraceWriter, HalfTheRingWaitingIsWrittenWithoutWaitingForThePeriod) {
    Traced traced(8, milliseconds(3600 * 1000));
    LineTap& tap = traced.tap;
    Collect& sink = traced.sink;
    TraceWriter& writer = traced.writer;
    writer.Start();
    for (int i = 0; i < 4; ++i)
        tap.Record(TapKind::Sent, Rr(), 115200);
    EXPECT_TRUE(WaitUntil([&] { return sink.Size() == 4; }, milliseconds(10000)));
    writer.Stop();
    EXPECT_EQ(sink.Size(), 4u);
    for (const auto& [text, frame] : sink.Taken())
        EXPECT_EQ(text.find("LOST"), std::string::npos) << text;
}

// The dialog's window of frames: the newest so many, the open the oldest of
// them began under, and how many went before.
TEST(RecentTrace, KeepsTheLastFramesAndTheOpenTheyBeganUnder) {
    RecentTrace recent(3);
    recent.Line("0.000 OPEN 115200 COM1 | low latency: x", false);
    for (int i = 1; i <= 5; ++i)
        recent.Line("frame " + std::to_string(i), true);
    EXPECT_EQ(recent.FramesForgotten(), 2u);
    EXPECT_EQ(recent.Lines(), (std::vector<std::string>{"0.000 OPEN 115200 COM1 | low latency: x",
                                                        "# 2 earlier frames not kept", "frame 3",
                                                        "frame 4", "frame 5"}));
    RecentTrace few(3);
    few.Line("0.000 OPEN 115200 COM1 | low latency: x", false);
    few.Line("frame 1", true);
    EXPECT_EQ(few.Lines(),
              (std::vector<std::string>{"0.000 OPEN 115200 COM1 | low latency: x", "frame 1"}));

    // The line reopened within the window: the top names the open the oldest
    // frame kept began under, not the latest.
    RecentTrace reopened(3);
    reopened.Line("0.000 OPEN 115200 COM1 | a", false);
    reopened.Line("frame 1", true);
    reopened.Line("frame 2", true);
    reopened.Line("9.000 CLOSE | the line was closed", false);
    reopened.Line("9.500 OPEN 9600 COM1 | b", false);
    reopened.Line("frame 3", true);
    reopened.Line("frame 4", true);
    EXPECT_EQ(reopened.Lines(),
              (std::vector<std::string>{"0.000 OPEN 115200 COM1 | a", "# 1 earlier frames not kept",
                                        "frame 2", "9.000 CLOSE | the line was closed",
                                        "9.500 OPEN 9600 COM1 | b", "frame 3", "frame 4"}));
}

namespace {

// A line's traffic at random, recorded alike into several taps: frames sent
// whole, frames read in pieces (some echoed, some corrupted or aborted, with
// stray octets between), now and then a run longer than a trace line and a
// reopen of the port.
void RecordTraffic(std::uint32_t seed, int events, const std::vector<LineTap*>& taps) {
    std::mt19937 random(seed);
    const auto start = taps.front()->Start();
    std::int64_t micros = 1000;
    const auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    for (LineTap* tap : taps)
        tap->RecordOpenedAt(start + std::chrono::microseconds(micros), "COM1", 115200,
                            LowLatency{});
    const auto record = [&](TapKind kind, const Bytes& octets,
                            const std::vector<std::uint16_t>& echoEnds) {
        micros += 1 + random() % 3000;
        for (LineTap* tap : taps)
            tap->RecordAt(start + std::chrono::microseconds(micros), kind, octets, 115200,
                          echoEnds);
    };
    const auto frame = [&] {
        Bytes body{0x14, static_cast<std::uint8_t>(random())};
        const std::size_t information = chance(30) ? random() % 90 : 0;
        for (std::size_t i = 0; i < information; ++i)
            body.push_back(chance(10) ? Flag : static_cast<std::uint8_t>(random()));
        return Framed(body);
    };
    for (int event = 0; event < events; ++event) {
        if (chance(2)) {
            micros += 1000;
            const std::uint32_t rate = chance(50) ? 9600 : 115200;
            for (LineTap* tap : taps) {
                tap->RecordAt(start + std::chrono::microseconds(micros), TapKind::Closed, {}, 0);
                tap->RecordOpenedAt(start + std::chrono::microseconds(micros), "COM1", rate,
                                    LowLatency{});
            }
            continue;
        }
        const Bytes sent = frame();
        record(TapKind::Sent, sent, {});
        Bytes read;
        std::vector<std::uint16_t> echoEnds;
        if (chance(20)) {
            read = sent;
            echoEnds.push_back(static_cast<std::uint16_t>(read.size() - 1));
        }
        if (chance(10)) read.insert(read.end(), {0x55, 0x00});
        const Bytes answer = frame();
        read.insert(read.end(), answer.begin(), answer.end());
        if (chance(5)) read.insert(read.end() - 2, {Escape, Flag});  // an abort
        if (chance(5)) read[read.size() / 2] ^= 0x01;                // a bad FCS
        if (chance(2)) read.insert(read.end(), 650, 0x11);           // longer than a line
        // Read in pieces, each with the echo ends that fall in it.
        std::size_t at = 0;
        while (at < read.size()) {
            const std::size_t size = std::min<std::size_t>(1 + random() % 40, read.size() - at);
            std::vector<std::uint16_t> ends;
            for (const std::uint16_t end : echoEnds) {
                if (end >= at && end < at + size)
                    ends.push_back(static_cast<std::uint16_t>(end - at));
            }
            record(TapKind::Received, Bytes(read.begin() + at, read.begin() + at + size), ends);
            at += size;
        }
    }
}

// Every line a writer hands on, as it went: what the dialog kept before it
// kept the tap's entries instead.
Lines WrittenAsTheLineWent(LineTap& tap) {
    Collect sink;
    TraceWriter writer(tap, true, {});
    writer.AddSink(sink);
    writer.Drain();
    return sink.Taken();
}

// The first line that differs, rather than both whole.
void ExpectSameLines(const std::vector<std::string>& actual,
                     const std::vector<std::string>& expected) {
    for (std::size_t i = 0; i < std::min(actual.size(), expected.size()); ++i) {
        if (actual[i] != expected[i]) {
            ADD_FAILURE() << "line " << i << ":\n  " << actual[i] << "\nexpected\n  "
                          << expected[i];
            return;
        }
    }
    EXPECT_EQ(actual.size(), expected.size());
}

std::vector<std::string> Window(const Lines& lines, std::size_t frames) {
    RecentTrace recent(frames);
    for (const auto& [text, frame] : lines)
        recent.Line(text, frame);
    return recent.Lines();
}

}  // namespace

// The dialog's save names the frames only when it is asked for them, from the
// entries its tap still holds: what it writes is what a writer naming every
// frame as it went would have kept, the open the oldest frame began under and
// the count of frames before it included, however the tap's forgetting fell
// (in the middle of a frame, on an open, among the pieces of a long run).
TEST(RecentFrames, AreTheFramesAWriterNamingEveryFrameWouldHaveKept) {
    constexpr std::size_t Kept = 25;
    for (const std::size_t capacity : {600u, 601u, 997u}) {
        for (std::uint32_t seed = 1; seed <= 12; ++seed) {
            SCOPED_TRACE("capacity " + std::to_string(capacity) + ", seed " + std::to_string(seed));
            LineTap all(1 << 16);
            LineTap ring(capacity, all.Start());
            RecordTraffic(seed, 700, {&all, &ring});
            const std::vector<std::string> expected = Window(WrittenAsTheLineWent(all), Kept);
            ASSERT_NE(expected[0].find(" OPEN "), std::string::npos) << expected[0];
            ASSERT_GT(std::stoul(expected[1].substr(2)), 100u) << "enough went before";
            ExpectSameLines(RecentFrames(ring, true, {}, Kept).Lines(), expected);
        }
    }
}

// A tap too small for the frames asked for keeps fewer, and still says
// exactly how many went before them; every line it writes is one the writer
// wrote, in the same order.
TEST(RecentFrames, ATapTooSmallForTheWindowKeepsFewerFramesAndCountsTheRest) {
    LineTap all(1 << 16);
    LineTap ring(40, all.Start());
    RecordTraffic(7, 400, {&all, &ring});
    const Lines written = WrittenAsTheLineWent(all);
    std::size_t frames = 0;
    for (const auto& line : written)
        frames += line.second ? 1 : 0;

    const RecentTrace recent = RecentFrames(ring, true, {}, 1000);
    const std::vector<std::string> kept = recent.Lines();
    std::size_t keptFrames = 0;
    std::vector<std::string> tail;
    for (const std::string& text : kept) {
        if (text.rfind("# ", 0) == 0) continue;
        tail.push_back(text);
        keptFrames +=
            text.find(" TX ") != std::string::npos || text.find(" RX ") != std::string::npos;
    }
    ASSERT_GT(keptFrames, 5u);
    EXPECT_LT(keptFrames, 40u);
    EXPECT_EQ(recent.FramesForgotten() + keptFrames, frames);
    // The lines kept after the header are the writer's last ones.
    ASSERT_GE(written.size(), tail.size());
    for (std::size_t i = 1; i < tail.size(); ++i)
        EXPECT_EQ(tail[tail.size() - i], written[written.size() - i].first);
}
