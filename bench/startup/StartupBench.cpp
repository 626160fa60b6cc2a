// Two latencies of the tool against the simulated actuator pacing its answers
// at 115200 baud on a pseudo-terminal:
//
// - from start to READY, against the floor the protocol allows: the
//   prescribed waits (1000 ms before the link starts, 2000 ms after the port
//   is opened, 2000 ms before the check) plus, for every exchange the start
//   needs (the SNRM, the five polls that bring the link up, every command),
//   the answer's time on the wire and the 20 ms the poll cycle keeps after an
//   answer (none after the last). Polls sent while a prescribed wait runs cost
//   nothing extra and are not counted.
// - from a Set Tilt request to the arrival of its first command at the
//   actuator: at most one poll cycle is the goal.
//
//   kvq_startup_bench [--runs N] [--requests N]     default 3 runs, 20 requests

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "hdlc/FrameCodec.h"
#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"
#include "support/ToolUnderTest.h"

using namespace kvq::hdlc;
using namespace kvq::app;
using namespace kvq::sim;
using namespace kvq::testing;

using namespace kvq::testing::reliability;
namespace hdlc = kvq::hdlc;
using std::chrono::duration;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;

namespace {

constexpr double Baud = 115200.0;
constexpr double BitsPerOctet = 10.0;
constexpr double PollGapSeconds = 0.020;
constexpr double PrescribedSeconds = 1.0 + 2.0 + 2.0;
constexpr int LinkUpPolls = 5;

struct StartRun {
    double measured = 0;
    double floor = 0;
    int exchanges = 0;
    bool ready = false;
};

double WireSeconds(std::size_t octets) {
    return static_cast<double>(octets) * BitsPerOctet / Baud;
}

bool IsPoll(const ReceivedFrame& frame) {
    return frame.body.size() >= 2 && (frame.body[1] & 0x0F) == 0x01;  // RR, any N(R), P
}

// The floor of one start, from the frames the actuator received until READY.
void CountFloor(const std::vector<ReceivedFrame>& log, SteadyClock::time_point readyAt,
                StartRun& run) {
    double exchanges = 0;
    int polls = 0;
    bool connected = false;
    for (const auto& frame : log) {
        if (frame.time > readyAt) break;
        if (!frame.heard || frame.answerOctets == 0) continue;
        const bool snrm = frame.body.size() >= 2 && (frame.body[1] & 0xEF) == 0x83;
        if (snrm) {
            connected = true;  // the last SNRM before the link came up counts
            exchanges = 0;
            polls = 0;
            run.exchanges = 0;
        } else if (!connected) {
            continue;
        } else if (IsPoll(frame)) {
            if (polls >= LinkUpPolls) continue;  // polls in a prescribed wait
            ++polls;
        } else if (!hdlc::IsIFrame(frame.body[1])) {
            continue;
        }
        exchanges += WireSeconds(frame.answerOctets) + PollGapSeconds;
        ++run.exchanges;
    }
    run.floor = PrescribedSeconds + exchanges - (run.exchanges > 0 ? PollGapSeconds : 0);
}

Vlx400Settings ActuatorSettings() {
    Vlx400Settings settings;
    settings.serialNumber = "XXXT0000042";
    settings.softwareVersion = "01.23";
    settings.modelKey = "AP1721-65-18";  // 0 to 10 degrees in the sample table
    settings.tilt = 20;
    settings.tiltSpeed = 1000;  // a move is over at once: only the request's path counts
    return settings;
}

StartRun Start(int index, int requests, std::vector<double>& requestDelays) {
    StartRun run;
    WorkingDirectory directory("startup-bench-" + std::to_string(index));
    directory.WriteFirmware("01.23", 100);  // the actuator's own version: no download
    auto application = std::make_shared<Vlx400Application>(ActuatorSettings());
    SimOptions options;
    options.pace = true;
    options.logLimit = 1 << 16;
    SimulatedActuator sim(options, application);
    if (!sim.Start()) {
        std::fprintf(stderr, "startup bench: %s\n", sim.Error().c_str());
        std::exit(2);
    }
    const auto start = SteadyClock::now();
    InProcessTool tool(sim.DevicePath());
    if (!tool.Prepared()) {
        std::fprintf(stderr, "startup bench: the tool did not start\n");
        std::exit(2);
    }
    // Waits in short slices of its own; a ready seen up to a millisecond late
    // is well inside what this measures.
    while (!tool.Ready() && SteadyClock::now() - start < milliseconds(30000)) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const auto readyAt = SteadyClock::now();
    run.ready = tool.Ready();
    run.measured = duration<double>(readyAt - start).count();
    CountFloor(sim.TakeReceivedLog(), readyAt, run);

    for (int i = 0; run.ready && i < requests; ++i) {
        // Requests at no particular point of the poll cycle.
        std::this_thread::sleep_for(milliseconds(37 + 13 * (i % 7)));
        sim.TakeReceivedLog();
        const std::int32_t target = i % 2 == 0 ? 50 : 20;
        const auto asked = SteadyClock::now();
        if (!RequestSetTilt(tool.Process(), target)) break;
        std::optional<SteadyClock::time_point> first;
        while (!first && SteadyClock::now() - asked < milliseconds(2000)) {
            std::this_thread::sleep_for(milliseconds(1));
            for (const auto& frame : sim.TakeReceivedLog()) {
                if (frame.time >= asked && frame.body.size() >= 2 &&
                    hdlc::IsIFrame(frame.body[1])) {
                    first = frame.time;
                    break;
                }
            }
        }
        if (!first) break;
        requestDelays.push_back(duration<double, std::milli>(*first - asked).count());
        if (tool.WaitUntilReady(milliseconds(20000)) != WaitEnd::Ready) break;
    }
    tool.Stop();
    sim.Stop();
    return run;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    int requests = 20;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--runs" && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else if (arg == "--requests" && i + 1 < argc) {
            requests = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: kvq_startup_bench [--runs N] [--requests N]\n");
            return 2;
        }
    }
    if (runs < 1 || requests < 0) {
        std::fprintf(stderr, "startup bench: at least one run, no negative count of requests\n");
        return 2;
    }
    bool good = true;
    std::vector<double> delays;
    for (int i = 0; i < runs; ++i) {
        const StartRun r = Start(i, requests, delays);
        good = good && r.ready;
        std::printf("run %d: READY after %.3f s; floor %.3f s (%d exchanges), ratio %.3f%s\n",
                    i + 1, r.measured, r.floor, r.exchanges,
                    r.floor > 0 ? r.measured / r.floor : 0.0, r.ready ? "" : "; NOT READY");
    }
    if (!delays.empty()) {
        std::sort(delays.begin(), delays.end());
        const auto at = [&](double share) {
            return delays[std::min(
                delays.size() - 1,
                static_cast<std::size_t>(share * static_cast<double>(delays.size())))];
        };
        std::printf(
            "request to first command on the line (%zu requests): min %.1f ms, median %.1f ms, "
            "90th percentile %.1f ms, max %.1f ms\n",
            delays.size(), delays.front(), at(0.5), at(0.9), delays.back());
    }
    good = good && static_cast<int>(delays.size()) == runs * requests;
    return good ? 0 : 1;
}
