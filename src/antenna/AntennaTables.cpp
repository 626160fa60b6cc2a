#include <filesystem>
#include <string>
#include <system_error>

#include "antenna/AntennaTable.h"
#include "antenna/AntennaTableFile.h"
#include "core/Controls.h"
#include "core/MainDataStore.h"

bool CMainDataStore::LoadAntennaTables(ModelListControl* modelComboBox) {
    CAntennaTable* table = AntennaTable();
    if (table == nullptr || modelComboBox == nullptr) return false;

    std::error_code error;
    const std::filesystem::path directory = std::filesystem::current_path(error);
    if (error) return false;
    const std::string name = FindAntennaTableFile(directory);
    if (name.empty()) return false;
    // Its answer is not needed: a file without header still lists the record it
    // stored, and the reason is in the table's warnings and failure text.
    LoadAntennaTableFile(name, *table);

    AntennaRecord record;
    int listed = 0;
    for (int index = 0; table->GetRecord(index, record); ++index) {
        modelComboBox->AddModelName(record.displayName);
        ++listed;
    }
    if (listed == 0) return false;
    modelComboBox->SelectFirstEntry();
    return true;
}
