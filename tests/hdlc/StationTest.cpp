// The primary station's procedure, driven frame by frame without a thread or a
// port: what it sends, what it posts, and what it frees.

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "hdlc/HDLCPrimary.h"

using namespace kvq::core;
using namespace kvq::hdlc;
namespace hdlc = kvq::hdlc;

using Bytes = std::vector<std::uint8_t>;

namespace {

class RecordingSink : public FrameSink {
public:
    void SendFrameBytes(std::span<const std::uint8_t> frame) override {
        lines.emplace_back(frame.begin(), frame.end());
    }
    std::vector<Bytes> lines;
};

// The device behind the secondary: a thread id with a queue the test reads.
class FakeDevice : public LinkDevice {
public:
    FakeDevice() { CreateMessageQueue(id); }
    ~FakeDevice() override { DestroyMessageQueue(id); }
    hdlc::LinkDeviceState LinkState() const override { return state; }
    ThreadId LinkThreadIdOfDevice() const override { return id; }

    std::vector<ThreadMessage> Take() {
        std::vector<ThreadMessage> all;
        ThreadMessage m;
        while (TakeMessage(id, m))
            all.push_back(std::move(m));
        return all;
    }
    std::vector<std::uint32_t> TakeNumbers() {
        std::vector<std::uint32_t> numbers;
        for (auto& m : Take())
            numbers.push_back(m.number);
        return numbers;
    }

    ThreadId id = NewThreadId();
    hdlc::LinkDeviceState state = hdlc::LinkDeviceState::Idle;
};

Bytes Encode(const Bytes& body) {
    hdlc::FrameBytes frame;
    hdlc::EncodeFrame(body, frame);
    return Bytes(frame.data(), frame.data() + frame.size());
}

CommandBufferPtr Command(const Bytes& payload, std::uint8_t address = 20, std::uint8_t offset = 5) {
    auto buffer = NewCommandBuffer(address, offset);
    for (auto b : payload)
        buffer->Append(b);
    return buffer;
}

using Messages = std::vector<std::uint32_t>;

class Station : public ::testing::Test {
protected:
    void SetUp() override {
        link.SetMode(LinkMode::Ericsson);
        link.CreateSecondary(&device);
        link.SetFrameSink(&sink);
    }

    // A good frame from the line, as the poll cycle hands it over.
    FrameMeaning Receive(const Bytes& body) {
        bool good = false;
        for (auto octet : Encode(body))
            good = link.AcceptByte(octet) || good;
        EXPECT_TRUE(good);
        return link.ProcessFrame();
    }
    void Connect() {
        Receive({0x14, hdlc::UaFinal});
        device.Take();
    }
    // The body of the last frame sent, without its FCS.
    Bytes Poll() {
        sink.lines.clear();
        link.PollSecondary();
        EXPECT_EQ(sink.lines.size(), 1u);
        if (sink.lines.empty()) return {};
        hdlc::FrameReceiver receiver(255);
        Bytes storage(300);
        std::size_t length = 0;
        for (auto octet : sink.lines.back()) {
            if (receiver.AcceptByte(octet, storage, length)) {
                return Bytes(storage.begin(), storage.begin() + static_cast<long>(length) - 2);
            }
        }
        ADD_FAILURE() << "the station sent a frame that does not decode";
        return {};
    }
    SecondaryStation& S() { return *link.First(); }
    int Pending() const {
        auto& s = *const_cast<CHDLCPrimary&>(link).First();
        return (s.writeIndex + 8 - s.readIndex) % 8;
    }
    int Held() {
        int held = 0;
        for (auto& slot : S().TransmitQueue)
            held += slot != nullptr;
        return held;
    }

    CHDLCPrimary link;
    RecordingSink sink;
    FakeDevice device;
};

}  // namespace

TEST_F(Station, PollsWithTheFrameTheStateCallsFor) {
    EXPECT_EQ(Poll(), (Bytes{0x14, 0x93})) << "not connected: SNRM";
    Connect();
    EXPECT_EQ(Poll(), (Bytes{0x14, 0x11})) << "connected, nothing queued: RR with N(R) 0";

    link.EnqueueCommand(Command({0x12, 0x34, 0x56, 0x78}), false);
    EXPECT_EQ(Poll(), (Bytes{0x14, 0x10, 0xC0, 0x00, 0x04, 0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(S().Vs(), 1);

    link.EnqueueCommand(Command({}), false);  // an empty payload still carries its header
    EXPECT_EQ(Poll(), (Bytes{0x14, 0x12, 0xC0, 0x00, 0x00}));

    link.EnqueueCommand(Command({0x01, 0x02}, 20, 2), true);  // a raw field goes as it is
    EXPECT_EQ(Poll(), (Bytes{0x14, 0x14, 0x01, 0x02}));

    link.OnAisgMode();
    EXPECT_EQ(Poll(), (Bytes{0xFF, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0x14})) << "scanning: XID";
}

TEST_F(Station, UaResetsTheSequenceAndFreesEveryQueuedCommand) {
    Connect();
    for (int i = 0; i < 4; ++i)
        link.EnqueueCommand(Command({std::uint8_t(i)}), false);
    Poll();
    Poll();  // two sent, unacknowledged; two waiting
    Receive({0x14, hdlc::IControl(0, 2), 0xC0, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8});
    EXPECT_EQ(S().Vr(), 1);
    device.Take();

    Receive({0x14, hdlc::UaFinal});  // a UA while already connected
    EXPECT_TRUE(S().connected);
    EXPECT_EQ(S().Vs(), 0);
    EXPECT_EQ(S().Vr(), 0);
    EXPECT_TRUE(S().RingEmpty());
    EXPECT_EQ(Held(), 0) << "every buffer freed, sent or not";
    EXPECT_EQ(Poll(), (Bytes{0x14, 0x11}));
    EXPECT_TRUE(device.Take().empty());
}

TEST_F(Station, AnnouncesTheLinkOnTheFifthFrameOnce) {
    struct Case {
        LinkMode mode;
        std::uint32_t announcement;
    } cases[] = {{LinkMode::Ericsson, MsgLinkUp}, {LinkMode::Aisg, MsgAisgDeviceFound}};
    for (const auto& c : cases) {
        link.SetMode(c.mode);
        Connect();
        for (int frame = 1; frame <= 7; ++frame) {
            Receive({0x14, hdlc::RrControl(0)});
            EXPECT_EQ(device.TakeNumbers(), frame == 5 ? Messages{c.announcement} : Messages{})
                << "frame " << frame;
        }
        // A DM and a new UA start the count again.
        Receive({0x14, hdlc::DmFinal});
        EXPECT_EQ(device.TakeNumbers(), Messages{MsgLinkDown});
        Connect();
        for (int frame = 1; frame <= 5; ++frame)
            Receive({0x14, hdlc::RrControl(0)});
        EXPECT_EQ(device.TakeNumbers(), Messages{c.announcement});
    }
}

TEST_F(Station, AnAcknowledgementFreesOnlyTheLastSentIFrame) {
    struct Case {
        std::uint8_t nr;
        bool freed;
    } cases[] = {{1, true}, {0, false}, {2, false}, {7, false}};
    for (const auto& c : cases) {
        Connect();
        const std::uint8_t slot = S().writeIndex;
        link.EnqueueCommand(Command({0xAA}), false);
        Poll();  // V(S) is now 1; the buffer waits in its slot
        ASSERT_NE(S().TransmitQueue[slot], nullptr);
        Receive({0x14, hdlc::RrControl(c.nr)});
        EXPECT_EQ(S().TransmitQueue[slot] == nullptr, c.freed) << "N(R) " << int(c.nr);
    }
    // With two sent, acknowledging the second leaves the first alone.
    Connect();
    const std::uint8_t first = S().writeIndex;
    const std::uint8_t second = (first + 1) % 8;
    link.EnqueueCommand(Command({0x01}), false);
    link.EnqueueCommand(Command({0x02}), false);
    Poll();
    Poll();
    Receive({0x14, hdlc::RrControl(2)});
    EXPECT_NE(S().TransmitQueue[first], nullptr);
    EXPECT_EQ(S().TransmitQueue[second], nullptr);
}

// An N(R) behind V(S) says the secondary did not take the frames from N(R)
// on: they go again, in order, or every later command would be out of
// sequence for it and never answered. An N(R) that names no frame held is
// ignored.
TEST_F(Station, FramesTheSecondaryDidNotTakeAreSentAgain) {
    const auto iframe = [](std::uint8_t ns, std::uint8_t nr, std::uint8_t payload) {
        return Bytes{0x14, hdlc::IControl(ns, nr), 0xC0, 0x00, 0x01, payload};
    };
    const Bytes rr0 = {0x14, hdlc::RrControl(0)};
    struct Case {
        const char* what;
        std::uint8_t nr;
        std::vector<Bytes> polls;  // what the next polls send
    } cases[] = {
        {"both lost", 0, {iframe(0, 0, 0xA1), iframe(1, 0, 0xB2), rr0}},
        {"the second lost", 1, {iframe(1, 0, 0xB2), rr0}},
        {"both taken", 2, {rr0}},
        {"an N(R) naming nothing sent", 5, {rr0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Connect();
        link.EnqueueCommand(Command({0xA1}), false);
        link.EnqueueCommand(Command({0xB2}), false);
        ASSERT_EQ(Poll(), iframe(0, 0, 0xA1));
        ASSERT_EQ(Poll(), iframe(1, 0, 0xB2));
        Receive({0x14, hdlc::RrControl(c.nr)});
        for (const auto& expected : c.polls)
            EXPECT_EQ(Poll(), expected);
        EXPECT_EQ(S().Vs(), 2) << "V(S) ends where it was";
    }
}

TEST_F(Station, DeliversInSequenceRepliesAndDiscardsOthers) {
    Connect();
    const Bytes payload = {1, 2, 3, 4, 5, 6, 7, 8};
    auto iframe = [&](std::uint8_t ns, std::uint8_t header) {
        Bytes body = {0x14, hdlc::IControl(ns, 0), header, 0x00, 0x08};
        body.insert(body.end(), payload.begin(), payload.end());
        return body;
    };
    Receive(iframe(1, 0xC0));  // out of sequence: V(R) is 0
    EXPECT_TRUE(device.Take().empty());
    EXPECT_EQ(S().Vr(), 0);
    EXPECT_EQ(Poll(), (Bytes{0x14, 0x11})) << "the next RR asks for N(S) 0 again";

    Receive(iframe(0, 0xC1));
    auto messages = device.Take();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].number, MsgCommand);
    ASSERT_NE(messages[0].lParam, nullptr);
    const CommandBuffer& reply = *messages[0].lParam;
    EXPECT_EQ(reply.dataOffset, 5);
    EXPECT_EQ(reply.length, 8) << "15 frame octets less header and FCS";
    EXPECT_EQ(Bytes(reply.Valid(), reply.Valid() + reply.length), payload);
    EXPECT_EQ(reply.address, 0x14);
    EXPECT_EQ(reply.control, hdlc::IControl(0, 0));
    EXPECT_EQ(S().Vr(), 1);
}

TEST_F(Station, EricssonRepliesMustCarryTheHeaderAndFifteenOctets) {
    struct Case {
        const char* what;
        std::uint8_t header;
        std::size_t payload;
        bool posted;
    } cases[] = {
        {"0xC0, 15 octets", 0xC0, 8, true},  {"0xC1, 15 octets", 0xC1, 8, true},
        {"0xC0, 14 octets", 0xC0, 7, false}, {"0xC2", 0xC2, 8, false},
        {"0x00", 0x00, 20, false},
    };
    for (const auto& c : cases) {
        Connect();
        Bytes body = {0x14, hdlc::IControl(0, 0), c.header, 0x00, std::uint8_t(c.payload)};
        body.resize(5 + c.payload, 0x33);
        Receive(body);
        EXPECT_EQ(device.Take().size(), c.posted ? 1u : 0u) << c.what;
        EXPECT_EQ(S().Vr(), 1) << c.what << ": a dropped reply still advances V(R)";
    }
}

TEST_F(Station, SequenceNumbersWrapAtEight) {
    Connect();
    for (std::uint8_t ns = 0; ns < 9; ++ns) {
        Bytes body = {0x14, hdlc::IControl(ns % 8, 0), 0xC0, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8};
        Receive(body);
        EXPECT_EQ(S().Vr(), (ns + 1) % 8);
    }
    int replies = 0;
    for (auto& m : device.Take())
        replies += m.number == MsgCommand;
    EXPECT_EQ(replies, 9);
    for (int i = 0; i < 9; ++i) {
        link.EnqueueCommand(Command({0x01}), false);
        const Bytes sent = Poll();
        ASSERT_GE(sent.size(), 2u);
        EXPECT_EQ(hdlc::NsOf(sent[1]), i % 8);
        EXPECT_EQ(hdlc::NrOf(sent[1]), 1);
    }
}

TEST_F(Station, DmDropsAConnectedLinkAndIsIgnoredOtherwise) {
    Receive({0x14, hdlc::DmFinal});
    EXPECT_TRUE(device.Take().empty());
    Connect();
    Receive({0x14, hdlc::DmFinal});
    EXPECT_EQ(device.TakeNumbers(), Messages{MsgLinkDown});
    EXPECT_FALSE(S().connected);
    EXPECT_EQ(Poll(), (Bytes{0x14, 0x93}));
}

TEST_F(Station, FramesForOthersAreIgnored) {
    Connect();
    Receive({0x15, hdlc::DmFinal});
    Receive({0x00, hdlc::DmFinal});
    EXPECT_TRUE(device.Take().empty());
    EXPECT_TRUE(S().connected);
}

TEST_F(Station, TenMissedPollsReportTheLossOnce) {
    Connect();
    for (int poll = 1; poll <= 25; ++poll) {
        link.CountMissedPoll(true);
        EXPECT_EQ(device.TakeNumbers(), poll == 10 ? Messages{MsgDeviceLost} : Messages{})
            << "miss " << poll;
    }
    EXPECT_FALSE(S().connected);
    // A good frame between misses starts the count again.
    link.CountMissedPoll(false);
    for (int poll = 1; poll <= 9; ++poll)
        link.CountMissedPoll(true);
    link.CountMissedPoll(false);
    for (int poll = 1; poll <= 9; ++poll)
        link.CountMissedPoll(true);
    EXPECT_TRUE(device.Take().empty());
    link.CountMissedPoll(true);
    EXPECT_EQ(device.TakeNumbers(), Messages{MsgDeviceLost});
}

TEST_F(Station, AScanResponseGivesTheSecondaryItsAddress) {
    Connect();
    link.OnAisgMode();
    EXPECT_EQ(S().address, 0xFF);
    EXPECT_EQ(link.Mode(), LinkMode::Aisg);
    // Any good frame counts, whatever it holds.
    EXPECT_EQ(Receive({0x33, 0x44, 0x55}), FrameMeaning::ScanAnswer);
    EXPECT_EQ(S().address, 20);
    EXPECT_EQ(device.TakeNumbers(), Messages{MsgAisgDeviceFound});
    // The change of mode left the connection as it was: RR first, then a DM
    // from a secondary that restarted sends the link back to SNRM.
    EXPECT_EQ(Poll(), (Bytes{0x14, 0x11}));
    Receive({0x14, hdlc::DmFinal});
    EXPECT_EQ(device.TakeNumbers(), Messages{MsgLinkDown});
    EXPECT_EQ(Poll(), (Bytes{0x14, 0x93}));

    // AISG replies are delivered raw.
    Connect();
    Receive({0x14, hdlc::IControl(0, 0), 0x05, 0x02, 0x00, 0xAB, 0xCD});
    auto messages = device.Take();
    ASSERT_EQ(messages.size(), 1u);
    const CommandBuffer& reply = *messages[0].lParam;
    EXPECT_EQ(reply.dataOffset, 2);
    EXPECT_EQ(Bytes(reply.Valid(), reply.Valid() + reply.length),
              (Bytes{0x05, 0x02, 0x00, 0xAB, 0xCD}));
}

TEST_F(Station, CommandsForNobodyOrTooManyAreFreedNotLost) {
    Connect();
    link.EnqueueCommand(Command({0x01}, 21), false);  // no secondary at 21
    EXPECT_EQ(Pending(), 0);

    link.OnAisgMode();  // scanning: nobody has address 20 now
    link.EnqueueCommand(Command({0x01}), false);
    EXPECT_EQ(Pending(), 0);
    link.OnEricssonMode();

    // The ring takes seven waiting commands; an eighth would make it read as empty.
    for (int i = 0; i < 8; ++i)
        link.EnqueueCommand(Command({std::uint8_t(i)}), false);
    EXPECT_EQ(Pending(), 7);
    EXPECT_EQ(Held(), 7);
    for (int i = 0; i < 7; ++i) {
        const Bytes sent = Poll();
        ASSERT_EQ(sent.size(), 6u);
        EXPECT_EQ(sent[5], i) << "sent in order, none overwritten";
    }
    // Sent, never acknowledged: the slots are taken over by new commands.
    for (int i = 0; i < 7; ++i)
        link.EnqueueCommand(Command({std::uint8_t(0x40 + i)}), false);
    EXPECT_EQ(Pending(), 7);
    EXPECT_EQ(Held(), 8) << "seven waiting and the one sent slot not yet reached";
    EXPECT_EQ(Poll()[5], 0x40);
}

TEST_F(Station, CommandsWaitingWhenScanningStartsAreNotSent) {
    Connect();
    link.EnqueueCommand(Command({0x01}), false);
    link.EnqueueCommand(Command({0x02}), false);
    link.OnAisgMode();
    EXPECT_EQ(Pending(), 0);
    EXPECT_EQ(Poll(), (Bytes{0xFF, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0x14}));
}
