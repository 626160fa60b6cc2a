#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hdlc/FrameCodec.h"
#include "sim/SecondaryLink.h"
#include "sim/SimTraceNames.h"
#include "sim/Vlx400Application.h"

using namespace kvq::core;
using namespace kvq::hdlc;
using namespace kvq::sim;
namespace hdlc = kvq::hdlc;

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

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
Bytes Text(std::string_view text) {
    return Bytes(text.begin(), text.end());
}
Bytes Zeros(std::size_t count) {
    return Bytes(count, 0);
}
Bytes Big32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
}
Bytes Tilt16(std::int16_t tilt) {
    const auto bits = static_cast<std::uint16_t>(tilt);
    return {static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits & 0xFF)};
}

// An Ericsson-mode payload: magic, code, parameters. Replies have the same shape.
Bytes Message(std::uint32_t code, const Bytes& data = {}) {
    return Cat(Cat(Big32(vlx::Magic), Big32(code)), data);
}
Bytes Vendor(std::uint8_t subCommand, const Bytes& parameters = {}) {
    return Message(vlx::VendorCommand, Cat({subCommand}, parameters));
}
Bytes VendorReply(std::uint8_t subCommand, std::uint8_t status, const Bytes& data = {}) {
    return Message(vlx::VendorCommand, Cat({subCommand, status}, data));
}
Bytes SetTilt(std::int16_t tilt) {
    return Message(vlx::SetTiltRequest, Cat({0x00, 0x01}, Tilt16(tilt)));
}
const Bytes GetTilt = Message(vlx::GetTiltRequest, {0x00, 0x01});
Bytes TiltValue(std::int16_t tilt) {
    return Message(vlx::GetTiltValue, Cat({0x00, 0x01}, Tilt16(tilt)));
}

// An AISG-mode field: procedure, little-endian length, data.
Bytes Aisg(std::uint8_t procedure, const Bytes& data) {
    return Cat({procedure, static_cast<std::uint8_t>(data.size() & 0xFF),
                static_cast<std::uint8_t>(data.size() >> 8)},
               data);
}
const Bytes AisgPrepare{0x90, 0x03, 0x00, 0x54, 0x51, 0x44};
const Bytes AisgModeSelect{0x90, 0x04, 0x00, 0x54, 0x51, 0x46, 0xE0};
const Bytes AisgRestart{0x90, 0x03, 0x00, 0x54, 0x51, 0xE7};

// The text from `start` up to its NUL, as the tool reads it.
std::string TextAt(const Bytes& payload, std::size_t start) {
    std::string text;
    for (std::size_t i = start; i < payload.size() && payload[i] != 0; ++i)
        text += static_cast<char>(payload[i]);
    return text;
}

// A 57-byte firmware file: header with version 02.00, then a pattern.
Bytes Firmware() {
    Bytes image{0x01, 0x00, '0', '2', '.', '0', '0', 0x00, 0x00, 0x00};
    for (std::uint8_t i = 0; image.size() < 57; ++i)
        image.push_back(static_cast<std::uint8_t>(i * 7 + 3));
    return image;
}

// The actuator on its link, with a clock the test moves.
class Vlx400Test : public ::testing::Test {
protected:
    Vlx400Test() { Make(); }

    void Make(Vlx400Settings settings = {}, SimMode mode = SimMode::Ericsson) {
        link_.reset();
        app_.reset();
        app_.emplace(std::move(settings), [this] { return now; });
        link_.emplace(*app_, mode, [this] { return now; });
    }
    Vlx400Application& App() { return *app_; }
    SecondaryLink& Link() { return *link_; }
    Vlx400State State() { return app_->State(); }

    // One command straight to the application, in the link's present mode.
    std::optional<Bytes> Ask(const Bytes& request) {
        return app_->OnInformation(link_->Mode(), request, *link_);
    }
    std::optional<Bytes> Waiting() { return app_->TakeWaitingReply(link_->Mode(), *link_); }

    // Through the link, as frames: connect, then one I-frame per command.
    void Connect() {
        ASSERT_EQ(link_->HandleFrame(Bytes{Station, hdlc::SnrmPoll}),
                  (Bytes{Station, hdlc::UaFinal}));
        ns_ = 0;
    }
    std::optional<Bytes> Send(const Bytes& payload) {
        const Bytes header{Station, hdlc::IControl(ns_, link_->SendSequence()), 0xC0, 0x00,
                           static_cast<std::uint8_t>(payload.size())};
        ns_ = (ns_ + 1) & 7;
        return link_->HandleFrame(Cat(header, payload));
    }
    // The payload of an Ericsson I-frame answer, or the body of anything else.
    static Bytes PayloadOf(const Bytes& body) {
        if (body.size() >= 5 && hdlc::IsIFrame(body[1])) return Bytes(body.begin() + 5, body.end());
        return body;
    }

    Clock::time_point now = Clock::time_point{} + 1h;

private:
    std::optional<Vlx400Application> app_;
    std::optional<SecondaryLink> link_;
    std::uint8_t ns_ = 0;
};

}  // namespace

TEST_F(Vlx400Test, EachCommandGetsItsExactReply) {
    Vlx400Settings settings;
    settings.serialNumber = "XXXT0000042";
    settings.softwareVersion = "02.10";
    settings.auxText = "AUX";
    settings.tilt = -15;
    for (std::uint8_t i = 0; i < vlx::DataPageSize; ++i)
        settings.dataPages[3][i] = i;
    Make(settings);

    Bytes page0{0x00, 0x00, 0x00, 0x00, 0x85, 0xB4, 0xC2, 0x50, 'S', 'I', 'M'};
    page0.resize(vlx::DataPageSize, 0);
    Bytes page3;
    for (std::uint8_t i = 0; i < vlx::DataPageSize; ++i)
        page3.push_back(i);

    enum Counted { Not, Unknown, Malformed };
    const struct {
        const char* what;
        Bytes request;
        std::optional<Bytes> reply;
        Counted counted = Not;
    } cases[] = {
        {"open", Message(vlx::OpenRequest, {0x00, 0x01}), Message(vlx::OpenReply)},
        {"poll", Message(vlx::PollRequest), Message(vlx::PollReply)},
        {"prepare 1", Message(vlx::PrepareRequest1), Message(vlx::Prepare1Reply)},
        {"prepare 2", Message(vlx::PrepareRequest2, {0x00, 0x01, 0x01}),
         Message(vlx::Prepare2Reply)},
        {"prepare 3",
         Message(vlx::PrepareRequest3, Cat({0x00, 0x01, 0x00, 0x00, 0x07, 0x08}, Zeros(16))),
         Message(vlx::Prepare3Reply)},
        {"identity: serial number at byte 51", Message(vlx::IdentityRequest),
         Cat(Cat(Message(vlx::IdentityReply), Zeros(43)), Cat(Text("XXXT0000042"), {0}))},
        {"version: boot text at byte 8, version at byte 21", Message(vlx::VersionRequest),
         Cat(Cat(Message(vlx::VersionReply), Cat(Text("BOOT 1.04"), Zeros(4))),
             Cat(Text("02.10"), {0}))},
        {"get tilt: negative in two's complement", GetTilt, TiltValue(-15)},
        {"set tilt to where it stands: done at once", SetTilt(-15), Message(vlx::SetTiltDone)},
        {"set tilt without the tilt", Message(vlx::SetTiltRequest, {0x00, 0x01}),
         Message(vlx::SetTiltRefused), Malformed},
        {"pre-read 1", Vendor(vlx::PreRead1), VendorReply(vlx::PreRead1, 0)},
        {"pre-read 2", Vendor(vlx::PreRead2), VendorReply(vlx::PreRead2, 0)},
        {"page 0 with its valid mark", Vendor(vlx::ReadDataPage, {0}),
         VendorReply(vlx::ReadDataPage, 0, Cat({0}, page0))},
        {"page 3", Vendor(vlx::ReadDataPage, {3}),
         VendorReply(vlx::ReadDataPage, 0, Cat({3}, page3))},
        {"page 4 does not exist", Vendor(vlx::ReadDataPage, {4}),
         VendorReply(vlx::ReadDataPage, vlx::BadParameter, {4})},
        {"page without an index", Vendor(vlx::ReadDataPage),
         VendorReply(vlx::ReadDataPage, vlx::BadParameter)},
        {"model: count, then the key", Vendor(vlx::ReadModel),
         VendorReply(vlx::ReadModel, 0, Cat({5}, Text("M-100")))},
        {"aux text: count, then the text", Vendor(vlx::ReadAuxText),
         VendorReply(vlx::ReadAuxText, 0, Cat({3}, Text("AUX")))},
        {"mode select with an unknown mode", Vendor(vlx::ModeSelect, {0x05}),
         VendorReply(vlx::ModeSelect, vlx::BadParameter)},
        {"mode select without a mode", Vendor(vlx::ModeSelect),
         VendorReply(vlx::ModeSelect, vlx::BadParameter)},
        {"download block before download start", Vendor(vlx::DownloadBlock, {1, 2, 3}),
         VendorReply(vlx::DownloadBlock, vlx::OutOfSequence)},
        {"download end before download start", Vendor(vlx::DownloadEnd),
         VendorReply(vlx::DownloadEnd, vlx::OutOfSequence)},
        {"unknown sub-command", Vendor(0x99), VendorReply(0x99, vlx::UnknownSubCommand), Unknown},
        {"unknown command code", Message(0x01020C99),
         Message(vlx::UnknownCommand, {0x01, 0x02, 0x0C, 0x99}), Unknown},
        {"seven octets", Bytes{0x12, 0x34, 0x56, 0x78, 0x01, 0x02, 0x0C}, std::nullopt, Malformed},
        {"wrong magic", Cat(Big32(0x12345679), Big32(vlx::PollRequest)), std::nullopt, Malformed},
        {"vendor command without a sub-command", Message(vlx::VendorCommand), std::nullopt,
         Malformed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = State();
        const auto reply = Ask(c.request);
        EXPECT_EQ(reply, c.reply) << Hex(reply) << "\nwanted " << Hex(c.reply);
        if (reply) {
            EXPECT_GE(reply->size(), 8u) << "the tool drops a shorter reply";
            EXPECT_LE(reply->size(), vlx::MaxReplyPayload) << "the tool drops a longer frame";
        }
        const auto after = State();
        EXPECT_EQ(after.unknownCommands - before.unknownCommands, c.counted == Unknown ? 1u : 0u);
        EXPECT_EQ(after.malformedCommands - before.malformedCommands,
                  c.counted == Malformed ? 1u : 0u);
    }
}

TEST_F(Vlx400Test, TextsAreCutToWhatTheReplyCanCarry) {
    Vlx400Settings settings;
    settings.serialNumber = std::string(30, 'S');
    settings.softwareVersion = std::string(40, 'V');
    settings.modelKey = std::string(20, 'M');
    settings.auxText = std::string(40, 'A');
    Make(settings);
    const auto identity = Ask(Message(vlx::IdentityRequest));
    ASSERT_TRUE(identity);
    EXPECT_EQ(identity->size(), vlx::MaxReplyPayload) << "the longest serial number just fits";
    EXPECT_EQ(TextAt(*identity, vlx::SerialNumberAt), std::string(20, 'S'));
    EXPECT_EQ(TextAt(*Ask(Message(vlx::VersionRequest)), vlx::VersionAt), std::string(32, 'V'));
    EXPECT_EQ(Ask(Vendor(vlx::ReadModel)),
              VendorReply(vlx::ReadModel, 0, Cat({16}, Bytes(16, 'M'))));
    EXPECT_EQ(Ask(Vendor(vlx::ReadAuxText)),
              VendorReply(vlx::ReadAuxText, 0, Cat({31}, Bytes(31, 'A'))));

    App().SetModelKey("0123456789ABCDEFXYZ");
    EXPECT_EQ(State().modelKey, "0123456789ABCDEF");
}

TEST_F(Vlx400Test, WriteModelStoresTheKeyUpToItsNulOrSixteenOctets) {
    const struct {
        Bytes parameters;
        std::string key;
    } cases[] = {
        {Cat(Text("M-200"), {0}), "M-200"},
        {Text("0123456789ABCDEF"), "0123456789ABCDEF"},
        {Text("0123456789ABCDEFGHIJ"), "0123456789ABCDEF"},
        {Cat(Text("AB"), Cat({0}, Text("CD"))), "AB"},
        {{}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(Ask(Vendor(vlx::WriteModel, c.parameters)), VendorReply(vlx::WriteModel, 0));
        EXPECT_EQ(State().modelKey, c.key);
        const Bytes count{static_cast<std::uint8_t>(c.key.size())};
        EXPECT_EQ(Ask(Vendor(vlx::ReadModel)),
                  VendorReply(vlx::ReadModel, 0, Cat(count, Text(c.key))));
    }
}

TEST_F(Vlx400Test, IdentityReadingAndCheckGoThroughInTheToolsOrder) {
    DataPage page2{};
    page2.fill(0xA5);
    ASSERT_TRUE(App().SetDataPage(2, page2));
    EXPECT_FALSE(App().SetDataPage(4, page2));
    Connect();

    // Identity reading: the next page is the echoed index plus one.
    const auto vendorStep = [&](const Bytes& request, std::uint8_t subCommand) -> Bytes {
        const auto answer = Send(request);
        EXPECT_TRUE(answer);
        const Bytes reply = answer ? PayloadOf(*answer) : Bytes{};
        EXPECT_GE(reply.size(), 10u);
        if (reply.size() < 10) return {};
        EXPECT_EQ(reply[8], subCommand);
        EXPECT_EQ(reply[9], 0) << "status";
        return reply;
    };
    vendorStep(Vendor(vlx::PreRead1), vlx::PreRead1);
    vendorStep(Vendor(vlx::PreRead2), vlx::PreRead2);
    Bytes image;
    std::uint8_t next = 0;
    for (int page = 0; page < 4; ++page) {
        const Bytes reply = vendorStep(Vendor(vlx::ReadDataPage, {next}), vlx::ReadDataPage);
        ASSERT_EQ(reply.size(), 43u);
        image.insert(image.end(), reply.begin() + 11, reply.end());
        next = static_cast<std::uint8_t>(reply[10] + 1);
    }
    EXPECT_EQ(next, 4) << "the last page read was page 3";
    ASSERT_EQ(image.size(), 128u);
    EXPECT_EQ(Bytes(image.begin() + 4, image.begin() + 8), (Bytes{0x85, 0xB4, 0xC2, 0x50}));
    EXPECT_EQ(Bytes(image.begin() + 64, image.begin() + 96), Bytes(32, 0xA5));
    EXPECT_EQ(TextAt(PayloadOf(*Send(Message(vlx::IdentityRequest))), vlx::SerialNumberAt),
              "XXXT0000001");
    EXPECT_EQ(TextAt(PayloadOf(*Send(Message(vlx::VersionRequest))), vlx::VersionAt), "01.23");

    // The check, each step answered with the code it waits for.
    const struct {
        Bytes request;
        std::uint32_t code;
    } check[] = {
        {Message(vlx::VersionRequest), vlx::VersionReply},
        {Vendor(vlx::ReadModel), vlx::VendorCommand},
        {Vendor(vlx::ReadAuxText), vlx::VendorCommand},
        {Message(vlx::OpenRequest, {0x00, 0x01}), vlx::OpenReply},
        {Message(vlx::PollRequest), vlx::PollReply},
        {Message(vlx::PrepareRequest1), vlx::Prepare1Reply},
        {Message(vlx::PollRequest), vlx::PollReply},
        {Message(vlx::PrepareRequest2, {0x00, 0x01, 0x01}), vlx::Prepare2Reply},
        {Message(vlx::PollRequest), vlx::PollReply},
        {Message(vlx::PrepareRequest3, Cat({0x00, 0x01, 0x00, 0x00, 0x07, 0x08}, Zeros(16))),
         vlx::Prepare3Reply},
        {Message(vlx::PollRequest), vlx::PollReply},
        {GetTilt, vlx::GetTiltValue},
    };
    for (std::size_t i = 0; i < std::size(check); ++i) {
        SCOPED_TRACE(i);
        const auto answer = Send(check[i].request);
        ASSERT_TRUE(answer && hdlc::IsIFrame((*answer)[1]));
        const Bytes reply = PayloadOf(*answer);
        ASSERT_GE(reply.size(), 8u);
        EXPECT_EQ(Bytes(reply.begin() + 4, reply.begin() + 8), Big32(check[i].code));
    }
    EXPECT_EQ(Link().RejectedInformation(), 0u);
}

TEST_F(Vlx400Test, TiltMovesAtItsSpeedAndIsReportedDoneWhenItArrives) {
    struct Sample {
        std::chrono::milliseconds at;
        std::int16_t tilt;
    };
    const struct {
        const char* what;
        std::int16_t start;
        std::int16_t target;
        std::int32_t speed;
        std::vector<Sample> samples;
        std::chrono::milliseconds doneAt;
    } moves[] = {
        {"up at 1 degree/s",
         20,
         80,
         10,
         {{0ms, 20}, {1000ms, 30}, {2550ms, 45}, {5999ms, 79}, {6000ms, 80}, {9000ms, 80}},
         6000ms},
        {"down past zero",
         0,
         -15,
         10,
         {{0ms, 0}, {1000ms, -10}, {1499ms, -14}, {1500ms, -15}},
         1500ms},
        {"from negative up at 10 degrees/s",
         -15,
         65,
         100,
         {{0ms, -15}, {100ms, -5}, {150ms, 0}, {799ms, 64}, {800ms, 65}},
         800ms},
    };
    for (const auto& m : moves) {
        SCOPED_TRACE(m.what);
        Vlx400Settings settings;
        settings.tilt = m.start;
        settings.tiltSpeed = m.speed;
        Make(settings);
        const auto start = now;
        EXPECT_EQ(Ask(SetTilt(m.target)), std::nullopt) << "acknowledged, answered when done";
        EXPECT_TRUE(State().setTiltReplyWaiting);
        for (const auto& s : m.samples) {
            SCOPED_TRACE(s.at.count());
            now = start + s.at;
            EXPECT_EQ(Ask(GetTilt), TiltValue(s.tilt));
            EXPECT_EQ(State().currentTilt, s.tilt);
            EXPECT_EQ(State().targetTilt, m.target);
            if (s.at < m.doneAt) {
                EXPECT_TRUE(State().moving);
                EXPECT_EQ(Waiting(), std::nullopt) << "not there yet";
            }
        }
        now = start + m.doneAt;
        EXPECT_EQ(Waiting(), Message(vlx::SetTiltDone));
        EXPECT_EQ(Waiting(), std::nullopt) << "reported once";
        EXPECT_FALSE(State().moving);
    }
}

TEST_F(Vlx400Test, MovesAnsweredAtOnceANewerMoveAndARestartMidway) {
    Vlx400Settings settings;
    settings.setTiltReply = SetTiltReply::AtOnce;
    Make(settings);
    const auto start = now;
    EXPECT_EQ(Ask(SetTilt(100)), Message(vlx::SetTiltDone)) << "answered when accepted";
    now = start + 1s;
    EXPECT_EQ(Ask(GetTilt), TiltValue(10)) << "and still moving";
    EXPECT_EQ(Waiting(), std::nullopt) << "nothing more to say";

    // A newer target takes over from wherever the tilt has got to.
    App().SetSetTiltReply(SetTiltReply::WhenDone);
    now = start + 3s;
    EXPECT_EQ(Ask(SetTilt(0)), std::nullopt);
    now = start + 4s;
    EXPECT_EQ(Ask(GetTilt), TiltValue(20));
    EXPECT_EQ(Waiting(), std::nullopt);
    now = start + 6s;
    EXPECT_EQ(Waiting(), Message(vlx::SetTiltDone));

    // A faster speed applies to the rest of the way.
    EXPECT_EQ(Ask(SetTilt(-100)), std::nullopt);
    now += 2s;
    App().SetTiltSpeed(40);
    now += 1s;
    EXPECT_EQ(State().currentTilt, -60);
    EXPECT_EQ(State().tiltSpeed, 40);

    // A restart stops the motor where it is and forgets the answer.
    App().RestartNow(Link(), 0ms);
    EXPECT_EQ(State().currentTilt, -60);
    EXPECT_EQ(State().targetTilt, -60);
    EXPECT_FALSE(State().setTiltReplyWaiting);
    now += 10s;
    EXPECT_EQ(State().currentTilt, -60);
}

TEST_F(Vlx400Test, RefusedCommandsAnswerAsRefusedAndChangeNothing) {
    using Check = std::function<bool(const Vlx400State&, SecondaryLink&)>;
    const Check nothing = [](const Vlx400State&, SecondaryLink&) { return true; };
    const struct {
        Vlx400Command command;
        Bytes request;
        std::optional<Bytes> refusal;
        Check unchanged;
    } cases[] = {
        {Vlx400Command::SetTilt, SetTilt(50), Message(vlx::SetTiltRefused),
         [](const Vlx400State& s, SecondaryLink&) { return s.targetTilt == 0 && !s.moving; }},
        {Vlx400Command::GetTilt, GetTilt, Message(vlx::GetTiltFailed), nothing},
        {Vlx400Command::PreRead1, Vendor(vlx::PreRead1), VendorReply(vlx::PreRead1, 1), nothing},
        {Vlx400Command::PreRead2, Vendor(vlx::PreRead2), VendorReply(vlx::PreRead2, 1), nothing},
        {Vlx400Command::ReadPage, Vendor(vlx::ReadDataPage, {0}), VendorReply(vlx::ReadDataPage, 1),
         nothing},
        {Vlx400Command::ReadAux, Vendor(vlx::ReadAuxText), VendorReply(vlx::ReadAuxText, 1),
         nothing},
        {Vlx400Command::WriteModel, Vendor(vlx::WriteModel, Cat(Text("NEW"), {0})),
         VendorReply(vlx::WriteModel, 1),
         [](const Vlx400State& s, SecondaryLink&) { return s.modelKey == "M-100"; }},
        {Vlx400Command::ModeSelect, Vendor(vlx::ModeSelect, {0x02}),
         VendorReply(vlx::ModeSelect, 1),
         [](const Vlx400State& s, SecondaryLink&) { return !s.armedMode; }},
        {Vlx400Command::Restart, Vendor(vlx::Restart), VendorReply(vlx::Restart, 1),
         [](const Vlx400State& s, SecondaryLink& link) {
             return s.restarts == 0 && !link.Silent();
         }},
        {Vlx400Command::DownloadStart, Vendor(vlx::DownloadStart),
         VendorReply(vlx::DownloadStart, 1),
         [](const Vlx400State& s, SecondaryLink&) { return !s.imageReceiving; }},
        {Vlx400Command::Identity, Message(vlx::IdentityRequest), std::nullopt, nothing},
        {Vlx400Command::Open, Message(vlx::OpenRequest, {0x00, 0x01}), std::nullopt, nothing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(CommandName(c.command));
        const bool restart = c.command == Vlx400Command::Restart;
        Vlx400Settings settings;
        settings.setTiltReply = SetTiltReply::AtOnce;  // so every command, allowed, is answered
        Make(settings);
        App().Refuse(c.command);
        const auto reply = Ask(c.request);
        EXPECT_EQ(reply, c.refusal) << Hex(reply);
        EXPECT_TRUE(c.unchanged(State(), Link()));
        EXPECT_EQ(State().refusedCommands, 1u);

        App().Refuse(c.command, false);
        const auto again = Ask(c.request);
        if (restart) {
            // Allowed, it takes no reply of its own: the actuator reboots.
            EXPECT_FALSE(again) << Hex(again);
            EXPECT_EQ(State().restarts, 1u);
        } else {
            EXPECT_TRUE(again && again != c.refusal) << Hex(again);
        }
    }
}

TEST_F(Vlx400Test, MovesOutsideTheAllowedRangeAreRefused) {
    App().SetTargetRange(-25, 100);
    const struct {
        std::int16_t target;
        bool accepted;
    } cases[] = {{101, false}, {-26, false}, {-32768, false}, {100, true}, {-25, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.target);
        App().SetTilt(0);
        const auto reply = Ask(SetTilt(c.target));
        if (c.accepted) {
            EXPECT_EQ(reply, std::nullopt);
            EXPECT_EQ(State().targetTilt, c.target);
        } else {
            EXPECT_EQ(reply, Message(vlx::SetTiltRefused));
            EXPECT_EQ(State().targetTilt, 0);
        }
    }
    EXPECT_EQ(State().refusedCommands, 0u) << "the range is the device's own rule, not a fault";
}

TEST_F(Vlx400Test, FirmwareIsStoredInOrderAndItsVersionReportedAfterTheRestart) {
    const Bytes image = Firmware();
    Connect();
    const auto status = [&](const Bytes& request) -> int {
        const auto answer = Send(request);
        if (!answer) return -1;
        const Bytes reply = PayloadOf(*answer);
        return reply.size() == 10 ? reply[9] : -2;
    };
    EXPECT_EQ(status(Vendor(vlx::DownloadStart)), 0);
    EXPECT_EQ(status(Vendor(vlx::DownloadBlock, Bytes(image.begin(), image.begin() + 56))), 0);
    EXPECT_EQ(State().imageReceiving, Bytes(image.begin(), image.begin() + 56));
    EXPECT_EQ(status(Vendor(vlx::DownloadBlock, Bytes(57, 0x11))), vlx::BadParameter);
    EXPECT_EQ(status(Vendor(vlx::DownloadBlock)), vlx::BadParameter);
    EXPECT_EQ(status(Vendor(vlx::DownloadBlock, {image.back()})), 0);
    EXPECT_EQ(status(Vendor(vlx::DownloadEnd)), 0);
    EXPECT_EQ(State().lastImage, image);
    EXPECT_FALSE(State().imageReceiving);
    EXPECT_TRUE(State().imagePendingInstall);
    EXPECT_EQ(TextAt(PayloadOf(*Send(Message(vlx::VersionRequest))), vlx::VersionAt), "01.23")
        << "the new software runs only after the restart";

    // The poll that carries Restart is acknowledged (RR, no reply of its own),
    // then the station is silent.
    const auto start = now;
    const auto answer = Send(Vendor(vlx::Restart));
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 2u);
    EXPECT_TRUE(hdlc::IsSFrame((*answer)[1]));
    EXPECT_TRUE(Link().Silent());
    EXPECT_EQ(Link().Mode(), SimMode::Ericsson);
    now = start + 2999ms;
    EXPECT_EQ(Link().HandleFrame(Bytes{Station, hdlc::RrControl(0)}), std::nullopt);
    now = start + 3000ms;
    EXPECT_EQ(Link().HandleFrame(Bytes{Station, hdlc::RrControl(0)}),
              (Bytes{Station, hdlc::DmFinal}))
        << "back, not connected";
    Connect();
    EXPECT_EQ(TextAt(PayloadOf(*Send(Message(vlx::VersionRequest))), vlx::VersionAt), "02.00");
    EXPECT_EQ(State().softwareVersion, "02.00");
    EXPECT_EQ(State().lastImage, image) << "kept for comparing with the file";
    EXPECT_FALSE(State().imagePendingInstall);
    EXPECT_EQ(State().restarts, 1u);
}

TEST_F(Vlx400Test, TheVersionAfterARestartComesFromAValidImageHeader) {
    const struct {
        const char* what;
        Bytes image;
        bool complete;
        std::string version;
        bool keepVersion = false;
    } cases[] = {
        {"header with its NUL", Firmware(), true, "02.00"},
        {"no NUL in the first ten octets", Cat({0x01, 0x00}, Text("ABCDEFGHIJKL")), true,
         "ABCDEFGH"},
        {"first octet 0", Cat({0x00, 0x00}, Cat(Text("09.99"), {0})), true, "01.23"},
        {"empty version text", Bytes{0x01, 0x00, 0x00, 0x33}, true, "01.23"},
        {"two octets only", Bytes{0x01, 0x00}, true, "01.23"},
        {"download never ended", Firmware(), false, "01.23"},
        {"a loader that refuses the image", Firmware(), true, "01.23", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Vlx400Settings settings;
        settings.keepVersionOnRestart = c.keepVersion;
        Make(settings);
        ASSERT_EQ(Ask(Vendor(vlx::DownloadStart)), VendorReply(vlx::DownloadStart, 0));
        for (std::size_t at = 0; at < c.image.size(); at += vlx::DownloadBlockMax) {
            const auto end = std::min(c.image.size(), at + vlx::DownloadBlockMax);
            ASSERT_EQ(
                Ask(Vendor(vlx::DownloadBlock, Bytes(c.image.begin() + at, c.image.begin() + end))),
                VendorReply(vlx::DownloadBlock, 0));
        }
        if (c.complete) {
            ASSERT_EQ(Ask(Vendor(vlx::DownloadEnd)), VendorReply(vlx::DownloadEnd, 0));
        }
        EXPECT_FALSE(Ask(Vendor(vlx::Restart))) << "no reply is awaited";
        EXPECT_EQ(State().restarts, 1u);
        EXPECT_EQ(State().softwareVersion, c.version);
        EXPECT_FALSE(State().imageReceiving) << "a restart drops a download under way";
        EXPECT_EQ(State().lastImage.has_value(), c.complete);
    }
}

TEST_F(Vlx400Test, ModeSelectAndRestartBringItBackInAisgModeWithoutAnAddress) {
    Connect();
    EXPECT_EQ(PayloadOf(*Send(Vendor(vlx::ModeSelect, {0x02}))), VendorReply(vlx::ModeSelect, 0));
    EXPECT_EQ(State().armedMode, SimMode::Aisg);
    EXPECT_EQ(Link().Mode(), SimMode::Ericsson) << "only armed until the restart";
    const auto acknowledged = Send(Vendor(vlx::Restart));
    ASSERT_TRUE(acknowledged);
    EXPECT_EQ(acknowledged->size(), 2u) << "RR: no reply of its own";
    EXPECT_EQ(Link().Mode(), SimMode::Aisg);
    EXPECT_FALSE(Link().Address());
    EXPECT_FALSE(State().armedMode);

    // Found through the scan once the silence is over, then connected at 20.
    const Bytes assign{0xFF, hdlc::XidPoll, 0x81, 0xF0, 0x03, 0x02, 0x01, Station};
    EXPECT_EQ(Link().HandleFrame(assign), std::nullopt);
    now += 3s;
    const auto found = Link().HandleFrame(assign);
    ASSERT_TRUE(found);
    EXPECT_EQ((*found)[0], Station);
    EXPECT_EQ(Link().HandleFrame(Bytes{Station, hdlc::SnrmPoll}), (Bytes{Station, hdlc::UaFinal}));

    // A restart in AISG mode with nothing armed stays there.
    App().RestartNow(Link(), 0ms);
    EXPECT_EQ(Link().Mode(), SimMode::Aisg);
}

TEST_F(Vlx400Test, AisgFramesStoreTheConfigurationAndLeadBackToEricssonMode) {
    Make({}, SimMode::Aisg);
    Bytes configuration;
    for (std::uint8_t i = 0; i < 64; ++i)
        configuration.push_back(static_cast<std::uint8_t>(0xC0 ^ i));
    EXPECT_EQ(Ask(Aisg(0x32, configuration)), (Bytes{0x32, 0x00, 0x00}));
    const auto stored = State().aisgConfiguration;
    ASSERT_TRUE(stored);
    EXPECT_EQ(Bytes(stored->begin(), stored->end()), configuration);

    EXPECT_EQ(Ask(AisgPrepare), AisgPrepare);
    EXPECT_EQ(Ask(AisgModeSelect), AisgModeSelect) << "byte 0 0x90, byte 5 0x46";
    EXPECT_EQ(State().armedMode, SimMode::Ericsson);
    EXPECT_EQ(Link().Mode(), SimMode::Aisg);
    const auto start = now;
    EXPECT_EQ(Ask(AisgRestart), std::nullopt) << "no reply is awaited";
    EXPECT_EQ(Link().Mode(), SimMode::Ericsson);
    EXPECT_EQ(Link().Address(), Station);
    EXPECT_TRUE(Link().Silent());
    now = start + 3s;
    EXPECT_EQ(Link().HandleFrame(Bytes{Station, hdlc::SnrmPoll}), (Bytes{Station, hdlc::UaFinal}));
    EXPECT_EQ(State().restarts, 1u);
}

TEST_F(Vlx400Test, AisgFieldsItCannotTakeAndVendorProceduresNotItsOwnGetNoAnswer) {
    Make({}, SimMode::Aisg);
    enum Counted { Unknown, Malformed };
    const struct {
        const char* what;
        Bytes field;
        Counted counted;
    } cases[] = {
        {"empty", {}, Malformed},
        {"length cut short", {0x90, 0x03}, Malformed},
        {"length says more than there is", {0x90, 0x03, 0x00, 0x54, 0x51}, Malformed},
        {"length says less than there is", {0x90, 0x02, 0x00, 0x54, 0x51, 0x44}, Malformed},
        {"configuration of 63 octets", Aisg(0x32, Bytes(63, 1)), Malformed},
        {"configuration of 65 octets", Aisg(0x32, Bytes(65, 1)), Malformed},
        {"another vendor", {0x90, 0x03, 0x00, 0x54, 0x52, 0x44}, Unknown},
        {"mode select to another mode", {0x90, 0x04, 0x00, 0x54, 0x51, 0x46, 0xE1}, Unknown},
        {"unknown vendor operation", {0x90, 0x03, 0x00, 0x54, 0x51, 0x99}, Unknown},
        {"a procedure not known, its length not holding", {0x05, 0x01, 0x00}, Malformed},
        {"an Ericsson command", Message(vlx::PollRequest), Malformed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = State();
        EXPECT_EQ(Ask(c.field), std::nullopt);
        const auto after = State();
        EXPECT_EQ(after.unknownCommands - before.unknownCommands, c.counted == Unknown ? 1u : 0u);
        EXPECT_EQ(after.malformedCommands - before.malformedCommands,
                  c.counted == Malformed ? 1u : 0u);
    }
    EXPECT_FALSE(State().aisgConfiguration);
    EXPECT_FALSE(State().armedMode);

    App().Refuse(Vlx400Command::AisgConfigure);
    EXPECT_EQ(Ask(Aisg(0x32, Bytes(64, 1))), std::nullopt);
    EXPECT_FALSE(State().aisgConfiguration);
    EXPECT_EQ(State().refusedCommands, 1u);
}

TEST_F(Vlx400Test, RestartOnTheNthCommandDiesWithoutAnswering) {
    App().RestartOn(RestartTrigger{Vlx400Command::DownloadBlock, 2});
    App().SetRestartSilence(500ms);
    Connect();
    ASSERT_TRUE(Send(Vendor(vlx::DownloadStart)));
    ASSERT_TRUE(Send(Vendor(vlx::DownloadBlock, {1, 2, 3})));
    const auto start = now;
    EXPECT_EQ(Send(Vendor(vlx::DownloadBlock, {4, 5, 6})), std::nullopt) << "not even RR";
    EXPECT_TRUE(Link().Silent());
    EXPECT_FALSE(Link().Connected());
    EXPECT_EQ(State().restarts, 1u);
    EXPECT_FALSE(State().imageReceiving);

    now = start + 500ms;
    Connect();
    ASSERT_TRUE(Send(Vendor(vlx::DownloadStart)));
    EXPECT_EQ(PayloadOf(*Send(Vendor(vlx::DownloadBlock, {1}))),
              VendorReply(vlx::DownloadBlock, 0));
    EXPECT_EQ(PayloadOf(*Send(Vendor(vlx::DownloadBlock, {2}))), VendorReply(vlx::DownloadBlock, 0))
        << "the trigger fires once";
    EXPECT_EQ(State().restarts, 1u);
}

// A real device tells the primary that it does not know a standard procedure
// (FAIL, then UnknownProcedure), where it would otherwise be waited for until
// a time-out; the tool's line trace names that answer.
TEST_F(Vlx400Test, AisgProceduresItDoesNotKnowAreAnsweredUnknownProcedure) {
    Make({}, SimMode::Aisg);
    const struct {
        const char* what;
        Bytes field;
        Bytes answer;
        const char* traced;
    } cases[] = {
        {"get information, no data",
         {0x05, 0x00, 0x00},
         {0x05, 0x02, 0x00, 0x0B, 0x19},
         "procedure 0x05 FAIL UnknownProcedure"},
        {"a standard set tilt",
         Aisg(0x33, {0x41, 0x00}),
         {0x33, 0x02, 0x00, 0x0B, 0x19},
         "procedure 0x33 FAIL UnknownProcedure"},
        {"a code no standard has",
         {0x77, 0x00, 0x00},
         {0x77, 0x02, 0x00, 0x0B, 0x19},
         "procedure 0x77 FAIL UnknownProcedure"},
    };
    const auto namer = SimCommandNamer();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = State();
        const auto answer = Ask(c.field);
        EXPECT_EQ(answer, c.answer) << Hex(answer);
        EXPECT_EQ(State().unknownCommands - before.unknownCommands, 1u);
        if (answer) {
            EXPECT_EQ(namer(*answer, false), c.traced);
        }
    }
    EXPECT_FALSE(State().aisgConfiguration);
    EXPECT_FALSE(State().armedMode);

    // On the link: the answer goes out raw in an I-frame, as every AISG reply.
    const Bytes assign{0xFF, hdlc::XidPoll, 0x81, 0xF0, 0x03, 0x02, 0x01, Station};
    ASSERT_TRUE(Link().HandleFrame(assign));
    ASSERT_EQ(Link().HandleFrame(Bytes{Station, hdlc::SnrmPoll}), (Bytes{Station, hdlc::UaFinal}));
    EXPECT_EQ(Link().HandleFrame(Bytes{Station, hdlc::IControl(0, 0), 0x05, 0x00, 0x00}),
              (Bytes{Station, hdlc::IControl(0, 1), 0x05, 0x02, 0x00, 0x0B, 0x19}));
}

// A refusal with a standard return code reaches the tool as a failure it must
// name, not as a silence it would wait out; the procedure changes nothing.
TEST_F(Vlx400Test, RefusedAisgProceduresAnswerFailWithTheCodeAsked) {
    using Check = std::function<bool(const Vlx400State&, SecondaryLink&)>;
    Bytes configuration(64, 0x11);
    const struct {
        Vlx400Command command;
        Bytes field;
        std::uint8_t code;
        Bytes refusal;
        Check unchanged;
    } cases[] = {
        {Vlx400Command::AisgConfigure,
         Aisg(0x32, configuration),
         0x19,
         {0x32, 0x02, 0x00, 0x0B, 0x19},
         [](const Vlx400State& s, SecondaryLink&) { return !s.aisgConfiguration; }},
        {Vlx400Command::AisgPrepare,
         AisgPrepare,
         0x05,
         {0x90, 0x02, 0x00, 0x0B, 0x05},
         [](const Vlx400State&, SecondaryLink&) { return true; }},
        {Vlx400Command::AisgModeSelect,
         AisgModeSelect,
         0x19,
         {0x90, 0x02, 0x00, 0x0B, 0x19},
         [](const Vlx400State& s, SecondaryLink&) { return !s.armedMode; }},
        {Vlx400Command::AisgRestart,
         AisgRestart,
         0x26,
         {0x90, 0x02, 0x00, 0x0B, 0x26},
         [](const Vlx400State& s, SecondaryLink& link) {
             return s.restarts == 0 && !link.Silent() && link.Mode() == SimMode::Aisg;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(CommandName(c.command));
        Make({}, SimMode::Aisg);
        ASSERT_TRUE(App().RefuseWithReturnCode(c.command, c.code));
        EXPECT_EQ(Ask(c.field), c.refusal);
        EXPECT_TRUE(c.unchanged(State(), Link()));
        EXPECT_EQ(State().refusedCommands, 1u);

        // Refused again without a code: the silence of before.
        App().Refuse(c.command);
        EXPECT_EQ(Ask(c.field), std::nullopt);
        EXPECT_EQ(State().refusedCommands, 2u);

        // Allowed: the usual answer (the restart none, but it restarts).
        App().Refuse(c.command, false);
        const auto again = Ask(c.field);
        EXPECT_NE(again, c.refusal);
        EXPECT_EQ(again.has_value(), c.command != Vlx400Command::AisgRestart) << Hex(again);
    }

    // Ericsson-mode commands have answers of their own for a refusal.
    Make();
    EXPECT_FALSE(App().RefuseWithReturnCode(Vlx400Command::SetTilt, 0x19));
    EXPECT_FALSE(App().RefuseWithReturnCode(Vlx400Command::ModeSelect, 0x19));
    EXPECT_EQ(Ask(SetTilt(0)), Message(vlx::SetTiltDone)) << "nothing refused";
    EXPECT_EQ(Ask(Vendor(vlx::ModeSelect, {0x02})), VendorReply(vlx::ModeSelect, 0));
}

// The conversion back to Ericsson mode is taken frame by frame, yet the
// actuator comes back in AISG mode (without an address, to be found again):
// the tool has to give up after its own number of attempts.
TEST_F(Vlx400Test, ConversionsItIgnoresComeBackInAisgMode) {
    const struct {
        const char* what;
        std::uint32_t ignored;
        int conversionsTillEricsson;  // 0: not within four
        std::uint32_t left;
    } cases[] = {
        {"the first ignored", 1, 2, 0},
        {"two ignored", 2, 3, 0},
        {"every one ignored", EveryConversion, 0, EveryConversion},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Make({}, SimMode::Aisg);
        App().IgnoreConversions(c.ignored);
        // A restart of its own, nothing armed, is no conversion.
        App().RestartNow(Link(), 0ms);
        EXPECT_EQ(State().conversionsIgnoredLeft, c.ignored);
        int conversions = 0;
        while (Link().Mode() == SimMode::Aisg && conversions < 4) {
            ++conversions;
            ASSERT_EQ(Ask(AisgPrepare), AisgPrepare);
            ASSERT_EQ(Ask(AisgModeSelect), AisgModeSelect);
            EXPECT_EQ(Ask(AisgRestart), std::nullopt);
            EXPECT_FALSE(State().armedMode) << "the armed mode is used up either way";
            if (Link().Mode() == SimMode::Aisg) {
                EXPECT_FALSE(Link().Address()) << "found again only through the scan";
            }
        }
        EXPECT_EQ(Link().Mode() == SimMode::Ericsson ? conversions : 0, c.conversionsTillEricsson);
        EXPECT_EQ(State().conversionsIgnoredLeft, c.left);
        EXPECT_EQ(State().restarts, static_cast<std::uint32_t>(conversions) + 1);
    }

    // Into AISG mode for a model change is no conversion back: not held up.
    Vlx400Settings settings;
    settings.conversionsIgnored = EveryConversion;
    Make(settings);
    EXPECT_EQ(Ask(Vendor(vlx::ModeSelect, {0x02})), VendorReply(vlx::ModeSelect, 0));
    EXPECT_EQ(Ask(Vendor(vlx::Restart)), std::nullopt);
    EXPECT_EQ(Link().Mode(), SimMode::Aisg);
}

// The tool sets the tilt from 3.0 to 6.5; the actuator loses power in the
// middle of the move for 5 s and comes back at the tilt it had reached, the
// move abandoned, not connected, in its mode. The cut is placed when it was
// due, however late the next frame (or the simulator's loop) notices it.
TEST_F(Vlx400Test, APowerCutInTheMiddleOfAMoveLeavesTheTiltWhereItWas) {
    for (const auto noticed : {800ms, 2000ms}) {
        SCOPED_TRACE(noticed.count());
        Vlx400Settings settings;
        settings.tilt = 30;
        settings.tiltSpeed = 10;
        settings.powerCutAfter = PowerCutTrigger{Vlx400Command::SetTilt, 1, 800ms, 5000ms};
        Make(settings);
        Connect();
        const auto start = now;
        EXPECT_EQ(Send(SetTilt(65)), (Bytes{Station, hdlc::RrControl(1)})) << "taken";
        EXPECT_EQ(State().powerCutDue, start + 800ms);

        now = start + 799ms;
        EXPECT_EQ(Link().HandleFrame(Bytes{Station, hdlc::RrControl(0)}),
                  (Bytes{Station, hdlc::RrControl(1)}))
            << "still on";
        EXPECT_EQ(State().powerCuts, 0u);
        now = start + noticed;
        EXPECT_EQ(Link().HandleFrame(Bytes{Station, hdlc::RrControl(0)}), std::nullopt) << "off";
        const auto state = State();
        EXPECT_EQ(state.powerCuts, 1u);
        EXPECT_EQ(state.restarts, 1u);
        EXPECT_FALSE(state.powerCutDue);
        EXPECT_EQ(state.currentTilt, 38);
        EXPECT_EQ(state.targetTilt, 38) << "the move is abandoned";
        EXPECT_FALSE(state.setTiltReplyWaiting);

        now = start + 5799ms;
        EXPECT_EQ(Link().HandleFrame(Bytes{Station, hdlc::RrControl(0)}), std::nullopt);
        now = start + 5800ms;
        EXPECT_EQ(Link().HandleFrame(Bytes{Station, hdlc::RrControl(0)}),
                  (Bytes{Station, hdlc::DmFinal}))
            << "back, not connected";
        EXPECT_EQ(Link().Mode(), SimMode::Ericsson);
        Connect();
        EXPECT_EQ(PayloadOf(*Send(GetTilt)), TiltValue(38));
        now += 1h;
        EXPECT_TRUE(Link().HandleFrame(Bytes{Station, hdlc::RrControl(1)}));
        EXPECT_EQ(State().powerCuts, 1u) << "once";
    }
}

// Only what the actuator took counts towards the cut: not a move out of its
// range, nor one a fault refused.
TEST_F(Vlx400Test, APowerCutCountsTheCommandsTakenOnly) {
    Vlx400Settings settings;
    settings.maxTarget = 100;
    settings.setTiltReply = SetTiltReply::AtOnce;
    settings.powerCutAfter = PowerCutTrigger{Vlx400Command::SetTilt, 2, 0ms, 100ms};
    Make(settings);
    const struct {
        const char* what;
        Bytes request;
        bool due;
    } steps[] = {
        {"a move", SetTilt(10), false},
        {"out of range", SetTilt(200), false},
        {"another command", GetTilt, false},
        {"the second move", SetTilt(20), true},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        ASSERT_TRUE(Ask(step.request));
        EXPECT_EQ(State().powerCutDue.has_value(), step.due);
    }
    App().Tick(Link());
    EXPECT_EQ(State().powerCuts, 1u) << "no delay: at the next tick";

    App().PowerCutAfter(PowerCutTrigger{Vlx400Command::SetTilt, 1, 0ms, 100ms});
    App().Refuse(Vlx400Command::SetTilt);
    EXPECT_EQ(Ask(SetTilt(30)), Message(vlx::SetTiltRefused));
    EXPECT_FALSE(State().powerCutDue) << "refused by a fault";
    App().PowerCutAfter(std::nullopt);
    App().Refuse(Vlx400Command::SetTilt, false);
    EXPECT_TRUE(Ask(SetTilt(30)));
    App().Tick(Link());
    EXPECT_EQ(State().powerCuts, 1u) << "disarmed";
}

// A power cut at any moment, as a test calls it: what was under way is lost
// and the actuator comes back as after a restart of its own.
TEST_F(Vlx400Test, APowerCutNowStopsWhatIsUnderWay) {
    Vlx400Settings settings;
    settings.tilt = -20;
    settings.tiltSpeed = 10;
    Make(settings);
    Connect();
    EXPECT_EQ(Ask(Vendor(vlx::DownloadStart)), VendorReply(vlx::DownloadStart, 0));
    EXPECT_EQ(Ask(Vendor(vlx::DownloadBlock, {1, 2, 3})), VendorReply(vlx::DownloadBlock, 0));
    EXPECT_EQ(Ask(SetTilt(20)), std::nullopt);
    now += 1500ms;
    App().PowerCutNow(Link(), 300ms);
    const auto state = State();
    EXPECT_EQ(state.currentTilt, -5);
    EXPECT_FALSE(state.moving);
    EXPECT_FALSE(state.imageReceiving) << "the download is lost";
    EXPECT_EQ(state.powerCuts, 1u);
    EXPECT_EQ(state.restarts, 1u);
    EXPECT_TRUE(Link().Silent());
    EXPECT_FALSE(Link().Connected());
    now += 300ms;
    EXPECT_FALSE(Link().Silent());
    EXPECT_EQ(Link().Mode(), SimMode::Ericsson);
}

// The cable was moved to the next sector's actuator: after the next restart,
// however it comes, another one answers, and only once.
TEST_F(Vlx400Test, AnotherActuatorAnswersAfterTheNextRestart) {
    const struct {
        const char* what;
        std::function<void()> restart;
    } restarts[] = {
        {"a restart of its own", [this] { App().RestartNow(Link(), 0ms); }},
        {"the restart command", [this] { EXPECT_EQ(Ask(Vendor(vlx::Restart)), std::nullopt); }},
        {"a power cut now", [this] { App().PowerCutNow(Link(), 0ms); }},
        {"a power cut after a move",
         [this] {
             App().PowerCutAfter(PowerCutTrigger{Vlx400Command::SetTilt, 1, 0ms, 0ms});
             EXPECT_EQ(Ask(SetTilt(10)), std::nullopt);
             App().Tick(Link());
         }},
    };
    const Bytes image = Firmware();
    const Bytes header(image.begin(), image.begin() + 10);
    const struct {
        const char* what;
        NextIdentity next;
        std::int16_t tilt;
        std::string model;
    } identities[] = {
        {"serial, model and tilt", {"XXXT0000002", std::int16_t{55}, "M-200"}, 55, "M-200"},
        {"a serial number only", {"XXXT0000003", std::nullopt, std::nullopt}, 0, "M-100"},
    };
    for (const auto& r : restarts) {
        for (const auto& identity : identities) {
            SCOPED_TRACE(std::string(r.what) + ", " + identity.what);
            Make();
            // This one took a download; the other one never did.
            ASSERT_EQ(Ask(Vendor(vlx::DownloadStart)), VendorReply(vlx::DownloadStart, 0));
            ASSERT_EQ(Ask(Vendor(vlx::DownloadBlock, header)), VendorReply(vlx::DownloadBlock, 0));
            ASSERT_EQ(Ask(Vendor(vlx::DownloadEnd)), VendorReply(vlx::DownloadEnd, 0));
            App().SetNextIdentity(identity.next);
            ASSERT_TRUE(State().nextIdentity);
            EXPECT_EQ(State().nextIdentity->serialNumber, identity.next.serialNumber);
            EXPECT_EQ(State().serialNumber, "XXXT0000001") << "not before the restart";

            r.restart();
            const auto state = State();
            EXPECT_EQ(state.restarts, 1u);
            EXPECT_EQ(state.serialNumber, identity.next.serialNumber);
            EXPECT_EQ(state.modelKey, identity.model);
            EXPECT_EQ(state.currentTilt, identity.tilt);
            EXPECT_EQ(state.softwareVersion, "01.23") << "the image went to the other one";
            EXPECT_FALSE(state.lastImage);
            EXPECT_FALSE(state.nextIdentity);
            EXPECT_EQ(TextAt(*Ask(Message(vlx::IdentityRequest)), vlx::SerialNumberAt),
                      identity.next.serialNumber);

            App().RestartNow(Link(), 0ms);
            EXPECT_EQ(State().serialNumber, identity.next.serialNumber) << "it stays";
        }
    }
}
