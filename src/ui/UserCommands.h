#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ui/MessageText.h"

namespace kvq::app {
struct ProcessObjects;
}  // namespace kvq::app

namespace kvq::ui {

// Save Line Trace...: the frames the dialog keeps go to the file; the box
// that says why when they could not.
std::optional<MessageText> SaveLineTrace(const app::ProcessObjects& process,
                                         const std::string& path);

// Set Tilt: the actuator thread is told to move to the slider's position,
// which it then shows as the requested tilt. False when it could not be told.
bool RequestTilt(app::ProcessObjects& process, std::int32_t sliderPosition);

// A tilt typed into the Requested Tilt field, for Set Tilt: the target in
// tenths of a degree, or the box that says why nothing is sent (not a tilt,
// or outside the model's range).
struct TypedTilt {
    std::optional<std::int32_t> tenths;
    std::optional<MessageText> refusal;
};
TypedTilt ReadTypedTilt(std::string_view typed, std::int32_t minTilt, std::int32_t maxTilt);

// The list entry that the combo box's edit field shows: the first entry with
// exactly that text, or -1 when the user typed a name the list does not hold.
int ModelEntryShown(const std::vector<std::string>& entries, std::string_view shownText);

enum class ModelChangeAsked {
    Requested,  // the actuator thread was told to change to the model
    NotFound,   // not in the table: the status lines say "ANTENNA NOT FOUND"
    NotPosted,  // in the table, but the actuator thread could not be told
};

// Change Antenna Model for the entry shown (an index into entries, or -1):
// when the table knows the model, the actuator thread is told to change to it;
// otherwise the status lines say "ANTENNA NOT FOUND" and nothing is sent.
ModelChangeAsked RequestModelChange(app::ProcessObjects& process,
                               const std::vector<std::string>& entries, int entry);

}  // namespace kvq::ui
