// What a firmware file must hold before any of it is sent, and the estimate of
// a download's time left.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>
#endif

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "actuator/FirmwareFile.h"
#include "support/TempDir.h"

using namespace kvq::actuator;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes File(const Bytes& header, std::size_t imageSize) {
    Bytes file = header;
    file.resize(file.size() + imageSize, 0x5A);
    return file;
}

Bytes Header(const std::string& version) {
    Bytes header(FirmwareHeaderSize, 0);
    header[0] = 0x01;
    for (std::size_t i = 0; i < version.size() && 2 + i < header.size(); ++i)
        header[2 + i] = static_cast<std::uint8_t>(version[i]);
    return header;
}

// 4096 bytes as a technician's mistyped copy gives them; the header is the one
// that was once flashed for want of a check.
Bytes RandomBytes() {
    Bytes bytes = {0x9C, 0x41, 'i', 0xDD, ';', '_', '5', 0xAF, 'I', 0xBA};
    std::mt19937 generator(4711);
    while (bytes.size() < 4096)
        bytes.push_back(static_cast<std::uint8_t>(generator()));
    return bytes;
}

}  // namespace

TEST(FirmwareFileCheck, RefusesWhatIsNoImageAndSaysWhy) {
    struct Case {
        const char* what;
        Bytes content;
        const char* version;  // nullptr: refused
        const char* reasonSays;
    } cases[] = {
        {"random bytes", RandomBytes(), nullptr, "byte 0xDD at position 3"},
        {"empty", {}, nullptr, "empty"},
        {"three bytes", {0x01, 0x00, '9'}, nullptr, "only 3 bytes"},
        {"one byte", {0x01}, nullptr, "only 1 byte long"},
        {"first byte 0", File({0x00, 0x00, '0', '2', 0, 0, 0, 0, 0, 0}, 100), nullptr,
         "first byte is 0"},
        {"empty version text", File({0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}, 100), nullptr,
         "no version text"},
        {"a version of blanks", File(Header("   "), 100), nullptr, "no version text"},
        {"a control character in the version", File(Header("01.2\t3"), 100), nullptr,
         "byte 0x09 at position 6"},
        {"a byte above ASCII in the version", File(Header("01.2\x7F"), 100), nullptr, "0x7F"},
        {"header only", Header("02.00"), nullptr, "no image"},
        {"one byte over 4 MiB", File(Header("02.00"), FirmwareMaxSize - FirmwareHeaderSize + 1),
         nullptr, "4194305 bytes long"},
        {"exactly 4 MiB", File(Header("02.00"), FirmwareMaxSize - FirmwareHeaderSize), "02.00",
         ""},
        {"valid", File(Header("02.00"), 1000), "02.00", ""},
        {"one byte of image", File(Header("02.00"), 1), "02.00", ""},
        {"no NUL in the header: eight characters",
         File({0x01, 0x00, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}, 10), "ABCDEFGH", ""},
        {"byte 1 is not looked at", File({0x01, 0xFF, '0', '1', 0, 0xFF, 0, 0, 0, 0}, 10), "01",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const FirmwareCheck check = CheckFirmwareImage(c.content);
        EXPECT_EQ(check.valid, c.version != nullptr);
        if (c.version) {
            EXPECT_EQ(check.version, c.version);
            EXPECT_EQ(check.reason, "");
        } else {
            EXPECT_EQ(check.version, "");
            EXPECT_NE(check.reason.find(c.reasonSays), std::string::npos) << check.reason;
            EXPECT_EQ(check.reason.back(), '.') << "a sentence";
        }
    }
}

// From disk: a missing file is no error (nothing to do), a directory or a
// file over the limit is refused without being read, and what was read is
// what is kept to send, also from a folder whose name is not ASCII.
TEST(FirmwareFileCheck, ReadsTheFileItChecks) {
    namespace fs = std::filesystem;
    const TempDir dir("kvq-fwfile-");
    const Bytes good = File(Header("02.00"), 300);
    const std::string goodText(good.begin(), good.end());

    for (const fs::path& folder : {fs::path("plain"), fs::path(u8"J\u00f6rg \u6a21\u578b")}) {
        SCOPED_TRACE(folder == "plain" ? "an ASCII folder" : "a folder named in two other scripts");
        const fs::path path = dir.path() / folder / "vlx400fw.bin";
        EXPECT_EQ(ReadFirmwareFile(path).status, FirmwareFile::Status::Missing);
        ASSERT_EQ(dir.Write(folder / "vlx400fw.bin", goodText), path);
        const FirmwareFile file = ReadFirmwareFile(path);
        EXPECT_EQ(file.status, FirmwareFile::Status::Valid) << file.reason;
        EXPECT_EQ(file.version, "02.00");
        EXPECT_EQ(file.content, good);
    }

    const fs::path path = dir.path() / "plain" / "vlx400fw.bin";
    fs::resize_file(path, std::uint64_t{1} << 30);  // sparse: nothing is written
    FirmwareFile file = ReadFirmwareFile(path);
    EXPECT_EQ(file.status, FirmwareFile::Status::Invalid);
    EXPECT_NE(file.reason.find("1073741824 bytes long"), std::string::npos) << file.reason;
    EXPECT_TRUE(file.content.empty());

    fs::remove(path);
    fs::create_directory(path);
    file = ReadFirmwareFile(path);
    EXPECT_EQ(file.status, FirmwareFile::Status::Invalid);
    EXPECT_NE(file.reason.find("not a file"), std::string::npos) << file.reason;
}

#ifndef _WIN32
TEST(FirmwareFileCheck, AFileThatCannotBeOpenedSaysWhy) {
    if (::geteuid() == 0) GTEST_SKIP() << "root reads anything";
    const TempDir dir("kvq-fwfile-");
    const Bytes good = File(Header("02.00"), 300);
    const auto path = dir.Write("vlx400fw.bin", std::string(good.begin(), good.end()));
    std::filesystem::permissions(path, std::filesystem::perms::none);
    const FirmwareFile file = ReadFirmwareFile(path);
    EXPECT_EQ(file.status, FirmwareFile::Status::Invalid);
    EXPECT_EQ(file.reason, "It cannot be read (Permission denied).");
    EXPECT_TRUE(file.content.empty());
}
#endif

TEST(FirmwareFileCheck, VersionsCompareByTheFilesText) {
    EXPECT_TRUE(FirmwareVersionInstalled("01.23", "01.23"));
    EXPECT_TRUE(FirmwareVersionInstalled("01.23b", "01.23"));
    EXPECT_FALSE(FirmwareVersionInstalled("01.22", "01.23"));
    EXPECT_FALSE(FirmwareVersionInstalled("01.2", "01.23"));
}

TEST(DownloadProgress, TimeLeftFollowsThePaceSoFar) {
    FirmwareFacts facts;
    facts.bytesTotal = 56 * 100;
    facts.firstBlockTick = 0xFFFFF000;  // the tick wraps during the download
    EXPECT_EQ(DownloadMsLeft(facts, 0xFFFFF000 + 5000), std::nullopt) << "nothing acknowledged";
    facts.bytesAcknowledged = 56 * 1;
    EXPECT_EQ(DownloadMsLeft(facts, 0xFFFFF000 + 5000), std::nullopt) << "one block tells nothing";
    facts.bytesAcknowledged = 56 * 10;
    EXPECT_EQ(DownloadMsLeft(facts, 0xFFFFF000 + 500), std::nullopt) << "too early to tell";
    // 10 blocks in 2 s: 90 more take 18 s.
    EXPECT_EQ(DownloadMsLeft(facts, 0xFFFFF000 + 2000), std::optional<std::uint32_t>(18000));
    facts.bytesAcknowledged = facts.bytesTotal;
    EXPECT_EQ(DownloadMsLeft(facts, 0xFFFFF000 + 20000), std::optional<std::uint32_t>(0));

    EXPECT_EQ(DownloadProgressText(42, std::nullopt), "42%");
    EXPECT_EQ(DownloadProgressText(42, 95000), "42%, 1:35 left");
    EXPECT_EQ(DownloadProgressText(10, 3723001), "10%, 1:02:04 left");
    EXPECT_EQ(DownloadProgressText(99, 1), "99%, 0:01 left") << "rounded up";
    EXPECT_EQ(DownloadProgressText(100, 0), "100%, 0:00 left");
}
