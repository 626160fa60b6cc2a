#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/SimApplication.h"
#include "sim/Vlx400Protocol.h"

namespace kvq::sim {

// Every command the actuator takes, by the name the fault options use.
enum class Vlx400Command : std::uint8_t {
    Open,
    Poll,
    Identity,
    Version,
    Prepare1,
    Prepare2,
    Prepare3,
    SetTilt,
    GetTilt,
    PreRead1,
    PreRead2,
    ReadPage,
    ReadModel,
    ReadAux,
    WriteModel,
    ModeSelect,
    Restart,
    DownloadStart,
    DownloadBlock,
    DownloadEnd,
    AisgConfigure,
    AisgPrepare,
    AisgModeSelect,
    AisgRestart,
};

// "set-tilt", "read-page", "aisg-restart", ...
const char* CommandName(Vlx400Command command);
std::optional<Vlx400Command> CommandNamed(std::string_view name);
std::span<const Vlx400Command> AllCommands();
// aisg-configure, aisg-prepare, aisg-mode-select, aisg-restart.
bool IsAisgProcedure(Vlx400Command command);

// When a move is answered 0x01020D10: when the tilt has reached the target
// (the answer then goes out on the first RR poll after that), or as soon as
// the move is accepted.
enum class SetTiltReply { WhenDone, AtOnce };

using DataPage = std::array<std::uint8_t, vlx::DataPageSize>;
using AisgConfiguration = std::array<std::uint8_t, vlx::AisgConfigurationSize>;

// The actuator reboots when this command arrives for the occurrence-th time,
// without answering it.
struct RestartTrigger {
    Vlx400Command command = Vlx400Command::Open;
    std::uint32_t occurrence = 1;
};

// The actuator loses power `delay` after it has accepted the occurrence-th
// command of this name (a move it started, a vendor command it answered with
// status 0, any other command it answered as usual), and is off for `off`.
struct PowerCutTrigger {
    Vlx400Command command = Vlx400Command::SetTilt;
    std::uint32_t occurrence = 1;
    std::chrono::milliseconds delay{0};
    std::chrono::milliseconds off{5000};
};

// Another actuator on the line (the cable moved to the next sector's), the one
// that answers after the next restart or power cut. What is not given stays as
// it was: the tilt where the move stopped, the model key.
struct NextIdentity {
    std::string serialNumber;  // cut to vlx::SerialNumberMax
    std::optional<std::int16_t> tilt;
    std::optional<std::string> modelKey;  // cut to vlx::ModelKeyMax
};

// Conversions back to Ericsson mode ignored for good (see Vlx400Settings).
constexpr std::uint32_t EveryConversion = std::numeric_limits<std::uint32_t>::max();

// Page 0 carries the valid mark (0x50C2B485, least significant byte first)
// and a page name; the other pages are zero.
std::array<DataPage, vlx::DataPageCount> DefaultDataPages();

struct Vlx400Settings {
    std::string serialNumber = "XXXT0000001";  // at most vlx::SerialNumberMax characters
    std::string softwareVersion = "01.23";     // at most vlx::SoftwareVersionMax
    std::string modelKey = "M-100";            // at most vlx::ModelKeyMax
    std::string auxText;                       // at most vlx::AuxTextMax
    std::array<DataPage, vlx::DataPageCount> dataPages = DefaultDataPages();
    std::int16_t tilt = 0;        // tenths of a degree
    std::int32_t tiltSpeed = 10;  // tenths of a degree per second, at least 1
    // Targets outside this range are refused.
    std::int16_t minTarget = std::numeric_limits<std::int16_t>::min();
    std::int16_t maxTarget = std::numeric_limits<std::int16_t>::max();
    SetTiltReply setTiltReply = SetTiltReply::WhenDone;
    std::chrono::milliseconds restartSilence{3000};
    // Takes a download whole but comes back from the restart on the version it
    // had, as an actuator whose loader refuses the image.
    bool keepVersionOnRestart = false;
    std::set<Vlx400Command> refused;
    // Refused AISG procedures answered with FAIL and this return code instead
    // of silence (only AISG procedures that are also in `refused`).
    std::map<Vlx400Command, std::uint8_t> refusalCodes;
    std::optional<RestartTrigger> restartOn;
    std::optional<PowerCutTrigger> powerCutAfter;
    std::optional<NextIdentity> nextIdentity;
    // How many conversions back to Ericsson mode (AISG mode select, then the
    // restart) it takes but comes back from in AISG mode; EveryConversion:
    // all of them.
    std::uint32_t conversionsIgnored = 0;
};

// A copy of the actuator's state at one moment.
struct Vlx400State {
    using Clock = std::chrono::steady_clock;

    std::string serialNumber;
    std::string softwareVersion;
    std::string modelKey;
    std::string auxText;
    std::array<DataPage, vlx::DataPageCount> dataPages{};
    std::int16_t currentTilt = 0;  // where the move has got to by now
    std::int16_t targetTilt = 0;
    bool moving = false;
    bool setTiltReplyWaiting = false;  // a move's 0x01020D10 not yet sent
    std::int32_t tiltSpeed = 0;
    std::optional<AisgConfiguration> aisgConfiguration;       // the last stored
    std::optional<std::vector<std::uint8_t>> imageReceiving;  // between start and end
    std::optional<std::vector<std::uint8_t>> lastImage;       // the last complete one
    bool imagePendingInstall = false;  // complete, taken up at the next restart
    std::optional<SimMode> armedMode;  // the mode of the next restart, when chosen
    std::uint32_t restarts = 0;        // power cuts included
    std::uint32_t powerCuts = 0;
    std::optional<Clock::time_point> powerCutDue;  // a cut counted down to, not yet come
    std::optional<NextIdentity> nextIdentity;      // waiting for the next restart
    std::uint32_t conversionsIgnoredLeft = 0;      // EveryConversion: all
    std::uint32_t unknownCommands = 0;    // answered as unknown or, in AISG mode, not at all
    std::uint32_t malformedCommands = 0;  // too short, wrong magic, AISG length not matching
    std::uint32_t refusedCommands = 0;    // refused because a fault asked for it
};

// The E-VLX400's command set on top of the simulated link. Thread-safe: the
// link calls it on the simulator's thread, tests read and change it from
// theirs.
//
// Requests it cannot take get a defined answer:
// - Ericsson payload shorter than 8 octets, wrong magic, VendorCommand without
//   a sub-command: no answer (the link sends RR), counted as malformed;
// - unknown command code: 0xFFFFFFFF with the unknown code in bytes 8..11;
// - unknown vendor sub-command: status 0xFF;
// - a vendor parameter missing or out of range: status 2; download blocks
//   outside a download: status 3;
// - an AISG field whose length does not match, or a configuration that is not
//   64 octets: no answer, counted as malformed; a standard procedure it does
//   not know: FAIL with UnknownProcedure (procedure code echoed, length 2,
//   0x0B 0x19), counted as unknown; a vendor procedure not its own: no
//   answer, counted as unknown.
// A refused command (a fault asked for) gets status 1 (vendor sub-commands),
// 0x01020D11 (SetTilt), 0x01020D14 (GetTilt), FAIL with the code asked for
// (AISG procedures given one), or no answer (all others).
class Vlx400Application : public SimApplication {
public:
    using Clock = std::chrono::steady_clock;

    // Texts longer than their limits are cut to them.
    explicit Vlx400Application(Vlx400Settings settings = {},
                               std::function<Clock::time_point()> now = Clock::now);

    std::optional<std::vector<std::uint8_t>> OnInformation(SimMode mode,
                                                           std::span<const std::uint8_t> info,
                                                           SimLinkControl& link) override;
    std::optional<std::vector<std::uint8_t>> TakeWaitingReply(SimMode mode,
                                                              SimLinkControl& link) override;
    // Reboots as the Restart command does; without a time, for the configured
    // restart silence.
    void RestartNow(SimLinkControl& link,
                    std::optional<std::chrono::milliseconds> silent = std::nullopt) override;

    Vlx400State State() const;

    // Run-time changes; texts are cut to their limits.
    void SetSerialNumber(std::string_view text);
    void SetSoftwareVersion(std::string_view text);
    void SetModelKey(std::string_view key);
    void SetAuxText(std::string_view text);
    // False for an index above 3.
    bool SetDataPage(std::size_t index, const DataPage& page);
    // Puts the tilt there at once; a move under way ends without its answer.
    void SetTilt(std::int16_t tilt);
    // A move under way goes on from where it is at the new speed (at least 1).
    void SetTiltSpeed(std::int32_t tenthsPerSecond);
    void SetTargetRange(std::int16_t minTarget, std::int16_t maxTarget);
    void SetSetTiltReply(SetTiltReply reply);
    void SetRestartSilence(std::chrono::milliseconds silent);
    void SetKeepVersionOnRestart(bool keep);
    // Refusing anew, or allowing, forgets a return code given before.
    void Refuse(Vlx400Command command, bool refuse = true);
    // Refuses an AISG procedure with FAIL and `returnCode`; false, and nothing
    // changed, for a command that is not an AISG procedure.
    bool RefuseWithReturnCode(Vlx400Command command, std::uint8_t returnCode);
    // Counts from now; none disarms it.
    void RestartOn(std::optional<RestartTrigger> trigger);
    // Counts from now; none disarms it and a cut already counted down to.
    void PowerCutAfter(std::optional<PowerCutTrigger> trigger);
    // None: the same actuator comes back.
    void SetNextIdentity(std::optional<NextIdentity> next);
    // From now; EveryConversion for all, 0 for none.
    void IgnoreConversions(std::uint32_t count);

    // The power gone for `off` from now: a move stops where it is, a download
    // under way is lost, and it comes back as after a restart (in the mode it
    // was armed for, with an image it completed, as the next identity when one
    // is set).
    void PowerCutNow(SimLinkControl& link, std::chrono::milliseconds off) override;
    // Cuts the power when a cut counted down to is due, from the moment it was
    // due (the tilt where it was then, off from then).
    void Tick(SimLinkControl& link) override;

private:
    using Bytes = std::vector<std::uint8_t>;

    // The tilt as a motor that runs towards its target at a steady speed.
    class TiltDrive {
    public:
        void Place(std::int16_t tilt);
        void MoveTo(std::int16_t target, Clock::time_point now);
        void SetSpeed(std::int32_t tenthsPerSecond, Clock::time_point now);
        std::int16_t At(Clock::time_point now) const;
        std::int16_t Target() const { return to_; }
        std::int32_t Speed() const { return speed_; }

    private:
        std::int16_t from_ = 0;
        std::int16_t to_ = 0;
        Clock::time_point start_{};
        std::int32_t speed_ = 10;
    };

    // How a reboot comes about: a restart command (acknowledged by the link),
    // a restart of its own (a fault, from outside), or a power cut.
    enum class Cause { RestartCommand, Restart, PowerCut };

    std::optional<Bytes> OnEricsson(std::span<const std::uint8_t> payload, SimLinkControl& link);
    std::optional<Bytes> OnAisg(std::span<const std::uint8_t> field, SimLinkControl& link);
    // Counts the trigger down; true when this command is the one to reboot on.
    bool RestartTriggered(Vlx400Command command);
    // Counts the power cut's trigger down for a command accepted now.
    void CountTowardsPowerCut(Vlx400Command command);
    std::optional<Bytes> Refusal(Vlx400Command command) const;
    // The faults that stand in a command's way, then the command itself.
    std::optional<Bytes> HandleCommand(Vlx400Command command, std::span<const std::uint8_t> request,
                                       SimLinkControl& link);
    std::optional<Bytes> Perform(Vlx400Command command, std::span<const std::uint8_t> request,
                                 SimLinkControl& link);
    std::optional<Bytes> StartMove(std::span<const std::uint8_t> payload);
    Bytes HandleVendor(Vlx400Command command, std::span<const std::uint8_t> payload);
    std::optional<Bytes> HandleAisg(Vlx400Command command, std::span<const std::uint8_t> field);
    // `at`: when it went down (now when not given); the silence counts from then.
    void Reboot(SimLinkControl& link, std::chrono::milliseconds silent, Cause cause,
                std::optional<Clock::time_point> at = std::nullopt);
    void SetNextIdentityLocked(const NextIdentity& next);
    void BecomeNextIdentity();

    std::function<Clock::time_point()> now_;
    mutable std::mutex mutex_;  // guards everything below
    Vlx400Settings settings_;
    TiltDrive tilt_;
    bool setTiltReplyWaiting_ = false;
    std::optional<AisgConfiguration> aisgConfiguration_;
    std::optional<Bytes> imageReceiving_;
    std::optional<Bytes> lastImage_;
    bool imagePendingInstall_ = false;
    std::optional<SimMode> armedMode_;
    std::uint32_t restartCountdown_ = 0;
    std::uint32_t powerCutCountdown_ = 0;
    std::optional<Clock::time_point> powerCutDue_;
    std::chrono::milliseconds powerCutOff_{0};  // of the cut counted down to
    std::uint32_t restarts_ = 0;
    std::uint32_t powerCuts_ = 0;
    std::uint32_t unknownCommands_ = 0;
    std::uint32_t malformedCommands_ = 0;
    std::uint32_t refusedCommands_ = 0;
};

}  // namespace kvq::sim
