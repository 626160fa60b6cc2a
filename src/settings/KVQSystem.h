#pragma once

#include <filesystem>
#include <string_view>

#include "settings/System.h"

// The settings of this tool: section "VLX400" of KVQ.INI in the working directory.
class CKVQSystem final : public CSystem {
public:
    static constexpr std::string_view SettingsFileName = "KVQ.INI";
    static constexpr std::string_view Section = "VLX400";

    // Built-in values, then the settings file found by FindSettingsFile in the working
    // directory. Without a readable file every key takes its default.
    void Initialise() override;
    bool IsFactoryStation() const override { return false; }

    // As Initialise, with the settings file given.
    void InitialiseFrom(const std::filesystem::path& file);
    // Reads the keys of the settings file, each into its field.
    void ReadSettings(const std::filesystem::path& file);
};

// The settings file in the directory: KVQ.INI when an entry of exactly that name exists.
// The program comes from a case-insensitive file system and technicians carry their files
// along, so otherwise an entry whose name equals it ignoring ASCII letter case (kvq.ini,
// Kvq.Ini) is taken; of several such, the first in byte order of the name, so the choice
// does not depend on the order in which the directory lists them. With none, KVQ.INI
// (which then reads as missing).
std::filesystem::path FindSettingsFile(const std::filesystem::path& directory);
