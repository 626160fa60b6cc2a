#pragma once

#include <optional>
#include <string>

#include "ui/MessageText.h"

namespace kvq::antenna {
class CAntennaTable;
}  // namespace kvq::antenna

namespace kvq::serial {
class SerialLine;
}  // namespace kvq::serial

namespace kvq::app {
struct ProcessObjects;
}  // namespace kvq::app

namespace kvq::ui {

// The box that lists what the antenna table reader did not take as written,
// one line each ("line 4: ..."), with the file in its text; none when the
// file gave no warning.
std::optional<MessageText> TableWarningsBox(const antenna::CAntennaTable& table);

// Where the models come from, for the tooltip of the status list.
std::string TableToolTip(const antenna::CAntennaTable& table);

// "Problem opening port?" with the reason beneath it when the line knows why
// its last open failed.
MessageText PortProblemBox(const serial::SerialLine& line, const std::string& portName);
// A port box as the dialog shows it: "Problem opening port?" gets the reason
// of the selected port's failed open beneath it; any other box stays as it is.
MessageText WithPortReason(const MessageText& box, const app::ProcessObjects& process);

// The first lines of a message's detail that a box shows in itself, and how
// many lines are left out after them.
inline constexpr int DetailLinesShown = 15;
struct ShownDetail {
    std::string lines;
    int more = 0;
};
ShownDetail DetailShown(const std::string& detail, int limit = DetailLinesShown);

}  // namespace kvq::ui
