#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "sim/SimApplication.h"

namespace kvq::sim {

// Which sequence number a misnumbered answer gets wrong.
enum class SequenceFault {
    SendSequence,     // I-frames go out with N(S) one ahead of the station's V(S)
    ReceiveSequence,  // I- and RR frames acknowledge one frame more than arrived
};

// The actuator's side of the HDLC link in normal response mode, without any
// I/O: it is handed the body (address, control, information; FCS checked and
// removed) of every good frame off the line and gives the body to send back.
// An I-frame answer the primary did not take (its next poll's N(R) still names
// it) is sent again, ahead of anything newer. Not thread-safe: the owner
// serialises calls.
class SecondaryLink : public SimLinkControl {
public:
    using Clock = std::chrono::steady_clock;
    using Body = std::vector<std::uint8_t>;

    static constexpr std::uint8_t StationAddress = 0x14;
    // The longest body the link sends: even with every octet and the FCS
    // escaped, the frame fits hdlc::FrameBytes.
    static constexpr std::size_t MaxBody = 125;

    SecondaryLink(SimApplication& application, SimMode mode,
                  std::function<Clock::time_point()> now = Clock::now);

    // The answer to one good frame, or none (not addressed to the station, not
    // a poll, silent, or nothing to say). The application's Tick comes first.
    std::optional<Body> HandleFrame(std::span<const std::uint8_t> body);
    // The application's Tick between frames.
    void Tick() { application_.Tick(*this); }

    SimMode Mode() const override { return mode_; }
    // Switches at once, as a restart without a silent time.
    void SetMode(SimMode mode) { Restart(mode, std::chrono::milliseconds{0}); }
    void Restart(SimMode mode, std::chrono::milliseconds silent) override;
    void RestartAfterAcknowledging(SimMode mode, std::chrono::milliseconds silent) override;
    void GoSilentFor(std::chrono::milliseconds silent) override;

    // None while an AISG station waits for its address.
    std::optional<std::uint8_t> Address() const { return address_; }
    bool Connected() const { return connected_; }
    std::uint8_t SendSequence() const { return vs_; }     // V(S)
    std::uint8_t ReceiveSequence() const { return vr_; }  // V(R)
    bool Silent() const { return now_() < silentUntil_; }
    // In-sequence I-frames whose information could not be handed on (an
    // Ericsson header that does not fit) and answers too long to send.
    std::uint32_t RejectedInformation() const { return rejectedInformation_; }
    std::uint32_t OversizeReplies() const { return oversizeReplies_; }
    // I-frame answers sent again because the primary's N(R) showed them lost.
    std::uint32_t RepeatedAnswers() const { return repeatedAnswers_; }

    // A fault: the next `count` answers that carry the given sequence number
    // go out with it wrong; the station's own counts stay right, so a repeat
    // that follows is numbered correctly once the count is spent.
    void MisnumberAnswers(SequenceFault fault, std::uint32_t count);
    std::uint32_t MisnumberedAnswers() const { return misnumbered_; }

private:
    std::optional<Body> Answer(std::span<const std::uint8_t> body);
    std::optional<Body> HandleAddressAssignment(std::uint8_t control,
                                                std::span<const std::uint8_t> info);
    std::optional<Body> HandleConnected(std::uint8_t control, std::span<const std::uint8_t> info);
    std::optional<Body> AnswerPoll();
    std::optional<Body> AnswerInformation(std::span<const std::uint8_t> info, bool repeat);
    // The application's answer as an I-frame body whose control octet is filled
    // in when it is sent; none when it does not fit.
    std::optional<Body> FrameAnswer(const Body& reply, SimMode mode, std::uint8_t address);
    // The answer of a station that restarted on this frame: numbered with the
    // sequence it had, sent once, never kept for a repeat.
    Body AnswerAsThingsWere(const std::optional<Body>& reply, SimMode mode, std::uint8_t address,
                            std::uint8_t ns, std::uint8_t nr);
    void Keep(Body answer);
    // Sends the oldest waiting answer, or RR when none waits.
    Body SendNext();
    // The unacknowledged I-frame again, with the current N(R).
    Body Repeat();
    // True when the primary's N(R) shows the last I-frame sent did not arrive;
    // any other N(R) settles it.
    bool RepeatDue(std::uint8_t nr);
    Body Supervisory(std::uint8_t address, std::uint8_t nr) const;
    void Misnumber(Body& answer);
    void Disconnect();

    SimApplication& application_;
    std::function<Clock::time_point()> now_;
    SimMode mode_;
    std::optional<std::uint8_t> address_;
    bool connected_ = false;
    std::uint8_t vs_ = 0;
    std::uint8_t vr_ = 0;
    Clock::time_point silentUntil_{};
    // Counts restarts, so an answer built across one can tell.
    std::uint32_t restarts_ = 0;
    bool acknowledgeRestart_ = false;  // the restart command still gets its RR
    std::uint32_t rejectedInformation_ = 0;
    std::uint32_t oversizeReplies_ = 0;
    // The last I-frame sent, until the primary's N(R) acknowledges it.
    std::optional<Body> unacknowledged_;
    // Answers built while an older one had to be repeated first; a primary
    // that never takes them cannot make this grow without bound.
    static constexpr std::size_t WaitingLimit = 8;
    std::deque<Body> waiting_;
    std::uint32_t repeatedAnswers_ = 0;
    SequenceFault fault_ = SequenceFault::SendSequence;
    std::uint32_t faultsLeft_ = 0;
    std::uint32_t misnumbered_ = 0;
};

}  // namespace kvq::sim
