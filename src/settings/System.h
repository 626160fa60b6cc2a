#pragma once

#include <cstdint>
#include <string>
#include <string_view>

class ProfileFile;

// The settings of the program, read once at start-up and read-only afterwards. Of all
// these values only Variant changes what the program does; the others are kept as the
// settings file gives them, and nothing consults them.
class CSystem {
public:
    CSystem() = default;
    virtual ~CSystem();
    CSystem(const CSystem&) = delete;
    CSystem& operator=(const CSystem&) = delete;

    // Sets the built-in values, then reads the settings file.
    virtual void Initialise() = 0;
    // Whether the program runs as a factory test station. Nothing calls it; kept so that
    // each kind of settings object answers it.
    virtual bool IsFactoryStation() const = 0;

    // Texts are owned strings and numbers 32-bit signed integers; all start empty or 0.
    // The first seven texts are built in. Of them only SiteId is ever read from the file;
    // the other six are set once and kept, but unused.
    std::string ProgramName;
    std::string StationName;
    std::string TestName;
    std::string SiteId;
    std::string ModuleName;
    std::string OperatorName;
    std::string ProgramVersion;

    std::string LogFileName;
    std::string SerialPort;
    std::string SNPrefix;
    std::string LabelMfgCode;
    std::string VersionIndicated;
    std::string CSVFileName;
    std::string ProductLabelTitle;
    // The model this tool serves; checked at start-up.
    std::string Variant;
    std::int32_t CycleTestMin = 0;
    std::int32_t CycleTestMax = 0;
    std::int32_t CycleTestCount = 0;
    std::int32_t EnforceProcess = 0;
    std::int32_t FinalPosition = 0;
    std::int32_t PrintLabel = 0;

protected:
    // A text read that comes back empty (the key is present with an empty value) leaves
    // the field as it was; otherwise the field takes the value, or the default when the
    // file, the section or the key is missing.
    static void ReadProfileText(const ProfileFile& file, std::string_view section,
                                std::string_view key, std::string_view defaultText,
                                std::string& field);
    // The field takes the key's integer value, or the default when the key is missing or
    // empty.
    static void ReadProfileInt(const ProfileFile& file, std::string_view section,
                               std::string_view key, std::int32_t defaultValue,
                               std::int32_t& field);
};
