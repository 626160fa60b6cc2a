// The link thread against the simulated actuator over a pseudo-terminal:
// start-up, polling cadence, a command's round trip, the fallback between
// modes, and a line that loses frames.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "hdlc/HDLCPrimary.h"
#include "core/MainDataStore.h"
#include "support/PseudoTerminal.h"
#include "serial/RS485SerialPort.h"
#include "sim/SimulatedActuator.h"
#include "support/WaitUntil.h"

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
    void StartLink(const std::string& path) {
        context.SetSelectedPortName(path);
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

    CMainDataStore context;
    CRS485SerialPort port{context};
    CHDLCEricsson link;
    DeviceQueue device;
};

}  // namespace

TEST_F(LinkThreadTest, ComesUpAndPollsAtItsCadence) {
    SimulatedActuator sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    StartLink(sim.DevicePath());
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
    ASSERT_TRUE(sim.Start()) << sim.Error();
    StartLink(sim.DevicePath());
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
    PseudoTerminal line;  // nobody answers
    StartLink(line.SlavePath());
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
        for (auto octet : line.Read(1, milliseconds(50))) {
            if (!receiver.AcceptByte(octet, storage, length)) continue;
            termios settings = line.SlaveSettings();
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
    ASSERT_TRUE(sim.Start()) << sim.Error();
    device.busyOnAisg = true;
    StartLink(sim.DevicePath());
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
    ASSERT_TRUE(sim.Start()) << sim.Error();
    StartLink(sim.DevicePath());
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
    ASSERT_TRUE(sim.Start()) << sim.Error();
    StartLink(sim.DevicePath());
    Opened();
    ASSERT_TRUE(WaitUntil([&] { return link.LinkThreadId() != 0; }, milliseconds(1000)));
    for (int i = 0; i < 10; ++i) {
        PostThreadMessage(link.LinkThreadId(), i % 2 ? MsgCommand : MsgRawCommand, 0,
                          NewCommandBuffer(20, i % 2 ? 5 : 2));
    }
    // The leak checker fails the run if the stop leaves any block behind.
}
