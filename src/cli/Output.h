#pragma once

#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "actuator/VLX400E.h"
#include "cli/Progress.h"
#include "status/TestEngine.h"

namespace kvq::antenna {
class CAntennaTable;
}  // namespace kvq::antenna
namespace kvq::serial {
struct SerialPortInfo;
}  // namespace kvq::serial

namespace kvq::cli {

// The streams a run of kvqctl writes to, and what is known of the terminal
// behind its standard error (a progress bar is drawn in place only there).
struct Console {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool errIsTerminal = false;
    int errColumns = 0;  // 0: not known
};

// The actuator at one moment as kvqctl shows it: its record, the status lines
// the record calls for, and the version of a usable firmware file.
struct Moment {
    status::StatusLines statusLines;
    actuator::DeviceSnapshot device;
    std::optional<std::string> firmwareFileVersion;
};

// How a run ends, handed to its output once, last.
struct FinalReport {
    int exitCode = 0;
    // The actuator at the end, when it was looked for.
    std::optional<Moment> moment;
    // The identity and tilts shown to a person as well.
    bool deviceReport = false;
    // The listing commands' lists; the caller's, for the call.
    const std::vector<serial::SerialPortInfo>* ports = nullptr;
    const antenna::CAntennaTable* models = nullptr;
};

// Everything a run of kvqctl says goes through one of these: text for a
// person, or (with --json) JSON lines for a script beside that text. The run
// decides what to say; the output decides how and where.
class Output {
public:
    using Clock = std::chrono::steady_clock;

    virtual ~Output() = default;

    // While a command waits: a new pair of status lines, the record as it
    // stands now (said only when it changed), and the progress of a long
    // operation (on the standard error whatever the format).
    virtual void StatusLines(const status::StatusLines& lines) = 0;
    virtual void State(const Moment& moment) = 0;
    virtual void Progress(LongOperation operation, int percent, Clock::time_point now) = 0;

    // Lines for a person where the reports go (monitor's lines, what a command
    // did, the usage), each ending in a line break.
    virtual void Say(const std::string& text) = 0;
    // A sentence for a person on the standard error whatever the format,
    // after "kvqctl: "; NoteLines takes lines as they are.
    virtual void Note(const std::string& sentence) = 0;
    virtual void NoteLines(const std::string& text) = 0;
    // What went wrong, said at once on the standard error; the final report carries
    // the first sentence.
    virtual void Error(const std::string& sentence) = 0;

    // The last thing a run says; answers the exit code.
    virtual int End(const FinalReport& report) = 0;
};

}  // namespace kvq::cli
