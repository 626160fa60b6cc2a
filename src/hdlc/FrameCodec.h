#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/CommandBuffer.h"

namespace kvq::hdlc {

// HDLC asynchronous framing: flags, octet transparency and the 16-bit frame
// check sequence, shared by the link and the simulated actuator.

constexpr std::uint8_t Flag = 0x7E;
constexpr std::uint8_t Escape = 0x7D;
constexpr std::uint8_t EscapeXor = 0x20;

constexpr std::uint16_t FcsInit = 0xFFFF;
// What the register holds after a good frame's FCS octets have run through it.
constexpr std::uint16_t FcsGood = 0xF0B8;

constexpr std::uint8_t BroadcastAddress = 0xFF;

// Control octets.
constexpr std::uint8_t SnrmPoll = 0x93;
constexpr std::uint8_t UaFinal = 0x73;
constexpr std::uint8_t DmFinal = 0x1F;
constexpr std::uint8_t XidPoll = 0xBF;
constexpr std::uint8_t XidFinal = 0xBF;
constexpr std::uint8_t PollFinalBit = 0x10;

constexpr std::uint8_t RrControl(std::uint8_t nr) {
    return static_cast<std::uint8_t>(0x11 | ((nr & 7) << 5));
}
constexpr std::uint8_t IControl(std::uint8_t ns, std::uint8_t nr) {
    return static_cast<std::uint8_t>(((ns & 7) << 1) | PollFinalBit | ((nr & 7) << 5));
}
constexpr bool IsIFrame(std::uint8_t control) {
    return (control & 0x01) == 0;
}
constexpr bool IsSFrame(std::uint8_t control) {
    return (control & 0x03) == 0x01;
}
constexpr bool IsUFrame(std::uint8_t control) {
    return (control & 0x03) == 0x03;
}
constexpr std::uint8_t NsOf(std::uint8_t control) {
    return (control >> 1) & 7;
}
constexpr std::uint8_t NrOf(std::uint8_t control) {
    return (control >> 5) & 7;
}

// Updates the FCS register with one octet, bit-serial style without a table.
constexpr std::uint16_t FcsUpdate(std::uint16_t fcs, std::uint8_t octet) {
    unsigned t = (octet ^ fcs) & 0xFFu;
    t = (t ^ (t << 4)) & 0xFFu;
    return static_cast<std::uint16_t>((fcs >> 8) ^ (t << 8) ^ (t << 3) ^ (t >> 4));
}

// The FCS as sent: the register over the octets, complemented.
std::uint16_t FrameCheck(std::span<const std::uint8_t> body);

// The octets of one frame on the line. The longest body a CommandBuffer holds,
// every octet escaped, with flags and FCS, stays well inside the capacity.
class FrameBytes {
public:
    static constexpr std::size_t Capacity = 256;
    void Clear() { size_ = 0; }
    void Push(std::uint8_t octet) {
        if (size_ < Capacity) bytes_[size_++] = octet;
    }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t size() const { return size_; }
    std::span<const std::uint8_t> span() const { return {bytes_.data(), size_}; }

private:
    std::array<std::uint8_t, Capacity> bytes_{};
    std::size_t size_ = 0;
};

// Builds the complete frame for a body (address, control, information):
// opening flag, body and FCS with transparency, closing flag.
void EncodeFrame(std::span<const std::uint8_t> body, FrameBytes& out);

// The receiving half: fed one octet at a time, it collects the unescaped octets
// of a frame and answers true on the closing flag of a good one. Octets are
// stored while the count before the octet is at most the limit, so with a limit
// of 78 a frame of at most 79 octets (address through FCS) is accepted; a longer
// one is dropped whatever its FCS.
class FrameReceiver {
public:
    explicit FrameReceiver(std::uint32_t limit = 78) : limit_(limit) {}

    // Stores into storage (from index 0, advancing length). Answers true when
    // this octet closed a good frame, which then stands in storage[0, length).
    bool AcceptByte(std::uint8_t octet, std::span<std::uint8_t> storage, std::size_t& length);
    // The link's receive buffer: its header fields are zeroed on an opening flag.
    bool AcceptByte(std::uint8_t octet, core::CommandBuffer& buffer);

    // Abandons a frame half received; the next flag opens a new one.
    void AbandonFrame() { inFrame_ = false; }
    void Reset();

    bool InFrame() const { return inFrame_; }
    bool Overflow() const { return overflow_; }
    bool EscapePending() const { return escapePending_; }
    std::uint32_t Count() const { return count_; }
    std::uint16_t Fcs() const { return fcs_; }
    std::uint32_t Limit() const { return limit_; }

private:
    std::uint32_t limit_;
    bool inFrame_ = false;
    bool escapePending_ = false;
    bool overflow_ = false;
    std::uint32_t count_ = 0;
    std::uint16_t fcs_ = FcsInit;
};

}  // namespace kvq::hdlc
