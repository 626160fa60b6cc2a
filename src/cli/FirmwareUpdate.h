#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "actuator/FirmwareFile.h"

namespace kvq::actuator {
struct DeviceSnapshot;
}  // namespace kvq::actuator

namespace kvq::cli {

// What kvqctl does about the actuator's software, whatever the spelling of
// its command line: only update-firmware writes it; every other command
// leaves it alone and says when the file holds another version.

// The firmware file as kvqctl found it when it started.
struct FirmwareAtStart {
    std::filesystem::path path;  // absolute, so it names the file plainly
    actuator::FirmwareFile file;
};

// The file given (relative to the directory kvqctl was started in), else
// vlx400fw.bin in the working directory.
std::filesystem::path FirmwarePathFor(const std::optional<std::string>& given);
FirmwareAtStart ReadFirmwareAtStart(const std::filesystem::path& path);

// Only the command that asks for it downloads.
actuator::FirmwarePolicy FirmwarePolicyFor(bool updateFirmware);

// update-firmware's default time-out: room to find the actuator and to see
// it restart (120 s), and 1 s per KiB of the file (a download at 115200 baud
// takes about 0.4 s per KiB).
double UpdateFirmwareTimeoutSeconds(std::uint64_t fileSize);

// Before the port is opened. For update-firmware a missing or unusable file
// ends the run (exit 2) with this sentence; other commands print it as a
// notice when the file is there but unusable. None: nothing to say.
std::optional<std::string> FirmwareFileRefusal(const FirmwareAtStart& firmware,
                                               bool updateFirmware);

// After any other command: when the actuator was identified and the file
// holds another version, a sentence naming both and the command that
// installs it.
std::optional<std::string> VersionDifference(const FirmwareAtStart& firmware,
                                             const actuator::DeviceSnapshot& device);

// How update-firmware ends, from the wait's own exit code and the record at
// its end.
struct UpdateOutcome {
    int exitCode = 0;
    std::string message;  // empty: nothing to add
    bool isError = false;
};
UpdateOutcome JudgeUpdate(int waitCode, const FirmwareAtStart& firmware,
                          const actuator::DeviceSnapshot& device);

}  // namespace kvq::cli
