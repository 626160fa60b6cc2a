#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "serial/FrameSplitter.h"
#include "serial/LineTap.h"

namespace kvq::hdlc {

// What a run of octets off a tap turned out to be.
enum class TracedKind : std::uint8_t {
    Frame,       // flags, body, a good FCS
    BadFcs,      // flags around a body whose FCS fails (or too short to hold one)
    Abort,       // a frame ended by an escape and a flag
    Outside,     // octets between frames that open none
    Unfinished,  // a frame begun but not ended when the line closed or the trace ended
};

// One frame (or run of octets) in a trace, in the order it crossed the line.
struct TracedFrame {
    std::int64_t micros = 0;  // of the run holding its first octet
    bool sent = false;        // written by this end; else read
    std::uint32_t baudRate = 0;
    TracedKind kind = TracedKind::Frame;
    bool echo = false;               // this end's own frame read back (dropped by the link)
    std::vector<std::uint8_t> line;  // the octets as on the line, flags included
    std::vector<std::uint8_t> body;  // Frame: address, control, information (no FCS)
};

// Names the information field of an I-frame: the command or reply and its
// parameters. fromPrimary tells which way the frame went.
using InformationNamer =
    std::function<std::string(std::span<const std::uint8_t> information, bool fromPrimary)>;

// The application's names for the Ericsson-mode messages (4-octet magic,
// 4-octet code, parameters after a three-octet header) and AISG procedures
// (code, 16-bit little-endian length, data). The layer that knows the command
// set fills it in; FormatInformation reads it.
struct CommandNameTable {
    struct Code {
        std::uint32_t code;
        std::string_view name;
        int tiltAt = -1;  // where a 16-bit tilt in tenths of a degree stands, if any
    };
    struct Byte {
        std::uint8_t value;
        std::string_view name;
    };
    std::vector<Code> codes;
    std::uint32_t vendorCode = 0;
    std::vector<Byte> vendorSubCommands;
    std::vector<Byte> aisgProcedures;
};

// "OpenRequest params 00 01", "SetTiltRequest tilt 3.5 params 00 23",
// "VendorCommand ReadModel status 00 data 41 42 00", an AISG procedure by name,
// or the octets when nothing matches.
std::string FormatInformation(const CommandNameTable& names,
                              std::span<const std::uint8_t> information, bool fromPrimary);

// Splits the octets of one direction into frames.
class TraceStream {
public:
    using Emit = std::function<void(TracedFrame&&)>;

    // The longest run kept as one line: a longer frame or run of stray octets
    // is written in pieces.
    static constexpr std::size_t LongestRun = serial::FrameSplitter::LongestRun;

    TraceStream(bool sent, Emit onFrame) : sent_(sent), emit_(std::move(onFrame)) {}
    void Feed(const serial::TapEntry& entry);
    // A frame or stray octets not yet ended are written as they stand.
    void Flush();
    // Goes on from where octets no longer at hand left the direction: a line
    // they began is not written when it ends (its start is missing), only
    // counted in Cut.
    void Resume(const serial::FrameSplitter& before);
    std::size_t Cut() const { return cut_; }

private:
    void Begin(const serial::TapEntry& entry);
    void Finish(serial::FrameSplitter::End end, bool echo);

    bool sent_;
    Emit emit_;
    serial::FrameSplitter splitter_;
    bool resumed_ = false;  // the line under way began before what was fed
    std::size_t cut_ = 0;
    TracedFrame current_;
};

// The meaning of a good frame's body: address, type, N(S)/N(R), P/F and, for
// an I-frame, what the namer makes of the information.
std::string DescribeBody(std::span<const std::uint8_t> body, bool fromPrimary,
                         const InformationNamer& namer);

// The first line of a trace file: which program, when it started (UTC) and
// what the columns are.
std::string TraceTitle(std::string_view program);

// One line of a trace file (without its line end):
//   "   123.456 TX 115200 7E 14 11 BE FC 7E | addr 0x14 RR N(R)=0 P"
std::string FormatTracedFrame(const TracedFrame& frame, bool primary,
                              const InformationNamer& namer);
// "     0.000 OPEN 115200 /dev/ttyUSB0 | low latency: ..."
std::string FormatOpened(const serial::TapEntry& entry);
std::string FormatClosed(const serial::TapEntry& entry);
// "   512.000 LOST | 17 entries dropped: the trace fell behind the line"
std::string FormatDropped(std::int64_t micros, std::uint64_t count);

// A line of a trace file read back: the frame it names, for a program that
// checks one trace against another. None for a line that names no frame.
struct ParsedTraceLine {
    double ms = 0;
    bool sent = false;
    std::uint32_t baudRate = 0;
    std::vector<std::uint8_t> line;
    std::string meaning;
    bool echo = false;
};
bool ParseTraceLine(std::string_view text, ParsedTraceLine& into);

}  // namespace kvq::hdlc
