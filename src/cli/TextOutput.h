#pragma once

#include <cstdio>
#include <string>

#include "cli/Output.h"
#include "cli/Progress.h"

namespace kvq::cli {

// kvqctl's output for a person: the status lines and reports on the standard
// output, errors, notes and progress on the standard error.
class TextOutput : public Output {
public:
    explicit TextOutput(const Console& console) : TextOutput(console, console.out) {}

    void StatusLines(const status::StatusLines& lines) override;
    void State(const Moment& /*moment*/) override {}
    void Progress(LongOperation operation, int percent, Clock::time_point now) override;
    void Say(const std::string& text) override;
    void Note(const std::string& sentence) override;
    void NoteLines(const std::string& text) override;
    void Error(const std::string& sentence) override;
    int End(const FinalReport& report) override;

protected:
    // The text for a person on `human` instead of the standard output.
    TextOutput(const Console& console, std::FILE* human);

    const Console& Streams() const { return console_; }
    // The first error said, empty when there was none.
    const std::string& FirstError() const { return error_; }

private:
    // Whatever is written to a person's streams starts on a line of its own,
    // not behind a progress bar drawn in place.
    void Write(std::FILE* to, const std::string& text);

    Console console_;
    std::FILE* human_;
    ProgressDisplay progress_;
    std::string error_;
};

}  // namespace kvq::cli
