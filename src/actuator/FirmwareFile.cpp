#include "actuator/FirmwareFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <system_error>

namespace kvq::actuator {

namespace {

constexpr std::size_t VersionAt = 2;
// The estimate waits for this much of the download, so one slow first block
// does not make a wild figure.
constexpr std::uint32_t EstimateAfterMs = 1000;
constexpr std::uint64_t EstimateAfterBytes = std::uint64_t{2} * 56;  // two blocks

std::string Hex(std::uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

std::string OversizeReason(std::uint64_t size) {
    return "The file is " + std::to_string(size) +
           " bytes long, more than an E-VLX400 image can be (4 MiB, " +
           std::to_string(FirmwareMaxSize) + " bytes), so it is not an E-VLX400 firmware file.";
}

}  // namespace

FirmwareCheck CheckFirmwareImage(std::span<const std::uint8_t> content) {
    FirmwareCheck check;
    const auto size = static_cast<std::uint64_t>(content.size());
    if (size == 0) {
        check.reason = "The file is empty. Copy the E-VLX400 firmware file again.";
        return check;
    }
    if (size > FirmwareMaxSize) {
        check.reason = OversizeReason(size);
        return check;
    }
    if (size < FirmwareHeaderSize) {
        check.reason = "The file is only " + std::to_string(size) +
                       (size == 1 ? " byte" : " bytes") +
                       " long, shorter than the 10-byte header of a firmware file. Copy the "
                       "E-VLX400 firmware file again.";
        return check;
    }
    if (content[0] == 0) {
        check.reason =
            "Its first byte is 0, which no E-VLX400 firmware file has. Use the firmware file "
            "supplied for the E-VLX400.";
        return check;
    }
    // The version text runs from byte 2 to its NUL, or to the header's end.
    const auto header = content.first(FirmwareHeaderSize);
    const auto first = header.begin() + VersionAt;
    const auto end = std::find(first, header.end(), std::uint8_t{0});
    for (auto at = first; at != end; ++at) {
        if (*at < 0x20 || *at > 0x7E) {
            check.reason = "Its version text holds the byte " + Hex(*at) + " at position " +
                           std::to_string(at - header.begin()) +
                           ", which is not printable text: the file is damaged or is not an "
                           "E-VLX400 firmware file.";
            return check;
        }
    }
    const std::string version(first, end);
    if (version.find_first_not_of(' ') == std::string::npos) {
        check.reason =
            "Its header carries no version text, so it cannot be compared with the actuator's "
            "version. Use the firmware file supplied for the E-VLX400.";
        return check;
    }
    if (size == FirmwareHeaderSize) {
        check.reason = "It holds the 10-byte header of version " + version +
                       " but no image after it. Copy the E-VLX400 firmware file again.";
        return check;
    }
    check.valid = true;
    check.version = version;
    return check;
}

FirmwareFile ReadFirmwareFile(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    FirmwareFile file;
    std::error_code error;
    const auto status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) return file;  // Missing
    file.status = FirmwareFile::Status::Invalid;
    if (error) {
        file.reason = "It cannot be read (" + error.message() + ").";
        return file;
    }
    if (!fs::is_regular_file(status)) {
        file.reason = "It is not a file but a directory or a device.";
        return file;
    }
    const auto size = fs::file_size(path, error);
    if (error) {
        file.reason = "It cannot be read (" + error.message() + ").";
        return file;
    }
    file.size = size;
    if (size > FirmwareMaxSize) {
        file.reason = OversizeReason(size);  // not read: its size is enough to refuse it
        return file;
    }
    // A stream opened from the path itself: on Windows that is the wide name,
    // so a folder named in any script is found.
    errno = 0;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        file.reason = std::string("It cannot be read (") +
                      (errno != 0 ? std::strerror(errno) : "it could not be opened") + ").";
        return file;
    }
    // One byte more than expected shows a file that grew since its size was
    // taken: what is checked must be what is sent.
    std::vector<std::uint8_t> content(static_cast<std::size_t>(size) + 1);
    in.read(reinterpret_cast<char*>(content.data()), static_cast<std::streamsize>(content.size()));
    const auto got = static_cast<std::size_t>(in.gcount());
    if (in.bad()) {
        file.reason = "It cannot be read (a read error).";
        return file;
    }
    if (got != size) {
        file.reason = "It changed while it was read. Try again once it has been copied.";
        return file;
    }
    content.resize(got);
    const FirmwareCheck check = CheckFirmwareImage(content);
    file.size = content.size();
    if (!check.valid) {
        file.reason = check.reason;
        return file;
    }
    file.status = FirmwareFile::Status::Valid;
    file.version = check.version;
    file.content = std::move(content);
    return file;
}

bool FirmwareVersionInstalled(std::string_view actuatorVersion, std::string_view fileVersion) {
    return actuatorVersion.starts_with(fileVersion);
}

std::optional<std::uint32_t> DownloadMsLeft(const FirmwareFacts& facts, std::uint32_t nowTick) {
    if (facts.bytesTotal == 0 || facts.bytesAcknowledged == 0) return std::nullopt;
    if (facts.bytesAcknowledged >= facts.bytesTotal) return 0;
    const auto elapsed = static_cast<std::uint32_t>(nowTick - facts.firstBlockTick);
    if (elapsed < EstimateAfterMs || facts.bytesAcknowledged < EstimateAfterBytes)
        return std::nullopt;
    const double perByte =
        static_cast<double>(elapsed) / static_cast<double>(facts.bytesAcknowledged);
    const double left = perByte * static_cast<double>(facts.bytesTotal - facts.bytesAcknowledged);
    return static_cast<std::uint32_t>(std::min(left, 4.0e9));
}

std::string DownloadProgressText(int percent, std::optional<std::uint32_t> msLeft) {
    std::string text = std::to_string(std::clamp(percent, 0, 100)) + "%";
    if (!msLeft) return text;
    // Rounded up: "0:00 left" only when it is done.
    const std::uint32_t seconds = (*msLeft + 999) / 1000;
    char left[32];
    if (seconds >= 3600) {
        std::snprintf(left, sizeof left, ", %u:%02u:%02u left", seconds / 3600, seconds / 60 % 60,
                      seconds % 60);
    } else {
        std::snprintf(left, sizeof left, ", %u:%02u left", seconds / 60, seconds % 60);
    }
    return text + left;
}

}  // namespace kvq::actuator
