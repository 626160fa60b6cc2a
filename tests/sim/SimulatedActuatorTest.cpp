#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <numeric>
#include <optional>

#include "support/PseudoTerminal.h"
#include "SimTestSupport.h"
#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"

using namespace kvq::core;
using namespace kvq::hdlc;
using namespace kvq::sim;
using namespace kvq::testing;
namespace hdlc = kvq::hdlc;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

const Bytes SnrmLine{0x7E, 0x14, 0x93, 0xA4, 0x5B, 0x7E};
const Bytes UaLine{0x7E, 0x14, 0x73, 0xAA, 0xBC, 0x7E};
const Bytes XidLine{0x7E, 0xFF, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0x14, 0xDE, 0x79, 0x7E};
const Bytes XidAnswerBody{0x14, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0x14};
const Bytes RrBody{0x14, 0x11};

SimOptions Unpaced(SimMode mode = SimMode::Ericsson) {
    SimOptions options;
    options.mode = mode;
    options.pace = false;
    options.seed = 1;
    return options;
}

// A running simulator and the tool's end of its line. The link's own tests
// run it with the echo application, so every answer shows what arrived.
class SimOnPty : public ::testing::Test {
protected:
    void Launch(const SimOptions& options, speed_t speed = B115200,
                std::shared_ptr<SimApplication> application = std::make_shared<EchoApplication>()) {
        sim_.emplace(options, std::move(application));
        ASSERT_TRUE(sim_->Start()) << sim_->Error();
        port_.emplace(sim_->DevicePath(), speed);
    }
    SimulatedActuator& Sim() { return *sim_; }
    ToolPort& Port() { return *port_; }

    // Waits until the simulator has taken `count` more frames in some way.
    bool SawFrames(std::uint64_t before, std::uint64_t count = 1) {
        return WaitUntil([&] {
            const auto c = sim_->Counters();
            return c.framesReceived + c.framesAtWrongSpeed >= before + count;
        });
    }
    std::uint64_t FramesSoFar() {
        const auto c = sim_->Counters();
        return c.framesReceived + c.framesAtWrongSpeed;
    }

private:
    std::optional<SimulatedActuator> sim_;
    std::optional<ToolPort> port_;
};

}  // namespace

TEST_F(SimOnPty, AnswersSnrmWithTheExactUaBytes) {
    Launch(Unpaced());
    Port().Write(SnrmLine);
    EXPECT_EQ(Port().Read(UaLine.size(), 1000ms), UaLine);
    EXPECT_TRUE(Sim().LinkState().connected);

    const auto log = Sim().TakeReceivedLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].body, (Bytes{0x14, 0x93}));
    EXPECT_EQ(log[0].baudRate, 115200u);
    EXPECT_TRUE(log[0].heard);
    EXPECT_TRUE(Sim().TakeReceivedLog().empty());
    // Counted once written, which may be just after the test has read it.
    EXPECT_TRUE(WaitUntil([&] { return Sim().Counters().framesAnswered == 1; }));
    EXPECT_EQ(Sim().Counters().framesReceived, 1u);
}

TEST_F(SimOnPty, AnswersOnlyAtTheSpeedOfItsMode) {
    const struct {
        const char* what;
        SimMode mode;
        speed_t speed;
        std::uint32_t rate;
        Bytes line;
        std::optional<Bytes> answer;
    } cases[] = {
        {"SNRM at 115200 in Ericsson mode", SimMode::Ericsson, B115200, 115200, SnrmLine, UaLine},
        {"SNRM at 9600 in Ericsson mode", SimMode::Ericsson, B9600, 9600, SnrmLine, std::nullopt},
        {"XID at 9600 in AISG mode", SimMode::Aisg, B9600, 9600, XidLine, Encode(XidAnswerBody)},
        {"XID at 115200 in AISG mode", SimMode::Aisg, B115200, 115200, XidLine, std::nullopt},
        {"SNRM at 19200 in AISG mode", SimMode::Aisg, B19200, 19200, SnrmLine, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Launch(Unpaced(c.mode), c.speed);
        Port().Write(c.line);
        if (c.answer) {
            EXPECT_EQ(Port().Read(c.answer->size(), 1000ms), *c.answer);
        } else {
            ASSERT_TRUE(SawFrames(0));
            EXPECT_TRUE(Port().ReadFor(50ms).empty());
            EXPECT_EQ(Sim().Counters().framesAtWrongSpeed, 1u);
            EXPECT_FALSE(Sim().LinkState().connected);
            EXPECT_FALSE(Sim().LinkState().mode == SimMode::Aisg && Sim().LinkState().address);
        }
        const auto log = Sim().TakeReceivedLog();
        ASSERT_EQ(log.size(), 1u);
        EXPECT_EQ(log[0].baudRate, c.rate);
        EXPECT_EQ(log[0].heard, c.answer.has_value());
    }
}

// The adapter hears itself whatever the station makes of the frame: the copy
// comes back first, whole, and the answer (if any) after it.
TEST_F(SimOnPty, AnAdapterEchoSendsEveryOctetBackBeforeTheAnswer) {
    const struct {
        const char* what;
        bool pace;
        speed_t speed;
        bool silent;
        Bytes expected;
    } cases[] = {
        {"answered, unpaced", false, B115200, false, Joined(SnrmLine, UaLine)},
        {"answered, paced", true, B115200, false, Joined(SnrmLine, UaLine)},
        {"at a speed the station does not hear", false, B9600, false, SnrmLine},
        {"a silent station", false, B115200, true, SnrmLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto options = Unpaced();
        options.pace = c.pace;
        options.silent = c.silent;
        options.adapterEcho = true;
        Launch(options, c.speed);
        Port().Write(SnrmLine);
        EXPECT_EQ(Port().Read(c.expected.size(), 1000ms), c.expected);
        EXPECT_TRUE(Port().ReadFor(50ms).empty());
        EXPECT_EQ(Sim().Counters().octetsEchoed, SnrmLine.size());
    }
}

TEST_F(SimOnPty, SilentAnswersNothingUntilSwitchedBack) {
    auto options = Unpaced();
    options.silent = true;
    Launch(options);
    Port().Write(SnrmLine);
    ASSERT_TRUE(SawFrames(0));
    EXPECT_TRUE(Port().ReadFor(50ms).empty());
    EXPECT_EQ(Sim().Counters().framesIgnoredSilent, 1u);
    EXPECT_FALSE(Sim().LinkState().connected) << "a silent station takes nothing in";

    Sim().SetSilent(false);
    Port().Write(SnrmLine);
    EXPECT_EQ(Port().Read(UaLine.size(), 1000ms), UaLine);
}

TEST_F(SimOnPty, DropShareOneAnswersNothing) {
    auto options = Unpaced();
    options.dropShare = 1.0;
    Launch(options);
    for (int i = 0; i < 5; ++i)
        Port().Write(SnrmLine);
    ASSERT_TRUE(SawFrames(0, 5));
    EXPECT_TRUE(Port().ReadFor(50ms).empty());
    EXPECT_EQ(Sim().Counters().framesDropped, 5u);
    EXPECT_FALSE(Sim().LinkState().connected);
}

TEST_F(SimOnPty, CorruptShareOneSendsOnlyFramesThatFailTheCheck) {
    auto options = Unpaced();
    options.corruptShare = 1.0;
    Launch(options);
    // Answers of several shapes: UA, RR, and I-frames whose octets need escapes.
    // Each poll acknowledges the answer before it, as though it had arrived, so
    // the station sends something new every time instead of repeating.
    const struct {
        Bytes command;
        Bytes cleanAnswer;
    } exchanges[] = {
        {{0x14, 0x93}, {0x14, 0x73}},
        {{0x14, 0x11}, {0x14, 0x11}},
        {{0x14, 0x10, 0xC0, 0x00, 0x04, 0x7E, 0x7D, 0x7E, 0x7D},
         {0x14, hdlc::IControl(0, 1), 0xC0, 0x00, 0x04, 0x7E, 0x7D, 0x7E, 0x7D}},
        {{0x14, hdlc::IControl(1, 1), 0xC0, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8},
         {0x14, hdlc::IControl(1, 2), 0xC0, 0x00, 0x08, 1, 2, 3, 4, 5, 6, 7, 8}},
        {{0x14, hdlc::RrControl(2)}, {0x14, hdlc::RrControl(2)}},
    };
    for (const auto& exchange : exchanges) {
        Port().Send(exchange.command);
        const Bytes line = Port().ReadFrameLine(1000ms);
        // The framing holds and exactly one octet differs, so only the FCS fails.
        const Bytes clean = Encode(exchange.cleanAnswer);
        ASSERT_EQ(line.size(), clean.size());
        EXPECT_EQ(std::inner_product(line.begin(), line.end(), clean.begin(), 0, std::plus<>(),
                                     std::not_equal_to<>()),
                  1);
        EXPECT_TRUE(GoodFrames(line).empty());
    }
    EXPECT_TRUE(Port().ReadFor(20ms).empty());
    EXPECT_EQ(Sim().Counters().framesCorrupted, 5u);
    EXPECT_EQ(Sim().LinkState().sendSequence, 2) << "the station still took every frame";
}

TEST_F(SimOnPty, ExactFaultsHitOnlyTheInformationFramesAsked) {
    Launch(Unpaced());
    const Bytes command{0x14, hdlc::IControl(0, 0), 0xC0, 0x00, 0x02, 0x0A, 0x0B};
    const Bytes answer{0x14, hdlc::IControl(0, 1), 0xC0, 0x00, 0x02, 0x0A, 0x0B};
    Port().Write(SnrmLine);
    ASSERT_EQ(Port().Read(UaLine.size(), 1000ms), UaLine);

    // Lost on the way in: no answer, and the station's V(R) does not move.
    Sim().DropNextInformationFrames(1);
    const auto before = FramesSoFar();
    Port().Send(command);
    ASSERT_TRUE(SawFrames(before));
    EXPECT_TRUE(Port().ReadFor(50ms).empty());
    Port().Send(RrBody);
    EXPECT_EQ(GoodFrames(Port().ReadFrameLine(1000ms)).size(), 1u) << "RR polls still answered";
    EXPECT_EQ(Sim().LinkState().receiveSequence, 0);
    EXPECT_EQ(Sim().Counters().framesDropped, 1u);

    // Corrupted on the way out, then repeated intact when the poll's N(R)
    // shows it did not arrive.
    Sim().CorruptNextInformationAnswers(1);
    Port().Send(RrBody);
    EXPECT_EQ(Port().ReadFrameLine(1000ms), Encode(RrBody)) << "an RR answer is left alone";
    Port().Send(command);
    EXPECT_TRUE(GoodFrames(Port().ReadFrameLine(1000ms)).empty());
    Port().Send(RrBody);
    EXPECT_EQ(Port().ReadFrameLine(1000ms), Encode(answer));
    Port().Send({0x14, hdlc::RrControl(1)});
    EXPECT_EQ(Port().ReadFrameLine(1000ms), Encode({0x14, hdlc::RrControl(1)}));
    const auto counters = Sim().Counters();
    EXPECT_EQ(counters.framesCorrupted, 1u);
    EXPECT_EQ(counters.answersRepeated, 1u);

    Sim().MisnumberAnswers(SequenceFault::SendSequence, 1);
    Port().Send({0x14, hdlc::IControl(1, 1), 0xC0, 0x00, 0x01, 0x0C});
    EXPECT_EQ(Port().ReadFrameLine(1000ms),
              Encode({0x14, hdlc::IControl(2, 2), 0xC0, 0x00, 0x01, 0x0C}));
    EXPECT_EQ(Sim().Counters().answersMisnumbered, 1u);
}

TEST(SimulatedActuator, VanishesWithItsLineAndComesBackOnANewOneUnderTheSameName) {
    const auto link =
        std::filesystem::temp_directory_path() / ("vlx400-line-" + std::to_string(::getpid()));
    SimOptions options = Unpaced();
    options.linkPath = link.string();
    SimulatedActuator sim(options);
    ASSERT_TRUE(sim.Start()) << sim.Error();
    EXPECT_EQ(std::filesystem::read_symlink(link), sim.DevicePath());
    ToolPort port(link.string(), B115200);
    port.Write(SnrmLine);
    ASSERT_EQ(port.Read(UaLine.size(), 1000ms), UaLine);

    // Gone: the name with it, and the tool's end of the old line hangs up.
    sim.Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    pollfd entry{port.Fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&entry, 1, 1000), 1);
    EXPECT_NE(entry.revents & (POLLHUP | POLLERR), 0) << entry.revents;

    // Back: the same name opens the new line, and the station, still
    // connected as far as it knows, answers a fresh SNRM.
    ASSERT_TRUE(sim.Start()) << sim.Error();
    EXPECT_EQ(std::filesystem::read_symlink(link), sim.DevicePath());
    ToolPort again(link.string(), B115200);
    again.Write(SnrmLine);
    EXPECT_EQ(again.Read(UaLine.size(), 1000ms), UaLine);
    sim.Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
}

TEST_F(SimOnPty, PacingTakesTheWireTimeOfEveryOctet) {
    auto options = Unpaced(SimMode::Aisg);
    options.pace = true;
    Launch(options, B9600);
    const Bytes answer = Encode(XidAnswerBody);
    ASSERT_EQ(answer.size(), 12u);
    const auto start = Clock::now();
    Port().Write(XidLine);
    const Bytes first = Port().Read(1, 1000ms);
    const auto firstAt = Clock::now();
    Bytes all = first;
    const Bytes rest = Port().Read(answer.size() - 1, 1000ms);
    const auto end = Clock::now();
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_EQ(all, answer);
    // 12 octets of 10 bits at 9600 baud: 12.5 ms; the first alone about 1 ms,
    // so the rest come spread out after it, not in one burst. (The first read
    // may be late on a busy machine, which only shortens the spread.)
    EXPECT_GE(end - start, 12ms);
    EXPECT_GE(end - firstAt, 5ms);
}

TEST_F(SimOnPty, ReplyDelayAnswersLateAndStopStaysPrompt) {
    auto options = Unpaced();
    options.replyDelay = 150ms;
    Launch(options);
    const auto start = Clock::now();
    Port().Write(SnrmLine);
    EXPECT_EQ(Port().Read(UaLine.size(), 1000ms), UaLine);
    EXPECT_GE(Clock::now() - start, 150ms);

    // With an answer due far ahead, Stop does not wait for it.
    Sim().SetReplyDelay(5000ms);
    Port().Write(SnrmLine);
    ASSERT_TRUE(SawFrames(1));
    const auto stopStart = Clock::now();
    Sim().Stop();
    EXPECT_LT(Clock::now() - stopStart, 1000ms);
    EXPECT_FALSE(Sim().Running());
}

TEST_F(SimOnPty, HoldsTheLineRawAcrossTheToolsCloseAndReopen) {
    Launch(Unpaced());
    Port().Write(SnrmLine);
    ASSERT_EQ(Port().Read(UaLine.size(), 1000ms), UaLine);
    Port().Close();

    // Opened without setting anything: what the simulator left is what the
    // tool finds (and restores at its close).
    Port().Open(B115200, false);
    const termios settings = Port().Settings();
    EXPECT_EQ(cfgetospeed(&settings), B115200);
    EXPECT_EQ(settings.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(settings.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(settings.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);

    Port().Send(RrBody);
    EXPECT_EQ(Port().Read(6, 1000ms), Encode(RrBody)) << "still connected, answering";
}

TEST_F(SimOnPty, RestartIsSilentThenAnswersAtTheNewModesSpeed) {
    Launch(Unpaced());
    Port().Write(SnrmLine);
    ASSERT_EQ(Port().Read(UaLine.size(), 1000ms), UaLine);

    Sim().Restart(SimMode::Aisg, 200ms);
    auto state = Sim().LinkState();
    EXPECT_EQ(state.mode, SimMode::Aisg);
    EXPECT_TRUE(state.silent);
    EXPECT_FALSE(state.connected);
    EXPECT_FALSE(state.address);

    Port().SetSpeed(B9600);
    auto before = FramesSoFar();
    Port().Write(XidLine);
    ASSERT_TRUE(SawFrames(before));
    EXPECT_TRUE(Port().ReadFor(20ms).empty()) << "silent after the restart";

    ASSERT_TRUE(WaitUntil([&] { return !Sim().LinkState().silent; }));
    Port().SetSpeed(B115200);
    before = FramesSoFar();
    Port().Write(XidLine);
    ASSERT_TRUE(SawFrames(before));
    EXPECT_TRUE(Port().ReadFor(20ms).empty()) << "115200 is the wrong speed now";

    Port().SetSpeed(B9600);
    Port().Write(XidLine);
    EXPECT_EQ(Port().Read(12, 1000ms), Encode(XidAnswerBody));
    EXPECT_EQ(Sim().LinkState().address, 0x14);
}

TEST_F(SimOnPty, ReceivedLogKeepsTheNewestFramesInOrder) {
    auto options = Unpaced();
    options.logLimit = 3;
    Launch(options);
    for (std::uint8_t nr = 0; nr < 5; ++nr)
        Port().Send({0x14, hdlc::RrControl(nr)});
    ASSERT_TRUE(SawFrames(0, 5));
    const auto log = Sim().TakeReceivedLog();
    ASSERT_EQ(log.size(), 3u);
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].body, (Bytes{0x14, hdlc::RrControl(static_cast<std::uint8_t>(i + 2))}));
        if (i > 0) {
            EXPECT_LE(log[i - 1].time, log[i].time);
        }
    }
}

TEST(SimulatedActuator, StartOnDeviceServesAGivenLineAndFollowsTheMode) {
    SimulatedActuator sim(Unpaced());
    EXPECT_FALSE(sim.StartOnDevice("/nonexistent/ttyS9"));
    EXPECT_NE(sim.Error().find("/nonexistent/ttyS9"), std::string::npos) << sim.Error();
    EXPECT_FALSE(sim.Running());

    // The test is the tool on the master; the simulator has the slave.
    PseudoTerminal line;
    ASSERT_TRUE(sim.StartOnDevice(line.SlavePath())) << sim.Error();
    EXPECT_EQ(sim.DevicePath(), line.SlavePath());
    EXPECT_FALSE(sim.Start()) << "one line at a time";
    ASSERT_TRUE(WaitUntil([&] {
        const termios settings = line.SlaveSettings();
        return cfgetospeed(&settings) == B115200;
    }));
    line.Write(SnrmLine);
    EXPECT_EQ(line.Read(UaLine.size(), 1000ms), UaLine);

    sim.Restart(SimMode::Aisg, 0ms);
    EXPECT_TRUE(WaitUntil([&] {
        const termios settings = line.SlaveSettings();
        return cfgetospeed(&settings) == B9600;
    }));
    line.Write(XidLine);
    EXPECT_EQ(line.Read(12, 1000ms), Encode(XidAnswerBody));

    // A line that hangs up neither hangs nor upsets the simulator.
    line.CloseMaster();
    std::this_thread::sleep_for(50ms);
    const auto stopStart = Clock::now();
    sim.Stop();
    EXPECT_LT(Clock::now() - stopStart, 100ms);
}

TEST(SimulatedActuator, StopsPromptlyAndStartsAgain) {
    SimulatedActuator sim(Unpaced());
    ASSERT_TRUE(sim.Start()) << sim.Error();
    const std::string first = sim.DevicePath();
    const auto stopStart = Clock::now();
    sim.Stop();
    EXPECT_LT(Clock::now() - stopStart, 100ms);
    sim.Stop();  // twice is harmless

    ASSERT_TRUE(sim.Start()) << sim.Error();
    ToolPort port(sim.DevicePath(), B115200);
    port.Write(SnrmLine);
    EXPECT_EQ(port.Read(UaLine.size(), 1000ms), UaLine);
}

namespace {

// An Ericsson-mode command payload: magic, code, parameters.
Bytes Request(std::uint32_t code, const Bytes& parameters = {}) {
    Bytes payload{0x12,
                  0x34,
                  0x56,
                  0x78,
                  static_cast<std::uint8_t>(code >> 24),
                  static_cast<std::uint8_t>(code >> 16),
                  static_cast<std::uint8_t>(code >> 8),
                  static_cast<std::uint8_t>(code)};
    payload.insert(payload.end(), parameters.begin(), parameters.end());
    return payload;
}
Bytes VendorRequest(std::uint8_t subCommand, const Bytes& parameters = {}) {
    Bytes all{subCommand};
    all.insert(all.end(), parameters.begin(), parameters.end());
    return Request(vlx::VendorCommand, all);
}
Bytes IFrame(std::uint8_t ns, std::uint8_t nr, const Bytes& payload) {
    Bytes body{0x14, hdlc::IControl(ns, nr), 0xC0, 0x00, static_cast<std::uint8_t>(payload.size())};
    body.insert(body.end(), payload.begin(), payload.end());
    return body;
}

// The E-VLX400 on a pseudo-terminal, as the tool meets it.
class Vlx400OnPty : public SimOnPty {
protected:
    void Launch(const Vlx400Settings& settings, SimOptions options = Unpaced()) {
        app_ = std::make_shared<Vlx400Application>(settings);
        SimOnPty::Launch(options, BaudRateOf(options.mode) == 9600 ? B9600 : B115200, app_);
    }
    Vlx400Application& App() { return *app_; }
    // The body (address to information) of the next frame, or empty.
    Bytes Answer() {
        const auto frames = GoodFrames(Port().ReadFrameLine(1000ms));
        if (frames.size() != 1 || frames[0].size() < 2) return {};
        return Bytes(frames[0].begin(), frames[0].end() - 2);
    }

private:
    std::shared_ptr<Vlx400Application> app_;
};

}  // namespace

TEST_F(Vlx400OnPty, IdentifiesItselfThenRestartsIntoAisgModeWhenAsked) {
    Vlx400Settings settings;
    settings.serialNumber = "XXXT0000042";
    settings.restartSilence = 200ms;
    Launch(settings);
    Port().Write(SnrmLine);
    ASSERT_EQ(Port().Read(UaLine.size(), 1000ms), UaLine);

    Port().Send(IFrame(0, 0, Request(vlx::IdentityRequest)));
    const Bytes identity = Answer();
    ASSERT_EQ(identity.size(), 5u + 51u + 12u);
    EXPECT_EQ(identity[1], hdlc::IControl(0, 1));
    EXPECT_EQ(std::string(identity.begin() + 5 + 51, identity.end() - 1), "XXXT0000042");

    Port().Send(IFrame(1, 1, VendorRequest(vlx::ModeSelect, {0x02})));
    EXPECT_EQ(Answer().size(), 5u + 10u);
    Port().Send(IFrame(2, 2, VendorRequest(vlx::Restart)));
    const Bytes restart = Answer();
    // No reply is awaited: the poll is acknowledged with RR, then silence.
    EXPECT_EQ(restart, (Bytes{0x14, hdlc::RrControl(3)})) << "the restart is acknowledged";
    const auto state = Sim().LinkState();
    EXPECT_EQ(state.mode, SimMode::Aisg);
    EXPECT_TRUE(state.silent);

    ASSERT_TRUE(WaitUntil([&] { return !Sim().LinkState().silent; }));
    Port().SetSpeed(B9600);
    Port().Write(XidLine);
    EXPECT_EQ(Port().Read(12, 1000ms), Encode(XidAnswerBody));

    // A restart from outside, as the device's own: silent, and still AISG.
    Sim().RestartNow(300ms);
    EXPECT_TRUE(Sim().LinkState().silent);
    EXPECT_EQ(Sim().LinkState().mode, SimMode::Aisg);
    EXPECT_FALSE(Sim().LinkState().address);
    EXPECT_EQ(App().State().restarts, 2u);
}

TEST_F(Vlx400OnPty, AMoveIsReportedDoneOnThePollAfterItEnds) {
    Vlx400Settings settings;
    settings.tiltSpeed = 10000;  // 0.5 degrees in 5 ms
    Launch(settings);
    Port().Write(SnrmLine);
    ASSERT_EQ(Port().Read(UaLine.size(), 1000ms), UaLine);

    Port().Send(IFrame(0, 0, Request(vlx::SetTiltRequest, {0x00, 0x01, 0x00, 0x05})));
    EXPECT_EQ(Answer(), (Bytes{0x14, hdlc::RrControl(1)})) << "taken, not yet done";
    ASSERT_TRUE(WaitUntil([&] { return !App().State().moving; }));
    Port().Send(RrBody);
    EXPECT_EQ(Answer(), IFrame(0, 1, Request(vlx::SetTiltDone)));
    Port().Send({0x14, hdlc::RrControl(1)});
    EXPECT_EQ(Answer(), (Bytes{0x14, hdlc::RrControl(1)})) << "reported once";
    EXPECT_EQ(App().State().currentTilt, 5);
}

// A power cut counted down to comes on a quiet line too: the simulator's own
// loop cuts it, with the tilt where it was when the cut was due. One a test
// asks for comes at once.
TEST_F(Vlx400OnPty, ThePowerGoesWhenDueWithNoFrameToNoticeItAndWhenATestCutsIt) {
    Vlx400Settings settings;
    settings.tilt = 30;
    settings.tiltSpeed = 10;
    settings.powerCutAfter = PowerCutTrigger{Vlx400Command::SetTilt, 1, 300ms, 1000ms};
    Launch(settings);
    Port().Write(SnrmLine);
    ASSERT_EQ(Port().Read(UaLine.size(), 1000ms), UaLine);
    Port().Send(IFrame(0, 0, Request(vlx::SetTiltRequest, {0x00, 0x01, 0x00, 0x41})));
    EXPECT_EQ(Answer(), (Bytes{0x14, hdlc::RrControl(1)})) << "taken";

    ASSERT_TRUE(WaitUntil([&] { return App().State().powerCuts == 1; }));
    EXPECT_EQ(App().State().currentTilt, 33) << "0.3 s at 1 degree/s from 3.0";
    EXPECT_FALSE(App().State().moving);
    EXPECT_TRUE(Sim().LinkState().silent);
    EXPECT_FALSE(Sim().LinkState().connected);
    ASSERT_TRUE(WaitUntil([&] { return !Sim().LinkState().silent; }));
    Port().Send(RrBody);
    EXPECT_EQ(Answer(), (Bytes{0x14, hdlc::DmFinal})) << "back, not connected";

    Sim().PowerCutNow(1000ms);
    EXPECT_EQ(App().State().powerCuts, 2u);
    EXPECT_EQ(App().State().restarts, 2u);
    EXPECT_TRUE(Sim().LinkState().silent);
    EXPECT_EQ(Sim().LinkState().mode, SimMode::Ericsson);
}
