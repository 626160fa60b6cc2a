#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kvq::serial {

// Where the lines of a line trace begin and end in the octets of one
// direction: a frame from its opening flag to its closing one, stray octets
// between frames, a frame aborted by an escape and a flag, a run cut at the
// longest line, and what a flush ends as it stands. It keeps no octets and
// allocates nothing, so the line's own thread can count the lines of what its
// tap forgets by the same rule the decoder splits by.
class FrameSplitter {
public:
    static constexpr std::uint8_t Flag = 0x7E;
    static constexpr std::uint8_t Escape = 0x7D;
    // The longest run kept as one line: a longer frame or run of stray octets
    // is written in pieces.
    static constexpr std::size_t LongestRun = 600;

    // How a line ended.
    enum class End : std::uint8_t { None, Frame, Abort, Outside, Unfinished };

    // What one octet does, in this order: the line ends before it
    // (endsBefore); a new line begins with it (begins; a line begun and not
    // ended is dropped unwritten, as a lone flag before another is); it joins
    // the line; the line ends with it (endsWith); it also opens the next line
    // (reopens: the flag that aborted a frame).
    struct Step {
        End endsBefore = End::None;
        bool begins = false;
        End endsWith = End::None;
        bool reopens = false;

        std::size_t Ends() const {
            return (endsBefore != End::None ? 1 : 0) + (endsWith != End::None ? 1 : 0);
        }
    };

    Step Octet(std::uint8_t octet);
    // Ends the line not yet ended, as it stands (None when there is none to
    // write), and starts afresh.
    End Flush();
    // How many lines these octets end.
    std::size_t Feed(std::span<const std::uint8_t> octets);
    // A line has begun and not yet ended.
    bool Midway() const { return length_ > 0; }

private:
    bool inFrame_ = false;
    bool escaped_ = false;
    std::uint16_t length_ = 0;  // octets of the current line so far
};

}  // namespace kvq::serial
