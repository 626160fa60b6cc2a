#include "cli/ModelChoice.h"

#include <algorithm>

#include "antenna/AntennaTable.h"

using namespace kvq::antenna;

namespace kvq::cli {

namespace {

bool EqualIgnoringCase(std::string_view a, std::string_view b) {
    const auto lower = [](char c) {
        return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    };
    return std::ranges::equal(a, b, [&](char x, char y) { return lower(x) == lower(y); });
}

std::string Describe(const AntennaRecord& record) {
    return record.key + " (" + record.displayName + ")";
}

}  // namespace

ModelChoice ChooseModel(const CAntennaTable& table, std::string_view name) {
    ModelChoice choice;
    const auto byName = table.FindByName(name);
    const auto byKey = table.FindByKey(name);
    AntennaRecord record;
    if (byName || byKey) {
        // The same model found both ways (a key equal to its own display name)
        // is one model.
        AntennaRecord named, keyed;
        const bool bothDiffer = byName && byKey && table.GetRecord(*byName, named) &&
                                table.GetRecord(*byKey, keyed) &&
                                (named.key != keyed.key || named.displayName != keyed.displayName);
        if (!bothDiffer) {
            choice.index = byName ? byName : byKey;
            return choice;
        }
        choice.candidates = {Describe(named), Describe(keyed)};
        return choice;
    }
    // Letter case ignored: lines that repeat a model (same key and display
    // name) count once, and the first of them is taken.
    std::vector<AntennaRecord> distinct;
    for (int i = 0; table.GetRecord(i, record); ++i) {
        if (!EqualIgnoringCase(record.displayName, name) && !EqualIgnoringCase(record.key, name))
            continue;
        const bool repeated = std::any_of(distinct.begin(), distinct.end(), [&](const auto& d) {
            return d.key == record.key && d.displayName == record.displayName;
        });
        if (repeated) continue;
        if (distinct.empty()) choice.index = i;
        distinct.push_back(record);
        choice.candidates.push_back(Describe(record));
    }
    if (distinct.size() != 1) choice.index.reset();
    if (distinct.size() == 1) choice.candidates.clear();
    return choice;
}

std::string ModelChoiceError(const ModelChoice& choice, std::string_view name) {
    if (choice.candidates.empty()) {
        return "the antenna table has no model named '" + std::string(name) +
               "' (neither a display name nor a key; 'kvqctl models' lists them); nothing was "
               "sent";
    }
    std::string list;
    for (const auto& candidate : choice.candidates)
        list += (list.empty() ? "" : ", ") + candidate;
    return "the model name '" + std::string(name) + "' is ambiguous: it could be " + list +
           "; give the key or the display name exactly; nothing was sent";
}

}  // namespace kvq::cli
