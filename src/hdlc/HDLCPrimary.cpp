#include "hdlc/HDLCPrimary.h"

#include <algorithm>
#include <cstring>

using namespace kvq::core;

namespace kvq::hdlc {

namespace {

// The address-assignment XID: format 0x81, group 0xF0 of length 3 holding one
// parameter, the HDLC address (identifier 2, length 1) to take: 0x14.
constexpr std::uint8_t AddressAssignment[] = {
    hdlc::BroadcastAddress, hdlc::XidPoll, 0x81, 0xF0, 0x03, 0x02, 0x01, ActuatorAddress};

// Moves a payload to where the framing expects it; false when it cannot fit.
bool PlacePayload(CommandBuffer& buffer, std::uint8_t offset) {
    if (buffer.dataOffset == offset) return true;
    if (std::size_t{offset} + buffer.length > CommandBuffer::DataSize) return false;
    std::memmove(buffer.data.data() + offset, buffer.data.data() + buffer.dataOffset,
                 buffer.length);
    buffer.dataOffset = offset;
    return true;
}

}  // namespace

void SecondaryStation::FreeRing() {
    for (auto& slot : TransmitQueue)
        slot.reset();
    writeIndex = readIndex;
}

void SecondaryStation::DropUnsent() {
    while (readIndex != writeIndex) {
        TransmitQueue[readIndex].reset();
        readIndex = static_cast<std::uint8_t>((readIndex + 1) % RingSize);
    }
}

void SecondaryStation::Initialise() {
    sequence = 0;
    receiver.Reset();
    connected = false;
    for (auto& slot : TransmitQueue)
        slot.reset();
    writeIndex = 0;
    readIndex = 0;
    PollingSuspended = false;
    FramesSinceConnect = 0;
    MissedPollCountdown = MissedPollLimit;
}

CHDLCPrimary::CHDLCPrimary(std::int32_t linkUpFrameCount) : linkUpFrameCount_(linkUpFrameCount) {}

void CHDLCPrimary::CreateSecondary(LinkDevice* device) {
    secondaries_ = std::make_unique<SecondaryStation>();
    secondaries_->address = ActuatorAddress;
    secondaries_->device = device;
    secondaries_->Initialise();
    current_ = secondaries_.get();
    receiveBuffer_ = std::make_unique<CommandBuffer>();
}

bool CHDLCPrimary::AcceptByte(std::uint8_t octet) {
    if (!current_ || !receiveBuffer_) return false;
    return current_->receiver.AcceptByte(octet, *receiveBuffer_);
}

void CHDLCPrimary::SendFrame(const CommandBuffer& buffer) {
    const std::size_t length =
        std::min<std::size_t>(buffer.length, CommandBuffer::DataSize - buffer.dataOffset);
    hdlc::FrameBytes frame;
    hdlc::EncodeFrame({buffer.data.data() + buffer.dataOffset, length}, frame);
    if (sink_) sink_->SendFrameBytes(frame.span());
}

void CHDLCPrimary::EnqueueCommand(CommandBufferPtr buffer, bool raw) {
    if (!buffer) return;
    const std::uint8_t target = buffer->address;
    if (raw) {
        FrameRawCommand(*buffer);
    } else {
        FrameEricssonCommand(*buffer);
    }
    if (buffer->length == 0) return;  // could not be framed: freed
    for (SecondaryStation* s = secondaries_.get(); s; s = s->next) {
        if (s->address != target) continue;
        const auto next =
            static_cast<std::uint8_t>((s->writeIndex + 1) % SecondaryStation::RingSize);
        // A full ring refuses the command: taking it would make the ring read
        // as empty and lose every command waiting in it.
        if (next == s->readIndex) return;
        // A slot still holding an I-frame that was sent but never acknowledged
        // is taken over; that frame is never sent again.
        s->TransmitQueue[s->writeIndex] = std::move(buffer);
        s->writeIndex = next;
        return;
    }
    // No secondary has that address: the block is freed unsent.
}

void CHDLCPrimary::PollSecondary() {
    SecondaryStation& s = *current_;
    if (s.address == hdlc::BroadcastAddress) {
        // Commands meant for the connection that went with the old mode are
        // not sent to a station that has no address yet.
        s.DropUnsent();
        hdlc::FrameBytes frame;
        hdlc::EncodeFrame(AddressAssignment, frame);
        if (sink_) sink_->SendFrameBytes(frame.span());
        return;
    }
    if (!s.connected) {
        controlFrame_.Clear();
        controlFrame_.data[0] = s.address;
        controlFrame_.data[1] = hdlc::SnrmPoll;
        controlFrame_.length = 2;
        SendFrame(controlFrame_);
        return;
    }
    if (!s.RingEmpty()) {
        CommandBuffer& command = *s.TransmitQueue[s.readIndex];
        command.data[0] = s.address;
        command.data[1] = hdlc::IControl(s.Vs(), s.Vr());
        s.SetVs(static_cast<std::uint8_t>(s.Vs() + 1));
        s.readIndex = static_cast<std::uint8_t>((s.readIndex + 1) % SecondaryStation::RingSize);
        SendFrame(command);  // stays in its slot until acknowledged
        return;
    }
    controlFrame_.Clear();
    controlFrame_.data[0] = s.address;
    controlFrame_.data[1] = hdlc::RrControl(s.Vr());
    controlFrame_.length = 2;
    SendFrame(controlFrame_);
}

FrameMeaning CHDLCPrimary::ProcessFrame() {
    if (!receiveBuffer_ || !current_) return FrameMeaning::Ordinary;
    CommandBuffer& frame = *receiveBuffer_;
    if (frame.length < 2) return FrameMeaning::Ordinary;
    frame.address = frame.data[0];
    frame.control = frame.data[1];
    const LinkMode mode = Mode();
    SecondaryStation& s = *current_;

    if (mode == LinkMode::Ericsson && frame.address == 0) return FrameMeaning::Ordinary;
    if (mode == LinkMode::Aisg && s.address == hdlc::BroadcastAddress) {
        // Any good frame while scanning answers the address assignment.
        s.address = ActuatorAddress;
        PostToDevice(MsgAisgDeviceFound);
        return FrameMeaning::ScanAnswer;
    }
    if (!MatchesAddress(frame.address)) return FrameMeaning::Ordinary;

    const std::uint8_t control = frame.control;
    if (control == hdlc::UaFinal) {
        s.SetVs(0);
        s.SetVr(0);
        s.connected = true;
        s.FramesSinceConnect = 0;
        s.FreeRing();
        frame.Clear();
        return FrameMeaning::Ordinary;
    }
    if (!s.connected) return FrameMeaning::Ordinary;

    if (++s.FramesSinceConnect == linkUpFrameCount_) {
        PostToDevice(mode == LinkMode::Ericsson ? MsgLinkUp : MsgAisgDeviceFound);
    }
    if (hdlc::IsUFrame(control)) {
        if (control == hdlc::DmFinal) {
            s.connected = false;
            s.FramesSinceConnect = 0;
            PostToDevice(MsgLinkDown);
            frame.Clear();
        }
        return FrameMeaning::Ordinary;
    }
    const std::uint8_t nr = hdlc::NrOf(control);
    if (nr == s.Vs()) {
        // Only the most recently sent I-frame is acknowledged.
        const auto last = static_cast<std::uint8_t>((s.readIndex + SecondaryStation::RingSize - 1) %
                                                    SecondaryStation::RingSize);
        s.TransmitQueue[last].reset();
    } else {
        GoBackTo(s, nr);
    }
    if (hdlc::IsSFrame(control)) return FrameMeaning::Ordinary;
    // Out of sequence: the next RR asks again.
    if (hdlc::NsOf(control) != s.Vr()) return FrameMeaning::Ordinary;
    s.SetVr(static_cast<std::uint8_t>(s.Vr() + 1));
    if (mode == LinkMode::Ericsson) {
        DeliverEricssonReply();
    } else {
        DeliverAisgReply();
    }
    return FrameMeaning::Ordinary;
}

void CHDLCPrimary::GoBackTo(SecondaryStation& s, std::uint8_t nr) {
    // The secondary takes N(R) next, so the frames sent from that number on
    // were lost. Without sending them again every later I-frame would be out
    // of sequence for it and discarded, and the command lost with them would
    // never be answered. They still sit in their ring slots (only an
    // acknowledgement frees one), so back up over them and send them again.
    // An N(R) that does not fit the frames held is no acknowledgement of ours:
    // it is ignored.
    const auto behind = static_cast<std::uint8_t>((s.Vs() - nr) & 7);
    std::uint8_t slot = s.readIndex;
    for (std::uint8_t i = 0; i < behind; ++i) {
        slot = static_cast<std::uint8_t>((slot + SecondaryStation::RingSize - 1) %
                                         SecondaryStation::RingSize);
        if (!s.TransmitQueue[slot] || slot == s.writeIndex) return;
    }
    s.readIndex = slot;
    s.SetVs(nr);
}

void CHDLCPrimary::CountMissedPoll(bool missed) {
    SecondaryStation& s = *current_;
    if (!missed) {
        s.MissedPollCountdown = MissedPollLimit;
        return;
    }
    if (s.MissedPollCountdown == 0) return;
    if (--s.MissedPollCountdown == 0) {
        s.connected = false;
        PostToDevice(MsgDeviceLost);
    }
}

SecondaryStation* CHDLCPrimary::SelectNextSecondary() {
    if (current_ && current_->next) {
        current_ = current_->next;
    } else {
        current_ = secondaries_.get();
    }
    return current_;
}

void CHDLCPrimary::OnAisgMode() {
    if (!secondaries_) return;
    secondaries_->address = hdlc::BroadcastAddress;
    secondaries_->DropUnsent();
    SetMode(LinkMode::Aisg);
}

void CHDLCPrimary::OnEricssonMode() {
    if (!secondaries_) return;
    secondaries_->address = ActuatorAddress;
    SetMode(LinkMode::Ericsson);
}

void CHDLCPrimary::OnSuspendPolling(std::uintptr_t address) {
    for (SecondaryStation* s = secondaries_.get(); s; s = s->next) {
        if (s->address == address) s->PollingSuspended = true;
    }
}

void CHDLCPrimary::OnResumePolling(std::uintptr_t address) {
    for (SecondaryStation* s = secondaries_.get(); s; s = s->next) {
        if (s->address == address) s->PollingSuspended = false;
    }
}

void CHDLCPrimary::PostReceiveBuffer() {
    ThreadId target = current_ && current_->device ? current_->device->LinkThreadIdOfDevice() : 0;
    // A refused post frees the block with it; nothing is lost but the reply.
    PostThreadMessage(target, MsgCommand, 0, std::move(receiveBuffer_));
    receiveBuffer_ = std::make_unique<CommandBuffer>();
}

void CHDLCPrimary::PostToDevice(std::uint32_t message) {
    if (current_ && current_->device) {
        PostThreadMessage(current_->device->LinkThreadIdOfDevice(), message);
    }
}

void CHDLCPrimary::DeliverEricssonReply() {
    CommandBuffer& frame = *receiveBuffer_;
    constexpr std::uint8_t ShortestReply = 15;
    if ((frame.data[2] == 0xC0 || frame.data[2] == 0xC1) && frame.length >= ShortestReply) {
        frame.dataOffset = 5;
        frame.length = static_cast<std::uint8_t>(frame.length - 7);
        PostReceiveBuffer();
    } else {
        frame.Clear();
    }
}

bool CHDLCPrimary::MatchesAddress(std::uint8_t address) const {
    return current_ && address == current_->address;
}

void CHDLCPrimary::FrameRawCommand(CommandBuffer& buffer) const {
    if (!PlacePayload(buffer, 2)) {
        buffer.length = 0;
        return;
    }
    buffer.length = static_cast<std::uint8_t>(buffer.length + 2);
    buffer.dataOffset = 0;
    buffer.data[0] = current_ ? current_->address : buffer.address;
}

void CHDLCPrimary::DeliverAisgReply() {
    CommandBuffer& frame = *receiveBuffer_;
    if (frame.length < 4) {
        frame.Clear();
        return;
    }
    frame.dataOffset = 2;
    frame.length = static_cast<std::uint8_t>(frame.length - 4);
    PostReceiveBuffer();
}

void CHDLCPrimary::FrameEricssonCommand(CommandBuffer& buffer) const {
    if (!PlacePayload(buffer, 5)) {
        buffer.length = 0;
        return;
    }
    const std::uint8_t n = buffer.length;
    buffer.length = static_cast<std::uint8_t>(n + 5);
    buffer.dataOffset = 0;
    buffer.data[0] = current_ ? current_->address : buffer.address;
    buffer.data[2] = 0xC0;
    buffer.data[3] = 0x00;
    buffer.data[4] = n;
}

}  // namespace kvq::hdlc
