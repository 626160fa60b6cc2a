// The E-VLX400's record and the operations run on it. Each operation has its
// own steps; its reply handler is one switch over them that says, for the step
// and the reply, what is sent, which timer runs and which step follows, and
// ends in the operation's one rule for a reply it did not expect.

#include "actuator/VLX400E.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "actuator/Commands.h"
#include "actuator/Controls.h"
#include "antenna/AntennaTable.h"
#include "core/Text.h"
#include "core/TimeSource.h"
#include "hdlc/AisgReturnCodes.h"

using namespace kvq::core;
using namespace kvq::antenna;

namespace kvq::actuator {

namespace {

constexpr const char* NoModelText = "NO RECOGNIZED ANTENNA MODEL?";
constexpr const char* OutsideRangeText = "TILT OUTSIDE MODEL RANGE";
constexpr const char* SetTiltFailedText = "SET TILT FAILED";
constexpr const char* GetTiltFailedText = "GET TILT FAILED";

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
// An actuator that takes the conversion but comes back in AISG mode each
// time is given up on after this many restarts.
constexpr std::uint32_t MaxConversionAttempts = 3;

// The 16-bit tilt of a GetTiltRequest reply: two's complement, as a negative
// tilt is sent, so a model with a negative minimum reads back right.
std::optional<std::int32_t> TiltOf(const cmd::Reply& reply) {
    const auto raw = reply.Big16(TiltAt);
    if (!raw) return std::nullopt;
    return static_cast<std::int16_t>(*raw);
}

bool Accepted(const cmd::Reply& reply) {
    return reply.VendorStatus() == std::optional<std::uint8_t>(0);
}

// The preamble that the check, the tilt move and the model change share: the
// reply each of its steps waits for and the request that follows it.
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

// States in which a reply (or the actuator's return) is awaited, so the
// watchdog may fail the record.
bool Watched(ActuatorState state) {
    switch (state) {
        case ActuatorState::Looking:
        case ActuatorState::Checking:
        case ActuatorState::Failed:
            return false;
        case ActuatorState::ReadingIdentity:
        case ActuatorState::Updating:
        case ActuatorState::ChangingModel:
        case ActuatorState::Moving:
        case ActuatorState::ChangingModelAisg:
        case ActuatorState::Converting:
        case ActuatorState::Converted:
            return true;
    }
    return false;
}

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

// An AISG-mode reply in words, for a failure's reason.
std::string DescribeAisgReply(const cmd::Reply& reply) {
    const auto code = reply.Byte(0);
    if (!code) return "an empty reply";
    std::string text = "procedure " + Hex(*code, 2);
    if (*code == cmd::AisgVendorCode) {
        if (const auto operation = reply.Byte(5)) text += " operation " + Hex(*operation, 2);
    }
    if (const auto refusal = cmd::AisgRefusalOf(reply))
        text +=
            " refused with return code " + Hex(refusal->code, 2) + " (" +
            std::string(hdlc::AisgReturnCodeName(refusal->code).value_or("not a standard one")) +
            ")";
    return text;
}

std::string_view Awaited(AisgSetupStep step) {
    switch (step) {
        case AisgSetupStep::AwaitConfigure:
            return "the configuration";
        case AisgSetupStep::AwaitPrepare:
            return "its preparation";
        case AisgSetupStep::AwaitModeSelect:
            return "the choice of Ericsson mode";
        case AisgSetupStep::Restarting:
            break;
    }
    return "its restart";
}
std::string_view Awaited(ConversionStep step) {
    switch (step) {
        case ConversionStep::AwaitPrepare:
            return "its preparation";
        case ConversionStep::AwaitModeSelect:
            return "the choice of Ericsson mode";
        case ConversionStep::Restarting:
            break;
    }
    return "its restart";
}

}  // namespace

template <class Step>
struct PreamblePlan {
    // The operation's step for each of the preamble's steps; the step at
    // handOver is the operation's own (its reply hands over to the tail).
    std::array<Step, 8> steps;
    std::size_t handOver;
    std::array<Arm, 7> arms;
};

namespace {

// The check and the tilt move leave the reply timer alone in the preamble; the
// model change re-arms it at every step, the long one after the prepares that
// make the actuator busy.
constexpr PreamblePlan<CheckStep> CheckPreamble{
    {CheckStep::AwaitOpen, CheckStep::AwaitPoll1, CheckStep::AwaitPrepare1, CheckStep::AwaitPoll2,
     CheckStep::AwaitPrepare2, CheckStep::AwaitPoll3, CheckStep::AwaitPrepare3,
     CheckStep::AwaitPoll4},
    7,
    {Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep}};
constexpr PreamblePlan<MoveStep> MovePreamble{
    {MoveStep::AwaitOpen, MoveStep::AwaitPoll1, MoveStep::AwaitPrepare1, MoveStep::AwaitPoll2,
     MoveStep::AwaitPrepare2, MoveStep::AwaitPoll3, MoveStep::AwaitPrepare3, MoveStep::AwaitPoll4},
    7,
    {Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep, Arm::Keep}};
constexpr PreamblePlan<ModelChangeStep> ModelChangePreamble{
    {ModelChangeStep::AwaitOpen, ModelChangeStep::AwaitPoll1, ModelChangeStep::AwaitPrepare1,
     ModelChangeStep::AwaitPoll2, ModelChangeStep::AwaitPrepare2, ModelChangeStep::AwaitPoll3,
     ModelChangeStep::AwaitPoll3, ModelChangeStep::AwaitPoll3},
    5,
    {Arm::Reply, Arm::Reply, Arm::Long, Arm::Reply, Arm::Long, Arm::Keep, Arm::Keep}};

}  // namespace

bool VariantIsServed(std::string_view variant) {
    return std::find(ServedVariants.begin(), ServedVariants.end(), variant) != ServedVariants.end();
}

CVLX400E::CVLX400E() = default;

CVLX400E::~CVLX400E() = default;

// ---- the record ----------------------------------------------------------------

DeviceSnapshot CVLX400E::Snapshot() const {
    std::lock_guard lock(mutex_);
    return record_;
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
    if (newState == ActuatorState::ChangingModel || newState == ActuatorState::ChangingModelAisg)
        record_.continuing = Operation::ModelChange;
    // A deadline left over from an earlier operation must not fail this one
    // in the moment before its start operation arms its own: the watchdog
    // wakes on every change of the record and would see it at once.
    if (Watched(newState) && !Watched(oldState)) replyDeadline_.Set(ReplyTimeoutMs);
    record_.state = newState;
    if (newState != oldState) record_.step = NoStep{};
    if (newState == ActuatorState::Looking && !record_.SetupPending()) record_.progress = 0.0;
}

void CVLX400E::BeginLocked(Operation operation) {
    record_.outcome = Outcome{operation, Ending::None, {}, record_.outcome.number + 1};
}

void CVLX400E::EndLocked(Operation operation, Ending ending, std::string reason) {
    if (operation == Operation::None) return;
    record_.outcome = Outcome{operation, ending, std::move(reason), record_.outcome.number};
    if (record_.continuing == operation) record_.continuing = Operation::None;
}

std::string CVLX400E::LeftBehindLocked() const {
    return LeftBehind(record_);
}

void CVLX400E::Fail(FailCode code, std::string reason) {
    Update([&](DeviceSnapshot& r) {
        const Operation operation = OperationUnderWay(r);
        if (operation != Operation::None) {
            const std::string left = LeftBehindLocked();
            EndLocked(operation, Ending::Failed, left.empty() ? reason : reason + "; " + left);
        }
        r.continuing = Operation::None;
        r.failCode = code;
        SetStateLocked(ActuatorState::Failed);
        r.step = NoStep{};
    });
    ReleaseFirmwareImage();
}

bool CVLX400E::FailIfReplyOverdue() {
    {
        std::lock_guard lock(mutex_);
        if (!Watched(record_.state) || !replyDeadline_.Expired()) return false;
        const Operation operation = OperationUnderWay(record_);
        if (operation != Operation::None) {
            const std::string left = LeftBehindLocked();
            EndLocked(operation, Ending::Failed,
                      "the actuator did not answer in time" + (left.empty() ? "" : "; " + left));
        }
        record_.continuing = Operation::None;
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

void CVLX400E::ForgetDevice() {
    Update([](DeviceSnapshot& r) {
        r.serialNumber.clear();
        r.softwareVersion.clear();
        r.maxTilt = 0;
        r.minTilt = 0;
        r.modelKnown = false;
        r.tiltKnown = false;
        r.problemText.clear();
        r.antennaModel.clear();
        r.requestedTilt = 0;
    });
}

void CVLX400E::SetProblem(std::string_view text) {
    Update([&](DeviceSnapshot& r) { r.problemText = text; });
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
    const auto index = table_ ? table_->FindByKey(key) : std::nullopt;
    AntennaRecord model;
    if (!index || !table_->GetRecord(*index, model)) {
        // Unknown: the key stays shown, and no range is claimed for it.
        Update([](DeviceSnapshot& r) { r.modelKnown = false; });
        return;
    }
    Update([&](DeviceSnapshot& r) {
        r.antennaModel = model.displayName;
        r.minTilt = model.minTilt;
        r.maxTilt = model.maxTilt;
        r.modelKnown = true;
    });
    ApplyTiltRange();
    // The list is sorted by name, so the model is selected by its name, not
    // by its position in the file.
    std::lock_guard lock(controlsMutex_);
    if (modelList_) modelList_->SelectModelName(model.displayName);
}

hdlc::LinkDeviceState CVLX400E::LinkState() const {
    const DeviceSnapshot r = Snapshot();
    if (r.state == ActuatorState::Failed) return hdlc::LinkDeviceState::Failed;
    if (r.state == ActuatorState::Looking && !r.SetupPending()) return hdlc::LinkDeviceState::Idle;
    return hdlc::LinkDeviceState::Busy;
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
            SetStep(CheckStep::AwaitVersion);
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
            Update([this](DeviceSnapshot& r) {
                ++r.conversionAttempts;
                r.continuing = Operation::Conversion;
                SetStateLocked(ActuatorState::Converted);
            });
            break;
    }
}

std::optional<std::uint32_t> CVLX400E::NextIdleWork() const {
    const DeviceSnapshot r = Snapshot();
    switch (r.state) {
        case ActuatorState::ChangingModel:
        case ActuatorState::Checking:
        case ActuatorState::ChangingModelAisg:
            if (r.progress < 100.0) return lastActivity_ + QuietPassMs;
            return std::nullopt;
        case ActuatorState::Moving:
            if (r.At(MoveStep::AwaitMoveEnd)) return nextTiltPoll_;
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

void CVLX400E::IdleWork(std::uint32_t now) {
    const DeviceSnapshot r = Snapshot();
    const auto due = [now](std::uint32_t at) { return static_cast<std::int32_t>(now - at) >= 0; };
    switch (r.state) {
        case ActuatorState::ChangingModel:
        case ActuatorState::Checking:
        case ActuatorState::ChangingModelAisg:
            if (r.progress < 100.0 && due(lastActivity_ + QuietPassMs)) {
                Update([](DeviceSnapshot& rec) {
                    rec.progress = std::min(rec.progress + CreepPerPass, 100.0);
                });
                lastActivity_ = now;
            }
            break;
        case ActuatorState::Moving:
            if (r.At(MoveStep::AwaitMoveEnd) && due(nextTiltPoll_)) {
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
    Update([&](DeviceSnapshot& r) {
        r.requestedTilt = target;
        operationSerial_ = r.serialNumber;
        BeginLocked(Operation::Move);
        r.continuing = Operation::None;
        SetStateLocked(ActuatorState::Moving);
    });
    StartSetTilt();
}

void CVLX400E::RequestModelChange(std::int32_t modelIndex) {
    AntennaRecord model;
    if (!table_ || !table_->GetRecord(modelIndex, model))
        return;  // no such model: nothing to write
    Update([&](DeviceSnapshot& r) {
        r.newModelIndex = modelIndex;
        r.newModelName = model.key.substr(0, 31);
        operationSerial_ = r.serialNumber;
        BeginLocked(Operation::ModelChange);
    });
    ApplyTiltRange();
    aisgSetupCutShort_ = false;
    SetState(ActuatorState::ChangingModel);
    StartModelChange();
}

void CVLX400E::OnLinkUp() {
    aisgSetupCutShort_ = false;  // found in Ericsson mode
    if (State() != ActuatorState::Looking) return;
    Update([this](DeviceSnapshot& r) {
        r.lost = false;
        r.conversionAttempts = 0;
        // Back in Ericsson mode: what the conversion was for.
        if (r.continuing == Operation::Conversion) {
            EndLocked(Operation::Conversion, Ending::Done);
        }
    });
    ArmReplyTimer();
    SetState(ActuatorState::ReadingIdentity);
    StartReading();
    ArmReplyTimer(FirstReplyTimeoutMs);
}

void CVLX400E::OnLinkDown() {
    switch (State()) {
        case ActuatorState::ChangingModel:
            break;  // the actuator restarts during a model change
        case ActuatorState::Converted:
        case ActuatorState::ChangingModelAisg:
            SetState(ActuatorState::Looking);
            break;
        case ActuatorState::Moving:
        case ActuatorState::Updating:
        case ActuatorState::ReadingIdentity:
        case ActuatorState::Checking:
        case ActuatorState::Converting:
            // The actuator answers as a station that lost its connection: it
            // restarted (its power came back). What it was doing is cut short,
            // and it is found anew rather than failed for good.
            LoseDevice("the actuator restarted");
            break;
        case ActuatorState::Looking:
        case ActuatorState::Failed:
            Fail(FailCode::NoReply, "the actuator dropped the link");
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
    if (r.state == ActuatorState::ChangingModel &&
        (r.At(ModelChangeStep::AwaitModeSelect) || r.At(ModelChangeStep::Restarting)))
        return;
    LoseDevice("the actuator stopped answering");
}

void CVLX400E::LoseDevice(std::string_view why) {
    const DeviceSnapshot r = Snapshot();
    aisgSetupCutShort_ = r.state == ActuatorState::ChangingModelAisg;
    // A restart an operation asked for (after a download, after a conversion)
    // is no loss: the operation goes on when the actuator is back.
    const bool planned =
        (r.state == ActuatorState::ReadingIdentity && r.At(ReadingStep::AwaitRestart)) ||
        r.state == ActuatorState::Converted;
    // What was cut short is said before the identity is forgotten.
    Update([&](DeviceSnapshot& rec) {
        if (!planned) {
            const Operation operation = OperationUnderWay(rec);
            if (operation != Operation::None) {
                EndLocked(operation, Ending::Interrupted,
                          std::string(why) + "; " + LeftBehindLocked());
            }
            rec.continuing = Operation::None;
            rec.lost = rec.lost || r.state != ActuatorState::Looking;
        }
        SetStateLocked(ActuatorState::Looking);
    });
    ForgetDevice();
}

void CVLX400E::OnAisgDeviceFound() {
    const DeviceSnapshot r = Snapshot();
    const bool cutShort = std::exchange(aisgSetupCutShort_, false);
    if (r.SetupPending() || cutShort) {
        SetState(ActuatorState::ChangingModelAisg);
        StartAisgSetup();
        return;
    }
    if (r.state == ActuatorState::Failed && r.failCode == FailCode::NotConverted) return;
    if (r.conversionAttempts >= MaxConversionAttempts) {
        Update([](DeviceSnapshot& rec) { rec.continuing = Operation::Conversion; });
        Fail(FailCode::NotConverted, "the actuator did not come back in Ericsson mode after " +
                                         std::to_string(r.conversionAttempts) + " conversions");
        return;
    }
    SetState(ActuatorState::Converting);
    StartConversion();
}

void CVLX400E::OnReply(const CommandBuffer& reply) {
    switch (State()) {
        case ActuatorState::ReadingIdentity:
            return OnReadingReply(reply);
        case ActuatorState::Updating:
            return OnUpdatingReply(reply);
        case ActuatorState::ChangingModel:
            return OnModelChangeReply(reply);
        case ActuatorState::Moving:
            return OnTiltReply(reply);
        case ActuatorState::Checking:
            return OnCheckReply(reply);
        case ActuatorState::ChangingModelAisg:
            return OnAisgSetupReply(reply);
        case ActuatorState::Converting:
            return OnConversionReply(reply);
        case ActuatorState::Looking:
        case ActuatorState::Failed:
        case ActuatorState::Converted:
            return;  // nothing is awaited
    }
}

// ---- the shared preamble -------------------------------------------------------------

template <class Step>
bool CVLX400E::AdvancePreamble(const PreamblePlan<Step>& plan, Step at, const cmd::Reply& reply) {
    const auto found = std::find(plan.steps.begin(), plan.steps.begin() + plan.handOver, at);
    if (found == plan.steps.begin() + plan.handOver) return false;
    const auto index = static_cast<std::size_t>(found - plan.steps.begin());
    if (!reply.Is(Preamble[index].reply)) return false;
    switch (plan.arms[index]) {
        case Arm::Keep:
            break;
        case Arm::Reply:
            ArmReplyTimer();
            break;
        case Arm::Long:
            ArmLongReplyTimer();
            break;
    }
    Send(Preamble[index].request(deviceIndex_));
    SetStep(plan.steps[index + 1]);
    return true;
}

// ---- identity reading ------------------------------------------------------------

void CVLX400E::StartReading() {
    Update([](DeviceSnapshot& r) {
        r.progress = 0.0;
        r.step = ReadingStep::AwaitPreRead1;
    });
    ArmReplyTimer();
    manufacturingData_.ResetPage();
    Send(cmd::Vendor(deviceIndex_, cmd::PreRead1));
}

void CVLX400E::OnReadingReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const auto at = StepOf<ReadingStep>();
    switch (at.value_or(ReadingStep::AwaitRestart)) {
        case ReadingStep::AwaitPreRead1:
            if (!reply.IsVendor(cmd::PreRead1) || !Accepted(reply)) break;
            ArmReplyTimer();
            Send(cmd::Vendor(deviceIndex_, cmd::PreRead2));
            SetStep(ReadingStep::AwaitPreRead2);
            return;
        case ReadingStep::AwaitPreRead2:
            if (!reply.IsVendor(cmd::PreRead2) || !Accepted(reply)) break;
            ArmReplyTimer();
            SetStep(ReadingStep::AwaitDataPage);
            Send(cmd::Vendor(deviceIndex_, cmd::ReadDataPage, 0));
            return;
        case ReadingStep::AwaitDataPage: {
            const auto page = reply.Byte(10);
            const auto bytes = reply.Bytes(11, CManufacturingDataPage::PageSize);
            if (!reply.IsVendor(cmd::ReadDataPage) || !Accepted(reply) || !page ||
                bytes.size() != CManufacturingDataPage::PageSize)
                break;
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
            SetStep(ReadingStep::AwaitIdentity);
            Send(cmd::Command(deviceIndex_, cmd::IdentityRequest));
            return;
        }
        case ReadingStep::AwaitIdentity: {
            if (!reply.Is(cmd::IdentityReply) || reply.Size() <= SerialNumberAt) break;
            const std::string serial = reply.Text(SerialNumberAt, SerialNumberMax);
            Update([&](DeviceSnapshot& r) {
                r.serialNumber = serial;
                // An operation that went on across a restart is not carried on
                // with another actuator.
                if (r.continuing != Operation::None && !operationSerial_.empty() &&
                    serial != operationSerial_) {
                    EndLocked(r.continuing, Ending::Interrupted,
                              "another actuator (serial number " + serial +
                                  ") answered in place of " + operationSerial_);
                    r.continuing = Operation::None;
                    installing_.reset();
                }
            });
            ArmReplyTimer();
            Send(cmd::Command(deviceIndex_, cmd::VersionRequest));
            SetStep(ReadingStep::AwaitVersion);
            return;
        }
        case ReadingStep::AwaitVersion: {
            if (!reply.Is(cmd::VersionReply) || reply.Size() <= VersionAt) break;
            const std::string version = reply.Text(VersionAt, CommandBuffer::DataSize);
            Update([&](DeviceSnapshot& r) { r.softwareVersion = version.substr(0, VersionKept); });
            ArmReplyTimer();
            JudgeInstalledVersion(version);
            if (FirmwareUpdateDue(version)) {
                SetState(ActuatorState::Updating);
                StartUpdate();
            } else {
                SetState(ActuatorState::Checking);
                StartCheck();
            }
            return;
        }
        case ReadingStep::AwaitRestart:
            break;
    }
    // A reply to one of identity reading's own requests out of step, refused
    // or cut short fails the reading; anything else is not for it.
    if (reply.IsVendor(cmd::PreRead1) || reply.IsVendor(cmd::PreRead2) ||
        reply.IsVendor(cmd::ReadDataPage))
        Fail(FailCode::Identity, "the actuator refused to give its identity");
}

// ---- the check -------------------------------------------------------------------------

void CVLX400E::StartCheck() {
    Update([](DeviceSnapshot& r) {
        r.progress = 0.0;
        r.step = CheckStep::Pause;
        r.problemText.clear();
        r.tiltKnown = false;
    });
    ArmReplyTimer();
    // The actuator needs a moment after identity reading before it is asked again.
    Pause(CheckPauseMs, AfterPause::SendVersionRequest);
}

void CVLX400E::OnCheckReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const auto at = StepOf<CheckStep>().value_or(CheckStep::Complete);
    if (AdvancePreamble(CheckPreamble, at, reply)) return;
    switch (at) {
        case CheckStep::AwaitVersion: {
            if (!reply.Is(cmd::VersionReply) || reply.Size() <= VersionAt) break;
            const std::string version = reply.Text(VersionAt, VersionKept);
            Update([&](DeviceSnapshot& r) { r.softwareVersion = version; });
            ArmReplyTimer();
            Send(cmd::Vendor(deviceIndex_, cmd::ReadModel));
            SetStep(CheckStep::AwaitModel);
            return;
        }
        case CheckStep::AwaitModel: {
            if (!reply.IsVendor(cmd::ReadModel) || reply.Size() <= NameCountAt) break;
            const std::string name = reply.CountedText(NameCountAt, ModelNameMax);
            modelKeyRead_ = name;
            Update([&](DeviceSnapshot& r) { r.antennaModel = name; });
            SelectModelByKey(name);
            Send(cmd::Vendor(deviceIndex_, cmd::ReadAuxText));
            SetStep(CheckStep::AwaitAuxText);
            return;
        }
        case CheckStep::AwaitAuxText: {
            // A refusal stops the check where it is.
            if (!reply.IsVendor(cmd::ReadAuxText) || !Accepted(reply) ||
                reply.Size() <= NameCountAt)
                break;
            ArmReplyTimer();
            const std::string aux = reply.CountedText(NameCountAt, AuxTextMax);
            Update([&](DeviceSnapshot& r) { r.auxText = aux; });
            Send(cmd::Command(deviceIndex_, cmd::OpenRequest));
            SetStep(CheckStep::AwaitOpen);
            return;
        }
        case CheckStep::AwaitPoll4:
            if (!reply.Is(cmd::PollReply)) break;
            Send(cmd::Command(deviceIndex_, cmd::GetTiltRequest));
            SetStep(CheckStep::AwaitTilt);
            return;
        case CheckStep::AwaitTilt:
            if (reply.Is(cmd::GetTiltValue)) {
                if (const auto tilt = TiltOf(reply)) TiltReadBack(*tilt, true);
                return;
            }
            if (reply.Is(cmd::GetTiltFailed)) {
                Update([this](DeviceSnapshot& r) {
                    r.problemText = GetTiltFailedText;
                    CompleteCheckLocked();
                });
                return;
            }
            break;
        default:
            break;
    }
    // Anything else: ignored, the step stays.
}

void CVLX400E::CompleteCheckLocked() {
    DeviceSnapshot& r = record_;
    r.step = CheckStep::Complete;
    r.state = ActuatorState::Checking;
    // The problem is judged on the state the actuator ends in.
    if (r.problemText.empty()) {
        if (!r.modelKnown) {
            r.problemText = NoModelText;
        } else if (TiltOutsideRange(r)) {
            r.problemText = OutsideRangeText;
        }
    }
    if (r.continuing == Operation::ModelChange) {
        const std::string asked = r.newModelName.substr(0, ModelNameMax);
        if (modelKeyRead_ == asked) {
            EndLocked(Operation::ModelChange, Ending::Done);
        } else {
            EndLocked(
                Operation::ModelChange, Ending::Failed,
                "the actuator reports antenna model '" + modelKeyRead_ + "', not '" + asked + "'");
        }
    }
    r.continuing = Operation::None;
}

// ---- tilt ----------------------------------------------------------------------------

void CVLX400E::StartSetTilt() {
    ArmReplyTimer();
    Send(cmd::Command(deviceIndex_, cmd::OpenRequest));
    Update([&](DeviceSnapshot& r) {
        r.progress = 0.0;
        r.problemText.clear();
        r.step = MoveStep::AwaitOpen;
        moveStartTilt_ = r.currentTilt;
        moveTargetTilt_ = r.requestedTilt;
        moveRefused_ = false;
    });
}

void CVLX400E::PollTilt() {
    Send(cmd::Command(deviceIndex_, cmd::GetTiltRequest));
}

void CVLX400E::OnTiltReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const auto at = StepOf<MoveStep>().value_or(MoveStep::AwaitFinalTilt);
    if (AdvancePreamble(MovePreamble, at, reply)) return;
    const auto pollThen = [&](MoveStep step) {
        Send(cmd::Command(deviceIndex_, cmd::PollRequest));
        SetStep(step);
    };
    switch (at) {
        case MoveStep::AwaitPoll4:
            if (!reply.Is(cmd::PollReply)) break;
            Send(cmd::SetTiltCommand(deviceIndex_, Read(&DeviceSnapshot::requestedTilt)));
            ArmLongReplyTimer();
            nextTiltPoll_ = TickCount() + TiltPollMs;
            SetStep(MoveStep::AwaitMoveEnd);
            return;
        case MoveStep::AwaitMoveEnd:
            if (reply.Is(cmd::SetTiltDone)) {
                sliderFollowsTilt_ = true;
                pollThen(MoveStep::AwaitPoll);
                return;
            }
            if (reply.Is(cmd::SetTiltRefused)) {
                sliderFollowsTilt_ = false;
                moveRefused_ = true;
                SetProblem(SetTiltFailedText);
                pollThen(MoveStep::AwaitPoll);
                return;
            }
            if (reply.Is(cmd::GetTiltValue)) {
                if (const auto tilt = TiltOf(reply)) TiltReadBack(*tilt, false);
                return;
            }
            break;
        case MoveStep::AwaitPoll:
            if (!reply.Is(cmd::PollReply)) break;
            Send(cmd::Command(deviceIndex_, cmd::GetTiltRequest));
            SetStep(MoveStep::AwaitFinalTilt);
            return;
        case MoveStep::AwaitFinalTilt:
            if (reply.Is(cmd::GetTiltValue)) {
                if (const auto tilt = TiltOf(reply)) TiltReadBack(*tilt, true);
                return;
            }
            if (reply.Is(cmd::GetTiltFailed)) {
                // The move is over, but where it ended is not known.
                Update([this](DeviceSnapshot& r) {
                    r.problemText = GetTiltFailedText;
                    EndLocked(Operation::Move, Ending::Failed,
                              "the actuator could not read its tilt after the move");
                    CompleteCheckLocked();
                });
                return;
            }
            break;
        default:
            break;
    }
    // Anything else: ignored, the step stays.
}

void CVLX400E::TiltReadBack(std::int32_t value, bool final) {
    const DeviceSnapshot r = Snapshot();
    // The record keeps the tilt the actuator reports, also outside the
    // model's range (a model change may have narrowed it); only the slider,
    // which cannot show such a tilt, is held to the range.
    const bool outside = value < r.minTilt || value > r.maxTilt;
    const std::int32_t onSlider =
        outside ? std::clamp(value, r.minTilt, std::max(r.minTilt, r.maxTilt)) : value;
    if (r.state == ActuatorState::Moving) {
        const std::int32_t span = std::abs(moveTargetTilt_ - moveStartTilt_);
        const double progress =
            span == 0 ? 100.0
                      : static_cast<double>(std::abs(onSlider - moveStartTilt_) * 100 / span);
        if (final) SetSliderPosition(onSlider);
        // The move's end is one change: whoever looks sees it all or none of it.
        Update([&](DeviceSnapshot& rec) {
            rec.currentTilt = value;
            rec.tiltKnown = true;
            rec.progress = progress;
            if (!final) return;
            if (moveRefused_) {
                EndLocked(Operation::Move, Ending::Failed,
                          "the actuator refused the move; the tilt stands at " + TiltText(value) +
                              " degrees");
            } else if (value != moveTargetTilt_) {
                EndLocked(Operation::Move, Ending::Failed,
                          "the actuator stopped at " + TiltText(value) + " degrees, not at " +
                              TiltText(moveTargetTilt_));
            } else {
                EndLocked(Operation::Move, Ending::Done);
            }
            CompleteCheckLocked();
        });
    } else if (r.state == ActuatorState::Checking && final) {
        SetSliderPosition(onSlider);
        Update([&](DeviceSnapshot& rec) {
            rec.currentTilt = value;
            rec.tiltKnown = true;
            CompleteCheckLocked();
        });
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

void CVLX400E::JudgeInstalledVersion(const std::string& actuatorVersion) {
    if (Read(&DeviceSnapshot::continuing) != Operation::Download) return;
    const std::string asked = installing_ ? installing_->version : std::string();
    if (FirmwareUpdateNotTaken(actuatorVersion)) {
        Update([&](DeviceSnapshot& r) {
            EndLocked(Operation::Download, Ending::Failed,
                      "the actuator came back on version " + r.softwareVersion + ", not on " +
                          asked + ": it did not take the update");
            r.firmware.updateNotTaken = true;
        });
    } else {
        Update([this](DeviceSnapshot&) { EndLocked(Operation::Download, Ending::Done); });
    }
}

void CVLX400E::ReleaseFirmwareImage() {
    image_.clear();
    image_.shrink_to_fit();
    imageSent_ = 0;
}

void CVLX400E::StartUpdate() {
    Update([this](DeviceSnapshot& r) {
        r.progress = 0.0;
        r.step = DownloadStep::AwaitStart;
        ++r.firmware.downloadsStarted;
        r.firmware.bytesAcknowledged = 0;
        r.firmware.bytesTotal = 0;
        r.firmware.updateNotTaken = false;
        BeginLocked(Operation::Download);
        operationSerial_ = r.serialNumber;
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
    const double share =
        total == 0 ? 100.0 : 100.0 * static_cast<double>(imageSent_) / static_cast<double>(total);
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
    const auto at = StepOf<DownloadStep>().value_or(DownloadStep::AwaitEnd);
    const auto refused = [this] { Fail(FailCode::Download, "the actuator refused the download"); };
    switch (at) {
        case DownloadStep::AwaitStart:
            if (!reply.IsVendor(cmd::DownloadStart)) break;
            ArmReplyTimer();
            if (!Accepted(reply)) return refused();
            SetStep(DownloadStep::AwaitBlock);
            // An image with nothing in it: nothing to send but the end.
            if (!SendNextBlock()) SendDownloadEnd();
            return;
        case DownloadStep::AwaitBlock:
            if (!reply.IsVendor(cmd::DownloadBlock)) break;
            ArmReplyTimer();
            if (!Accepted(reply)) return refused();
            if (!SendNextBlock()) SendDownloadEnd();
            return;
        case DownloadStep::AwaitEnd:
            if (!reply.IsVendor(cmd::DownloadEnd)) break;
            ArmReplyTimer();
            if (!Accepted(reply)) return refused();
            installing_ =
                Installing{Read(&DeviceSnapshot::serialNumber), imageVersion_, imageHash_};
            Update([&](DeviceSnapshot& r) {
                r.firmware.downloadedVersion = imageVersion_;
                r.continuing = Operation::Download;
                SetStateLocked(ActuatorState::ReadingIdentity);
            });
            RestartAfterUpdate();
            return;
    }
    // A download reply out of step still shows the actuator is there.
    if (reply.IsVendor(cmd::DownloadStart) || reply.IsVendor(cmd::DownloadBlock) ||
        reply.IsVendor(cmd::DownloadEnd))
        ArmReplyTimer();
}

void CVLX400E::RestartAfterUpdate() {
    SetStep(ReadingStep::AwaitRestart);
    ArmReplyTimer();
    Send(cmd::Vendor(deviceIndex_, cmd::Restart));
    Pause(RestartAfterUpdateMs, AfterPause::Nothing);
}

// ---- model change and conversion ------------------------------------------------------

void CVLX400E::StartModelChange() {
    Update([](DeviceSnapshot& r) {
        r.progress = 0.0;
        r.step = ModelChangeStep::AwaitOpen;
    });
    ArmReplyTimer();
    SetProblem("");
    Send(cmd::Command(deviceIndex_, cmd::OpenRequest));
}

void CVLX400E::OnModelChangeReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const auto at = StepOf<ModelChangeStep>().value_or(ModelChangeStep::Restarting);
    if (AdvancePreamble(ModelChangePreamble, at, reply)) return;
    switch (at) {
        case ModelChangeStep::AwaitPoll3:
            if (!reply.Is(cmd::PollReply)) break;
            ArmReplyTimer();
            Send(cmd::WriteModelCommand(deviceIndex_, Read(&DeviceSnapshot::newModelName)));
            SetStep(ModelChangeStep::AwaitWrite);
            return;
        case ModelChangeStep::AwaitWrite:
            if (!reply.IsVendor(cmd::WriteModel)) break;
            ArmReplyTimer();
            Send(cmd::Vendor(deviceIndex_, cmd::ReadModel));
            SetStep(ModelChangeStep::AwaitReadBack);
            return;
        case ModelChangeStep::AwaitReadBack: {
            if (!reply.IsVendor(cmd::ReadModel) || reply.Size() <= NameCountAt) break;
            const std::string name = reply.CountedText(NameCountAt, ModelNameMax);
            Update([&](DeviceSnapshot& r) { r.antennaModel = name; });
            SelectModelByKey(name);
            ArmReplyTimer();
            Send(cmd::ModeSelectCommand(deviceIndex_));
            SetStep(ModelChangeStep::AwaitModeSelect);
            return;
        }
        case ModelChangeStep::AwaitModeSelect:
            if (!reply.IsVendor(cmd::ModeSelect)) break;
            ArmReplyTimer();
            Send(cmd::Vendor(deviceIndex_, cmd::Restart));
            SetStep(ModelChangeStep::Restarting);
            Pause(AisgRestartPauseMs, AfterPause::EnterAisgMode);
            return;
        default:
            break;
    }
    // Anything else (a restart answered included): the change fails.
    const auto code = reply.Code();
    Fail(FailCode::Unexpected, "the actuator answered " +
                                   (code ? Hex(*code, 8) : std::string("an empty reply")) +
                                   " out of step");
}

void CVLX400E::SendAisgPrepare() {
    SendRaw(cmd::AisgPrepareCommand(deviceIndex_));
}

void CVLX400E::SendAisgModeSelect() {
    ArmReplyTimer();
    SendRaw(cmd::AisgModeSelectCommand(deviceIndex_));
}

void CVLX400E::SendAisgRestart() {
    ArmLongReplyTimer();
    SendRaw(cmd::AisgRestartCommand(deviceIndex_));
}

void CVLX400E::AisgReplyUnexpected(const cmd::Reply& reply, std::string_view awaited) {
    Fail(FailCode::Unexpected,
         "the actuator answered " + DescribeAisgReply(reply) + " to " + std::string(awaited));
}

void CVLX400E::StartAisgSetup() {
    SetStep(AisgSetupStep::AwaitConfigure);
    ArmReplyTimer();
    SetProblem("");
    AntennaRecord model;
    if (!table_ || !table_->GetRecord(Read(&DeviceSnapshot::newModelIndex), model)) {
        // The model to configure is gone: nothing sound to send.
        Fail(FailCode::Unexpected, "the new model is no longer in the antenna table");
        return;
    }
    SendRaw(cmd::AisgConfigureCommand(deviceIndex_, model.configFirst, model.configSecond));
}

void CVLX400E::OnAisgSetupReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const auto at = StepOf<AisgSetupStep>().value_or(AisgSetupStep::Restarting);
    const bool refusal = cmd::AisgRefusalOf(reply).has_value();
    switch (at) {
        case AisgSetupStep::AwaitConfigure:
            if (refusal || reply.Byte(0) != cmd::AisgConfigureCode) break;
            ArmReplyTimer();
            SendAisgPrepare();
            SetStep(AisgSetupStep::AwaitPrepare);
            return;
        case AisgSetupStep::AwaitPrepare:
            if (refusal || !cmd::IsAisgVendor(reply, cmd::AisgPrepareOp)) break;
            SendAisgModeSelect();
            SetStep(AisgSetupStep::AwaitModeSelect);
            return;
        case AisgSetupStep::AwaitModeSelect:
            if (refusal || !cmd::IsAisgVendor(reply, cmd::AisgModeSelectOp)) break;
            SetStep(AisgSetupStep::Restarting);
            SendAisgRestart();
            Pause(EricssonRestartPauseMs, AfterPause::EnterEricssonMode);
            return;
        case AisgSetupStep::Restarting:
            break;
    }
    AisgReplyUnexpected(reply, Awaited(at));
}

void CVLX400E::StartConversion() {
    Update([this](DeviceSnapshot& r) {
        r.step = ConversionStep::AwaitPrepare;
        r.continuing = Operation::Conversion;
        BeginLocked(Operation::Conversion);
    });
    operationSerial_.clear();  // not known in AISG mode
    ArmReplyTimer();
    SetProblem("");
    SendAisgPrepare();
}

void CVLX400E::OnConversionReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const auto at = StepOf<ConversionStep>().value_or(ConversionStep::Restarting);
    const bool refusal = cmd::AisgRefusalOf(reply).has_value();
    switch (at) {
        case ConversionStep::AwaitPrepare:
            if (refusal || !cmd::IsAisgVendor(reply, cmd::AisgPrepareOp)) break;
            SendAisgModeSelect();
            SetStep(ConversionStep::AwaitModeSelect);
            return;
        case ConversionStep::AwaitModeSelect:
            if (refusal || !cmd::IsAisgVendor(reply, cmd::AisgModeSelectOp)) break;
            SetStep(ConversionStep::Restarting);
            SendAisgRestart();
            Pause(EricssonRestartPauseMs, AfterPause::FinishConversion);
            return;
        case ConversionStep::Restarting:
            break;
    }
    AisgReplyUnexpected(reply, Awaited(at));
}

}  // namespace kvq::actuator
