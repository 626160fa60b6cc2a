#include "sim/SecondaryLink.h"

#include "hdlc/FrameCodec.h"

using namespace kvq::core;
using namespace kvq::hdlc;

namespace kvq::sim {

namespace {

// U-frame commands the station knows, poll bit set.
constexpr std::uint8_t DiscPoll = 0x53;

// Ericsson information header: 0xC0 (0xC1 also taken), 0x00, payload length.
constexpr std::size_t EricssonHeader = 3;

bool IsReceiveReady(std::uint8_t control) {
    return hdlc::IsSFrame(control) && (control & 0x0C) == 0;
}

// The address an assignment XID gives: format 0x81, group 0xF0, group length,
// then parameters (identifier, length, value); identifier 2 is the HDLC address.
std::optional<std::uint8_t> AssignedAddress(std::span<const std::uint8_t> info) {
    if (info.size() < 3 || info[0] != 0x81 || info[1] != 0xF0 || info[2] != info.size() - 3)
        return std::nullopt;
    std::optional<std::uint8_t> address;
    std::size_t at = 3;
    while (at < info.size()) {
        if (info.size() - at < 2)
            return std::nullopt;  // a parameter cut short: the whole field is suspect
        const std::uint8_t id = info[at];
        const std::size_t length = info[at + 1];
        if (info.size() - at - 2 < length) return std::nullopt;
        if (id == 2 && length == 1) address = info[at + 2];
        at += 2 + length;
    }
    // 0 is no station and 0xFF everyone: neither can be given to one station.
    if (address && (*address == 0 || *address == hdlc::BroadcastAddress)) return std::nullopt;
    return address;
}

}  // namespace

const char* ModeName(SimMode mode) {
    return mode == SimMode::Aisg ? "AISG" : "Ericsson";
}

std::optional<std::vector<std::uint8_t>> EchoApplication::OnInformation(
    SimMode /*mode*/, std::span<const std::uint8_t> info, SimLinkControl& /*link*/) {
    return std::vector<std::uint8_t>(info.begin(), info.end());
}

SecondaryLink::SecondaryLink(SimApplication& application, SimMode mode,
                             std::function<Clock::time_point()> now)
    : application_(application), now_(std::move(now)), mode_(mode) {
    if (mode_ == SimMode::Ericsson) address_ = StationAddress;
}

void SecondaryLink::Restart(SimMode mode, std::chrono::milliseconds silent) {
    ++restarts_;
    mode_ = mode;
    Disconnect();
    if (mode_ == SimMode::Ericsson) {
        address_ = StationAddress;
    } else {
        address_.reset();
    }
    silentUntil_ = now_() + silent;
}

void SecondaryLink::RestartAfterAcknowledging(SimMode mode, std::chrono::milliseconds silent) {
    Restart(mode, silent);
    acknowledgeRestart_ = true;
}

void SecondaryLink::GoSilentFor(std::chrono::milliseconds silent) {
    ++restarts_;
    Disconnect();
    silentUntil_ = now_() + silent;
}

void SecondaryLink::Disconnect() {
    connected_ = false;
    vs_ = 0;
    vr_ = 0;
    unacknowledged_.reset();
    waiting_.clear();
}

void SecondaryLink::MisnumberAnswers(SequenceFault fault, std::uint32_t count) {
    fault_ = fault;
    faultsLeft_ = count;
}

std::optional<SecondaryLink::Body> SecondaryLink::HandleFrame(std::span<const std::uint8_t> body) {
    // A fault due by now (a power cut) happens before the frame is heard.
    Tick();
    auto answer = Answer(body);
    if (answer) Misnumber(*answer);
    return answer;
}

void SecondaryLink::Misnumber(Body& answer) {
    if (faultsLeft_ == 0 || answer.size() < 2) return;
    std::uint8_t& control = answer[1];
    const std::uint8_t ns = hdlc::NsOf(control);
    const std::uint8_t nr = hdlc::NrOf(control);
    const auto next = [](std::uint8_t n) { return static_cast<std::uint8_t>((n + 1) & 7); };
    if (hdlc::IsIFrame(control)) {
        control = fault_ == SequenceFault::SendSequence ? hdlc::IControl(next(ns), nr)
                                                        : hdlc::IControl(ns, next(nr));
    } else if (fault_ == SequenceFault::ReceiveSequence && IsReceiveReady(control)) {
        control = hdlc::RrControl(next(nr));
    } else {
        return;
    }
    --faultsLeft_;
    ++misnumbered_;
}

std::optional<SecondaryLink::Body> SecondaryLink::Answer(std::span<const std::uint8_t> body) {
    if (body.size() < 2 || Silent()) return std::nullopt;
    const std::uint8_t address = body[0];
    const std::uint8_t control = body[1];
    const auto info = body.subspan(2);

    // In normal response mode the station speaks only when polled; the primary
    // sets the poll bit on everything it sends.
    if ((control & hdlc::PollFinalBit) == 0) return std::nullopt;

    if (mode_ == SimMode::Aisg && address == hdlc::BroadcastAddress)
        return HandleAddressAssignment(control, info);
    if (!address_ || address != *address_) return std::nullopt;

    if (control == hdlc::SnrmPoll) {
        Disconnect();
        connected_ = true;
        return Body{address, hdlc::UaFinal};
    }
    if (control == DiscPoll) {
        const bool wasConnected = connected_;
        Disconnect();
        return Body{address, wasConnected ? hdlc::UaFinal : hdlc::DmFinal};
    }
    if (!connected_) return Body{address, hdlc::DmFinal};
    return HandleConnected(control, info);
}

std::optional<SecondaryLink::Body> SecondaryLink::HandleAddressAssignment(
    std::uint8_t control, std::span<const std::uint8_t> info) {
    if (control != hdlc::XidPoll) return std::nullopt;
    const auto assigned = AssignedAddress(info);
    if (!assigned) return std::nullopt;
    // Answered again when already assigned: a primary that started afresh has
    // to find a station that never restarted. Another address is another
    // station as far as the primary knows, so the connection goes.
    if (address_ != assigned) {
        Disconnect();
        address_ = assigned;
    }
    Body answer{*assigned, hdlc::XidFinal};
    answer.insert(answer.end(), info.begin(), info.end());
    return answer;
}

std::optional<SecondaryLink::Body> SecondaryLink::HandleConnected(
    std::uint8_t control, std::span<const std::uint8_t> info) {
    if (hdlc::IsIFrame(control)) {
        const bool repeat = RepeatDue(hdlc::NrOf(control));
        // Out of sequence: discard it and tell the primary which one is due.
        if (hdlc::NsOf(control) != vr_) return repeat ? Repeat() : Supervisory(*address_, vr_);
        vr_ = (vr_ + 1) & 7;
        return AnswerInformation(info, repeat);
    }
    if (IsReceiveReady(control)) return RepeatDue(hdlc::NrOf(control)) ? Repeat() : AnswerPoll();
    // RNR, REJ, SREJ: acknowledge without sending anything new.
    if (hdlc::IsSFrame(control)) return Supervisory(*address_, vr_);
    // Any other command while connected is one this station does not take.
    return std::nullopt;
}

bool SecondaryLink::RepeatDue(std::uint8_t nr) {
    if (!unacknowledged_) return false;
    if (nr == hdlc::NsOf((*unacknowledged_)[1])) return true;
    // Acknowledged, or an N(R) that names nothing sent: either way it is settled.
    unacknowledged_.reset();
    return false;
}

SecondaryLink::Body SecondaryLink::Repeat() {
    ++repeatedAnswers_;
    Body answer = *unacknowledged_;
    answer[1] = hdlc::IControl(hdlc::NsOf(answer[1]), vr_);
    return answer;
}

std::optional<SecondaryLink::Body> SecondaryLink::AnswerPoll() {
    if (!waiting_.empty()) return SendNext();
    const std::uint8_t address = *address_;
    const SimMode mode = mode_;
    const std::uint8_t ns = vs_;
    const std::uint8_t nr = vr_;
    const std::uint32_t restarts = restarts_;
    const auto reply = application_.TakeWaitingReply(mode, *this);
    if (restarts != restarts_) {
        // Restarted on the poll: the answer goes out as things were, and
        // nothing is left to repeat.
        return AnswerAsThingsWere(reply, mode, address, ns, nr);
    }
    if (reply) {
        if (auto answer = FrameAnswer(*reply, mode, address)) Keep(std::move(*answer));
    }
    return SendNext();
}

std::optional<SecondaryLink::Body> SecondaryLink::AnswerInformation(
    std::span<const std::uint8_t> info, bool repeat) {
    // Taken before the application runs: it may restart the station, and the
    // answer to the command that asked for that still goes out as things were.
    const std::uint8_t address = *address_;
    const SimMode mode = mode_;
    const std::uint8_t ns = vs_;
    const std::uint8_t nr = vr_;
    const std::uint32_t restarts = restarts_;

    auto payload = info;
    if (mode == SimMode::Ericsson) {
        if (info.size() < EricssonHeader || (info[0] != 0xC0 && info[0] != 0xC1) ||
            info[2] != info.size() - EricssonHeader) {
            ++rejectedInformation_;
            return repeat ? Repeat() : Supervisory(address, nr);
        }
        payload = info.subspan(EricssonHeader);
    }
    acknowledgeRestart_ = false;
    const auto reply = application_.OnInformation(mode, payload, *this);
    if (restarts != restarts_) {
        // A restart command is acknowledged before the station falls silent; a
        // station that died on a command has nothing to acknowledge it with.
        if (!reply) {
            if (!acknowledgeRestart_) return std::nullopt;
            acknowledgeRestart_ = false;
            return Supervisory(address, nr);
        }
        return AnswerAsThingsWere(reply, mode, address, ns, nr);
    }
    if (reply) {
        if (auto answer = FrameAnswer(*reply, mode, address)) Keep(std::move(*answer));
    }
    // The older answer goes first; this one waits for a later poll.
    return repeat ? Repeat() : SendNext();
}

SecondaryLink::Body SecondaryLink::AnswerAsThingsWere(const std::optional<Body>& reply,
                                                      SimMode mode, std::uint8_t address,
                                                      std::uint8_t ns, std::uint8_t nr) {
    if (!reply) return Supervisory(address, nr);
    auto answer = FrameAnswer(*reply, mode, address);
    if (!answer) return Supervisory(address, nr);
    (*answer)[1] = hdlc::IControl(ns, nr);
    return *answer;
}

std::optional<SecondaryLink::Body> SecondaryLink::FrameAnswer(const Body& reply, SimMode mode,
                                                              std::uint8_t address) {
    Body answer{address, 0};
    if (mode == SimMode::Ericsson) {
        answer.push_back(0xC0);
        answer.push_back(0x00);
        answer.push_back(static_cast<std::uint8_t>(reply.size()));
    }
    answer.insert(answer.end(), reply.begin(), reply.end());
    // Checked after the header, so the length octet above is only ever sent
    // for a payload that fits it.
    if (answer.size() > MaxBody) {
        ++oversizeReplies_;
        return std::nullopt;
    }
    return answer;
}

void SecondaryLink::Keep(Body answer) {
    if (waiting_.size() >= WaitingLimit) waiting_.pop_front();
    waiting_.push_back(std::move(answer));
}

SecondaryLink::Body SecondaryLink::SendNext() {
    if (waiting_.empty()) return Supervisory(*address_, vr_);
    Body answer = std::move(waiting_.front());
    waiting_.pop_front();
    answer[1] = hdlc::IControl(vs_, vr_);
    vs_ = (vs_ + 1) & 7;
    unacknowledged_ = answer;
    return answer;
}

SecondaryLink::Body SecondaryLink::Supervisory(std::uint8_t address, std::uint8_t nr) const {
    return Body{address, hdlc::RrControl(nr)};
}

}  // namespace kvq::sim
