#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace kvq::serial {

// What one octet read from the line is, as the echo filter sees it.
enum class EchoVerdict : std::uint8_t {
    Answer,   // not known to be part of an echo: handled as received
    Echo,     // continues the copy of the frame just sent, on a line known to echo
    EchoEnd,  // completes that copy: the frame read back is the line's echo, to be dropped
};

// Some two-wire RS-485 adapters keep their receiver on while they send, so
// every frame written comes back before the far end's answer. The filter
// recognises that copy by order, never by content alone: only an exact copy of
// the octets last written that arrives first, before anything else, is an echo.
//
// Content is not enough because a far end's answer can equal the frame it
// answers (an RR answer to an RR poll is byte for byte the poll). So each
// frame sent is marked with whether the far end could ever send it:
//   - A frame the far end never sends (ProvesEcho) read back first is an echo
//     for certain: it is dropped and from then on the line is known to echo.
//   - A frame the far end might send (MayBeAnswer) read back first is left
//     alone until the line is known to echo; after that, the leading exact
//     copy of every frame sent is dropped.
//   - A frame the far end never sends whose copy does not come first shows a
//     line that does not echo (any more): the filter forgets the echo.
// On a line that does not echo nothing is ever dropped, as nothing the far end
// sends can equal a ProvesEcho frame.
//
// Repeated copies of the first octet before the second (idle flags) are taken
// as part of the copy; any other difference ends the matching for that frame,
// so a corrupted echo is handed on (and fails its own check) and whatever
// follows it is an answer.
//
// Used by one thread, the line's; Echoing may be read by any.
class EchoFilter {
public:
    enum class Copy : std::uint8_t { MayBeAnswer, ProvesEcho };

    // Called with each frame dropped as an echo, its octets as on the line, on
    // the line's thread: it must not block.
    using Observer = std::function<void(std::span<const std::uint8_t> frame)>;

    // A new line: nothing known of it, nothing expected.
    void Reset();
    // The frame just written, its octets as they went on the line.
    void Sent(std::span<const std::uint8_t> frame, Copy copy);
    // The next octet read from the line.
    EchoVerdict Take(std::uint8_t octet);

    // True once a frame the far end never sends has been read back, until one
    // does not come back first.
    bool Echoing() const { return echoing_.load(std::memory_order_relaxed); }
    // Frames dropped as echoes since the line was opened.
    std::uint32_t DroppedFrames() const { return dropped_.load(std::memory_order_relaxed); }
    // Set before the line's thread starts; told of every frame dropped.
    void SetObserver(Observer observer) { observer_ = std::move(observer); }

private:
    std::vector<std::uint8_t> expected_;
    std::size_t matched_ = 0;
    bool expecting_ = false;
    bool provesEcho_ = false;
    std::atomic<bool> echoing_{false};
    std::atomic<std::uint32_t> dropped_{0};
    Observer observer_;
};

}  // namespace kvq::serial
