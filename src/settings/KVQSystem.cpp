#include "settings/KVQSystem.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "settings/ProfileFile.h"

namespace {

// ASCII letters only, as the file system the program comes from folds them.
bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    const auto upper = [](char c) {
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    };
    return std::ranges::equal(a, b, [&](char x, char y) { return upper(x) == upper(y); });
}

}  // namespace

void CKVQSystem::Initialise() {
    InitialiseFrom(FindSettingsFile("."));
}

void CKVQSystem::InitialiseFrom(const std::filesystem::path& file) {
    ProgramName = "KVQ";
    StationName = "NONE";
    TestName = "FTEST1";
    SiteId = "ART";  // replaced by the key SiteId, or its default, unless that is empty
    ModuleName = "KVQ";
    OperatorName = "n/a";
    ProgramVersion = "0.1";
    ReadSettings(file);
}

void CKVQSystem::ReadSettings(const std::filesystem::path& file) {
    const ProfileFile profile = ProfileFile::Load(file);
    ReadProfileText(profile, Section, "LogFileName", "output.dcf", LogFileName);
    ReadProfileText(profile, Section, "SiteId", "?", SiteId);
    ReadProfileText(profile, Section, "SerialPort", "COM1:", SerialPort);
    ReadProfileInt(profile, Section, "CycleTestCount", 50, CycleTestCount);
    ReadProfileInt(profile, Section, "CycleTestMin", 5000, CycleTestMin);
    ReadProfileInt(profile, Section, "CycleTestMax", 15000, CycleTestMax);
    ReadProfileInt(profile, Section, "EnforceProcess", 1, EnforceProcess);
    ReadProfileInt(profile, Section, "PrintLabel", 0, PrintLabel);
    ReadProfileInt(profile, Section, "FinalPosition", 21600, FinalPosition);
    ReadProfileText(profile, Section, "SNPrefix", "XXXT", SNPrefix);
    ReadProfileText(profile, Section, "LabelMfgCode", "E-VLX400", LabelMfgCode);
    ReadProfileText(profile, Section, "VersionIndicated", "0.", VersionIndicated);
    ReadProfileText(profile, Section, "CSVFileName", "temp.csv", CSVFileName);
    ReadProfileText(profile, Section, "ProductLabelTitle", "E-VLX400 Actuator", ProductLabelTitle);
    ReadProfileText(profile, Section, "Variant", "E-VLX400", Variant);
}

std::filesystem::path FindSettingsFile(const std::filesystem::path& directory) {
    std::filesystem::path exact = directory / CKVQSystem::SettingsFileName;
    std::error_code error;
    // The name itself decides, whatever it names (even a directory or a broken link);
    // so does a directory that cannot be examined.
    if (std::filesystem::symlink_status(exact, error).type() !=
        std::filesystem::file_type::not_found) {
        return exact;
    }
    std::filesystem::path chosen;
    std::filesystem::directory_iterator it(directory, error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (EqualsIgnoringCase(name, CKVQSystem::SettingsFileName) &&
            (chosen.empty() || name < chosen.filename().string())) {
            chosen = it->path();
        }
    }
    return chosen.empty() ? exact : chosen;
}
