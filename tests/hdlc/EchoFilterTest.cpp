// The echo filter in the order the link meets it: frames sent, octets read in
// whatever pieces the line hands them over, fed to the receiver as the link
// feeds them. What matters is which frames the link goes on to handle.

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hdlc/FrameCodec.h"
#include "serial/EchoFilter.h"

using namespace kvq::serial;
namespace hdlc = kvq::hdlc;

namespace {

using Bytes = std::vector<std::uint8_t>;
using Copy = EchoFilter::Copy;

Bytes Line(const Bytes& body) {
    hdlc::FrameBytes frame;
    hdlc::EncodeFrame(body, frame);
    return Bytes(frame.data(), frame.data() + frame.size());
}

Bytes Joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// One octet between the flags changed, as noise on the line would.
Bytes Corrupted(Bytes frame) {
    frame[2] ^= 0x04;
    return frame;
}

const Bytes Snrm = Line({0x14, 0x93});
const Bytes Ua = Line({0x14, 0x73});
const Bytes Rr = Line({0x14, 0x11});  // 7E 14 11 BE FC 7E, poll and answer alike
const Bytes RrNr1 = Line({0x14, 0x31});
const Bytes Command = Line({0x14, 0x10, 0xC0, 0x00, 0x03, 0x01, 0x02, 0x03});
const Bytes ReplyBody = {0x14, 0x30, 0xC1, 0x00, 0x02, 0x7E, 0x7D};
const Bytes Reply = Line(ReplyBody);
// I(7,3) has the control octet 0x7E: it goes on the line escaped.
const Bytes EscapedCommand = Line({0x14, 0x7E, 0xC0, 0x00, 0x00});

struct Step {
    bool send;  // else a read
    Bytes octets;
    Copy copy = Copy::MayBeAnswer;
};
Step Send(const Bytes& frame, Copy copy) {
    return {true, frame, copy};
}
Step Read(const Bytes& octets) {
    return {false, octets};
}

// The reads of `frame` in pieces of the given sizes (the rest in the last).
std::vector<Step> ReadInPieces(const Bytes& frame, std::vector<std::size_t> sizes) {
    std::vector<Step> steps;
    std::size_t at = 0;
    for (std::size_t size : sizes) {
        steps.push_back(Read(Bytes(frame.begin() + long(at), frame.begin() + long(at + size))));
        at += size;
    }
    steps.push_back(Read(Bytes(frame.begin() + long(at), frame.end())));
    return steps;
}

// What comes of an echoing line's first frame: the SNRM read back, then the UA.
std::vector<Step> Learnt() {
    return {Send(Snrm, Copy::ProvesEcho), Read(Snrm), Read(Ua)};
}

std::vector<Step> Then(std::vector<Step> first, const std::vector<Step>& more) {
    first.insert(first.end(), more.begin(), more.end());
    return first;
}

struct Outcome {
    std::vector<Bytes> handled;  // bodies of the good frames the link goes on with
    std::vector<Bytes> dropped;  // frames the observer was told of, as on the line
};

// Plays the steps as the link does: every octet through the filter and the
// receiver; a good frame is handled unless the filter ended an echo with it.
Outcome Play(EchoFilter& filter, const std::vector<Step>& steps) {
    Outcome outcome;
    filter.SetObserver([&](std::span<const std::uint8_t> frame) {
        outcome.dropped.emplace_back(frame.begin(), frame.end());
    });
    hdlc::FrameReceiver receiver;
    Bytes storage(300);
    std::size_t length = 0;
    for (const Step& step : steps) {
        if (step.send) {
            filter.Sent(step.octets, step.copy);
            continue;
        }
        for (std::uint8_t octet : step.octets) {
            const EchoVerdict verdict = filter.Take(octet);
            if (receiver.AcceptByte(octet, storage, length) && verdict != EchoVerdict::EchoEnd)
                outcome.handled.emplace_back(storage.begin(), storage.begin() + long(length) - 2);
        }
    }
    filter.SetObserver(nullptr);  // it points into this call's outcome
    return outcome;
}

}  // namespace

TEST(EchoFilterTest, DropsOnlyTheLeadingCopyOfWhatWasSentAndNeverAnAnswer) {
    const Bytes rrBody = {0x14, 0x11};
    const Bytes uaBody = {0x14, 0x73};
    struct Case {
        const char* what;
        std::vector<Step> steps;
        std::vector<Bytes> handled;
        bool echoing;
        std::vector<Bytes> dropped;
    } cases[] = {
        {"no echo: the RR answer, byte for byte the RR poll, is handled",
         {Send(Rr, Copy::MayBeAnswer), Read(Rr)},
         {rrBody},
         false,
         {}},
        {"no echo: the UA begins as the SNRM did and is handled",
         Then({Send(Snrm, Copy::ProvesEcho)}, ReadInPieces(Ua, {1})),
         {uaBody},
         false,
         {}},
        {"no echo: a command's reply is handled",
         {Send(Command, Copy::ProvesEcho), Read(Reply)},
         {ReplyBody},
         false,
         {}},
        {"the SNRM read back shows the echo; the UA after it is handled",
         {Send(Snrm, Copy::ProvesEcho), Read(Joined(Snrm, Ua))},
         {uaBody},
         true,
         {Snrm}},
        {"once the echo is known, the RR poll's copy goes and its equal answer stays",
         Then(Learnt(), {Send(Rr, Copy::MayBeAnswer), Read(Rr), Read(Rr)}),
         {uaBody, rrBody},
         true,
         {Snrm, Rr}},
        {"the same with copy and answer in one read",
         Then(Learnt(), {Send(Rr, Copy::MayBeAnswer), Read(Joined(Rr, Rr))}),
         {uaBody, rrBody},
         true,
         {Snrm, Rr}},
        {"an echo and its answer split across reads anywhere",
         Then(Then({Send(Command, Copy::ProvesEcho)}, ReadInPieces(Command, {1, 3, 2})),
              ReadInPieces(Reply, {2, 1})),
         {ReplyBody},
         true,
         {Command}},
        {"before anything shows an echo, a copy of an RR poll is kept: it may be the answer",
         {Send(Rr, Copy::MayBeAnswer), Read(Rr), Read(Rr)},
         {rrBody, rrBody},
         false,
         {}},
        {"a corrupted echo fails its own check; the equal answer after it is handled",
         Then(Learnt(), {Send(Rr, Copy::MayBeAnswer), Read(Corrupted(Rr)), Read(Rr)}),
         {uaBody, rrBody},
         true,
         {Snrm}},
        {"a corrupted SNRM echo teaches nothing",
         {Send(Snrm, Copy::ProvesEcho), Read(Corrupted(Snrm)), Read(Ua)},
         {uaBody},
         false,
         {}},
        {"idle flags before the echo",
         Then(Learnt(), {Send(Rr, Copy::MayBeAnswer), Read(Joined({0x7E, 0x7E}, Rr)), Read(Rr)}),
         {uaBody, rrBody},
         true,
         {Snrm, Rr}},
        {"a copy after the answer is no echo",
         Then(Learnt(), {Send(Rr, Copy::MayBeAnswer), Read(RrNr1), Read(Rr)}),
         {uaBody, {0x14, 0x31}, rrBody},
         true,
         {Snrm}},
        {"an escaped octet is matched as it went on the line",
         {Send(EscapedCommand, Copy::ProvesEcho), Read(Joined(EscapedCommand, Reply))},
         {ReplyBody},
         true,
         {EscapedCommand}},
        {"a frame the actuator never sends not read back first: the echo is forgotten",
         Then(Learnt(),
              {Send(Snrm, Copy::ProvesEcho), Read(Ua), Send(Rr, Copy::MayBeAnswer), Read(Rr)}),
         {uaBody, uaBody, rrBody},
         false,
         {Snrm}},
        {"only the last frame sent is looked for",
         Then(Learnt(), {Send(Rr, Copy::MayBeAnswer), Send(RrNr1, Copy::MayBeAnswer), Read(Rr)}),
         {uaBody, rrBody},
         true,
         {Snrm}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EchoFilter filter;
        const Outcome outcome = Play(filter, c.steps);
        EXPECT_EQ(outcome.handled, c.handled);
        EXPECT_EQ(outcome.dropped, c.dropped);
        EXPECT_EQ(filter.Echoing(), c.echoing);
        EXPECT_EQ(filter.DroppedFrames(), c.dropped.size());
    }
}

// The link lets only the reply's own octets extend its reply window, so each
// octet of a known echo must say so, and the answer's octets must not.
TEST(EchoFilterTest, EachOctetOfAKnownEchoSaysSoAndTheAnswerDoesNot) {
    EchoFilter filter;
    Play(filter, Learnt());
    filter.Sent(Rr, Copy::MayBeAnswer);
    std::vector<EchoVerdict> verdicts;
    for (std::uint8_t octet : Joined(Rr, Rr))
        verdicts.push_back(filter.Take(octet));
    const std::vector<EchoVerdict> expected = {
        EchoVerdict::Echo,   EchoVerdict::Echo,    EchoVerdict::Echo,   EchoVerdict::Echo,
        EchoVerdict::Echo,   EchoVerdict::EchoEnd, EchoVerdict::Answer, EchoVerdict::Answer,
        EchoVerdict::Answer, EchoVerdict::Answer,  EchoVerdict::Answer, EchoVerdict::Answer};
    EXPECT_EQ(verdicts, expected);
}

TEST(EchoFilterTest, ANewLineForgetsTheEcho) {
    EchoFilter filter;
    Play(filter, Learnt());
    ASSERT_TRUE(filter.Echoing());
    filter.Reset();
    EXPECT_FALSE(filter.Echoing());
    EXPECT_EQ(filter.DroppedFrames(), 0u);
    const Outcome outcome = Play(filter, {Send(Rr, Copy::MayBeAnswer), Read(Rr)});
    EXPECT_EQ(outcome.handled, (std::vector<Bytes>{{0x14, 0x11}}));
}
