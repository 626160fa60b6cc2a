#include "cli/TextOutput.h"

#include "cli/Report.h"

namespace kvq::cli {

namespace {

// The status lines' first column is as wide as the longest first line.
constexpr std::size_t StatusColumn = 24;

}  // namespace

TextOutput::TextOutput(const Console& console, std::FILE* human)
    : console_(console),
      human_(human),
      progress_(console.err, console.errIsTerminal, console.errColumns) {}

void TextOutput::StatusLines(const status::StatusLines& lines) {
    std::string text = lines.first;
    if (text.size() < StatusColumn) text.append(StatusColumn - text.size(), ' ');
    Write(human_, text + " " + lines.second + "\n");
}

void TextOutput::Progress(LongOperation operation, int percent, Clock::time_point now) {
    progress_.Show(operation, percent, now);
}

void TextOutput::Say(const std::string& text) {
    Write(human_, text);
}

void TextOutput::Note(const std::string& sentence) {
    Write(console_.err, "kvqctl: " + sentence + "\n");
}

void TextOutput::NoteLines(const std::string& text) {
    if (!text.empty()) Write(console_.err, text);
}

void TextOutput::Error(const std::string& sentence) {
    Note(sentence);
    if (error_.empty()) error_ = sentence;
}

int TextOutput::End(const FinalReport& report) {
    // The report is for a person: with --json it goes to the standard error
    // beside the status lines, and the final object carries the same facts.
    if (report.deviceReport && report.moment) Say(DeviceReport(report.moment->device));
    if (report.ports) Say(PortsReport(*report.ports));
    if (report.models) Say(ModelsReport(*report.models));
    progress_.EndLine();
    std::fflush(console_.out);
    return report.exitCode;
}

void TextOutput::Write(std::FILE* to, const std::string& text) {
    progress_.EndLine();
    std::fputs(text.c_str(), to);
    std::fflush(to);
}

}  // namespace kvq::cli
