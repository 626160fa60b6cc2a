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

}  // namespace kvq::ui
