#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "core/CommandBuffer.h"
#include "hdlc/DeadlineTimer.h"
#include "hdlc/LinkDevice.h"
#include "actuator/ManufacturingDataPage.h"
#include "core/SharedText.h"
#include "core/ThreadMessages.h"

class CMainDataStore;
class TiltSliderControl;

// Codes of the actuator's state machine.
enum ActuatorState : std::int32_t {
    Searching = 0,
    Reading = 1,
    Updating = 2,
    Resetting = 3,
    Calibrating = 4,
    Testing = 5,
    Finished = 6,
    Inactive = 7,
    Recording = 8,
    ScanSerial = 9,
    Failed = 10,
    CalibratingAisg = 13,
    ConvertingToEricsson = 14,
    ConversionFinished = 15,
};

// Failure codes this tool sets.
constexpr std::int32_t FailNoReply = 14;   // no reply in time, or the link dropped
constexpr std::int32_t FailIdentity = 16;  // identity reading refused
constexpr std::int32_t FailDownload = 18;  // firmware download refused

// The model change's step from the mode selection on, through the restart.
constexpr std::int32_t ModelChangeRestartStep = 10;

constexpr std::uint32_t ReplyTimeoutMs = 10000;
constexpr std::uint32_t LongReplyTimeoutMs = 50000;
constexpr std::uint32_t FirstReplyTimeoutMs = 5000;

// The one connected actuator: at once the device record that the rest of the
// program reads and the protocol operations that the actuator thread runs.
// Fields that several threads touch are atomics or texts copied under a lock.
class CActuator : public LinkDevice {
public:
    CActuator();
    ~CActuator() override;
    CActuator(const CActuator&) = delete;
    CActuator& operator=(const CActuator&) = delete;

    // Protocol operations: a start operation per activity, a reply handler per
    // state. Each reply handler looks at the reply and the step it expects.
    virtual void PollTilt() = 0;
    virtual void OnReadingReply(const CommandBuffer& reply) = 0;
    virtual void OnUpdatingReply(const CommandBuffer& reply) = 0;
    virtual void OnResettingReply(const CommandBuffer& reply) = 0;
    virtual void OnModelChangeReply(const CommandBuffer& reply) = 0;
    virtual void OnAisgSetupReply(const CommandBuffer& reply) = 0;
    virtual void StartAisgSetup() = 0;
    virtual void OnConversionReply(const CommandBuffer& reply) = 0;
    virtual void StartConversion() = 0;
    virtual void OnTiltReply(const CommandBuffer& reply) = 0;
    virtual void OnFinishedReply(const CommandBuffer& reply) = 0;
    virtual void OnCheckReply(const CommandBuffer& reply) = 0;
    virtual void StartReading() = 0;
    virtual void StartSetTilt() = 0;
    virtual void StartCheck() = 0;
    virtual void StartModelChange() = 0;
    virtual void RestartAfterUpdate() = 0;
    virtual void StartUpdate() = 0;
    virtual void OnRecordingReply(const CommandBuffer& reply) = 0;
    virtual void ReservedOperation() = 0;
    virtual void Fail(std::int32_t code) = 0;
    virtual void OnPaintTick() = 0;

    // setupPending is 1 in Calibrating and CalibratingAisg, and stays 1 when
    // such a state falls back to Searching (the actuator restarts during a model
    // change); progress restarts when the record goes back to plain searching.
    void SetState(std::int32_t newState);
    // The reply watchdog's check and failure in one step, so a state change on
    // the actuator thread cannot slip between them. True when it failed the device.
    bool FailIfReplyOverdue();
    void ArmReplyTimer() { replyDeadline.Set(ReplyTimeoutMs); }
    void ArmLongReplyTimer() { replyDeadline.Set(LongReplyTimeoutMs); }
    // The slider's range is the model's tilt range, with a tick at every whole
    // degree from the minimum.
    void ApplyTiltRange();
    void SelectNewModel(std::int32_t index);
    void SetNewModelName(std::string_view name) { newModelName.Set(name); }
    void StoreDataPage(std::int32_t page, std::span<const std::uint8_t, 32> bytes) {
        manufacturingData.StoreDataPage(page, bytes);
    }
    // The device is gone: its identity is forgotten.
    void ForgetDevice();
    // Lets go of what an operation held once that operation is over (an open
    // firmware file after a download that ended early). The actuator thread
    // calls it after every pass outside the download.
    virtual void ReleaseOperationResources() {}

    std::int32_t LinkState() const override { return state.load(); }
    std::int32_t LinkSetupPending() const override { return setupPending.load(); }
    ThreadId LinkThreadIdOfDevice() const override { return threadId.load(); }

    std::atomic<std::int32_t> deviceIndex{0};
    SharedText<128> auxText;
    SharedText<128> serialNumber;
    std::atomic<std::int32_t> state{Searching};
    std::atomic<std::int32_t> setupPending{0};
    std::atomic<std::int32_t> step{0};
    std::atomic<bool> sliderFollowsTilt{true};
    // The tilt of the running check or move has come back (or its read failed):
    // READY from step 8 on, and now with the tilt it reports.
    std::atomic<bool> tiltAnswered{false};
    // The actuator was lost in the middle of its AISG-mode setup: when it is
    // found again in AISG mode the setup is run again, rather than the
    // actuator being converted with the new model's configuration never
    // stored. Cleared when it is found in Ericsson mode or a new change starts.
    std::atomic<bool> aisgSetupCutShort{false};
    TiltSliderControl* tiltSlider = nullptr;  // set before the threads start
    SharedText<128> problemText;
    DeadlineTimer replyDeadline;
    CManufacturingDataPage manufacturingData;  // actuator thread only
    std::atomic<ThreadId> threadId{0};
    SharedText<17> softwareVersion{" "};  // 16 characters and the terminator
    std::atomic<std::int32_t> requestedTilt{0};
    std::atomic<std::int32_t> minTilt{0};
    std::atomic<std::int32_t> maxTilt{0};
    std::atomic<std::int32_t> currentTilt{0};
    std::atomic<double> progress{0.0};
    std::int32_t moveStartTilt = 0;   // actuator thread only
    std::int32_t moveTargetTilt = 0;  // actuator thread only
    std::atomic<std::int32_t> failCode{0};
    SharedText<32> antennaModel;
    SharedText<32> newModelName;
    std::atomic<std::int32_t> newModelIndex{0};

protected:
    void SetStateLocked(std::int32_t newState);
    std::mutex stateMutex_;
};

// The E-VLX400: the command sequences of identity reading, the check, tilt,
// firmware download, model change and conversion.
class CVLX400E : public CActuator {
public:
    explicit CVLX400E(CMainDataStore& context);
    ~CVLX400E() override;

    // Where commands go: the link thread's id, asked for at every send.
    void SetLinkThread(std::function<ThreadId()> linkThreadId) {
        linkThreadId_ = std::move(linkThreadId);
    }
    // The firmware file to keep the actuator at; "vlx400fw.bin" in the working directory.
    void SetFirmwarePath(std::filesystem::path path) { firmwarePath_ = std::move(path); }

    void PollTilt() override;
    void OnReadingReply(const CommandBuffer& reply) override;
    void OnUpdatingReply(const CommandBuffer& reply) override;
    void OnResettingReply(const CommandBuffer&) override {}
    void OnModelChangeReply(const CommandBuffer& reply) override;
    void OnAisgSetupReply(const CommandBuffer& reply) override;
    void StartAisgSetup() override;
    void OnConversionReply(const CommandBuffer& reply) override;
    void StartConversion() override;
    void OnTiltReply(const CommandBuffer& reply) override;
    void OnFinishedReply(const CommandBuffer&) override {}
    void OnCheckReply(const CommandBuffer& reply) override;
    void StartReading() override;
    void StartSetTilt() override;
    void StartCheck() override;
    void StartModelChange() override;
    void RestartAfterUpdate() override;
    void StartUpdate() override;
    void OnRecordingReply(const CommandBuffer&) override {}
    void ReservedOperation() override {}
    void Fail(std::int32_t code) override;
    void OnPaintTick() override {}

    // After identity reading: true (and the file held open) when the firmware
    // file's version differs from the actuator's.
    bool FirmwareUpdateDue(const std::string& actuatorVersion);
    bool FirmwareFileOpen() const { return firmwareFile_ != nullptr; }
    void ReleaseOperationResources() override { CloseFirmwareFile(); }
    // Ends a download that will not reach the file's end.
    void CloseFirmwareFile();

private:
    void Send(CommandBufferPtr command);
    void SendRaw(CommandBufferPtr command);
    void PostToLink(std::uint32_t message, std::uintptr_t wParam = 0);
    void Pause(std::uint32_t ms);
    // A tilt read back: clamped to the model's range, shown, and in Testing
    // the end of the move.
    void TiltReadBack(std::int32_t value);
    bool SendNextBlock();

    CMainDataStore& context_;
    std::function<ThreadId()> linkThreadId_;
    std::filesystem::path firmwarePath_ = "vlx400fw.bin";
    std::FILE* firmwareFile_ = nullptr;
    std::uint64_t firmwareSize_ = 0;
    std::uint64_t firmwareSent_ = 0;
};
