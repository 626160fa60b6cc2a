#include "antenna/AntennaTables.h"

#include <filesystem>
#include <system_error>

#include "antenna/AntennaTable.h"
#include "antenna/AntennaTableFile.h"
#include "core/Utf8Path.h"

namespace kvq::antenna {

std::vector<std::string> LoadAntennaTables(CAntennaTable& table) {
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::current_path(error);
    if (error) return {};
    const std::string name = FindAntennaTableFile(directory);
    if (name.empty()) return {};
    // Its answer is not needed: a file without header still lists the record it
    // stored, and the reason is in the table's warnings and failure text.
    LoadAntennaTableFile(core::PathFromUtf8(name), table);
    // Named in full, so a technician can find the file the tool chose.
    table.SetSourceFile(core::Utf8Text(directory / core::PathFromUtf8(name)));

    std::vector<std::string> names;
    AntennaRecord record;
    for (int index = 0; table.GetRecord(index, record); ++index)
        names.push_back(record.displayName);
    return names;
}

std::string TableSummary(const CAntennaTable& table) {
    if (table.SourceFile().empty()) return {};
    const int count = table.RecordCount();
    return "antenna table " + table.SourceFile() + ": " + std::to_string(count) +
           (count == 1 ? " model" : " models") + ", version " +
           std::to_string(table.TableVersion());
}

std::vector<std::string> TableWarningLines(const CAntennaTable& table) {
    std::vector<std::string> lines;
    for (const auto& warning : table.LoadWarnings()) {
        std::string line = table.SourceFile();
        if (warning.line > 0) line += ":" + std::to_string(warning.line);
        lines.push_back(line + ": " + warning.text);
    }
    return lines;
}

std::string DescribeTableLoad(const CAntennaTable& table, std::string_view prefix) {
    const std::string summary = TableSummary(table);
    if (summary.empty()) return {};
    std::string text = std::string(prefix) + summary + "\n";
    for (const auto& line : TableWarningLines(table))
        text += std::string(prefix) + line + "\n";
    return text;
}

}  // namespace kvq::antenna
