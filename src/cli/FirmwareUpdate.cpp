#include "cli/FirmwareUpdate.h"

#include "actuator/VLX400E.h"
#include "app/Paths.h"
#include "cli/ExitCodes.h"
#include "core/Utf8Path.h"
#include "status/StatusTexts.h"

using namespace kvq::actuator;
using namespace kvq::status;

namespace kvq::cli {

namespace {

constexpr const char* DefaultFirmwareFile = "vlx400fw.bin";
constexpr double UpdateBaseSeconds = 120;
constexpr double UpdateSecondsPerKiB = 1;

// The command that installs the file, as the user would type it.
std::string InstallCommand(const FirmwareAtStart& firmware) {
    std::string command = "kvqctl";
    if (firmware.path != app::AbsoluteOrAsGiven(DefaultFirmwareFile)) {
        command += " --firmware " + firmware.path.string();
    }
    return command + " update-firmware";
}

bool VersionKnown(const DeviceSnapshot& device) {
    return device.softwareVersion.find_first_not_of(' ') != std::string::npos;
}

}  // namespace

std::filesystem::path FirmwarePathFor(const std::optional<std::string>& given) {
    return given ? app::AbsoluteOrAsGiven(core::PathFromUtf8(*given))
                 : std::filesystem::path(DefaultFirmwareFile);
}

FirmwareAtStart ReadFirmwareAtStart(const std::filesystem::path& path) {
    FirmwareAtStart firmware;
    firmware.path = app::AbsoluteOrAsGiven(path);
    firmware.file = ReadFirmwareFile(firmware.path);
    return firmware;
}

FirmwarePolicy FirmwarePolicyFor(bool updateFirmware) {
    return updateFirmware ? FirmwarePolicy::DownloadAsked : FirmwarePolicy::NeverDownload;
}

double UpdateFirmwareTimeoutSeconds(std::uint64_t fileSize) {
    const std::uint64_t kib = (fileSize + 1023) / 1024;  // a part KiB counts whole
    return UpdateBaseSeconds + UpdateSecondsPerKiB * static_cast<double>(kib);
}

std::optional<std::string> FirmwareFileRefusal(const FirmwareAtStart& firmware,
                                               bool updateFirmware) {
    const std::string name = firmware.path.string();
    switch (firmware.file.status) {
        case FirmwareFile::Status::Valid:
            return std::nullopt;
        case FirmwareFile::Status::Missing:
            if (!updateFirmware) return std::nullopt;
            return "there is no firmware file " + name +
                   "; copy the E-VLX400 firmware file there or name it with --firmware FILE. "
                   "Nothing was sent.";
        case FirmwareFile::Status::Invalid:
            break;
    }
    if (!updateFirmware)
        return "the firmware file " + name + " is not used: " + firmware.file.reason;
    return "the firmware file " + name +
           " cannot be used and nothing was sent: " + firmware.file.reason;
}

std::optional<std::string> VersionDifference(const FirmwareAtStart& firmware,
                                             const DeviceSnapshot& device) {
    if (firmware.file.status != FirmwareFile::Status::Valid || !VersionKnown(device))
        return std::nullopt;
    if (FirmwareVersionInstalled(device.softwareVersion, firmware.file.version))
        return std::nullopt;
    return "the firmware file " + firmware.path.string() + " holds version " +
           firmware.file.version + "; the actuator runs version " + device.softwareVersion +
           ". Nothing was sent; '" + InstallCommand(firmware) + "' installs it.";
}

UpdateOutcome JudgeUpdate(int waitCode, const FirmwareAtStart& firmware,
                          const DeviceSnapshot& device) {
    // A time-out or a signal is reported as such.
    if (waitCode != ExitDone && waitCode != ExitProblem) return {waitCode, "", false};
    const FirmwareFacts& facts = device.firmware;
    const std::string name = firmware.path.string();
    if (facts.updateNotTaken) {
        return {ExitProblem,
                "the actuator did not take the update: it came back on version " +
                    device.softwareVersion + ", not on version " + facts.downloadedVersion +
                    " from " + name + ". It was sent once and nothing more; run '" +
                    InstallCommand(firmware) + "' again to retry, or use another firmware file.",
                true};
    }
    if (device.state == ActuatorState::Failed) {
        std::string message = "the update failed (" + StateText(device) + ")";
        if (facts.downloadsStarted > 0) {
            message += "; the actuator may be left without working software: run '" +
                       InstallCommand(firmware) + "' again";
        }
        return {ExitProblem, message + ".", true};
    }
    if (facts.downloadsStarted == 0) {
        // The file was read again when the actuator was identified.
        if (!facts.fileProblem.empty()) {
            return {ExitUsage,
                    "the firmware file " + name +
                        " changed and cannot be used; nothing was sent: " + facts.fileProblem,
                    true};
        }
        if (facts.fileVersion.empty()) {
            return {ExitUsage,
                    "the firmware file " + name +
                        " was gone when the actuator was identified; nothing was sent.",
                    true};
        }
        if (FirmwareVersionInstalled(device.softwareVersion, facts.fileVersion)) {
            return {ExitDone, "already at version " + facts.fileVersion + "; nothing was sent.",
                    false};
        }
    } else if (FirmwareVersionInstalled(device.softwareVersion, facts.downloadedVersion)) {
        return {ExitDone, "version " + facts.downloadedVersion + " installed.", false};
    }
    const std::string wanted =
        facts.downloadsStarted == 0 ? facts.fileVersion : facts.downloadedVersion;
    return {ExitProblem,
            "the actuator runs version " + device.softwareVersion + ", not version " + wanted +
                " from " + name + ".",
            true};
}

}  // namespace kvq::cli
