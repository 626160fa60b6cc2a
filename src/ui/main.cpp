// kvq: the desktop tool. Until its dialog exists it runs the program's core on
// the console and shows the status lines the dialog will show.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Process.h"
#include "StopSignals.h"
#include "TimeSource.h"

namespace {

void Usage() {
    std::fprintf(stderr, "usage: kvq [--port COMn|/dev/PATH] [--seconds N]\n");
}

}  // namespace

int main(int argc, char** argv) {
    ProcessObjects process;
    if (!PrepareProcess(process)) return 0;  // a variant this tool does not serve

    std::string port = "COM1";
    long seconds = 0;  // 0: until Ctrl-C
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            port = argv[++i];
        } else if (arg == "--seconds" && i + 1 < argc) {
            char* end = nullptr;
            seconds = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || seconds < 0) {
                Usage();
                return 2;
            }
        } else {
            Usage();
            return 2;
        }
    }

    BlockStopSignals();
    std::printf(
        "kvq 1.3.1 on port %s. The desktop dialog is not built yet: showing the\n"
        "status lines of the running core. Ctrl-C ends.\n",
        port.c_str());
    std::fflush(stdout);
    StartWorkers(process, port);

    const std::uint32_t start = TickCount();
    int signal = 0;
    OpenFailure reported = OpenFailure::None;
    while (signal == 0) {
        // Say once why the port does not open, as the link keeps trying.
        const OpenFailure failure = process.serialPort.LastOpenFailure();
        if (failure != reported && failure != OpenFailure::None) {
            std::fprintf(
                stderr, "kvq: %s\n",
                DescribeOpenFailure(failure, port, process.serialPort.LastOpenError()).c_str());
        }
        reported = failure;
        if (seconds > 0 && TickCount() - start >= static_cast<std::uint32_t>(seconds) * 1000) break;
        signal = WaitForStopSignal(100);
        std::string line1, line2;
        if (process.SystemContext.TakeStatusLines(line1, line2)) {
            static std::string shown1, shown2;
            if (line1 != shown1 || line2 != shown2) {
                std::printf("%-24s %s\n", line1.c_str(), line2.c_str());
                std::fflush(stdout);
                shown1 = line1;
                shown2 = line2;
            }
        }
    }
    const bool joined = StopWorkers(process);
    if (!joined) std::fprintf(stderr, "kvq: a worker did not end in time\n");
    return signal != 0 ? 128 + signal : 0;
}
