#include "serial/FrameSplitter.h"

namespace kvq::serial {

FrameSplitter::Step FrameSplitter::Octet(std::uint8_t octet) {
    Step step;
    if (!inFrame_) {
        if (octet == Flag) {
            // A flag ends stray octets before it and opens a frame.
            if (length_ > 0) step.endsBefore = End::Outside;
            step.begins = true;
            length_ = 1;
            inFrame_ = true;
            return step;
        }
        if (length_ == 0) step.begins = true;
        if (++length_ >= LongestRun) {
            step.endsWith = End::Outside;
            length_ = 0;
        }
        return step;
    }
    if (octet == Flag) {
        if (escaped_) {
            // The flag that aborted one frame opens the next.
            step.endsWith = End::Abort;
            step.reopens = true;
            length_ = 1;
            escaped_ = false;
        } else if (length_ == 1) {
            // Flags back to back: the last one opens the frame.
            step.begins = true;
        } else {
            step.endsWith = End::Frame;
            length_ = 0;
            inFrame_ = false;
        }
        return step;
    }
    escaped_ = octet == Escape;
    if (++length_ >= LongestRun) {
        step.endsWith = End::Unfinished;
        length_ = 0;
        inFrame_ = false;
        escaped_ = false;
    }
    return step;
}

FrameSplitter::End FrameSplitter::Flush() {
    End end = End::None;
    if (inFrame_ && length_ > 1) {
        end = End::Unfinished;
    } else if (!inFrame_ && length_ > 0) {
        end = End::Outside;
    }
    *this = {};
    return end;
}

std::size_t FrameSplitter::Feed(std::span<const std::uint8_t> octets) {
    std::size_t ends = 0;
    for (const std::uint8_t octet : octets)
        ends += Octet(octet).Ends();
    return ends;
}

}  // namespace kvq::serial
