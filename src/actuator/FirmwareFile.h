#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kvq::actuator {

// The firmware file "vlx400fw.bin": a 10-byte header (a nonzero byte, one
// more, the version text up to its NUL) and the image after it. Nothing of a
// file goes to the actuator before it has passed CheckFirmwareImage, and what
// goes is the very content that was checked.

constexpr std::size_t FirmwareHeaderSize = 10;
// No E-VLX400 image comes near this; anything larger is not one.
constexpr std::uint64_t FirmwareMaxSize = std::uint64_t{4} * 1024 * 1024;

// Whether a file may be sent: valid with its version text, or the reason why
// not as a sentence a technician can act on (it does not name the file; the
// caller does).
struct FirmwareCheck {
    bool valid = false;
    std::string version;
    std::string reason;
};

// Checks a file's whole content.
FirmwareCheck CheckFirmwareImage(std::span<const std::uint8_t> content);

// A firmware file as read from disk.
struct FirmwareFile {
    enum class Status { Missing, Invalid, Valid };
    Status status = Status::Missing;
    std::string version;                // Valid
    std::string reason;                 // Invalid
    std::vector<std::uint8_t> content;  // Valid: the whole file, header included
    std::uint64_t size = 0;             // as found on disk (Valid, Invalid)
};

// Reads and checks the file. A file above FirmwareMaxSize is refused without
// being read.
FirmwareFile ReadFirmwareFile(const std::filesystem::path& path);

// The actuator runs the file's version when its version text begins with the
// file's (the actuator may append a build letter).
bool FirmwareVersionInstalled(std::string_view actuatorVersion, std::string_view fileVersion);

// Who decides whether the actuator's software is written. The front end hands
// one to the actuator before its thread starts.
enum class FirmwarePolicy {
    // The desktop tool: a usable file of another version is downloaded
    // whenever an actuator is identified.
    DownloadWhenDiffers,
    // Commands that must not write the software: the file is never read by
    // the actuator's sequences and nothing is downloaded.
    NeverDownload,
    // The user asked for the download (kvqctl update-firmware); the sequences
    // download as for DownloadWhenDiffers.
    DownloadAsked,
};

// What the record says about the firmware file and the downloads of this run.
struct FirmwareFacts {
    std::string fileVersion;  // of the file last decided on, when it was usable
    std::string fileProblem;  // why the file last decided on is not used; empty otherwise
    std::uint32_t downloadsStarted = 0;
    // The version of the last download the actuator acknowledged whole.
    std::string downloadedVersion;
    // The actuator came back from the last download on its old version; kept
    // until another download starts.
    bool updateNotTaken = false;
    // Counts what the user must be told of: a file refused, an update not taken.
    std::uint32_t notices = 0;
    // The download under way: bytes the actuator has acknowledged of the
    // total, and the tick at which the first block was sent.
    std::uint64_t bytesAcknowledged = 0;
    std::uint64_t bytesTotal = 0;
    std::uint32_t firstBlockTick = 0;
};

// How long the download under way has left, from its pace so far; none until
// there is enough of it to tell.
std::optional<std::uint32_t> DownloadMsLeft(const FirmwareFacts& facts, std::uint32_t nowTick);
// "42%, 1:35 left" or "42%" while too little is known.
std::string DownloadProgressText(int percent, std::optional<std::uint32_t> msLeft);

}  // namespace kvq::actuator
