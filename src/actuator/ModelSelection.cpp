// The shared system object's model look-ups: what a model found in the antenna
// table does to the device record.

#include "actuator/Actuator.h"
#include "antenna/AntennaTable.h"
#include "core/Controls.h"
#include "core/MainDataStore.h"

void CMainDataStore::SelectModelByKey(std::string_view key) {
    CActuator* device = GetDevice(1);
    const CAntennaTable* table = AntennaTable();
    if (!device || !table) return;
    const auto index = table->FindByKey(key);
    AntennaRecord record;
    if (!index || !table->GetRecord(*index, record)) return;  // unknown: the key stays shown
    device->antennaModel.Set(record.displayName);
    device->minTilt.store(record.minTilt);
    device->maxTilt.store(record.maxTilt);
    device->ApplyTiltRange();
    // The list is sorted by name, so the model is selected by its name, not
    // by its position in the file.
    if (ModelComboBox) ModelComboBox->SelectModelName(record.displayName);
}

bool CMainDataStore::SelectModelByName(std::string_view displayName) {
    CActuator* device = GetDevice(1);
    const CAntennaTable* table = AntennaTable();
    if (!device || !table) return false;
    const auto index = table->FindByName(displayName);
    AntennaRecord record;
    if (!index || !table->GetRecord(*index, record)) return false;
    device->SetNewModelName(record.key);
    device->SelectNewModel(*index);
    return true;
}
