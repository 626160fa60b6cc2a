#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "settings/KVQSystem.h"

using namespace kvq::settings;

using namespace std::string_literals;

namespace {

using Fields = std::map<std::string, std::string>;

Fields FieldsOf(const CKVQSystem& s) {
    return {
        {"SiteId", s.SiteId},
        {"LogFileName", s.LogFileName},
        {"SerialPort", s.SerialPort},
        {"SNPrefix", s.SNPrefix},
        {"LabelMfgCode", s.LabelMfgCode},
        {"VersionIndicated", s.VersionIndicated},
        {"CSVFileName", s.CSVFileName},
        {"ProductLabelTitle", s.ProductLabelTitle},
        {"Variant", s.Variant},
        {"CycleTestMin", std::to_string(s.CycleTestMin)},
        {"CycleTestMax", std::to_string(s.CycleTestMax)},
        {"CycleTestCount", std::to_string(s.CycleTestCount)},
        {"EnforceProcess", std::to_string(s.EnforceProcess)},
        {"FinalPosition", std::to_string(s.FinalPosition)},
        {"PrintLabel", std::to_string(s.PrintLabel)},
    };
}

// Every field as it is when no settings file can be read.
Fields Defaults() {
    return {
        {"SiteId", "?"},
        {"LogFileName", "output.dcf"},
        {"SerialPort", "COM1:"},
        {"SNPrefix", "XXXT"},
        {"LabelMfgCode", "E-VLX400"},
        {"VersionIndicated", "0."},
        {"CSVFileName", "temp.csv"},
        {"ProductLabelTitle", "E-VLX400 Actuator"},
        {"Variant", "E-VLX400"},
        {"CycleTestMin", "5000"},
        {"CycleTestMax", "15000"},
        {"CycleTestCount", "50"},
        {"EnforceProcess", "1"},
        {"FinalPosition", "21600"},
        {"PrintLabel", "0"},
    };
}

Fields DefaultsWith(const Fields& changes) {
    Fields expected = Defaults();
    for (const auto& [name, value] : changes) {
        expected.at(name) = value;
    }
    return expected;
}

// Field by field, so a failure names the field.
void ExpectFields(const CKVQSystem& settings, const Fields& expected) {
    const Fields actual = FieldsOf(settings);
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(actual.at(name), value) << "field " << name;
    }
}

template <typename Case>
std::string CaseName(const ::testing::TestParamInfo<Case>& info) {
    return info.param.name;
}

std::string Vlx(const std::string& body) {
    return "[VLX400]\n" + body;
}

struct IniCase {
    const char* name;
    std::optional<std::string> bytes;  // nothing: no file at all
    Fields changes;                    // from the defaults
};

// gtest prints a parameter with its failures; the case's name says it all.
void PrintTo(const IniCase& c, std::ostream* os) {
    *os << c.name;
}

class KvqIni : public ::testing::TestWithParam<IniCase> {
protected:
    TempDir dir_;
};

TEST_P(KvqIni, Reads) {
    const auto& c = GetParam();
    const auto file = dir_.path() / "KVQ.INI";
    if (c.bytes) {
        dir_.Write("KVQ.INI", *c.bytes);
    }
    CKVQSystem settings;
    settings.InitialiseFrom(file);
    ExpectFields(settings, DefaultsWith(c.changes));
}

const std::string Long2000(2000, 'a');

const IniCase IniCases[] = {
    {"NoFile", std::nullopt, {}},
    {"EmptyFile", "", {}},
    {"SectionWithoutKeys", Vlx(""), {}},
    {"EveryKey",
     Vlx("LogFileName=run.log\nSiteId=S1\nSerialPort=COM3:\nCycleTestCount=7\n"
         "CycleTestMin=100\nCycleTestMax=200\nEnforceProcess=0\nPrintLabel=1\n"
         "FinalPosition=-5\nSNPrefix=ABCD\nLabelMfgCode=LM\nVersionIndicated=2.1\n"
         "CSVFileName=r.csv\nProductLabelTitle=Title X\nVariant=VLX400-002\n"),
     {{"LogFileName", "run.log"},
      {"SiteId", "S1"},
      {"SerialPort", "COM3:"},
      {"CycleTestCount", "7"},
      {"CycleTestMin", "100"},
      {"CycleTestMax", "200"},
      {"EnforceProcess", "0"},
      {"PrintLabel", "1"},
      {"FinalPosition", "-5"},
      {"SNPrefix", "ABCD"},
      {"LabelMfgCode", "LM"},
      {"VersionIndicated", "2.1"},
      {"CSVFileName", "r.csv"},
      {"ProductLabelTitle", "Title X"},
      {"Variant", "VLX400-002"}}},
    {"EmptySiteIdKeepsBuiltIn", Vlx("SiteId=\n"), {{"SiteId", "ART"}}},
    {"EmptyTextLeavesFieldEmpty",
     Vlx("LogFileName=\nVariant=\n"),
     {{"LogFileName", ""}, {"Variant", ""}}},
    {"KeyWithoutEqualsIsEmpty", Vlx("SiteId\nFinalPosition\n"), {{"SiteId", "ART"}}},
    {"EmptyQuotesAreEmpty", Vlx("SiteId=\"\"\n"), {{"SiteId", "ART"}}},
    {"LettersReadAsZero", Vlx("FinalPosition=abc\n"), {{"FinalPosition", "0"}}},
    {"EmptyIntTakesDefault", Vlx("FinalPosition=\nPrintLabel= \n"), {}},
    {"LeadingDigits",
     Vlx("CycleTestCount=12abc\nCycleTestMin=-7\nCycleTestMax= +5\n"),
     {{"CycleTestCount", "12"}, {"CycleTestMin", "-7"}, {"CycleTestMax", "5"}}},
    {"OutOfRangeSaturates",
     Vlx("CycleTestMin=-99999999999\nCycleTestMax=99999999999\n"),
     {{"CycleTestMin", "-2147483648"}, {"CycleTestMax", "2147483647"}}},
    {"OtherLetterCase",
     "[vlx400]\nvariant=VLX400-002\nSITEID=x\nfinalPOSITION=3\n",
     {{"Variant", "VLX400-002"}, {"SiteId", "x"}, {"FinalPosition", "3"}}},
    {"VariantKeepsItsLetterCase", Vlx("Variant=e-vlx400\n"), {{"Variant", "e-vlx400"}}},
    {"SurroundingBlanks",
     "  [ VLX400 ]  \n \tSiteId\t =  A B \t\nCycleTestCount =\t9 \n",
     {{"SiteId", "A B"}, {"CycleTestCount", "9"}}},
    {"Quoted",
     Vlx("SiteId=\"  S 1  \"\nSNPrefix='AB'\nLogFileName=\"x'\nFinalPosition=\"15\"\n"),
     {{"SiteId", "  S 1  "}, {"SNPrefix", "AB"}, {"LogFileName", "\"x'"}, {"FinalPosition", "15"}}},
    {"Variant002", Vlx("Variant=VLX400-002\n"), {{"Variant", "VLX400-002"}}},
    {"KeyOutsideSectionNotRead",
     "Variant=VLX400-002\n[Other]\nSiteId=O\n[VLX400]\nSNPrefix=P\n[Next]\nPrintLabel=4\n",
     {{"SNPrefix", "P"}}},
    {"NoSectionVLX400",
     "[VLX400-2]\nVariant=VLX400-002\n[VLX]\nSiteId=B\n[ VLX 400 ]\nPrintLabel=1\n",
     {}},
    {"SecondSectionNotSearched",
     Vlx("SiteId=A\n[Other]\n[vlx400]\nSiteId=B\nVariant=VLX400-002\n"),
     {{"SiteId", "A"}}},
    {"FirstOfEqualKeysWins",
     Vlx("Variant=VLX400-002\nVARIANT=Other\nCycleTestCount=\nCycleTestCount=3\n"),
     {{"Variant", "VLX400-002"}}},
    {"SemicolonInsideValueKept",
     Vlx("SiteId=ABC ; main site\n;Variant=VLX400-002\n   ; SNPrefix=Q\n"),
     {{"SiteId", "ABC ; main site"}}},
    {"IndentedKeyLineIsAKey",
     Vlx("SiteId=A\n    Variant=VLX400-002\n\tSNPrefix=T\n"),
     {{"SiteId", "A"}, {"Variant", "VLX400-002"}, {"SNPrefix", "T"}}},
    {"ValueCutTo1023", Vlx("SiteId=" + Long2000 + "\n"), {{"SiteId", Long2000.substr(0, 1023)}}},
    {"ValueWithEquals", Vlx("SerialPort=a=b\n"), {{"SerialPort", "a=b"}}},
    {"CrLf",
     "[VLX400]\r\nSiteId=S\r\nVariant=VLX400-002\r\nFinalPosition=5\r\nSNPrefix=\r\n",
     {{"SiteId", "S"}, {"Variant", "VLX400-002"}, {"FinalPosition", "5"}, {"SNPrefix", ""}}},
    {"Bom", "\xEF\xBB\xBF[VLX400]\nVariant=VLX400-002", {{"Variant", "VLX400-002"}}},
    {"BracketWithoutCloseIgnored",
     Vlx("[Other\nVariant=VLX400-002\n"),
     {{"Variant", "VLX400-002"}}},
    {"HeaderWithTrailingText",
     "[VLX400] ; tool settings\nVariant=VLX400-002\n",
     {{"Variant", "VLX400-002"}}},
    {"NulEndsLineText",
     Vlx("SiteId=AB\0CD\nVariant=VLX400-002\n"s),
     {{"SiteId", "AB"}, {"Variant", "VLX400-002"}}},
};

INSTANTIATE_TEST_SUITE_P(Cases, KvqIni, ::testing::ValuesIn(IniCases), CaseName<IniCase>);

class KvqIniRobustness : public ::testing::Test {
protected:
    static std::string RandomBytes(std::size_t size, std::mt19937& random) {
        std::uniform_int_distribution<int> byte(0, 255);
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(byte(random));
        }
        return bytes;
    }

    TempDir dir_;
};

TEST_F(KvqIniRobustness, RandomBytesGiveDefaultsAndDoNotHideLaterLines) {
    std::mt19937 random(4711);
    for (const std::size_t size : {1, 17, 4096, 65537, 1000000}) {
        const std::string garbage = RandomBytes(size, random);
        {
            SCOPED_TRACE("garbage of " + std::to_string(size) + " bytes");
            CKVQSystem settings;
            settings.InitialiseFrom(dir_.Write("KVQ.INI", garbage));
            ExpectFields(settings, Defaults());
        }
        {
            SCOPED_TRACE("garbage of " + std::to_string(size) + " bytes, then the section");
            CKVQSystem settings;
            settings.InitialiseFrom(
                dir_.Write("KVQ.INI", garbage + "\n[VLX400]\nVariant=VLX400-002\n"));
            ExpectFields(settings, DefaultsWith({{"Variant", "VLX400-002"}}));
        }
    }
}

TEST_F(KvqIniRobustness, NulBytes) {
    CKVQSystem onlyNuls;
    onlyNuls.InitialiseFrom(dir_.Write("KVQ.INI", std::string(4096, '\0')));
    ExpectFields(onlyNuls, Defaults());

    // As a UTF-16 file would look: every other byte NUL.
    CKVQSystem wide;
    wide.InitialiseFrom(dir_.Write("KVQ.INI", "[\0V\0L\0X\0004\0000\0000\0]\0\n\0S\0i\0"s));
    ExpectFields(wide, Defaults());
}

TEST_F(KvqIniRobustness, OneMegabyteLines) {
    CKVQSystem longValue;
    longValue.InitialiseFrom(dir_.Write(
        "KVQ.INI", Vlx("SiteId=" + std::string(1000000, 'y') + "\nVariant=VLX400-002\n")));
    ExpectFields(longValue,
                 DefaultsWith({{"SiteId", std::string(1023, 'y')}, {"Variant", "VLX400-002"}}));

    CKVQSystem oneLine;
    oneLine.InitialiseFrom(dir_.Write("KVQ.INI", std::string(1000000, 'x')));
    ExpectFields(oneLine, Defaults());
}

// Nothing can be read from these: every key takes its default, and nothing blocks.
TEST_F(KvqIniRobustness, UnreadableFileGivesDefaults) {
    const auto path = dir_.path() / "KVQ.INI";
    const std::vector<std::pair<const char*, void (*)(const std::filesystem::path&)>> cases = {
        {"directory", [](const auto& p) { std::filesystem::create_directory(p); }},
        {"FIFO", [](const auto& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }},
        {"broken link", [](const auto& p) { std::filesystem::create_symlink("nowhere", p); }},
        {"link to a directory", [](const auto& p) { std::filesystem::create_symlink(".", p); }},
    };
    for (const auto& [name, make] : cases) {
        SCOPED_TRACE(name);
        make(path);
        CKVQSystem settings;
        settings.InitialiseFrom(FindSettingsFile(dir_.path()));
        ExpectFields(settings, Defaults());
        std::filesystem::remove(path);
    }
}

TEST_F(KvqIniRobustness, FileWithoutReadPermissionGivesDefaults) {
    const auto file = dir_.Write("KVQ.INI", Vlx("Variant=VLX400-002\n"));
    std::filesystem::permissions(file, std::filesystem::perms::none);
    if (std::ifstream(file).is_open()) {
        GTEST_SKIP() << "permissions do not stop this user from reading";
    }
    CKVQSystem settings;
    settings.InitialiseFrom(file);
    ExpectFields(settings, Defaults());
}

struct NameCase {
    const char* name;
    std::vector<std::string> files;  // each holds SiteId=<its own name>
    std::string chosen;              // "" when none is taken
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

class KvqIniFileName : public ::testing::TestWithParam<NameCase> {
protected:
    TempDir dir_;
};

TEST_P(KvqIniFileName, IsFoundIgnoringLetterCase) {
    const auto& c = GetParam();
    for (const auto& file : c.files) {
        dir_.Write(file, Vlx("SiteId=" + file + "\n"));
    }
    const auto found = FindSettingsFile(dir_.path());
    EXPECT_EQ(found.parent_path(), dir_.path());
    EXPECT_EQ(found.filename(), c.chosen.empty() ? "KVQ.INI" : c.chosen);

    CKVQSystem settings;
    settings.InitialiseFrom(found);
    EXPECT_EQ(settings.SiteId, c.chosen.empty() ? "?" : c.chosen);
}

const NameCase NameCases[] = {
    {"Exact", {"KVQ.INI"}, "KVQ.INI"},
    {"Lower", {"kvq.ini"}, "kvq.ini"},
    {"Mixed", {"Kvq.Ini"}, "Kvq.Ini"},
    {"ExactWinsOverVariants", {"kvq.ini", "KVQ.INI", "Kvq.Ini"}, "KVQ.INI"},
    {"VariantsInByteOrder", {"kvq.ini", "kVQ.INI", "Kvq.Ini"}, "Kvq.Ini"},
    {"SimilarNamesAreNotTaken", {"kvq.ini.bak", "xkvq.ini", "KVQ.IN", "KVQ_INI"}, ""},
    {"NoFile", {}, ""},
};

INSTANTIATE_TEST_SUITE_P(Cases, KvqIniFileName, ::testing::ValuesIn(NameCases), CaseName<NameCase>);

// Initialise itself reads from the working directory.
TEST(KvqIniWorkingDirectory, InitialiseReadsTheFileThere) {
    TempDir dir;
    dir.Write("kvq.ini", Vlx("Variant=VLX400-002\n"));
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    CKVQSystem settings;
    settings.Initialise();
    std::filesystem::current_path(previous);
    ExpectFields(settings, DefaultsWith({{"Variant", "VLX400-002"}}));
}

}  // namespace
