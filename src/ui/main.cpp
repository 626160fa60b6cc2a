// kvq: the desktop tool. One dialog shows the actuator on the chosen serial
// port and lets the technician set its tilt and antenna model.

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Demo.h"
#include "app/Environment.h"
#include "app/Paths.h"
#include "app/Process.h"
#include "core/Utf8Path.h"
#include "ui/AppOptions.h"
#include "ui/KVQApp.h"

using namespace kvq::app;

namespace kvq::ui {

int Main(int argc, char** argv) {
    ConnectStandardStreams();
    std::string error;
    auto options = ParseKvqArguments(app::ProgramArguments(argc, argv), error);
    // Files named on the command line are where the program was started, also
    // once the demo has made its own directory the working directory.
    if (options) {
        for (std::optional<std::string>* path : {&options->tracePath, &options->screenshotPath}) {
            if (*path) *path = core::Utf8Text(app::AbsoluteOrAsGiven(core::PathFromUtf8(**path)));
        }
    }

    // The demo's directory must be the working directory before the settings
    // and the antenna table are read.
    std::unique_ptr<DemoSession> demo;
    if (options && options->demo && !options->help) {
        demo = std::make_unique<DemoSession>();
        std::string why;
        if (!demo->Start(why)) {
            std::fprintf(stderr, "kvq: %s\n", why.c_str());
            return 2;
        }
        std::fprintf(stderr,
                     "kvq: demo: antenna table from %s, firmware file %s\n"
                     "kvq: demo: a simulated E-VLX400 (model %s) answers on COM1 (%s); working "
                     "directory %s\n",
                     demo->TableSource().string().c_str(), demo->FirmwarePath().string().c_str(),
                     demo->ModelKey().c_str(), demo->DevicePath().c_str(),
                     demo->Directory().string().c_str());
    }

    // The settings decide first whether the program runs at all: a model it
    // does not serve ends it at once, before anything else, with no window and
    // exit code 0; only the standard error says why.
    ProcessObjects process(demo ? &demo->ToolLine() : nullptr);
    CKVQApp app(process);
    if (!app.Prepare(demo ? demo->FirmwarePath() : std::filesystem::path("vlx400fw.bin"))) {
        std::fprintf(stderr, "kvq: %s\n", UnservedVariantSentence(process.settings).c_str());
        return 0;
    }

    if (!options) {
        std::fprintf(stderr, "kvq: %s\n%s", error.c_str(), KvqUsage);
        return 2;
    }
    if (options->help) {
        std::printf("%s", KvqUsage);
        return 0;
    }
    if (!DisplayAvailable()) {
        std::fprintf(stderr, "%s", NoDisplaySentence);
        return 2;
    }
    // The dialog keeps the last frames for Save Line Trace...; --trace writes
    // them all to a file as well.
    std::string why;
    if (!process.lineTrace.Start(process.serialPort, "kvq", options->tracePath.value_or(""),
                                 LineTrace::DialogFrames, why)) {
        std::fprintf(stderr, "kvq: %s\n", why.c_str());
        return 2;
    }
    const int code = app.InitInstance(argc, argv, options->screenshotPath, options->screenshotThen);
    if (const std::string problem = process.lineTrace.FileProblem(); !problem.empty())
        std::fprintf(stderr, "kvq: %s\n", problem.c_str());
    return code;
}

}  // namespace kvq::ui

int main(int argc, char** argv) {
    return kvq::ui::Main(argc, argv);
}
