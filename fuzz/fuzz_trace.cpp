// The line trace's decoder on arbitrary octets, as the line can deliver them:
// both directions, in runs of any length up to a tap entry's, with echo marks
// anywhere, named with the tool's own command table. Whatever arrives, every
// frame it writes reads back from its line as the same octets, and nothing is
// read outside what was fed.
//
// A frame reaches the names of its information only with a good FCS, which
// random octets seldom have, so the whole input after the flags is also named
// as an I-frame's information directly.
//
// Input: a byte of flags (bit 0: the tool's side, bit 1: a flush at the end),
// then runs, each a length byte (taken modulo a tap entry's capacity, plus
// one), an echo-mark byte, and that many octets.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "FuzzSupport.h"
#include "actuator/TraceNames.h"
#include "hdlc/TraceDecoder.h"
#include "serial/LineTap.h"

using namespace kvq::hdlc;
using kvq::serial::TapEntry;
using kvq::serial::TapKind;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool sent = (data[0] & 1) != 0;
    const bool flush = (data[0] & 2) != 0;
    const InformationNamer namer = [](std::span<const std::uint8_t> information, bool fromPrimary) {
        return FormatInformation(kvq::actuator::CommandNames(), information, fromPrimary);
    };
    FUZZ_REQUIRE(!namer(std::span<const std::uint8_t>(data + 1, size - 1), sent).empty());

    TraceStream stream(sent, [&](TracedFrame&& frame) {
        const std::string text = FormatTracedFrame(frame, true, namer);
        ParsedTraceLine parsed;
        FUZZ_REQUIRE(ParseTraceLine(text, parsed));
        FUZZ_REQUIRE(parsed.line == frame.line);
        FUZZ_REQUIRE(parsed.sent == sent);
    });

    std::size_t at = 1;
    std::int64_t micros = 0;
    while (at + 2 <= size) {
        const std::size_t want = data[at] % TapEntry::Capacity + 1;
        const std::uint8_t marks = data[at + 1];
        at += 2;
        const std::size_t take = std::min(want, size - at);
        TapEntry entry;
        entry.micros = micros += 500;
        entry.baudRate = 115200;
        entry.kind = sent ? TapKind::Sent : TapKind::Received;
        entry.size = static_cast<std::uint8_t>(take);
        std::copy_n(data + at, take, entry.octets.begin());
        // An echo mark at one octet of the run, where the mark byte says.
        if (take > 0 && (marks & 0x80) != 0) entry.echoEnds = std::uint64_t{1} << (marks % take);
        stream.Feed(entry);
        at += take;
    }
    if (flush) stream.Flush();
    return 0;
}
