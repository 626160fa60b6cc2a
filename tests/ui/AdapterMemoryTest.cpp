// The file that keeps the adapter chosen last: where it goes, what is read
// back, and that a file that cannot be written costs nothing but the memory.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "support/TempDir.h"
#include "ui/AdapterMemory.h"

using namespace kvq::ui;

namespace {

namespace fs = std::filesystem;

TEST(AdapterMemoryPlace, TheUsersConfigurationDirectoryAndNeverTheWorkingOne) {
    using Environment = std::map<std::string, std::string>;
    struct Case {
        Environment environment;
        std::optional<fs::path> file;
    } cases[] = {
        {{{"XDG_CONFIG_HOME", "/home/tech/.cfg"}, {"HOME", "/home/tech"}},
         fs::path("/home/tech/.cfg/kvq/adapter")},
        {{{"HOME", "/home/tech"}}, fs::path("/home/tech/.config/kvq/adapter")},
        {{{"XDG_CONFIG_HOME", ""}, {"HOME", "/home/tech"}},
         fs::path("/home/tech/.config/kvq/adapter")},
        // A relative directory would be the working directory's: ignored.
        {{{"XDG_CONFIG_HOME", "cfg"}, {"HOME", "/home/tech"}},
         fs::path("/home/tech/.config/kvq/adapter")},
        {{{"HOME", "."}}, std::nullopt},
        {{{"HOME", ""}}, std::nullopt},
        {{}, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto lookup = [&](const char* name) -> std::optional<std::string> {
            const auto it = c.environment.find(name);
            if (it == c.environment.end()) return std::nullopt;
            return it->second;
        };
        const auto file = UserAdapterMemoryFile(lookup);
        EXPECT_EQ(file, c.file) << (file ? file->string() : "none");
    }
}

TEST(AdapterMemoryFileTest, KeepsOneIdentityAcrossRunsInADirectoryItMakes) {
    TempDir temp;
    const fs::path file = temp.path() / "config" / "kvq" / "adapter";
    {
        AdapterMemoryFile memory(file);
        EXPECT_EQ(memory.Recall(), "") << "nothing kept yet";
        EXPECT_TRUE(memory.Remember("/dev/serial/by-id/usb-FTDI_USB-RS485_A1B2C3-if00-port0"));
        EXPECT_TRUE(memory.Remember("usb:0403:6001:A1B2C3"));  // the later choice replaces it
    }
    AdapterMemoryFile nextRun(file);
    EXPECT_EQ(nextRun.Recall(), "usb:0403:6001:A1B2C3");
    EXPECT_FALSE(fs::exists(file.string() + ".new"));
    EXPECT_TRUE(nextRun.Remember(""));
    EXPECT_EQ(nextRun.Recall(), "");
    // A line that no identity can be is refused, and what was kept stays.
    EXPECT_TRUE(nextRun.Remember("usb:1a86:7523"));
    EXPECT_FALSE(nextRun.Remember("two\nlines"));
    EXPECT_EQ(nextRun.Recall(), "usb:1a86:7523");
    // Written elsewhere, with Windows line ends: read the same.
    std::ofstream(file, std::ios::binary) << "usb:0403:6015\r\nmore\r\n";
    EXPECT_EQ(nextRun.Recall(), "usb:0403:6015");
}

TEST(AdapterMemoryFileTest, AFileThatCannotBeWrittenIsNoFailure) {
    TempDir temp;
    // The directory's place is taken by a file.
    std::ofstream(temp.path() / "kvq") << "not a directory";
    AdapterMemoryFile blocked(temp.path() / "kvq" / "adapter");
    EXPECT_FALSE(blocked.Remember("usb:0403:6001"));
    EXPECT_EQ(blocked.Recall(), "");
}

TEST(AdapterMemoryFileTest, ADirectoryThatCannotBeWrittenKeepsWhatItHas) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
    TempDir temp;
    fs::create_directories(temp.path() / "locked" / "kvq");
    AdapterMemoryFile locked(temp.path() / "locked" / "kvq" / "adapter");
    ASSERT_TRUE(locked.Remember("usb:0403:6001"));
    fs::permissions(temp.path() / "locked" / "kvq", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(locked.Remember("usb:1a86:7523"));
    EXPECT_EQ(locked.Recall(), "usb:0403:6001") << "the kept identity is untouched";
}

}  // namespace
