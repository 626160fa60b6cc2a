#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "actuator/DeviceRecord.h"
#include "actuator/FirmwareFile.h"
#include "actuator/ManufacturingDataPage.h"
#include "core/ChangeSignal.h"
#include "core/CommandBuffer.h"
#include "core/ThreadMessages.h"
#include "hdlc/DeadlineTimer.h"
#include "hdlc/LinkDevice.h"

namespace kvq::antenna {
class CAntennaTable;
}  // namespace kvq::antenna

namespace kvq::actuator {

class ModelListControl;
class TiltSliderControl;
// How an operation runs the shared preamble (defined with the sequences).
template <class Step>
struct PreamblePlan;
namespace cmd {
class Reply;
}  // namespace cmd

constexpr std::uint32_t ReplyTimeoutMs = 10000;
constexpr std::uint32_t LongReplyTimeoutMs = 50000;
constexpr std::uint32_t FirstReplyTimeoutMs = 5000;

// The settings' Variant values that name a model this tool serves, exactly as
// they must be written.
inline constexpr std::array<std::string_view, 2> ServedVariants = {"E-VLX400", "VLX400-002"};

// Whether the settings' Variant names a model this tool serves; anything else
// must end the program at once with exit code 0.
bool VariantIsServed(std::string_view variant);

// The one connected E-VLX400: its device record and the operations that the
// actuator thread runs on it (identity reading, the check, tilt, firmware
// download, model change and conversion). The record is read as a snapshot;
// every change to it is counted, so others can wait for one.
class CVLX400E final : public hdlc::LinkDevice {
public:
    CVLX400E();
    ~CVLX400E() override;
    CVLX400E(const CVLX400E&) = delete;
    CVLX400E& operator=(const CVLX400E&) = delete;

    // --- wiring, before the threads start ---
    // Where commands go: the link thread's id, asked for at every send.
    void SetLinkThread(std::function<core::ThreadId()> linkThreadId) {
        linkThreadId_ = std::move(linkThreadId);
    }
    // The firmware file to keep the actuator at; "vlx400fw.bin" in the working directory.
    void SetFirmwarePath(std::filesystem::path path) { firmwarePath_ = std::move(path); }
    const std::filesystem::path& FirmwarePath() const { return firmwarePath_; }
    // Whether identification may download the file (the front end's choice).
    void SetFirmwarePolicy(FirmwarePolicy policy) { firmwarePolicy_ = policy; }
    void SetAntennaTable(const antenna::CAntennaTable* table) { table_ = table; }
    // The two controls this record drives; nullptr lets go of them.
    void SetControls(TiltSliderControl* tiltSlider, ModelListControl* modelList);
    void SetThreadId(core::ThreadId id) { threadId_.store(id); }
    core::ThreadId ThreadIdOfActuator() const { return threadId_.load(); }
    void SetDeviceIndex(std::int32_t index) { deviceIndex_.store(index); }

    // --- reading the record ---
    DeviceSnapshot Snapshot() const;
    // Counts every change to the record.
    core::ChangeSignal& Changes() { return changes_; }
    const CManufacturingDataPage& ManufacturingData() const { return manufacturingData_; }

    // --- the record's own rules ---
    // A state is entered with the first step of what runs in it; progress
    // restarts when the record goes back to plain looking.
    void SetState(ActuatorState newState);
    template <class Step>
    void SetStep(Step step) {
        Update([&](DeviceSnapshot& r) { r.step = step; });
    }
    // Fails the record; the operation under way (if any) ends Failed with the
    // reason, which says what the actuator is left with.
    void Fail(FailCode code, std::string reason = {});
    // The reply watchdog's check and failure in one step, so a state change on
    // the actuator thread cannot slip between them. True when it failed the device.
    bool FailIfReplyOverdue();
    // Milliseconds until the reply watchdog may fail the record (0: it may
    // now); none while no reply is awaited.
    std::optional<std::uint32_t> MsUntilReplyOverdue() const;
    void ArmReplyTimer() { ArmReplyTimer(ReplyTimeoutMs); }
    void ArmLongReplyTimer() { ArmReplyTimer(LongReplyTimeoutMs); }
    void ArmReplyTimer(std::uint32_t ms);
    // The device is gone: its identity is forgotten.
    void ForgetDevice();
    // The slider's range is the model's tilt range, with a tick at every whole
    // degree from the minimum.
    void ApplyTiltRange();
    // The model the actuator reports (its key): a model the table knows gives
    // its name and tilt range and is selected in the list; unknown, the key stays shown.
    void SelectModelByKey(std::string_view key);
    void StoreDataPage(std::int32_t page, std::span<const std::uint8_t, 32> bytes) {
        manufacturingData_.StoreDataPage(page, bytes);
    }

    // --- requests, taken by the actuator thread ---
    // Set Tilt to the given target (tenths of a degree).
    void RequestSetTilt(std::int32_t target);
    // Change to the antenna table's model at this index.
    void RequestModelChange(std::int32_t modelIndex);
    // A link event (MsgLinkUp, MsgLinkDown, MsgDeviceLost, MsgAisgDeviceFound).
    void OnLinkUp();
    void OnLinkDown();
    void OnDeviceLost();
    void OnAisgDeviceFound();
    // The actuator is gone, or came back on its own: what it was doing is cut
    // short (unless the restart was the operation's own) and it is looked for.
    void LoseDevice(std::string_view why);
    // A reply from the link, handed to the running operation by state.
    void OnReply(const core::CommandBuffer& reply);

    // --- start operations and reply handlers of each operation ---
    void StartReading();
    void OnReadingReply(const core::CommandBuffer& reply);
    void StartCheck();
    void OnCheckReply(const core::CommandBuffer& reply);
    void StartSetTilt();
    void OnTiltReply(const core::CommandBuffer& reply);
    void PollTilt();
    void StartUpdate();
    void OnUpdatingReply(const core::CommandBuffer& reply);
    void RestartAfterUpdate();
    void StartModelChange();
    void OnModelChangeReply(const core::CommandBuffer& reply);
    void StartAisgSetup();
    void OnAisgSetupReply(const core::CommandBuffer& reply);
    void StartConversion();
    void OnConversionReply(const core::CommandBuffer& reply);

    // --- time: the pauses a step prescribes, and the idle work ---
    // While a step's pause runs, the thread takes no message until it ends.
    std::optional<std::uint32_t> PauseEnd() const { return pauseEnd_; }
    // Runs the rest of the step whose pause has ended (or was cut short by a
    // stop); it may start a further pause.
    void EndPause();
    // When the idle work is due next; none while there is nothing to do
    // without a message (the thread then sleeps until one comes).
    std::optional<std::uint32_t> NextIdleWork() const;
    // Does the idle work due at now: progress creeping while checking or
    // setting up, the tilt asked for while a move runs.
    void IdleWork(std::uint32_t now);
    // A message was handled at now: the next quiet pass starts from here.
    void MessageHandled(std::uint32_t now);

    // --- firmware ---
    // After identity reading: true (and the checked image held) when the
    // policy allows a download and the firmware file is usable, of another
    // version than the actuator's, and not one this actuator has already
    // failed to take in this run. Records what it found in the record.
    bool FirmwareUpdateDue(const std::string& actuatorVersion);
    // After identity reading: true when the actuator has come back from a
    // completed download on a version other than the one it was sent.
    bool FirmwareUpdateNotTaken(const std::string& actuatorVersion);
    // After identity reading, when a download went on across the restart:
    // its verdict, from the version the actuator came back on.
    void JudgeInstalledVersion(const std::string& actuatorVersion);
    bool FirmwareImageHeld() const { return !image_.empty(); }
    // Ends a download that will not reach the image's end.
    void ReleaseFirmwareImage();

    // LinkDevice
    hdlc::LinkDeviceState LinkState() const override;
    core::ThreadId LinkThreadIdOfDevice() const override { return threadId_.load(); }

private:
    friend class ActuatorTestAccess;  // tests put the record in the state a case starts from

    // What the rest of a step does once its pause has run.
    enum class AfterPause {
        Nothing,
        SendVersionRequest,
        ResumePolling,
        EnterAisgMode,
        EnterEricssonMode,
        FinishConversion,
    };

    // Changes the record under its lock and counts the change.
    template <class Change>
    void Update(Change change) {
        {
            std::lock_guard lock(mutex_);
            change(record_);
        }
        changes_.Notify();
    }
    template <class Member>
    Member Read(Member DeviceSnapshot::*field) const {
        std::lock_guard lock(mutex_);
        return record_.*field;
    }
    ActuatorState State() const { return Read(&DeviceSnapshot::state); }
    template <class Step>
    std::optional<Step> StepOf() const {
        std::lock_guard lock(mutex_);
        return record_.StepOf<Step>();
    }
    void SetStateLocked(ActuatorState newState);
    // Starts an operation's account, and ends it (the record's lock held).
    void BeginLocked(Operation operation);
    void EndLocked(Operation operation, Ending ending, std::string reason = {});
    // What stopping the operation under way now leaves the actuator with.
    std::string LeftBehindLocked() const;
    // The model change or conversion is over (done or not): nothing continues.
    void EndModelChange(Ending ending, std::string reason = {});
    void SetProblem(std::string_view text);

    void Send(core::CommandBufferPtr command);
    void SendRaw(core::CommandBufferPtr command);
    void PostToLink(std::uint32_t message, std::uintptr_t wParam = 0);
    void Pause(std::uint32_t ms, AfterPause then);
    // The shared opening: true when the reply was a preamble step's and the
    // next request is sent with the next step.
    template <class Step>
    bool AdvancePreamble(const PreamblePlan<Step>& plan, Step at, const cmd::Reply& reply);
    // A tilt read back: recorded as reported, shown on the slider within the
    // model's range; final: the end of the check or of the move.
    void TiltReadBack(std::int32_t value, bool final);
    // The check is complete: the actuator is ready, and a model change that
    // waited for it has its verdict.
    void CompleteCheckLocked();
    // An AISG-mode reply a step did not ask for: the setup or conversion fails.
    void AisgReplyUnexpected(const cmd::Reply& reply, std::string_view awaited);
    bool SendNextBlock();
    void SendDownloadEnd();
    // The AISG-mode tail shared by the setup and the conversion.
    void SendAisgPrepare();
    void SendAisgModeSelect();
    void SendAisgRestart();
    void SetSliderPosition(std::int32_t position);

    mutable std::mutex mutex_;
    DeviceSnapshot record_;
    hdlc::DeadlineTimer replyDeadline_;
    core::ChangeSignal changes_;

    std::atomic<std::int32_t> deviceIndex_{0};
    std::atomic<core::ThreadId> threadId_{0};
    std::function<core::ThreadId()> linkThreadId_;
    const antenna::CAntennaTable* table_ = nullptr;
    std::mutex controlsMutex_;
    TiltSliderControl* tiltSlider_ = nullptr;
    ModelListControl* modelList_ = nullptr;

    // The actuator thread's alone.
    CManufacturingDataPage manufacturingData_;
    bool sliderFollowsTilt_ = true;
    // The actuator was lost in the middle of its AISG-mode setup: when it is
    // found again in AISG mode the setup is run again, rather than the
    // actuator being converted with the new model's configuration never
    // stored. Cleared when it is found in Ericsson mode or a new change starts.
    bool aisgSetupCutShort_ = false;
    std::int32_t moveStartTilt_ = 0;
    std::int32_t moveTargetTilt_ = 0;
    bool moveRefused_ = false;
    // The model key the check read from the actuator (before the table's name).
    std::string modelKeyRead_;
    // The serial number the running operation began on.
    std::string operationSerial_;
    std::optional<std::uint32_t> pauseEnd_;
    AfterPause afterPause_ = AfterPause::Nothing;
    std::uint32_t lastActivity_ = 0;  // the last message or creep: quiet passes count from here
    std::uint32_t nextTiltPoll_ = 0;
    std::filesystem::path firmwarePath_ = "vlx400fw.bin";
    FirmwarePolicy firmwarePolicy_ = FirmwarePolicy::DownloadWhenDiffers;
    // The content that was checked, which is what is sent; empty when no
    // download runs.
    std::vector<std::uint8_t> image_;
    std::size_t imageSent_ = 0;
    std::string imageVersion_;
    std::size_t imageHash_ = 0;
    // A download acknowledged whole (and the restart sent), until the
    // actuator's next identification shows whether it took the image.
    struct Installing {
        std::string serialNumber;
        std::string version;
        std::size_t imageHash = 0;
    };
    std::optional<Installing> installing_;
    // The actuator (by serial number) and image it did not take: not sent to
    // it again in this run.
    struct NotTaken {
        std::string serialNumber;
        std::size_t imageHash = 0;
    };
    std::optional<NotTaken> notTaken_;
};

}  // namespace kvq::actuator
