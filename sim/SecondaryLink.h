#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "SimApplication.h"

// The actuator's side of the HDLC link in normal response mode, without any
// I/O: it is handed the body (address, control, information; FCS checked and
// removed) of every good frame off the line and gives the body to send back.
// Not thread-safe: the owner serialises calls.
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
    // a poll, silent, or nothing to say).
    std::optional<Body> HandleFrame(std::span<const std::uint8_t> body);

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

private:
    std::optional<Body> HandleAddressAssignment(std::uint8_t control,
                                                std::span<const std::uint8_t> info);
    std::optional<Body> HandleConnected(std::uint8_t control, std::span<const std::uint8_t> info);
    std::optional<Body> AnswerPoll();
    std::optional<Body> AnswerInformation(std::span<const std::uint8_t> info);
    // Frames the application's answer as an I-frame, or RR when it has none or
    // it does not fit.
    Body BuildAnswer(const std::optional<Body>& reply, SimMode mode, std::uint8_t address,
                     std::uint8_t ns, std::uint8_t nr, bool advanceSend);
    Body Supervisory(std::uint8_t address, std::uint8_t nr) const;
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
};
