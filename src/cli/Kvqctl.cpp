#include "cli/Kvqctl.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "antenna/AntennaTable.h"
#include "antenna/AntennaTables.h"
#include "app/Demo.h"
#include "app/HeadlessControls.h"
#include "app/Paths.h"
#include "app/Process.h"
#include "app/StopSignals.h"
#include "cli/CommandLine.h"
#include "cli/ExitCodes.h"
#include "cli/FirmwareUpdate.h"
#include "cli/JsonOutput.h"
#include "cli/ModelChoice.h"
#include "cli/Session.h"
#include "cli/Terminal.h"
#include "cli/TextOutput.h"
#include "core/Utf8Path.h"
#include "serial/PortDiscovery.h"
#include "serial/PortNames.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::antenna;
using namespace kvq::app;

namespace kvq::cli {

namespace {

std::unique_ptr<Output> MakeOutput(bool json, const Console& console) {
    if (json) return std::make_unique<JsonOutput>(console);
    return std::make_unique<TextOutput>(console);
}

std::string NoTableSentence() {
    std::error_code ignored;
    return "No Antenna Table File Found! (no antenna table *.ascu with a model in " +
           std::filesystem::current_path(ignored).string() + ")";
}

int ListPorts(Output& output) {
    const auto ports = ListedPortsInOrder(ListSerialPorts());
    FinalReport report;
    report.ports = &ports;
    return output.End(report);
}

int ListModels(Output& output) {
    CAntennaTable table;
    const bool listed = !LoadAntennaTables(table).empty();
    output.NoteLines(DescribeTableLoad(table, "kvqctl: "));
    FinalReport report;
    if (!listed) {
        output.Error(NoTableSentence());
        report.exitCode = ExitUsage;
        return output.End(report);
    }
    report.models = &table;
    return output.End(report);
}

// A run that ends before the actuator was looked for.
int EndEarly(Output& output, int code) {
    FinalReport report;
    report.exitCode = code;
    return output.End(report);
}
int EndEarly(Output& output, int code, const std::string& sentence) {
    output.Error(sentence);
    return EndEarly(output, code);
}

// The stop signals reach the session for as long as it waits.
class SignalsToSession {
public:
    SignalsToSession(const StopSignalHook& hook, Session& session) : hook_(hook) {
        if (hook_.watch) hook_.watch([&session](int signal) { session.OnSignal(signal); });
    }
    ~SignalsToSession() {
        if (hook_.unwatch) hook_.unwatch();
    }
    SignalsToSession(const SignalsToSession&) = delete;
    SignalsToSession& operator=(const SignalsToSession&) = delete;

private:
    const StopSignalHook& hook_;
};

}  // namespace

Surroundings ThisProcess() {
    Surroundings surroundings;
    surroundings.console = {stdout, stderr, StandardErrorIsTerminal(), StandardErrorColumns()};
    surroundings.stopSignals.watch = [](std::function<void(int)> onSignal) {
        WatchStopSignals(std::move(onSignal));
    };
    surroundings.stopSignals.unwatch = [] { StopWatchingStopSignals(); };
    return surroundings;
}

int RunKvqctl(const std::vector<std::string>& args, const Surroundings& surroundings) {
    const std::unique_ptr<Output> outputOwned = MakeOutput(AsksForJson(args), surroundings.console);
    Output& output = *outputOwned;
    std::string error;
    auto options = ParseCommandLine(args, error);
    if (!options) {
        output.Error(error);
        output.NoteLines("Run 'kvqctl --help' for the commands, options and exit codes.\n");
        return EndEarly(output, ExitUsage);
    }
    if (options->help || options->version) {
        output.Say(options->help ? UsageText() : VersionText());
        return EndEarly(output, ExitDone);
    }

    // Files given by name are taken from where kvqctl was started, also once
    // the demo has made its own directory the working directory.
    std::filesystem::path firmwarePath = FirmwarePathFor(options->firmware);
    if (options->traceFile)
        options->traceFile = Utf8Text(AbsoluteOrAsGiven(PathFromUtf8(*options->traceFile)));
    const bool updateFirmware = options->command == CliOptions::Command::UpdateFirmware;

    // The demo's directory must be the working directory before the settings
    // and the antenna table are read; it outlives the workers.
    std::unique_ptr<DemoSession> demo;
    if (options->demo) {
        demo = std::make_unique<DemoSession>();
        std::string why;
        if (!demo->Start(why)) return EndEarly(output, ExitNoPort, why);
        output.Note("demo: a simulated E-VLX400 (model " + demo->ModelKey() +
                    ") answers on COM1 (" + demo->DevicePath() + "); working directory " +
                    demo->Directory().string());
        if (!options->firmware) firmwarePath = demo->FirmwarePath();
    }
    if (options->command == CliOptions::Command::Ports) return ListPorts(output);
    if (options->command == CliOptions::Command::Models) return ListModels(output);

    ProcessObjects process(demo ? &demo->ToolLine() : surroundings.line);
    const FirmwareUse firmwareUse{FirmwarePolicyFor(updateFirmware), firmwarePath};
    if (!PrepareProcess(process, firmwareUse))
        return EndEarly(output, ExitUsage, UnservedVariantSentence(process.settings));

    HeadlessTiltSlider slider;
    HeadlessModelList models;
    const bool modelsListed = PrepareControls(process, &slider, &models);
    // The table chosen and every line of it that was not taken as written.
    output.NoteLines(DescribeTableLoad(process.antennaTable, "kvqctl: "));
    if (!modelsListed) return EndEarly(output, ExitUsage, NoTableSentence());

    // A name that means no model, or more than one, is refused before the
    // port is touched.
    std::int32_t modelIndex = 0;
    if (options->command == CliOptions::Command::ChangeModel) {
        const ModelChoice choice = ChooseModel(process.antennaTable, options->modelName);
        if (!choice.index)
            return EndEarly(output, ExitUsage, ModelChoiceError(choice, options->modelName));
        modelIndex = *choice.index;
    }

    // Checked before the port is opened: a file that cannot be sent is never
    // near the actuator.
    const FirmwareAtStart firmware = ReadFirmwareAtStart(firmwarePath);
    if (const auto refusal = FirmwareFileRefusal(firmware, updateFirmware)) {
        if (updateFirmware) return EndEarly(output, ExitUsage, *refusal);
        output.Note(*refusal);
    }

    std::string port;
    if (options->port) {
        port = *options->port;
    } else if (const auto ports = ListedPortsInOrder(ListSerialPorts()); !ports.empty()) {
        // As the dialog chooses: the first port present.
        port = ports.front().data;
    }
    if (port.empty()) {
        return EndEarly(
            output, ExitNoPort,
            "no serial ports are available; name one with --port, e.g. --port /dev/ttyUSB0");
    }
    {
        // Tried once here so a port that cannot be opened is reported at once.
        SerialLine& probe = process.serialPort;
        probe.Open(port, 115200);
        const bool opened = probe.IsOpen.load() != 0;
        probe.Close();
        if (!opened) {
            return EndEarly(
                output, ExitNoPort,
                DescribeOpenFailure(probe.LastOpenFailure(), port, probe.LastOpenError()));
        }
    }

    CliOptions effective = *options;
    if (!effective.timeoutSeconds)
        effective.timeoutSeconds = DefaultTimeoutSeconds(options->command, firmware.file.size);
    if (options->traceFile) {
        std::string why;
        if (!process.lineTrace.Start(process.serialPort, "kvqctl", *options->traceFile, 0, why))
            return EndEarly(output, ExitUsage, why);
    }
    Session session(process, effective, output, port, firmware);
    int code = 0;
    {
        const SignalsToSession signals(surroundings.stopSignals, session);
        StartWorkers(process, port);
        code = session.Run(modelIndex);
    }
    if (!StopWorkers(process)) output.Note("a worker did not end in time");
    if (const std::string problem = process.lineTrace.FileProblem(); !problem.empty())
        output.Note(problem);
    return code;
}

}  // namespace kvq::cli
