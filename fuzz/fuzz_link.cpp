// The link's frame receiver and primary station on whatever the line brings.
// Whatever arrives, the station must keep its ring, sequence numbers and
// buffers sound, put only well-formed frames on the line, hand the device only
// blocks that fit, and free every block it drops.
//
// Input: one set-up byte, then the line.
//   bits 0-1  0 Ericsson mode; 1 AISG mode, scanning at the broadcast address;
//             2 AISG mode at address 20; 3 Ericsson mode again after a scan
//   bit 2     connected first (a UA from the line)
//   bit 3     the device has no queue, so every post to it is refused
//   bits 4-6  good frames after a UA until the link is announced, less one
//   bit 7     body mode (below)
// Line mode: every byte goes to the receiver as it is, and every good frame to
// the station. A byte between frames, which the receiver ignores, also says
// what the station does next (Act).
// Body mode: a byte below 0x80 is the length of the frame body that follows,
// which is sent as one frame with a correct FCS, so the fuzzer reaches the
// station's procedure without having to find checksums; a byte from 0x80 up
// is an action.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "FuzzSupport.h"
#include "core/CommandBuffer.h"
#include "core/ThreadMessages.h"
#include "hdlc/FrameCodec.h"
#include "hdlc/HDLCPrimary.h"

using namespace kvq::core;
using namespace kvq::hdlc;
namespace hdlc = kvq::hdlc;

namespace {

// The device's end of the link: a queue drained after every frame.
class QueueDevice final : public LinkDevice {
public:
    explicit QueueDevice(bool withQueue) : id_(withQueue ? NewThreadId() : 0) {
        if (id_ != 0) CreateMessageQueue(id_);
    }
    ~QueueDevice() override { DestroyMessageQueue(id_); }
    hdlc::LinkDeviceState LinkState() const override { return hdlc::LinkDeviceState::Idle; }
    ThreadId LinkThreadIdOfDevice() const override { return id_; }

    // Takes every message, checks what it carries and frees its block.
    void Drain() const {
        ThreadMessage message;
        while (TakeMessage(id_, message)) {
            switch (message.number) {
                case MsgCommand: {
                    const CommandBuffer* reply = message.lParam.get();
                    FUZZ_REQUIRE(reply != nullptr);
                    FUZZ_REQUIRE(reply->dataOffset == 5 || reply->dataOffset == 2);
                    FUZZ_REQUIRE(std::size_t{reply->dataOffset} + reply->length <=
                                 CommandBuffer::DataSize);
                    break;
                }
                case MsgLinkUp:
                case MsgLinkDown:
                case MsgDeviceLost:
                case MsgAisgDeviceFound:
                    FUZZ_REQUIRE(message.lParam == nullptr);
                    break;
                default:
                    FUZZ_REQUIRE(!"the link posted a message the device does not know");
            }
            message = ThreadMessage{};
        }
    }

private:
    ThreadId id_;
};

// Where the station's frames go: each must be one good frame, flags at both
// ends, for a station address, then it is dropped.
class CheckingSink final : public FrameSink {
public:
    void SendFrameBytes(std::span<const std::uint8_t> frame) override {
        FUZZ_REQUIRE(frame.size() >= 6 && frame.size() < hdlc::FrameBytes::Capacity);
        FUZZ_REQUIRE(frame.front() == hdlc::Flag && frame.back() == hdlc::Flag);
        hdlc::FrameReceiver receiver(255);
        std::array<std::uint8_t, 2 * CommandBuffer::DataSize> body{};
        std::size_t length = 0;
        for (std::size_t i = 0; i < frame.size(); ++i) {
            const bool good = receiver.AcceptByte(frame[i], body, length);
            FUZZ_REQUIRE(good == (i + 1 == frame.size()));
        }
        FUZZ_REQUIRE(length >= 4 && length - 2 <= CommandBuffer::DataSize);
        FUZZ_REQUIRE(body[0] == ActuatorAddress || body[0] == hdlc::BroadcastAddress);
    }
};

// Payload lengths worth trying: empty, short, and both sides of what a block
// can hold with each framing's header.
constexpr std::array<std::size_t, 8> PayloadLengths = {0, 1, 4, 8, 30, 90, 91, 96};

// The longest body the harness frames: escaped whole, it still fits the frame
// buffer, and it is far past what the receiver takes.
constexpr std::size_t MaxBody = 120;

class Harness {
public:
    Harness(std::uint8_t setup, QueueDevice& device)
        : device_(device), link_(1 + ((setup >> 4) & 7)) {
        link_.SetMode(LinkMode::Ericsson);
        link_.CreateSecondary(&device_);
        link_.SetFrameSink(&sink_);
        if (setup & 0x04) Frame(std::array<std::uint8_t, 2>{ActuatorAddress, hdlc::UaFinal});
        switch (setup & 3) {
            case 1:
                link_.OnAisgMode();
                break;
            case 2:
                link_.SetMode(LinkMode::Aisg);
                break;
            case 3:
                link_.OnAisgMode();
                link_.OnEricssonMode();
                break;
            default:
                break;
        }
        Check();
    }

    // One octet from the line; false when it fell between frames.
    bool Line(std::uint8_t octet) {
        const bool between = !link_.First()->receiver.InFrame();
        if (link_.AcceptByte(octet)) {
            // As the poll cycle handles a good frame.
            link_.ProcessFrame();
            if (link_.Current()->address != hdlc::BroadcastAddress) link_.CountMissedPoll(false);
            device_.Drain();
        }
        Check();
        return between && octet != hdlc::Flag;
    }

    // A frame with a correct FCS around the body.
    void Frame(std::span<const std::uint8_t> body) {
        hdlc::FrameBytes frame;
        hdlc::EncodeFrame(body, frame);
        for (const std::uint8_t octet : frame.span())
            Line(octet);
    }

    // What the station does next, from the low seven bits of a byte.
    void Act(std::uint8_t code) {
        code &= 0x7F;
        if (code < 0x20) {
            Poll(1);
        } else if (code < 0x40) {
            Enqueue(ActuatorAddress, code & 0x10, code & 0x08, PayloadLengths[code & 7]);
        } else if (code < 0x50) {
            for (int i = (code & 0x08) ? MissedPollLimit : 1; i > 0; --i)
                Event(code & 7);
        } else if (code < 0x60) {
            Enqueue((code & 1) ? hdlc::BroadcastAddress : ActuatorAddress + 1, code & 2, code & 4,
                    PayloadLengths[(code >> 3) & 1 ? 7 : 2]);
        } else {
            Poll((code & 7) + 2);
        }
        device_.Drain();
        Check();
    }

private:
    // The transmit step of the poll cycle.
    void Poll(int times) {
        for (; times > 0; --times) {
            SecondaryStation* s = link_.SelectNextSecondary();
            s->receiver.AbandonFrame();
            if (s->address != hdlc::BroadcastAddress && s->PollingSuspended) continue;
            link_.PollSecondary();
            Check();
        }
    }

    void Enqueue(std::uint8_t address, bool raw, bool rawOffset, std::size_t length) {
        auto buffer = NewCommandBuffer(address, rawOffset ? 2 : 5);
        // Flags and escapes inside, so the framing's transparency is exercised.
        for (std::size_t i = 0; i < length; ++i) {
            if (!buffer->Append(static_cast<std::uint8_t>(0x7C + (i + counter_) % 4))) break;
        }
        ++counter_;
        link_.EnqueueCommand(std::move(buffer), raw);
    }

    void Event(int event) {
        SecondaryStation& s = *link_.First();
        switch (event) {
            case 0:
                link_.CountMissedPoll(true);
                break;
            case 1:
                link_.CountMissedPoll(false);
                break;
            case 2:
                link_.OnAisgMode();
                break;
            case 3:
                link_.OnEricssonMode();
                break;
            case 4:
                // The poll cycle's fall-back when nobody answers in Ericsson mode.
                s.address = hdlc::BroadcastAddress;
                link_.SetMode(LinkMode::Aisg);
                break;
            case 5:
                // ... and back when nobody answers the scan either.
                s.address = ActuatorAddress;
                link_.SetMode(LinkMode::Ericsson);
                break;
            case 6:
                link_.OnSuspendPolling(ActuatorAddress);
                break;
            default:
                link_.OnResumePolling(ActuatorAddress);
                break;
        }
    }

    void Check() {
        const SecondaryStation& s = *link_.First();
        FUZZ_REQUIRE(link_.Current() == &s);
        FUZZ_REQUIRE(s.address == ActuatorAddress || s.address == hdlc::BroadcastAddress);
        FUZZ_REQUIRE((s.sequence & 0x88) == 0);
        FUZZ_REQUIRE(s.readIndex < SecondaryStation::RingSize);
        FUZZ_REQUIRE(s.writeIndex < SecondaryStation::RingSize);
        FUZZ_REQUIRE(s.MissedPollCountdown <= MissedPollLimit);
        // Every command waiting to be sent is there, framed, and fits its block.
        for (std::size_t i = s.readIndex; i != s.writeIndex;
             i = (i + 1) % SecondaryStation::RingSize) {
            const CommandBuffer* waiting = s.TransmitQueue[i].get();
            FUZZ_REQUIRE(waiting != nullptr);
            FUZZ_REQUIRE(waiting->dataOffset == 0);
            FUZZ_REQUIRE(waiting->length >= 2 && waiting->length <= CommandBuffer::DataSize);
        }
        const CommandBuffer* receive = link_.ReceiveBuffer();
        FUZZ_REQUIRE(receive != nullptr);
        FUZZ_REQUIRE(std::size_t{receive->dataOffset} + receive->length <= CommandBuffer::DataSize);
    }

    QueueDevice& device_;
    CHDLCPrimary link_;
    CheckingSink sink_;
    std::uint8_t counter_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Queues live for the process; each input leaves them empty.
    static QueueDevice withQueue(true);
    static QueueDevice withoutQueue(false);
    if (size == 0) return 0;
    const std::uint8_t setup = data[0];
    QueueDevice& device = (setup & 0x08) ? withoutQueue : withQueue;
    {
        Harness harness(setup, device);
        if (setup & 0x80) {
            for (std::size_t at = 1; at < size;) {
                const std::uint8_t lead = data[at++];
                if (lead & 0x80) {
                    harness.Act(lead);
                    continue;
                }
                const std::size_t length = std::min<std::size_t>({lead, MaxBody, size - at});
                harness.Frame({data + at, length});
                at += length;
            }
        } else {
            for (std::size_t at = 1; at < size; ++at) {
                if (harness.Line(data[at])) harness.Act(data[at]);
            }
        }
    }
    device.Drain();
    return 0;
}
