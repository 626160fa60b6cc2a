#include "ui/UserCommands.h"

#include <algorithm>

#include "actuator/Actuator.h"
#include "ui/DialogTexts.h"
#include "core/MainDataStore.h"

bool RequestTilt(CActuator& device, std::int32_t sliderPosition) {
    // Stored before the post: the message orders it before the actuator's read.
    device.requestedTilt.store(sliderPosition);
    return PostThreadMessage(device.threadId.load(), MsgSetTilt);
}

int ModelEntryShown(const std::vector<std::string>& entries, std::string_view shownText) {
    const auto at = std::find(entries.begin(), entries.end(), shownText);
    return at == entries.end() ? -1 : static_cast<int>(at - entries.begin());
}

ModelChange RequestModelChange(CMainDataStore& context, const std::vector<std::string>& entries,
                               int entry) {
    const bool listed = entry >= 0 && static_cast<std::size_t>(entry) < entries.size();
    if (!listed || !context.SelectModelByName(entries[static_cast<std::size_t>(entry)])) {
        context.SetStatusLines(ui_text::AntennaNotFound, "");
        return ModelChange::NotFound;
    }
    CActuator* device = context.GetDevice(1);
    const bool posted = device && PostThreadMessage(device->threadId.load(), MsgChangeModel);
    return posted ? ModelChange::Requested : ModelChange::NotPosted;
}
