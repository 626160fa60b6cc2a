// The in-memory line: what ends the tool's wait, paced delivery, and what the
// far end sees of the tool's settings.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "serial/InMemoryLine.h"

using namespace kvq::serial;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

Bytes ReadAll(SerialLine& tool) {
    Bytes got;
    std::uint8_t chunk[64];
    for (std::size_t n; (n = tool.Read(chunk)) > 0;)
        got.insert(got.end(), chunk, chunk + n);
    return got;
}

TEST(InMemoryLine, TheToolsWaitEndsOnInputAWakeOrItsTime) {
    struct Case {
        const char* what;
        std::function<void(InMemoryLine&)> before;
        std::function<void(InMemoryLine&)> during;  // 5 ms into the wait, from another thread
        bool watchInput;
        LineEvent expected;
    } cases[] = {
        {"nothing", {}, {}, true, LineEvent::TimedOut},
        {"input", {}, [](InMemoryLine& l) { l.Far().Write(Bytes{1}); }, true, LineEvent::Input},
        {"input already there",
         [](InMemoryLine& l) { l.Far().Write(Bytes{1}); },
         {},
         true,
         LineEvent::Input},
        {"a wake", {}, [](InMemoryLine& l) { l.ToolEnd().Wake(); }, true, LineEvent::WokenUp},
        {"a wake given before",
         [](InMemoryLine& l) { l.ToolEnd().Wake(); },
         {},
         true,
         LineEvent::WokenUp},
        {"input not watched",
         {},
         [](InMemoryLine& l) { l.Far().Write(Bytes{1}); },
         false,
         LineEvent::TimedOut},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        InMemoryLine line;
        SerialLine& tool = line.ToolEnd();
        ASSERT_EQ(tool.Open("COM1", 115200), OpenOutcome::Opened);
        if (c.before) c.before(line);
        std::thread other([&] {
            std::this_thread::sleep_for(5ms);
            if (c.during) c.during(line);
        });
        const auto start = Clock::now();
        const auto limit = c.expected == LineEvent::TimedOut ? 40ms : 2000ms;
        EXPECT_EQ(tool.Wait(limit, c.watchInput), c.expected);
        const auto took = Clock::now() - start;
        if (c.expected == LineEvent::TimedOut) {
            EXPECT_GE(took, 40ms);
        }
        EXPECT_LT(took, 1000ms);
        other.join();
        tool.Discard();
        EXPECT_EQ(tool.Wait(0ms, true), LineEvent::TimedOut) << "a wake counts once";
    }
}

TEST(InMemoryLine, PacedOctetsArriveAtTheWiresPaceAndInOrder) {
    InMemoryLine line;
    SerialLine& tool = line.ToolEnd();
    ASSERT_EQ(tool.Open("COM1", 9600), OpenOutcome::Opened);
    // 10 octets paced at 1200 baud: about 8.3 ms each; a second write queues behind the first.
    constexpr auto kOctetTime = std::chrono::microseconds(8333);
    const auto start = Clock::now();
    line.Far().Write(Bytes{1, 2, 3, 4, 5}, 1200);
    line.Far().Write(Bytes{6, 7, 8, 9, 10}, 1200);
    Bytes got = ReadAll(tool);
    // A loaded machine may come back here after the first octet's time; then
    // what was read is simply the start of what arrives.
    if (Clock::now() - start < kOctetTime) {
        EXPECT_TRUE(got.empty()) << "nothing is there before its time";
    }
    ASSERT_TRUE(!got.empty() || tool.Wait(1000ms, true) == LineEvent::Input);
    EXPECT_GE(Clock::now() - start, kOctetTime) << "the first octet takes its own time";
    while (got.size() < 10 && Clock::now() - start < 2000ms) {
        tool.Wait(100ms, true);
        const Bytes more = ReadAll(tool);
        got.insert(got.end(), more.begin(), more.end());
    }
    EXPECT_GE(Clock::now() - start, 10 * kOctetTime);
    EXPECT_EQ(got, (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
    EXPECT_EQ(tool.ReceivedSinceAsked.load(), 1);

    // Unpaced octets are there at once.
    line.Far().Write(Bytes{11, 12});
    EXPECT_EQ(ReadAll(tool), (Bytes{11, 12}));
}

TEST(InMemoryLine, TheFarEndSeesTheToolsRateAndNothingWhileItIsClosed) {
    InMemoryLine line;
    SerialLine& tool = line.ToolEnd();
    EXPECT_FALSE(line.Far().ToolOpen());
    EXPECT_EQ(line.Far().ToolBaudRate(), 0);
    tool.Write(Bytes{1, 2});  // closed: lost
    line.Far().Write(Bytes{3});

    const struct {
        std::int32_t requested;
        std::int32_t rate;
    } rates[] = {{9600, 9600}, {115200, 115200}, {57600, 115200}};
    for (const auto& r : rates) {
        ASSERT_EQ(tool.Open("/dev/anything", r.requested), OpenOutcome::Opened);
        EXPECT_EQ(line.Far().ToolBaudRate(), r.rate);
        EXPECT_EQ(tool.BaudRate(), r.rate);
        EXPECT_TRUE(ReadAll(tool).empty()) << "what came while closed is not read";
    }
    tool.Write(Bytes{4, 5});
    ASSERT_EQ(line.Far().Wait(1000ms), LineEvent::Input);
    std::uint8_t chunk[8];
    ASSERT_EQ(line.Far().Read(chunk), 2u);
    EXPECT_EQ(chunk[0], 4);

    EXPECT_EQ(tool.Open("USB", 115200), OpenOutcome::NotTried);
    EXPECT_EQ(tool.IsOpen.load(), 0);
    EXPECT_FALSE(line.Far().ToolOpen());
    line.Far().Wake();
    EXPECT_EQ(line.Far().Wait(1000ms), LineEvent::WokenUp);
}

}  // namespace
