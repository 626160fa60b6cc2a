// The E-VLX400's record and command sequences. Every start operation sends the
// first command and sets its first step; every reply handler checks the reply
// against the step, sends the next command and advances.

#include "actuator/VLX400E.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "actuator/Commands.h"
#include "actuator/Controls.h"
#include "antenna/AntennaTable.h"
#include "core/TimeSource.h"

using namespace kvq::core;
using namespace kvq::antenna;

namespace kvq::actuator {

namespace {

constexpr const char* NoModelText = "NO RECOGNIZED ANTENNA MODEL?";
constexpr const char* SetTiltFailedText = "SET TILT FAILED";
constexpr const char* GetTiltFailedText = "GET TILT FAILED";
constexpr const char* NoSerialNumber = "(no serial num)";

constexpr std::size_t SerialNumberAt = 51;
constexpr std::size_t SerialNumberMax = 127;
constexpr std::size_t VersionAt = 21;
constexpr std::size_t VersionKept = 16;
constexpr std::size_t NameCountAt = 10;
constexpr std::size_t ModelNameMax = 16;
constexpr std::size_t AuxTextMax = 31;
constexpr std::size_t TiltAt = 10;

constexpr std::uint32_t CheckPauseMs = 2000;
constexpr std::uint32_t SuspendPollingMs = 1000;
constexpr std::uint32_t AfterResumeMs = 500;
constexpr std::uint32_t RestartAfterUpdateMs = 5000;
constexpr std::uint32_t AisgRestartPauseMs = 2000;
constexpr std::uint32_t EricssonRestartPauseMs = 1000;
constexpr std::uint32_t QuietPassMs = 50;
constexpr double CreepPerPass = 3.0;
constexpr std::uint32_t TiltPollMs = 550;  // eleven quiet passes

// The 16-bit tilt of a GetTiltRequest reply: two's complement, as a negative
// tilt is sent, so a model with a negative minimum reads back right.
std::optional<std::int32_t> TiltOf(const cmd::Reply& reply) {
    const auto raw = reply.Big16(TiltAt);
    if (!raw) return std::nullopt;
    return static_cast<std::int16_t>(*raw);
}

template <class Step>
constexpr std::int32_t N(Step step) {
    return static_cast<std::int32_t>(step);
}

// The preamble's steps: the reply each waits for and the request that follows it.
struct PreambleEntry {
    std::uint32_t reply;
    CommandBufferPtr (*request)(std::int32_t deviceIndex);
};
CommandBufferPtr Poll(std::int32_t deviceIndex) {
    return cmd::Command(deviceIndex, cmd::PollRequest);
}
CommandBufferPtr Prepare1(std::int32_t deviceIndex) {
    return cmd::Command(deviceIndex, cmd::PrepareRequest1);
}
constexpr std::array<PreambleEntry, 7> Preamble = {{
    {cmd::OpenReply, Poll},
    {cmd::PollReply, Prepare1},
    {cmd::Prepare1Reply, Poll},
    {cmd::PollReply, cmd::PrepareRequest2Command},
    {cmd::Prepare2Reply, Poll},
    {cmd::PollReply, cmd::PrepareRequest3Command},
    {cmd::Prepare3Reply, Poll},
}};

// What an accepted preamble step does to the reply timer.
enum class Arm { Keep, Reply, Long };

bool Watched(ActuatorState state) {
    switch (state) {
        case ActuatorState::Searching:
        case ActuatorState::Finished:
        case ActuatorState::Inactive:
        case ActuatorState::ScanSerial:
        case ActuatorState::Failed:
            return false;  // nothing is awaited in these states
        default:
            return static_cast<std::int32_t>(state) != 11;
    }
}

}  // namespace

struct PreamblePlan {
    // The step whose reply hands over to the operation's own tail.
    PreambleStep handOver;
    std::array<Arm, 7> arms;
};

bool VariantIsServed(std::string_view variant) {
    return std::find(ServedVariants.begin(), ServedVariants.end(), variant) !=
           ServedVariants.end();
}

CVLX400E::CVLX400E() = default;

CVLX400E::~CVLX400E() = default;

// ---- the record ----------------------------------------------------------------

DeviceSnapshot CVLX400E::Snapshot() const {
    std::lock_guard lock(mutex_);
    DeviceSnapshot copy = record_;
    copy.checkComplete =
        copy.state == ActuatorState::ScanSerial && copy.step >= N(CheckStep::AwaitTilt);
    return copy;
}

void CVLX400E::SetControls(TiltSliderControl* tiltSlider, ModelListControl* modelList) {
    std::lock_guard lock(controlsMutex_);
    tiltSlider_ = tiltSlider;
    modelList_ = modelList;
}

void CVLX400E::SetState(ActuatorState newState) {
    Update([&](DeviceSnapshot&) { SetStateLocked(newState); });
}

void CVLX400E::SetStateLocked(ActuatorState newState) {
    const ActuatorState oldState = record_.state;
    const auto calibrating = [](ActuatorState s) {
        return s == ActuatorState::Calibrating || s == ActuatorState::CalibratingAisg;
    };
    const bool restartingDuringSetup =
        newState == ActuatorState::Searching && calibrating(oldState);
    record_.setupPending = calibrating(newState) || restartingDuringSetup ? 1 : 0;
    // A deadline left over from an earlier operation must not fail this one
    // in the moment before its start operation arms its own: the watchdog
    // wakes on every change of the record and would see it at once.
    if (Watched(newState) && !Watched(oldState)) replyDeadline_.Set(ReplyTimeoutMs);
    record_.state = newState;
    if (record_.setupPending == 0 && newState == ActuatorState::Searching) record_.progress = 0.0;
}

void CVLX400E::SetStep(std::int32_t step) {
    Update([&](DeviceSnapshot& r) { r.step = step; });
}

void CVLX400E::Fail(FailCode code) {
    Update([&](DeviceSnapshot& r) {
        r.failCode = code;
        SetStateLocked(ActuatorState::Failed);
        r.step = 0;
    });
    ReleaseFirmwareImage();
}

bool CVLX400E::FailIfReplyOverdue() {
    {
        std::lock_guard lock(mutex_);
        if (!Watched(record_.state) || !replyDeadline_.Expired()) return false;
        record_.failCode = FailCode::NoReply;
        SetStateLocked(ActuatorState::Failed);
    }
    changes_.Notify();
    // Wakes the actuator thread, so it lets go of what the operation held.
    PostThreadMessage(threadId_.load(), 0);
    return true;
}

std::optional<std::uint32_t> CVLX400E::MsUntilReplyOverdue() const {
    std::lock_guard lock(mutex_);
    if (!Watched(record_.state)) return std::nullopt;
    if (replyDeadline_.Expired()) return 0;
    // Expired from the millisecond after the deadline on.
    return replyDeadline_.Deadline() - TickCount() + 1;
}

void CVLX400E::ArmReplyTimer(std::uint32_t ms) {
    {
        std::lock_guard lock(mutex_);
        replyDeadline_.Set(ms);
    }
    changes_.Notify();  // the watchdog's deadline moved
}

void CVLX400E::ForgetSerialNumber() {
    {
        std::lock_guard lock(mutex_);
        if (record_.serialNumber == NoSerialNumber) return;
        record_.serialNumber = NoSerialNumber;
    }
    changes_.Notify();
}

void CVLX400E::ForgetDevice() {
    Update([](DeviceSnapshot& r) {
        r.serialNumber = NoSerialNumber;
        r.softwareVersion = " ";
        r.maxTilt = 0;
        r.minTilt = 0;
        r.problemText.clear();
        r.antennaModel.clear();
        r.requestedTilt = 0;
    });
}

void CVLX400E::SetProblem(std::string_view text) {
    Update([&](DeviceSnapshot& r) { r.problemText = text; });
}

void CVLX400E::SetProgress(double progress) {
    Update([&](DeviceSnapshot& r) { r.progress = progress; });
}

void CVLX400E::ApplyTiltRange() {
    const DeviceSnapshot r = Snapshot();
    std::lock_guard lock(controlsMutex_);
    if (tiltSlider_ == nullptr) return;
    tiltSlider_->SetRange(r.minTilt, r.maxTilt);
    if (r.maxTilt < r.minTilt) return;
    for (std::int32_t i = 0; i <= (r.maxTilt - r.minTilt) / 10; ++i)
        tiltSlider_->AddTick(r.minTilt + 10 * i);
}

void CVLX400E::SetSliderPosition(std::int32_t position) {
    std::lock_guard lock(controlsMutex_);
    if (sliderFollowsTilt_ && tiltSlider_) tiltSlider_->SetPosition(position);
}

void CVLX400E::SelectModelByKey(std::string_view key) {
    if (!table_) return;
    const auto index = table_->FindByKey(key);
    AntennaRecord model;
    if (!index || !table_->GetRecord(*index, model)) return;  // unknown: the key stays shown
    Update([&](DeviceSnapshot& r) {
        r.antennaModel = model.displayName;
        r.minTilt = model.minTilt;
        r.maxTilt = model.maxTilt;
    });
    ApplyTiltRange();
    // The list is sorted by name, so the model is selected by its name, not
    // by its position in the file.
    std::lock_guard lock(controlsMutex_);
    if (modelList_) modelList_->SelectModelName(model.displayName);
}

std::int32_t CVLX400E::LinkState() const {
    return static_cast<std::int32_t>(State());
}

std::int32_t CVLX400E::LinkSetupPending() const {
    return Read(&DeviceSnapshot::setupPending);
}

// ---- sending -------------------------------------------------------------------

void CVLX400E::Send(CommandBufferPtr command) {
    if (!command) return;
    PostThreadMessage(linkThreadId_ ? linkThreadId_() : 0, MsgCommand, 0, std::move(command));
}

void CVLX400E::SendRaw(CommandBufferPtr command) {
    if (!command) return;
    PostThreadMessage(linkThreadId_ ? linkThreadId_() : 0, MsgRawCommand, 0, std::move(command));
}

void CVLX400E::PostToLink(std::uint32_t message, std::uintptr_t wParam) {
    PostThreadMessage(linkThreadId_ ? linkThreadId_() : 0, message, wParam);
}

// ---- time --------------------------------------------------------------------------

void CVLX400E::Pause(std::uint32_t ms, AfterPause then) {
    pauseEnd_ = TickCount() + ms;
    afterPause_ = then;
}

void CVLX400E::EndPause() {
    const AfterPause then = afterPause_;
    pauseEnd_.reset();
    afterPause_ = AfterPause::Nothing;
    lastActivity_ = TickCount();
    switch (then) {
        case AfterPause::Nothing:
            break;
        case AfterPause::SendVersionRequest:
            Send(cmd::Command(deviceIndex_, cmd::VersionRequest));
            break;
        case AfterPause::ResumePolling:
            PostToLink(MsgResumePolling, cmd::AddressOf(deviceIndex_));
            Pause(AfterResumeMs, AfterPause::Nothing);
            break;
        case AfterPause::EnterAisgMode:
            PostToLink(MsgAisgMode);
            break;
        case AfterPause::EnterEricssonMode:
            PostToLink(MsgEricssonMode);
            break;
        case AfterPause::FinishConversion:
            PostToLink(MsgEricssonMode);
            SetState(ActuatorState::ConversionFinished);
            break;
    }
}

std::optional<std::uint32_t> CVLX400E::NextIdleWork() const {
    const DeviceSnapshot r = Snapshot();
    switch (r.state) {
        case ActuatorState::Calibrating:
        case ActuatorState::ScanSerial:
        case ActuatorState::CalibratingAisg:
            if (r.progress < 100.0) return lastActivity_ + QuietPassMs;
            return std::nullopt;
        case ActuatorState::Testing:
            if (r.step == N(TiltStep::AwaitMoveEnd)) return nextTiltPoll_;
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

void CVLX400E::IdleWork(std::uint32_t now) {
    const DeviceSnapshot r = Snapshot();
    const auto due = [now](std::uint32_t at) { return static_cast<std::int32_t>(now - at) >= 0; };
    switch (r.state) {
        case ActuatorState::Calibrating:
        case ActuatorState::ScanSerial:
        case ActuatorState::CalibratingAisg:
            if (r.progress < 100.0 && due(lastActivity_ + QuietPassMs)) {
                Update([](DeviceSnapshot& rec) {
                    rec.progress = std::min(rec.progress + CreepPerPass, 100.0);
                });
                lastActivity_ = now;
            }
            break;
        case ActuatorState::Testing:
            if (r.step == N(TiltStep::AwaitMoveEnd) && due(nextTiltPoll_)) {
                nextTiltPoll_ = now + TiltPollMs;
                PollTilt();
            }
            break;
        default:
            break;
    }
}

void CVLX400E::MessageHandled(std::uint32_t now) {
    lastActivity_ = now;
    // What an operation held is let go of once that operation is over (the
    // image of a download that ended early).
    if (State() != ActuatorState::Updating) ReleaseFirmwareImage();
}

// ---- requests and link events ----------------------------------------------------

void CVLX400E::RequestSetTilt(std::int32_t target) {
    Update([&](DeviceSnapshot& r) { r.requestedTilt = target; });
    SetState(ActuatorState::Testing);
    StartSetTilt();
}

void CVLX400E::RequestModelChange(std::int32_t modelIndex) {
    AntennaRecord model;
    if (!table_ || !table_->GetRecord(modelIndex, model))
        return;  // no such model: nothing to write
    Update([&](DeviceSnapshot& r) {
        r.newModelIndex = modelIndex;
        r.newModelName = model.key.substr(0, 31);
    });
    ApplyTiltRange();
    aisgSetupCutShort_ = false;
    SetState(ActuatorState::Calibrating);
    StartModelChange();
}

void CVLX400E::OnLinkUp() {
    aisgSetupCutShort_ = false;  // found in Ericsson mode
    if (State() != ActuatorState::Searching) return;
    ArmReplyTimer();
    SetState(ActuatorState::Reading);
    StartReading();
    ArmReplyTimer(FirstReplyTimeoutMs);
}

void CVLX400E::OnLinkDown() {
    switch (State()) {
        case ActuatorState::Calibrating:
            break;  // the actuator restarts during a model change
        case ActuatorState::Finished:
        case ActuatorState::ConversionFinished:
            SetState(ActuatorState::Searching);
            break;
        case ActuatorState::CalibratingAisg:
            SetState(ActuatorState::Searching);
            SetStep(0);
            break;
        default:
            Fail(FailCode::NoReply);
            break;
    }
}

void CVLX400E::OnDeviceLost() {
    const DeviceSnapshot r = Snapshot();
    // Once the model has been written and the mode chosen, the actuator
    // restarts and falls silent: that is the change going as planned, not a
    // lost device. Forgetting the setup here would treat its return in AISG
    // mode as a stray actuator and skip the configuration. The reply watchdog
    // still ends a restart that never comes back.
    if (r.state == ActuatorState::Calibrating && r.step == N(ModelChangeStep::Restarting)) return;
    aisgSetupCutShort_ = r.state == ActuatorState::CalibratingAisg;
    ForgetDevice();
    Update([&](DeviceSnapshot& rec) {
        SetStateLocked(ActuatorState::Searching);
        rec.setupPending = 0;
    });
}

void CVLX400E::OnAisgDeviceFound() {
    const bool cutShort = std::exchange(aisgSetupCutShort_, false);
    if (Read(&DeviceSnapshot::setupPending) == 1 || cutShort) {
        SetState(ActuatorState::CalibratingAisg);
        StartAisgSetup();
    } else {
        SetState(ActuatorState::ConvertingToEricsson);
        StartConversion();
    }
}

void CVLX400E::OnReply(const CommandBuffer& reply) {
    switch (State()) {
        case ActuatorState::Reading:
            return OnReadingReply(reply);
        case ActuatorState::Updating:
            return OnUpdatingReply(reply);
        case ActuatorState::Calibrating:
            return OnModelChangeReply(reply);
        case ActuatorState::Testing:
            return OnTiltReply(reply);
        case ActuatorState::ScanSerial:
            return OnCheckReply(reply);
        case ActuatorState::CalibratingAisg:
            return OnAisgSetupReply(reply);
        case ActuatorState::ConvertingToEricsson:
            return OnConversionReply(reply);
        default:
            return;  // nothing is awaited in the other states
    }
}

// ---- the shared preamble -------------------------------------------------------------

bool CVLX400E::AdvancePreamble(const PreamblePlan& plan, std::uint32_t code, std::int32_t at) {
    if (at < 0 || at >= N(plan.handOver)) return false;
    const PreambleEntry& entry = Preamble[static_cast<std::size_t>(at)];
    if (code != entry.reply) return false;
    switch (plan.arms[static_cast<std::size_t>(at)]) {
        case Arm::Keep:
            break;
        case Arm::Reply:
            ArmReplyTimer();
            break;
        case Arm::Long:
            ArmLongReplyTimer();
            break;
    }
    Send(entry.request(deviceIndex_));
    SetStep(at + 1);
    return true;
}

namespace {

// The check and the tilt move leave the reply timer alone in the preamble; the
// model change re-arms it at every step, the long one after the prepares that
// make the actuator busy.
constexpr PreamblePlan CheckPreamble{
    PreambleStep::AwaitPoll4,
    {Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep}};
constexpr PreamblePlan TiltPreamble = CheckPreamble;
constexpr PreamblePlan ModelChangePreamble{
    PreambleStep::AwaitPoll3,
    {Arm::Reply, Arm::Reply, Arm::Long, Arm::Reply, Arm::Long, Arm::Keep, Arm::Keep}};

}  // namespace

// ---- identity reading ------------------------------------------------------------

void CVLX400E::StartReading() {
    Update([](DeviceSnapshot& r) {
        r.progress = 0.0;
        r.step = N(ReadingStep::PreRead);
    });
    ArmReplyTimer();
    manufacturingData_.ResetPage();
    Send(cmd::Vendor(deviceIndex_, cmd::PreRead1));
}

void CVLX400E::OnReadingReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = Step();
    if (reply.IsVendor(cmd::PreRead1)) {
        if (at != N(ReadingStep::PreRead) || reply.VendorStatus() != 0)
            return Fail(FailCode::Identity);
        ArmReplyTimer();
        Send(cmd::Vendor(deviceIndex_, cmd::PreRead2));
    } else if (reply.IsVendor(cmd::PreRead2)) {
        if (at != N(ReadingStep::PreRead) || reply.VendorStatus() != 0)
            return Fail(FailCode::Identity);
        ArmReplyTimer();
        SetStep(ReadingStep::DataPages);
        Send(cmd::Vendor(deviceIndex_, cmd::ReadDataPage, 0));
    } else if (reply.IsVendor(cmd::ReadDataPage)) {
        const auto page = reply.Byte(10);
        const auto bytes = reply.Bytes(11, CManufacturingDataPage::PageSize);
        if (at != N(ReadingStep::DataPages) || reply.VendorStatus() != 0 || !page ||
            bytes.size() != CManufacturingDataPage::PageSize) {
            return Fail(FailCode::Identity);
        }
        ArmReplyTimer();
        StoreDataPage(*page, bytes.first<CManufacturingDataPage::PageSize>());
        const auto next = static_cast<std::uint8_t>(*page + 1);
        if (next < 4) {
            Send(cmd::Vendor(deviceIndex_, cmd::ReadDataPage, next));
            return;
        }
        if (!manufacturingData_.IsValid()) manufacturingData_.ResetPage();
        manufacturingData_.SetCounter(
            122, static_cast<std::uint16_t>(manufacturingData_.Counter(122) + 1));
        SetStep(ReadingStep::Identity);
        Send(cmd::Command(deviceIndex_, cmd::IdentityRequest));
    } else if (reply.Is(cmd::IdentityReply) && at == N(ReadingStep::Identity) &&
               reply.Size() > SerialNumberAt) {
        const std::string serial = reply.Text(SerialNumberAt, SerialNumberMax);
        Update([&](DeviceSnapshot& r) { r.serialNumber = serial; });
        ArmReplyTimer();
        Send(cmd::Command(deviceIndex_, cmd::VersionRequest));
        SetStep(ReadingStep::Version);
    } else if (reply.Is(cmd::VersionReply) && at == N(ReadingStep::Version) &&
               reply.Size() > VersionAt) {
        const std::string version = reply.Text(VersionAt, CommandBuffer::DataSize);
        Update([&](DeviceSnapshot& r) { r.softwareVersion = version.substr(0, VersionKept); });
        ArmReplyTimer();
        if (FirmwareUpdateNotTaken(version)) return Fail(FailCode::UpdateNotTaken);
        if (FirmwareUpdateDue(version)) {
            SetState(ActuatorState::Updating);
            StartUpdate();
        } else {
            SetState(ActuatorState::ScanSerial);
            StartCheck();
        }
    }
    // Anything else is not for this step: ignored.
}

// ---- the check -------------------------------------------------------------------------

void CVLX400E::StartCheck() {
    Update([](DeviceSnapshot& r) {
        r.progress = 0.0;
        r.step = N(CheckStep::AwaitVersion);
        r.problemText.clear();
        r.tiltAnswered = false;
    });
    ArmReplyTimer();
    // The actuator needs a moment after identity reading before it is asked again.
    Pause(CheckPauseMs, AfterPause::SendVersionRequest);
}

void CVLX400E::OnCheckReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = Step();
    const auto code = reply.Code().value_or(0);
    if (reply.Is(cmd::VersionReply)) {
        if (at != N(CheckStep::AwaitVersion) || reply.Size() <= VersionAt) return;
        const std::string version = reply.Text(VersionAt, VersionKept);
        Update([&](DeviceSnapshot& r) { r.softwareVersion = version; });
        ArmReplyTimer();
        Send(cmd::Vendor(deviceIndex_, cmd::ReadModel));
        SetStep(CheckStep::AwaitModel);
    } else if (reply.IsVendor(cmd::ReadModel)) {
        if (reply.Size() <= NameCountAt) return;
        const std::string name = reply.CountedText(NameCountAt, ModelNameMax);
        Update([&](DeviceSnapshot& r) { r.antennaModel = name; });
        SelectModelByKey(name);
        Send(cmd::Vendor(deviceIndex_, cmd::ReadAuxText));
        SetStep(CheckStep::AwaitAuxText);
    } else if (reply.IsVendor(cmd::ReadAuxText)) {
        if (reply.VendorStatus() != 0 || reply.Size() <= NameCountAt) return;  // stops here
        ArmReplyTimer();
        const std::string aux = reply.CountedText(NameCountAt, AuxTextMax);
        Update([&](DeviceSnapshot& r) { r.auxText = aux; });
        Send(cmd::Command(deviceIndex_, cmd::OpenRequest));
        SetStep(PreambleStep::AwaitOpen);
    } else if (AdvancePreamble(CheckPreamble, code, at)) {
    } else if (reply.Is(cmd::PollReply) && at == N(PreambleStep::AwaitPoll4)) {
        Send(cmd::Command(deviceIndex_, cmd::GetTiltRequest));
        SetStep(CheckStep::AwaitTilt);
    } else if (reply.Is(cmd::GetTiltValue) && at == N(CheckStep::AwaitTilt)) {
        if (const auto tilt = TiltOf(reply)) TiltReadBack(*tilt);
    } else if (reply.Is(cmd::GetTiltFailed) && at == N(CheckStep::AwaitTilt)) {
        Update([](DeviceSnapshot& r) {
            r.problemText = GetTiltFailedText;
            r.tiltAnswered = true;
        });
    }
    // Anything else: ignored, the step stays.
}

// ---- tilt ----------------------------------------------------------------------------

void CVLX400E::StartSetTilt() {
    ArmReplyTimer();
    Send(cmd::Command(deviceIndex_, cmd::OpenRequest));
    Update([&](DeviceSnapshot& r) {
        r.progress = 0.0;
        r.problemText.clear();
        r.step = N(PreambleStep::AwaitOpen);
        moveStartTilt_ = r.currentTilt;
        moveTargetTilt_ = r.requestedTilt;
        r.tiltAnswered = false;
    });
}

void CVLX400E::PollTilt() {
    Send(cmd::Command(deviceIndex_, cmd::GetTiltRequest));
}

void CVLX400E::OnTiltReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = Step();
    const auto code = reply.Code().value_or(0);
    const auto pollThen = [&](TiltStep step) {
        Send(cmd::Command(deviceIndex_, cmd::PollRequest));
        SetStep(step);
    };
    if (AdvancePreamble(TiltPreamble, code, at)) {
    } else if (reply.Is(cmd::PollReply) && at == N(PreambleStep::AwaitPoll4)) {
        Send(cmd::SetTiltCommand(deviceIndex_, Read(&DeviceSnapshot::requestedTilt)));
        ArmLongReplyTimer();
        nextTiltPoll_ = TickCount() + TiltPollMs;
        SetStep(TiltStep::AwaitMoveEnd);
    } else if (reply.Is(cmd::SetTiltDone) && at == N(TiltStep::AwaitMoveEnd)) {
        sliderFollowsTilt_ = true;
        pollThen(TiltStep::AwaitPoll);
    } else if (reply.Is(cmd::SetTiltRefused) && at == N(TiltStep::AwaitMoveEnd)) {
        sliderFollowsTilt_ = false;
        SetProblem(SetTiltFailedText);
        pollThen(TiltStep::AwaitPoll);
    } else if (reply.Is(cmd::PollReply) && at == N(TiltStep::AwaitPoll)) {
        Send(cmd::Command(deviceIndex_, cmd::GetTiltRequest));
        SetStep(TiltStep::AwaitFinalTilt);
    } else if (reply.Is(cmd::GetTiltValue) &&
               (at == N(TiltStep::AwaitMoveEnd) || at == N(TiltStep::AwaitFinalTilt))) {
        if (const auto tilt = TiltOf(reply)) TiltReadBack(*tilt);
    } else if (reply.Is(cmd::GetTiltFailed) && at == N(TiltStep::AwaitFinalTilt)) {
        Update([](DeviceSnapshot& r) {
            r.problemText = GetTiltFailedText;
            r.tiltAnswered = true;
        });
    }
}

void CVLX400E::TiltReadBack(std::int32_t value) {
    const DeviceSnapshot r = Snapshot();
    // The record keeps the tilt the actuator reports, also outside the
    // model's range (a model change may have narrowed it); only the slider,
    // which cannot show such a tilt, is held to the range.
    const bool outside = value < r.minTilt || value > r.maxTilt;
    const std::int32_t onSlider =
        outside ? std::clamp(value, r.minTilt, std::max(r.minTilt, r.maxTilt)) : value;
    if (r.state == ActuatorState::Testing) {
        const std::int32_t span = std::abs(moveTargetTilt_ - moveStartTilt_);
        const double progress =
            span == 0 ? 100.0
                      : static_cast<double>(std::abs(onSlider - moveStartTilt_) * 100 / span);
        const bool final = r.step == N(TiltStep::AwaitFinalTilt);
        if (final) SetSliderPosition(onSlider);
        // The move's end is one change: whoever looks sees it all or none of it.
        Update([&](DeviceSnapshot& rec) {
            if (outside) rec.problemText = NoModelText;
            rec.currentTilt = value;
            rec.progress = progress;
            if (!final) return;
            rec.step = N(CheckStep::AwaitTilt);
            rec.tiltAnswered = true;
            SetStateLocked(ActuatorState::ScanSerial);
        });
    } else if (r.state == ActuatorState::ScanSerial) {
        SetSliderPosition(onSlider);
        Update([&](DeviceSnapshot& rec) {
            if (outside) rec.problemText = NoModelText;
            rec.currentTilt = value;
            rec.tiltAnswered = true;
        });
    } else if (outside) {
        SetProblem(NoModelText);
    }
}

// ---- firmware download ------------------------------------------------------------------

bool CVLX400E::FirmwareUpdateDue(const std::string& actuatorVersion) {
    ReleaseFirmwareImage();
    if (firmwarePolicy_ == FirmwarePolicy::NeverDownload) return false;
    FirmwareFile file = ReadFirmwareFile(firmwarePath_);
    const bool usable = file.status == FirmwareFile::Status::Valid;
    const bool refused = file.status == FirmwareFile::Status::Invalid;
    Update([&](DeviceSnapshot& r) {
        r.firmware.fileVersion = usable ? file.version : std::string();
        r.firmware.fileProblem = refused ? file.reason : std::string();
        if (refused) ++r.firmware.notices;  // nothing is sent, and the user is told why
    });
    if (!usable || FirmwareVersionInstalled(actuatorVersion, file.version)) return false;

    const std::size_t hash = std::hash<std::string_view>{}(
        {reinterpret_cast<const char*>(file.content.data()), file.content.size()});
    const std::string serial = Read(&DeviceSnapshot::serialNumber);
    // Sent to this actuator once already and not taken: again only when the
    // user asks (a new run of the tool) or the file is another.
    if (notTaken_ && notTaken_->serialNumber == serial && notTaken_->imageHash == hash)
        return false;
    image_ = std::move(file.content);
    imageSent_ = 0;
    imageVersion_ = file.version;
    imageHash_ = hash;
    return true;
}

bool CVLX400E::FirmwareUpdateNotTaken(const std::string& actuatorVersion) {
    // Identity is read again only after the actuator was lost (or found in
    // AISG mode), so a download acknowledged whole has been followed by its
    // restart. One that never reached its end is simply due again.
    const auto install = std::exchange(installing_, std::nullopt);
    if (!install) return false;
    if (install->serialNumber != Read(&DeviceSnapshot::serialNumber)) return false;
    if (FirmwareVersionInstalled(actuatorVersion, install->version)) return false;
    notTaken_ = NotTaken{install->serialNumber, install->imageHash};
    Update([](DeviceSnapshot& r) { ++r.firmware.notices; });
    return true;
}

void CVLX400E::ReleaseFirmwareImage() {
    image_.clear();
    image_.shrink_to_fit();
    imageSent_ = 0;
}

void CVLX400E::StartUpdate() {
    Update([](DeviceSnapshot& r) {
        r.progress = 0.0;
        r.step = N(DownloadStep::AwaitStart);
        ++r.firmware.downloadsStarted;
        r.firmware.bytesAcknowledged = 0;
        r.firmware.bytesTotal = 0;
    });
    Send(cmd::Vendor(deviceIndex_, cmd::DownloadStart));
    ArmReplyTimer();
    // The actuator prepares its memory while the link leaves it alone.
    PostToLink(MsgSuspendPolling, cmd::AddressOf(deviceIndex_));
    Pause(SuspendPollingMs, AfterPause::ResumePolling);
}

bool CVLX400E::SendNextBlock() {
    // Called when the previous block (or the start) was acknowledged.
    const std::size_t acknowledged = imageSent_;
    const std::size_t total = image_.size();
    const std::size_t count = std::min(cmd::DownloadBlockMax, total - std::min(imageSent_, total));
    if (count > 0) {
        Send(cmd::DownloadBlockCommand(deviceIndex_, {image_.data() + imageSent_, count}));
        imageSent_ += count;
    }
    const std::uint32_t now = TickCount();
    // The bar follows the bytes sent, reaching 100 with the last block.
    const double share = total == 0 ? 100.0
                                    : 100.0 * static_cast<double>(imageSent_) /
                                          static_cast<double>(total);
    Update([&](DeviceSnapshot& r) {
        r.progress = std::min(share, 100.0);
        r.firmware.bytesTotal = total;
        r.firmware.bytesAcknowledged = acknowledged;
        if (acknowledged == 0) r.firmware.firstBlockTick = now;
    });
    return count > 0;
}

void CVLX400E::SendDownloadEnd() {
    ReleaseFirmwareImage();
    Send(cmd::Vendor(deviceIndex_, cmd::DownloadEnd));
    SetStep(DownloadStep::AwaitEnd);
}

void CVLX400E::OnUpdatingReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = Step();
    const bool accepted = reply.VendorStatus() == 0;
    if (reply.IsVendor(cmd::DownloadStart)) {
        ArmReplyTimer();
        if (at != N(DownloadStep::AwaitStart)) return;
        if (!accepted) return Fail(FailCode::Download);
        SetStep(DownloadStep::AwaitBlock);
        // An image with nothing in it: nothing to send but the end.
        if (!SendNextBlock()) SendDownloadEnd();
    } else if (reply.IsVendor(cmd::DownloadBlock)) {
        ArmReplyTimer();
        if (at != N(DownloadStep::AwaitBlock)) return;
        if (!accepted) return Fail(FailCode::Download);
        if (!SendNextBlock()) SendDownloadEnd();
    } else if (reply.IsVendor(cmd::DownloadEnd)) {
        ArmReplyTimer();
        if (at != N(DownloadStep::AwaitEnd)) return;
        if (!accepted) return Fail(FailCode::Download);
        installing_ = Installing{Read(&DeviceSnapshot::serialNumber), imageVersion_, imageHash_};
        Update([&](DeviceSnapshot& r) { r.firmware.downloadedVersion = imageVersion_; });
        SetStep(0);
        SetState(ActuatorState::Reading);
        RestartAfterUpdate();
    }
}

void CVLX400E::RestartAfterUpdate() {
    SetStep(0);
    ArmReplyTimer();
    Send(cmd::Vendor(deviceIndex_, cmd::Restart));
    Pause(RestartAfterUpdateMs, AfterPause::Nothing);
}

// ---- model change and conversion ------------------------------------------------------

void CVLX400E::StartModelChange() {
    Update([](DeviceSnapshot& r) {
        r.progress = 0.0;
        r.step = N(PreambleStep::AwaitOpen);
    });
    ArmReplyTimer();
    SetProblem("");
    Send(cmd::Command(deviceIndex_, cmd::OpenRequest));
}

void CVLX400E::OnModelChangeReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = Step();
    const auto code = reply.Code().value_or(0);
    if (AdvancePreamble(ModelChangePreamble, code, at)) {
    } else if (reply.Is(cmd::PollReply) && at == N(PreambleStep::AwaitPoll3)) {
        ArmReplyTimer();
        Send(cmd::WriteModelCommand(deviceIndex_, Read(&DeviceSnapshot::newModelName)));
        SetStep(ModelChangeStep::AwaitWrite);
    } else if (reply.IsVendor(cmd::WriteModel)) {
        ArmReplyTimer();
        Send(cmd::Vendor(deviceIndex_, cmd::ReadModel));
    } else if (reply.IsVendor(cmd::ReadModel) && reply.Size() > NameCountAt) {
        const std::string name = reply.CountedText(NameCountAt, ModelNameMax);
        Update([&](DeviceSnapshot& r) { r.antennaModel = name; });
        SelectModelByKey(name);
        ArmReplyTimer();
        Send(cmd::ModeSelectCommand(deviceIndex_));
        SetStep(ModelChangeStep::Restarting);
    } else if (reply.IsVendor(cmd::ModeSelect)) {
        ArmReplyTimer();
        Send(cmd::Vendor(deviceIndex_, cmd::Restart));
        Pause(AisgRestartPauseMs, AfterPause::EnterAisgMode);
    } else {
        SetState(ActuatorState::Failed);  // the failure code stays what it was
    }
}

void CVLX400E::SendAisgPrepare() {
    SendRaw(cmd::AisgPrepareCommand(deviceIndex_));
}

void CVLX400E::SendAisgModeSelect() {
    ArmReplyTimer();
    SendRaw(cmd::AisgModeSelectCommand(deviceIndex_));
}

void CVLX400E::SendAisgRestart() {
    SetStep(0);
    ArmLongReplyTimer();
    SendRaw(cmd::AisgRestartCommand(deviceIndex_));
}

void CVLX400E::StartAisgSetup() {
    SetStep(AisgSetupStep::AwaitConfigure);
    ArmReplyTimer();
    SetProblem("");
    AntennaRecord model;
    if (!table_ || !table_->GetRecord(Read(&DeviceSnapshot::newModelIndex), model)) {
        SetState(ActuatorState::Failed);  // the model to configure is gone: nothing sound to send
        return;
    }
    SendRaw(cmd::AisgConfigureCommand(deviceIndex_, model.configFirst, model.configSecond));
}

void CVLX400E::OnAisgSetupReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = Step();
    const auto code = reply.Byte(0);
    const auto operation = reply.Byte(5);
    if (code == cmd::AisgConfigureCode && at == N(AisgSetupStep::AwaitConfigure)) {
        ArmReplyTimer();
        SendAisgPrepare();
        SetStep(AisgSetupStep::AwaitPrepare);
    } else if (code == cmd::AisgVendorCode && operation == cmd::AisgPrepareOp &&
               at == N(AisgSetupStep::AwaitPrepare)) {
        SendAisgModeSelect();
        SetStep(AisgSetupStep::AwaitModeSelect);
    } else if (code == cmd::AisgVendorCode && operation == cmd::AisgModeSelectOp &&
               at == N(AisgSetupStep::AwaitModeSelect)) {
        SendAisgRestart();
        Pause(EricssonRestartPauseMs, AfterPause::EnterEricssonMode);
    } else {
        SetState(ActuatorState::Failed);
    }
}

void CVLX400E::StartConversion() {
    SetStep(ConversionStep::AwaitPrepare);
    ArmReplyTimer();
    SetProblem("");
    SendAisgPrepare();
}

void CVLX400E::OnConversionReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = Step();
    const auto code = reply.Byte(0);
    const auto operation = reply.Byte(5);
    if (code == cmd::AisgVendorCode && operation == cmd::AisgPrepareOp &&
        at == N(ConversionStep::AwaitPrepare)) {
        SendAisgModeSelect();
        SetStep(ConversionStep::AwaitModeSelect);
    } else if (code == cmd::AisgVendorCode && operation == cmd::AisgModeSelectOp &&
               at == N(ConversionStep::AwaitModeSelect)) {
        SendAisgRestart();
        Pause(EricssonRestartPauseMs, AfterPause::FinishConversion);
    } else {
        SetState(ActuatorState::Failed);
    }
}

}  // namespace kvq::actuator
