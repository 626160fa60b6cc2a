#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvq::antenna {
class CAntennaTable;
}  // namespace kvq::antenna

namespace kvq::cli {

// Which model of the antenna table a name typed on the command line means.
struct ModelChoice {
    std::optional<int> index;  // the table's index; none when unknown or ambiguous
    // The models the name could mean ("KEY (Display Name)"): several when it
    // is ambiguous, none when it is unknown.
    std::vector<std::string> candidates;
};

// A display name or a key. Exact matches come first, as the dialog picks a
// model: a display name, else a key (the first in the table's order when a
// line repeats). Only when neither matches exactly is letter case ignored, and
// then the name must leave one model. A name that is one model's display name
// and another's key is ambiguous.
ModelChoice ChooseModel(const antenna::CAntennaTable& table, std::string_view name);

// The sentence that says why a choice failed.
std::string ModelChoiceError(const ModelChoice& choice, std::string_view name);

}  // namespace kvq::cli
