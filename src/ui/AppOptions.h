#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvq::actuator {
struct DeviceSnapshot;
}  // namespace kvq::actuator

namespace kvq::ui {

// What kvq was started with.
struct KvqOptions {
    bool demo = false;  // the simulated actuator on COM1, in a demo directory
    bool help = false;
    // Save a picture of the dialog once it shows READY, then end; every box
    // shown meanwhile is saved beside it (FILE-box1.png, ...).
    std::optional<std::string> screenshotPath;
    // After that picture, before the end: "close-while-moving" (start a move,
    // then close) or "port:N" (choose port N from the menu), so their boxes
    // are saved too.
    std::optional<std::string> screenshotThen;
    // Every frame on the line goes to this file as it happens.
    std::optional<std::string> tracePath;
};

// Parses the arguments after the program name; on failure answers nothing and
// says why in error.
std::optional<KvqOptions> ParseKvqArguments(const std::vector<std::string>& args,
                                            std::string& error);

extern const char* const KvqUsage;

// The unattended run takes its picture once the actuator is ready, reports no
// problem and Set Tilt is enabled.
bool ReadyForScreenshot(const actuator::DeviceSnapshot& device, bool setTiltEnabled);
// "close-while-moving" moves to the end of the range farther from the current tilt.
std::int32_t FarEndTilt(const actuator::DeviceSnapshot& device);

// Where the unattended run saves the picture of its n-th box: beside the
// screenshot, FILE-box1.png for FILE.png.
std::string BoxPicturePath(const std::string& screenshotPath, int n);

// The exit code of an unattended run once the dialog has ended: 1, said on the
// standard error, when it ended before READY; else code.
int ScreenshotRunCode(bool readySeen, int code);
// After the dialog: when a worker did not end, the process ends here with code
// (the shared objects it uses go with the caller); otherwise answers code.
int EndOfDialogRun(bool workersJoined, int code);

// Where the standard output and error go when the program was started without
// them: a windowed program on Windows started from a console writes there.
void ConnectStandardStreams();

// Whether a window can be shown at all: an X or Wayland display, or a Qt
// platform named explicitly (such as offscreen).
bool DisplayAvailable();

// The one sentence kvq prints when there is no display.
extern const char* const NoDisplaySentence;

}  // namespace kvq::ui
