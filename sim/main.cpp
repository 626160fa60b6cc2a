// vlx400-sim: the simulated actuator as a program of its own, for the tool's
// integration tests and for trying the tool without hardware.

#include <signal.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hdlc/TraceWriter.h"
#include "serial/LineTap.h"
#include "sim/SimCommandLine.h"
#include "sim/SimTraceNames.h"
#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"

namespace kvq::sim {

int Main(int argc, char** argv) {
    const std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    const auto parsed = ParseSimCommandLine(arguments);
    if (!parsed.commandLine) {
        std::fprintf(stderr, "vlx400-sim: %s\n", parsed.error.c_str());
        return 2;
    }
    const SimCommandLine& commandLine = *parsed.commandLine;
    if (commandLine.help) {
        std::fputs(SimUsage(), stdout);
        return 0;
    }

    // Blocked before the simulator's thread starts, so that thread inherits the
    // mask and the signals wait for sigwait below.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    if (pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::fprintf(stderr, "vlx400-sim: cannot block the stop signals\n");
        return 1;
    }

    std::shared_ptr<SimApplication> application;
    if (commandLine.echo) {
        application = std::make_shared<EchoApplication>();
    } else {
        application = std::make_shared<Vlx400Application>(commandLine.actuator);
    }
    // Only a traced run has a tap and a writer. The trace's thread starts
    // before the simulator's (with the stop signals blocked, like it), and
    // ends after it.
    std::optional<serial::LineTap> tap;
    hdlc::TraceFileSink traceFile;
    std::optional<hdlc::TraceWriter> traceWriter;
    if (commandLine.trace) {
        std::string error;
        if (!traceFile.Open(*commandLine.trace, hdlc::TraceTitle("vlx400-sim"), error)) {
            std::fprintf(stderr, "vlx400-sim: %s\n", error.c_str());
            return 1;
        }
        tap.emplace();
        traceWriter.emplace(*tap, false, SimCommandNamer());
        traceWriter->AddSink(traceFile);
        traceWriter->Start();
    }
    SimulatedActuator actuator(commandLine.options, application);
    if (tap) actuator.SetTap(&*tap);
    const bool started =
        commandLine.device ? actuator.StartOnDevice(*commandLine.device) : actuator.Start();
    if (!started) {
        std::fprintf(stderr, "vlx400-sim: %s\n", actuator.Error().c_str());
        return 1;
    }
    std::printf("%s\n", actuator.DevicePath().c_str());
    std::fflush(stdout);
    std::fprintf(stderr, "vlx400-sim: %s%s%s mode at %u baud; stop with Ctrl+C\n",
                 commandLine.echo ? "echoing, " : "",
                 commandLine.options.adapterEcho ? "adapter echo on, " : "",
                 ModeName(commandLine.options.mode), BaudRateOf(commandLine.options.mode));

    int received = 0;
    while (sigwait(&stopSignals, &received) != 0) {
    }
    actuator.Stop();
    if (traceWriter) traceWriter->Stop();
    if (const std::string problem = traceFile.Problem(); !problem.empty())
        std::fprintf(stderr, "vlx400-sim: %s\n", problem.c_str());
    return 0;
}

}  // namespace kvq::sim

int main(int argc, char** argv) {
    return kvq::sim::Main(argc, argv);
}
