#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kvq::settings {

// The settings of this tool: section "VLX400" of KVQ.INI in the working directory, read
// once at start-up and read-only afterwards. Of all the keys only Variant changes what
// the program does; the others are kept as the file gives them, so a settings file
// carried over from elsewhere reads the same here.
class CKVQSystem {
public:
    static constexpr std::string_view SettingsFileName = "KVQ.INI";
    static constexpr std::string_view Section = "VLX400";

    // The settings file found by FindSettingsFile in the working directory. Without a
    // readable file every key takes its default.
    void Initialise();
    // As Initialise, with the settings file given.
    void InitialiseFrom(const std::filesystem::path& file);

    // The file InitialiseFrom was given (read or not), so a message about a
    // setting can name it.
    std::filesystem::path SettingsFile;

    // A text key that is present with an empty value leaves its field as it was (so
    // SiteId keeps its built-in "ART"); otherwise the field takes the value, or the
    // default when the file, the section or the key is missing.
    std::string SiteId = "ART";
    std::string LogFileName;
    std::string SerialPort;
    std::string SNPrefix;
    std::string LabelMfgCode;
    std::string VersionIndicated;
    std::string CSVFileName;
    std::string ProductLabelTitle;
    // The model this tool serves; checked at start-up.
    std::string Variant;
    // An integer key takes its value, or the default when missing or empty.
    std::int32_t CycleTestMin = 0;
    std::int32_t CycleTestMax = 0;
    std::int32_t CycleTestCount = 0;
    std::int32_t EnforceProcess = 0;
    std::int32_t FinalPosition = 0;
    std::int32_t PrintLabel = 0;
};

// The settings file in the directory: KVQ.INI when an entry of exactly that name exists.
// The program comes from a case-insensitive file system and technicians carry their files
// along, so otherwise an entry whose name equals it ignoring ASCII letter case (kvq.ini,
// Kvq.Ini) is taken; of several such, the first in byte order of the name, so the choice
// does not depend on the order in which the directory lists them. With none, KVQ.INI
// (which then reads as missing).
std::filesystem::path FindSettingsFile(const std::filesystem::path& directory);

}  // namespace kvq::settings
