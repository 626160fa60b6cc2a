// The link thread against the simulated actuator over the in-memory line
// (and a pseudo-terminal where the far end must see the line's settings):
// start-up, polling cadence, a command's round trip, the fallback between
// modes, a line that loses frames, and a quiet end.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "core/MainDataStore.h"
#include "hdlc/HDLCPrimary.h"
#include "hdlc/LinkThread.h"
#include "serial/InMemoryLine.h"
#include "serial/SerialLinePosix.h"
#include "sim/SimulatedActuator.h"
#include "support/PseudoTerminal.h"
#include "support/WaitUntil.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::hdlc;
using namespace kvq::sim;
using namespace kvq::testing;
namespace hdlc = kvq::hdlc;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using Bytes = std::vector<std::uint8_t>;

// The actuator thread as the link sees it: a queue the test reads, and a state
// the test sets.
class DeviceQueue : public LinkDevice {
public:
    DeviceQueue() { CreateMessageQueue(id); }
    ~DeviceQueue() override { DestroyMessageQueue(id); }
    std::int32_t LinkState() const override { return state.load(); }
    std::int32_t LinkSetupPending() const override { return 0; }
    ThreadId LinkThreadIdOfDevice() const override { return id; }

    // Takes what has arrived, noting when.
    void Collect() {
        ThreadMessage m;
        while (TakeMessage(id, m)) {
            if (m.number == MsgAisgDeviceFound && busyOnAisg) state = 14;  // converting
            received.push_back({m.number, Clock::now(), std::move(m.lParam)});
        }
    }
    int Count(std::uint32_t number) const {
        return static_cast<int>(std::count_if(received.begin(), received.end(),
                                              [&](const auto& r) { return r.number == number; }));
    }
    bool WaitFor(std::uint32_t number, int count, milliseconds limit) {
        return WaitUntil(
            [&] {
                Collect();
                return Count(number) >= count;
            },
            limit);
    }

    struct Received {
        std::uint32_t number;
        Clock::time_point time;
        CommandBufferPtr buffer;
    };
    ThreadId id = NewThreadId();
    std::atomic<std::int32_t> state{0};
    bool busyOnAisg = false;  // acts like the actuator thread, which leaves idle then
    std::vector<Received> received;
};

class LinkThreadTest : public ::testing::Test {
protected:
    // The tool's end of the in-memory line, with the simulator on the far end.
    void StartLink(SimulatedActuator& sim) {
        ASSERT_TRUE(sim.StartOnLine(line)) << sim.Error();
        StartLink("COM1", line.ToolEnd());
    }
    void StartLink(const std::string& name, SerialLine& port) {
        context.SetSelectedPortName(name);
        link.StartLinkThread(port, context, &device);
    }
    void TearDown() override {
        context.RequestStop();
        EXPECT_TRUE(link.JoinLinkThread(1000));
    }
    // Waits for the port to open and answers when it did.
    Clock::time_point Opened() {
        EXPECT_TRUE(WaitUntil([&] { return context.PortOpened.load() == 1; }, milliseconds(3000)));
        return Clock::now();
    }

    InMemoryLine line;
    SerialLinePosix serialPort;
    CMainDataStore context;
    CLinkThread link;
    DeviceQueue device;
};

}  // namespace

TEST_F(LinkThreadTest, ComesUpAndPollsAtItsCadence) {
    SimulatedActuator sim;
    StartLink(sim);
    const auto opened = Opened();
    ASSERT_TRUE(device.WaitFor(MsgLinkUp, 1, milliseconds(4000)));
    EXPECT_LT(device.received.back().time - opened, milliseconds(3000));
    EXPECT_EQ(device.Count(MsgLinkUp), 1);

    // Idle: RR polls, each answered. A cycle is the answer, read within the
    // millisecond it is in, then the 10 ms to the pause and the 10 ms to the
    // next poll, each met in the millisecond after its deadline: about 22 ms.
    sim.TakeReceivedLog();
    std::this_thread::sleep_for(milliseconds(1000));
    const auto log = sim.TakeReceivedLog();
    std::vector<double> gaps;
    for (std::size_t i = 1; i < log.size(); ++i) {
        ASSERT_EQ(log[i].body, (Bytes{0x14, 0x11})) << "frame " << i;
        gaps.push_back(
            std::chrono::duration<double, std::milli>(log[i].time - log[i - 1].time).count());
    }
    ASSERT_GT(gaps.size(), 15u);
    std::sort(gaps.begin(), gaps.end());
    const double median = gaps[gaps.size() / 2];
    EXPECT_GE(median, 20.0);
    EXPECT_LE(median, 30.0);
    device.Collect();
    EXPECT_EQ(device.Count(MsgDeviceLost), 0);
    EXPECT_EQ(device.Count(MsgLinkDown), 0);
}

TEST_F(LinkThreadTest, ACommandGoesOutAsItsIFrameAndTheReplyComesBack) {
    SimulatedActuator sim({}, std::make_shared<EchoApplication>());
    StartLink(sim);
    ASSERT_TRUE(device.WaitFor(MsgLinkUp, 1, milliseconds(6000)));

    const Bytes payload = {0x12, 0x34, 0x56, 0x78, 0x01, 0x02, 0x0C, 0x01, 0x00, 0x01};
    auto command = NewCommandBuffer(20, 5);
    command->AppendBytes(payload.data(), payload.size());
    sim.TakeReceivedLog();
    ASSERT_TRUE(PostThreadMessage(link.LinkThreadId(), MsgCommand, 0, std::move(command)));
    ASSERT_TRUE(device.WaitFor(MsgCommand, 1, milliseconds(1000)));

    Bytes body = {0x14, 0x10, 0xC0, 0x00, 0x0A};  // N(S) 0, P, N(R) 0
    body.insert(body.end(), payload.begin(), payload.end());
    const auto log = sim.TakeReceivedLog();
    EXPECT_NE(std::find_if(log.begin(), log.end(), [&](const auto& f) { return f.body == body; }),
              log.end())
        << "the exact I-frame never reached the actuator";

    const auto& reply = device.received.back();
    ASSERT_NE(reply.buffer, nullptr);
    EXPECT_EQ(reply.buffer->dataOffset, 5);
    EXPECT_EQ(reply.buffer->length, payload.size());
    EXPECT_EQ(Bytes(reply.buffer->Valid(), reply.buffer->Valid() + reply.buffer->length), payload);
}

TEST_F(LinkThreadTest, WithNobodyOnTheLineItAlternatesBetweenTheModes) {
    PseudoTerminal pty;  // nobody answers; the master sees the speed the tool set
    StartLink(pty.SlavePath(), serialPort);
    Opened();
    struct Frame {
        Bytes body;
        speed_t speed;
    };
    std::vector<Frame> frames;
    hdlc::FrameReceiver receiver(255);
    Bytes storage(300);
    std::size_t length = 0;
    const auto end = Clock::now() + milliseconds(4000);
    while (frames.size() < 6 && Clock::now() < end) {
        for (auto octet : pty.Read(1, milliseconds(50))) {
            if (!receiver.AcceptByte(octet, storage, length)) continue;
            termios settings = pty.SlaveSettings();
            frames.push_back({Bytes(storage.begin(), storage.begin() + long(length) - 2),
                              cfgetospeed(&settings)});
        }
    }
    ASSERT_GE(frames.size(), 4u);
    const Bytes snrm = {0x14, 0x93};
    const Bytes xid = {0xFF, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0x14};
    for (std::size_t i = 0; i < frames.size(); ++i) {
        const bool ericsson = i % 2 == 0;
        EXPECT_EQ(frames[i].body, ericsson ? snrm : xid) << "frame " << i;
        EXPECT_EQ(frames[i].speed, ericsson ? B115200 : B9600) << "frame " << i;
    }
}

TEST_F(LinkThreadTest, FindsAnActuatorInAisgModeThroughTheScan) {
    SimOptions options;
    options.mode = SimMode::Aisg;
    SimulatedActuator sim(options);
    device.busyOnAisg = true;
    StartLink(sim);
    ASSERT_TRUE(device.WaitFor(MsgAisgDeviceFound, 2, milliseconds(8000)));
    EXPECT_EQ(device.Count(MsgAisgDeviceFound), 2) << "the scan answer, then the fifth frame";
    EXPECT_EQ(device.Count(MsgLinkUp), 0);
    const auto log = sim.TakeReceivedLog();
    const auto scan = std::find_if(log.begin(), log.end(), [](const auto& f) {
        return f.heard && !f.body.empty() && f.body[0] == 0xFF;
    });
    ASSERT_NE(scan, log.end());
    EXPECT_EQ(scan->baudRate, 9600u);
    EXPECT_TRUE(sim.LinkState().connected);
}

TEST_F(LinkThreadTest, StaysUpWhenOneFrameInTwentyIsCorrupted) {
    SimOptions options;
    options.corruptShare = 0.05;
    options.seed = 20;
    SimulatedActuator sim(options);
    StartLink(sim);
    ASSERT_TRUE(device.WaitFor(MsgLinkUp, 1, milliseconds(6000)));
    std::this_thread::sleep_for(milliseconds(3000));
    device.Collect();
    EXPECT_GT(sim.Counters().framesCorrupted, 0u);
    EXPECT_EQ(device.Count(MsgDeviceLost), 0);
    EXPECT_EQ(device.Count(MsgLinkDown), 0);
    EXPECT_EQ(device.Count(MsgLinkUp), 1);
}

TEST_F(LinkThreadTest, ClosesWithCommandsStillQueued) {
    SimOptions options;
    options.silent = true;
    SimulatedActuator sim(options);
    StartLink(sim);
    Opened();
    ASSERT_TRUE(WaitUntil([&] { return link.LinkThreadId() != 0; }, milliseconds(1000)));
    for (int i = 0; i < 10; ++i) {
        PostThreadMessage(link.LinkThreadId(), i % 2 ? MsgCommand : MsgRawCommand, 0,
                          NewCommandBuffer(20, i % 2 ? 5 : 2));
    }
    // The leak checker fails the run if the stop leaves any block behind.
}

namespace {

// One tool run against a far end the test plays on a pseudo-terminal's master:
// answers each poll octet by octet at the wire's pace, and on the chosen poll
// asks the tool to stop `stagger` after the poll arrived, while the answer is
// still going out. Answers what reached the master after the link thread ended.
Bytes RunUntilStopDuringAnAnswer(std::chrono::microseconds stagger) {
    PseudoTerminal pty;  // the slave's cooked settings echo whatever arrives
    SerialLinePosix port;
    CMainDataStore context;
    DeviceQueue device;
    CLinkThread link;
    context.SetSelectedPortName(pty.SlavePath());
    link.StartLinkThread(port, context, &device);

    constexpr int StopAtPoll = 4;
    const auto octetTime = std::chrono::microseconds(87);  // 10 bits at 115200 baud
    hdlc::FrameReceiver receiver(255);
    Bytes storage(300);
    std::size_t length = 0;
    int polls = 0;
    std::thread stopper;
    const auto end = Clock::now() + milliseconds(6000);
    while (polls < StopAtPoll && Clock::now() < end) {
        for (auto octet : pty.Read(1, milliseconds(20))) {
            if (!receiver.AcceptByte(octet, storage, length) || length < 4) continue;
            const std::uint8_t control = storage[1];
            const Bytes answer = {0x14,
                                  control == hdlc::SnrmPoll ? hdlc::UaFinal : hdlc::RrControl(0)};
            hdlc::FrameBytes frame;
            hdlc::EncodeFrame(answer, frame);
            if (++polls == StopAtPoll) {
                stopper = std::thread([&context, stagger] {
                    std::this_thread::sleep_for(stagger);
                    context.RequestStop();
                });
            }
            const auto start = Clock::now();
            for (std::size_t i = 0; i < frame.size(); ++i) {
                std::this_thread::sleep_until(start + octetTime * (i + 1));
                pty.Write({frame.data()[i]});
            }
        }
    }
    if (stopper.joinable()) stopper.join();
    context.RequestStop();
    EXPECT_TRUE(link.JoinLinkThread(1000));
    EXPECT_EQ(polls, StopAtPoll) << "the tool never polled often enough";
    return pty.Read(64, milliseconds(100));
}

}  // namespace

TEST(LinkThreadQuietEnd, NothingComesBackOnceTheToolHasLetGoOfTheLine) {
    // Stops spread over the time the last answer is on the wire, and just
    // after it; the runs go side by side, as each waits two seconds after open.
    std::vector<std::future<Bytes>> runs;
    for (int run = 0; run < 20; ++run) {
        runs.push_back(std::async(std::launch::async, [run] {
            return RunUntilStopDuringAnAnswer(std::chrono::microseconds(50 * run));
        }));
    }
    for (std::size_t run = 0; run < runs.size(); ++run) {
        const Bytes after = runs[run].get();
        EXPECT_TRUE(after.empty()) << "run " << run << ": " << after.size()
                                   << " octets reached the far end after the tool let go";
    }
}
