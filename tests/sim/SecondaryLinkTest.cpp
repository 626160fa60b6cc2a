#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "hdlc/FrameCodec.h"
#include "sim/SecondaryLink.h"

using namespace kvq::core;
using namespace kvq::hdlc;
using namespace kvq::sim;
namespace hdlc = kvq::hdlc;

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint8_t Station = 0x14;

std::string Hex(const std::optional<Bytes>& bytes) {
    if (!bytes) return "(nothing)";
    std::string text;
    for (auto octet : *bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X ", octet);
        text += digits;
    }
    return text;
}

Bytes Cat(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// An Ericsson-mode I-frame as the primary builds it: header C0 00 length.
Bytes EricssonI(std::uint8_t ns, std::uint8_t nr, const Bytes& payload,
                std::uint8_t address = Station) {
    return Cat(
        {address, hdlc::IControl(ns, nr), 0xC0, 0x00, static_cast<std::uint8_t>(payload.size())},
        payload);
}
Bytes RawI(std::uint8_t ns, std::uint8_t nr, const Bytes& info, std::uint8_t address = Station) {
    return Cat({address, hdlc::IControl(ns, nr)}, info);
}
Bytes Rr(std::uint8_t nr, std::uint8_t address = Station) {
    return {address, hdlc::RrControl(nr)};
}

const Bytes Snrm{Station, 0x93};
const Bytes Ua{Station, 0x73};
const Bytes Dm{Station, 0x1F};
const Bytes Disc{Station, 0x53};
const Bytes AssignmentInfo{0x81, 0xF0, 0x03, 0x02, 0x01, 0x14};
const Bytes AssignXid = Cat({0xFF, 0xBF}, AssignmentInfo);
const Bytes XidAnswer = Cat({Station, 0xBF}, AssignmentInfo);
const Bytes Command{0x12, 0x34, 0x56, 0x78, 0x01, 0x02, 0x0C, 0x09};  // an 8-octet payload

// Records what reaches it and answers as told: by default with the command
// itself, so the answers in the scripts below show what was delivered.
class ScriptedApplication : public SimApplication {
public:
    std::optional<Bytes> OnInformation(SimMode mode, std::span<const std::uint8_t> info,
                                       SimLinkControl& link) override {
        delivered.emplace_back(info.begin(), info.end());
        modes.push_back(mode);
        if (restartInto) link.Restart(*restartInto, restartSilence);
        if (answer) return *answer;
        if (!echo) return std::nullopt;
        return Bytes(info.begin(), info.end());
    }
    std::optional<Bytes> TakeWaitingReply(SimMode, SimLinkControl&) override {
        if (waiting.empty()) return std::nullopt;
        Bytes next = waiting.front();
        waiting.pop_front();
        return next;
    }

    bool echo = true;
    std::optional<Bytes> answer;
    std::deque<Bytes> waiting;
    std::optional<SimMode> restartInto;
    std::chrono::milliseconds restartSilence{0};
    std::vector<Bytes> delivered;
    std::vector<SimMode> modes;
};

class SecondaryLinkTest : public ::testing::Test {
protected:
    SecondaryLink& Make(SimMode mode) {
        link_.emplace(app, mode, [this] { return now; });
        return *link_;
    }
    std::optional<Bytes> Send(const Bytes& body) { return link_->HandleFrame(body); }

    SecondaryLink::Clock::time_point now = SecondaryLink::Clock::time_point{} + 1h;
    ScriptedApplication app;

private:
    std::optional<SecondaryLink> link_;
};

struct Step {
    Bytes in;
    std::optional<Bytes> out;  // nothing: the station keeps silent
};
struct Script {
    const char* what;
    SimMode mode;
    std::vector<Step> steps;
};

}  // namespace

TEST_F(SecondaryLinkTest, AnswersEachFrameAsTheScriptSays) {
    const Script scripts[] = {
        {"SNRM is answered with UA", SimMode::Ericsson, {{Snrm, Ua}}},
        {"every other poll before SNRM gets DM",
         SimMode::Ericsson,
         {{Rr(0), Dm},
          {EricssonI(0, 0, Command), Dm},
          {{Station, 0xBF}, Dm},
          {Disc, Dm},
          {Snrm, Ua},
          {Rr(0), Rr(0)}}},
        {"RR gets RR with the N(R) expected next",
         SimMode::Ericsson,
         {{Snrm, Ua},
          {Rr(0), Rr(0)},
          {EricssonI(0, 0, Command), Cat({Station, hdlc::IControl(0, 1), 0xC0, 0x00, 8}, Command)},
          {Rr(1), Rr(1)}}},
        {"I-frames in sequence are answered with I-frames",
         SimMode::Ericsson,
         {{Snrm, Ua},
          {EricssonI(0, 0, Command), Cat({Station, hdlc::IControl(0, 1), 0xC0, 0x00, 8}, Command)},
          {EricssonI(1, 1, {0x7E, 0x7D}),
           {{Station, hdlc::IControl(1, 2), 0xC0, 0x00, 2, 0x7E, 0x7D}}}}},
        {"an I-frame out of sequence is discarded and N(R) repeated",
         SimMode::Ericsson,
         {{Snrm, Ua},
          {EricssonI(1, 0, Command), Rr(0)},
          {EricssonI(7, 0, Command), Rr(0)},
          {EricssonI(0, 0, {0x01}), {{Station, hdlc::IControl(0, 1), 0xC0, 0x00, 1, 0x01}}},
          {EricssonI(0, 1, Command), Rr(1)}}},
        {"SNRM while connected starts the sequence again",
         SimMode::Ericsson,
         {{Snrm, Ua},
          {EricssonI(0, 0, {0x01}), {{Station, hdlc::IControl(0, 1), 0xC0, 0x00, 1, 0x01}}},
          {Snrm, Ua},
          {Rr(0), Rr(0)},
          {EricssonI(0, 0, {0x02}), {{Station, hdlc::IControl(0, 1), 0xC0, 0x00, 1, 0x02}}}}},
        {"an Ericsson header that does not fit is acknowledged, not delivered",
         SimMode::Ericsson,
         {{Snrm, Ua},
          {RawI(0, 0, {}), Rr(1)},
          {RawI(1, 0, {0xC0, 0x00}), Rr(2)},
          {RawI(2, 0, {0xC0, 0x00, 0x05, 0x01}), Rr(3)},
          {RawI(3, 0, {0x7E, 0x00, 0x01, 0x01}), Rr(4)},
          {RawI(4, 0, {0xC1, 0x00, 0x01, 0x09}),
           {{Station, hdlc::IControl(0, 5), 0xC0, 0x00, 1, 0x09}}}}},
        {"frames for other addresses, or without the poll bit, get nothing",
         SimMode::Ericsson,
         {{{0x15, 0x93}, std::nullopt},
          {{0x00, 0x93}, std::nullopt},
          {{0xFF, 0x93}, std::nullopt},
          {AssignXid, std::nullopt},
          {{Station, 0x83}, std::nullopt},
          {Rr(0), Dm},
          {Snrm, Ua},
          {Rr(0, 0x15), std::nullopt},
          {{Station, 0x01}, std::nullopt},
          {{Station, static_cast<std::uint8_t>(hdlc::IControl(0, 0) & ~hdlc::PollFinalBit)},
           std::nullopt},
          {Rr(0), Rr(0)}}},
        {"an answer the primary's N(R) shows lost is sent again on the next RR",
         SimMode::Ericsson,
         {{Snrm, Ua},
          {EricssonI(0, 0, Command), Cat({Station, hdlc::IControl(0, 1), 0xC0, 0x00, 8}, Command)},
          {Rr(0), Cat({Station, hdlc::IControl(0, 1), 0xC0, 0x00, 8}, Command)},
          {Rr(0), Cat({Station, hdlc::IControl(0, 1), 0xC0, 0x00, 8}, Command)},
          {Rr(1), Rr(1)},
          {Rr(1), Rr(1)}}},
        {"a command while an answer is lost gets the old answer first, its own next",
         SimMode::Ericsson,
         {{Snrm, Ua},
          {EricssonI(0, 0, Command), Cat({Station, hdlc::IControl(0, 1), 0xC0, 0x00, 8}, Command)},
          {EricssonI(1, 0, {0x01}), Cat({Station, hdlc::IControl(0, 2), 0xC0, 0x00, 8}, Command)},
          {Rr(1), {{Station, hdlc::IControl(1, 2), 0xC0, 0x00, 1, 0x01}}},
          {Rr(2), Rr(2)}}},
        {"an N(R) that names nothing sent settles the answer instead of repeating it",
         SimMode::Ericsson,
         {{Snrm, Ua},
          {EricssonI(0, 0, Command), Cat({Station, hdlc::IControl(0, 1), 0xC0, 0x00, 8}, Command)},
          {Rr(5), Rr(1)},
          {Rr(0), Rr(1)}}},
        {"DISC ends the connection", SimMode::Ericsson, {{Snrm, Ua}, {Disc, Ua}, {Rr(0), Dm}}},
        {"RNR and REJ are acknowledged with RR",
         SimMode::Ericsson,
         {{Snrm, Ua}, {{Station, 0x15}, Rr(0)}, {{Station, 0x19}, Rr(0)}}},
        {"an AISG station answers only the assignment XID until it has an address",
         SimMode::Aisg,
         {{Snrm, std::nullopt},
          {Rr(0), std::nullopt},
          {{0xFF, 0x93}, std::nullopt},
          {{0xFF, 0xAF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0x14}, std::nullopt},
          {AssignXid, XidAnswer},
          {Rr(0), Dm},
          {Snrm, Ua},
          {RawI(0, 0, {0x90, 0x03, 0x00, 0x54, 0x51, 0x44}),
           {{Station, hdlc::IControl(0, 1), 0x90, 0x03, 0x00, 0x54, 0x51, 0x44}}},
          {Rr(1), Rr(1)}}},
        {"assignment XIDs that do not fit are ignored",
         SimMode::Aisg,
         {{{0xFF, 0xBF}, std::nullopt},
          {{0xFF, 0xBF, 0x80, 0xF0, 0x03, 0x02, 0x01, 0x14}, std::nullopt},
          {{0xFF, 0xBF, 0x81, 0xF0, 0x04, 0x02, 0x01, 0x14}, std::nullopt},
          {{0xFF, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x02, 0x14}, std::nullopt},
          {{0xFF, 0xBF, 0x81, 0xF0, 0x02, 0x02, 0x01}, std::nullopt},
          {{0xFF, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0xFF}, std::nullopt},
          {{0xFF, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0x00}, std::nullopt},
          {{0xFF, 0xBF, 0x81, 0xF0, 0x03, 0x05, 0x01, 0x14}, std::nullopt},
          {Rr(0), std::nullopt},
          // Other parameters around the address are passed over.
          {{0xFF, 0xBF, 0x81, 0xF0, 0x07, 0x01, 0x02, 0xAA, 0xBB, 0x02, 0x01, 0x14},
           {{Station, 0xBF, 0x81, 0xF0, 0x07, 0x01, 0x02, 0xAA, 0xBB, 0x02, 0x01, 0x14}}}}},
        {"a second assignment is answered and keeps the connection",
         SimMode::Aisg,
         {{AssignXid, XidAnswer}, {Snrm, Ua}, {AssignXid, XidAnswer}, {Rr(0), Rr(0)}}},
        {"an assignment to another address moves the station there, disconnected",
         SimMode::Aisg,
         {{AssignXid, XidAnswer},
          {Snrm, Ua},
          {{0xFF, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0x15},
           {{0x15, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0x15}}},
          {Rr(0), std::nullopt},
          {Rr(0, 0x15), {{0x15, 0x1F}}}}},
    };
    for (const auto& script : scripts) {
        SCOPED_TRACE(script.what);
        Make(script.mode);
        for (std::size_t i = 0; i < script.steps.size(); ++i) {
            const auto& step = script.steps[i];
            EXPECT_EQ(Hex(Send(step.in)), Hex(step.out)) << "step " << i << ": " << Hex(step.in);
        }
    }
}

TEST_F(SecondaryLinkTest, SequenceNumbersWrapAtEight) {
    auto& link = Make(SimMode::Ericsson);
    ASSERT_EQ(Send(Snrm), Ua);
    for (unsigned i = 0; i < 19; ++i) {
        const auto ns = static_cast<std::uint8_t>(i % 8);
        const auto answer = Send(EricssonI(ns, ns, Command));
        ASSERT_TRUE(answer && answer->size() >= 2) << "frame " << i;
        EXPECT_TRUE(hdlc::IsIFrame((*answer)[1])) << "frame " << i;
        EXPECT_EQ(hdlc::NsOf((*answer)[1]), i % 8) << "frame " << i;
        EXPECT_EQ(hdlc::NrOf((*answer)[1]), (i + 1) % 8) << "frame " << i;
        EXPECT_EQ(link.ReceiveSequence(), (i + 1) % 8);
        EXPECT_EQ(link.SendSequence(), (i + 1) % 8);
    }
    EXPECT_EQ(app.delivered.size(), 19u);
}

TEST_F(SecondaryLinkTest, ApplicationSeesPayloadInEricssonModeAndRawFieldInAisgMode) {
    Make(SimMode::Ericsson);
    Send(Snrm);
    Send(EricssonI(1, 0, {0xEE}));  // out of sequence: never delivered
    Send(RawI(0, 0, {0x7E}));       // bad header: never delivered
    Send(EricssonI(1, 0, Command));

    Make(SimMode::Aisg);
    Send(AssignXid);
    Send(Snrm);
    Send(RawI(0, 0, {0x32, 0x01, 0x00, 0x07}));

    EXPECT_EQ(app.delivered, (std::vector<Bytes>{Command, {0x32, 0x01, 0x00, 0x07}}));
    EXPECT_EQ(app.modes, (std::vector<SimMode>{SimMode::Ericsson, SimMode::Aisg}));
}

TEST_F(SecondaryLinkTest, AnswerWithoutInformationIsRrAndKeepsTheSendSequence) {
    auto& link = Make(SimMode::Ericsson);
    Send(Snrm);
    app.echo = false;
    EXPECT_EQ(Send(EricssonI(0, 0, Command)), Rr(1));
    EXPECT_EQ(link.SendSequence(), 0);
    app.echo = true;
    EXPECT_EQ(Hex(Send(EricssonI(1, 0, Command))),
              Hex(Cat({Station, hdlc::IControl(0, 2), 0xC0, 0x00, 8}, Command)));
}

TEST_F(SecondaryLinkTest, WaitingReplyGoesOutOnTheNextRr) {
    auto& link = Make(SimMode::Ericsson);
    app.waiting = {Command};
    EXPECT_EQ(Send(Rr(0)), Dm) << "nothing is taken while not connected";
    Send(Snrm);
    EXPECT_EQ(Hex(Send(Rr(0))), Hex(Cat({Station, hdlc::IControl(0, 0), 0xC0, 0x00, 8}, Command)));
    EXPECT_EQ(link.SendSequence(), 1);
    EXPECT_EQ(Send(Rr(1)), Rr(0));
}

TEST_F(SecondaryLinkTest, AnswerLengthLimits) {
    auto& link = Make(SimMode::Ericsson);
    Send(Snrm);
    // Short answers go out as they are: the primary's own check decides.
    app.answer = Bytes{0x01, 0x02};
    EXPECT_EQ(Hex(Send(EricssonI(0, 0, Command))),
              Hex(Bytes{Station, hdlc::IControl(0, 1), 0xC0, 0x00, 0x02, 0x01, 0x02}));
    // The longest that fits, and one more: that one is acknowledged with RR.
    app.answer = Bytes(SecondaryLink::MaxBody - 5, 0x7E);
    const auto longest = Send(EricssonI(1, 1, Command));
    ASSERT_TRUE(longest);
    EXPECT_EQ(longest->size(), SecondaryLink::MaxBody);
    app.answer = Bytes(SecondaryLink::MaxBody - 4, 0x7E);
    EXPECT_EQ(Send(EricssonI(2, 2, Command)), Rr(3));
    EXPECT_EQ(link.OversizeReplies(), 1u);
    EXPECT_EQ(link.SendSequence(), 2);
}

TEST_F(SecondaryLinkTest, RestartIsSilentThenComesBackInTheNewMode) {
    auto& link = Make(SimMode::Ericsson);
    Send(Snrm);
    Send(EricssonI(0, 0, Command));
    link.Restart(SimMode::Aisg, 3000ms);
    EXPECT_TRUE(link.Silent());
    EXPECT_EQ(link.Mode(), SimMode::Aisg);
    EXPECT_FALSE(link.Connected());
    EXPECT_FALSE(link.Address());
    EXPECT_EQ(link.SendSequence(), 0);
    EXPECT_EQ(link.ReceiveSequence(), 0);

    now += 2999ms;
    EXPECT_EQ(Send(AssignXid), std::nullopt);
    EXPECT_FALSE(link.Address()) << "nothing is taken while silent";
    now += 1ms;
    EXPECT_FALSE(link.Silent());
    EXPECT_EQ(Send(Snrm), std::nullopt) << "no address yet";
    EXPECT_EQ(Send(AssignXid), XidAnswer);
    EXPECT_EQ(Send(Snrm), Ua);

    link.Restart(SimMode::Ericsson, 0ms);
    EXPECT_EQ(link.Address(), Station);
    EXPECT_EQ(Send(Rr(0)), Dm);
    EXPECT_EQ(Send(AssignXid), std::nullopt);
}

TEST_F(SecondaryLinkTest, GoSilentForComesBackDisconnectedInTheSameMode) {
    for (const SimMode mode : {SimMode::Ericsson, SimMode::Aisg}) {
        SCOPED_TRACE(ModeName(mode));
        auto& link = Make(mode);
        if (mode == SimMode::Aisg) Send(AssignXid);
        ASSERT_EQ(Send(Snrm), Ua);
        link.GoSilentFor(100ms);
        EXPECT_EQ(Send(Rr(0)), std::nullopt);
        EXPECT_EQ(Send(Snrm), std::nullopt);
        now += 100ms;
        EXPECT_EQ(link.Mode(), mode);
        EXPECT_EQ(link.Address(), Station) << "an AISG address outlives a silence";
        EXPECT_EQ(Send(Rr(0)), Dm);
        EXPECT_EQ(Send(Snrm), Ua);
    }
}

TEST_F(SecondaryLinkTest, CommandThatRestartsIsStillAnswered) {
    auto& link = Make(SimMode::Ericsson);
    Send(Snrm);
    Send(EricssonI(0, 0, Command));
    app.restartInto = SimMode::Aisg;
    app.restartSilence = 3000ms;
    EXPECT_EQ(Hex(Send(EricssonI(1, 1, Command))),
              Hex(Cat({Station, hdlc::IControl(1, 2), 0xC0, 0x00, 8}, Command)));
    EXPECT_EQ(link.Mode(), SimMode::Aisg);
    EXPECT_EQ(link.SendSequence(), 0) << "the restart's zero stands";
    EXPECT_EQ(Send(Rr(2)), std::nullopt);

    // Restarting without an answer: the station went down on the command and
    // acknowledges nothing, not even with RR.
    now += 3000ms;
    link.SetMode(SimMode::Ericsson);
    Send(Snrm);
    app.restartInto = SimMode::Ericsson;
    app.echo = false;
    EXPECT_EQ(Send(EricssonI(0, 0, Command)), std::nullopt);
    EXPECT_TRUE(link.Silent());
}

TEST_F(SecondaryLinkTest, SetModeSwitchesAtOnce) {
    auto& link = Make(SimMode::Ericsson);
    Send(Snrm);
    link.SetMode(SimMode::Aisg);
    EXPECT_FALSE(link.Silent());
    EXPECT_FALSE(link.Connected());
    EXPECT_EQ(Send(AssignXid), XidAnswer);
}

TEST_F(SecondaryLinkTest, MisnumberedAnswersAreWrongOnTheWireOnly) {
    const Bytes answer0 = Cat({Station, hdlc::IControl(0, 1), 0xC0, 0x00, 8}, Command);
    struct Case {
        const char* what;
        SequenceFault fault;
        std::uint32_t count;
        std::vector<Step> steps;
    } cases[] = {
        {"N(S) one ahead, then the repeat is right",
         SequenceFault::SendSequence,
         1,
         {{Rr(0), Rr(0)},  // nothing to number wrong in an RR
          {EricssonI(0, 0, Command), Cat({Station, hdlc::IControl(1, 1), 0xC0, 0x00, 8}, Command)},
          {Rr(0), answer0},
          {Rr(1), Rr(1)}}},
        {"N(S) wrong twice: the first repeat is wrong as well",
         SequenceFault::SendSequence,
         2,
         {{EricssonI(0, 0, Command), Cat({Station, hdlc::IControl(1, 1), 0xC0, 0x00, 8}, Command)},
          {Rr(0), Cat({Station, hdlc::IControl(1, 1), 0xC0, 0x00, 8}, Command)},
          {Rr(0), answer0}}},
        {"N(R) acknowledging one frame more than arrived",
         SequenceFault::ReceiveSequence,
         2,
         {{Rr(0), Rr(1)},
          {EricssonI(0, 0, Command), Cat({Station, hdlc::IControl(0, 2), 0xC0, 0x00, 8}, Command)},
          {Rr(1), Rr(1)}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto& link = Make(SimMode::Ericsson);
        ASSERT_EQ(Send(Snrm), Ua);
        link.MisnumberAnswers(c.fault, c.count);
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            EXPECT_EQ(Hex(Send(c.steps[i].in)), Hex(c.steps[i].out)) << "step " << i;
        }
        EXPECT_EQ(link.MisnumberedAnswers(), c.count);
        EXPECT_EQ(link.SendSequence(), 1) << "the station's own count stays right";
        EXPECT_EQ(link.ReceiveSequence(), 1);
    }
}
