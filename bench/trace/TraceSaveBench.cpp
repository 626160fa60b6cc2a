// The dialog's line trace keeps the tap's entries as they crossed the line and
// names them only when "Save Line Trace..." asks. This measures what that
// rests on:
//   - how many tap entries a frame takes on a line paced at 115200 baud, from
//     the start through a software download, and then idle at READY (the
//     ring is sized from it);
//   - the ring's memory for the frames the dialog keeps;
//   - how long a save of those frames takes: the ring filled by replaying
//     the traffic just recorded (the download's, the costlier to name), then
//     the frames named and written, several times.
//
//   kvq_trace_save_bench [--size BYTES] [--idle SECONDS] [--saves N]
//                                       default 16384 bytes, 20 s, 5 saves

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "actuator/TraceNames.h"
#include "app/LineTrace.h"
#include "hdlc/RecentTrace.h"
#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"
#include "support/ToolUnderTest.h"

using namespace kvq;
using namespace kvq::testing::reliability;
using std::chrono::duration;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Clock = std::chrono::steady_clock;

namespace {

// Frames (and runs of stray octets) among what the tap holds, all of them.
std::uint64_t Frames(const serial::LineTap& tap) {
    const hdlc::RecentTrace all = hdlc::RecentFrames(tap, true, actuator::CommandNamer(), 1);
    return all.FramesForgotten() + 1;
}

struct Count {
    std::size_t entries = 0;
    std::uint64_t frames = 0;
};

Count Counted(const serial::LineTap& tap) {
    return {tap.History().entries.size(), Frames(tap)};
}

// Records the entries again into tap, their times moved on by shift.
void Replay(serial::LineTap& tap, const std::vector<serial::TapEntry>& entries,
            std::chrono::microseconds shift) {
    for (const serial::TapEntry& entry : entries) {
        const auto when = tap.Start() + std::chrono::microseconds(entry.micros) + shift;
        if (entry.kind == serial::TapKind::Opened) {
            tap.RecordOpenedAt(when, std::string(entry.Octets().begin(), entry.Octets().end()),
                               entry.baudRate, entry.latency);
            continue;
        }
        std::vector<std::uint16_t> echoEnds;
        for (std::uint16_t i = 0; i < entry.size; ++i) {
            if (((entry.echoEnds >> i) & 1U) != 0) echoEnds.push_back(i);
        }
        tap.RecordAt(when, entry.kind, entry.Octets(), entry.baudRate, echoEnds);
    }
}

double PerFrame(std::size_t entries, std::uint64_t frames) {
    return frames > 0 ? static_cast<double>(entries) / static_cast<double>(frames) : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t size = 16384;
    int idle = 20;
    int saves = 5;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--size" && i + 1 < argc) {
            size = std::strtoul(argv[++i], nullptr, 10);
        } else if (arg == "--idle" && i + 1 < argc) {
            idle = std::atoi(argv[++i]);
        } else if (arg == "--saves" && i + 1 < argc) {
            saves = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr,
                         "usage: kvq_trace_save_bench [--size BYTES] [--idle SECONDS] "
                         "[--saves N]\n");
            return 2;
        }
    }
    if (size < 100 || size > (4u << 20) || idle < 1 || saves < 1) {
        std::fprintf(stderr, "trace save bench: size 100 bytes to 4 MiB, idle and saves >= 1\n");
        return 2;
    }

    WorkingDirectory directory("trace-save-bench");
    directory.WriteFirmware("02.00", size - 10);
    sim::Vlx400Settings settings;
    settings.serialNumber = "XXXT0000042";
    settings.softwareVersion = "01.23";
    settings.modelKey = "AP1721-65-18";
    sim::SimOptions options;
    options.pace = true;
    sim::SimulatedActuator actuator(options, std::make_shared<sim::Vlx400Application>(settings));
    if (!actuator.Start()) {
        std::fprintf(stderr, "trace save bench: %s\n", actuator.Error().c_str());
        return 2;
    }

    // The tool as the dialog runs it: its frames kept, no file.
    std::vector<serial::TapEntry> recorded;
    Count download;
    Count all;
    {
        InProcessTool tool(actuator.DevicePath(), [](app::ProcessObjects& process) {
            std::string error;
            process.lineTrace.Start(process.serialPort, "kvq", "", app::LineTrace::DialogFrames,
                                    error);
        });
        const serial::LineTap& tap = *tool.Process().lineTrace.Tap();
        const bool ready =
            tool.WaitUntilReady(milliseconds(size / 56 * 200 + 60000)) == Outcome::Ready &&
            tool.Snapshot().softwareVersion.rfind("02.00", 0) == 0;
        if (!ready) {
            std::fprintf(stderr, "trace save bench: the download did not end on 02.00\n");
            return 1;
        }
        download = Counted(tap);
        std::this_thread::sleep_for(seconds(idle));
        all = Counted(tap);
        recorded = tap.History().entries;
        tool.Stop();
        std::printf("ring for %zu frames: %zu entries of %zu bytes, %zu bytes\n",
                    app::LineTrace::DialogFrames, tap.Capacity(), sizeof(serial::TapEntry),
                    tap.Capacity() * sizeof(serial::TapEntry));
    }
    actuator.Stop();
    std::printf("start and %zu-byte download: %zu entries, %llu frames, %.2f entries a frame\n",
                size, download.entries, static_cast<unsigned long long>(download.frames),
                PerFrame(download.entries, download.frames));
    std::printf("idle at READY for %d s: %zu entries, %llu frames, %.2f entries a frame\n", idle,
                all.entries - download.entries,
                static_cast<unsigned long long>(all.frames - download.frames),
                PerFrame(all.entries - download.entries, all.frames - download.frames));

    // The start and the download only, replayed until the ring has gone round.
    recorded.resize(download.entries);
    const std::size_t capacity =
        app::LineTrace::DialogFrames * app::LineTrace::EntriesPerKeptFrame10 / 10;
    serial::LineTap ring(capacity);
    const std::int64_t span = recorded.empty() ? 1 : recorded.back().micros + 1000;
    for (std::int64_t round = 0; ring.History().entries.size() < capacity || round < 2; ++round)
        Replay(ring, recorded, std::chrono::microseconds(round * span));
    const auto path = std::filesystem::temp_directory_path() / "kvq-trace-save-bench.txt";
    std::vector<double> took;
    std::uint64_t kept = 0;
    for (int i = 0; i < saves; ++i) {
        const auto start = Clock::now();
        const hdlc::RecentTrace recent =
            hdlc::RecentFrames(ring, true, actuator::CommandNamer(), app::LineTrace::DialogFrames);
        std::string error;
        if (!recent.Save(path.string(), hdlc::TraceTitle("kvq"), error)) {
            std::fprintf(stderr, "trace save bench: %s\n", error.c_str());
            return 1;
        }
        took.push_back(duration<double, std::milli>(Clock::now() - start).count());
        kept = recent.Lines().size();
    }
    const auto bytes = std::filesystem::file_size(path);
    std::filesystem::remove(path);
    std::sort(took.begin(), took.end());
    std::printf(
        "save of the last %zu frames from a full ring of %zu entries (download traffic): "
        "%llu lines, %llu bytes; %d saves: min %.1f ms, median %.1f ms, max %.1f ms\n",
        app::LineTrace::DialogFrames, capacity, static_cast<unsigned long long>(kept),
        static_cast<unsigned long long>(bytes), saves, took.front(), took[took.size() / 2],
        took.back());
    return 0;
}
