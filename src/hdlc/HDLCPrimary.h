#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "core/CommandBuffer.h"
#include "core/ThreadMessages.h"
#include "hdlc/FrameCodec.h"
#include "hdlc/LinkDevice.h"
#include "hdlc/LinkMode.h"

namespace kvq::hdlc {

// Where the station's frames go: the serial line on the link thread, a recorder in tests.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void SendFrameBytes(std::span<const std::uint8_t> frame) = 0;
};

constexpr std::uint8_t ActuatorAddress = 20;
constexpr std::uint8_t MissedPollLimit = 10;
// The good frames after a UA that make the link count as up.
constexpr std::int32_t LinkUpFrames = 5;

// One secondary station as the primary sees it.
struct SecondaryStation {
    static constexpr std::size_t RingSize = 8;

    SecondaryStation* next = nullptr;
    std::uint8_t sequence = 0;  // V(S) in bits 0 to 2, V(R) in bits 4 to 6
    std::uint8_t address = ActuatorAddress;
    hdlc::FrameReceiver receiver{78};
    bool connected = false;  // normal response mode set up by a UA
    std::array<core::CommandBufferPtr, RingSize> TransmitQueue;
    std::uint8_t writeIndex = 0;
    std::uint8_t readIndex = 0;
    bool PollingSuspended = false;
    std::uint8_t MissedPollCountdown = MissedPollLimit;
    std::int32_t FramesSinceConnect = 0;
    LinkDevice* device = nullptr;

    std::uint8_t Vs() const { return sequence & 7; }
    std::uint8_t Vr() const { return (sequence >> 4) & 7; }
    void SetVs(std::uint8_t vs) {
        sequence = static_cast<std::uint8_t>((sequence & 0x70) | (vs & 7));
    }
    void SetVr(std::uint8_t vr) {
        sequence = static_cast<std::uint8_t>((sequence & 0x07) | ((vr & 7) << 4));
    }
    bool RingEmpty() const { return readIndex == writeIndex; }
    // Every buffer, sent or not, is freed and the ring is empty.
    void FreeRing();
    // Buffers not yet sent are freed; sent ones wait for their acknowledgement.
    void DropUnsent();
    // Back to the state after the link thread's start-up pause.
    void Initialise();
};

// What a good frame meant beyond the station itself.
enum class FrameMeaning : std::uint8_t {
    Ordinary,
    ScanAnswer,  // an answer to the address assignment: a station in AISG mode is there
};

// The primary station of the unbalanced HDLC link in normal response mode:
// its state and procedure, no thread and no I/O. The link thread drives it;
// what it sends goes to the frame sink, what it receives it posts to the device.
class CHDLCPrimary {
public:
    explicit CHDLCPrimary(std::int32_t linkUpFrameCount = LinkUpFrames);
    CHDLCPrimary(const CHDLCPrimary&) = delete;
    CHDLCPrimary& operator=(const CHDLCPrimary&) = delete;

    // Sets up the one secondary for a device, in the state of a new link,
    // with an empty receive buffer.
    void CreateSecondary(LinkDevice* device);

    void EnqueueCommand(core::CommandBufferPtr buffer, bool raw);
    void PollSecondary();
    // Handles the good frame now in the receive buffer.
    FrameMeaning ProcessFrame();
    void CountMissedPoll(bool missed);
    SecondaryStation* SelectNextSecondary();

    // The secondary looks for a station in AISG mode (broadcast address) or
    // talks to the actuator's address again; either changes the link's mode.
    void OnAisgMode();
    void OnEricssonMode();
    void OnSuspendPolling(std::uintptr_t address);
    void OnResumePolling(std::uintptr_t address);

    // Feeds one received octet to the current secondary's receiver; true when
    // it closed a good frame.
    bool AcceptByte(std::uint8_t octet);

    void SetFrameSink(FrameSink* sink) { sink_ = sink; }
    // Read by other threads.
    LinkMode Mode() const { return linkMode_.load(); }
    void SetMode(LinkMode mode) { linkMode_.store(mode); }
    std::int32_t LinkUpFrameCount() const { return linkUpFrameCount_; }
    SecondaryStation* Current() { return current_; }
    const SecondaryStation* Current() const { return current_; }
    SecondaryStation* First() { return secondaries_.get(); }
    core::CommandBuffer* ReceiveBuffer() { return receiveBuffer_.get(); }
    const core::CommandBuffer* ReceiveBuffer() const { return receiveBuffer_.get(); }

private:
    void SendFrame(const core::CommandBuffer& buffer);
    bool MatchesAddress(std::uint8_t address) const;
    void FrameRawCommand(core::CommandBuffer& buffer) const;
    void FrameEricssonCommand(core::CommandBuffer& buffer) const;
    void DeliverEricssonReply();
    void DeliverAisgReply();
    // Sends again the I-frames from N(R) on, which the secondary did not take.
    void GoBackTo(SecondaryStation& s, std::uint8_t nr);
    // Hands the receive buffer over to the device's thread and starts a new one.
    void PostReceiveBuffer();
    void PostToDevice(std::uint32_t message);

    std::unique_ptr<SecondaryStation> secondaries_;
    SecondaryStation* current_ = nullptr;
    core::CommandBufferPtr receiveBuffer_;
    core::CommandBuffer controlFrame_;
    std::atomic<LinkMode> linkMode_{LinkMode::Aisg};
    const std::int32_t linkUpFrameCount_;
    FrameSink* sink_ = nullptr;
};

}  // namespace kvq::hdlc
