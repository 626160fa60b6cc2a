#include "settings/KVQSystem.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "settings/ProfileFile.h"

namespace kvq::settings {

namespace {

// ASCII letters only, as the file system the program comes from folds them.
bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    const auto upper = [](char c) {
        return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    };
    return std::ranges::equal(a, b, [&](char x, char y) { return upper(x) == upper(y); });
}

void ReadText(const ProfileFile& file, std::string_view key, std::string_view defaultText,
              std::string& field) {
    std::string text = file.ReadString(CKVQSystem::Section, key, defaultText);
    if (!text.empty()) field = std::move(text);
}

void ReadInt(const ProfileFile& file, std::string_view key, std::int32_t defaultValue,
             std::int32_t& field) {
    field = file.ReadInt(CKVQSystem::Section, key, defaultValue);
}

}  // namespace

void CKVQSystem::Initialise() {
    InitialiseFrom(FindSettingsFile("."));
}

void CKVQSystem::InitialiseFrom(const std::filesystem::path& file) {
    SettingsFile = file;
    const ProfileFile profile = ProfileFile::Load(file);
    ReadText(profile, "LogFileName", "output.dcf", LogFileName);
    ReadText(profile, "SiteId", "?", SiteId);
    ReadText(profile, "SerialPort", "COM1:", SerialPort);
    ReadInt(profile, "CycleTestCount", 50, CycleTestCount);
    ReadInt(profile, "CycleTestMin", 5000, CycleTestMin);
    ReadInt(profile, "CycleTestMax", 15000, CycleTestMax);
    ReadInt(profile, "EnforceProcess", 1, EnforceProcess);
    ReadInt(profile, "PrintLabel", 0, PrintLabel);
    ReadInt(profile, "FinalPosition", 21600, FinalPosition);
    ReadText(profile, "SNPrefix", "XXXT", SNPrefix);
    ReadText(profile, "LabelMfgCode", "E-VLX400", LabelMfgCode);
    ReadText(profile, "VersionIndicated", "0.", VersionIndicated);
    ReadText(profile, "CSVFileName", "temp.csv", CSVFileName);
    ReadText(profile, "ProductLabelTitle", "E-VLX400 Actuator", ProductLabelTitle);
    ReadText(profile, "Variant", "E-VLX400", Variant);
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

}  // namespace kvq::settings
