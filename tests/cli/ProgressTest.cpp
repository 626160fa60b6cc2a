#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "WrittenFile.h"
#include "actuator/VLX400E.h"
#include "cli/Progress.h"
#include "cli/Report.h"

using namespace kvq::actuator;
using namespace kvq::cli;
using kvq::testing::Written;
using std::chrono::milliseconds;

TEST(ProgressLine, BarPercentageAndTimeLeftFitTheTerminal) {
    struct Case {
        int percent;
        std::optional<double> secondsLeft;
        int columns;
        const char* line;
    } cases[] = {
        {0, std::nullopt, 80, "downloading [                              ]   0%  --:-- left"},
        {45, 83.4, 80, "downloading [#############                 ]  45%  1:23 left"},
        {100, 0.0, 80, "downloading [##############################] 100%  0:00 left"},
        {50, 3723.0, 80, "downloading [###############               ]  50%  1:02:03 left"},
        // Unknown width: as 80 columns.
        {45, 83.4, 0, "downloading [#############                 ]  45%  1:23 left"},
        // The shortest bar still drawn, then none, then the text cut.
        {50, 83.4, 42, "downloading [#####     ]  50%  1:23 left"},
        {50, 83.4, 41, "downloading  50%  1:23 left"},
        {50, 83.4, 12, "downloading"},
        // Out of range figures are held to 0 and 100.
        {130, 0.0, 42, "downloading [##########] 100%  0:00 left"},
        {-5, std::nullopt, 42, "downloading [          ]   0%  --:-- left"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ProgressBarLine("downloading", c.percent, c.secondsLeft, c.columns), c.line)
            << c.percent << "% on " << c.columns << " columns";

    // Never into the last column, however narrow, so the line cannot wrap.
    for (int columns = 2; columns <= 120; ++columns) {
        const std::string line = ProgressBarLine("changing model", 37, 12345.0, columns);
        EXPECT_LT(line.size(), static_cast<std::size_t>(columns)) << columns << ": " << line;
        EXPECT_FALSE(line.empty()) << columns;
    }
    EXPECT_EQ(ProgressPlainLine("changing model", 40, 5.2), "changing model  40%  0:05 left");
}

TEST(ProgressLine, TimeLeftIsEstimatedFromTheShareDoneSoFar) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        int percent;
        double elapsed;
        std::optional<double> left;
    } cases[] = {
        {0, 10.0, std::nullopt},  // nothing done yet: no estimate
        {-1, 10.0, std::nullopt}, {10, nan, std::nullopt},
        {10, -1.0, std::nullopt}, {10, 0.0, std::nullopt},  // the first look: no time to go by
        {25, 10.0, 30.0},         {50, 30.0, 30.0},
        {99, 99.0, 1.0},          {100, 99.0, 0.0},
    };
    for (const auto& c : cases) {
        const auto left = EstimateSecondsLeft(c.percent, c.elapsed);
        ASSERT_EQ(left.has_value(), c.left.has_value()) << c.percent << "% after " << c.elapsed;
        if (left) {
            EXPECT_DOUBLE_EQ(*left, *c.left) << c.percent << "% after " << c.elapsed;
        }
    }
    EXPECT_EQ(TimeLeftText(std::nullopt), "--:-- left");
    EXPECT_EQ(TimeLeftText(nan), "--:-- left");
    EXPECT_EQ(TimeLeftText(59.6), "1:00 left");
    EXPECT_EQ(TimeLeftText(3600.0), "1:00:00 left");
}

TEST(ProgressOperation, DownloadAndModelChangeIncludingTheirRestart) {
    struct Case {
        ActuatorState state;
        Operation continuing;
        LongOperation is;
    } cases[] = {
        {ActuatorState::Updating, Operation::None, LongOperation::Download},
        // The restart and identification that end a download.
        {ActuatorState::Looking, Operation::Download, LongOperation::Download},
        {ActuatorState::ReadingIdentity, Operation::Download, LongOperation::Download},
        {ActuatorState::ChangingModel, Operation::None, LongOperation::NewModel},
        {ActuatorState::ChangingModelAisg, Operation::ModelChange, LongOperation::NewModel},
        // The restart and check that end a model change.
        {ActuatorState::Looking, Operation::ModelChange, LongOperation::NewModel},
        {ActuatorState::Checking, Operation::ModelChange, LongOperation::NewModel},
        {ActuatorState::Checking, Operation::None, LongOperation::None},
        {ActuatorState::Failed, Operation::None, LongOperation::None},
        {ActuatorState::Moving, Operation::None, LongOperation::None},
        {ActuatorState::Converting, Operation::Conversion, LongOperation::None},
    };
    for (const auto& c : cases) {
        DeviceSnapshot device;
        device.state = c.state;
        device.continuing = c.continuing;
        EXPECT_EQ(LongOperationOf(device), c.is) << static_cast<int>(c.state);
    }
}

// Without a terminal: a line at the start and at every further tenth, each
// with its own figure; a new operation starts its count again.
TEST(ProgressDisplay, PlainLinesAtEveryTenth) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ProgressDisplay display(file, false, 80);
    const auto start = ProgressDisplay::Clock::time_point{} + std::chrono::hours(1);
    const std::pair<int, int> steps[] = {{0, 0},     {3, 1000},  {9, 3000},  {10, 4000},
                                         {15, 5000}, {42, 9000}, {42, 9500}, {100, 20000}};
    for (const auto& [percent, ms] : steps)
        display.Show(LongOperation::Download, percent, start + milliseconds(ms));
    display.Show(LongOperation::None, 0, start + milliseconds(21000));
    display.Show(LongOperation::NewModel, 20, start + milliseconds(22000));
    EXPECT_EQ(Written(file),
              "downloading   0%  --:-- left\n"
              "downloading  10%  0:36 left\n"
              "downloading  42%  0:12 left\n"
              "downloading 100%  0:00 left\n"
              "changing model  20%  --:-- left\n");
    std::fclose(file);
}

// On a terminal: redrawn in place, blanks over a longer line before, and one
// line break when it ends (or before other output).
TEST(ProgressDisplay, ABarRedrawnInPlaceOnATerminal) {
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ProgressDisplay display(file, true, 42);
    const auto start = ProgressDisplay::Clock::time_point{} + std::chrono::hours(1);
    display.Show(LongOperation::Download, 0, start);
    display.Show(LongOperation::Download, 50, start + milliseconds(60000));
    // Over an hour left: no room for the bar on 42 columns.
    display.Show(LongOperation::Download, 51, start + milliseconds(7200000));
    display.Show(LongOperation::Download, 51, start + milliseconds(7200000));  // unchanged
    display.EndLine();
    display.EndLine();
    EXPECT_EQ(Written(file),
              "\rdownloading [          ]   0%  --:-- left"
              "\rdownloading [#####     ]  50%  1:00 left "
              "\rdownloading  51%  1:55:18 left          \n");
    std::fclose(file);
}

TEST(MonitorLine, StampTiltAndStatusLines) {
    struct Case {
        std::optional<std::int32_t> tilt;
        std::pair<std::string, std::string> lines;
        const char* line;
    } cases[] = {
        {std::nullopt,
         {"LOOKING FOR DEVICE", ""},
         "2026-12-11 14:03:27  tilt     -  LOOKING FOR DEVICE"},
        {35, {"READY", ""}, "2026-12-11 14:03:27  tilt   3.5  READY"},
        {-15,
         {"SETTING TILT", "PLEASE WAIT"},
         "2026-12-11 14:03:27  tilt  -1.5  SETTING TILT             PLEASE WAIT"},
        {100,
         {"POSSIBLE PROBLEM", "NO RECOGNIZED ANTENNA MODEL?"},
         "2026-12-11 14:03:27  tilt  10.0  POSSIBLE PROBLEM         NO RECOGNIZED ANTENNA MODEL?"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(MonitorLine("2026-12-11 14:03:27", c.tilt, c.lines), c.line);
}
