#include "serial/EchoFilter.h"

namespace kvq::serial {

void EchoFilter::Reset() {
    expected_.clear();
    matched_ = 0;
    expecting_ = false;
    provesEcho_ = false;
    echoing_.store(false, std::memory_order_relaxed);
    dropped_.store(0, std::memory_order_relaxed);
}

void EchoFilter::Sent(std::span<const std::uint8_t> frame, Copy copy) {
    expected_.assign(frame.begin(), frame.end());
    matched_ = 0;
    provesEcho_ = copy == Copy::ProvesEcho;
    // Before the line is known to echo, a copy of a frame the far end may send
    // is its answer: nothing to look for.
    expecting_ = !expected_.empty() && (provesEcho_ || Echoing());
}

EchoVerdict EchoFilter::Take(std::uint8_t octet) {
    if (!expecting_) return EchoVerdict::Answer;
    const bool idleRepeat =
        matched_ == 1 && expected_.size() > 1 && octet == expected_[0] && octet != expected_[1];
    if (!idleRepeat) {
        if (octet != expected_[matched_]) {
            // Not the copy: this octet and everything up to the next frame sent
            // are the far end's. A frame the far end never sends that does not
            // come back first shows a line that does not echo (another adapter
            // behind the same port, or a corrupted echo, which the next such
            // frame puts right).
            expecting_ = false;
            if (provesEcho_) echoing_.store(false, std::memory_order_relaxed);
            return EchoVerdict::Answer;
        }
        ++matched_;
    }
    if (matched_ < expected_.size()) return Echoing() ? EchoVerdict::Echo : EchoVerdict::Answer;

    expecting_ = false;
    echoing_.store(true, std::memory_order_relaxed);
    dropped_.fetch_add(1, std::memory_order_relaxed);
    if (observer_) observer_(expected_);
    return EchoVerdict::EchoEnd;
}

}  // namespace kvq::serial
