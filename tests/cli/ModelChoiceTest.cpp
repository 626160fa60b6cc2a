#include <gtest/gtest.h>

#include "antenna/AntennaTable.h"
#include "cli/ModelChoice.h"

using namespace kvq::antenna;
using namespace kvq::cli;

namespace {

CAntennaTable SmallTable() {
    CAntennaTable table;
    const std::pair<const char*, const char*> models[] = {
        {"AP1721-65-18", "Panel65-1710-2170-18dBi"},
        {"AP1727-90-16", "Panel90-1695-2690-16dBi"},
        {"WIDE-1", "Wide"},
        {"WIDE-2", "WIDE"},  // the same name but for letter case
        {"SAME", "Same"},    // a key equal to another's display name
        {"OTHER", "SAME"},
        {"AP1721-65-18", "Panel65-1710-2170-18dBi"},  // a line repeated
    };
    for (const auto& [key, name] : models) {
        AntennaRecord record;
        record.key = key;
        record.displayName = name;
        EXPECT_TRUE(table.AppendRecord(record));
    }
    return table;
}

}  // namespace

TEST(ChooseModel, ByKeyOrNameExactFirstThenIgnoringCaseWhenUnambiguous) {
    const CAntennaTable table = SmallTable();
    struct Case {
        const char* name;
        int index;  // -1: refused
        std::size_t candidates;
        const char* errorHas;
    } cases[] = {
        {"Panel90-1695-2690-16dBi", 1, 0, ""},
        {"AP1727-90-16", 1, 0, ""},
        {"ap1727-90-16", 1, 0, ""},
        {"PANEL90-1695-2690-16DBI", 1, 0, ""},
        {"ap1721-65-18", 0, 0, ""},  // a repeated line is one model: the first
        {"Wide", 2, 0, ""},          // exact wins over the other in other case
        {"WIDE", 3, 0, ""},
        {"wide", -1, 2, "ambiguous"},
        {"SAME", -1, 2, "ambiguous"},  // one's key, the other's display name
        {"same", -1, 2, "ambiguous"},
        {"Panel90", -1, 0, "no model named 'Panel90'"},
        {"", -1, 0, "no model named"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ModelChoice choice = ChooseModel(table, c.name);
        EXPECT_EQ(choice.index.value_or(-1), c.index);
        EXPECT_EQ(choice.candidates.size(), c.candidates);
        if (c.index < 0) {
            const std::string error = ModelChoiceError(choice, c.name);
            EXPECT_NE(error.find(c.errorHas), std::string::npos) << error;
            EXPECT_NE(error.find("nothing was sent"), std::string::npos) << error;
        }
    }
    const std::string ambiguous = ModelChoiceError(ChooseModel(table, "wide"), "wide");
    EXPECT_NE(ambiguous.find("WIDE-1 (Wide)"), std::string::npos) << ambiguous;
    EXPECT_NE(ambiguous.find("WIDE-2 (WIDE)"), std::string::npos) << ambiguous;
}
