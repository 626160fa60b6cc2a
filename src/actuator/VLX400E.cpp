// The E-VLX400's command sequences. Every start operation sends the first
// command and sets step 0; every reply handler checks the reply against the
// step, sends the next command and advances.

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "actuator/Actuator.h"
#include "antenna/AntennaTable.h"
#include "actuator/Commands.h"
#include "core/Controls.h"
#include "core/MainDataStore.h"

namespace {

constexpr const char* NoModelText = "NO RECOGNIZED ANTENNA MODEL?";
constexpr const char* SetTiltFailedText = "SET TILT FAILED";
constexpr const char* GetTiltFailedText = "GET TILT FAILED";

constexpr std::size_t SerialNumberAt = 51;
constexpr std::size_t VersionAt = 21;
constexpr std::size_t NameCountAt = 10;
constexpr std::size_t ModelNameMax = 16;
constexpr std::size_t AuxTextMax = 31;
constexpr std::size_t TiltAt = 10;
constexpr std::size_t FirmwareHeaderSize = 10;

// The 16-bit tilt of a GetTiltRequest reply: two's complement, as a negative
// tilt is sent, so a model with a negative minimum reads back right.
std::optional<std::int32_t> TiltOf(const cmd::Reply& reply) {
    const auto raw = reply.Big16(TiltAt);
    if (!raw) return std::nullopt;
    return static_cast<std::int16_t>(*raw);
}

}  // namespace

CVLX400E::CVLX400E(CMainDataStore& context) : context_(context) {
    serialNumber.Set("");
}

CVLX400E::~CVLX400E() {
    CloseFirmwareFile();
}

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

void CVLX400E::Pause(std::uint32_t ms) {
    context_.PauseUnlessStopped(ms);
}

void CVLX400E::Fail(std::int32_t code) {
    failCode.store(code);
    SetState(Failed);
    step.store(0);
    CloseFirmwareFile();
}

// ---- identity reading ------------------------------------------------------

void CVLX400E::StartReading() {
    progress.store(0.0);
    step.store(0);
    ArmReplyTimer();
    manufacturingData.ResetPage();
    Send(cmd::Vendor(deviceIndex, cmd::PreRead1));
}

void CVLX400E::OnReadingReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = step.load();
    if (reply.IsVendor(cmd::PreRead1)) {
        if (at != 0 || reply.VendorStatus() != 0) return Fail(FailIdentity);
        ArmReplyTimer();
        Send(cmd::Vendor(deviceIndex, cmd::PreRead2));
    } else if (reply.IsVendor(cmd::PreRead2)) {
        if (at != 0 || reply.VendorStatus() != 0) return Fail(FailIdentity);
        ArmReplyTimer();
        step.store(1);
        Send(cmd::Vendor(deviceIndex, cmd::ReadDataPage, 0));
    } else if (reply.IsVendor(cmd::ReadDataPage)) {
        const auto page = reply.Byte(10);
        const auto bytes = reply.Bytes(11, CManufacturingDataPage::PageSize);
        if (at != 1 || reply.VendorStatus() != 0 || !page ||
            bytes.size() != CManufacturingDataPage::PageSize) {
            return Fail(FailIdentity);
        }
        ArmReplyTimer();
        StoreDataPage(*page, bytes.first<CManufacturingDataPage::PageSize>());
        const auto next = static_cast<std::uint8_t>(*page + 1);
        if (next < 4) {
            Send(cmd::Vendor(deviceIndex, cmd::ReadDataPage, next));
            return;
        }
        if (!manufacturingData.IsValid()) manufacturingData.ResetPage();
        manufacturingData.SetCounter(
            122, static_cast<std::uint16_t>(manufacturingData.Counter(122) + 1));
        step.store(3);
        Send(cmd::Command(deviceIndex, cmd::IdentityRequest));
    } else if (reply.Is(cmd::IdentityReply) && at == 3 && reply.Size() > SerialNumberAt) {
        serialNumber.Set(reply.Text(SerialNumberAt, 127));
        ArmReplyTimer();
        Send(cmd::Command(deviceIndex, cmd::VersionRequest));
        step.store(4);
    } else if (reply.Is(cmd::VersionReply) && at == 4 && reply.Size() > VersionAt) {
        const std::string version = reply.Text(VersionAt, CommandBuffer::DataSize);
        softwareVersion.Set(version.substr(0, 16));
        ArmReplyTimer();
        if (FirmwareUpdateDue(version)) {
            SetState(Updating);
            StartUpdate();
        } else {
            SetState(ScanSerial);
            StartCheck();
        }
    }
    // Anything else is not for this step: ignored.
}

// ---- the check -------------------------------------------------------------

void CVLX400E::StartCheck() {
    progress.store(0.0);
    step.store(0);
    ArmReplyTimer();
    problemText.Set("");
    tiltAnswered.store(false);
    Pause(2000);
    Send(cmd::Command(deviceIndex, cmd::VersionRequest));
}

void CVLX400E::OnCheckReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = step.load();
    auto next = [&](CommandBufferPtr command, std::int32_t newStep) {
        Send(std::move(command));
        step.store(newStep);
    };
    if (reply.Is(cmd::VersionReply)) {
        if (at != 0 || reply.Size() <= VersionAt) return;
        softwareVersion.Set(reply.Text(VersionAt, 16));
        ArmReplyTimer();
        next(cmd::Vendor(deviceIndex, cmd::ReadModel), 1);
    } else if (reply.IsVendor(cmd::ReadModel)) {
        if (reply.Size() <= NameCountAt) return;
        const std::string name = reply.CountedText(NameCountAt, ModelNameMax);
        antennaModel.Set(name);
        context_.SelectModelByKey(name);
        next(cmd::Vendor(deviceIndex, cmd::ReadAuxText), 0);
    } else if (reply.IsVendor(cmd::ReadAuxText)) {
        if (reply.VendorStatus() != 0 || reply.Size() <= NameCountAt) return;  // stops here
        ArmReplyTimer();
        auxText.Set(reply.CountedText(NameCountAt, AuxTextMax));
        next(cmd::Command(deviceIndex, cmd::OpenRequest), 0);
    } else if (reply.Is(cmd::OpenReply) && at == 0) {
        next(cmd::Command(deviceIndex, cmd::PollRequest), 1);
    } else if (reply.Is(cmd::PollReply) && at == 1) {
        next(cmd::Command(deviceIndex, cmd::PrepareRequest1), 2);
    } else if (reply.Is(cmd::Prepare1Reply) && at == 2) {
        next(cmd::Command(deviceIndex, cmd::PollRequest), 3);
    } else if (reply.Is(cmd::PollReply) && at == 3) {
        next(cmd::PrepareRequest2Command(deviceIndex), 4);
    } else if (reply.Is(cmd::Prepare2Reply) && at == 4) {
        next(cmd::Command(deviceIndex, cmd::PollRequest), 5);
    } else if (reply.Is(cmd::PollReply) && at == 5) {
        next(cmd::PrepareRequest3Command(deviceIndex), 6);
    } else if (reply.Is(cmd::Prepare3Reply) && at == 6) {
        next(cmd::Command(deviceIndex, cmd::PollRequest), 7);
    } else if (reply.Is(cmd::PollReply) && at == 7) {
        next(cmd::Command(deviceIndex, cmd::GetTiltRequest), 8);
    } else if (reply.Is(cmd::GetTiltValue) && at == 8) {
        if (const auto tilt = TiltOf(reply)) TiltReadBack(*tilt);
    } else if (reply.Is(cmd::GetTiltFailed) && at == 8) {
        problemText.Set(GetTiltFailedText);
        tiltAnswered.store(true);
    }
    // Anything else: ignored, the step stays.
}

// ---- tilt --------------------------------------------------------------------

void CVLX400E::StartSetTilt() {
    ArmReplyTimer();
    Send(cmd::Command(deviceIndex, cmd::OpenRequest));
    progress.store(0.0);
    problemText.Set("");
    step.store(0);
    moveStartTilt = currentTilt.load();
    moveTargetTilt = requestedTilt.load();
    tiltAnswered.store(false);
}

void CVLX400E::PollTilt() {
    Send(cmd::Command(deviceIndex, cmd::GetTiltRequest));
}

void CVLX400E::OnTiltReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = step.load();
    auto next = [&](CommandBufferPtr command, std::int32_t newStep) {
        Send(std::move(command));
        step.store(newStep);
    };
    if (reply.Is(cmd::OpenReply) && at == 0) {
        next(cmd::Command(deviceIndex, cmd::PollRequest), 1);
    } else if (reply.Is(cmd::PollReply) && at == 1) {
        next(cmd::Command(deviceIndex, cmd::PrepareRequest1), 2);
    } else if (reply.Is(cmd::Prepare1Reply) && at == 2) {
        next(cmd::Command(deviceIndex, cmd::PollRequest), 3);
    } else if (reply.Is(cmd::PollReply) && at == 3) {
        next(cmd::PrepareRequest2Command(deviceIndex), 4);
    } else if (reply.Is(cmd::Prepare2Reply) && at == 4) {
        next(cmd::Command(deviceIndex, cmd::PollRequest), 5);
    } else if (reply.Is(cmd::PollReply) && at == 5) {
        next(cmd::PrepareRequest3Command(deviceIndex), 6);
    } else if (reply.Is(cmd::Prepare3Reply) && at == 6) {
        next(cmd::Command(deviceIndex, cmd::PollRequest), 7);
    } else if (reply.Is(cmd::PollReply) && at == 7) {
        Send(cmd::SetTiltCommand(deviceIndex, requestedTilt.load()));
        ArmLongReplyTimer();
        step.store(8);
    } else if (reply.Is(cmd::SetTiltDone) && at == 8) {
        sliderFollowsTilt.store(true);
        next(cmd::Command(deviceIndex, cmd::PollRequest), 9);
    } else if (reply.Is(cmd::SetTiltRefused) && at == 8) {
        sliderFollowsTilt.store(false);
        problemText.Set(SetTiltFailedText);
        next(cmd::Command(deviceIndex, cmd::PollRequest), 9);
    } else if (reply.Is(cmd::PollReply) && at == 9) {
        next(cmd::Command(deviceIndex, cmd::GetTiltRequest), 10);
    } else if (reply.Is(cmd::GetTiltValue) && (at == 8 || at == 10)) {
        if (const auto tilt = TiltOf(reply)) TiltReadBack(*tilt);
    } else if (reply.Is(cmd::GetTiltFailed) && at == 10) {
        problemText.Set(GetTiltFailedText);
        tiltAnswered.store(true);
    }
}

void CVLX400E::TiltReadBack(std::int32_t value) {
    if (value < minTilt.load()) {
        problemText.Set(NoModelText);
        value = minTilt.load();
    }
    if (value > maxTilt.load()) {
        problemText.Set(NoModelText);
        value = maxTilt.load();
    }
    if (state.load() == Testing) {
        currentTilt.store(value);
        const std::int32_t span = std::abs(moveTargetTilt - moveStartTilt);
        progress.store(
            span == 0 ? 100.0 : static_cast<double>(std::abs(value - moveStartTilt) * 100 / span));
        if (step.load() != 10) return;
        if (sliderFollowsTilt.load() && tiltSlider) tiltSlider->SetPosition(value);
        step.store(8);
        tiltAnswered.store(true);
        SetState(ScanSerial);
    } else if (state.load() == ScanSerial) {
        if (sliderFollowsTilt.load() && tiltSlider) tiltSlider->SetPosition(value);
        currentTilt.store(value);
        tiltAnswered.store(true);
    }
}

// ---- firmware download ---------------------------------------------------------

bool CVLX400E::FirmwareUpdateDue(const std::string& actuatorVersion) {
    CloseFirmwareFile();
    std::array<char, FirmwareHeaderSize> header{};
    if (std::FILE* file = std::fopen(firmwarePath_.c_str(), "rb")) {
        const std::size_t got = std::fread(header.data(), 1, header.size(), file);
        std::fclose(file);
        std::fill(header.begin() + static_cast<long>(got), header.end(), '\0');
    }
    if (header[0] == 0) return false;
    const auto end = std::find(header.begin() + 2, header.end(), '\0');
    const std::string fileVersion(header.begin() + 2, end);
    if (fileVersion.empty()) return false;
    if (actuatorVersion.compare(0, fileVersion.size(), fileVersion) == 0) return false;

    firmwareFile_ = std::fopen(firmwarePath_.c_str(), "rb");
    if (!firmwareFile_) return false;
    std::error_code error;
    const auto size = std::filesystem::file_size(firmwarePath_, error);
    firmwareSize_ = error ? 0 : size;
    firmwareSent_ = 0;
    return true;
}

void CVLX400E::CloseFirmwareFile() {
    if (firmwareFile_) std::fclose(firmwareFile_);
    firmwareFile_ = nullptr;
}

void CVLX400E::StartUpdate() {
    progress.store(0.0);
    step.store(0);
    Send(cmd::Vendor(deviceIndex, cmd::DownloadStart));
    ArmReplyTimer();
    const std::uintptr_t address = cmd::AddressOf(deviceIndex);
    PostToLink(MsgSuspendPolling, address);
    Pause(1000);
    PostToLink(MsgResumePolling, address);
    Pause(500);
}

bool CVLX400E::SendNextBlock() {
    if (!firmwareFile_) return false;
    std::array<std::uint8_t, cmd::DownloadBlockMax> block{};
    const std::size_t got = std::fread(block.data(), 1, block.size(), firmwareFile_);
    if (got == 0) return false;  // the end, or a read error, which counts as the end
    Send(cmd::DownloadBlockCommand(deviceIndex, {block.data(), got}));
    firmwareSent_ += got;
    // The bar follows the bytes sent, reaching 100 with the last block.
    const double share =
        firmwareSize_ == 0 ? 100.0 : 100.0 * static_cast<double>(firmwareSent_) / firmwareSize_;
    progress.store(std::min(share, 100.0));
    return true;
}

void CVLX400E::OnUpdatingReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = step.load();
    const bool accepted = reply.VendorStatus() == 0;
    if (reply.IsVendor(cmd::DownloadStart)) {
        ArmReplyTimer();
        if (at != 0) return;
        if (!accepted) return Fail(FailDownload);
        step.store(1);
        if (!SendNextBlock()) {
            // An image with nothing in it: nothing to send but the end.
            CloseFirmwareFile();
            Send(cmd::Vendor(deviceIndex, cmd::DownloadEnd));
            step.store(2);
        }
    } else if (reply.IsVendor(cmd::DownloadBlock)) {
        ArmReplyTimer();
        if (at != 1) return;
        if (!accepted) return Fail(FailDownload);
        if (!SendNextBlock()) {
            CloseFirmwareFile();
            Send(cmd::Vendor(deviceIndex, cmd::DownloadEnd));
            step.store(2);
        }
    } else if (reply.IsVendor(cmd::DownloadEnd)) {
        ArmReplyTimer();
        if (at != 2) return;
        if (!accepted) return Fail(FailDownload);
        step.store(0);
        SetState(Reading);
        RestartAfterUpdate();
    }
}

void CVLX400E::RestartAfterUpdate() {
    step.store(0);
    ArmReplyTimer();
    Send(cmd::Vendor(deviceIndex, cmd::Restart));
    Pause(5000);
}

// ---- model change and conversion ---------------------------------------------------

void CVLX400E::StartModelChange() {
    progress.store(0.0);
    step.store(0);
    ArmReplyTimer();
    problemText.Set("");
    Send(cmd::Command(deviceIndex, cmd::OpenRequest));
}

void CVLX400E::OnModelChangeReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = step.load();
    auto next = [&](CommandBufferPtr command, std::int32_t newStep) {
        Send(std::move(command));
        step.store(newStep);
    };
    if (reply.Is(cmd::OpenReply) && at == 0) {
        ArmReplyTimer();
        next(cmd::Command(deviceIndex, cmd::PollRequest), 1);
    } else if (reply.Is(cmd::PollReply) && at == 1) {
        ArmReplyTimer();
        next(cmd::Command(deviceIndex, cmd::PrepareRequest1), 2);
    } else if (reply.Is(cmd::Prepare1Reply) && at == 2) {
        ArmLongReplyTimer();
        next(cmd::Command(deviceIndex, cmd::PollRequest), 3);
    } else if (reply.Is(cmd::PollReply) && at == 3) {
        ArmReplyTimer();
        next(cmd::PrepareRequest2Command(deviceIndex), 4);
    } else if (reply.Is(cmd::Prepare2Reply) && at == 4) {
        ArmLongReplyTimer();
        next(cmd::Command(deviceIndex, cmd::PollRequest), 5);
    } else if (reply.Is(cmd::PollReply) && at == 5) {
        ArmReplyTimer();
        next(cmd::WriteModelCommand(deviceIndex, newModelName.Get()), 7);
    } else if (reply.IsVendor(cmd::WriteModel)) {
        ArmReplyTimer();
        Send(cmd::Vendor(deviceIndex, cmd::ReadModel));
    } else if (reply.IsVendor(cmd::ReadModel) && reply.Size() > NameCountAt) {
        const std::string name = reply.CountedText(NameCountAt, ModelNameMax);
        antennaModel.Set(name);
        context_.SelectModelByKey(name);
        ArmReplyTimer();
        next(cmd::ModeSelectCommand(deviceIndex), ModelChangeRestartStep);
    } else if (reply.IsVendor(cmd::ModeSelect)) {
        ArmReplyTimer();
        Send(cmd::Vendor(deviceIndex, cmd::Restart));
        Pause(2000);
        PostToLink(MsgAisgMode);
    } else {
        SetState(Failed);  // the failure code stays what it was
    }
}

void CVLX400E::StartAisgSetup() {
    step.store(0);
    ArmReplyTimer();
    problemText.Set("");
    AntennaRecord record;
    const CAntennaTable* table = context_.AntennaTable();
    if (!table || !table->GetRecord(newModelIndex.load(), record)) {
        SetState(Failed);  // the model to configure is gone: nothing sound to send
        return;
    }
    SendRaw(cmd::AisgConfigureCommand(deviceIndex, record.configFirst, record.configSecond));
}

void CVLX400E::OnAisgSetupReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = step.load();
    const auto code = reply.Byte(0);
    const auto operation = reply.Byte(5);
    if (code == cmd::AisgConfigureCode && at == 0) {
        ArmReplyTimer();
        SendRaw(cmd::AisgPrepareCommand(deviceIndex));
        step.store(1);
    } else if (code == cmd::AisgVendorCode && operation == cmd::AisgPrepareOp && at == 1) {
        ArmReplyTimer();
        SendRaw(cmd::AisgModeSelectCommand(deviceIndex));
        step.store(2);
    } else if (code == cmd::AisgVendorCode && operation == cmd::AisgModeSelectOp && at == 2) {
        step.store(0);
        ArmLongReplyTimer();
        SendRaw(cmd::AisgRestartCommand(deviceIndex));
        Pause(1000);
        PostToLink(MsgEricssonMode);
    } else {
        SetState(Failed);
    }
}

void CVLX400E::StartConversion() {
    step.store(0);
    ArmReplyTimer();
    problemText.Set("");
    SendRaw(cmd::AisgPrepareCommand(deviceIndex));
}

void CVLX400E::OnConversionReply(const CommandBuffer& buffer) {
    const cmd::Reply reply(buffer);
    const std::int32_t at = step.load();
    const auto code = reply.Byte(0);
    const auto operation = reply.Byte(5);
    if (code == cmd::AisgVendorCode && operation == cmd::AisgPrepareOp && at == 0) {
        ArmReplyTimer();
        SendRaw(cmd::AisgModeSelectCommand(deviceIndex));
        step.store(1);
    } else if (code == cmd::AisgVendorCode && operation == cmd::AisgModeSelectOp && at == 1) {
        step.store(0);
        ArmLongReplyTimer();
        SendRaw(cmd::AisgRestartCommand(deviceIndex));
        Pause(1000);
        PostToLink(MsgEricssonMode);
        SetState(ConversionFinished);
    } else {
        SetState(Failed);
    }
}
