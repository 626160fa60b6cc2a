#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace kvq::app {
struct ProcessObjects;
}  // namespace kvq::app

namespace kvq::ui {

// The application object: prepares the shared objects before any window
// exists, then runs the main dialog as the whole program (with Qt on Linux,
// as a native dialog on Windows).
class CKVQApp {
public:
    explicit CKVQApp(app::ProcessObjects& process);
    ~CKVQApp();
    CKVQApp(const CKVQApp&) = delete;
    CKVQApp& operator=(const CKVQApp&) = delete;

    // Reads the settings and creates the actuator's record. False when the
    // settings name a model this tool does not serve: the program must then
    // end at once, silently, with exit code 0. firmwareFile: the file the
    // actuator is kept at ("vlx400fw.bin" in the working directory, or the
    // demo's).
    bool Prepare(const std::filesystem::path& firmwareFile = "vlx400fw.bin");

    // Runs the main dialog modally and answers the exit code. With a
    // screenshot path the dialog is saved as a PNG once it shows READY and
    // then closed; messages go to the standard error instead of waiting for
    // someone, and each box is saved beside the picture (FILE-box1.png, ...).
    // After the picture, screenshotThen ("close-while-moving", "port:N") is
    // done before the end, so the boxes it brings are saved as well.
    int InitInstance(int& argc, char** argv,
                     const std::optional<std::string>& screenshotPath = std::nullopt,
                     const std::optional<std::string>& screenshotThen = std::nullopt);

private:
    app::ProcessObjects& process_;
};

}  // namespace kvq::ui
