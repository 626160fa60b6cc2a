#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "settings/ProfileFile.h"
#include "support/TempDir.h"

using namespace kvq::settings;

using namespace std::string_literals;

namespace {

constexpr std::int32_t Int32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t Int32Min = std::numeric_limits<std::int32_t>::min();

struct IntCase {
    std::string value;  // the text after "K=" in section [S]
    std::int32_t expected;
};

TEST(ProfileFileInt, ReadsOptionalSignAndLeadingDigits) {
    const std::vector<IntCase> cases = {
        {"", 77},  // present but empty: the default
        {"42", 42},
        {"-7", -7},
        {"+5", 5},
        {"  +5  ", 5},
        {"007", 7},
        {"12abc", 12},
        {"1.5", 1},
        {"abc", 0},
        {"-", 0},
        {"+-5", 0},
        {"- 5", 0},
        {"0x1F", 0},
        {"'12'", 12},
        {"2147483647", Int32Max},
        {"2147483648", Int32Max},
        {"-2147483648", Int32Min},
        {"-2147483649", Int32Min},
        {"99999999999999999999999999", Int32Max},
        {"-99999999999999999999999999", Int32Min},
    };
    for (const auto& c : cases) {
        const auto profile = ProfileFile::FromBytes("[S]\nK=" + c.value + "\n");
        EXPECT_EQ(profile.ReadInt("S", "K", 77), c.expected) << "value \"" << c.value << '"';
    }
    EXPECT_EQ(ProfileFile::FromBytes("[S]\n").ReadInt("S", "K", 77), 77);
}

// Rules of the line syntax beyond the settings file's own cases: nullopt means not found.
struct SyntaxCase {
    const char* name;
    std::string bytes;
    std::string section;
    std::string key;
    std::optional<std::string> expected;
};

TEST(ProfileFileSyntax, FindsWhatTheRulesSay) {
    const std::vector<SyntaxCase> cases = {
        {"key before any section", "K=1\n[S]\n", "", "K", std::nullopt},
        {"section of empty name", "[]\nK=1\n", "", "K", "1"},
        {"text after the closing bracket", "[S] ; note\nK=1\n", "S", "K", "1"},
        {"name ends at the last bracket", "[a]b]\nK=1\n", "a]b", "K", "1"},
        {"bracket line without close is ignored", "[S]\n[T\nK=1\n", "S", "K", "1"},
        {"line without '=' is an empty key", "[S]\nK\n", "S", "K", ""},
        {"empty key name", "[S]\n=v\n", "S", "", "v"},
        {"value keeps later '='", "[S]\nK = a = b\n", "S", "K", "a = b"},
        {"quotes keep inner blanks", "[S]\nK=\"  a  \"\n", "S", "K", "  a  "},
        {"mismatched quotes stay", "[S]\nK=\"a'\n", "S", "K", "\"a'"},
        {"a lone quote stays", "[S]\nK=\"\n", "S", "K", "\""},
        {"only one pair of quotes goes", "[S]\nK=\"\"a\"\"\n", "S", "K", "\"a\""},
        {"NUL ends the line's text", "[S]\nK=ab\0cd\nL=2\n"s, "S", "K", "ab"},
        {"line after a NUL is read", "[S]\nK=ab\0cd\nL=2\n"s, "S", "L", "2"},
        {"NUL in a header", "[S\0]\nK=1\n"s, "S", "K", std::nullopt},
        {"lone CR stays inside a line", "[S]\nK=a\rb\n", "S", "K", "a\rb"},
        {"CR is not a blank", "[S]\nK=a \r\r\n", "S", "K", "a \r"},
        {"last line without line break", "[S]\nK=1", "S", "K", "1"},
        {"BOM only at the start", "[S]\n\xEF\xBB\xBFK=1\n", "S", "K", std::nullopt},
        {"bytes above 0x7F compare exactly", "[\xC4]\nK=1\n", "\xE4", "K", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto profile = ProfileFile::FromBytes(c.bytes);
        EXPECT_EQ(profile.Find(c.section, c.key), c.expected) << c.name;
    }
}

TEST(ProfileFileLimits, KeepsTheFirstBytesOfAnOverlongLine) {
    const std::string longValue(5000, 'v');
    const auto profile = ProfileFile::FromBytes("[S]\nK=" + longValue + "\r\nL=next\n");
    EXPECT_EQ(profile.Find("S", "K"), std::string(ProfileFile::LineLimit - 2, 'v'));
    EXPECT_EQ(profile.ReadString("S", "K", ""), std::string(ProfileFile::ValueLimit, 'v'));
    EXPECT_EQ(profile.Find("S", "L"), "next");
}

TEST(ProfileFileLimits, HeaderWhoseBracketIsBeyondTheLineLimitIsIgnored) {
    const std::string name(ProfileFile::LineLimit, 'n');
    const auto profile = ProfileFile::FromBytes("[S]\n[" + name + "]\nK=1\n");
    EXPECT_EQ(profile.Find("S", "K"), "1");
}

TEST(ProfileFileLimits, ValueIsCutTo1023Characters) {
    const auto exact = ProfileFile::FromBytes("[S]\nK=" + std::string(1023, 'a') + "\n");
    EXPECT_EQ(exact.ReadString("S", "K", "").size(), 1023U);
    const auto longer = ProfileFile::FromBytes("[S]\nK=" + std::string(1024, 'a') + "\n");
    EXPECT_EQ(longer.ReadString("S", "K", ""), std::string(1023, 'a'));
}

class ProfileFileLoad : public ::testing::Test {
protected:
    // Appends comment lines until the text is exactly size bytes long.
    static std::string FillTo(std::string bytes, std::size_t size) {
        while (bytes.size() < size) {
            const auto line = std::min<std::size_t>(1000, size - bytes.size());
            bytes += std::string(line - 1, ';') + "\n";
        }
        return bytes;
    }

    TempDir dir_;
};

TEST_F(ProfileFileLoad, LineAcrossReadChunksIsWhole) {
    // The file is read in blocks of 64 KiB; the key line straddles the first boundary.
    std::string bytes = "[S]\n";
    bytes += std::string(65536 - bytes.size() - 3, ';') + "\n";
    bytes += "Key=value across\n";
    const auto profile = ProfileFile::Load(dir_.Write("a.ini", bytes));
    EXPECT_TRUE(profile.IsLoaded());
    EXPECT_EQ(profile.Find("S", "Key"), "value across");
}

TEST_F(ProfileFileLoad, BomIsSkippedWhateverTheFileLength) {
    const std::vector<std::pair<std::string, std::optional<std::string>>> cases = {
        {"\xEF\xBB\xBF", std::nullopt},
        {"\xEF\xBB\xBF[S]", std::nullopt},
        {"\xEF\xBB\xBF[S]\nK=1", "1"},
    };
    for (const auto& [bytes, expected] : cases) {
        const auto profile = ProfileFile::Load(dir_.Write("bom.ini", bytes));
        EXPECT_TRUE(profile.IsLoaded());
        EXPECT_EQ(profile.Find("S", "K"), expected) << bytes.size() << " bytes";
    }
}

TEST_F(ProfileFileLoad, ReadsOnlyTheFirstMebibyte) {
    // "C=123456" starts 4 bytes before the limit, "B=2" after it.
    const std::string bytes = FillTo("[S]\nA=1\n", ProfileFile::FileLimit - 4) + "C=123456\nB=2\n";
    const auto profile = ProfileFile::Load(dir_.Write("big.ini", bytes));
    EXPECT_TRUE(profile.IsLoaded());
    EXPECT_TRUE(profile.IsCut());
    EXPECT_EQ(profile.Find("S", "A"), "1");
    EXPECT_EQ(profile.Find("S", "C"), std::nullopt);  // never "12" from the partly read line
    EXPECT_EQ(profile.Find("S", "B"), std::nullopt);
}

TEST_F(ProfileFileLoad, FileOfExactlyTheLimitIsReadWhole) {
    const std::string bytes = FillTo("[S]\n", ProfileFile::FileLimit - 3) + "K=1";
    ASSERT_EQ(bytes.size(), ProfileFile::FileLimit);
    const auto profile = ProfileFile::Load(dir_.Write("limit.ini", bytes));
    EXPECT_FALSE(profile.IsCut());
    EXPECT_EQ(profile.Find("S", "K"), "1");
}

TEST_F(ProfileFileLoad, OneShotReadsAnswerTheFileOrTheDefault) {
    const auto file = dir_.Write("one.ini", "[S]\nText=abc\nNumber=12\n");
    EXPECT_EQ(ReadProfileString(file, "s", "TEXT", "d"), "abc");
    EXPECT_EQ(ReadProfileString(file, "S", "Missing", "d"), "d");
    EXPECT_EQ(ReadProfileInt(file, "S", "Number", 3), 12);
    EXPECT_EQ(ReadProfileString(dir_.path() / "none.ini", "S", "Text", "d"), "d");
    EXPECT_EQ(ReadProfileInt(dir_.path() / "none.ini", "S", "Number", 3), 3);
}

}  // namespace
