#include "hdlc/TraceDecoder.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "core/Text.h"
#include "hdlc/FrameCodec.h"

namespace kvq::hdlc {

namespace {

constexpr std::size_t EricssonHeaderSize = 3;  // 0xC0 (or 0xC1), 0x00, payload length
constexpr std::size_t CodeEnd = 8;             // magic and code
constexpr std::uint32_t EricssonMagic = 0x12345678;

std::string Hex(std::span<const std::uint8_t> octets) {
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(octets.size() * 3);
    for (const std::uint8_t octet : octets) {
        if (!text.empty()) text += ' ';
        text += Digits[octet >> 4];
        text += Digits[octet & 0x0F];
    }
    return text;
}

std::string HexByte(const char* prefix, unsigned value, int digits = 2) {
    char text[32];
    std::snprintf(text, sizeof text, "%s0x%0*X", prefix, digits, value);
    return text;
}

std::uint32_t Big32(std::span<const std::uint8_t> octets, std::size_t at) {
    return (std::uint32_t{octets[at]} << 24) | (std::uint32_t{octets[at + 1]} << 16) |
           (std::uint32_t{octets[at + 2]} << 8) | octets[at + 3];
}

std::string_view NameOf(const std::vector<CommandNameTable::Byte>& table, std::uint8_t value) {
    for (const auto& entry : table) {
        if (entry.value == value) return entry.name;
    }
    return {};
}

std::string Tilt(std::span<const std::uint8_t> payload, int at) {
    if (at < 0 || static_cast<std::size_t>(at) + 2 > payload.size()) return {};
    const auto tenths = static_cast<std::int16_t>((payload[at] << 8) | payload[at + 1]);
    return " tilt " + core::TiltText(tenths);
}

std::string Ericsson(const CommandNameTable& names, std::span<const std::uint8_t> payload,
                     bool fromPrimary) {
    const std::uint32_t code = Big32(payload, 4);
    std::string text;
    const CommandNameTable::Code* known = nullptr;
    for (const auto& entry : names.codes) {
        if (entry.code == code) known = &entry;
    }
    text = known ? std::string(known->name) : HexByte("code ", code, 8);
    if (Big32(payload, 0) != EricssonMagic) text += HexByte(" magic ", Big32(payload, 0), 8);
    auto rest = payload.subspan(CodeEnd);
    if (code == names.vendorCode && !rest.empty()) {
        const std::string_view sub = NameOf(names.vendorSubCommands, rest[0]);
        text += ' ';
        text += sub.empty() ? HexByte("sub-command ", rest[0]) : std::string(sub);
        rest = rest.subspan(1);
        if (!fromPrimary && !rest.empty()) {
            text += HexByte(" status ", rest[0]);
            rest = rest.subspan(1);
        }
        if (!rest.empty()) text += " data " + Hex(rest);
        return text;
    }
    if (known) text += Tilt(payload, known->tiltAt);
    if (!rest.empty()) text += " params " + Hex(rest);
    return text;
}

const char* UnnumberedName(std::uint8_t control) {
    switch (control & ~PollFinalBit) {
        case 0x83:
            return "SNRM";
        case 0x63:
            return "UA";
        case 0x0F:
            return "DM";
        case 0x43:
            return "DISC";
        case 0xAF:
            return "XID";
        case 0x87:
            return "FRMR";
        case 0x03:
            return "UI";
        case 0xE3:
            return "TEST";
        default:
            return nullptr;
    }
}

}  // namespace

std::string FormatInformation(const CommandNameTable& names,
                              std::span<const std::uint8_t> information, bool fromPrimary) {
    if (information.size() >= EricssonHeaderSize + CodeEnd &&
        (information[0] == 0xC0 || information[0] == 0xC1) && information[1] == 0x00) {
        auto payload = information.subspan(EricssonHeaderSize);
        const std::size_t length = information[2];
        // The length octet is read from the line: what it covers is named, but
        // never less than the magic and the code, which are there in any case.
        const std::size_t named = std::max(CodeEnd, std::min(length, payload.size()));
        std::string text = Ericsson(names, payload.first(named), fromPrimary);
        if (length != payload.size())
            text += " (length " + std::to_string(length) + ", " + std::to_string(payload.size()) +
                    " octets follow)";
        return text;
    }
    if (information.size() >= 3) {
        const std::string_view name = NameOf(names.aisgProcedures, information[0]);
        if (!name.empty()) {
            std::string text(name);
            if (information.size() > 3) text += " data " + Hex(information.subspan(3));
            return text;
        }
    }
    return "info " + Hex(information);
}

static_assert(serial::FrameSplitter::Flag == Flag && serial::FrameSplitter::Escape == Escape,
              "the trace splits lines by the codec's flag and escape");

void TraceStream::Begin(const serial::TapEntry& entry) {
    current_ = {};
    current_.micros = entry.micros;
    current_.sent = sent_;
    current_.baudRate = entry.baudRate;
    resumed_ = false;
}

void TraceStream::Finish(serial::FrameSplitter::End end, bool echo) {
    using End = serial::FrameSplitter::End;
    if (resumed_) {
        // Its start is gone: counted, never written as if whole.
        resumed_ = false;
        ++cut_;
        current_ = {};
        return;
    }
    current_.kind = end == End::Frame     ? TracedKind::Frame
                    : end == End::Abort   ? TracedKind::Abort
                    : end == End::Outside ? TracedKind::Outside
                                          : TracedKind::Unfinished;
    current_.echo = echo;
    if (current_.kind == TracedKind::Frame) {
        // The body between the flags, transparency undone.
        bool escaped = false;
        std::uint16_t fcs = FcsInit;
        std::vector<std::uint8_t> body;
        for (std::size_t i = 1; i + 1 < current_.line.size(); ++i) {
            const std::uint8_t octet = current_.line[i];
            if (octet == Escape) {
                escaped = true;
                continue;
            }
            body.push_back(escaped ? static_cast<std::uint8_t>(octet ^ EscapeXor) : octet);
            fcs = FcsUpdate(fcs, body.back());
            escaped = false;
        }
        if (body.size() >= 4 && fcs == FcsGood) {
            body.resize(body.size() - 2);
            current_.body = std::move(body);
        } else {
            current_.kind = TracedKind::BadFcs;
        }
    }
    emit_(std::move(current_));
    current_ = {};
}

void TraceStream::Feed(const serial::TapEntry& entry) {
    using End = serial::FrameSplitter::End;
    const auto octets = entry.Octets();
    for (std::size_t i = 0; i < octets.size(); ++i) {
        const serial::FrameSplitter::Step step = splitter_.Octet(octets[i]);
        if (step.endsBefore != End::None) Finish(step.endsBefore, false);
        if (step.begins) Begin(entry);
        current_.line.push_back(octets[i]);
        if (step.endsWith != End::None)
            Finish(step.endsWith, step.endsWith == End::Frame && ((entry.echoEnds >> i) & 1U) != 0);
        if (step.reopens) {
            Begin(entry);
            current_.line.push_back(octets[i]);
        }
    }
}

void TraceStream::Flush() {
    if (const auto end = splitter_.Flush(); end != serial::FrameSplitter::End::None)
        Finish(end, false);
    resumed_ = false;
    current_ = {};
}

void TraceStream::Resume(const serial::FrameSplitter& before) {
    splitter_ = before;
    resumed_ = before.Midway();
    current_ = {};
}

std::string DescribeBody(std::span<const std::uint8_t> body, bool fromPrimary,
                         const InformationNamer& namer) {
    if (body.size() < 2) return "too short";
    std::string text =
        body[0] == BroadcastAddress ? std::string("addr 0xFF (all)") : HexByte("addr ", body[0]);
    const std::uint8_t control = body[1];
    const std::string pf = (control & PollFinalBit) != 0 ? (fromPrimary ? " P" : " F") : "";
    const auto information = body.subspan(2);
    if (IsIFrame(control)) {
        text += " I N(S)=" + std::to_string(NsOf(control)) +
                " N(R)=" + std::to_string(NrOf(control)) + pf;
        if (!information.empty())
            text += " " + (namer ? namer(information, fromPrimary) : "info " + Hex(information));
        return text;
    }
    if (IsSFrame(control)) {
        static constexpr const char* Types[] = {"RR", "RNR", "REJ", "SREJ"};
        text += std::string(" ") + Types[(control >> 2) & 3] +
                " N(R)=" + std::to_string(NrOf(control)) + pf;
    } else {
        const char* name = UnnumberedName(control);
        text += name ? std::string(" ") + name : HexByte(" U ", control);
        text += pf;
    }
    if (!information.empty()) text += " info " + Hex(information);
    return text;
}

namespace {

std::string Stamp(std::int64_t micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%10lld.%03lld", static_cast<long long>(micros / 1000),
                  static_cast<long long>(micros % 1000));
    return text;
}

std::string Baud(std::uint32_t rate) {
    char text[16];
    std::snprintf(text, sizeof text, "%6u", static_cast<unsigned>(rate));
    return text;
}

}  // namespace

std::string TraceTitle(std::string_view program) {
    const std::time_t now = std::time(nullptr);
    char when[32] = "?";
    if (const std::tm* utc = std::gmtime(&now))
        std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", utc);
    return "# " + std::string(program) + " line trace, started " + when +
           ": ms since start, TX/RX, baud, octets as on the line | meaning";
}

std::string FormatTracedFrame(const TracedFrame& frame, bool primary,
                              const InformationNamer& namer) {
    std::string meaning;
    switch (frame.kind) {
        case TracedKind::Frame:
            // An echo is this end's own frame read back: this end sent it.
            meaning = DescribeBody(frame.body, frame.echo ? primary : frame.sent == primary, namer);
            break;
        case TracedKind::BadFcs:
            meaning = frame.line.size() < 6 ? "bad frame: too short for an FCS" : "bad FCS";
            break;
        case TracedKind::Abort:
            meaning = "abort";
            break;
        case TracedKind::Outside:
            meaning = "octets outside frames";
            break;
        case TracedKind::Unfinished:
            meaning = "unfinished frame";
            break;
    }
    if (frame.echo) meaning += " [echo]";
    return Stamp(frame.micros) + (frame.sent ? " TX " : " RX ") + Baud(frame.baudRate) + " " +
           Hex(frame.line) + " | " + meaning;
}

std::string FormatOpened(const serial::TapEntry& entry) {
    const auto name = entry.Octets();
    return Stamp(entry.micros) + " OPEN " + Baud(entry.baudRate) + " " +
           std::string(name.begin(), name.end()) + " | " +
           serial::DescribeLowLatency(entry.latency);
}

std::string FormatClosed(const serial::TapEntry& entry) {
    return Stamp(entry.micros) + " CLOSE | the line was closed";
}

std::string FormatDropped(std::int64_t micros, std::uint64_t count) {
    return Stamp(micros) + " LOST | " + std::to_string(count) +
           " entries dropped: the trace fell behind the line";
}

bool ParseTraceLine(std::string_view text, ParsedTraceLine& into) {
    const auto bar = text.find(" | ");
    if (bar == std::string_view::npos) return false;
    std::string_view head = text.substr(0, bar);
    into = {};
    into.meaning = std::string(text.substr(bar + 3));
    into.echo = into.meaning.ends_with(" [echo]");
    auto word = [&head]() {
        const auto start = head.find_first_not_of(' ');
        if (start == std::string_view::npos) return std::string_view{};
        head.remove_prefix(start);
        const auto end = std::min(head.find(' '), head.size());
        const std::string_view w = head.substr(0, end);
        head.remove_prefix(end);
        return w;
    };
    const std::string_view stamp = word();
    const auto [stampEnd, stampError] =
        std::from_chars(stamp.data(), stamp.data() + stamp.size(), into.ms);
    if (stampError != std::errc() || stampEnd != stamp.data() + stamp.size()) return false;
    const std::string_view direction = word();
    if (direction != "TX" && direction != "RX") return false;
    into.sent = direction == "TX";
    const std::string_view baud = word();
    if (std::from_chars(baud.data(), baud.data() + baud.size(), into.baudRate).ec != std::errc())
        return false;
    for (std::string_view octet = word(); !octet.empty(); octet = word()) {
        unsigned value = 0;
        const auto [end, error] =
            std::from_chars(octet.data(), octet.data() + octet.size(), value, 16);
        if (error != std::errc() || end != octet.data() + octet.size() || octet.size() != 2)
            return false;
        into.line.push_back(static_cast<std::uint8_t>(value));
    }
    return !into.line.empty();
}

}  // namespace kvq::hdlc
