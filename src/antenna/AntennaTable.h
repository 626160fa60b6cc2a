#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvq::antenna {

// One antenna model: what the actuator stores as its model, the tilt range and
// the configuration values that a model change sends to the actuator.
struct AntennaRecord {
    static constexpr std::size_t MaxKeyLength = 15;
    static constexpr std::size_t MaxDisplayNameLength = 31;
    static constexpr std::size_t ConfigPairCount = 16;
    // A configuration value that the table does not supply (bytes 0x00 0x80 on the wire).
    static constexpr std::uint16_t NoConfigValue = 0x0080;

    std::string key;             // 1 to 15 characters
    std::int16_t minTilt = 0;    // tenths of a degree
    std::int16_t maxTilt = 0;    // tenths of a degree
    std::uint16_t auxValue = 0;  // the file's fourth column; kept, not used
    std::array<std::uint16_t, ConfigPairCount> configFirst{};
    std::array<std::uint16_t, ConfigPairCount> configSecond{};
    std::string displayName;  // at most 31 characters
};

// Something the loader did not take as written, so the user can mend the file.
struct AntennaLoadWarning {
    int line = 0;  // line of the file, counted from 1; 0 for the file as a whole
    std::string text;
};

// The antenna models of the table file, in file order. Filled once at start-up
// and only read afterwards, so readers on other threads need no lock.
class CAntennaTable {
public:
    // Far beyond any real table; bounds the memory a damaged file can claim.
    static constexpr int MaxRecords = 65535;
    static constexpr std::size_t MaxLoadWarnings = 200;

    CAntennaTable() = default;
    virtual ~CAntennaTable() = default;

    // 0 releases every record. Otherwise makes room for count records and drops
    // those beyond count. False (records unchanged) for a negative count, one
    // above MaxRecords, or when the memory cannot be had.
    bool SetCapacity(int count);
    // False for an index out of range or a record without key.
    bool GetRecord(int index, AntennaRecord& record) const;
    int RecordCount() const { return static_cast<int>(records_.size()); }

    // Stores a copy at the end. False, storing nothing, when the key is empty,
    // a text is over its limit or the table is full.
    bool AppendRecord(const AntennaRecord& record);

    std::int16_t TableVersion() const { return tableVersion_; }
    void SetTableVersion(std::int16_t version) { tableVersion_ = version; }

    // Exact, case-sensitive comparison; the first match in file order.
    std::optional<int> FindByKey(std::string_view key) const;
    std::optional<int> FindByName(std::string_view displayName) const;

    // Empties records, version, warnings, failure text and file name before a new load.
    void Clear();

    const std::vector<AntennaLoadWarning>& LoadWarnings() const { return loadWarnings_; }
    // Keeps the first MaxLoadWarnings, then notes once that more were left out.
    void AddLoadWarning(int line, std::string text);
    // The message for the user after a load that found no header line; empty otherwise.
    const std::string& LoadFailureText() const { return loadFailureText_; }
    void SetLoadFailureText(std::string text) { loadFailureText_ = std::move(text); }
    // The file the records came from, as the loader was given it; empty before a load.
    const std::string& SourceFile() const { return sourceFile_; }
    void SetSourceFile(std::string path) { sourceFile_ = std::move(path); }

private:
    std::vector<AntennaRecord> records_;
    std::int16_t tableVersion_ = 0;
    std::vector<AntennaLoadWarning> loadWarnings_;
    bool warningsLeftOut_ = false;
    std::string loadFailureText_;
    std::string sourceFile_;
};

}  // namespace kvq::antenna
