#include "antenna/AntennaTables.h"

#include <filesystem>
#include <system_error>

#include "antenna/AntennaTable.h"
#include "antenna/AntennaTableFile.h"

namespace kvq::antenna {

std::vector<std::string> LoadAntennaTables(CAntennaTable& table) {
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::current_path(error);
    if (error) return {};
    const std::string name = FindAntennaTableFile(directory);
    if (name.empty()) return {};
    // Its answer is not needed: a file without header still lists the record it
    // stored, and the reason is in the table's warnings and failure text.
    LoadAntennaTableFile(name, table);

    std::vector<std::string> names;
    AntennaRecord record;
    for (int index = 0; table.GetRecord(index, record); ++index)
        names.push_back(record.displayName);
    return names;
}

}  // namespace kvq::antenna
