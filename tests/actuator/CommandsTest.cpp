#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "actuator/Commands.h"
#include "core/ThreadMessages.h"

using namespace kvq::core;
using namespace kvq::actuator;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

Bytes Text(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Payload(const CommandBuffer& buffer) {
    return Bytes(buffer.Valid(), buffer.Valid() + buffer.length);
}

const Bytes kMagic = {0x12, 0x34, 0x56, 0x78};
const Bytes kVendor = Cat({kMagic, {0xE9, 0xA6, 0x11, 0xD9}});

constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

// ---------------------------------------------------------------------------
// Requests

// A firmware block with no two neighbouring bytes alike, so a dropped or
// repeated byte shows.
Bytes Block(std::size_t size) {
    Bytes block(size);
    for (std::size_t i = 0; i < size; ++i)
        block[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return block;
}

// Every byte of the configuration data distinct: the high byte names the
// array and the index, the low byte repeats that with another tag.
std::array<std::uint16_t, 16> Config(std::uint8_t tagHigh, std::uint8_t tagLow) {
    std::array<std::uint16_t, 16> values{};
    for (std::size_t i = 0; i < 16; ++i)
        values[i] = static_cast<std::uint16_t>((tagHigh + i) << 8 | (tagLow + i));
    return values;
}

Bytes ExpectedConfigure() {
    Bytes field = {0x32, 0x40, 0x00};
    for (std::uint8_t i = 0; i < 16; ++i) {
        const std::uint8_t first[] = {static_cast<std::uint8_t>(0x10 + i),
                                      static_cast<std::uint8_t>(0x30 + i)};
        const std::uint8_t second[] = {static_cast<std::uint8_t>(0x50 + i),
                                       static_cast<std::uint8_t>(0x70 + i)};
        field.insert(field.end(), std::begin(first), std::end(first));
        field.insert(field.end(), std::begin(second), std::end(second));
    }
    return field;
}

struct BuildCase {
    const char* name;
    std::function<CommandBufferPtr()> build;
    Bytes payload;
    std::uint8_t address;
    MessageNumber kind;  // MsgCommand: payload at 5; MsgRawCommand: field at 2
};

const std::string kName20 = "ABCDEFGHIJKLMNOPQRST";

std::vector<BuildCase> BuildCases() {
    const auto first = Config(0x10, 0x30);
    const auto second = Config(0x50, 0x70);
    const Bytes block56 = Block(56);
    return {
        // Command: only OpenRequest and GetTiltRequest carry the value.
        {"OpenRequest",
         [] { return cmd::Command(1, cmd::OpenRequest); },
         {0x12, 0x34, 0x56, 0x78, 0x01, 0x02, 0x0C, 0x01, 0x00, 0x01},
         0x14,
         MsgCommand},
        {"OpenRequest value big-endian", [] { return cmd::Command(1, cmd::OpenRequest, 0x0203); },
         Cat({kMagic, {0x01, 0x02, 0x0C, 0x01, 0x02, 0x03}}), 0x14, MsgCommand},
        {"PollRequest", [] { return cmd::Command(1, cmd::PollRequest); },
         Cat({kMagic, {0x01, 0x02, 0x0C, 0x09}}), 0x14, MsgCommand},
        {"PollRequest ignores the value", [] { return cmd::Command(1, cmd::PollRequest, 7); },
         Cat({kMagic, {0x01, 0x02, 0x0C, 0x09}}), 0x14, MsgCommand},
        {"IdentityRequest", [] { return cmd::Command(1, cmd::IdentityRequest); },
         Cat({kMagic, {0x01, 0x02, 0x0C, 0x0C}}), 0x14, MsgCommand},
        {"VersionRequest", [] { return cmd::Command(1, cmd::VersionRequest); },
         Cat({kMagic, {0x01, 0x02, 0x0C, 0x0F}}), 0x14, MsgCommand},
        {"PrepareRequest1", [] { return cmd::Command(1, cmd::PrepareRequest1); },
         Cat({kMagic, {0x01, 0x02, 0x0C, 0x1D}}), 0x14, MsgCommand},
        {"GetTiltRequest", [] { return cmd::Command(1, cmd::GetTiltRequest); },
         Cat({kMagic, {0x01, 0x02, 0x0D, 0x12, 0x00, 0x01}}), 0x14, MsgCommand},
        {"PollRequest slot 2", [] { return cmd::Command(2, cmd::PollRequest); },
         Cat({kMagic, {0x01, 0x02, 0x0C, 0x09}}), 0x15, MsgCommand},

        // Dedicated Ericsson-mode senders.
        {"PrepareRequest2", [] { return cmd::PrepareRequest2Command(1); },
         Cat({kMagic, {0x01, 0x02, 0x0D, 0x01, 0x00, 0x01, 0x01}}), 0x14, MsgCommand},
        {"PrepareRequest3", [] { return cmd::PrepareRequest3Command(1); },
         Cat({kMagic, {0x01, 0x02, 0x0D, 0x09, 0x00, 0x01, 0x00, 0x00, 0x07, 0x08}, Bytes(16, 0)}),
         0x14, MsgCommand},
        {"SetTilt 65", [] { return cmd::SetTiltCommand(1, 65); },
         Cat({kMagic, {0x01, 0x02, 0x0D, 0x0F, 0x00, 0x01, 0x00, 0x41}}), 0x14, MsgCommand},
        {"SetTilt -25", [] { return cmd::SetTiltCommand(1, -25); },
         Cat({kMagic, {0x01, 0x02, 0x0D, 0x0F, 0x00, 0x01, 0xFF, 0xE7}}), 0x14, MsgCommand},
        {"SetTilt 0", [] { return cmd::SetTiltCommand(1, 0); },
         Cat({kMagic, {0x01, 0x02, 0x0D, 0x0F, 0x00, 0x01, 0x00, 0x00}}), 0x14, MsgCommand},
        {"SetTilt keeps the low 16 bits", [] { return cmd::SetTiltCommand(1, 0x12345); },
         Cat({kMagic, {0x01, 0x02, 0x0D, 0x0F, 0x00, 0x01, 0x23, 0x45}}), 0x14, MsgCommand},
        {"SetTilt slot 2", [] { return cmd::SetTiltCommand(2, 300); },
         Cat({kMagic, {0x01, 0x02, 0x0D, 0x0F, 0x00, 0x01, 0x01, 0x2C}}), 0x15, MsgCommand},

        // Vendor sub-commands: only ReadDataPage carries its byte.
        {"DownloadStart", [] { return cmd::Vendor(1, cmd::DownloadStart); }, Cat({kVendor, {0x11}}),
         0x14, MsgCommand},
        {"DownloadEnd", [] { return cmd::Vendor(1, cmd::DownloadEnd); }, Cat({kVendor, {0x13}}),
         0x14, MsgCommand},
        {"ReadDataPage 2", [] { return cmd::Vendor(1, cmd::ReadDataPage, 2); },
         Cat({kVendor, {0x40, 0x02}}), 0x14, MsgCommand},
        {"ReadDataPage 0", [] { return cmd::Vendor(1, cmd::ReadDataPage, 0); },
         Cat({kVendor, {0x40, 0x00}}), 0x14, MsgCommand},
        {"PreRead1 ignores the byte", [] { return cmd::Vendor(1, cmd::PreRead1, 9); },
         Cat({kVendor, {0x44}}), 0x14, MsgCommand},
        {"PreRead2", [] { return cmd::Vendor(1, cmd::PreRead2); }, Cat({kVendor, {0x47}}), 0x14,
         MsgCommand},
        {"Restart", [] { return cmd::Vendor(1, cmd::Restart); }, Cat({kVendor, {0xE7}}), 0x14,
         MsgCommand},
        {"ReadAuxText", [] { return cmd::Vendor(1, cmd::ReadAuxText); }, Cat({kVendor, {0xE8}}),
         0x14, MsgCommand},
        {"ReadModel", [] { return cmd::Vendor(1, cmd::ReadModel); }, Cat({kVendor, {0xEA}}), 0x14,
         MsgCommand},
        {"ReadDataPage slot 2", [] { return cmd::Vendor(2, cmd::ReadDataPage, 3); },
         Cat({kVendor, {0x40, 0x03}}), 0x15, MsgCommand},
        {"ModeSelect", [] { return cmd::ModeSelectCommand(1); }, Cat({kVendor, {0x46, 0x02}}), 0x14,
         MsgCommand},

        // WriteModel: the name and its NUL, 16 bytes at most.
        {"WriteModel 5 characters", [] { return cmd::WriteModelCommand(1, "KRE12"); },
         Cat({kVendor, {0xEB}, Text("KRE12"), {0x00}}), 0x14, MsgCommand},
        {"WriteModel empty", [] { return cmd::WriteModelCommand(1, ""); },
         Cat({kVendor, {0xEB, 0x00}}), 0x14, MsgCommand},
        {"WriteModel 15 characters",
         [] { return cmd::WriteModelCommand(1, kName20.substr(0, 15)); },
         Cat({kVendor, {0xEB}, Text(kName20.substr(0, 15)), {0x00}}), 0x14, MsgCommand},
        {"WriteModel exactly 16", [] { return cmd::WriteModelCommand(1, kName20.substr(0, 16)); },
         Cat({kVendor, {0xEB}, Text(kName20.substr(0, 16))}), 0x14, MsgCommand},
        {"WriteModel 20 characters", [] { return cmd::WriteModelCommand(1, kName20); },
         Cat({kVendor, {0xEB}, Text(kName20.substr(0, 16))}), 0x14, MsgCommand},
        {"WriteModel embedded NUL",
         [] { return cmd::WriteModelCommand(1, std::string_view("AB\0CDEF", 7)); },
         Cat({kVendor, {0xEB, 'A', 'B', 0x00}}), 0x14, MsgCommand},

        // DownloadBlock: the data as given, no length field.
        {"DownloadBlock 1 byte", [] { return cmd::DownloadBlockCommand(1, Bytes{0xA5}); },
         Cat({kVendor, {0x12, 0xA5}}), 0x14, MsgCommand},
        {"DownloadBlock 56 bytes", [block56] { return cmd::DownloadBlockCommand(1, block56); },
         Cat({kVendor, {0x12}, block56}), 0x14, MsgCommand},

        // AISG-mode information fields: procedure, little-endian length, data.
        {"AisgConfigure", [first, second] { return cmd::AisgConfigureCommand(1, first, second); },
         ExpectedConfigure(), 0x14, MsgRawCommand},
        {"AisgPrepare",
         [] { return cmd::AisgPrepareCommand(1); },
         {0x90, 0x03, 0x00, 0x54, 0x51, 0x44},
         0x14,
         MsgRawCommand},
        {"AisgModeSelect",
         [] { return cmd::AisgModeSelectCommand(1); },
         {0x90, 0x04, 0x00, 0x54, 0x51, 0x46, 0xE0},
         0x14,
         MsgRawCommand},
        {"AisgRestart",
         [] { return cmd::AisgRestartCommand(1); },
         {0x90, 0x03, 0x00, 0x54, 0x51, 0xE7},
         0x14,
         MsgRawCommand},
        {"AisgPrepare slot 2",
         [] { return cmd::AisgPrepareCommand(2); },
         {0x90, 0x03, 0x00, 0x54, 0x51, 0x44},
         0x15,
         MsgRawCommand},
    };
}

TEST(Commands, EveryRequestIsBuiltByteForByte) {
    for (const auto& c : BuildCases()) {
        SCOPED_TRACE(c.name);
        const CommandBufferPtr buffer = c.build();
        ASSERT_NE(buffer, nullptr);
        const std::uint8_t offset = c.kind == MsgCommand ? 5 : 2;
        EXPECT_EQ(buffer->dataOffset, offset);
        EXPECT_EQ(buffer->address, c.address);
        EXPECT_EQ(buffer->control, 0);
        EXPECT_EQ(Payload(*buffer), c.payload);
        // The link fills the bytes in front of the payload; they start out clear.
        for (std::size_t i = 0; i < offset; ++i)
            EXPECT_EQ(buffer->data[i], 0) << "byte " << i;
    }
}

TEST(Commands, PayloadSizesTheLinkFramesByLength) {
    // The link writes the payload length into the frame; these are the sizes
    // the actuator checks.
    const std::array<std::uint16_t, 16> none{};
    struct Case {
        const char* name;
        CommandBufferPtr buffer;
        std::size_t size;
    } cases[] = {
        {"OpenRequest", cmd::Command(1, cmd::OpenRequest), 10},
        {"PollRequest", cmd::Command(1, cmd::PollRequest), 8},
        {"PrepareRequest3", cmd::PrepareRequest3Command(1), 30},
        {"DownloadBlock 56", cmd::DownloadBlockCommand(1, Block(56)), 65},
        {"WriteModel 20 characters", cmd::WriteModelCommand(1, kName20), 25},
        {"AisgConfigure", cmd::AisgConfigureCommand(1, none, none), 67},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(c.buffer, nullptr);
        EXPECT_EQ(c.buffer->length, c.size);
    }
}

TEST(Commands, DownloadBlockOutsideOneTo56BytesIsRefused) {
    for (std::size_t size : {std::size_t{0}, std::size_t{57}, std::size_t{91}, std::size_t{200}}) {
        const Bytes block = Block(size);
        EXPECT_EQ(cmd::DownloadBlockCommand(1, block), nullptr) << size << " bytes";
    }
}

// ---------------------------------------------------------------------------
// Replies

Bytes VendorReply(std::uint8_t subCommand, std::uint8_t status, const Bytes& data = {}) {
    return Cat({{0xAA, 0xBB, 0xCC, 0xDD, 0xE9, 0xA6, 0x11, 0xD9, subCommand, status}, data});
}

Bytes EricssonReply(std::uint32_t code, const Bytes& data = {}) {
    return Cat({{0xAA, 0xBB, 0xCC, 0xDD, static_cast<std::uint8_t>(code >> 24),
                 static_cast<std::uint8_t>(code >> 16), static_cast<std::uint8_t>(code >> 8),
                 static_cast<std::uint8_t>(code)},
                data});
}

const std::uint8_t kAllSubCommands[] = {
    cmd::DownloadStart, cmd::DownloadBlock, cmd::DownloadEnd, cmd::ReadDataPage,
    cmd::PreRead1,      cmd::ModeSelect,    cmd::PreRead2,    cmd::Restart,
    cmd::ReadAuxText,   cmd::ReadModel,     cmd::WriteModel,
};

TEST(Reply, ReadsCodesAndVendorReplies) {
    struct Case {
        const char* name;
        Bytes payload;
        std::optional<std::uint32_t> code;
        std::optional<std::uint8_t> vendorSub;  // the one sub-command IsVendor accepts
        std::optional<std::uint8_t> status;
    } cases[] = {
        {"OpenReply", EricssonReply(0x01020C02, {0x00, 0x01}), 0x01020C02, {}, 0x01},
        {"SetTiltRefused", EricssonReply(0x01020D11), 0x01020D11, {}, {}},
        {"code with byte 8 like a sub-command",
         EricssonReply(0x01020D13, {0x40, 0x00}),
         0x01020D13,
         {},
         0x00},
        {"ReadDataPage accepted", VendorReply(0x40, 0x00, {0x02}), 0xE9A611D9, 0x40, 0x00},
        {"DownloadBlock refused", VendorReply(0x12, 0x05), 0xE9A611D9, 0x12, 0x05},
        {"WriteModel echo without status", Cat({kVendor, {0xEB}}), 0xE9A611D9, 0xEB, {}},
        {"vendor code without sub-command", kVendor, 0xE9A611D9, {}, {}},
        {"seven bytes", {0xAA, 0xBB, 0xCC, 0xDD, 0x01, 0x02, 0x0C}, {}, {}, {}},
        {"empty", {}, {}, {}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const cmd::Reply reply(c.payload);
        EXPECT_EQ(reply.Code(), c.code);
        if (c.code) {
            EXPECT_TRUE(reply.Is(*c.code));
        }
        EXPECT_FALSE(reply.Is(cmd::PollReply));
        for (std::uint8_t sub : kAllSubCommands)
            EXPECT_EQ(reply.IsVendor(sub), c.vendorSub == sub) << "sub-command " << int(sub);
        EXPECT_EQ(reply.VendorStatus(), c.status);
    }
}

TEST(Reply, ReadsBigEndianValues) {
    const Bytes payload = EricssonReply(0x01020D13, {0x00, 0x01, 0xFF, 0xE7});
    const cmd::Reply reply(payload);
    EXPECT_EQ(reply.Big16(10), 0xFFE7);
    EXPECT_EQ(reply.Big16(9), 0x01FF);
    EXPECT_EQ(reply.Big32(8), 0x0001FFE7u);
    EXPECT_EQ(reply.Big16(11), std::nullopt);
    EXPECT_EQ(reply.Big32(9), std::nullopt);
    // Indexes near the top of size_t must not wrap round to the start.
    EXPECT_EQ(reply.Byte(kNoLimit), std::nullopt);
    EXPECT_EQ(reply.Big16(kNoLimit), std::nullopt);
    EXPECT_EQ(reply.Big32(kNoLimit - 1), std::nullopt);
    EXPECT_TRUE(reply.Bytes(2, kNoLimit).empty());
    EXPECT_TRUE(reply.Bytes(kNoLimit, 1).empty());
}

Bytes IdentityReply() {
    Bytes data(43, 0x5A);  // bytes 8..50
    return Cat({EricssonReply(0x01020C0D, data), Text("SN1234567"), {0x00, 0x77, 0x66}});
}

Bytes VersionReply() {
    Bytes data = Cat({Text("IGNORED"), {0x00}, Bytes(5, 0x20)});  // bytes 8..20
    return Cat({EricssonReply(0x01020C10, data), Text("R2A07"), {0x00}});
}

Bytes DataPageReply() {
    Bytes page(32);
    for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<std::uint8_t>(0xC0 + i);
    return VendorReply(0x40, 0x00, Cat({{0x01}, page}));
}

Bytes ModelReply() {
    return VendorReply(0xEA, 0x00, Cat({{10}, Text("KRE1012345")}));
}

// A reply cut short at any length answers exactly what the full one answers
// for the bytes it still holds, and nothing for the rest. Each cut is copied
// to a block of its own size so that the sanitizer catches any read past it.
TEST(Reply, TruncatedRepliesNeverReadPastTheirEnd) {
    const std::pair<const char*, Bytes> fulls[] = {
        {"identity", IdentityReply()},
        {"version", VersionReply()},
        {"data page", DataPageReply()},
        {"model", ModelReply()},
    };
    const std::size_t limits[] = {0, 1, 16, 31, kNoLimit};
    for (const auto& [name, full] : fulls) {
        const cmd::Reply reference(full);
        for (std::size_t n = 0; n <= full.size(); ++n) {
            SCOPED_TRACE(std::string(name) + " cut to " + std::to_string(n));
            const auto cut = std::make_unique<std::uint8_t[]>(n);
            std::copy_n(full.begin(), n, cut.get());
            const cmd::Reply reply(std::span<const std::uint8_t>(cut.get(), n));
            ASSERT_EQ(reply.Size(), n);

            const auto fits = [n](std::size_t at, std::size_t width) { return at + width <= n; };
            for (std::size_t at = 0; at <= full.size() + 4; ++at) {
                EXPECT_EQ(reply.Byte(at), fits(at, 1) ? reference.Byte(at) : std::nullopt);
                EXPECT_EQ(reply.Big16(at), fits(at, 2) ? reference.Big16(at) : std::nullopt);
                EXPECT_EQ(reply.Big32(at), fits(at, 4) ? reference.Big32(at) : std::nullopt);
                for (std::size_t count : {1, 2, 32}) {
                    const auto bytes = reply.Bytes(at, count);
                    if (fits(at, count)) {
                        const auto want = reference.Bytes(at, count);
                        EXPECT_TRUE(
                            std::equal(bytes.begin(), bytes.end(), want.begin(), want.end()));
                    } else {
                        EXPECT_TRUE(bytes.empty()) << "at " << at << " count " << count;
                    }
                }
                for (std::size_t limit : limits) {
                    const std::size_t textRoom = at < n ? n - at : 0;
                    EXPECT_EQ(reply.Text(at, limit), reference.Text(at, limit).substr(0, textRoom));
                    const std::size_t countedRoom = at + 1 < n ? n - at - 1 : 0;
                    EXPECT_EQ(reply.CountedText(at, limit),
                              reference.CountedText(at, limit).substr(0, countedRoom));
                }
            }
            // What each handler decides on: a cut reply answers no or the full answer.
            EXPECT_TRUE(!reply.Code() || reply.Code() == reference.Code());
            EXPECT_TRUE(!reply.VendorStatus() || reply.VendorStatus() == reference.VendorStatus());
        }
    }
}

TEST(Reply, TheFullRepliesCarryTheirData) {
    // The references the truncation test compares against.
    EXPECT_EQ(cmd::Reply(IdentityReply()).Text(51, kNoLimit), "SN1234567");
    EXPECT_EQ(cmd::Reply(VersionReply()).Text(21, kNoLimit), "R2A07");
    const Bytes pagePayload = DataPageReply();
    const cmd::Reply page(pagePayload);
    EXPECT_EQ(page.Byte(10), 0x01);
    const auto bytes = page.Bytes(11, 32);
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(bytes.front(), 0xC0);
    EXPECT_EQ(bytes.back(), 0xDF);
    EXPECT_EQ(cmd::Reply(ModelReply()).CountedText(10, 16), "KRE1012345");
}

TEST(Reply, TextEndsAtItsNulThePayloadOrTheLimit) {
    struct Case {
        const char* name;
        Bytes payload;
        std::size_t start;
        std::size_t maxChars;
        std::string expected;
    } cases[] = {
        {"up to the NUL", Cat({Text("AB"), {0x00}, Text("CD")}), 0, kNoLimit, "AB"},
        {"no NUL: up to the end", Text("ABCD"), 0, kNoLimit, "ABCD"},
        {"from the middle", Text("ABCD"), 2, kNoLimit, "CD"},
        {"limit", Text("ABCD"), 0, 2, "AB"},
        {"limit past the NUL", Cat({Text("AB"), {0x00}, Text("CD")}), 0, 4, "AB"},
        {"zero limit", Text("ABCD"), 0, 0, ""},
        {"NUL first", Cat({{0x00}, Text("AB")}), 0, kNoLimit, ""},
        {"start at the end", Text("ABCD"), 4, kNoLimit, ""},
        {"start past the end", Text("ABCD"), 9, kNoLimit, ""},
        {"start at the top of size_t", Text("ABCD"), kNoLimit, kNoLimit, ""},
        {"serial without NUL", Cat({Bytes(51, 0x01), Text("SN98765")}), 51, kNoLimit, "SN98765"},
        {"version after a text at byte 8",
         Cat({Bytes(8, 0x01), Text("SKIP"), Bytes(9, 0x00), Text("R1B"), {0x00}}), 21, kNoLimit,
         "R1B"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cmd::Reply(c.payload).Text(c.start, c.maxChars), c.expected);
    }
}

TEST(Reply, CountedTextTakesTheSmallestOfCountLimitAndPayload) {
    const Bytes chars40 = Text("0123456789012345678901234567890123456789");
    struct Case {
        const char* name;
        Bytes payload;
        std::size_t countAt;
        std::size_t maxChars;
        std::string expected;
    } cases[] = {
        {"count", VendorReply(0xEA, 0, Cat({{5}, Text("KRE12XYZ")})), 10, 16, "KRE12"},
        {"count past the payload", VendorReply(0xE8, 0, Cat({{200}, Text("AUX")})), 10, 31, "AUX"},
        {"count past the limit", VendorReply(0xE8, 0, Cat({{40}, chars40})), 10, 31,
         "0123456789012345678901234567890"},
        {"model limit", VendorReply(0xEA, 0, Cat({{20}, chars40})), 10, 16, "0123456789012345"},
        {"count 0", VendorReply(0xEA, 0, Cat({{0}, Text("KRE")})), 10, 16, ""},
        {"NUL inside the count", VendorReply(0xEA, 0, Cat({{5}, Text("AB"), {0}, Text("CD")})), 10,
         16, "AB"},
        {"count is the last byte", VendorReply(0xEA, 0, {7}), 10, 16, ""},
        {"no count byte", VendorReply(0xEA, 0), 10, 16, ""},
        {"zero limit", VendorReply(0xEA, 0, Cat({{3}, Text("ABC")})), 10, 0, ""},
        {"count at the top of size_t", Text("ABC"), kNoLimit, 16, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cmd::Reply(c.payload).CountedText(c.countAt, c.maxChars), c.expected);
    }
}

TEST(Reply, FromABufferStaysInsideItsDataArea) {
    struct Case {
        std::uint8_t offset;
        std::uint8_t length;
        std::size_t size;
    } cases[] = {
        {5, 8, 8},    {2, 0, 0},    {0, 96, 96}, {90, 20, 6},
        {5, 255, 91}, {95, 255, 1}, {96, 1, 0},  {255, 255, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("offset " + std::to_string(c.offset) + " length " + std::to_string(c.length));
        CommandBuffer buffer;
        for (std::size_t i = 0; i < CommandBuffer::DataSize; ++i)
            buffer.data[i] = static_cast<std::uint8_t>(i + 1);
        buffer.dataOffset = c.offset;
        buffer.length = c.length;
        const cmd::Reply reply(buffer);
        ASSERT_EQ(reply.Size(), c.size);
        const auto all = reply.Bytes(0, c.size);
        ASSERT_EQ(all.size(), c.size);
        for (std::size_t i = 0; i < c.size; ++i)
            EXPECT_EQ(all[i], buffer.data[c.offset + i]);
        EXPECT_EQ(reply.Byte(c.size), std::nullopt);
        EXPECT_EQ(reply.Text(0, kNoLimit).size(), c.size);  // no NUL in the pattern
    }
}

TEST(Reply, FromABufferIgnoresBytesBeyondItsLength) {
    // A receive block is reused: old bytes past the length must not leak in.
    CommandBuffer buffer;
    buffer.dataOffset = 5;
    const Bytes stale = Cat({VendorReply(0xEA, 0x00, Cat({{9}, Text("KRE")})), Text("OLDNAME")});
    std::copy(stale.begin(), stale.end(), buffer.data.begin() + 5);
    buffer.length = 14;  // up to and including "KRE"
    const cmd::Reply reply(buffer);
    EXPECT_TRUE(reply.IsVendor(cmd::ReadModel));
    EXPECT_EQ(reply.CountedText(10, 16), "KRE");
    EXPECT_EQ(reply.Text(11, kNoLimit), "KRE");
    EXPECT_EQ(reply.Byte(14), std::nullopt);
}

}  // namespace
