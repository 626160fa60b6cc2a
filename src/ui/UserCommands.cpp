#include "ui/UserCommands.h"

#include <algorithm>

#include "app/Process.h"
#include "ui/DialogTexts.h"

using namespace kvq::app;

namespace kvq::ui {

bool RequestTilt(ProcessObjects& process, std::int32_t sliderPosition) {
    return RequestSetTilt(process, sliderPosition);
}

int ModelEntryShown(const std::vector<std::string>& entries, std::string_view shownText) {
    const auto at = std::find(entries.begin(), entries.end(), shownText);
    return at == entries.end() ? -1 : static_cast<int>(at - entries.begin());
}

ModelChange RequestModelChange(ProcessObjects& process, const std::vector<std::string>& entries,
                               int entry) {
    const bool listed = entry >= 0 && static_cast<std::size_t>(entry) < entries.size();
    const auto model = listed ? SelectModelByName(process, entries[static_cast<std::size_t>(entry)])
                              : std::nullopt;
    if (!model) {
        process.SystemContext.SetStatusLines(ui_text::AntennaNotFound, "");
        return ModelChange::NotFound;
    }
    return app::RequestModelChange(process, *model) ? ModelChange::Requested
                                                    : ModelChange::NotPosted;
}

}  // namespace kvq::ui
