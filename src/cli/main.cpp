// kvqctl: the headless front end. It runs the same start-up as the dialog,
// prints each new pair of status lines, and carries out one command.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "app/Demo.h"
#include "app/HeadlessControls.h"
#include "app/Process.h"
#include "app/StopSignals.h"
#include "cli/CommandLine.h"
#include "cli/ExitCodes.h"
#include "cli/FirmwareUpdate.h"
#include "cli/Report.h"
#include "cli/Terminal.h"
#include "serial/PortNames.h"
#include "status/TestEngine.h"

namespace {

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
    Session(ProcessObjects& process, const CliOptions& options, const FirmwareAtStart& firmware)
        : process_(process), options_(options), firmware_(firmware), device_(process.actuator) {
        if (options.timeoutSeconds) {
            deadline_ =
                SteadyClock::now() +
                std::chrono::milliseconds(static_cast<long long>(*options.timeoutSeconds * 1000));
        }
        // The main thread waits on the status lines, the record and the stop
        // signals together.
        const auto wake = wake_;
        onStatus_ = process.SystemContext.StatusChanges().AddListener([wake] { wake->Notify(); });
        onRecord_ = device_.Changes().AddListener([wake] { wake->Notify(); });
        seen_ = wake_->Count();
    }
    ~Session() {
        process_.SystemContext.StatusChanges().RemoveListener(onStatus_);
        device_.Changes().RemoveListener(onRecord_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // A stop signal came (on the signal watcher's thread).
    void OnSignal(int signal) {
        int none = 0;
        signal_.compare_exchange_strong(none, signal);
        wake_->Notify();
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
            case CliOptions::Command::UpdateFirmware:
                return UpdateFirmware();
        }
        return ExitUsage;
    }

private:
    bool TimedOut() const { return deadline_ && SteadyClock::now() >= *deadline_; }
    int Interrupted() const { return signal_.load() ? 128 + signal_.load() : ExitTimeout; }

    // One turn of waiting: shows what changed, then waits for the next change;
    // false when the wait must end (a signal or the time-out).
    bool Tick() {
        if (signal_.load()) return false;
        ShowStatus();
        if (TimedOut()) return false;
        std::uint32_t wait = std::numeric_limits<std::uint32_t>::max();
        if (deadline_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  *deadline_ - SteadyClock::now())
                                  .count();
            wait = static_cast<std::uint32_t>(std::clamp<long long>(left + 1, 0, wait));
        }
        seen_ = wake_->WaitForChange(seen_, wait);
        return signal_.load() == 0 && !TimedOut();
    }

    void ShowStatus() {
        std::string line1, line2;
        if (process_.SystemContext.TakeStatusLines(line1, line2)) ShowLines({line1, line2});
        if (device_.Snapshot().state == ActuatorState::Updating && StandardOutputIsTerminal()) {
            const int percent = static_cast<int>(device_.Snapshot().progress);
            const int filled = percent / 5;
            std::printf("\rdownloading [%-20s] %3d%%", std::string(filled, '#').c_str(), percent);
            std::fflush(stdout);
            progressShown_ = true;
        } else {
            EndProgressLine();
        }
    }
    void ShowLines(const StatusLines& lines) {
        if (lines.first == shown1_ && lines.second == shown2_) return;
        EndProgressLine();
        std::printf("%-24s %s\n", lines.first.c_str(), lines.second.c_str());
        std::fflush(stdout);
        shown1_ = lines.first;
        shown2_ = lines.second;
    }
    void EndProgressLine() {
        if (progressShown_) std::printf("\n");
        progressShown_ = false;
    }

    // Waits for the end of the check. ExitDone when it was reached.
    int WaitUntilReady() {
        for (;;) {
            const DeviceSnapshot device = device_.Snapshot();
            if (device.ReadyForRequests()) break;
            if (device.state == ActuatorState::Failed) return ExitProblem;
            if (!Tick()) return Interrupted();
        }
        ShowStatus();
        return ExitDone;
    }

    // Waits for the operation just requested to leave the ready state and end
    // in it again, or fail.
    int WaitForOperation() {
        bool left = false;
        for (;;) {
            const DeviceSnapshot device = device_.Snapshot();
            const bool failed = device.state == ActuatorState::Failed;
            const bool ready = device.ReadyForRequests();
            if (!ready || failed) left = true;
            if (left && failed) return ExitProblem;
            if (left && ready) break;
            if (!Tick()) return Interrupted();
        }
        ShowStatus();
        return ExitDone;
    }

    int Monitor() {
        while (Tick()) {
        }
        return Finish(signal_.load() ? 128 + signal_.load() : ExitDone, false);
    }

    int SetTilt() {
        int code = WaitUntilReady();
        if (code != ExitDone) return Finish(code);
        const DeviceSnapshot device = device_.Snapshot();
        if (options_.tilt < device.minTilt || options_.tilt > device.maxTilt) {
            std::fprintf(stderr,
                         "kvqctl: a tilt of %s degrees is outside the range of antenna model "
                         "'%s' (%s to %s degrees); nothing was sent\n",
                         TiltText(options_.tilt).c_str(), device.antennaModel.c_str(),
                         TiltText(device.minTilt).c_str(), TiltText(device.maxTilt).c_str());
            return Finish(ExitUsage);
        }
        RequestSetTilt(process_, options_.tilt);
        return Finish(WaitForOperation());
    }

    int ChangeModel() {
        int code = WaitUntilReady();
        if (code != ExitDone) return Finish(code);
        const auto model = SelectModelByName(process_, options_.modelName);
        if (!model) {
            std::fprintf(stderr,
                         "kvqctl: the antenna table has no model named '%s'; nothing was sent\n",
                         options_.modelName.c_str());
            return Finish(ExitUsage);
        }
        RequestModelChange(process_, *model);
        code = WaitForOperation();
        const std::string reported = device_.Snapshot().antennaModel;
        if (code == ExitDone && reported != options_.modelName) {
            std::fprintf(stderr, "kvqctl: the actuator now reports antenna model '%s', not '%s'\n",
                         reported.c_str(), options_.modelName.c_str());
            code = ExitProblem;
        }
        return Finish(code);
    }

    // The download, when the versions differ, runs as part of identification;
    // the wait ends when the actuator is ready again or has failed.
    int UpdateFirmware() {
        const int code = WaitUntilReady();
        const UpdateOutcome outcome = JudgeUpdate(code, firmware_, device_.Snapshot());
        if (!outcome.message.empty()) {
            std::fprintf(outcome.isError || options_.json ? stderr : stdout, "kvqctl: %s\n",
                         outcome.message.c_str());
        }
        return Finish(outcome.exitCode);
    }

    // Everything reported at the end comes from one snapshot of the record,
    // the status lines included, so they cannot contradict each other.
    int Finish(int code, bool report = true) {
        const DeviceSnapshot device = device_.Snapshot();
        const StatusLines lines =
            CTestEngine::LinesFor(device, process_.serialPort.IsOpen.load() != 0);
        if (code == ExitDone || code == ExitProblem) ShowLines(lines);
        EndProgressLine();
        if (code == ExitDone && !device.problemText.empty()) code = ExitProblem;
        if (code == ExitTimeout) std::fprintf(stderr, "kvqctl: timed out\n");
        if (options_.command != CliOptions::Command::UpdateFirmware) {
            if (const auto note = VersionDifference(firmware_, device))
                std::fprintf(stderr, "kvqctl: %s\n", note->c_str());
        }
        std::optional<std::string> fileVersion;
        if (firmware_.file.status == FirmwareFile::Status::Valid)
            fileVersion = firmware_.file.version;
        if (options_.json) {
            std::printf("%s\n", DeviceJson(lines, device, fileVersion).c_str());
        } else if (report && (code == ExitDone || code == ExitProblem)) {
            std::printf("%s", DeviceReport(device).c_str());
        }
        std::fflush(stdout);
        return code;
    }

    ProcessObjects& process_;
    const CliOptions& options_;
    const FirmwareAtStart& firmware_;
    CVLX400E& device_;
    std::optional<SteadyClock::time_point> deadline_;
    std::shared_ptr<ChangeSignal> wake_ = std::make_shared<ChangeSignal>();
    ChangeSignal::ListenerId onStatus_ = 0;
    ChangeSignal::ListenerId onRecord_ = 0;
    std::uint64_t seen_ = 0;
    std::string shown1_, shown2_;
    bool progressShown_ = false;
    std::atomic<int> signal_{0};
};

}  // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!options) {
        std::fprintf(stderr, "kvqctl: %s\n%s", error.c_str(), CliUsage);
        return ExitUsage;
    }
    // A firmware file given by name is taken from where kvqctl was started.
    const std::filesystem::path firmwarePath = FirmwarePathFor(options->firmware);
    const bool updateFirmware = options->command == CliOptions::Command::UpdateFirmware;

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
    const FirmwareUse firmwareUse{FirmwarePolicyFor(updateFirmware), firmwarePath};
    if (!PrepareProcess(process, firmwareUse)) return ExitDone;  // a variant this tool does not serve

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

    // Checked before the port is opened: a file that cannot be sent is never
    // near the actuator.
    const FirmwareAtStart firmware = ReadFirmwareAtStart(firmwarePath);
    if (const auto refusal = FirmwareFileRefusal(firmware, updateFirmware)) {
        std::fprintf(stderr, "kvqctl: %s\n", refusal->c_str());
        if (updateFirmware) return ExitUsage;
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

    CliOptions effective = *options;
    if (!effective.timeoutSeconds && updateFirmware) {
        effective.timeoutSeconds = UpdateFirmwareTimeoutSeconds(firmware.file.size);
    } else if (!effective.timeoutSeconds && effective.command != CliOptions::Command::Monitor) {
        effective.timeoutSeconds = 900;
    }
    Session session(process, effective, firmware);
    WatchStopSignals([&session](int signal) { session.OnSignal(signal); });
    StartWorkers(process, port);
    const int code = session.Run();
    StopWatchingStopSignals();
    if (!StopWorkers(process)) std::fprintf(stderr, "kvqctl: a worker did not end in time\n");
    return code;
}
