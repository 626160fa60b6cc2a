#include "cli/Progress.h"

#include <algorithm>
#include <cmath>

#include "actuator/VLX400E.h"

using namespace kvq::actuator;

namespace kvq::cli {

namespace {

constexpr int DefaultColumns = 80;
constexpr int LongestBar = 30;
constexpr int ShortestBar = 10;

// " 42%  1:05 left": what follows the name (or the bar).
std::string PercentAndTimeLeft(int percent, std::optional<double> secondsLeft) {
    char figure[8];
    std::snprintf(figure, sizeof figure, "%3d%%", std::clamp(percent, 0, 100));
    return std::string(" ") + figure + "  " + TimeLeftText(secondsLeft);
}

}  // namespace

LongOperation LongOperationOf(const DeviceSnapshot& device) {
    switch (ActivityOf(device)) {
        case Activity::Updating:
            return LongOperation::Download;
        case Activity::ChangingModel:
            return LongOperation::NewModel;
        default:
            return LongOperation::None;
    }
}

std::string_view LongOperationName(LongOperation operation) {
    switch (operation) {
        case LongOperation::Download:
            return "downloading";
        case LongOperation::NewModel:
            return "changing model";
        case LongOperation::None:
            break;
    }
    return "";
}

std::optional<double> EstimateSecondsLeft(int percent, double elapsedSeconds) {
    if (percent >= 100) return 0.0;
    if (percent <= 0 || !(elapsedSeconds > 0.0)) return std::nullopt;
    return elapsedSeconds * (100 - percent) / percent;
}

std::string TimeLeftText(std::optional<double> secondsLeft) {
    if (!secondsLeft || !std::isfinite(*secondsLeft) || *secondsLeft < 0.0) return "--:-- left";
    const long long seconds = std::llround(*secondsLeft);
    char text[48];
    if (seconds >= 3600) {
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld left", seconds / 3600,
                      seconds / 60 % 60, seconds % 60);
    } else {
        std::snprintf(text, sizeof text, "%lld:%02lld left", seconds / 60, seconds % 60);
    }
    return text;
}

std::string ProgressBarLine(std::string_view what, int percent, std::optional<double> secondsLeft,
                            int columns) {
    const auto room = static_cast<std::size_t>((columns > 1 ? columns : DefaultColumns) - 1);
    const std::string tail = PercentAndTimeLeft(percent, secondsLeft);
    // Room for the widest tail under an hour, so the bar keeps its width
    // while the time left is estimated.
    const std::size_t widestTail = PercentAndTimeLeft(100, std::nullopt).size();
    const std::size_t around = what.size() + 3 + std::max(tail.size(), widestTail);  // " [", "]"
    if (around + ShortestBar <= room) {
        const auto width = static_cast<int>(std::min<std::size_t>(LongestBar, room - around));
        const int filled = std::clamp(percent, 0, 100) * width / 100;
        return std::string(what) + " [" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(width - filled), ' ') + "]" + tail;
    }
    std::string line = std::string(what) + tail;
    if (line.size() > room) line.resize(room);
    return line;
}

std::string ProgressPlainLine(std::string_view what, int percent,
                              std::optional<double> secondsLeft) {
    return std::string(what) + PercentAndTimeLeft(percent, secondsLeft);
}

void ProgressDisplay::Show(LongOperation operation, int percent, Clock::time_point now) {
    if (operation != operation_) {
        EndLine();
        operation_ = operation;
        started_ = now;
        lastTenth_ = -1;
    }
    if (operation == LongOperation::None) return;
    percent = std::clamp(percent, 0, 100);
    const double elapsed = std::chrono::duration<double>(now - started_).count();
    const auto left = EstimateSecondsLeft(percent, elapsed);
    const std::string_view what = LongOperationName(operation);
    if (terminal_) {
        std::string line = ProgressBarLine(what, percent, left, columns_);
        if (line == drawn_) return;
        const std::size_t shown = line.size();
        // Blanks over what is left of a longer line before it.
        if (drawn_.size() > line.size()) line.append(drawn_.size() - line.size(), ' ');
        std::fprintf(out_, "\r%s", line.c_str());
        line.resize(shown);
        drawn_ = line;
    } else {
        const int tenth = percent / 10;
        if (tenth <= lastTenth_) return;
        lastTenth_ = tenth;
        std::fprintf(out_, "%s\n", ProgressPlainLine(what, percent, left).c_str());
    }
    std::fflush(out_);
}

void ProgressDisplay::EndLine() {
    if (drawn_.empty()) return;
    std::fputc('\n', out_);
    std::fflush(out_);
    drawn_.clear();
}

}  // namespace kvq::cli
