// kvqctl: the headless front end. It runs the same start-up as the dialog,
// prints each new pair of status lines, and carries out one command.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "antenna/AntennaTable.h"
#include "antenna/AntennaTables.h"
#include "app/Demo.h"
#include "app/Environment.h"
#include "app/HeadlessControls.h"
#include "app/Paths.h"
#include "app/Process.h"
#include "app/StopSignals.h"
#include "cli/CommandLine.h"
#include "cli/ExitCodes.h"
#include "cli/FirmwareUpdate.h"
#include "cli/ModelChoice.h"
#include "cli/Progress.h"
#include "cli/Report.h"
#include "cli/Terminal.h"
#include "core/Text.h"
#include "core/Utf8Path.h"
#include "serial/PortDiscovery.h"
#include "serial/PortNames.h"
#include "status/StatusTexts.h"
#include "status/TestEngine.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::antenna;
using namespace kvq::actuator;
using namespace kvq::status;
using namespace kvq::app;

namespace kvq::cli {

namespace {

using SteadyClock = std::chrono::steady_clock;

// Where each kind of output goes. With --json the standard output carries
// only JSON lines and everything meant for a person goes to the standard
// error; every ending, errors included, prints one final object.
class Output {
public:
    explicit Output(bool json) : json_(json) {}

    bool Json() const { return json_; }
    // Status lines, reports and listings for a person.
    std::FILE* Human() const { return json_ ? stderr : stdout; }

    // One object of the stream (not the final one).
    void Line(const JsonValue& object) const {
        if (!json_) return;
        std::printf("%s\n", JsonLine(object).c_str());
        std::fflush(stdout);
    }

    // Says what went wrong; the final object carries the same sentence.
    void Error(const std::string& sentence) {
        std::fprintf(stderr, "kvqctl: %s\n", sentence.c_str());
        std::fflush(stderr);
        if (error_.empty()) error_ = sentence;
    }

    // Prints the final object (with --json) and answers the exit code.
    int End(int code, JsonValue final = JsonValue::object()) const {
        if (json_) {
            if (!final.contains("ready")) final["ready"] = false;
            if (!final.contains("progress")) final["progress"] = 0;
            AddEnding(final, code, error_);
            std::printf("%s\n", JsonLine(final).c_str());
        }
        std::fflush(stdout);
        return code;
    }

private:
    bool json_;
    std::string error_;
};

// The port a person knows: its name, and the device and adapter behind it.
std::string DescribePortInUse(const std::string& port) {
    const auto path = DevicePathForPortName(port);
    if (!path) return port;
    for (const auto& info : ListSerialPorts()) {
        if (info.devicePath == *path) {
            const std::string described = DescribePort(info);
            return *path == port ? described : port + " (" + described + ")";
        }
    }
    return *path == port ? port : port + " (" + *path + ")";
}

std::string Seconds(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%g s", seconds);
    return text;
}

class Session {
public:
    Session(ProcessObjects& process, const CliOptions& options, Output& output,
            std::string portName, const FirmwareAtStart& firmware)
        : process_(process),
          options_(options),
          output_(output),
          portName_(std::move(portName)),
          firmware_(firmware),
          device_(process.actuator) {
        if (firmware.file.status == FirmwareFile::Status::Valid)
            firmwareFileVersion_ = firmware.file.version;
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
        onPort_ = process.SystemContext.PortChanges().AddListener([wake] { wake->Notify(); });
        seen_ = wake_->Count();
    }
    ~Session() {
        process_.SystemContext.StatusChanges().RemoveListener(onStatus_);
        process_.SystemContext.PortChanges().RemoveListener(onPort_);
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

    int Run(std::int32_t modelIndex) {
        switch (options_.command) {
            case CliOptions::Command::Monitor:
                return Monitor();
            case CliOptions::Command::Status:
                return Finish(WaitUntilReady());
            case CliOptions::Command::SetTilt:
                return SetTilt();
            case CliOptions::Command::ChangeModel:
                return ChangeModel(modelIndex);
            case CliOptions::Command::UpdateFirmware:
                return UpdateFirmware();
            case CliOptions::Command::Ports:
            case CliOptions::Command::Models:
                break;
        }
        return Finish(ExitUsage);
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

    // The adapter pulled out and put back, said once each way.
    void ShowPortLoss() {
        const bool lost = process_.SystemContext.PortLost.load() != 0;
        if (lost == portLost_) return;
        portLost_ = lost;
        progress_.EndLine();
        const std::string port = DescribePortInUse(portName_);
        if (lost) {
            std::fprintf(stderr,
                         "kvqctl: the adapter on %s is gone (unplugged?); the port is closed and "
                         "will be opened again when the adapter is back\n",
                         port.c_str());
        } else {
            std::fprintf(stderr, "kvqctl: the adapter is back; %s is open again\n", port.c_str());
        }
        std::fflush(stderr);
    }

    void ShowStatus() {
        ShowPortLoss();
        std::string line1, line2;
        if (process_.SystemContext.TakeStatusLines(line1, line2)) ShowLines({line1, line2});
        const DeviceSnapshot device = device_.Snapshot();
        if (output_.Json()) {
            // One object for each change of what it says.
            const JsonValue object = DeviceJson({shown1_, shown2_}, device, firmwareFileVersion_);
            if (object != lastObject_) output_.Line(object);
            lastObject_ = object;
        }
        if (options_.command == CliOptions::Command::Monitor && !shown1_.empty() &&
            ShownTilt(device) != monitorTilt_) {
            progress_.EndLine();
            ShowMonitorLine(device);
        }
        // A download or a model change shows how far it is, on the standard
        // error whatever the standard output carries.
        operation_ = LongOperationOf(device);
        progress_.Show(operation_, ProgressOf(device), SteadyClock::now());
    }
    void ShowLines(const StatusLines& lines) {
        if (lines.first == shown1_ && lines.second == shown2_) return;
        progress_.EndLine();
        shown1_ = lines.first;
        shown2_ = lines.second;
        if (options_.command == CliOptions::Command::Monitor)
            return ShowMonitorLine(device_.Snapshot());
        std::fprintf(output_.Human(), "%-24s %s\n", lines.first.c_str(), lines.second.c_str());
        std::fflush(output_.Human());
    }
    // A line of monitor, a log to read later: when, where the tilt stood and
    // the status lines. A new one for each change of the lines or the tilt.
    void ShowMonitorLine(const DeviceSnapshot& device) {
        monitorTilt_ = ShownTilt(device);
        const std::string line =
            MonitorLine(LocalTimeText(std::time(nullptr)), monitorTilt_, {shown1_, shown2_});
        std::fprintf(output_.Human(), "%s\n", line.c_str());
        std::fflush(output_.Human());
    }
    // The tilt read from the actuator found now; none while it is looked for
    // or before its tilt has come back.
    std::optional<std::int32_t> ShownTilt(const DeviceSnapshot& device) {
        return device.tiltKnown ? std::optional<std::int32_t>(device.currentTilt) : std::nullopt;
    }

    // Waits for the end of the check. ExitDone when it was reached.
    int WaitUntilReady() {
        for (;;) {
            const DeviceSnapshot device = device_.Snapshot();
            if (TakesRequests(device)) break;
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
            const bool ready = TakesRequests(device);
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
            output_.Error("a tilt of " + TiltText(options_.tilt) +
                          " degrees is outside the range of antenna model '" + device.antennaModel +
                          "' (" + TiltText(device.minTilt) + " to " + TiltText(device.maxTilt) +
                          " degrees); nothing was sent");
            return Finish(ExitUsage);
        }
        RequestSetTilt(process_, options_.tilt);
        return Finish(WaitForOperation());
    }

    int ChangeModel(std::int32_t modelIndex) {
        int code = WaitUntilReady();
        if (code != ExitDone) return Finish(code);
        AntennaRecord wanted;
        process_.antennaTable.GetRecord(modelIndex, wanted);
        RequestModelChange(process_, modelIndex);
        code = WaitForOperation();
        const std::string reported = device_.Snapshot().antennaModel;
        if (code == ExitDone && reported != wanted.displayName) {
            output_.Error("the actuator now reports antenna model '" + reported + "', not '" +
                          wanted.displayName + "'");
            code = ExitProblem;
        }
        return Finish(code);
    }

    // The download, when the versions differ, runs as part of identification;
    // the wait ends when the actuator is ready again or has failed.
    int UpdateFirmware() {
        const int code = WaitUntilReady();
        const UpdateOutcome outcome = JudgeUpdate(code, firmware_, device_.Snapshot());
        if (outcome.isError) {
            output_.Error(outcome.message);
        } else if (!outcome.message.empty()) {
            std::fprintf(output_.Human(), "kvqctl: %s\n", outcome.message.c_str());
        }
        return Finish(outcome.exitCode);
    }

    // What a time-out leaves a technician to check.
    std::string TimeoutSentence(const DeviceSnapshot& device) const {
        const std::string after = "timed out after " + Seconds(options_.timeoutSeconds.value_or(0));
        const std::string port = DescribePortInUse(portName_);
        // Searching until the actuator answers (and again after it was lost).
        if (ActivityOf(device) == Activity::Looking || ActivityOf(device) == Activity::Lost) {
            return after + ": no actuator answered on " + port +
                   " (looked for at HDLC address 20, at 115200 baud and in AISG mode at 9600 "
                   "baud). Check that this is the port the RS-485 adapter is on ('kvqctl ports' "
                   "lists them, --port chooses), that the adapter is plugged in, and the "
                   "actuator's power and its wiring to the adapter.";
        }
        return after + " on " + port + ": the actuator answered but did not finish (" +
               StateText(device) + "; status " + shown1_ +
               (shown2_.empty() ? "" : " / " + shown2_) +
               "). Check the actuator's power and its wiring to the adapter, then try again; a "
               "firmware download needs a longer --timeout.";
    }

    // Everything reported at the end comes from one snapshot of the record,
    // the status lines included, so they cannot contradict each other.
    int Finish(int code, bool report = true) {
        const DeviceSnapshot device = device_.Snapshot();
        const StatusLines lines =
            CTestEngine::LinesFor(device, process_.serialPort.IsOpen.load() != 0,
                                  process_.SystemContext.PortLost.load() != 0);
        if (code == ExitDone || code == ExitProblem) ShowLines(lines);
        progress_.EndLine();
        if (code == ExitDone && !device.problemText.empty()) code = ExitProblem;
        if (code == ExitTimeout) output_.Error(TimeoutSentence(device));
        // Only update-firmware writes the software; the others say what it would install.
        if (options_.command != CliOptions::Command::UpdateFirmware) {
            if (const auto note = VersionDifference(firmware_, device))
                std::fprintf(stderr, "kvqctl: %s\n", note->c_str());
        }
        if (code > 128) {
            output_.Error(std::string("stopped by ") +
                          (code == 128 + SIGINT ? "Ctrl-C (SIGINT)" : "a signal") +
                          "; the port is closed on the way out");
        }
        if (code == ExitProblem && device.state == ActuatorState::Failed)
            output_.Error("the actuator failed: " + lines.first + " " + lines.second);
        if (code == ExitProblem && device.state != ActuatorState::Failed &&
            !device.problemText.empty()) {
            output_.Error("the actuator reports a problem: " + device.problemText);
        }
        // The report is for a person: with --json it goes to the standard error
        // beside the status lines, and the final object carries the same facts.
        if (report && (code == ExitDone || code == ExitProblem))
            std::fprintf(output_.Human(), "%s", DeviceReport(device).c_str());
        return output_.End(code, DeviceJson(lines, device, firmwareFileVersion_));
    }

    ProcessObjects& process_;
    const CliOptions& options_;
    Output& output_;
    std::string portName_;
    const FirmwareAtStart& firmware_;
    std::optional<std::string> firmwareFileVersion_;  // of a usable firmware file
    CVLX400E& device_;
    std::optional<SteadyClock::time_point> deadline_;
    std::shared_ptr<ChangeSignal> wake_ = std::make_shared<ChangeSignal>();
    ChangeSignal::ListenerId onStatus_ = 0;
    ChangeSignal::ListenerId onRecord_ = 0;
    ChangeSignal::ListenerId onPort_ = 0;
    bool portLost_ = false;
    std::uint64_t seen_ = 0;
    std::string shown1_, shown2_;
    JsonValue lastObject_;
    ProgressDisplay progress_{stderr, StandardErrorIsTerminal(), StandardErrorColumns()};
    LongOperation operation_ = LongOperation::None;
    std::optional<std::int32_t> monitorTilt_;
    std::atomic<int> signal_{0};
};

std::string NoTableSentence() {
    std::error_code ignored;
    return "No Antenna Table File Found! (no antenna table *.ascu with a model in " +
           std::filesystem::current_path(ignored).string() + ")";
}

int ListPorts(const Output& output) {
    const auto ports = ListedPortsInOrder(ListSerialPorts());
    std::fprintf(output.Human(), "%s", PortsReport(ports).c_str());
    return output.End(ExitDone, {{"ports", PortsJson(ports)}});
}

int ListModels(Output& output) {
    CAntennaTable table;
    const bool listed = !LoadAntennaTables(table).empty();
    std::fputs(DescribeTableLoad(table, "kvqctl: ").c_str(), stderr);
    if (!listed) {
        output.Error(NoTableSentence());
        return output.End(ExitUsage);
    }
    std::fprintf(output.Human(), "%s", ModelsReport(table).c_str());
    return output.End(ExitDone, {{"models", ModelsJson(table)}});
}

}  // namespace

int Main(int argc, char** argv) {
    const std::vector<std::string> args = app::ProgramArguments(argc, argv);
    Output output(AsksForJson(args));
    std::string error;
    auto options = ParseCommandLine(args, error);
    if (!options) {
        output.Error(error);
        std::fprintf(stderr, "Run 'kvqctl --help' for the commands, options and exit codes.\n");
        return output.End(ExitUsage);
    }
    if (options->help || options->version) {
        const std::string text = options->help ? UsageText() : VersionText();
        std::fprintf(output.Human(), "%s", text.c_str());
        return output.End(ExitDone);
    }

    // Files given by name are taken from where kvqctl was started, also once
    // the demo has made its own directory the working directory.
    std::filesystem::path firmwarePath = FirmwarePathFor(options->firmware);
    if (options->traceFile)
        options->traceFile =
            core::Utf8Text(app::AbsoluteOrAsGiven(core::PathFromUtf8(*options->traceFile)));
    const bool updateFirmware = options->command == CliOptions::Command::UpdateFirmware;

    // The demo's directory must be the working directory before the settings
    // and the antenna table are read; it outlives the workers.
    std::unique_ptr<DemoSession> demo;
    if (options->demo) {
        demo = std::make_unique<DemoSession>();
        std::string why;
        if (!demo->Start(why)) {
            output.Error(why);
            return output.End(ExitNoPort);
        }
        std::fprintf(stderr,
                     "kvqctl: demo: a simulated E-VLX400 (model %s) answers on COM1 (%s); "
                     "working directory %s\n",
                     demo->ModelKey().c_str(), demo->DevicePath().c_str(),
                     demo->Directory().string().c_str());
        if (!options->firmware) firmwarePath = demo->FirmwarePath();
    }
    if (options->command == CliOptions::Command::Ports) return ListPorts(output);
    if (options->command == CliOptions::Command::Models) return ListModels(output);

    ProcessObjects process(demo ? &demo->ToolLine() : nullptr);
    const FirmwareUse firmwareUse{FirmwarePolicyFor(updateFirmware), firmwarePath};
    if (!PrepareProcess(process, firmwareUse)) {
        output.Error(UnservedVariantSentence(process.settings));
        return output.End(ExitUsage);
    }

    HeadlessTiltSlider slider;
    HeadlessModelList models;
    const bool modelsListed = PrepareControls(process, &slider, &models);
    // The table chosen and every line of it that was not taken as written.
    std::fputs(DescribeTableLoad(process.antennaTable, "kvqctl: ").c_str(), stderr);
    if (!modelsListed) {
        output.Error(NoTableSentence());
        return output.End(ExitUsage);
    }

    // A name that means no model, or more than one, is refused before the
    // port is touched.
    std::int32_t modelIndex = 0;
    if (options->command == CliOptions::Command::ChangeModel) {
        const ModelChoice choice = ChooseModel(process.antennaTable, options->modelName);
        if (!choice.index) {
            output.Error(ModelChoiceError(choice, options->modelName));
            return output.End(ExitUsage);
        }
        modelIndex = *choice.index;
    }

    // Checked before the port is opened: a file that cannot be sent is never
    // near the actuator.
    const FirmwareAtStart firmware = ReadFirmwareAtStart(firmwarePath);
    if (const auto refusal = FirmwareFileRefusal(firmware, updateFirmware)) {
        if (updateFirmware) {
            output.Error(*refusal);
            return output.End(ExitUsage);
        }
        std::fprintf(stderr, "kvqctl: %s\n", refusal->c_str());
    }

    std::string port;
    if (options->port) {
        port = *options->port;
    } else if (const auto ports = ListedPortsInOrder(ListSerialPorts()); !ports.empty()) {
        // As the dialog chooses: the first port present.
        port = ports.front().data;
    }
    if (port.empty()) {
        output.Error(
            "no serial ports are available; name one with --port, e.g. --port /dev/ttyUSB0");
        return output.End(ExitNoPort);
    }
    {
        // Tried once here so a port that cannot be opened is reported at once.
        SerialLine& probe = process.serialPort;
        probe.Open(port, 115200);
        const bool opened = probe.IsOpen.load() != 0;
        probe.Close();
        if (!opened) {
            output.Error(DescribeOpenFailure(probe.LastOpenFailure(), port, probe.LastOpenError()));
            return output.End(ExitNoPort);
        }
    }

    CliOptions effective = *options;
    if (!effective.timeoutSeconds)
        effective.timeoutSeconds = DefaultTimeoutSeconds(options->command, firmware.file.size);
    if (options->traceFile) {
        std::string why;
        if (!process.lineTrace.Start(process.serialPort, "kvqctl", *options->traceFile, 0, why)) {
            output.Error(why);
            return output.End(ExitUsage);
        }
    }
    Session session(process, effective, output, port, firmware);
    WatchStopSignals([&session](int signal) { session.OnSignal(signal); });
    StartWorkers(process, port);
    const int code = session.Run(modelIndex);
    StopWatchingStopSignals();
    if (!StopWorkers(process)) std::fprintf(stderr, "kvqctl: a worker did not end in time\n");
    if (const std::string problem = process.lineTrace.FileProblem(); !problem.empty())
        std::fprintf(stderr, "kvqctl: %s\n", problem.c_str());
    return code;
}

}  // namespace kvq::cli

int main(int argc, char** argv) {
    return kvq::cli::Main(argc, argv);
}
