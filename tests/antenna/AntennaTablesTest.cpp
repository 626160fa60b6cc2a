#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "AntennaTestSupport.h"
#include "actuator/Controls.h"
#include "antenna/AntennaTable.h"
#include "antenna/AntennaTableFile.h"
#include "antenna/AntennaTables.h"

using namespace kvq::antenna;
using namespace kvq::actuator;

namespace fs = std::filesystem;

namespace {

// Keeps its entries sorted by text, as the dialog's list does.
class FakeModelList : public ModelListControl {
public:
    void AddModelName(std::string_view name) override {
        const std::string text(name);
        names.insert(std::upper_bound(names.begin(), names.end(), text), text);
    }
    void SelectFirstEntry() override { selected = names.empty() ? -1 : 0; }
    void SelectModelName(std::string_view name) override {
        const auto found = std::find(names.begin(), names.end(), name);
        if (found != names.end()) selected = static_cast<int>(found - names.begin());
    }

    std::vector<std::string> names;
    int selected = -1;
};

std::string Row(const std::string& key, const std::string& name) {
    return key + "\t0\t100\t0\t" + ConfigText(16) + "\t" + name + "\n";
}

const fs::path SampleTable = fs::path(KVQ_EXAMPLES_DIR) / "KVQ_SAMPLE.ascu";

}  // namespace

// The search runs in the working directory, so each test moves into its own.
class LoadAntennaTablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        fs::current_path(dir.path());
    }
    // The names found, listed as the front ends list them.
    static bool Load(CAntennaTable& into, FakeModelList& list) {
        const auto names = LoadAntennaTables(into);
        for (const auto& name : names)
            list.AddModelName(name);
        if (!names.empty()) list.SelectFirstEntry();
        return !names.empty();
    }
    void TearDown() override { fs::current_path(previous_); }

    TempDir dir;
    CAntennaTable table;
    FakeModelList list;

private:
    fs::path previous_;
};

TEST_F(LoadAntennaTablesTest, ListsEveryNameAndSelectsTheFirstEntry) {
    dir.Write("t.ascu", "AT-VERSION\t1\n" + Row("K1", "Zeta") + Row("K2", "alpha") +
                            Row("K3", "Mid") + Row("K4", "Mid") + "K5\t0\t100\t0\t" +
                            ConfigText(16) + "\n");
    EXPECT_TRUE(Load(table, list));
    EXPECT_EQ(list.names, (std::vector<std::string>{"K5", "Mid", "Mid", "Zeta", "alpha"}));
    EXPECT_EQ(list.selected, 0);
    EXPECT_EQ(table.RecordCount(), 5);
}

TEST_F(LoadAntennaTablesTest, OutcomeFollowsWhatWasListed) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;
        bool listed;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"no table file", {{"t.txt", "AT-VERSION\t1\n" + Row("K", "Name")}}, false, {}},
        {"header without records", {{"t.ascu", "AT-VERSION\t1\n"}}, false, {}},
        {"blank first line", {{"t.ascu", "\nAT-VERSION\t1\n" + Row("K", "Name")}}, false, {}},
        {"record line first still lists it",
         {{"t.ascu", Row("K", "Only") + "AT-VERSION\t1\n" + Row("L", "Lost")}},
         true,
         {"Only"}},
        {"greatest file is the one loaded",
         {{"A.ascu", "AT-VERSION\t1\n" + Row("K", "FromA")},
          {"B.ascu", "AT-VERSION\t1\n" + Row("K", "FromB")}},
         true,
         {"FromB"}},
        {"file found in a directory is the one opened",
         {{"a.ascu", "AT-VERSION\t1\n" + Row("K", "FromTop")},
          {"z.ascu/in.ascu", "AT-VERSION\t1\n" + Row("K", "FromDirectory")}},
         true,
         {"FromDirectory"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir caseDir;
        fs::current_path(caseDir.path());
        for (const auto& [name, content] : c.files)
            caseDir.Write(name, content);
        CAntennaTable caseTable;
        FakeModelList caseList;
        EXPECT_EQ(Load(caseTable, caseList), c.listed);
        EXPECT_EQ(caseList.names, c.names);
        EXPECT_EQ(caseList.selected, c.listed ? 0 : -1);
        fs::current_path(dir.path());
    }
}

TEST_F(LoadAntennaTablesTest, FailedLoadNamesTheFileFound) {
    dir.Write("t.ascu", Row("K", "Only"));
    EXPECT_TRUE(Load(table, list));
    EXPECT_EQ(table.LoadFailureText(),
              "Antenna table t.ascu failed to load, please refer to the User Manual for further "
              "instructions.     ");
}

// What the front ends say about the table: the file chosen, in full, and each
// warning with its file and line; a file without its header, or cut at the
// size limit, says so.
TEST_F(LoadAntennaTablesTest, ReportNamesTheFileAndEveryWarning) {
    const std::string file = (fs::current_path() / "t.ascu").string();
    struct Case {
        const char* what;
        std::string content;
        std::string summary;
        std::vector<std::string> warnings;
    };
    std::string cut = "AT-VERSION\t2\n" + Row("K", "Name");
    cut.append(MaxTableFileBytes, '\n');
    const Case cases[] = {
        {"clean", "AT-VERSION\t3\n" + Row("K", "Name"), ": 1 model, version 3", {}},
        {"broken number column",
         "AT-VERSION\t3\n" + Row("K", "Name") + "AP0809-65-15\tabc\t120\n" + Row("L", "Other"),
         ": 2 models, version 3",
         {file + ":3: the minimum tilt \"abc\" is not a number; line ignored"}},
        {"no header",
         Row("K", "Only") + Row("L", "Lost"),
         ": 1 model, version 0",
         {file + ":1: the first line is not the AT-VERSION header line; nothing after it was "
                 "read"}},
        {"cut at the size limit",
         cut,
         ": 1 model, version 2",
         {file + ": the file is larger than 4194304 bytes; the rest of it was ignored"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dir.Write("t.ascu", c.content);
        CAntennaTable caseTable;
        LoadAntennaTables(caseTable);
        EXPECT_EQ(TableSummary(caseTable), "antenna table " + file + c.summary);
        EXPECT_EQ(TableWarningLines(caseTable), c.warnings);
        std::string expected = "kvqctl: antenna table " + file + c.summary + "\n";
        for (const auto& warning : c.warnings)
            expected += "kvqctl: " + warning + "\n";
        EXPECT_EQ(DescribeTableLoad(caseTable, "kvqctl: "), expected);
    }
    // No file, nothing to say.
    CAntennaTable empty;
    EXPECT_EQ(DescribeTableLoad(empty, "kvqctl: "), "");
}

TEST_F(LoadAntennaTablesTest, NoTableFileListsNothing) {
    dir.Write("t.txt", "AT-VERSION\t1\n" + Row("K", "Name"));
    EXPECT_FALSE(Load(table, list));
    EXPECT_TRUE(list.names.empty());
    EXPECT_EQ(table.RecordCount(), 0);
}

TEST_F(LoadAntennaTablesTest, SampleTableLoadsCleanly) {
    fs::copy_file(SampleTable, dir.path() / "KVQ_SAMPLE.ascu");
    EXPECT_TRUE(Load(table, list));
    EXPECT_GE(list.names.size(), 5u);
    EXPECT_EQ(list.selected, 0);
    for (const auto& warning : table.LoadWarnings()) {
        ADD_FAILURE() << "line " << warning.line << ": " << warning.text;
    }

    bool negativeMinimum = false;
    std::set<std::string> keys;
    AntennaRecord record;
    for (int i = 0; table.GetRecord(i, record); ++i) {
        SCOPED_TRACE(record.key);
        keys.insert(record.key);
        EXPECT_LT(record.minTilt, record.maxTilt);
        EXPECT_NE(record.displayName, record.key);
        negativeMinimum = negativeMinimum || record.minTilt < 0;
        for (std::size_t pair = 0; pair < AntennaRecord::ConfigPairCount; ++pair) {
            EXPECT_NE(record.configFirst[pair], AntennaRecord::NoConfigValue);
            EXPECT_NE(record.configSecond[pair], AntennaRecord::NoConfigValue);
        }
    }
    EXPECT_TRUE(negativeMinimum);
    EXPECT_EQ(static_cast<int>(keys.size()), table.RecordCount());
}
