#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "hdlc/FrameCodec.h"

using namespace kvq::core;
using namespace kvq::hdlc;
namespace hdlc = kvq::hdlc;

using Bytes = std::vector<std::uint8_t>;

namespace {

Bytes Encode(const Bytes& body) {
    hdlc::FrameBytes frame;
    hdlc::EncodeFrame(body, frame);
    return Bytes(frame.data(), frame.data() + frame.size());
}

// Every good frame the receiver reports for the input, fed in two chunks split
// at `split` (the receiver's state must carry across the split).
std::vector<Bytes> Decode(const Bytes& line, std::size_t split, std::uint32_t limit = 78) {
    hdlc::FrameReceiver receiver(limit);
    std::vector<Bytes> frames;
    CommandBuffer buffer;
    auto feed = [&](std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i) {
            if (receiver.AcceptByte(line[i], buffer)) {
                frames.emplace_back(buffer.data.begin(), buffer.data.begin() + buffer.length);
            }
        }
    };
    feed(0, split);
    feed(split, line.size());
    return frames;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& p : parts)
        all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A body whose FCS octets include the given value, found by search, so the
// escaped-FCS rows do not depend on a hand-picked example.
Bytes BodyWithFcsOctet(std::uint8_t value) {
    for (unsigned a = 0; a < 0x10000; ++a) {
        Bytes body{0x14, 0x10, static_cast<std::uint8_t>(a >> 8), static_cast<std::uint8_t>(a)};
        const std::uint16_t fcs = hdlc::FrameCheck(body);
        if ((fcs & 0xFF) == value || (fcs >> 8) == value) return body;
    }
    return {};
}

}  // namespace

TEST(FrameCodec, FcsCheckValueAndGoodFrameResidue) {
    const std::string digits = "123456789";
    EXPECT_EQ(hdlc::FrameCheck(Bytes(digits.begin(), digits.end())), 0x906E);
    // Running the register over a whole frame, FCS included, leaves the residue.
    Bytes frame = {0x14, 0x73};
    const std::uint16_t fcs = hdlc::FrameCheck(frame);
    frame.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(fcs >> 8));
    std::uint16_t reg = hdlc::FcsInit;
    for (auto octet : frame)
        reg = hdlc::FcsUpdate(reg, octet);
    EXPECT_EQ(reg, hdlc::FcsGood);
}

TEST(FrameCodec, EncodesTheLinkFramesByteForByte) {
    struct Case {
        const char* what;
        Bytes body;
        Bytes line;
    } cases[] = {
        {"SNRM to 20", {0x14, 0x93}, {0x7E, 0x14, 0x93, 0xA4, 0x5B, 0x7E}},
        {"RR, N(R) 0, to 20", {0x14, 0x11}, {0x7E, 0x14, 0x11, 0xBE, 0xFC, 0x7E}},
        {"UA from 20", {0x14, 0x73}, {0x7E, 0x14, 0x73, 0xAA, 0xBC, 0x7E}},
        {"I-frame with an escaped payload",
         {0x14, 0x10, 0xC0, 0x00, 0x01, 0x7E},
         {0x7E, 0x14, 0x10, 0xC0, 0x00, 0x01, 0x7D, 0x5E, 0x2B, 0xA9, 0x7E}},
        {"address-assignment XID",
         {0xFF, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0x14},
         {0x7E, 0xFF, 0xBF, 0x81, 0xF0, 0x03, 0x02, 0x01, 0x14, 0xDE, 0x79, 0x7E}},
        {"0x7D in the body", {0x14, 0x7D}, {}},
    };
    for (const auto& c : cases) {
        const Bytes line = Encode(c.body);
        if (!c.line.empty()) {
            EXPECT_EQ(line, c.line) << c.what;
        }
        // And back: the receiver gives the body and its FCS.
        const auto frames = Decode(line, line.size());
        ASSERT_EQ(frames.size(), 1u) << c.what;
        EXPECT_EQ(Bytes(frames[0].begin(), frames[0].end() - 2), c.body) << c.what;
    }
}

TEST(FrameCodec, EscapesFcsOctetsAndAcceptsThemBack) {
    for (std::uint8_t special : {hdlc::Flag, hdlc::Escape}) {
        const Bytes body = BodyWithFcsOctet(special);
        ASSERT_FALSE(body.empty());
        const Bytes line = Encode(body);
        // Only the two framing flags stand unescaped on the line.
        int flags = 0;
        for (auto octet : line)
            flags += octet == hdlc::Flag;
        EXPECT_EQ(flags, 2);
        const auto frames = Decode(line, 0);
        ASSERT_EQ(frames.size(), 1u);
        EXPECT_EQ(Bytes(frames[0].begin(), frames[0].begin() + 4), body);
    }
}

TEST(FrameCodec, ReceiverCases) {
    const Bytes ua = {0x14, 0x73, 0xAA, 0xBC};
    const Bytes uaLine = Encode({0x14, 0x73});
    auto ofLength = [](std::size_t octets) {
        Bytes body(octets - 2, 0x55);
        body[0] = 0x14;
        return body;
    };
    const Bytes body79 = ofLength(79);
    const Bytes body80 = ofLength(80);
    auto withFcs = [](Bytes body) {
        const std::uint16_t fcs = hdlc::FrameCheck(body);
        body.push_back(static_cast<std::uint8_t>(fcs & 0xFF));
        body.push_back(static_cast<std::uint8_t>(fcs >> 8));
        return body;
    };

    struct Case {
        const char* what;
        Bytes line;
        std::vector<Bytes> frames;
    } cases[] = {
        {"a doubled opening flag is not an empty frame",
         {0x7E, 0x7E, 0x14, 0x73, 0xAA, 0xBC, 0x7E},
         {ua}},
        {"a flag after two octets is ignored, not stored",
         {0x7E, 0x14, 0x73, 0x7E, 0xAA, 0xBC, 0x7E},
         {ua}},
        {"79 octets from address through FCS are accepted", Encode(body79), {withFcs(body79)}},
        {"80 octets are dropped even with a good FCS", Encode(body80), {}},
        {"an escaped 0x7E in the body arrives as 0x7E",
         Encode({0x14, 0x10, 0xC0, 0x00, 0x01, 0x7E}),
         {withFcs({0x14, 0x10, 0xC0, 0x00, 0x01, 0x7E})}},
        {"junk between frames is discarded",
         Concat({{0x11, 0x22}, uaLine, {0x33, 0x44}, uaLine, {0x55}}),
         {ua, ua}},
        {"a bad FCS drops the frame", {0x7E, 0x14, 0x73, 0xAA, 0xBD, 0x7E}, {}},
        {"a short bad frame, then a good one",
         Concat({{0x7E, 0x01, 0x02, 0x03, 0x04, 0x7E}, uaLine}),
         {ua}},
        {"back-to-back frames sharing no flag", Concat({uaLine, uaLine}), {ua, ua}},
        {"an escape then a flag aborts; the flag opens the next frame",
         {0x7E, 0x14, 0x73, 0x7D, 0x7E, 0x14, 0x73, 0xAA, 0xBC, 0x7E},
         {ua}},
        {"7E 7E at the end of the input", Concat({uaLine, {0x7E, 0x7E}}), {ua}},
        {"a full buffer, then a good frame",
         Concat({Bytes(1, 0x7E), Bytes(200, 0x41), Bytes(1, 0x7E), uaLine}),
         {ua}},
        {"nothing but flags", Bytes(10, 0x7E), {}},
    };
    for (const auto& c : cases) {
        // Whole, and split at every position: chunking must not matter.
        for (std::size_t split = 0; split <= c.line.size(); ++split) {
            EXPECT_EQ(Decode(c.line, split), c.frames) << c.what << " (split at " << split << ")";
        }
    }
}

TEST(FrameCodec, AnAbandonedFrameDoesNotSpoilTheNextOne) {
    hdlc::FrameReceiver receiver;
    CommandBuffer buffer;
    for (std::uint8_t octet : {0x7E, 0x14, 0x10, 0xC0, 0x00, 0x05, 0x7D}) {
        receiver.AcceptByte(octet, buffer);
    }
    receiver.AbandonFrame();  // the poll cycle gave up on it
    bool good = false;
    for (std::uint8_t octet : {0x7E, 0x7E, 0x14, 0x73, 0xAA, 0xBC, 0x7E}) {
        good = receiver.AcceptByte(octet, buffer);
    }
    EXPECT_TRUE(good);
    EXPECT_EQ(buffer.length, 4);
    EXPECT_EQ(buffer.data[1], 0x73);
}
