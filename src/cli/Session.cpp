#include "cli/Session.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <limits>

#include "antenna/AntennaTable.h"
#include "app/Process.h"
#include "cli/ExitCodes.h"
#include "cli/Report.h"
#include "cli/Terminal.h"
#include "core/Text.h"
#include "serial/PortDiscovery.h"
#include "serial/PortNames.h"
#include "status/StatusTexts.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::antenna;
using namespace kvq::actuator;
using namespace kvq::status;
using namespace kvq::app;

namespace kvq::cli {

namespace {

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

// The tilt read from the actuator found now; none while it is looked for or
// before its tilt has come back.
std::optional<std::int32_t> ShownTilt(const DeviceSnapshot& device) {
    return device.tiltKnown ? std::optional<std::int32_t>(device.currentTilt) : std::nullopt;
}

}  // namespace

Session::Session(ProcessObjects& process, const CliOptions& options, Output& output,
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

Session::~Session() {
    process_.SystemContext.StatusChanges().RemoveListener(onStatus_);
    process_.SystemContext.PortChanges().RemoveListener(onPort_);
    device_.Changes().RemoveListener(onRecord_);
}

void Session::OnSignal(int signal) {
    int none = 0;
    signal_.compare_exchange_strong(none, signal);
    wake_->Notify();
}

int Session::Run(std::int32_t modelIndex) {
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

bool Session::TimedOut() const {
    return deadline_ && SteadyClock::now() >= *deadline_;
}

int Session::Interrupted() const {
    return signal_.load() ? 128 + signal_.load() : ExitTimeout;
}

// One turn of waiting: shows what changed, then waits for the next change;
// false when the wait must end (a signal or the time-out).
bool Session::Tick() {
    if (signal_.load()) return false;
    ShowStatus();
    if (TimedOut()) return false;
    std::uint32_t wait = std::numeric_limits<std::uint32_t>::max();
    if (deadline_) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - SteadyClock::now())
                .count();
        wait = static_cast<std::uint32_t>(std::clamp<long long>(left + 1, 0, wait));
    }
    seen_ = wake_->WaitForChange(seen_, wait);
    return signal_.load() == 0 && !TimedOut();
}

// The adapter pulled out and put back, said once each way.
void Session::ShowPortLoss() {
    const bool lost = process_.SystemContext.PortLost.load() != 0;
    if (lost == portLost_) return;
    portLost_ = lost;
    const std::string port = DescribePortInUse(portName_);
    if (lost) {
        output_.Note("the adapter on " + port +
                     " is gone (unplugged?); the port is closed and will be opened again when the "
                     "adapter is back");
    } else {
        output_.Note("the adapter is back; " + port + " is open again");
    }
}

void Session::ShowStatus() {
    ShowPortLoss();
    std::string line1, line2;
    if (process_.SystemContext.TakeStatusLines(line1, line2)) ShowLines({line1, line2});
    const DeviceSnapshot device = device_.Snapshot();
    output_.State({{shown1_, shown2_}, device, firmwareFileVersion_});
    if (options_.command == CliOptions::Command::Monitor && !shown1_.empty() &&
        ShownTilt(device) != monitorTilt_) {
        ShowMonitorLine(device);
    }
    // A download or a model change shows how far it is, on the standard
    // error whatever the standard output carries.
    operation_ = LongOperationOf(device);
    output_.Progress(operation_, ProgressOf(device), SteadyClock::now());
}

void Session::ShowLines(const StatusLines& lines) {
    if (lines.first == shown1_ && lines.second == shown2_) return;
    shown1_ = lines.first;
    shown2_ = lines.second;
    if (options_.command == CliOptions::Command::Monitor)
        return ShowMonitorLine(device_.Snapshot());
    output_.StatusLines(lines);
}

// A line of monitor, a log to read later: when, where the tilt stood and the
// status lines. A new one for each change of the lines or the tilt.
void Session::ShowMonitorLine(const DeviceSnapshot& device) {
    monitorTilt_ = ShownTilt(device);
    output_.Say(MonitorLine(LocalTimeText(std::time(nullptr)), monitorTilt_, {shown1_, shown2_}) +
                "\n");
}

// Waits for the end of the check. ExitDone when it was reached.
int Session::WaitUntilReady() {
    for (;;) {
        const DeviceSnapshot device = device_.Snapshot();
        if (TakesRequests(device)) break;
        if (device.state == ActuatorState::Failed) return ExitProblem;
        if (!Tick()) return Interrupted();
    }
    ShowStatus();
    return ExitDone;
}

// Waits for the operation just requested to leave the ready state and end in
// it again, or fail.
int Session::WaitForOperation() {
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

int Session::Monitor() {
    while (Tick()) {
    }
    return Finish(signal_.load() ? 128 + signal_.load() : ExitDone, false);
}

int Session::SetTilt() {
    const int code = WaitUntilReady();
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

int Session::ChangeModel(std::int32_t modelIndex) {
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

// The download, when the versions differ, runs as part of identification; the
// wait ends when the actuator is ready again or has failed.
int Session::UpdateFirmware() {
    const int code = WaitUntilReady();
    const UpdateOutcome outcome = JudgeUpdate(code, firmware_, device_.Snapshot());
    if (outcome.isError) {
        output_.Error(outcome.message);
    } else if (!outcome.message.empty()) {
        output_.Say("kvqctl: " + outcome.message + "\n");
    }
    return Finish(outcome.exitCode);
}

// What a time-out leaves a technician to check.
std::string Session::TimeoutSentence(const DeviceSnapshot& device) const {
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
           StateText(device) + "; status " + shown1_ + (shown2_.empty() ? "" : " / " + shown2_) +
           "). Check the actuator's power and its wiring to the adapter, then try again; a "
           "firmware download needs a longer --timeout.";
}

// Everything reported at the end comes from one snapshot of the record, the
// status lines included, so they cannot contradict each other.
int Session::Finish(int code, bool report) {
    const DeviceSnapshot device = device_.Snapshot();
    const StatusLines lines = CTestEngine::LinesFor(device, process_.serialPort.IsOpen.load() != 0,
                                                    process_.SystemContext.PortLost.load() != 0);
    if (code == ExitDone || code == ExitProblem) ShowLines(lines);
    if (code == ExitDone && !device.problemText.empty()) code = ExitProblem;
    if (code == ExitTimeout) output_.Error(TimeoutSentence(device));
    // Only update-firmware writes the software; the others say what it would install.
    if (options_.command != CliOptions::Command::UpdateFirmware) {
        if (const auto note = VersionDifference(firmware_, device)) output_.Note(*note);
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
    FinalReport finalReport;
    finalReport.exitCode = code;
    finalReport.moment = Moment{lines, device, firmwareFileVersion_};
    finalReport.deviceReport = report && (code == ExitDone || code == ExitProblem);
    return output_.End(finalReport);
}

}  // namespace kvq::cli
