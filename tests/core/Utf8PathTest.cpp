// File names as UTF-8 text: a name outside ASCII reaches the file it names
// and reads back as the same text (on Windows, where the narrow code page
// would otherwise stand between them).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/Utf8Path.h"
#include "support/TempDir.h"

using kvq::core::PathFromUtf8;
using kvq::core::Utf8Text;

TEST(Utf8Path, ANameOutsideAsciiReachesItsFileAndReadsBackTheSame) {
    const char* names[] = {
        "plain.txt",
        "J\xC3\xB6rg.txt",                             // Latin-1
        "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD.txt",        // Cyrillic
        "\xE6\xA8\xA1\xE5\x9E\x8B antenna table.txt",  // CJK, with blanks
    };
    for (const std::string name : names) {
        SCOPED_TRACE(name);
        const TempDir dir("kvq-utf8-");
        const std::filesystem::path file = dir.path() / PathFromUtf8(name);
        std::ofstream(file) << "x";
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
            found.push_back(Utf8Text(entry.path().filename()));
        EXPECT_EQ(found, std::vector<std::string>{name});
        // Through text and back, as a name given on the command line travels.
        const std::string text = Utf8Text(file);
        EXPECT_TRUE(text.ends_with(name)) << text;
        EXPECT_TRUE(std::filesystem::exists(PathFromUtf8(text)));
    }
#ifdef _WIN32
    EXPECT_EQ(PathFromUtf8("J\xC3\xB6rg").wstring(), L"J\u00F6rg");
#else
    EXPECT_EQ(PathFromUtf8("J\xC3\xB6rg").native(), "J\xC3\xB6rg");
#endif
}
