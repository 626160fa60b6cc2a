#pragma once

#include "cli/Report.h"
#include "cli/TextOutput.h"

namespace kvq::cli {

// kvqctl's output for a script (--json): the standard output carries only
// JSON, one object per line, one for each change of what it says and a final
// one at every report, errors included; everything meant for a person goes to
// the standard error.
class JsonOutput : public TextOutput {
public:
    explicit JsonOutput(const Console& console) : TextOutput(console, console.err) {}

    void State(const Moment& moment) override;
    int End(const FinalReport& report) override;

private:
    void Line(const JsonValue& object);

    JsonValue last_;  // the last object of the stream
};

}  // namespace kvq::cli
