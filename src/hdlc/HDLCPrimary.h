#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <span>

#include "core/CommandBuffer.h"
#include "hdlc/DeadlineTimer.h"
#include "hdlc/FrameCodec.h"
#include "hdlc/LinkDevice.h"
#include "core/ThreadMessages.h"
#include "core/WorkerThread.h"

class CMainDataStore;
class CRS485SerialPort;

enum class LinkMode : std::int32_t { Aisg = 0, Ericsson = 1 };

enum PollState : std::int32_t {
    Transmit = 0,
    TransmitDelay = 1,
    ArmReply = 2,
    AwaitReply = 3,
    Pause = 4,
};

// Where the station's frames go: the serial port on the link thread, a recorder in tests.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual void SendFrameBytes(std::span<const std::uint8_t> frame) = 0;
};

constexpr std::uint8_t ActuatorAddress = 20;
constexpr std::uint8_t MissedPollLimit = 10;

// One secondary station as the primary sees it.
struct SecondaryStation {
    static constexpr std::size_t RingSize = 8;

    SecondaryStation* next = nullptr;
    std::uint8_t sequence = 0;  // V(S) in bits 0 to 2, V(R) in bits 4 to 6
    std::uint8_t address = ActuatorAddress;
    hdlc::FrameReceiver receiver{78};
    bool connected = false;  // normal response mode set up by a UA
    std::array<CommandBufferPtr, RingSize> TransmitQueue;
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

// The primary station of the unbalanced HDLC link in normal response mode. Its
// procedure runs only on the link thread; other threads post it messages.
class CHDLCPrimary {
public:
    CHDLCPrimary();
    virtual ~CHDLCPrimary();
    CHDLCPrimary(const CHDLCPrimary&) = delete;
    CHDLCPrimary& operator=(const CHDLCPrimary&) = delete;

    // Starts the link thread, which alone opens, uses and closes the port; the
    // one secondary stands for the given device.
    void StartLinkThread(CRS485SerialPort& port, CMainDataStore& context, LinkDevice* device);
    bool JoinLinkThread(std::uint32_t withinMs);
    ThreadId LinkThreadId() const { return threadId_.load(); }

    // The variant's operations.
    virtual void OnLinkStart() = 0;
    virtual void DeliverEricssonReply() = 0;
    virtual bool MatchesAddress(std::uint8_t address) = 0;
    virtual void FrameRawCommand(CommandBuffer& buffer) = 0;
    virtual void DeliverAisgReply() = 0;
    virtual void FrameEricssonCommand(CommandBuffer& buffer) = 0;
    virtual void OnLinkUp() = 0;
    virtual void Spare() = 0;

    // Sets up the one secondary for a device; done by the link thread at its start.
    void CreateSecondary(LinkDevice* device);
    // Allocates the receive buffer and calls OnLinkStart.
    void BeginLink();

    void EnqueueCommand(CommandBufferPtr buffer, bool raw);
    void PollSecondary();
    void ProcessFrame();
    void CountMissedPoll(bool missed);
    SecondaryStation* SelectNextSecondary();

    void OnAisgMode();
    void OnEricssonMode();
    void OnSuspendPolling(std::uintptr_t address);
    void OnResumePolling(std::uintptr_t address);

    // Feeds one received octet to the current secondary's receiver.
    bool AcceptByte(std::uint8_t octet);
    void SendFrame(const CommandBuffer& buffer);

    void SetFrameSink(FrameSink* sink) { sink_ = sink; }
    LinkMode Mode() const { return linkMode_.load(); }
    void SetMode(LinkMode mode) { linkMode_.store(mode); }
    SecondaryStation* Current() { return current_; }
    SecondaryStation* First() { return secondaries_.get(); }
    CommandBuffer* ReceiveBuffer() { return receiveBuffer_.get(); }

    PollState pollState = Transmit;
    DeadlineTimer pollTimer;
    CommandBuffer ControlFrame;
    std::atomic<std::int32_t> FailedAttempts{0};
    std::uint8_t ScanResponses = 0;
    std::uint8_t ScanTarget = 0;
    std::int32_t LinkUpFrameCount = 0;

protected:
    // Sends again the I-frames from N(R) on, which the secondary did not take.
    void GoBackTo(SecondaryStation& s, std::uint8_t nr);
    // Hands the receive buffer over to the device's thread and starts a new one.
    void PostReceiveBuffer();
    void PostToDevice(std::uint32_t message);

    std::unique_ptr<SecondaryStation> secondaries_;
    SecondaryStation* current_ = nullptr;
    CommandBufferPtr receiveBuffer_;
    std::atomic<ThreadId> threadId_{0};
    std::atomic<LinkMode> linkMode_{LinkMode::Aisg};
    FrameSink* sink_ = nullptr;
    WorkerThread thread_;
};

// The one variant: Ericsson framing of commands and replies.
class CHDLCEricsson : public CHDLCPrimary {
public:
    void OnLinkStart() override {}
    void DeliverEricssonReply() override;
    bool MatchesAddress(std::uint8_t address) override;
    void FrameRawCommand(CommandBuffer& buffer) override;
    void DeliverAisgReply() override;
    void FrameEricssonCommand(CommandBuffer& buffer) override;
    void OnLinkUp() override {}
    void Spare() override {}
};
