#include "ui/Reports.h"

#include "antenna/AntennaTable.h"
#include "antenna/AntennaTables.h"
#include "app/Process.h"
#include "serial/SerialLine.h"
#include "ui/DialogTexts.h"

namespace kvq::ui {

std::optional<MessageText> TableWarningsBox(const antenna::CAntennaTable& table) {
    if (table.LoadWarnings().empty()) return std::nullopt;
    std::string text;
    if (!table.LoadFailureText().empty()) text = table.LoadFailureText() + "\n\n";
    text += "Lines of the antenna table " + table.SourceFile() + " that were not taken as written:";
    std::string detail;
    for (const auto& warning : table.LoadWarnings()) {
        if (!detail.empty()) detail += '\n';
        detail += (warning.line > 0 ? "line " + std::to_string(warning.line) : "the file") + ": " +
                  warning.text;
    }
    return MessageText{text, ui_text::TableWarningsCaption, MessageText::Icon::Exclamation, detail};
}

std::string TableToolTip(const antenna::CAntennaTable& table) {
    const std::string summary = antenna::TableSummary(table);
    if (summary.empty()) return "No antenna table loaded";
    // "antenna table ..." as a sentence of its own.
    return "A" + summary.substr(1);
}

MessageText PortProblemBox(const serial::SerialLine& line, const std::string& portName) {
    MessageText box{
        ui_text::PortProblemText, ui_text::PortProblemCaption, MessageText::Icon::Information, {}};
    // No reason while the open has not been tried or has not ended yet.
    const serial::OpenFailure failure = line.LastOpenFailure();
    if (failure != serial::OpenFailure::None)
        box.detail = serial::DescribeOpenFailure(failure, portName, line.LastOpenError());
    return box;
}

MessageText WithPortReason(const MessageText& box, const app::ProcessObjects& process) {
    if (box.caption != ui_text::PortProblemCaption) return box;
    return PortProblemBox(process.serialPort, process.SystemContext.SelectedPortName());
}

ShownDetail DetailShown(const std::string& detail, int limit) {
    ShownDetail shown;
    int count = 0;
    std::size_t start = 0;
    while (start <= detail.size()) {
        std::size_t end = detail.find('\n', start);
        if (end == std::string::npos) end = detail.size();
        if (count < limit) {
            if (count > 0) shown.lines += '\n';
            shown.lines.append(detail, start, end - start);
        } else {
            ++shown.more;
        }
        ++count;
        start = end + 1;
    }
    return shown;
}

}  // namespace kvq::ui
