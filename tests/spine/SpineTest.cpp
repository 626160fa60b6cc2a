// The running core: start-up order and delays, messages between the threads,
// and a prompt, clean stop. Real threads and real time against a pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "actuator/VLX400E.h"
#include "app/Process.h"
#include "support/PseudoTerminal.h"
#include "support/WaitUntil.h"

using namespace kvq::core;
using namespace kvq::hdlc;
using namespace kvq::actuator;
using namespace kvq::app;
using namespace kvq::testing;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class Spine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.Ok());
        process.settings.Variant = "E-VLX400";
        ASSERT_TRUE(VariantIsServed(process.settings.Variant));
    }
    void TearDown() override { StopWorkers(process); }

    // Stops and answers how long the stop took.
    milliseconds Stop() {
        const auto start = Clock::now();
        EXPECT_TRUE(StopWorkers(process)) << "a worker was not joined";
        return std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    }

    PseudoTerminal pty{PseudoTerminal::Free};
    ProcessObjects process;
    CVLX400E* device = &process.actuator;
};

}  // namespace

TEST_F(Spine, StartsTheThreadsInOrderWithTheirDelays) {
    const auto start = Clock::now();
    StartWorkers(process, pty.SlavePath());

    // The actuator thread exists at once and is searching; the status engine
    // shows its first lines.
    EXPECT_NE(device->ThreadIdOfActuator(), 0u);
    EXPECT_EQ(device->Snapshot().state, ActuatorState::Looking);
    EXPECT_NE(process.testEngine.StatusEngineThreadId(), 0u);
    std::string line1, line2;
    ASSERT_TRUE(WaitUntil([&] { return process.SystemContext.TakeStatusLines(line1, line2); },
                          milliseconds(500)));
    EXPECT_EQ(line1, "INITIALIZING");
    EXPECT_EQ(line2, "SYSTEM");

    // The link thread comes a second later, and opens the port at once.
    EXPECT_EQ(process.linkStation.LinkThreadId(), 0u);
    ASSERT_TRUE(WaitUntil([&] { return process.SystemContext.PortOpened.load() == 1; },
                          milliseconds(3000)));
    const auto opened = Clock::now() - start;
    EXPECT_GE(opened, milliseconds(950));
    EXPECT_LT(opened, milliseconds(1800));
    EXPECT_NE(process.linkStation.LinkThreadId(), 0u);
    EXPECT_EQ(process.linkStation.Mode(), LinkMode::Ericsson);
    EXPECT_EQ(process.linkStation.LinkUpFrameCount(), 5);
    EXPECT_EQ(process.serialPort.BaudRate(), 115200);

    // With the port open and no device found the engine says it is looking.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return process.SystemContext.TakeStatusLines(line1, line2) &&
                   line1 == "LOOKING FOR DEVICE";
        },
        milliseconds(2000)));
    EXPECT_EQ(line2, "TORVIN E-VLX400 ?");
    EXPECT_EQ(device->Snapshot().serialNumber, "") << "no actuator: none known";

    EXPECT_LT(Stop(), milliseconds(1000));
    EXPECT_EQ(process.serialPort.IsOpen.load(), 0);
    EXPECT_TRUE(pty.SlaveClosed()) << "the port was not closed on the way out";
}

TEST_F(Spine, BlocksPostedToTheWorkersAreTakenAndFreed) {
    StartWorkers(process, pty.SlavePath());
    // The actuator thread's queue exists as soon as it runs.
    ASSERT_TRUE(WaitUntil(
        [&] {
            return PostThreadMessage(device->ThreadIdOfActuator(), MsgCommand, 0,
                                     NewCommandBuffer(20, 5));
        },
        milliseconds(500)));
    ASSERT_TRUE(
        WaitUntil([&] { return !HasMessage(device->ThreadIdOfActuator()); }, milliseconds(500)));

    ASSERT_TRUE(
        WaitUntil([&] { return process.linkStation.LinkThreadId() != 0; }, milliseconds(2000)));
    const ThreadId link = process.linkStation.LinkThreadId();
    ASSERT_TRUE(
        WaitUntil([&] { return PostThreadMessage(link, MsgCommand, 0, NewCommandBuffer(20, 5)); },
                  milliseconds(500)));
    // Left in the queue at the stop: freed with the queue (the leak checker watches).
    PostThreadMessage(link, MsgRawCommand, 0, NewCommandBuffer(20, 2));
    EXPECT_LT(Stop(), milliseconds(1000));
}

TEST_F(Spine, StopsPromptlyAtEveryStageOfStartUp) {
    struct Case {
        const char* stage;
        milliseconds after;
        bool linkStarted;
    } cases[] = {
        {"status engine in its first second", milliseconds(200), false},
        {"link thread in its pause after opening", milliseconds(1600), true},
        {"link thread polling", milliseconds(3400), true},
    };
    for (const auto& c : cases) {
        PseudoTerminal terminal{PseudoTerminal::Free};
        ProcessObjects p;
        p.settings.Variant = "E-VLX400";
        ASSERT_TRUE(VariantIsServed(p.settings.Variant));
        StartWorkers(p, terminal.SlavePath());
        std::this_thread::sleep_for(c.after);
        const auto start = Clock::now();
        EXPECT_TRUE(StopWorkers(p)) << c.stage;
        EXPECT_LT(Clock::now() - start, milliseconds(1000)) << c.stage;
        EXPECT_EQ(p.linkStation.LinkThreadId() != 0, c.linkStarted) << c.stage;
        EXPECT_EQ(p.serialPort.IsOpen.load(), 0) << c.stage;
        // A port that was opened was closed again (before any open the master sees no hang-up).
        if (c.linkStarted) {
            EXPECT_TRUE(terminal.SlaveClosed()) << c.stage;
        }
    }
}

TEST_F(Spine, TheLinkWaitsForAPortNameAndReopensOnRequest) {
    StartWorkers(process, "NONE");
    std::this_thread::sleep_for(milliseconds(1300));
    EXPECT_NE(process.linkStation.LinkThreadId(), 0u);
    EXPECT_EQ(process.serialPort.IsOpen.load(), 0) << "opened a port before one was named";

    // Named later: picked up within the link's one-second look.
    process.SystemContext.SetSelectedPortName(pty.SlavePath());
    ASSERT_TRUE(WaitUntil([&] { return process.SystemContext.PortOpened.load() == 1; },
                          milliseconds(1500)));

    // A port change: the link closes this port and opens the new one.
    PseudoTerminal other{PseudoTerminal::Free};
    ASSERT_TRUE(other.Ok());
    process.SystemContext.SetSelectedPortName(other.SlavePath());
    ASSERT_TRUE(WaitUntil(
        [&] { return PostThreadMessage(process.linkStation.LinkThreadId(), MsgReopenPort); },
        milliseconds(500)));
    ASSERT_TRUE(
        WaitUntil([&] { return pty.SlaveClosed() && !other.SlaveClosed(); }, milliseconds(3000)));
    EXPECT_EQ(process.SystemContext.PortOpened.load(), 1);

    // A port that cannot be opened: the engine says so.
    process.SystemContext.SetSelectedPortName("/dev/kvq-no-such-port");
    PostThreadMessage(process.linkStation.LinkThreadId(), MsgReopenPort);
    ASSERT_TRUE(WaitUntil([&] { return process.SystemContext.PortOpened.load() == 0; },
                          milliseconds(3000)));
    std::string line1, line2;
    ASSERT_TRUE(WaitUntil(
        [&] {
            return process.SystemContext.TakeStatusLines(line1, line2) &&
                   line1 == "SERIAL PORT NOT OPEN?";
        },
        milliseconds(2000)));
    EXPECT_LT(Stop(), milliseconds(1000));
}
