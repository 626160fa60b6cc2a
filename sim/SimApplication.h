#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace kvq::sim {

// The two ways the actuator talks: its own framing at 115200 baud, or AISG at
// 9600 baud where it must first be given an address.
enum class SimMode { Ericsson, Aisg };

constexpr std::uint32_t BaudRateOf(SimMode mode) {
    return mode == SimMode::Aisg ? 9600u : 115200u;
}

const char* ModeName(SimMode mode);

// What the application may ask of the link while it handles a command, e.g. to
// restart after the command that asks for it has been answered.
class SimLinkControl {
public:
    virtual ~SimLinkControl() = default;
    virtual SimMode Mode() const = 0;
    // Silent for the given time, then back in `mode`, not connected and, in AISG
    // mode, without an address. The answer being built is still sent; when
    // there is none, nothing is sent (not even RR).
    virtual void Restart(SimMode mode, std::chrono::milliseconds silent) = 0;
    // As Restart, for a restart command that the actuator takes without a
    // reply of its own: the poll that carried it is still acknowledged (RR).
    virtual void RestartAfterAcknowledging(SimMode mode, std::chrono::milliseconds silent) = 0;
    // Silent for the given time, then back not connected in the same mode.
    virtual void GoSilentFor(std::chrono::milliseconds silent) = 0;
};

// The actuator behind the link: it sees the information fields of in-sequence
// I-frames and gives the information to answer with. Called on the simulator's
// thread with its state locked; use `link` to act on the link from here, never
// the simulator object itself.
class SimApplication {
public:
    virtual ~SimApplication() = default;

    // Ericsson mode: `info` is the payload after the C0 00 length header and the
    // answer is a payload the link puts behind the same header. The primary
    // drops a reply frame shorter than 15 octets, so an answer the primary is to
    // take needs at least 8 payload octets (magic and reply code); the link sends
    // shorter ones as they are, which is how a test provokes that drop.
    // AISG mode: the raw information field, answered raw.
    // No answer: the link acknowledges with RR.
    virtual std::optional<std::vector<std::uint8_t>> OnInformation(
        SimMode mode, std::span<const std::uint8_t> info, SimLinkControl& link) = 0;

    // Asked on every RR poll while connected: information ready since the last
    // answer (e.g. an operation that finishes later). None: the link answers RR.
    virtual std::optional<std::vector<std::uint8_t>> TakeWaitingReply(SimMode /*mode*/,
                                                                      SimLinkControl& /*link*/) {
        return std::nullopt;
    }

    // A restart asked for from outside (a fault at run time), taken as the
    // device's own: the application decides the mode it comes back in. Called
    // like OnInformation, with the simulator's state locked.
    virtual void RestartNow(SimLinkControl& link,
                            std::optional<std::chrono::milliseconds> silent = std::nullopt) {
        link.Restart(link.Mode(), silent.value_or(std::chrono::milliseconds{0}));
    }

    // The power gone for `off` from now: whatever was under way stops where it
    // is, and the device comes back as after a restart of its own. Called like
    // RestartNow.
    virtual void PowerCutNow(SimLinkControl& link, std::chrono::milliseconds off) {
        link.Restart(link.Mode(), off);
    }

    // Lets a fault that falls due at a time (not on a frame) happen: the link
    // calls it before each frame, and the simulator's thread between frames.
    // Called like OnInformation.
    virtual void Tick(SimLinkControl& /*link*/) {}
};

// Answers every command with its own information: enough to exercise the link.
class EchoApplication : public SimApplication {
public:
    std::optional<std::vector<std::uint8_t>> OnInformation(SimMode mode,
                                                           std::span<const std::uint8_t> info,
                                                           SimLinkControl& link) override;
};

}  // namespace kvq::sim
