#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hdlc/FrameCodec.h"
#include "hdlc/TraceDecoder.h"
#include "serial/LineTap.h"
#include "support/EricssonPayload.h"

using namespace kvq::hdlc;
using kvq::serial::TapEntry;
using kvq::serial::TapKind;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Framed(const Bytes& body) {
    FrameBytes frame;
    EncodeFrame(body, frame);
    return {frame.data(), frame.data() + frame.size()};
}

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// A small command set of its own: the decoder takes its names from whoever
// knows them.
const CommandNameTable& Names() {
    static const CommandNameTable names{
        {{0x01020D0F, "SetTiltRequest", 10}, {0x01020C0D, "IdentityReply"}, {0xE9A611D9, "Vendor"}},
        0xE9A611D9,
        {{0xEA, "ReadModel"}},
        {{0x90, "AisgVendor"}},
    };
    return names;
}

InformationNamer Namer() {
    return [](std::span<const std::uint8_t> information, bool fromPrimary) {
        return FormatInformation(Names(), information, fromPrimary);
    };
}

// An Ericsson-mode I-frame body: header, magic, code, parameters.
Bytes Ericsson(std::uint8_t control, std::uint32_t code, const Bytes& parameters) {
    Bytes body{0x14, control};
    const Bytes information = kvq::testing::EricssonInformation(0xC0, code, parameters);
    body.insert(body.end(), information.begin(), information.end());
    return body;
}

struct Piece {
    Piece(Bytes o, std::vector<std::uint16_t> e = {})
        : octets(std::move(o)), echoEnds(std::move(e)) {}
    Bytes octets;
    std::vector<std::uint16_t> echoEnds;
};

// What the decoder makes of octets arriving in pieces, one direction, seen by
// the primary: the lines it writes, in order.
std::vector<ParsedTraceLine> Decode(const std::vector<Piece>& pieces, bool sent,
                                    bool flush = false) {
    std::vector<ParsedTraceLine> lines;
    TraceStream stream(sent, [&lines](TracedFrame&& frame) {
        ParsedTraceLine parsed;
        const std::string text = FormatTracedFrame(frame, true, Namer());
        EXPECT_TRUE(ParseTraceLine(text, parsed)) << text;
        EXPECT_EQ(parsed.line, frame.line) << "the octets read back as written: " << text;
        lines.push_back(parsed);
    });
    std::int64_t micros = 1000;
    for (const Piece& piece : pieces) {
        TapEntry entry;
        entry.micros = micros;
        entry.baudRate = 115200;
        entry.kind = sent ? TapKind::Sent : TapKind::Received;
        entry.size = static_cast<std::uint8_t>(piece.octets.size());
        std::copy(piece.octets.begin(), piece.octets.end(), entry.octets.begin());
        for (const std::uint16_t end : piece.echoEnds)
            entry.echoEnds |= std::uint64_t{1} << end;
        stream.Feed(entry);
        micros += 2500;
    }
    if (flush) stream.Flush();
    return lines;
}

struct Case {
    const char* name;
    std::vector<Piece> pieces;
    bool sent;
    bool flush;
    std::vector<std::string> meanings;
};

}  // namespace

TEST(TraceDecoder, NamesEachKindOfFrameAndWhatIsNoFrame) {
    const Bytes rr = Framed({0x14, RrControl(0)});
    Bytes badFcs = Framed({0x14, RrControl(3)});
    badFcs[2] ^= 0x40;
    const Case cases[] = {
        {"SNRM", {{Framed({0x14, SnrmPoll})}}, true, false, {"addr 0x14 SNRM P"}},
        {"UA", {{Framed({0x14, UaFinal})}}, false, false, {"addr 0x14 UA F"}},
        {"RR poll", {{Framed({0x14, RrControl(5)})}}, true, false, {"addr 0x14 RR N(R)=5 P"}},
        {"RR answer", {{rr}}, false, false, {"addr 0x14 RR N(R)=0 F"}},
        {"AISG scan",
         {{Framed({0xFF, XidPoll, 0x81})}},
         true,
         false,
         {"addr 0xFF (all) XID P info 81"}},
        {"I-frame with a command and its tilt",
         {{Framed(Ericsson(IControl(2, 3), 0x01020D0F, {0x00, 0x01, 0x00, 0x23}))}},
         true,
         false,
         {"addr 0x14 I N(S)=2 N(R)=3 P SetTiltRequest tilt 3.5 params 00 01 00 23"}},
        {"a negative tilt",
         {{Framed(Ericsson(IControl(0, 0), 0x01020D0F, {0x00, 0x01, 0xFF, 0xF1}))}},
         true,
         false,
         {"addr 0x14 I N(S)=0 N(R)=0 P SetTiltRequest tilt -1.5 params 00 01 FF F1"}},
        {"a vendor reply with its status",
         {{Framed(Ericsson(IControl(1, 2), 0xE9A611D9, {0xEA, 0x00, 0x41, 0x42}))}},
         false,
         false,
         {"addr 0x14 I N(S)=1 N(R)=2 F Vendor ReadModel status 0x00 data 41 42"}},
        {"an unknown code",
         {{Framed(Ericsson(IControl(0, 0), 0x0BADC0DE, {}))}},
         false,
         false,
         {"addr 0x14 I N(S)=0 N(R)=0 F code 0x0BADC0DE"}},
        {"an AISG procedure",
         {{Framed({0x03, IControl(0, 0), 0x90, 0x02, 0x00, 0x54, 0x51})}},
         true,
         false,
         {"addr 0x03 I N(S)=0 N(R)=0 P AisgVendor data 54 51"}},
        {"octets the body holds escaped",
         {{Framed(Ericsson(IControl(0, 0), 0x01020C0D, {0x7E, 0x7D}))}},
         false,
         false,
         {"addr 0x14 I N(S)=0 N(R)=0 F IdentityReply params 7E 7D"}},
        {"bad FCS", {{badFcs}}, false, false, {"bad FCS"}},
        {"too short for an FCS",
         {{{0x7E, 0x14, 0x7E}}},
         false,
         false,
         {"bad frame: too short for an FCS"}},
        {"abort, and the frame after it",
         {{Cat({{0x7E, 0x14, 0x11, 0x7D, 0x7E}, Bytes(rr.begin() + 1, rr.end())})}},
         false,
         false,
         {"abort", "addr 0x14 RR N(R)=0 F"}},
        {"octets outside frames",
         {{Cat({{0x00, 0xF0, 0x33}, rr})}},
         false,
         false,
         {"octets outside frames", "addr 0x14 RR N(R)=0 F"}},
        {"stray octets at the end",
         {{Cat({rr, {0x01, 0x02}})}},
         false,
         true,
         {"addr 0x14 RR N(R)=0 F", "octets outside frames"}},
        {"a frame the line closed on", {{{0x7E, 0x14, 0x11}}}, false, true, {"unfinished frame"}},
        {"flags back to back",
         {{Cat({{0x7E, 0x7E}, rr})}},
         false,
         false,
         {"addr 0x14 RR N(R)=0 F"}},
        {"split over reads",
         {{Bytes(rr.begin(), rr.begin() + 2)}, {Bytes(rr.begin() + 2, rr.end())}},
         false,
         false,
         {"addr 0x14 RR N(R)=0 F"}},
        {"an echo, then the answer equal to it",
         {{Cat({rr, rr}), {static_cast<std::uint16_t>(rr.size() - 1)}}},
         false,
         false,
         {"addr 0x14 RR N(R)=0 P [echo]", "addr 0x14 RR N(R)=0 F"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto lines = Decode(c.pieces, c.sent, c.flush);
        ASSERT_EQ(lines.size(), c.meanings.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            EXPECT_EQ(lines[i].meaning, c.meanings[i]);
            EXPECT_EQ(lines[i].sent, c.sent);
            EXPECT_EQ(lines[i].baudRate, 115200u);
            EXPECT_EQ(lines[i].echo, c.meanings[i].ends_with("[echo]"));
        }
    }
}

TEST(TraceDecoder, AFrameIsTimedByItsFirstOctetAndKeepsItsOctets) {
    const Bytes rr = Framed({0x14, RrControl(0)});
    const auto lines = Decode(
        {{{0x55}}, {Bytes(rr.begin(), rr.begin() + 3)}, {Bytes(rr.begin() + 3, rr.end())}}, false);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_DOUBLE_EQ(lines[0].ms, 1.0);
    EXPECT_EQ(lines[0].line, Bytes{0x55});
    EXPECT_DOUBLE_EQ(lines[1].ms, 3.5);
    EXPECT_EQ(lines[1].line, rr);
}

TEST(TraceDecoder, LinesThatNameNoFrameAreNotReadAsOne) {
    ParsedTraceLine parsed;
    for (const char* text :
         {"# kvqctl line trace", "      12.000 OPEN 115200 COM1 | low latency: x",
          "      12.000 CLOSE | the line was closed", "      12.000 LOST | 3 entries dropped", "",
          "      12.000 TX 115200 7E 1 | x", "      12.000 TX 115200 | x"}) {
        EXPECT_FALSE(ParseTraceLine(text, parsed)) << text;
    }
}

TEST(TraceDecoder, AnInformationLengthShorterThanItsCodeIsReportedNotTrusted) {
    for (const int length : {0, 2, 7}) {
        SCOPED_TRACE(length);
        Bytes information = kvq::testing::EricssonInformation(0xC0, 0x01020D0F, {0x00, 0x23});
        information[2] = static_cast<std::uint8_t>(length);
        const std::string text = FormatInformation(Names(), information, true);
        EXPECT_EQ(text.rfind("SetTiltRequest", 0), 0u) << text;
        EXPECT_NE(text.find("(length " + std::to_string(length) + ", 10 octets follow)"),
                  std::string::npos)
            << text;
    }
}
