// kvqctl: the headless front end. It runs the same start-up as the dialog,
// prints each new pair of status lines, and carries out one command.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "actuator/Actuator.h"
#include "cli/CommandLine.h"
#include "app/Demo.h"
#include "app/HeadlessControls.h"
#include "serial/PortNames.h"
#include "app/Process.h"
#include "cli/Report.h"
#include "app/StopSignals.h"

namespace {

enum ExitCode {
    ExitDone = 0,
    ExitProblem = 1,
    ExitUsage = 2,
    ExitTimeout = 3,
    ExitNoPort = 4,
};

using SteadyClock = std::chrono::steady_clock;

// The lowest present port of COM1 to COM8, as the dialog would choose it.
std::string LowestPresentPort() {
    int lowest = 0;
    for (const auto& entry : BuildPortMap()) {
        const int number = std::atoi(entry.comName.c_str() + 3);
        if (number >= 1 && number <= 8 && (lowest == 0 || number < lowest)) lowest = number;
    }
    return lowest == 0 ? std::string() : "COM" + std::to_string(lowest);
}

class Session {
public:
    Session(ProcessObjects& process, const CliOptions& options)
        : process_(process), options_(options), device_(*process.SystemContext.GetActuator()) {
        if (options.timeoutSeconds) {
            deadline_ =
                SteadyClock::now() +
                std::chrono::milliseconds(static_cast<long long>(*options.timeoutSeconds * 1000));
        }
    }

    int Run() {
        switch (options_.command) {
            case CliOptions::Command::Monitor:
                return Monitor();
            case CliOptions::Command::Status:
                return Finish(WaitUntilReady());
            case CliOptions::Command::SetTilt:
                return SetTilt();
            case CliOptions::Command::ChangeModel:
                return ChangeModel();
        }
        return ExitUsage;
    }

    int Signal() const { return signal_; }

private:
    // The check is complete, its tilt has been read back, and the status lines
    // say so, as the dialog would show it.
    bool Ready() const {
        if (device_.state.load() != ScanSerial || device_.step.load() < 8 ||
            !device_.tiltAnswered.load()) {
            return false;
        }
        const std::string line1 = process_.SystemContext.GetStatusLine1();
        return line1 == "READY" || line1 == "POSSIBLE PROBLEM";
    }
    bool TimedOut() const { return deadline_ && SteadyClock::now() >= *deadline_; }

    // One turn of waiting: shows what changed; false when the wait must end
    // (a signal or the time-out).
    bool Tick() {
        if (const int signal = WaitForStopSignal(20)) {
            signal_ = signal;
            return false;
        }
        ShowStatus();
        return !TimedOut();
    }

    void ShowStatus() {
        std::string line1, line2;
        if (process_.SystemContext.TakeStatusLines(line1, line2) &&
            (line1 != shown1_ || line2 != shown2_)) {
            EndProgressLine();
            std::printf("%-24s %s\n", line1.c_str(), line2.c_str());
            std::fflush(stdout);
            shown1_ = line1;
            shown2_ = line2;
        }
        if (device_.state.load() == Updating && isatty(STDOUT_FILENO)) {
            const int percent = static_cast<int>(device_.progress.load());
            const int filled = percent / 5;
            std::printf("\rdownloading [%-20s] %3d%%", std::string(filled, '#').c_str(), percent);
            std::fflush(stdout);
            progressShown_ = true;
        } else {
            EndProgressLine();
        }
    }
    void EndProgressLine() {
        if (progressShown_) std::printf("\n");
        progressShown_ = false;
    }

    // Waits for the end of the check. ExitDone when it was reached.
    int WaitUntilReady() {
        while (!Ready()) {
            if (device_.state.load() == Failed) return ExitProblem;
            if (!Tick()) return signal_ ? 128 + signal_ : ExitTimeout;
        }
        ShowStatus();
        return ExitDone;
    }

    // Waits for the operation just requested to leave the ready state and end
    // in it again, or fail.
    int WaitForOperation() {
        bool left = false;
        for (;;) {
            const bool failed = device_.state.load() == Failed;
            if (!Ready() || failed) left = true;
            if (left && failed) return ExitProblem;
            if (left && Ready()) break;
            if (!Tick()) return signal_ ? 128 + signal_ : ExitTimeout;
        }
        ShowStatus();
        return ExitDone;
    }

    int Monitor() {
        while (Tick()) {
        }
        return Finish(signal_ ? 128 + signal_ : ExitDone, false);
    }

    int SetTilt() {
        int code = WaitUntilReady();
        if (code != ExitDone) return Finish(code);
        const std::int32_t low = device_.minTilt.load();
        const std::int32_t high = device_.maxTilt.load();
        if (options_.tilt < low || options_.tilt > high) {
            std::fprintf(stderr,
                         "kvqctl: a tilt of %s degrees is outside the range of antenna model "
                         "'%s' (%s to %s degrees); nothing was sent\n",
                         Degrees(options_.tilt).c_str(), device_.antennaModel.Get().c_str(),
                         Degrees(low).c_str(), Degrees(high).c_str());
            return Finish(ExitUsage);
        }
        device_.requestedTilt.store(options_.tilt);
        PostThreadMessage(device_.threadId.load(), MsgSetTilt);
        return Finish(WaitForOperation());
    }

    int ChangeModel() {
        int code = WaitUntilReady();
        if (code != ExitDone) return Finish(code);
        if (!process_.SystemContext.SelectModelByName(options_.modelName)) {
            std::fprintf(stderr,
                         "kvqctl: the antenna table has no model named '%s'; nothing was sent\n",
                         options_.modelName.c_str());
            return Finish(ExitUsage);
        }
        PostThreadMessage(device_.threadId.load(), MsgChangeModel);
        code = WaitForOperation();
        if (code == ExitDone && device_.antennaModel.Get() != options_.modelName) {
            std::fprintf(stderr, "kvqctl: the actuator now reports antenna model '%s', not '%s'\n",
                         device_.antennaModel.Get().c_str(), options_.modelName.c_str());
            code = ExitProblem;
        }
        return Finish(code);
    }

    int Finish(int code, bool report = true) {
        EndProgressLine();
        if (code == ExitDone && !device_.problemText.Get().empty()) code = ExitProblem;
        if (code == ExitTimeout) std::fprintf(stderr, "kvqctl: timed out\n");
        if (options_.json) {
            std::printf("%s\n", DeviceJson(process_.SystemContext, device_).c_str());
        } else if (report && (code == ExitDone || code == ExitProblem)) {
            std::printf("%s", DeviceReport(device_).c_str());
        }
        std::fflush(stdout);
        return code;
    }

    ProcessObjects& process_;
    const CliOptions& options_;
    CActuator& device_;
    std::optional<SteadyClock::time_point> deadline_;
    std::string shown1_, shown2_;
    bool progressShown_ = false;
    int signal_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "kvqctl: %s\n%s", error.c_str(), CliUsage);
        return ExitUsage;
    }
    // The demo's directory must be the working directory before the settings
    // and the antenna table are read; it outlives the workers.
    std::unique_ptr<DemoSession> demo;
    if (options->demo) {
        demo = std::make_unique<DemoSession>();
        std::string why;
        if (!demo->Start(why)) {
            std::fprintf(stderr, "kvqctl: %s\n", why.c_str());
            return ExitNoPort;
        }
        std::fprintf(stderr,
                     "kvqctl: demo: a simulated E-VLX400 (model %s) answers on COM1 (%s); "
                     "working directory %s\n",
                     demo->ModelKey().c_str(), demo->DevicePath().c_str(),
                     demo->Directory().c_str());
    }

    ProcessObjects process(demo ? &demo->ToolLine() : nullptr);
    if (!PrepareProcess(process)) return ExitDone;  // a variant this tool does not serve

    HeadlessTiltSlider slider;
    HeadlessModelList models;
    if (!PrepareControls(process, &slider, &models)) {
        std::error_code ignored;
        std::fprintf(stderr,
                     "kvqctl: No Antenna Table File Found! (no antenna table *.ascu with a model "
                     "in %s)\n",
                     std::filesystem::current_path(ignored).c_str());
        return ExitUsage;
    }

    const std::string port = options->port ? *options->port : LowestPresentPort();
    if (port.empty()) {
        std::fprintf(stderr,
                     "kvqctl: no serial ports are available; name one with --port, e.g. --port "
                     "/dev/ttyUSB0\n");
        return ExitNoPort;
    }
    {
        // Tried once here so a port that cannot be opened is reported at once.
        SerialLine& probe = process.serialPort;
        probe.Open(port, 115200);
        const bool opened = probe.IsOpen.load() != 0;
        probe.Close();
        if (!opened) {
            std::fprintf(
                stderr, "kvqctl: %s\n",
                DescribeOpenFailure(probe.LastOpenFailure(), port, probe.LastOpenError()).c_str());
            return ExitNoPort;
        }
    }

    BlockStopSignals();
    StartWorkers(process, port);
    CliOptions effective = *options;
    if (!effective.timeoutSeconds && effective.command != CliOptions::Command::Monitor) {
        // Long enough for a firmware download of a few hundred kilobytes.
        effective.timeoutSeconds = 900;
    }
    Session session(process, effective);
    const int code = session.Run();
    if (!StopWorkers(process)) std::fprintf(stderr, "kvqctl: a worker did not end in time\n");
    return code;
}
