#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "antenna/AntennaTable.h"
#include "antenna/AntennaTableFile.h"
#include "AntennaTestSupport.h"

using namespace kvq::antenna;

namespace fs = std::filesystem;

namespace {

const std::string Config = ConfigText(16);

// A complete record line with tilt 0..100.
std::string Row(const std::string& key, const std::string& name) {
    return key + "\t0\t100\t0\t" + Config + "\t" + name + "\n";
}

// Entries of a directory: "name" a file, "name/" a directory, "fifo:name" a
// FIFO, "link:name=target" a symbolic link.
void Populate(const TempDir& dir, const std::vector<std::string>& entries) {
    for (const auto& entry : entries) {
        if (entry.rfind("fifo:", 0) == 0) {
            ASSERT_EQ(mkfifo((dir.path() / entry.substr(5)).c_str(), 0600), 0);
        } else if (entry.rfind("link:", 0) == 0) {
            const auto equals = entry.find('=');
            fs::create_symlink(entry.substr(equals + 1), dir.path() / entry.substr(5, equals - 5));
        } else if (entry.back() == '/') {
            fs::create_directories(dir.path() / entry);
        } else {
            dir.Write(entry, "AT-VERSION\t1\n");
        }
    }
}

}  // namespace

TEST(FindAntennaTableFile, GreatestMatchingNameWins) {
    struct Case {
        const char* what;
        std::vector<std::string> entries;
        std::string found;
    };
    const Case cases[] = {
        {"two files", {"A.ascu", "B.ascu"}, "B.ascu"},
        {"text order, not number order", {"AT_10.ascu", "AT_9.ascu"}, "AT_9.ascu"},
        {"same length", {"AT_2011.ascu", "AT_2010.ascu"}, "AT_2011.ascu"},
        {"byte order: lower case after upper", {"a.ascu", "Z.ascu"}, "a.ascu"},
        {"nothing there", {}, ""},
        {"other extensions", {"t.txt", "t.ascu.bak", "t.asc", "t.ascux", "ascu"}, ""},
        {"upper-case extension ignored", {"Z.ASCU", "Y.Ascu", "a.ascu"}, "a.ascu"},
        {"directory's file carries its directory",
         {"a.ascu", "x.ascu/", "x.ascu/in.ascu"},
         "x.ascu/in.ascu"},
        {"nested directories",
         {"d.ascu/", "d.ascu/e.ascu/", "d.ascu/e.ascu/f.ascu"},
         "d.ascu/e.ascu/f.ascu"},
        {"empty matching directory", {"z.ascu/", "z.ascu/notes.txt", "a.ascu"}, "a.ascu"},
        {"directory path competes as a whole", {"b.ascu", "a.ascu/", "a.ascu/z.ascu"}, "b.ascu"},
        {"unmatched directory not searched", {"sub/", "sub/z.ascu", "a.ascu"}, "a.ascu"},
        {"FIFO is no table", {"fifo:z.ascu", "a.ascu"}, "a.ascu"},
        {"broken link is no table", {"link:z.ascu=missing", "a.ascu"}, "a.ascu"},
        {"link to a file counts", {"link:z.ascu=a.ascu", "a.ascu"}, "z.ascu"},
        {"looping directory link ends",
         {"d.ascu/", "d.ascu/t.ascu", "link:d.ascu/z.ascu=.."},
         "d.ascu/t.ascu"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        Populate(dir, c.entries);
        EXPECT_EQ(FindAntennaTableFile(dir.path()), c.found);
    }
}

TEST(FindAntennaTableFile, MissingOrUnreadableDirectoryIsSkipped) {
    TempDir dir;
    EXPECT_EQ(FindAntennaTableFile(dir.path() / "missing"), "");
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    Populate(dir, {"a.ascu", "z.ascu/", "z.ascu/t.ascu"});
    ASSERT_EQ(chmod((dir.path() / "z.ascu").c_str(), 0), 0);
    EXPECT_EQ(FindAntennaTableFile(dir.path()), "a.ascu");
    chmod((dir.path() / "z.ascu").c_str(), 0700);
}

TEST(CountLines, CountsWholeLines) {
    struct Case {
        const char* what;
        std::string content;
        int lines;
    };
    const Case cases[] = {
        {"empty", "", 0},
        {"no final newline", "a", 1},
        {"final newline", "a\n", 1},
        {"two", "a\nb", 2},
        {"blank lines", "\n\n", 2},
        {"a long line is one line", std::string(10000, 'x') + "\nb\n", 2},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CountLines(dir.Write("t.ascu", c.content)), c.lines);
    }
    EXPECT_EQ(CountLines(dir.path() / "missing.ascu"), 0);
}

class LoadAntennaTableFileTest : public ::testing::Test {
protected:
    bool Load(const std::string& content) { return LoadAntennaTableFile(Write(content), table); }
    fs::path Write(const std::string& content) { return dir.Write("t.ascu", content); }

    std::vector<std::string> Keys() const {
        std::vector<std::string> keys;
        AntennaRecord record;
        for (int i = 0; table.GetRecord(i, record); ++i)
            keys.push_back(record.key);
        return keys;
    }

    TempDir dir;
    CAntennaTable table;
};

TEST_F(LoadAntennaTableFileTest, HeaderDecidesWhetherTheFileLoads) {
    struct Case {
        const char* what;
        std::string content;
        bool loaded;
        std::vector<std::string> keys;
        int version;
    };
    const Case cases[] = {
        {"header then records",
         "AT-VERSION\t7\n" + Row("A", "Na") + Row("B", "Nb"),
         true,
         {"A", "B"},
         7},
        {"blank first line", "\nAT-VERSION\t7\n" + Row("A", "Na"), false, {}, 0},
        {"blanks-only first line", " \t\nAT-VERSION\t7\n" + Row("A", "Na"), false, {}, 0},
        {"separated by spaces",
         "AT-VERSION 7\nA 0 100 0 " + Config + " Na\nB  -25   50 3 " + Config + "   Nb\n",
         true,
         {"A", "B"},
         7},
        {"record line first: only it is stored",
         Row("A", "Na") + "AT-VERSION\t2\n" + Row("B", "Nb"),
         false,
         {"A"},
         0},
        {"later header sets the version again",
         "AT-VERSION\t1\n" + Row("A", "Na") + "AT-VERSION\t0x10\n" + Row("B", "Nb"),
         true,
         {"A", "B"},
         16},
        {"header only", "AT-VERSION\t-3\n", true, {}, -3},
        {"empty file", "", false, {}, 0},
        {"header is case-sensitive", "at-version\t0\t10\n" + Row("B", "Nb"), false, {"at-version"},
         0},
        {"blank lines skipped",
         "AT-VERSION\t1\n\n" + Row("A", "Na") + " \t \n\n" + Row("B", "Nb"),
         true,
         {"A", "B"},
         1},
        {"Windows line ends",
         "AT-VERSION\t2\r\nA\t0\t100\t0\t" + Config + "\tNa\r\n",
         true,
         {"A"},
         2},
        {"header without version", "AT-VERSION\n" + Row("A", "Na"), true, {"A"}, 0},
        {"version not a number", "AT-VERSION\tv2\n" + Row("A", "Na"), true, {"A"}, 0},
        {"version out of range", "AT-VERSION\t40000\n", true, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Load(c.content), c.loaded);
        EXPECT_EQ(Keys(), c.keys);
        EXPECT_EQ(table.TableVersion(), c.version);
        if (c.loaded) {
            EXPECT_EQ(table.LoadFailureText(), "");
        } else {
            EXPECT_EQ(table.LoadFailureText(),
                      "Antenna table " + (dir.path() / "t.ascu").string() +
                          " failed to load, please refer to the User Manual for further "
                          "instructions.     ");
            EXPECT_FALSE(table.LoadWarnings().empty());
        }
    }
}

TEST_F(LoadAntennaTableFileTest, ReloadReplacesTheEarlierContents) {
    ASSERT_TRUE(Load("AT-VERSION\t4\n" + Row("A", "Na") + "A\tx\n"));
    ASSERT_FALSE(table.LoadWarnings().empty());
    ASSERT_TRUE(Load("AT-VERSION\t5\n" + Row("B", "Nb")));
    EXPECT_EQ(Keys(), std::vector<std::string>{"B"});
    EXPECT_EQ(table.TableVersion(), 5);
    EXPECT_TRUE(table.LoadWarnings().empty());
}

TEST_F(LoadAntennaTableFileTest, RecordLines) {
    struct Case {
        const char* what;
        std::string line;
        std::string key;  // empty: the line is rejected
        int minTilt, maxTilt, aux;
        std::string name;
        int configGroups;     // groups holding ConfigText's values; the rest not supplied
        const char* warning;  // part of the line's warning; empty: no warning at all
    };
    const std::string k15(15, 'K'), n31(31, 'N');
    const Case cases[] = {
        {"complete", "KA\t0\t100\t3\t" + Config + "\tName", "KA", 0, 100, 3, "Name", 16, ""},
        {"five columns: name is the key", "K5\t0\t100\t0\t" + Config, "K5", 0, 100, 0, "K5", 16,
         ""},
        {"octal and hexadecimal tilts", "KN\t010\t0x10\t5\t" + Config + "\tN", "KN", 8, 16, 5, "N",
         16, ""},
        {"signs, upper-case X; aux is decimal", "KS\t-0X1f\t+7\t010\t" + Config + "\tN", "KS", -31,
         7, 10, "N", 16, ""},
        {"negative minimum", "KNEG\t-25\t100\t0\t" + Config + "\tTilted", "KNEG", -25, 100, 0,
         "Tilted", 16, ""},
        {"limits", "KB\t-32768\t32767\t65535\t" + Config + "\tN", "KB", -32768, 32767, 65535, "N",
         16, ""},
        {"blanks of every kind", "KW  0 \t 100\t\t0 " + Config + "   Name  ", "KW", 0, 100, 0,
         "Name", 16, ""},
        // A number column that is not wholly a number rejects the line.
        {"letters for a tilt", "AP0809-65-15\tabc\t120\t0\t" + Config + "\tName", "", 0, 0, 0,
         "", 0, "minimum tilt \"abc\" is not a number; line ignored"},
        {"partly numeric", "KG\t-5\t12x\t7\t" + Config + "\tName", "", 0, 0, 0, "", 0,
         "maximum tilt \"12x\" is not a number"},
        {"08 is no octal number", "KG\t08\t100\t7\t" + Config + "\tName", "", 0, 0, 0, "", 0,
         "not a number"},
        {"a decimal point", "KG\t1.5\t100\t7\t" + Config + "\tName", "", 0, 0, 0, "", 0,
         "not a number"},
        {"a sign alone", "KG\t-\t100\t7\t" + Config + "\tName", "", 0, 0, 0, "", 0,
         "not a number"},
        {"0x without digits", "KG\t0x\t100", "", 0, 0, 0, "", 0, "not a number"},
        {"hexadecimal aux", "KG\t0\t100\t0x10\t" + Config + "\tName", "", 0, 0, 0, "", 0,
         "auxiliary value \"0x10\" is not a decimal number"},
        {"empty column shifts the rest", "KE\t\t120\t0\t" + Config + "\tName", "", 0, 0, 0, "",
         0, "line ignored"},
        {"minimum over range", "KR\t40000\t50000\t0\t" + Config + "\tN", "", 0, 0, 0, "", 0,
         "outside -32768..32767"},
        {"minimum under range", "KR\t-32769\t0\t0\t" + Config + "\tN", "", 0, 0, 0, "", 0,
         "outside"},
        {"huge maximum", "KR\t0\t99999999999999999999999\t0", "", 0, 0, 0, "", 0, "outside"},
        {"aux over range", "KR\t0\t100\t65536\t" + Config + "\tN", "", 0, 0, 0, "", 0,
         "outside 0..65535"},
        {"negative aux", "KR\t0\t100\t-1\t" + Config + "\tN", "", 0, 0, 0, "", 0, "outside"},
        {"minimum above maximum", "KI\t50\t10\t0\t" + Config + "\tN", "", 0, 0, 0, "", 0,
         "greater"},
        {"key alone", "KF", "", 0, 0, 0, "", 0, "no minimum and maximum tilt"},
        {"two columns", "KF\t-25", "", 0, 0, 0, "", 0, "no minimum and maximum tilt"},
        {"three columns", "KF\t-25\t30", "KF", -25, 30, 0, "KF", 0, "ends after column 3"},
        {"four columns", "KF\t-25\t30\t4", "KF", -25, 30, 4, "KF", 0, "ends after column 4"},
        {"key of 15", k15 + "\t0\t100\t0\t" + Config + "\tN", k15, 0, 100, 0, "N", 16, ""},
        {"key of 16", k15 + "X\t0\t100\t0\t" + Config + "\tN", "", 0, 0, 0, "", 0,
         "longer than 15"},
        {"name of 31", "KL\t0\t100\t0\t" + Config + "\t" + n31, "KL", 0, 100, 0, n31, 16, ""},
        {"name of 32", "KL\t0\t100\t0\t" + Config + "\t" + n31 + "X", "", 0, 0, 0, "", 0,
         "longer than 31"},
        {"config of 129 digits", "KC\t0\t100\t0\t" + Config + "0\tN", "", 0, 0, 0, "", 0,
         "more than 128"},
        {"config of 17 groups", "KC\t0\t100\t0\t" + ConfigText(17) + "\tN", "", 0, 0, 0, "", 0,
         "more than 128"},
        {"non-hex digit", "KH\t0\t100\t0\t" + ConfigText(1) + "0002G002" + "\tN", "", 0, 0, 0, "",
         0, "group 2"},
        {"0x inside a group", "KH\t0\t100\t0\t0x010002\tN", "", 0, 0, 0, "", 0, "not hexadecimal"},
        {"twenty digits: two pairs", "KT\t0\t100\t0\t" + ConfigText(3).substr(0, 20) + "\tN", "KT",
         0, 100, 0, "N", 2, "do not make a group"},
        {"name with a blank keeps its first word", "KS\t0\t100\t0\t" + Config + "\tWide Beam", "KS",
         0, 100, 0, "Wide", 16, "after the display name"},
        {"CR at the end", "KC\t0\t100\t0\t" + Config + "\tName\r", "KC", 0, 100, 0, "Name", 16, ""},
        {"NUL in the line", std::string("KZ\0X\t0\t100\t0\t", 12) + Config + "\tN", "", 0, 0, 0, "",
         0, "NUL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // The record after it shows that the line did not disturb its neighbour.
        EXPECT_TRUE(Load("AT-VERSION\t1\n" + c.line + "\n" + Row("NEXT", "Next")));
        const bool stored = !c.key.empty();
        ASSERT_EQ(table.RecordCount(), stored ? 2 : 1);
        AntennaRecord next;
        ASSERT_TRUE(table.GetRecord(stored ? 1 : 0, next));
        EXPECT_EQ(next.key, "NEXT");
        if (c.warning[0] == '\0') {
            EXPECT_TRUE(table.LoadWarnings().empty()) << table.LoadWarnings()[0].text;
        } else {
            EXPECT_TRUE(HasWarning(table, 2, c.warning));
        }
        if (!stored) continue;
        AntennaRecord record;
        ASSERT_TRUE(table.GetRecord(0, record));
        EXPECT_EQ(record.key, c.key);
        EXPECT_EQ(record.minTilt, c.minTilt);
        EXPECT_EQ(record.maxTilt, c.maxTilt);
        EXPECT_EQ(record.auxValue, c.aux);
        EXPECT_EQ(record.displayName, c.name);
        for (int i = 0; i < 16; ++i) {
            const bool parsed = i < c.configGroups;
            EXPECT_EQ(record.configFirst[i], parsed ? i + 1 : 0x0080) << "pair " << i;
            EXPECT_EQ(record.configSecond[i], parsed ? 0x1000 + i : 0x0080) << "pair " << i;
        }
    }
}

TEST_F(LoadAntennaTableFileTest, LongLinesNeverTurnIntoExtraRecords) {
    const std::string prefix = "KL\t0\t100\t0\t" + Config;
    // Blanks that put a 10-character name at the given end column.
    const auto nameEndingAt = [&](std::size_t end) {
        return prefix + std::string(end - 10 - prefix.size(), ' ') + "NameEndsAt";
    };
    struct Case {
        const char* what;
        std::string line;
        bool stored;
        const char* warning;
    };
    const Case cases[] = {
        {"comment after the name",
         Row("KL", "Name").substr(0, prefix.size() + 5) + "\t" + std::string(10000, 'x'), true,
         "rest of it was ignored"},
        {"blanks after the name",
         Row("KL", "Name").substr(0, prefix.size() + 5) + std::string(10000, ' '), true,
         "rest of it was ignored"},
        {"name ends at the limit", nameEndingAt(MaxTableLineLength), true, ""},
        {"name crosses the limit", nameEndingAt(MaxTableLineLength + 1), false,
         "cut within its columns"},
        {"record after many blanks", std::string(4094, ' ') + "KL 0 100 0 " + Config + " Name",
         false, "cut within its columns"},
        {"key of 10000 characters", std::string(10000, 'K') + "\t0\t100\t0\t" + Config + "\tN",
         false, "line ignored"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_TRUE(Load("AT-VERSION\t1\n" + c.line + "\n" + Row("NEXT", "Next")));
        const std::vector<std::string> expected =
            c.stored ? std::vector<std::string>{"KL", "NEXT"} : std::vector<std::string>{"NEXT"};
        EXPECT_EQ(Keys(), expected);
        if (c.warning[0] == '\0') {
            EXPECT_TRUE(table.LoadWarnings().empty());
        } else {
            EXPECT_TRUE(HasWarning(table, 2, c.warning));
        }
    }

    // A long header keeps its version.
    EXPECT_TRUE(Load("AT-VERSION\t5\t" + std::string(10000, 'x') + "\n" + Row("NEXT", "Next")));
    EXPECT_EQ(table.TableVersion(), 5);
    EXPECT_EQ(Keys(), std::vector<std::string>{"NEXT"});
}

TEST_F(LoadAntennaTableFileTest, FileBeyondTheReadLimitKeepsOnlyWholeLines) {
    std::string content = "AT-VERSION\t1\n" + Row("FIRST", "First");
    content.append(MaxTableFileBytes - 6 - content.size(), '\n');
    content += Row("CROSSING", "Crossing");  // starts 6 bytes before the limit
    content += Row("AFTER", "After");
    EXPECT_TRUE(Load(content));
    EXPECT_EQ(Keys(), std::vector<std::string>{"FIRST"});
    EXPECT_TRUE(HasWarning(table, 0, "larger than"));
}

TEST_F(LoadAntennaTableFileTest, TableStopsAtItsRecordLimit) {
    std::string content = "AT-VERSION\t1\n";
    for (int i = 0; i <= CAntennaTable::MaxRecords; ++i) {
        content += "K" + std::to_string(i) + " 0 0 0 00010002\n";
    }
    EXPECT_TRUE(Load(content));
    EXPECT_EQ(table.RecordCount(), CAntennaTable::MaxRecords);
    EXPECT_TRUE(HasWarning(table, CAntennaTable::MaxRecords + 2, "at most 65535"));
}

TEST_F(LoadAntennaTableFileTest, DuplicatesAreStoredAndReported) {
    EXPECT_TRUE(Load("AT-VERSION\t1\n" + Row("A", "Same") + Row("A", "Other") + Row("B", "Same")));
    EXPECT_EQ(Keys(), (std::vector<std::string>{"A", "A", "B"}));
    EXPECT_TRUE(HasWarning(table, 3, "key \"A\" was given before"));
    EXPECT_TRUE(HasWarning(table, 4, "display name \"Same\" was given before"));
}

TEST_F(LoadAntennaTableFileTest, UnreadablePathsFailWithoutBlocking) {
    ASSERT_EQ(mkfifo((dir.path() / "fifo.ascu").c_str(), 0600), 0);
    fs::create_directory(dir.path() / "dir.ascu");
    for (const char* name : {"missing.ascu", "fifo.ascu", "dir.ascu"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(LoadAntennaTableFile(dir.path() / name, table));
        EXPECT_EQ(table.RecordCount(), 0);
        EXPECT_TRUE(HasWarning(table, 0, "cannot be read"));
        EXPECT_NE(table.LoadFailureText().find(name), std::string::npos);
    }
}

TEST_F(LoadAntennaTableFileTest, ArbitraryBytesKeepTheRecordsSound) {
    std::mt19937 random(20240611);
    const std::string likely("\t\n\r 0123456789abcdefABCDEFxX-+\0", 31);
    for (int round = 0; round < 300; ++round) {
        std::string content = round % 2 == 0 ? "AT-VERSION\t1\n" : "";
        const std::size_t length = random() % 12000;
        const bool fewNewlines = round % 5 == 0;  // lines beyond the length limit
        for (std::size_t i = 0; i < length; ++i) {
            const unsigned pick = random() % 4;
            char c =
                pick == 0 ? static_cast<char>(random() % 256) : likely[random() % likely.size()];
            if (fewNewlines && c == '\n') c = 'n';
            content += c;
        }
        Load(content);
        AntennaRecord record;
        for (int i = 0; table.GetRecord(i, record); ++i) {
            EXPECT_FALSE(record.key.empty());
            EXPECT_LE(record.key.size(), AntennaRecord::MaxKeyLength);
            EXPECT_LE(record.displayName.size(), AntennaRecord::MaxDisplayNameLength);
            EXPECT_LE(record.minTilt, record.maxTilt);
            for (const std::string* text : {&record.key, &record.displayName}) {
                EXPECT_EQ(text->find_first_of(std::string(" \t\r\n\0", 5)), std::string::npos);
            }
        }
        if (HasFailure()) {
            ADD_FAILURE() << "round " << round;
            return;
        }
    }
}
