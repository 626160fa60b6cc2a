#include "hdlc/FrameCodec.h"

using namespace kvq::core;

namespace kvq::hdlc {

namespace {

void PushEscaped(FrameBytes& out, std::uint8_t octet) {
    if (octet == Flag || octet == Escape) {
        out.Push(Escape);
        out.Push(static_cast<std::uint8_t>(octet ^ EscapeXor));
    } else {
        out.Push(octet);
    }
}

}  // namespace

std::uint16_t FrameCheck(std::span<const std::uint8_t> body) {
    std::uint16_t fcs = FcsInit;
    for (std::uint8_t octet : body)
        fcs = FcsUpdate(fcs, octet);
    return static_cast<std::uint16_t>(fcs ^ 0xFFFF);
}

void EncodeFrame(std::span<const std::uint8_t> body, FrameBytes& out) {
    out.Clear();
    out.Push(Flag);
    std::uint16_t fcs = FcsInit;
    for (std::uint8_t octet : body) {
        fcs = FcsUpdate(fcs, octet);
        PushEscaped(out, octet);
    }
    fcs ^= 0xFFFF;
    PushEscaped(out, static_cast<std::uint8_t>(fcs & 0xFF));
    PushEscaped(out, static_cast<std::uint8_t>(fcs >> 8));
    out.Push(Flag);
}

void FrameReceiver::Reset() {
    inFrame_ = false;
    escapePending_ = false;
    overflow_ = false;
    count_ = 0;
    fcs_ = FcsInit;
}

bool FrameReceiver::AcceptByte(std::uint8_t octet, std::span<std::uint8_t> storage,
                               std::size_t& length) {
    if (octet == Flag) {
        // An escape followed by a flag aborts the frame; the flag opens the next.
        if (escapePending_) inFrame_ = false;
        if (!inFrame_) {
            // Opening flag.
            length = 0;
            inFrame_ = true;
            overflow_ = false;
            escapePending_ = false;
            count_ = 0;
            fcs_ = FcsInit;
            return false;
        }
        // A flag this early is a doubled flag or line noise, not a frame end.
        if (count_ < 4) return false;
        inFrame_ = false;
        count_ = 0;
        return fcs_ == FcsGood && !overflow_;
    }
    if (!inFrame_) return false;  // octets between frames
    if (octet == Escape) {
        escapePending_ = true;
        return false;
    }
    if (escapePending_) {
        octet ^= EscapeXor;
        escapePending_ = false;
    }
    if (count_ > limit_ || length >= storage.size()) {
        overflow_ = true;
    } else {
        storage[length++] = octet;
    }
    ++count_;
    fcs_ = FcsUpdate(fcs_, octet);
    return false;
}

bool FrameReceiver::AcceptByte(std::uint8_t octet, CommandBuffer& buffer) {
    if (octet == Flag && (!inFrame_ || escapePending_)) buffer.Clear();
    std::size_t length = buffer.length;
    const bool good = AcceptByte(octet, std::span<std::uint8_t>(buffer.data), length);
    buffer.length = static_cast<std::uint8_t>(length);
    return good;
}

}  // namespace kvq::hdlc
