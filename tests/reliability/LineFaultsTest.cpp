// Faults on the line: frames corrupted or lost, answers late, answers
// misnumbered. The link and actuator threads run in this process against the
// simulated actuator over a pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/MainDataStore.h"
#include "hdlc/HDLCPrimary.h"
#include "hdlc/LinkThread.h"
#include "serial/InMemoryLine.h"
#include "support/FaultFixture.h"
#include "support/WaitUntil.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::hdlc;
using namespace kvq::sim;
using namespace kvq::testing;

using namespace kvq::testing::reliability;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Bytes = std::vector<std::uint8_t>;

TEST_F(FaultTest, MovesStayHonestWhenFramesAreCorruptedOrLost) {
    struct Case {
        const char* what;
        double corruptShare;
        double dropShare;
    } cases[] = {
        {"1% of answers corrupted", 0.01, 0.0},
        {"5% of answers corrupted", 0.05, 0.0},
        {"1% of frames lost", 0.0, 0.01},
        {"5% of frames lost", 0.0, 0.05},
    };
    const std::int32_t targets[] = {80, 10, 55, 30, 95};
    std::uint32_t seed = 1;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SimOptions options;
        options.corruptShare = c.corruptShare;
        options.dropShare = c.dropShare;
        options.seed = seed++;
        StartSimulator(options);
        StartTool();
        ASSERT_EQ(tool->WaitUntilReady(seconds(60)), WaitEnd::Ready) << tool->Line1();
        int ready = 0, failed = 0;
        // At a low share a handful of moves may pass without a fault; more
        // moves follow until one has been made, so the case tests something.
        const auto faults = [&] {
            const auto counters = sim->Counters();
            return counters.framesCorrupted + counters.framesDropped;
        };
        for (std::size_t move = 0; move < 5 || (faults() == 0 && move < 25); ++move) {
            const std::int32_t target = targets[move % std::size(targets)];
            const auto trace = tool->SetTilt(target, seconds(70));
            ExpectNoFalseSuccess(trace, target, c.what);
            (trace.outcome == WaitEnd::Ready ? ready : failed) += 1;
        }
        const auto counters = sim->Counters();
        std::printf(
            "%s: %d ready, %d failed; %llu frames in, %llu answered, %llu corrupted, %llu lost, "
            "%llu repeated\n",
            c.what, ready, failed, static_cast<unsigned long long>(counters.framesReceived),
            static_cast<unsigned long long>(counters.framesAnswered),
            static_cast<unsigned long long>(counters.framesCorrupted),
            static_cast<unsigned long long>(counters.framesDropped),
            static_cast<unsigned long long>(counters.answersRepeated));
        EXPECT_GT(counters.framesCorrupted + counters.framesDropped, 0u) << "no fault was made";
        sim->SetCorruptShare(0.0);
        sim->SetDropShare(0.0);
        ExpectAMoveGoesThrough(40, c.what);
        StopTool();
        sim.reset();
    }
}

namespace {

// The actuator thread as the link sees it: a queue the test reads.
class ReplyQueue : public LinkDevice {
public:
    ReplyQueue() { CreateMessageQueue(id); }
    ~ReplyQueue() override { DestroyMessageQueue(id); }
    LinkDeviceState LinkState() const override { return LinkDeviceState::Idle; }
    ThreadId LinkThreadIdOfDevice() const override { return id; }

    // The payloads of the replies that came within `limit`, taking `grace`
    // more after the first for any duplicate; and whether the link reported
    // the device lost or dropped meanwhile.
    std::vector<Bytes> Replies(milliseconds limit, milliseconds grace, bool& linkEvent) {
        std::vector<Bytes> replies;
        auto end = SteadyClock::now() + limit;
        while (SteadyClock::now() < end) {
            ThreadMessage m;
            if (!TakeMessage(id, m)) {
                WaitMessage(id, 10);
                continue;
            }
            if (m.number == MsgDeviceLost || m.number == MsgLinkDown) linkEvent = true;
            if (m.number == MsgLinkUp) linkUp = true;
            if (m.number == MsgCommand && m.lParam) {
                replies.emplace_back(m.lParam->Valid(), m.lParam->Valid() + m.lParam->length);
                if (replies.size() == 1) end = std::min(end, SteadyClock::now() + grace);
            }
        }
        return replies;
    }

    ThreadId id = NewThreadId();
    bool linkUp = false;
};

}  // namespace

// Every command gets its own reply exactly once, whatever single frame the
// line spoils: a command lost on its way, an answer corrupted, answers with a
// wrong N(S) or N(R). The test is the actuator thread here, so it sees every
// reply the link hands on, duplicates included.
TEST(LinkFaults, EveryCommandGetsItsReplyOnceDespiteASpoiledFrame) {
    struct Case {
        const char* what;
        std::function<void(SimulatedActuator&)> spoil;
    } cases[] = {
        {"nothing spoiled", [](SimulatedActuator&) {}},
        {"the command lost", [](SimulatedActuator& s) { s.DropNextInformationFrames(1); }},
        {"two commands lost", [](SimulatedActuator& s) { s.DropNextInformationFrames(2); }},
        {"the answer corrupted", [](SimulatedActuator& s) { s.CorruptNextInformationAnswers(1); }},
        {"the answer and its repeat corrupted",
         [](SimulatedActuator& s) { s.CorruptNextInformationAnswers(2); }},
        {"the answer's N(S) wrong",
         [](SimulatedActuator& s) { s.MisnumberAnswers(SequenceFault::SendSequence, 1); }},
        {"N(S) wrong three times",
         [](SimulatedActuator& s) { s.MisnumberAnswers(SequenceFault::SendSequence, 3); }},
        {"N(R) acknowledging a frame never sent",
         [](SimulatedActuator& s) { s.MisnumberAnswers(SequenceFault::ReceiveSequence, 1); }},
        {"N(R) wrong three times",
         [](SimulatedActuator& s) { s.MisnumberAnswers(SequenceFault::ReceiveSequence, 3); }},
        {"nothing spoiled afterwards", [](SimulatedActuator&) {}},
    };
    InMemoryLine line;
    SimulatedActuator sim({}, std::make_shared<EchoApplication>());
    ASSERT_TRUE(sim.StartOnLine(line)) << sim.Error();
    CMainDataStore context;
    CLinkThread link;
    ReplyQueue device;
    context.SetSelectedPortName("COM1");
    link.StartLinkThread(line.ToolEnd(), context, &device);
    bool lost = false;
    ASSERT_TRUE(WaitUntil(
        [&] { return device.Replies(milliseconds(50), milliseconds(0), lost), device.linkUp; },
        milliseconds(6000)));

    std::uint8_t serial = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Two commands per case, so a fault that spoils the numbering shows
        // in the one after it as well.
        for (int i = 0; i < 2; ++i) {
            const Bytes payload = {0x12, 0x34, 0x56, 0x78, 0x01, 0x02, 0x0C, 0x01, 0x00, ++serial};
            if (i == 0) c.spoil(sim);
            auto command = NewCommandBuffer(20, 5);
            command->AppendBytes(payload.data(), payload.size());
            ASSERT_TRUE(PostThreadMessage(link.LinkThreadId(), MsgCommand, 0, std::move(command)));
            // Long enough for a few polls after the spoiled one, short of the
            // ten misses that would report the device lost.
            const auto replies = device.Replies(milliseconds(1200), milliseconds(300), lost);
            EXPECT_EQ(replies.size(), 1u) << "command " << int(serial);
            if (!replies.empty()) {
                EXPECT_EQ(replies[0], payload) << "command " << int(serial);
            }
        }
    }
    EXPECT_FALSE(lost) << "the link reported the device lost or dropped";
    const auto counters = sim.Counters();
    EXPECT_GT(counters.answersRepeated, 0u);
    context.RequestStop();
    EXPECT_TRUE(link.JoinLinkThread(1000));
}
