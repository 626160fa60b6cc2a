#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "antenna/AntennaTable.h"
#include "antenna/AntennaTableFile.h"
#include "AntennaTestSupport.h"

using namespace kvq::antenna;

namespace {

AntennaRecord Model(std::string key, std::string name, std::int16_t minTilt = 0,
                    std::int16_t maxTilt = 100) {
    AntennaRecord record;
    record.key = std::move(key);
    record.displayName = std::move(name);
    record.minTilt = minTilt;
    record.maxTilt = maxTilt;
    return record;
}

CAntennaTable TableOf(const std::vector<AntennaRecord>& records) {
    CAntennaTable table;
    for (const auto& record : records)
        EXPECT_TRUE(table.AppendRecord(record));
    return table;
}

}  // namespace

TEST(AntennaTable, GetRecordCopiesInRangeOnly) {
    CAntennaTable table = TableOf({Model("K1", "One", -25, 100), Model("K2", "Two")});
    AntennaRecord record;
    ASSERT_TRUE(table.GetRecord(0, record));
    EXPECT_EQ(record.key, "K1");
    EXPECT_EQ(record.minTilt, -25);
    ASSERT_TRUE(table.GetRecord(1, record));
    EXPECT_EQ(record.displayName, "Two");
    EXPECT_FALSE(table.GetRecord(2, record));
    EXPECT_FALSE(table.GetRecord(-1, record));
    EXPECT_EQ(record.key, "K2");  // a failed read leaves the copy alone
    EXPECT_FALSE(CAntennaTable().GetRecord(0, record));
}

TEST(AntennaTable, AppendRefusesRecordsOverTheirLimits) {
    CAntennaTable table;
    EXPECT_FALSE(table.AppendRecord(Model("", "NoKey")));
    EXPECT_FALSE(table.AppendRecord(Model(std::string(16, 'K'), "LongKey")));
    EXPECT_FALSE(table.AppendRecord(Model("K", std::string(32, 'N'))));
    EXPECT_EQ(table.RecordCount(), 0);
    EXPECT_TRUE(table.AppendRecord(Model(std::string(15, 'K'), std::string(31, 'N'))));
    EXPECT_EQ(table.RecordCount(), 1);
}

TEST(AntennaTable, SetCapacityKeepsTheFirstRecordsAndZeroEmpties) {
    CAntennaTable table = TableOf({Model("A", "A"), Model("B", "B"), Model("C", "C")});
    ASSERT_TRUE(table.SetCapacity(10));
    EXPECT_EQ(table.RecordCount(), 3);
    ASSERT_TRUE(table.SetCapacity(2));
    EXPECT_EQ(table.RecordCount(), 2);
    AntennaRecord record;
    ASSERT_TRUE(table.GetRecord(1, record));
    EXPECT_EQ(record.key, "B");

    EXPECT_FALSE(table.SetCapacity(-1));
    EXPECT_FALSE(table.SetCapacity(CAntennaTable::MaxRecords + 1));
    EXPECT_EQ(table.RecordCount(), 2);

    ASSERT_TRUE(table.SetCapacity(0));
    EXPECT_EQ(table.RecordCount(), 0);
}

TEST(AntennaTable, WarningsAreBoundedWithOneNoteForTheRest) {
    CAntennaTable table;
    for (std::size_t i = 0; i < CAntennaTable::MaxLoadWarnings + 50; ++i) {
        table.AddLoadWarning(static_cast<int>(i + 1), "bad line");
    }
    ASSERT_EQ(table.LoadWarnings().size(), CAntennaTable::MaxLoadWarnings + 1);
    EXPECT_EQ(table.LoadWarnings().back().text, "further warnings were left out");
    table.Clear();
    EXPECT_TRUE(table.LoadWarnings().empty());
}

TEST(AntennaLookup, ExactCaseSensitiveFirstMatchInFileOrder) {
    const CAntennaTable table = TableOf({
        Model("AP1721", "Panel-A", 0, 100), Model("AP0809", "Shared", 20, 120),
        Model("AP1721", "Panel-B", -25, 50),  // same key as index 0
        Model("AP2627", "Shared", 0, 90),     // same name as index 1
    });
    struct Case {
        const char* what;
        std::string_view key;
        std::string_view name;
        std::optional<int> byKey;
        std::optional<int> byName;
    };
    const Case cases[] = {
        {"plain", "AP2627", "Panel-B", 3, 2},
        {"duplicates find the first", "AP1721", "Shared", 0, 1},
        {"letter case differs", "ap1721", "panel-a", std::nullopt, std::nullopt},
        {"prefix only", "AP172", "Panel", std::nullopt, std::nullopt},
        {"longer", "AP1721X", "Panel-AX", std::nullopt, std::nullopt},
        {"empty", "", "", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(table.FindByKey(c.key), c.byKey);
        EXPECT_EQ(table.FindByName(c.name), c.byName);
    }
    EXPECT_EQ(CAntennaTable().FindByKey("AP1721"), std::nullopt);
}

TEST(ParseConfigHex, FillsWholeGroupsAndMarksTheRestAsNotSupplied) {
    constexpr auto none = AntennaRecord::NoConfigValue;
    struct Case {
        const char* what;
        std::string text;
        int parsedGroups;  // groups expected to hold ConfigText's values
    };
    const Case cases[] = {
        {"empty", "", 0},
        {"seven digits", ConfigText(1).substr(0, 7), 0},
        {"one group", ConfigText(1), 1},
        {"twenty digits: the last four ignored", ConfigText(3).substr(0, 20), 2},
        {"all sixteen", ConfigText(16), 16},
        {"more than sixteen stops at sixteen", ConfigText(20), 16},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        AntennaRecord record;
        record.configFirst.fill(0xDEAD);
        record.configSecond.fill(0xDEAD);
        EXPECT_EQ(ParseConfigHex(c.text, record), 16);
        for (int i = 0; i < 16; ++i) {
            const bool parsed = i < c.parsedGroups;
            EXPECT_EQ(record.configFirst[i], parsed ? i + 1 : none) << "pair " << i;
            EXPECT_EQ(record.configSecond[i], parsed ? 0x1000 + i : none) << "pair " << i;
        }
    }
}

TEST(ParseConfigHex, ReadsBothCasesAndMarksNonHexPieces) {
    AntennaRecord record;
    ParseConfigHex("00010002abCDEF0100800000zz12FFFF", record);
    EXPECT_EQ(record.configFirst[0], 0x0001);
    EXPECT_EQ(record.configSecond[0], 0x0002);
    EXPECT_EQ(record.configFirst[1], 0xABCD);
    EXPECT_EQ(record.configSecond[1], 0xEF01);
    EXPECT_EQ(record.configFirst[2], 0x0080);
    EXPECT_EQ(record.configSecond[2], 0x0000);
    EXPECT_EQ(record.configFirst[3], AntennaRecord::NoConfigValue);  // "zz12"
    EXPECT_EQ(record.configSecond[3], 0xFFFF);
}
