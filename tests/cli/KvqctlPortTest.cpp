// The port kvqctl works on: the one it chooses, an adapter pulled out and
// plugged in again, and the trace of the line; kvqctl running in the test's
// process on the system's serial line, a pseudo-terminal of the simulator.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "InProcessKvqctl.h"
#include "KvqctlOutputs.h"
#include "hdlc/TraceDecoder.h"
#include "hdlc/TraceWriter.h"
#include "serial/LineTap.h"
#include "sim/SimTraceNames.h"
#include "support/PseudoTerminal.h"
#include "support/WaitUntil.h"

using namespace kvq::hdlc;
using namespace kvq::sim;
using namespace kvq::testing;

namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

using KvqctlPort = KvqctlInProcess;

// The frames of a trace file, in its order.
std::vector<ParsedTraceLine> TraceFrames(const fs::path& path, std::string* all = nullptr) {
    std::vector<ParsedTraceLine> frames;
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        if (all) *all += line + "\n";
        ParsedTraceLine parsed;
        if (ParseTraceLine(line, parsed)) frames.push_back(parsed);
    }
    return frames;
}

std::string TraceText(const fs::path& path) {
    std::string all;
    TraceFrames(path, &all);
    return all;
}

using FrameFilter = bool (*)(const ParsedTraceLine&);
std::vector<std::vector<std::uint8_t>> Octets(const std::vector<ParsedTraceLine>& frames,
                                              FrameFilter wanted) {
    std::vector<std::vector<std::uint8_t>> octets;
    for (const auto& frame : frames) {
        if (wanted(frame)) octets.push_back(frame.line);
    }
    return octets;
}

}  // namespace

// Without --port the first port present is used, as the dialog chooses it,
// not COM1 and not the first named; a port past COM8 works when named.
TEST_F(KvqctlPort, ChoosesTheFirstPresentPortAndTakesPortsPastCom8) {
    StartSimulator("AP1721-65-18", {}, nullptr, Line::PseudoTerminal);
    struct Case {
        std::string map;
        std::vector<std::string> port;
    } cases[] = {
        {"COM5=/dev/kvq-no-such-port;COM2=" + sim->DevicePath(), {}},
        {"COM1=/dev/kvq-no-such-port;COM12=" + sim->DevicePath(), {"--port", "COM12"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.port;
        args.insert(args.end(), {"--json", "status"});
        auto run = Run(args, {"KVQ_SERIAL_PORTS=" + c.map});
        ASSERT_EQ(run->Wait(milliseconds(30000)), 0) << c.map << run->Out() << run->Err();
        EXPECT_EQ(FinalObject(run->Out(), 0)["serialNumber"], "XXXT0004711");
    }
}

// The adapter pulled out while kvqctl runs and plugged in again, where it
// gets another tty behind the same stable name (a link standing in for the
// one in /dev/serial/by-id): kvqctl says so, and carries on to READY on the
// new device without a restart.
TEST_F(KvqctlPort, FindsTheAdapterAgainBehindItsStableNameAfterAReplug) {
    StartSimulator("AP1721-65-18", {}, nullptr, Line::PseudoTerminal);
    const fs::path stable = directory / "usb-FTDI_USB-RS485_A1B2C3-if00-port0";
    fs::create_symlink(sim->DevicePath(), stable);
    auto run = Run({"--port", stable.string(), "--timeout", "60", "monitor"});
    const auto readyAfter = [&](const std::string& mark) {
        const std::string out = run->Out();
        const auto at = mark.empty() ? 0 : out.find(mark);
        return at != std::string::npos && out.find("READY", at) != std::string::npos;
    };
    ASSERT_TRUE(WaitUntil([&] { return readyAfter(""); }, milliseconds(20000)))
        << run->Out() << run->Err();

    const std::string before = sim->DevicePath();
    sim->Stop();
    fs::remove(stable);  // as the system takes the link away with the device
    ASSERT_TRUE(WaitUntil([&] { return run->Err().find("is gone") != std::string::npos; },
                          milliseconds(5000)))
        << run->Out() << run->Err();
    // The port is closed, so the old tty's number is free: taken here, the
    // simulator comes back under another.
    const auto placeholders = HoldPseudoTerminalName(before);
    // A while unplugged: kvqctl stays, trying the stable name again now and then.
    std::this_thread::sleep_for(milliseconds(1500));
    EXPECT_EQ(run->Err().find("the adapter is back;"), std::string::npos) << run->Err();
    EXPECT_EQ(run->Wait(milliseconds(0)), std::nullopt) << "kvqctl ended: " << run->Err();
    ASSERT_TRUE(sim->Start()) << sim->Error();
    ASSERT_NE(sim->DevicePath(), before);
    fs::create_symlink(sim->DevicePath(), stable);

    EXPECT_TRUE(WaitUntil([&] { return readyAfter("ADAPTER REMOVED?"); }, milliseconds(20000)))
        << run->Out() << run->Err();
    EXPECT_NE(run->Err().find("the adapter is back;"), std::string::npos) << run->Err();
    EXPECT_EQ(run->Wait(milliseconds(0)), std::nullopt) << "kvqctl ended: " << run->Err();
    run->Signal(SIGTERM);
    EXPECT_EQ(run->Wait(milliseconds(4000)), 128 + SIGTERM);
}

// The tool's trace and the actuator's, taken at the two ends of the line, name
// the same frames in the same order: each frame the tool sent the actuator
// received, and each answer the tool read the actuator sent. Behind an adapter
// that echoes, the tool's trace also shows its own frames read back, marked.
TEST_F(KvqctlPort, TheToolsTraceAndTheActuatorsShowTheSameFramesInOrder) {
    for (const bool echo : {false, true}) {
        SCOPED_TRACE(echo ? "adapter echo" : "no echo");
        const fs::path toolTrace = directory / "tool.trace";
        const fs::path simTrace = directory / "sim.trace";
        kvq::serial::LineTap tap;
        TraceFileSink file;
        TraceWriter writer(tap, false, SimCommandNamer());
        // The simulator records into the tap: it ends first, also when an
        // assertion ends the test early.
        struct SimulatorEnds {
            std::unique_ptr<SimulatedActuator>& sim;
            ~SimulatorEnds() { sim.reset(); }
        } simulatorEnds{sim};
        std::string error;
        ASSERT_TRUE(file.Open(simTrace.string(), TraceTitle("vlx400-sim"), error)) << error;
        writer.AddSink(file);
        writer.Start();
        SimOptions options;
        options.adapterEcho = echo;
        StartSimulator("AP1721-65-18", options, &tap, Line::PseudoTerminal);
        auto run =
            Run({"--port", sim->DevicePath(), "--trace", toolTrace.string(), "set-tilt", "3.5"});
        ASSERT_EQ(run->Wait(milliseconds(40000)), 0) << run->Out() << run->Err();
        sim->Stop();
        writer.Stop();

        std::string toolText;
        std::string simText;
        const auto tool = TraceFrames(toolTrace, &toolText);
        const auto actuator = TraceFrames(simTrace, &simText);
        const auto sent = Octets(tool, [](const ParsedTraceLine& f) { return f.sent; });
        const auto read = Octets(tool, [](const ParsedTraceLine& f) { return !f.sent && !f.echo; });
        const auto echoes =
            Octets(tool, [](const ParsedTraceLine& f) { return !f.sent && f.echo; });
        const auto received = Octets(actuator, [](const ParsedTraceLine& f) { return !f.sent; });
        const auto answered = Octets(actuator, [](const ParsedTraceLine& f) { return f.sent; });

        ASSERT_GT(sent.size(), 20u) << toolText;
        EXPECT_EQ(sent, received) << toolText << simText;
        // The actuator may have answered the last poll after the tool let go.
        ASSERT_GE(answered.size(), read.size()) << toolText << simText;
        EXPECT_LE(answered.size(), read.size() + 1) << toolText << simText;
        EXPECT_EQ(read, decltype(answered)(answered.begin(), answered.begin() + long(read.size())))
            << toolText << simText;
        if (echo) {
            // Every frame sent came back first, save perhaps the last one.
            ASSERT_GE(echoes.size() + 1, sent.size()) << toolText;
            EXPECT_EQ(echoes, decltype(sent)(sent.begin(), sent.begin() + long(echoes.size())));
        } else {
            EXPECT_TRUE(echoes.empty()) << toolText;
        }
        for (const auto* frames : {&tool, &actuator}) {
            for (std::size_t i = 1; i < frames->size(); ++i)
                EXPECT_LE((*frames)[i - 1].ms, (*frames)[i].ms) << "out of time order at " << i;
            for (const auto& frame : *frames) {
                EXPECT_EQ(frame.baudRate, 115200u);
                EXPECT_EQ(frame.meaning.find("bad"), std::string::npos) << frame.meaning;
            }
        }
        // Both ends name the move alike, and the tool says what it opened.
        const std::string move = "SetTiltRequest tilt 3.5 params 00 01 00 23";
        EXPECT_NE(toolText.find(" TX 115200 "), std::string::npos);
        EXPECT_NE(toolText.find(move), std::string::npos) << toolText;
        EXPECT_NE(simText.find(move), std::string::npos) << simText;
        EXPECT_NE(toolText.find(" OPEN 115200 " + sim->DevicePath() + " | low latency: "),
                  std::string::npos)
            << toolText;
        sim.reset();
    }
}

// A trace file named relative to where kvqctl was started is written there,
// not into the demo's own directory, which goes when the run ends.
TEST_F(KvqctlPort, ARelativeTraceFileOutlivesTheDemo) {
    auto run = Run({"--demo", "--trace", "line.trace", "status"});
    ASSERT_EQ(run->Wait(milliseconds(30000)), 0) << run->Out() << run->Err();
    std::ifstream in(directory / "line.trace");
    ASSERT_TRUE(in) << run->Err();
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(" TX 115200 "), std::string::npos) << text;
}

// A line that outlives the run (as a test's does) is left without the run's
// trace tap, which goes with the run: the next run on it must not record
// into it.
TEST_F(KvqctlPort, ATracedRunTakesItsTapBackFromTheLine) {
    StartSimulator("AP1721-65-18");
    auto run = Run({"--port", sim->DevicePath(), "--trace", "line.trace", "status"});
    ASSERT_EQ(run->Wait(milliseconds(30000)), 0) << run->Out() << run->Err();
    EXPECT_TRUE(Says(TraceText(directory / "line.trace"), " TX 115200 "));
    EXPECT_EQ(memoryLine->ToolEnd().Tap(), nullptr);
}
