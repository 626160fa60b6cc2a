// The link thread against the simulated actuator over the in-memory line
// (and a pseudo-terminal where the far end must see the line's settings):
// start-up, polling cadence, a command's round trip, the fallback between
// modes, a line that loses frames, and a quiet end.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
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
    hdlc::LinkDeviceState LinkState() const override { return state.load(); }
    ThreadId LinkThreadIdOfDevice() const override { return id; }

    // Takes what has arrived, noting when.
    void Collect() {
        ThreadMessage m;
        while (TakeMessage(id, m)) {
            if (m.number == MsgAisgDeviceFound && busyOnAisg) state = hdlc::LinkDeviceState::Busy;  // converting
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
    std::atomic<hdlc::LinkDeviceState> state{hdlc::LinkDeviceState::Idle};
    bool busyOnAisg = false;  // acts like the actuator thread, which leaves idle then
    std::vector<Received> received;
};

// The system's port, counting the opens the link asks of it.
class CountingLine final : public SerialLine {
public:
    OpenOutcome Open(const std::string& name, std::int32_t baudRate) override {
        ++opens;
        const OpenOutcome outcome = inner_.Open(name, baudRate);
        if (outcome == OpenOutcome::Opened) {
            NoteOpened(inner_.BaudRate());
        } else if (outcome == OpenOutcome::Failed) {
            NoteFailed(inner_.LastOpenFailure(), inner_.LastOpenError());
        }
        return outcome;
    }
    void Close() override {
        inner_.Close();
        IsOpen = 0;
    }
    void Discard() override { inner_.Discard(); }
    void Write(std::span<const std::uint8_t> frame) override { inner_.Write(frame); }
    LineEvent Wait(std::chrono::microseconds timeout, bool watchInput) override {
        return inner_.Wait(timeout, watchInput);
    }
    std::size_t Read(std::span<std::uint8_t> into) override {
        const std::size_t got = inner_.Read(into);
        if (got > 0) ReceivedSinceAsked = 1;
        return got;
    }
    void Wake() override { inner_.Wake(); }
    bool Vanished() const override { return inner_.Vanished(); }

    std::atomic<int> opens{0};

private:
    SerialLinePosix inner_;
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

    // The gaps between the polls the simulator hears over a second of idle
    // polling, in milliseconds, sorted; every poll must be the RR with N(R) `nr`.
    std::vector<double> IdlePollGaps(SimulatedActuator& sim, std::uint8_t nr = 0) {
        sim.TakeReceivedLog();
        std::this_thread::sleep_for(milliseconds(1000));
        const auto log = sim.TakeReceivedLog();
        std::vector<double> gaps;
        for (std::size_t i = 1; i < log.size(); ++i) {
            EXPECT_EQ(log[i].body, (Bytes{0x14, hdlc::RrControl(nr)})) << "frame " << i;
            gaps.push_back(
                std::chrono::duration<double, std::milli>(log[i].time - log[i - 1].time).count());
        }
        std::sort(gaps.begin(), gaps.end());
        return gaps;
    }

    InMemoryLine line;
    SerialLinePosix serialPort;
    // Outlives the link thread, which the tear-down stops.
    CountingLine countingPort;
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
    const auto gaps = IdlePollGaps(sim);
    ASSERT_GT(gaps.size(), 15u);
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

// An adapter that reads back every frame the tool sends, and one that does
// not: the link drops its own frames and goes on alike on both, commands, the
// poll cadence and all; only a frame the actuator never sends teaches it the
// adapter echoes.
class LinkOnAdapter : public LinkThreadTest, public ::testing::WithParamInterface<bool> {};

// Answers each command with its octets one up, so a command read back can
// never pass for its reply.
class OneUpApplication : public SimApplication {
public:
    std::optional<std::vector<std::uint8_t>> OnInformation(SimMode,
                                                           std::span<const std::uint8_t> info,
                                                           SimLinkControl&) override {
        std::vector<std::uint8_t> answer(info.begin(), info.end());
        for (auto& octet : answer)
            ++octet;
        return answer;
    }
};

TEST_P(LinkOnAdapter, DropsItsOwnFramesReadBackAndGoesOnAlike) {
    const bool echo = GetParam();
    SimOptions options;
    options.adapterEcho = echo;
    SimulatedActuator sim(options, std::make_shared<OneUpApplication>());
    StartLink(sim);
    ASSERT_TRUE(device.WaitFor(MsgLinkUp, 1, milliseconds(6000)));

    const Bytes payload = {0x12, 0x34, 0x56, 0x78, 0x01, 0x02, 0x0C, 0x01, 0x00, 0x01};
    const Bytes expected = {0x13, 0x35, 0x57, 0x79, 0x02, 0x03, 0x0D, 0x02, 0x01, 0x02};
    sim.TakeReceivedLog();
    for (int i = 0; i < 3; ++i) {
        auto command = NewCommandBuffer(20, 5);
        command->AppendBytes(payload.data(), payload.size());
        ASSERT_TRUE(PostThreadMessage(link.LinkThreadId(), MsgCommand, 0, std::move(command)));
        ASSERT_TRUE(device.WaitFor(MsgCommand, i + 1, milliseconds(1000))) << "command " << i;
        const auto& reply = device.received.back();
        ASSERT_NE(reply.buffer, nullptr);
        EXPECT_EQ(Bytes(reply.buffer->Valid(), reply.buffer->Valid() + reply.buffer->length),
                  expected);
    }
    const auto log = sim.TakeReceivedLog();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const auto& frame) { return hdlc::IsIFrame(frame.body[1]); }),
              3)
        << "a command was sent again";
    const auto gaps = IdlePollGaps(sim, 3);
    ASSERT_GT(gaps.size(), 15u);
    EXPECT_GE(gaps[gaps.size() / 2], 20.0);
    EXPECT_LE(gaps[gaps.size() / 2], 30.0);

    const EchoFilter& filter = line.ToolEnd().Echo();
    EXPECT_EQ(filter.Echoing(), echo);
    EXPECT_EQ(sim.Counters().octetsEchoed > 0, echo);
    if (echo) {
        // Every frame the actuator heard came back and was dropped (the last
        // poll's echo may still be on its way).
        EXPECT_GE(filter.DroppedFrames() + 1, sim.Counters().framesReceived);
    } else {
        EXPECT_EQ(filter.DroppedFrames(), 0u);
    }
    device.Collect();
    EXPECT_EQ(device.Count(MsgCommand), 3) << "an echo was taken for a reply";
    EXPECT_EQ(device.Count(MsgDeviceLost), 0);
    EXPECT_EQ(device.Count(MsgLinkDown), 0);
    EXPECT_EQ(device.Count(MsgLinkUp), 1);
}

INSTANTIATE_TEST_SUITE_P(Echo, LinkOnAdapter, ::testing::Bool(),
                         [](const auto& param) { return param.param ? "Echoing" : "Quiet"; });

// With nobody behind an echoing adapter, its own SNRM and address assignment
// come back in both modes; neither may pass for an answer.
TEST_F(LinkThreadTest, AnEchoingAdapterWithNobodyBehindItFindsNobody) {
    SimOptions options;
    options.adapterEcho = true;
    options.silent = true;
    SimulatedActuator sim(options);
    // The link thread alone calls it, from start to the fixture's stop: the
    // counts live as long as the observer.
    const auto snrmDropped = std::make_shared<std::atomic<int>>(0);
    const auto assignmentsDropped = std::make_shared<std::atomic<int>>(0);
    line.ToolEnd().Echo().SetObserver([=](std::span<const std::uint8_t> frame) {
        if (frame.size() > 2 && frame[2] == hdlc::SnrmPoll) ++*snrmDropped;
        if (frame.size() > 1 && frame[1] == hdlc::BroadcastAddress) ++*assignmentsDropped;
    });
    StartLink(sim);
    Opened();
    ASSERT_TRUE(
        WaitUntil([&] { return *assignmentsDropped > 1 && *snrmDropped > 2; }, milliseconds(10000)))
        << "not every frame of both modes came back and was dropped";
    device.Collect();
    EXPECT_EQ(device.Count(MsgAisgDeviceFound), 0);
    EXPECT_EQ(device.Count(MsgLinkUp), 0);
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

TEST_P(LinkOnAdapter, FindsAnActuatorInAisgModeThroughTheScan) {
    SimOptions options;
    options.mode = SimMode::Aisg;
    options.adapterEcho = GetParam();
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
    EXPECT_EQ(line.ToolEnd().Echo().Echoing(), GetParam());
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
// still going out. With `echo`, each poll is first sent back whole, as an
// adapter that hears itself does. Answers what reached the master after the
// link thread ended.
Bytes RunUntilStopDuringAnAnswer(std::chrono::microseconds stagger, bool echo = false) {
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
            if (echo) {
                hdlc::FrameBytes poll;
                hdlc::EncodeFrame({storage.data(), length - 2}, poll);
                pty.Write(Bytes(poll.data(), poll.data() + poll.size()));
            }
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
    // Then a few behind an adapter that echoes: the poll read back is no
    // answer to wait for.
    std::vector<std::future<Bytes>> runs;
    for (int run = 0; run < 30; ++run) {
        const bool echo = run >= 20;
        runs.push_back(std::async(std::launch::async, [run, echo] {
            return RunUntilStopDuringAnAnswer(std::chrono::microseconds(50 * (run % 20)), echo);
        }));
    }
    for (std::size_t run = 0; run < runs.size(); ++run) {
        const Bytes after = runs[run].get();
        EXPECT_TRUE(after.empty()) << "run " << run << ": " << after.size()
                                   << " octets reached the far end after the tool let go";
    }
}

// The device behind the port goes away (the simulator's pseudo-terminal, as an
// adapter pulled out) and comes back under another name behind the same link:
// the port is closed, tried again twice a second and no more, and the link
// comes up again on the new device.
TEST_F(LinkThreadTest, APortWhoseDeviceWentAwayIsOpenedAgainWhenItIsBack) {
    const std::filesystem::path stable =
        std::filesystem::temp_directory_path() / ("kvq-stable-" + std::to_string(::getpid()));
    std::filesystem::remove(stable);
    SimulatedActuator sim;
    ASSERT_TRUE(sim.Start()) << sim.Error();
    std::filesystem::create_symlink(sim.DevicePath(), stable);
    CountingLine& port = countingPort;
    StartLink(stable.string(), port);
    ASSERT_TRUE(device.WaitFor(MsgLinkUp, 1, milliseconds(5000)));
    EXPECT_EQ(context.PortLost.load(), 0);

    const std::string before = sim.DevicePath();
    sim.Stop();
    std::filesystem::remove(stable);  // as the system takes the link away with the device
    ASSERT_TRUE(WaitUntil([&] { return context.PortLost.load() == 1; }, milliseconds(2000)));
    // The port is closed, so the old number is free: taken here, the device
    // comes back under another.
    const auto placeholders = HoldPseudoTerminalName(before);
    EXPECT_EQ(context.PortOpened.load(), 0);
    EXPECT_EQ(port.IsOpen.load(), 0) << "closed, not left hanging";
    const int opensWhenLost = port.opens.load();
    std::this_thread::sleep_for(milliseconds(2000));
    const int retries = port.opens.load() - opensWhenLost;
    EXPECT_GE(retries, 2) << "tried again while away";
    EXPECT_LE(retries, 5) << "no more than twice a second";
    EXPECT_EQ(context.PortLost.load(), 1);

    ASSERT_TRUE(sim.Start()) << sim.Error();
    ASSERT_NE(sim.DevicePath(), before);
    std::filesystem::create_symlink(sim.DevicePath(), stable);
    EXPECT_TRUE(WaitUntil([&] { return context.PortLost.load() == 0; }, milliseconds(2000)));
    EXPECT_EQ(context.PortOpened.load(), 1);
    EXPECT_TRUE(device.WaitFor(MsgLinkUp, 2, milliseconds(5000))) << "up again on the new device";
    std::filesystem::remove(stable);
}
