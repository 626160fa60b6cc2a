#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

namespace kvq::actuator {
struct DeviceSnapshot;
}  // namespace kvq::actuator

namespace kvq::cli {

// The long operations whose progress kvqctl shows while it waits.
enum class LongOperation { None, Download, NewModel };

// The long operation the actuator is doing, if any (a model change and a
// download go on through the actuator's restart).
LongOperation LongOperationOf(const actuator::DeviceSnapshot& device);
// What the operation is called on its progress line ("downloading", ...).
std::string_view LongOperationName(LongOperation operation);

// Seconds left when `percent` of the work took `elapsedSeconds`, assuming the
// rest goes as fast; none while nothing has been done or no time has passed.
std::optional<double> EstimateSecondsLeft(int percent, double elapsedSeconds);
// "1:05 left", "1:02:03 left"; "--:-- left" when not known.
std::string TimeLeftText(std::optional<double> secondsLeft);

// One progress line for a terminal `columns` wide: the name, a bar, the
// percentage and the time left. It never fills the last column (which would
// wrap and spoil the redraw): the bar goes first on a narrow terminal, then
// the end of the text.
std::string ProgressBarLine(std::string_view what, int percent, std::optional<double> secondsLeft,
                            int columns);
// The same without a bar, for a log or a pipe.
std::string ProgressPlainLine(std::string_view what, int percent,
                              std::optional<double> secondsLeft);

// Shows the progress of the long operation under way on the standard error:
// on a terminal a bar redrawn in place, otherwise one line at the start and at
// every further tenth.
class ProgressDisplay {
public:
    using Clock = std::chrono::steady_clock;

    ProgressDisplay(std::FILE* out, bool terminal, int columns)
        : out_(out), terminal_(terminal), columns_(columns) {}

    void Show(LongOperation operation, int percent, Clock::time_point now);
    // Ends a bar drawn in place, so the next output starts on a line of its own.
    void EndLine();

private:
    std::FILE* out_;
    bool terminal_;
    int columns_;
    LongOperation operation_ = LongOperation::None;
    Clock::time_point started_{};
    int lastTenth_ = -1;
    std::string drawn_;  // the bar on the terminal's current line, if any
};

}  // namespace kvq::cli
