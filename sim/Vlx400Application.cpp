#include "sim/Vlx400Application.h"

#include <algorithm>

namespace kvq::sim {

namespace {

using Bytes = std::vector<std::uint8_t>;

struct NamedCommand {
    Vlx400Command command;
    const char* name;
};

constexpr NamedCommand Names[] = {
    {Vlx400Command::Open, "open"},
    {Vlx400Command::Poll, "poll"},
    {Vlx400Command::Identity, "identity"},
    {Vlx400Command::Version, "version"},
    {Vlx400Command::Prepare1, "prepare1"},
    {Vlx400Command::Prepare2, "prepare2"},
    {Vlx400Command::Prepare3, "prepare3"},
    {Vlx400Command::SetTilt, "set-tilt"},
    {Vlx400Command::GetTilt, "get-tilt"},
    {Vlx400Command::PreRead1, "preread1"},
    {Vlx400Command::PreRead2, "preread2"},
    {Vlx400Command::ReadPage, "read-page"},
    {Vlx400Command::ReadModel, "read-model"},
    {Vlx400Command::ReadAux, "read-aux"},
    {Vlx400Command::WriteModel, "write-model"},
    {Vlx400Command::ModeSelect, "mode-select"},
    {Vlx400Command::Restart, "restart"},
    {Vlx400Command::DownloadStart, "download-start"},
    {Vlx400Command::DownloadBlock, "download-block"},
    {Vlx400Command::DownloadEnd, "download-end"},
    {Vlx400Command::AisgConfigure, "aisg-configure"},
    {Vlx400Command::AisgPrepare, "aisg-prepare"},
    {Vlx400Command::AisgModeSelect, "aisg-mode-select"},
    {Vlx400Command::AisgRestart, "aisg-restart"},
};

constexpr auto CommandList = [] {
    std::array<Vlx400Command, std::size(Names)> list{};
    for (std::size_t i = 0; i < list.size(); ++i)
        list[i] = Names[i].command;
    return list;
}();

// Ericsson commands without a sub-command, and the code each is answered with.
struct PlainCommand {
    std::uint32_t code;
    Vlx400Command command;
    std::uint32_t reply;
};

constexpr PlainCommand PlainCommands[] = {
    {vlx::OpenRequest, Vlx400Command::Open, vlx::OpenReply},
    {vlx::PollRequest, Vlx400Command::Poll, vlx::PollReply},
    {vlx::IdentityRequest, Vlx400Command::Identity, vlx::IdentityReply},
    {vlx::VersionRequest, Vlx400Command::Version, vlx::VersionReply},
    {vlx::PrepareRequest1, Vlx400Command::Prepare1, vlx::Prepare1Reply},
    {vlx::PrepareRequest2, Vlx400Command::Prepare2, vlx::Prepare2Reply},
    {vlx::PrepareRequest3, Vlx400Command::Prepare3, vlx::Prepare3Reply},
    {vlx::SetTiltRequest, Vlx400Command::SetTilt, vlx::SetTiltDone},
    {vlx::GetTiltRequest, Vlx400Command::GetTilt, vlx::GetTiltValue},
};

struct VendorEntry {
    std::uint8_t subCommand;
    Vlx400Command command;
};

constexpr VendorEntry VendorCommands[] = {
    {vlx::PreRead1, Vlx400Command::PreRead1},
    {vlx::PreRead2, Vlx400Command::PreRead2},
    {vlx::ReadDataPage, Vlx400Command::ReadPage},
    {vlx::ReadModel, Vlx400Command::ReadModel},
    {vlx::ReadAuxText, Vlx400Command::ReadAux},
    {vlx::WriteModel, Vlx400Command::WriteModel},
    {vlx::ModeSelect, Vlx400Command::ModeSelect},
    {vlx::Restart, Vlx400Command::Restart},
    {vlx::DownloadStart, Vlx400Command::DownloadStart},
    {vlx::DownloadBlock, Vlx400Command::DownloadBlock},
    {vlx::DownloadEnd, Vlx400Command::DownloadEnd},
};

std::optional<std::uint8_t> SubCommandOf(Vlx400Command command) {
    for (const auto& entry : VendorCommands) {
        if (entry.command == command) return entry.subCommand;
    }
    return std::nullopt;
}

// The procedure code an AISG-mode command comes under; none in Ericsson mode.
std::optional<std::uint8_t> AisgProcedureOf(Vlx400Command command) {
    switch (command) {
        case Vlx400Command::AisgConfigure:
            return vlx::AisgConfigureCode;
        case Vlx400Command::AisgPrepare:
        case Vlx400Command::AisgModeSelect:
        case Vlx400Command::AisgRestart:
            return vlx::AisgVendorCode;
        default:
            return std::nullopt;
    }
}

// Keeps a received image from growing without bound; far above any real one.
constexpr std::size_t MaxImageSize = std::size_t{1} << 20;

// A motion longer than this has surely ended; keeps the arithmetic in range.
constexpr std::int64_t LongestMoveMs = 100'000'000;

constexpr char BootText[] = "BOOT 1.04";

void PutBig32(Bytes& bytes, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.push_back(static_cast<std::uint8_t>(value >> shift));
}

std::uint32_t Big32(std::span<const std::uint8_t> bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | bytes[at + 3];
}

Bytes Reply(std::uint32_t code) {
    Bytes reply;
    PutBig32(reply, vlx::Magic);
    PutBig32(reply, code);
    return reply;
}

// Whether the actuator took a command it answered so: not a move it refused
// (out of range, cut short) nor a vendor command answered with a status other
// than 0.
bool Accepted(Vlx400Command command, const std::optional<Bytes>& reply) {
    if (command == Vlx400Command::SetTilt) return reply != Reply(vlx::SetTiltRefused);
    if (!SubCommandOf(command) || !reply) return true;
    return reply->size() > vlx::VendorStatusAt && (*reply)[vlx::VendorStatusAt] == vlx::Accepted;
}

// A standard AISG failure: the procedure echoed, two octets of data, FAIL and
// the reason.
Bytes AisgFailure(std::uint8_t procedure, std::uint8_t returnCode) {
    return Bytes{procedure, 0x02, 0x00, vlx::AisgReturnFail, returnCode};
}

Bytes VendorReply(std::uint8_t subCommand, std::uint8_t status) {
    Bytes reply = Reply(vlx::VendorCommand);
    reply.push_back(subCommand);
    reply.push_back(status);
    return reply;
}

void PutText(Bytes& bytes, std::string_view text) {
    bytes.insert(bytes.end(), text.begin(), text.end());
}

std::string Cut(std::string_view text, std::size_t limit) {
    return std::string(text.substr(0, limit));
}

// The version a firmware image carries in its header, when the header holds one.
std::optional<std::string> ImageVersion(const Bytes& image) {
    if (image.size() <= vlx::ImageVersionAt || image[0] == 0) return std::nullopt;
    const auto first = image.begin() + vlx::ImageVersionAt;
    const auto last =
        image.begin() + static_cast<std::ptrdiff_t>(std::min(image.size(), vlx::ImageHeaderSize));
    const std::string version(first, std::find(first, last, std::uint8_t{0}));
    if (version.empty()) return std::nullopt;
    return Cut(version, vlx::SoftwareVersionMax);
}

}  // namespace

const char* CommandName(Vlx400Command command) {
    for (const auto& entry : Names) {
        if (entry.command == command) return entry.name;
    }
    return "?";
}

std::optional<Vlx400Command> CommandNamed(std::string_view name) {
    for (const auto& entry : Names) {
        if (name == entry.name) return entry.command;
    }
    return std::nullopt;
}

std::span<const Vlx400Command> AllCommands() {
    return CommandList;
}

bool IsAisgProcedure(Vlx400Command command) {
    return AisgProcedureOf(command).has_value();
}

std::array<DataPage, vlx::DataPageCount> DefaultDataPages() {
    std::array<DataPage, vlx::DataPageCount> pages{};
    const std::uint8_t header[] = {0x00, 0x00, 0x00, 0x00, 0x85, 0xB4, 0xC2, 0x50, 'S', 'I', 'M'};
    std::copy(std::begin(header), std::end(header), pages[0].begin());
    return pages;
}

// --- TiltDrive ---

void Vlx400Application::TiltDrive::Place(std::int16_t tilt) {
    from_ = tilt;
    to_ = tilt;
}

void Vlx400Application::TiltDrive::MoveTo(std::int16_t target, Clock::time_point now) {
    from_ = At(now);
    to_ = target;
    start_ = now;
}

void Vlx400Application::TiltDrive::SetSpeed(std::int32_t tenthsPerSecond, Clock::time_point now) {
    // The part already travelled stays travelled.
    from_ = At(now);
    start_ = now;
    speed_ = std::max<std::int32_t>(1, tenthsPerSecond);
}

std::int16_t Vlx400Application::TiltDrive::At(Clock::time_point now) const {
    if (from_ == to_) return to_;
    const auto elapsed = std::clamp<std::int64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - start_).count(), 0,
        LongestMoveMs);
    const std::int64_t travelled = elapsed * speed_ / 1000;
    const std::int64_t span = std::int64_t{to_} - from_;
    if (travelled >= (span < 0 ? -span : span)) return to_;
    return static_cast<std::int16_t>(from_ + (span < 0 ? -travelled : travelled));
}

// --- Vlx400Application ---

Vlx400Application::Vlx400Application(Vlx400Settings settings,
                                     std::function<Clock::time_point()> now)
    : now_(std::move(now)), settings_(std::move(settings)) {
    settings_.serialNumber = Cut(settings_.serialNumber, vlx::SerialNumberMax);
    settings_.softwareVersion = Cut(settings_.softwareVersion, vlx::SoftwareVersionMax);
    settings_.modelKey = Cut(settings_.modelKey, vlx::ModelKeyMax);
    settings_.auxText = Cut(settings_.auxText, vlx::AuxTextMax);
    settings_.tiltSpeed = std::max<std::int32_t>(1, settings_.tiltSpeed);
    const auto when = now_();
    tilt_.SetSpeed(settings_.tiltSpeed, when);
    tilt_.Place(settings_.tilt);
    if (settings_.restartOn)
        restartCountdown_ = std::max<std::uint32_t>(1, settings_.restartOn->occurrence);
    if (settings_.powerCutAfter)
        powerCutCountdown_ = std::max<std::uint32_t>(1, settings_.powerCutAfter->occurrence);
    // Refusal codes only ever stand beside a refusal of an AISG procedure.
    std::erase_if(settings_.refusalCodes, [this](const auto& entry) {
        return !IsAisgProcedure(entry.first) || !settings_.refused.contains(entry.first);
    });
    if (settings_.nextIdentity) SetNextIdentityLocked(*settings_.nextIdentity);
}

Vlx400State Vlx400Application::State() const {
    std::lock_guard lock(mutex_);
    const auto now = now_();
    Vlx400State state;
    state.serialNumber = settings_.serialNumber;
    state.softwareVersion = settings_.softwareVersion;
    state.modelKey = settings_.modelKey;
    state.auxText = settings_.auxText;
    state.dataPages = settings_.dataPages;
    state.currentTilt = tilt_.At(now);
    state.targetTilt = tilt_.Target();
    state.moving = state.currentTilt != state.targetTilt;
    state.setTiltReplyWaiting = setTiltReplyWaiting_;
    state.tiltSpeed = tilt_.Speed();
    state.aisgConfiguration = aisgConfiguration_;
    state.imageReceiving = imageReceiving_;
    state.lastImage = lastImage_;
    state.imagePendingInstall = imagePendingInstall_;
    state.armedMode = armedMode_;
    state.restarts = restarts_;
    state.powerCuts = powerCuts_;
    state.powerCutDue = powerCutDue_;
    state.nextIdentity = settings_.nextIdentity;
    state.conversionsIgnoredLeft = settings_.conversionsIgnored;
    state.unknownCommands = unknownCommands_;
    state.malformedCommands = malformedCommands_;
    state.refusedCommands = refusedCommands_;
    return state;
}

void Vlx400Application::SetSerialNumber(std::string_view text) {
    std::lock_guard lock(mutex_);
    settings_.serialNumber = Cut(text, vlx::SerialNumberMax);
}

void Vlx400Application::SetSoftwareVersion(std::string_view text) {
    std::lock_guard lock(mutex_);
    settings_.softwareVersion = Cut(text, vlx::SoftwareVersionMax);
}

void Vlx400Application::SetModelKey(std::string_view key) {
    std::lock_guard lock(mutex_);
    settings_.modelKey = Cut(key, vlx::ModelKeyMax);
}

void Vlx400Application::SetAuxText(std::string_view text) {
    std::lock_guard lock(mutex_);
    settings_.auxText = Cut(text, vlx::AuxTextMax);
}

bool Vlx400Application::SetDataPage(std::size_t index, const DataPage& page) {
    if (index >= vlx::DataPageCount) return false;
    std::lock_guard lock(mutex_);
    settings_.dataPages[index] = page;
    return true;
}

void Vlx400Application::SetTilt(std::int16_t tilt) {
    std::lock_guard lock(mutex_);
    tilt_.Place(tilt);
    setTiltReplyWaiting_ = false;
}

void Vlx400Application::SetTiltSpeed(std::int32_t tenthsPerSecond) {
    std::lock_guard lock(mutex_);
    tilt_.SetSpeed(tenthsPerSecond, now_());
    settings_.tiltSpeed = tilt_.Speed();
}

void Vlx400Application::SetTargetRange(std::int16_t minTarget, std::int16_t maxTarget) {
    std::lock_guard lock(mutex_);
    settings_.minTarget = minTarget;
    settings_.maxTarget = maxTarget;
}

void Vlx400Application::SetSetTiltReply(SetTiltReply reply) {
    std::lock_guard lock(mutex_);
    settings_.setTiltReply = reply;
}

void Vlx400Application::SetRestartSilence(std::chrono::milliseconds silent) {
    std::lock_guard lock(mutex_);
    settings_.restartSilence = std::max(silent, std::chrono::milliseconds{0});
}

void Vlx400Application::SetKeepVersionOnRestart(bool keep) {
    std::lock_guard lock(mutex_);
    settings_.keepVersionOnRestart = keep;
}

void Vlx400Application::Refuse(Vlx400Command command, bool refuse) {
    std::lock_guard lock(mutex_);
    settings_.refusalCodes.erase(command);
    if (refuse) {
        settings_.refused.insert(command);
    } else {
        settings_.refused.erase(command);
    }
}

bool Vlx400Application::RefuseWithReturnCode(Vlx400Command command, std::uint8_t returnCode) {
    if (!IsAisgProcedure(command)) return false;
    std::lock_guard lock(mutex_);
    settings_.refused.insert(command);
    settings_.refusalCodes[command] = returnCode;
    return true;
}

void Vlx400Application::RestartOn(std::optional<RestartTrigger> trigger) {
    std::lock_guard lock(mutex_);
    settings_.restartOn = trigger;
    restartCountdown_ = trigger ? std::max<std::uint32_t>(1, trigger->occurrence) : 0;
}

void Vlx400Application::PowerCutAfter(std::optional<PowerCutTrigger> trigger) {
    std::lock_guard lock(mutex_);
    settings_.powerCutAfter = trigger;
    powerCutCountdown_ = trigger ? std::max<std::uint32_t>(1, trigger->occurrence) : 0;
    powerCutDue_.reset();
}

void Vlx400Application::SetNextIdentity(std::optional<NextIdentity> next) {
    std::lock_guard lock(mutex_);
    settings_.nextIdentity.reset();
    if (next) SetNextIdentityLocked(*next);
}

void Vlx400Application::SetNextIdentityLocked(const NextIdentity& next) {
    NextIdentity kept = next;
    kept.serialNumber = Cut(next.serialNumber, vlx::SerialNumberMax);
    if (kept.modelKey) kept.modelKey = Cut(*kept.modelKey, vlx::ModelKeyMax);
    settings_.nextIdentity = std::move(kept);
}

void Vlx400Application::IgnoreConversions(std::uint32_t count) {
    std::lock_guard lock(mutex_);
    settings_.conversionsIgnored = count;
}

std::optional<Bytes> Vlx400Application::OnInformation(SimMode mode,
                                                      std::span<const std::uint8_t> info,
                                                      SimLinkControl& link) {
    std::lock_guard lock(mutex_);
    return mode == SimMode::Ericsson ? OnEricsson(info, link) : OnAisg(info, link);
}

std::optional<Bytes> Vlx400Application::TakeWaitingReply(SimMode mode, SimLinkControl& /*link*/) {
    std::lock_guard lock(mutex_);
    if (mode != SimMode::Ericsson || !setTiltReplyWaiting_) return std::nullopt;
    if (tilt_.At(now_()) != tilt_.Target()) return std::nullopt;
    setTiltReplyWaiting_ = false;
    return Reply(vlx::SetTiltDone);
}

void Vlx400Application::RestartNow(SimLinkControl& link,
                                   std::optional<std::chrono::milliseconds> silent) {
    std::lock_guard lock(mutex_);
    Reboot(link, silent.value_or(settings_.restartSilence), Cause::Restart);
}

void Vlx400Application::PowerCutNow(SimLinkControl& link, std::chrono::milliseconds off) {
    std::lock_guard lock(mutex_);
    Reboot(link, off, Cause::PowerCut);
}

void Vlx400Application::Tick(SimLinkControl& link) {
    std::lock_guard lock(mutex_);
    if (!powerCutDue_ || now_() < *powerCutDue_) return;
    const auto due = *powerCutDue_;
    powerCutDue_.reset();
    Reboot(link, powerCutOff_, Cause::PowerCut, due);
}

void Vlx400Application::Reboot(SimLinkControl& link, std::chrono::milliseconds silent, Cause cause,
                               std::optional<Clock::time_point> at) {
    const auto now = now_();
    const auto down = std::min(at.value_or(now), now);
    // The motor stops where it is; whatever was under way is lost.
    tilt_.Place(tilt_.At(down));
    setTiltReplyWaiting_ = false;
    imageReceiving_.reset();
    if (settings_.nextIdentity) {
        // Another actuator answers: it never had this one's image or configuration.
        BecomeNextIdentity();
    } else if (imagePendingInstall_ && lastImage_ && !settings_.keepVersionOnRestart) {
        if (const auto version = ImageVersion(*lastImage_)) settings_.softwareVersion = *version;
    }
    imagePendingInstall_ = false;
    SimMode mode = armedMode_.value_or(link.Mode());
    if (mode == SimMode::Ericsson && link.Mode() == SimMode::Aisg &&
        settings_.conversionsIgnored > 0) {
        // Took the conversion's frames, yet its loader starts it in AISG mode again.
        mode = SimMode::Aisg;
        if (settings_.conversionsIgnored != EveryConversion) --settings_.conversionsIgnored;
    }
    armedMode_.reset();
    ++restarts_;
    if (cause == Cause::PowerCut) ++powerCuts_;
    // Off from when it went down, however late this is noticed.
    const auto left =
        std::max(std::chrono::duration_cast<std::chrono::milliseconds>(down + silent - now),
                 std::chrono::milliseconds{0});
    if (cause == Cause::RestartCommand) {
        link.RestartAfterAcknowledging(mode, left);
    } else {
        link.Restart(mode, left);
    }
}

void Vlx400Application::BecomeNextIdentity() {
    const NextIdentity next = std::move(*settings_.nextIdentity);
    settings_.nextIdentity.reset();
    settings_.serialNumber = next.serialNumber;
    if (next.modelKey) settings_.modelKey = *next.modelKey;
    if (next.tilt) tilt_.Place(*next.tilt);
    lastImage_.reset();
    aisgConfiguration_.reset();
}

bool Vlx400Application::RestartTriggered(Vlx400Command command) {
    if (!settings_.restartOn || settings_.restartOn->command != command || restartCountdown_ == 0)
        return false;
    if (--restartCountdown_ > 0) return false;
    settings_.restartOn.reset();
    return true;
}

void Vlx400Application::CountTowardsPowerCut(Vlx400Command command) {
    const auto& trigger = settings_.powerCutAfter;
    if (!trigger || trigger->command != command || powerCutCountdown_ == 0) return;
    if (--powerCutCountdown_ > 0) return;
    powerCutDue_ = now_() + std::max(trigger->delay, std::chrono::milliseconds{0});
    powerCutOff_ = std::max(trigger->off, std::chrono::milliseconds{0});
    settings_.powerCutAfter.reset();
}

std::optional<Bytes> Vlx400Application::Refusal(Vlx400Command command) const {
    if (command == Vlx400Command::SetTilt) return Reply(vlx::SetTiltRefused);
    if (command == Vlx400Command::GetTilt) return Reply(vlx::GetTiltFailed);
    if (const auto subCommand = SubCommandOf(command))
        return VendorReply(*subCommand, vlx::Refused);
    if (const auto code = settings_.refusalCodes.find(command);
        code != settings_.refusalCodes.end())
        return AisgFailure(*AisgProcedureOf(command), code->second);
    return std::nullopt;
}

std::optional<Bytes> Vlx400Application::OnEricsson(std::span<const std::uint8_t> payload,
                                                   SimLinkControl& link) {
    if (payload.size() < vlx::ParametersAt || Big32(payload, 0) != vlx::Magic) {
        ++malformedCommands_;
        return std::nullopt;
    }
    const std::uint32_t code = Big32(payload, vlx::CodeAt);
    std::optional<Vlx400Command> command;
    if (code == vlx::VendorCommand) {
        if (payload.size() <= vlx::ParametersAt) {
            ++malformedCommands_;
            return std::nullopt;
        }
        const std::uint8_t subCommand = payload[vlx::ParametersAt];
        for (const auto& entry : VendorCommands) {
            if (entry.subCommand == subCommand) command = entry.command;
        }
        if (!command) {
            ++unknownCommands_;
            return VendorReply(subCommand, vlx::UnknownSubCommand);
        }
    } else {
        for (const auto& entry : PlainCommands) {
            if (entry.code == code) command = entry.command;
        }
        if (!command) {
            ++unknownCommands_;
            Bytes reply = Reply(vlx::UnknownCommand);
            PutBig32(reply, code);
            return reply;
        }
    }
    return HandleCommand(*command, payload, link);
}

std::optional<Bytes> Vlx400Application::HandleCommand(Vlx400Command command,
                                                      std::span<const std::uint8_t> request,
                                                      SimLinkControl& link) {
    if (RestartTriggered(command)) {
        // Dies on the command: no answer, back after the usual silence.
        Reboot(link, settings_.restartSilence, Cause::Restart);
        return std::nullopt;
    }
    if (settings_.refused.contains(command)) {
        ++refusedCommands_;
        return Refusal(command);
    }
    auto reply = Perform(command, request, link);
    if (Accepted(command, reply)) CountTowardsPowerCut(command);
    return reply;
}

std::optional<Bytes> Vlx400Application::Perform(Vlx400Command command,
                                                std::span<const std::uint8_t> payload,
                                                SimLinkControl& link) {
    if (command == Vlx400Command::Restart || command == Vlx400Command::AisgRestart) {
        // No reply is awaited: the poll is acknowledged and the actuator reboots.
        Reboot(link, settings_.restartSilence, Cause::RestartCommand);
        return std::nullopt;
    }
    if (AisgProcedureOf(command)) return HandleAisg(command, payload);
    if (SubCommandOf(command)) return HandleVendor(command, payload);
    switch (command) {
        case Vlx400Command::Identity: {
            Bytes reply = Reply(vlx::IdentityReply);
            reply.resize(vlx::SerialNumberAt, 0);
            PutText(reply, settings_.serialNumber);
            reply.push_back(0);
            return reply;
        }
        case Vlx400Command::Version: {
            // The boot loader's version comes first; the tool passes over it.
            Bytes reply = Reply(vlx::VersionReply);
            PutText(reply, BootText);
            reply.resize(vlx::VersionAt, 0);
            PutText(reply, settings_.softwareVersion);
            reply.push_back(0);
            return reply;
        }
        case Vlx400Command::SetTilt:
            return StartMove(payload);
        case Vlx400Command::GetTilt: {
            Bytes reply = Reply(vlx::GetTiltValue);
            const auto tilt = static_cast<std::uint16_t>(tilt_.At(now_()));
            reply.insert(reply.end(), {0x00, 0x01, static_cast<std::uint8_t>(tilt >> 8),
                                       static_cast<std::uint8_t>(tilt & 0xFF)});
            return reply;
        }
        default:
            break;
    }
    for (const auto& entry : PlainCommands) {
        if (entry.command == command) return Reply(entry.reply);
    }
    return std::nullopt;  // not reached: every command is one of the above
}

std::optional<Bytes> Vlx400Application::StartMove(std::span<const std::uint8_t> payload) {
    // 00 01, then the target as 16-bit two's complement.
    if (payload.size() < vlx::ParametersAt + 4) {
        ++malformedCommands_;
        return Reply(vlx::SetTiltRefused);
    }
    const auto target = static_cast<std::int16_t>(
        (std::uint16_t{payload[vlx::ParametersAt + 2]} << 8) | payload[vlx::ParametersAt + 3]);
    if (target < settings_.minTarget || target > settings_.maxTarget)
        return Reply(vlx::SetTiltRefused);
    const auto now = now_();
    tilt_.MoveTo(target, now);
    // A newer move replaces the one under way and its pending answer.
    setTiltReplyWaiting_ = false;
    if (settings_.setTiltReply == SetTiltReply::WhenDone && tilt_.At(now) != target) {
        setTiltReplyWaiting_ = true;
        return std::nullopt;  // the link acknowledges with RR for now
    }
    return Reply(vlx::SetTiltDone);
}

Bytes Vlx400Application::HandleVendor(Vlx400Command command,
                                      std::span<const std::uint8_t> payload) {
    const std::uint8_t subCommand = *SubCommandOf(command);
    const auto parameters = payload.subspan(vlx::ParametersAt + 1);
    Bytes reply = VendorReply(subCommand, vlx::Accepted);
    auto& status = reply[vlx::VendorStatusAt];
    switch (command) {
        case Vlx400Command::ReadPage: {
            if (parameters.empty()) {
                status = vlx::BadParameter;
                break;
            }
            const std::uint8_t index = parameters[0];
            reply.push_back(index);
            if (index >= vlx::DataPageCount) {
                status = vlx::BadParameter;
                break;
            }
            const auto& page = settings_.dataPages[index];
            reply.insert(reply.end(), page.begin(), page.end());
            break;
        }
        case Vlx400Command::ReadModel:
            reply.push_back(static_cast<std::uint8_t>(settings_.modelKey.size()));
            PutText(reply, settings_.modelKey);
            break;
        case Vlx400Command::ReadAux:
            reply.push_back(static_cast<std::uint8_t>(settings_.auxText.size()));
            PutText(reply, settings_.auxText);
            break;
        case Vlx400Command::WriteModel: {
            const auto key = parameters.first(std::min(parameters.size(), vlx::ModelKeyMax));
            settings_.modelKey.assign(key.begin(), std::find(key.begin(), key.end(), 0));
            break;
        }
        case Vlx400Command::ModeSelect:
            if (parameters.empty() || parameters[0] != vlx::ModeSelectAisg) {
                status = vlx::BadParameter;
                break;
            }
            armedMode_ = SimMode::Aisg;
            break;
        case Vlx400Command::DownloadStart:
            imageReceiving_.emplace();
            break;
        case Vlx400Command::DownloadBlock:
            if (!imageReceiving_) {
                status = vlx::OutOfSequence;
            } else if (parameters.empty() || parameters.size() > vlx::DownloadBlockMax) {
                status = vlx::BadParameter;
            } else if (imageReceiving_->size() + parameters.size() > MaxImageSize) {
                status = vlx::ImageTooLarge;
            } else {
                imageReceiving_->insert(imageReceiving_->end(), parameters.begin(),
                                        parameters.end());
            }
            break;
        case Vlx400Command::DownloadEnd:
            if (!imageReceiving_) {
                status = vlx::OutOfSequence;
                break;
            }
            lastImage_ = std::move(*imageReceiving_);
            imageReceiving_.reset();
            imagePendingInstall_ = true;
            break;
        default:  // PreRead1, PreRead2: the status says it all
            break;
    }
    return reply;
}

std::optional<Bytes> Vlx400Application::OnAisg(std::span<const std::uint8_t> field,
                                               SimLinkControl& link) {
    if (field.size() < 3 ||
        (std::size_t{field[1]} | (std::size_t{field[2]} << 8)) != field.size() - 3) {
        ++malformedCommands_;
        return std::nullopt;
    }
    const auto data = field.subspan(3);
    std::optional<Vlx400Command> command;
    if (field[0] == vlx::AisgConfigureCode) {
        if (data.size() != vlx::AisgConfigurationSize) {
            ++malformedCommands_;
            return std::nullopt;
        }
        command = Vlx400Command::AisgConfigure;
    } else if (field[0] == vlx::AisgVendorCode && data.size() >= 3 && data[0] == vlx::VendorId0 &&
               data[1] == vlx::VendorId1) {
        const auto operation = data.subspan(2);
        if (operation.size() == 1 && operation[0] == vlx::AisgPrepareOp) {
            command = Vlx400Command::AisgPrepare;
        } else if (operation.size() == 2 && operation[0] == vlx::AisgModeSelectOp &&
                   operation[1] == vlx::AisgModeEricsson) {
            command = Vlx400Command::AisgModeSelect;
        } else if (operation.size() == 1 && operation[0] == vlx::AisgRestartOp) {
            command = Vlx400Command::AisgRestart;
        }
    }
    if (!command) {
        ++unknownCommands_;
        // A standard procedure it does not know is told so; a vendor procedure
        // not its own (another vendor, another operation) goes unanswered.
        if (field[0] == vlx::AisgVendorCode) return std::nullopt;
        return AisgFailure(field[0], vlx::AisgUnknownProcedure);
    }
    return HandleCommand(*command, field, link);
}

std::optional<Bytes> Vlx400Application::HandleAisg(Vlx400Command command,
                                                   std::span<const std::uint8_t> field) {
    switch (command) {
        case Vlx400Command::AisgConfigure: {
            AisgConfiguration configuration{};
            std::copy(field.begin() + 3, field.end(), configuration.begin());
            aisgConfiguration_ = configuration;
            return Bytes{vlx::AisgConfigureCode, 0x00, 0x00};
        }
        case Vlx400Command::AisgModeSelect:
            armedMode_ = SimMode::Ericsson;
            break;
        default:  // AisgPrepare
            break;
    }
    // The vendor procedures are acknowledged by sending the field back.
    return Bytes(field.begin(), field.end());
}

}  // namespace kvq::sim
