#include "ui/UserCommands.h"

#include <algorithm>

#include "app/Process.h"
#include "core/Text.h"
#include "ui/DialogTexts.h"

using namespace kvq::app;

namespace kvq::ui {

std::optional<MessageText> SaveLineTrace(const ProcessObjects& process, const std::string& path) {
    std::string error;
    if (process.lineTrace.SaveRecent(path, error)) return std::nullopt;
    return MessageText{ui_text::SaveLineTraceFailed + error + ".", ui_text::SaveLineTraceCaption,
                       MessageText::Icon::Exclamation};
}

bool RequestTilt(ProcessObjects& process, std::int32_t sliderPosition) {
    return RequestSetTilt(process, sliderPosition);
}

TypedTilt ReadTypedTilt(std::string_view typed, std::int32_t minTilt, std::int32_t maxTilt) {
    const auto tenths = core::TiltFromText(typed);
    if (!tenths) {
        return {std::nullopt,
                MessageText{"\"" + std::string(core::Trim(typed)) +
                                "\" is not a tilt. Type the tilt in degrees with at most one "
                                "decimal, for example 6.5 or -1.5. Nothing was sent.",
                            ui_text::TiltEntryCaption, MessageText::Icon::Exclamation, {}}};
    }
    if (*tenths < minTilt || *tenths > maxTilt) {
        return {std::nullopt,
                MessageText{"A tilt of " + core::TiltText(*tenths) +
                                " degrees is outside the range of this antenna model (" +
                                core::TiltText(minTilt) + " to " + core::TiltText(maxTilt) +
                                " degrees). Nothing was sent.",
                            ui_text::TiltEntryCaption, MessageText::Icon::Exclamation, {}}};
    }
    return {tenths, std::nullopt};
}

int ModelEntryShown(const std::vector<std::string>& entries, std::string_view shownText) {
    const auto at = std::find(entries.begin(), entries.end(), shownText);
    return at == entries.end() ? -1 : static_cast<int>(at - entries.begin());
}

ModelChangeAsked RequestModelChange(ProcessObjects& process, const std::vector<std::string>& entries,
                               int entry) {
    const bool listed = entry >= 0 && static_cast<std::size_t>(entry) < entries.size();
    const auto model = listed ? SelectModelByName(process, entries[static_cast<std::size_t>(entry)])
                              : std::nullopt;
    if (!model) {
        process.SystemContext.SetStatusLines(ui_text::AntennaNotFound, "");
        return ModelChangeAsked::NotFound;
    }
    return app::RequestModelChange(process, *model) ? ModelChangeAsked::Requested
                                                    : ModelChangeAsked::NotPosted;
}

}  // namespace kvq::ui
