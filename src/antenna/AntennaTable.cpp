#include "antenna/AntennaTable.h"

#include <new>
#include <stdexcept>
#include <utility>

namespace kvq::antenna {

bool CAntennaTable::SetCapacity(int count) {
    if (count < 0 || count > MaxRecords) return false;
    if (count == 0) {
        std::vector<AntennaRecord>().swap(records_);
        return true;
    }
    if (records_.size() > static_cast<std::size_t>(count)) {
        records_.resize(static_cast<std::size_t>(count));
    }
    try {
        records_.reserve(static_cast<std::size_t>(count));
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return true;
}

bool CAntennaTable::GetRecord(int index, AntennaRecord& record) const {
    if (index < 0 || index >= RecordCount()) return false;
    const AntennaRecord& stored = records_[static_cast<std::size_t>(index)];
    if (stored.key.empty()) return false;
    record = stored;
    return true;
}

bool CAntennaTable::AppendRecord(const AntennaRecord& record) {
    if (record.key.empty() || record.key.size() > AntennaRecord::MaxKeyLength ||
        record.displayName.size() > AntennaRecord::MaxDisplayNameLength ||
        RecordCount() >= MaxRecords) {
        return false;
    }
    try {
        records_.push_back(record);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

std::optional<int> CAntennaTable::FindByKey(std::string_view key) const {
    // Walks as the readers do: GetRecord until it answers false.
    AntennaRecord record;
    for (int index = 0; GetRecord(index, record); ++index) {
        if (record.key == key) return index;
    }
    return std::nullopt;
}

std::optional<int> CAntennaTable::FindByName(std::string_view displayName) const {
    AntennaRecord record;
    for (int index = 0; GetRecord(index, record); ++index) {
        if (record.displayName == displayName) return index;
    }
    return std::nullopt;
}

void CAntennaTable::Clear() {
    std::vector<AntennaRecord>().swap(records_);
    tableVersion_ = 0;
    loadWarnings_.clear();
    warningsLeftOut_ = false;
    loadFailureText_.clear();
    sourceFile_.clear();
}

void CAntennaTable::AddLoadWarning(int line, std::string text) {
    if (loadWarnings_.size() < MaxLoadWarnings) {
        loadWarnings_.push_back({line, std::move(text)});
    } else if (!warningsLeftOut_) {
        warningsLeftOut_ = true;
        loadWarnings_.push_back({0, "further warnings were left out"});
    }
}

}  // namespace kvq::antenna
