// The soak run: the tool's core (status engine, actuator and link threads) in
// this process against the simulated actuator on a pseudo-terminal, moving the
// tilt again and again for a long time on a line that spoils some frames.
// It watches for three things a short test cannot see: a move that never
// ends, a move reported done that did not happen, and memory that creeps up.
//
//   kvq_soak [--minutes N] [--moves N] [--corrupt SHARE] [--seed N]
//            [--tilt-speed TENTHS] [--csv PATH] [--quick]
//
// Exit status: 0 when every move was made, none timed out and none was falsely
// reported done, resident memory and the live command buffers stayed flat,
// none was left once the tool stopped, and the workers ended on stop; 1
// otherwise; 2 for a usage or set-up error. Failed moves (the tool saying so)
// are counted but do not fail the run.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "core/CommandBuffer.h"
#include "sim/SimulatedActuator.h"
#include "support/ToolUnderTest.h"
#include "sim/Vlx400Application.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::actuator;
using namespace kvq::sim;
using namespace kvq::testing;

using namespace kvq::testing::reliability;
using std::chrono::duration;
using std::chrono::duration_cast;
using std::chrono::milliseconds;
using std::chrono::seconds;

namespace {

// The sample table's AP1721-65-18: 0 to 10 degrees.
constexpr const char* ModelKey = "AP1721-65-18";

// The set-tilt sequence may take 10 s before the move and 50 s for the move
// and its read-back before the tool's own watchdog fails it; a move still open
// after that has hung.
constexpr milliseconds MoveLimit{70000};
// How far the last quarter's average resident memory may lie above the first
// quarter's (both after the warm-up) and still count as flat. Allocator and
// page-cache noise stays well below it; a leak of one command buffer per
// command sent over a full run does not.
constexpr long FlatMarginKb = 128;
// Command buffers in flight at one moment: a command on its way, one not yet
// acknowledged, a reply on its way back. More of them late in the run than
// early means blocks that are never freed.
constexpr std::size_t BufferMargin = 2;

struct Options {
    double minutes = 30.0;
    int moves = 200;
    double corruptShare = 0.01;
    std::optional<std::uint32_t> seed;
    std::int32_t tiltSpeed = 10;  // tenths of a degree per second
    std::string csvPath;
    bool quick = false;
    seconds sampleEvery{10};
};

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: kvq_soak [--minutes N] [--moves N] [--corrupt SHARE] [--seed N]\n"
                 "                [--tilt-speed TENTHS] [--csv PATH] [--quick]\n"
                 "  --minutes N        how long the moves are spread over (default 30)\n"
                 "  --moves N          how many moves (default 200)\n"
                 "  --corrupt SHARE    share of the actuator's answers sent with a bad FCS,\n"
                 "                     0..1 (default 0.01)\n"
                 "  --seed N           the simulator's and the targets' random sequence\n"
                 "                     (default: a new one, printed)\n"
                 "  --tilt-speed T     the actuator's speed in tenths of a degree per second\n"
                 "                     (default 10)\n"
                 "  --csv PATH         write the memory samples there\n"
                 "  --quick            a short check: 2 minutes, 12 moves, a sample every 2 s\n"
                 "                     (--minutes and --moves still apply)\n");
}

bool ParseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0';
}

bool ParseWhole(const char* text, long long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return end != text && *end == '\0' && errno == 0;
}

// False, with a message, for a bad command line.
bool ParseOptions(int argc, char** argv, Options& options, bool& help) {
    std::optional<double> minutes;
    std::optional<int> moves;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "kvq_soak: %s needs a value\n", arg.c_str());
                return nullptr;
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            help = true;
            return true;
        } else if (arg == "--quick") {
            options.quick = true;
        } else if (arg == "--minutes") {
            const char* text = value();
            double number = 0;
            if (!text) return false;
            if (!ParseNumber(text, number) || !(number > 0) || number > 24 * 60) {
                std::fprintf(stderr, "kvq_soak: --minutes wants a number above 0, got '%s'\n",
                             text);
                return false;
            }
            minutes = number;
        } else if (arg == "--moves") {
            const char* text = value();
            long long number = 0;
            if (!text) return false;
            if (!ParseWhole(text, number) || number < 1 || number > 1000000) {
                std::fprintf(stderr, "kvq_soak: --moves wants a whole number from 1, got '%s'\n",
                             text);
                return false;
            }
            moves = static_cast<int>(number);
        } else if (arg == "--corrupt") {
            const char* text = value();
            double number = 0;
            if (!text) return false;
            if (!ParseNumber(text, number) || !(number >= 0 && number <= 1)) {
                std::fprintf(stderr, "kvq_soak: --corrupt wants a share from 0 to 1, got '%s'\n",
                             text);
                return false;
            }
            options.corruptShare = number;
        } else if (arg == "--seed") {
            const char* text = value();
            long long number = 0;
            if (!text) return false;
            if (!ParseWhole(text, number) || number < 0 || number > 0xFFFFFFFFLL) {
                std::fprintf(stderr,
                             "kvq_soak: --seed wants a whole number 0..4294967295, got '%s'\n",
                             text);
                return false;
            }
            options.seed = static_cast<std::uint32_t>(number);
        } else if (arg == "--tilt-speed") {
            const char* text = value();
            long long number = 0;
            if (!text) return false;
            if (!ParseWhole(text, number) || number < 1 || number > 1000) {
                std::fprintf(stderr,
                             "kvq_soak: --tilt-speed wants 1..1000 tenths per second, got '%s'\n",
                             text);
                return false;
            }
            options.tiltSpeed = static_cast<std::int32_t>(number);
        } else if (arg == "--csv") {
            const char* text = value();
            if (!text) return false;
            options.csvPath = text;
        } else {
            std::fprintf(stderr, "kvq_soak: unknown argument '%s'\n", arg.c_str());
            return false;
        }
    }
    if (options.quick) {
        options.minutes = 2.0;
        options.moves = 12;
        options.sampleEvery = seconds(2);
    }
    if (minutes) options.minutes = *minutes;
    if (moves) options.moves = *moves;
    return true;
}

std::atomic<bool> interrupted{false};

extern "C" void OnSignal(int) {
    interrupted.store(true);
}

// Bytes the allocator has handed out and not had back, in all its arenas; -1
// where the C library does not tell.
long long HeapInUseBytes() {
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 33))
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long long>(info.uordblks + info.hblkhd);
#else
    return -1;
#endif
}

struct Sample {
    double seconds = 0;
    long residentKb = -1;
    long long heapBytes = -1;     // handed out by the allocator and not freed
    std::size_t liveBuffers = 0;  // CommandBuffer blocks not freed
    int movesDone = 0;
};

// Resident memory every `every`, from the start of the moves until stopped;
// each sample also goes to the CSV file at once, so a run that dies leaves its
// curve behind. Room for `expected` samples is taken at the start, so the
// samples themselves do not make the heap grow during the run.
class MemorySampler {
public:
    MemorySampler(seconds every, std::size_t expected, std::FILE* csv,
                  const std::atomic<int>& movesDone)
        : every_(every), csv_(csv), movesDone_(movesDone) {
        samples_.reserve(expected);
        if (csv_) {
            std::fprintf(csv_, "seconds,rss_kb,heap_bytes,live_command_buffers,moves_done\n");
            std::fflush(csv_);
        }
        start_ = SteadyClock::now();
        thread_ = std::thread([this] { Run(); });
    }
    ~MemorySampler() { Stop(); }
    MemorySampler(const MemorySampler&) = delete;
    MemorySampler& operator=(const MemorySampler&) = delete;

    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }
    std::vector<Sample> Samples() const {
        std::lock_guard lock(mutex_);
        return samples_;
    }

private:
    void Run() {
        std::unique_lock lock(mutex_);
        for (int n = 0;; ++n) {
            const auto due = start_ + every_ * n;
            if (wake_.wait_until(lock, due, [this] { return stop_; })) return;
            Sample sample;
            sample.seconds = duration<double>(SteadyClock::now() - start_).count();
            sample.residentKb = ResidentKb();
            sample.heapBytes = HeapInUseBytes();
            sample.liveBuffers = LiveCommandBuffers();
            sample.movesDone = movesDone_.load();
            samples_.push_back(sample);
            if (csv_) {
                std::fprintf(csv_, "%.1f,%ld,%lld,%zu,%d\n", sample.seconds, sample.residentKb,
                             sample.heapBytes, sample.liveBuffers, sample.movesDone);
                std::fflush(csv_);
            }
            // A line a minute in the log, so a long run shows it is alive.
            const int perMinute = std::max(1, static_cast<int>(60 / every_.count()));
            if (n % perMinute == 0) {
                std::printf(
                    "  [%6.0f s] resident %ld kB, %zu command buffers live, %d moves done\n",
                    sample.seconds, sample.residentKb, sample.liveBuffers, sample.movesDone);
                std::fflush(stdout);
            }
        }
    }

    const seconds every_;
    std::FILE* const csv_;
    const std::atomic<int>& movesDone_;
    SteadyClock::time_point start_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::vector<Sample> samples_;
    std::thread thread_;
};

// One quantity over the samples taken after the warm-up.
struct Curve {
    double first = 0, min = 0, max = 0, last = 0;
    double firstQuarterAverage = 0, lastQuarterAverage = 0;
    double slopePerHour = 0;  // of a least-squares line through the samples
};

template <class Value>
Curve Describe(const std::vector<Sample>& samples, Value value) {
    Curve curve;
    curve.first = curve.min = curve.max = value(samples.front());
    curve.last = value(samples.back());
    double meanT = 0, meanV = 0;
    for (const Sample& s : samples) {
        curve.min = std::min(curve.min, value(s));
        curve.max = std::max(curve.max, value(s));
        meanT += s.seconds;
        meanV += value(s);
    }
    const auto n = static_cast<double>(samples.size());
    meanT /= n;
    meanV /= n;
    double num = 0, den = 0;
    for (const Sample& s : samples) {
        num += (s.seconds - meanT) * (value(s) - meanV);
        den += (s.seconds - meanT) * (s.seconds - meanT);
    }
    curve.slopePerHour = den > 0 ? num / den * 3600.0 : 0.0;
    const std::size_t quarter = samples.size() / 4;
    double firstSum = 0, lastSum = 0;
    for (std::size_t i = 0; i < quarter; ++i) {
        firstSum += value(samples[i]);
        lastSum += value(samples[samples.size() - 1 - i]);
    }
    curve.firstQuarterAverage = firstSum / static_cast<double>(quarter);
    curve.lastQuarterAverage = lastSum / static_cast<double>(quarter);
    return curve;
}

struct MemoryVerdict {
    bool enoughSamples = false;
    std::size_t warmupSamples = 0;
    std::size_t count = 0;  // after the warm-up
    Curve residentKb;
    bool flat = false;
    Curve heapBytes;  // when the C library tells
    bool heapKnown = false;
    std::size_t firstQuarterBuffersMax = 0, lastQuarterBuffersMax = 0, buffersMax = 0;
    bool buffersFlat = false;
};

// Memory is flat when the average resident memory of the last quarter of the
// samples taken after the warm-up lies no more than FlatMarginKb above the
// average of their first quarter. The warm-up (the first tenth of the run) is
// left out: the allocator's arenas and the threads' stacks settle there. The
// live command buffers are flat when the last quarter's highest count is no
// more than BufferMargin above the first quarter's. The allocator's bytes in
// use are shown beside them: exact where resident memory moves in pages.
MemoryVerdict JudgeMemory(const std::vector<Sample>& all, double runSeconds) {
    MemoryVerdict verdict;
    const double warmup = runSeconds / 10.0;
    std::vector<Sample> samples;
    for (const Sample& s : all) {
        if (s.residentKb < 0) continue;
        if (s.seconds < warmup) {
            ++verdict.warmupSamples;
        } else {
            samples.push_back(s);
        }
    }
    verdict.count = samples.size();
    if (samples.size() < 8) return verdict;
    verdict.enoughSamples = true;
    verdict.residentKb =
        Describe(samples, [](const Sample& s) { return static_cast<double>(s.residentKb); });
    verdict.flat = verdict.residentKb.lastQuarterAverage <=
                   verdict.residentKb.firstQuarterAverage + static_cast<double>(FlatMarginKb);
    verdict.heapKnown = std::all_of(samples.begin(), samples.end(),
                                    [](const Sample& s) { return s.heapBytes >= 0; });
    if (verdict.heapKnown) {
        verdict.heapBytes =
            Describe(samples, [](const Sample& s) { return static_cast<double>(s.heapBytes); });
    }
    const std::size_t quarter = samples.size() / 4;
    for (std::size_t i = 0; i < quarter; ++i) {
        verdict.firstQuarterBuffersMax =
            std::max(verdict.firstQuarterBuffersMax, samples[i].liveBuffers);
        verdict.lastQuarterBuffersMax =
            std::max(verdict.lastQuarterBuffersMax, samples[samples.size() - 1 - i].liveBuffers);
    }
    for (const Sample& s : samples)
        verdict.buffersMax = std::max(verdict.buffersMax, s.liveBuffers);
    verdict.buffersFlat =
        verdict.lastQuarterBuffersMax <= verdict.firstQuarterBuffersMax + BufferMargin;
    return verdict;
}

// Targets spread over the model's whole range: mostly anywhere in it, every
// tenth move to one end or the other; never the tilt it already has, so every
// move moves.
class TargetChooser {
public:
    TargetChooser(std::uint32_t seed, std::int32_t min, std::int32_t max)
        : random_(seed), min_(min), max_(max) {}

    std::int32_t Next(int index, std::int32_t current) {
        if (index % 10 == 9) {
            const std::int32_t end = (index / 10) % 2 == 0 ? max_ : min_;
            if (end != current) return end;
        }
        std::uniform_int_distribution<std::int32_t> pick(min_, max_);
        for (;;) {
            const std::int32_t target = pick(random_);
            if (target != current || min_ == max_) return target;
        }
    }

private:
    std::mt19937 random_;
    std::int32_t min_;
    std::int32_t max_;
};

struct Tally {
    int ready = 0;
    int failed = 0;
    int timedOut = 0;
    int falseSuccesses = 0;
    int readyWithProblem = 0;  // ready, but with a problem text: said, so not false
    int lostOnTheWay = 0;
    int lateStarts = 0;  // the previous move ran past this one's turn
    std::vector<long long> readyMs;
};

}  // namespace

int main(int argc, char** argv) {
    Options options;
    bool help = false;
    if (!ParseOptions(argc, argv, options, help)) {
        Usage(stderr);
        return 2;
    }
    if (help) {
        Usage(stdout);
        return 0;
    }
    const std::uint32_t seed = options.seed ? *options.seed : std::random_device{}();

    std::FILE* csv = nullptr;
    if (!options.csvPath.empty()) {
        csv = std::fopen(options.csvPath.c_str(), "w");
        if (!csv) {
            std::fprintf(stderr, "kvq_soak: cannot write %s: %s\n", options.csvPath.c_str(),
                         std::strerror(errno));
            return 2;
        }
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    const double runSeconds = options.minutes * 60.0;
    std::printf(
        "soak: %d moves over %.1f min, %.3g%% of answers corrupted, tilt speed %.1f deg/s, "
        "seed %" PRIu32 ", memory sampled every %lld s\n",
        options.moves, options.minutes, options.corruptShare * 100.0, options.tiltSpeed / 10.0,
        seed, static_cast<long long>(options.sampleEvery.count()));
    std::fflush(stdout);
    const auto wallStart = SteadyClock::now();

    auto directory = std::make_unique<WorkingDirectory>("soak");
    Vlx400Settings settings;
    settings.serialNumber = "XXXT0004711";
    settings.softwareVersion = "01.23";
    settings.modelKey = ModelKey;
    settings.tilt = 20;
    settings.tiltSpeed = options.tiltSpeed;
    auto application = std::make_shared<Vlx400Application>(settings);
    SimOptions simOptions;
    simOptions.corruptShare = options.corruptShare;
    simOptions.seed = seed;
    // The simulator runs in this process; its frame log would grow into the
    // memory being watched.
    simOptions.logLimit = 0;
    auto sim = std::make_unique<SimulatedActuator>(simOptions, application);
    if (!sim->Start()) {
        std::fprintf(stderr, "kvq_soak: the simulator did not start: %s\n", sim->Error().c_str());
        return 2;
    }
    auto tool = std::make_unique<InProcessTool>(sim->DevicePath());
    if (!tool->Prepared()) {
        std::fprintf(stderr, "kvq_soak: the tool could not be prepared (antenna table?)\n");
        return 2;
    }

    const WaitEnd first = tool->WaitUntilReady(seconds(60));
    if (first != WaitEnd::Ready) {
        std::printf("soak: the actuator never became ready (%s): %s\n", OutcomeName(first),
                    tool->Line1().c_str());
        const bool joined = tool->Stop();
        std::printf("verdict: FAIL (no first READY; workers %s)\n",
                    joined ? "joined" : "did NOT end on stop");
        return 1;
    }
    const std::int32_t minTilt = tool->Snapshot().minTilt;
    const std::int32_t maxTilt = tool->Snapshot().maxTilt;
    std::printf("soak: READY after %.1f s on %s; model range %d..%d tenths, tilt %d\n",
                duration<double>(SteadyClock::now() - wallStart).count(), sim->DevicePath().c_str(),
                minTilt, maxTilt, tool->Snapshot().currentTilt);
    std::fflush(stdout);

    std::atomic<int> movesDone{0};
    // The last move may run past the end by up to its limit.
    const auto expectedSamples =
        static_cast<std::size_t>((runSeconds + static_cast<double>(MoveLimit.count()) / 1000.0) /
                                     static_cast<double>(options.sampleEvery.count()) +
                                 2);
    MemorySampler sampler(options.sampleEvery, expectedSamples, csv, movesDone);
    const auto start = SteadyClock::now();
    const auto slot = duration<double>(runSeconds / options.moves);
    TargetChooser targets(seed, minTilt, maxTilt);
    Tally tally;
    tally.readyMs.reserve(static_cast<std::size_t>(options.moves));

    auto sleepUntil = [](SteadyClock::time_point when) {
        while (!interrupted.load() && SteadyClock::now() < when)
            std::this_thread::sleep_for(
                std::min<SteadyClock::duration>(milliseconds(200), when - SteadyClock::now()));
    };

    for (int i = 0; i < options.moves && !interrupted.load(); ++i) {
        const auto due = start + duration_cast<SteadyClock::duration>(slot * i);
        if (SteadyClock::now() > due + seconds(1)) ++tally.lateStarts;
        sleepUntil(due);
        if (interrupted.load()) break;

        const std::int32_t before = application->State().currentTilt;
        const std::int32_t target = targets.Next(i, before);
        const OperationTrace trace = tool->SetTilt(target, MoveLimit);
        const DeviceSnapshot device = tool->Snapshot();
        const std::int32_t simTilt = application->State().currentTilt;
        const std::int32_t recordTilt = device.currentTilt;
        const std::string problem = device.problemText;
        const char* note = "";
        switch (trace.outcome) {
            case WaitEnd::Ready:
                ++tally.ready;
                tally.readyMs.push_back(trace.took.count());
                if (trace.lostOnTheWay) {
                    ++tally.lostOnTheWay;
                    note = " (lost on the way)";
                } else if (!problem.empty()) {
                    ++tally.readyWithProblem;
                    note = " (with a problem text)";
                } else if (simTilt != target || recordTilt != target) {
                    ++tally.falseSuccesses;
                    note = " FALSE SUCCESS";
                }
                break;
            case WaitEnd::Failed:
                ++tally.failed;
                if (trace.lostOnTheWay) ++tally.lostOnTheWay;
                break;
            case WaitEnd::TimedOut:
                ++tally.timedOut;
                break;
        }
        movesDone.store(i + 1);
        std::printf("move %d/%d: %d -> %d: %s in %.1f s; actuator at %d, record %d%s%s%s (%s)\n",
                    i + 1, options.moves, before, target, OutcomeName(trace.outcome),
                    static_cast<double>(trace.took.count()) / 1000.0, simTilt, recordTilt, note,
                    problem.empty() ? "" : ", problem: ", problem.c_str(), tool->Line1().c_str());
        std::fflush(stdout);
    }
    // The run lasts its whole time, so the memory curve covers it.
    sleepUntil(start + duration_cast<SteadyClock::duration>(duration<double>(runSeconds)));
    sampler.Stop();
    const double ranSeconds = duration<double>(SteadyClock::now() - start).count();
    const std::vector<Sample> samples = sampler.Samples();

    const SimCounters counters = sim->Counters();
    const bool joined = tool->Stop();
    tool.reset();
    sim->Stop();
    sim.reset();
    directory.reset();
    if (csv) std::fclose(csv);
    // With the tool and the simulator gone, every block must have been freed.
    const std::size_t buffersLeft = LiveCommandBuffers();

    const MemoryVerdict memory = JudgeMemory(samples, ranSeconds);
    const int attempted = tally.ready + tally.failed + tally.timedOut;

    std::printf("\n== soak summary\n");
    std::printf("moves: %d of %d attempted: %d ready, %d failed, %d timed out", attempted,
                options.moves, tally.ready, tally.failed, tally.timedOut);
    if (tally.lateStarts) std::printf("; %d started late", tally.lateStarts);
    std::printf("\n");
    std::printf("false successes: %d (ready with a problem text: %d, lost on the way: %d)\n",
                tally.falseSuccesses, tally.readyWithProblem, tally.lostOnTheWay);
    if (!tally.readyMs.empty()) {
        std::vector<long long> ms = tally.readyMs;
        std::sort(ms.begin(), ms.end());
        std::printf("ready moves took: min %.1f s, median %.1f s, max %.1f s\n",
                    ms.front() / 1000.0, ms[ms.size() / 2] / 1000.0, ms.back() / 1000.0);
    }
    std::printf("simulator: %" PRIu64 " frames received, %" PRIu64 " answered, %" PRIu64
                " corrupted, %" PRIu64 " dropped, %" PRIu64 " answers repeated\n",
                counters.framesReceived, counters.framesAnswered, counters.framesCorrupted,
                counters.framesDropped, counters.answersRepeated);
    if (memory.enoughSamples) {
        const Curve& rss = memory.residentKb;
        std::printf(
            "memory (kB resident, %zu samples after a %zu-sample warm-up): first %.0f, min %.0f, "
            "max %.0f, last %.0f\n",
            memory.count, memory.warmupSamples, rss.first, rss.min, rss.max, rss.last);
        std::printf(
            "memory trend: first-quarter average %.0f kB, last-quarter average %.0f kB "
            "(flat within %ld kB: %s); slope %+.0f kB/h\n",
            rss.firstQuarterAverage, rss.lastQuarterAverage, FlatMarginKb,
            memory.flat ? "yes" : "NO", rss.slopePerHour);
        if (memory.heapKnown) {
            const Curve& heap = memory.heapBytes;
            std::printf(
                "heap in use (bytes): first %.0f, min %.0f, max %.0f, last %.0f; first-quarter "
                "average %.0f, last-quarter average %.0f; slope %+.0f B/h\n",
                heap.first, heap.min, heap.max, heap.last, heap.firstQuarterAverage,
                heap.lastQuarterAverage, heap.slopePerHour);
        }
        std::printf(
            "command buffers live: highest %zu; first-quarter highest %zu, last-quarter highest "
            "%zu (flat within %zu: %s)\n",
            memory.buffersMax, memory.firstQuarterBuffersMax, memory.lastQuarterBuffersMax,
            BufferMargin, memory.buffersFlat ? "yes" : "NO");
    } else {
        std::printf("memory: too few samples after the warm-up to judge (%zu)\n", memory.count);
    }
    std::printf("command buffers left after stop: %zu\n", buffersLeft);
    std::printf("workers on stop: %s\n", joined ? "joined" : "did NOT end within the allowance");
    std::printf("wall time: %.1f s (moves and sampling %.1f s)\n",
                duration<double>(SteadyClock::now() - wallStart).count(), ranSeconds);

    std::vector<std::string> reasons;
    if (interrupted.load()) reasons.push_back("interrupted");
    if (attempted < options.moves) reasons.push_back("not every move was made");
    if (tally.timedOut) reasons.push_back(std::to_string(tally.timedOut) + " moves timed out");
    if (tally.falseSuccesses)
        reasons.push_back(std::to_string(tally.falseSuccesses) + " false successes");
    if (!memory.enoughSamples)
        reasons.push_back("memory not judged");
    else if (!memory.flat)
        reasons.push_back("memory grew");
    if (memory.enoughSamples && !memory.buffersFlat) reasons.push_back("live command buffers grew");
    if (buffersLeft != 0) reasons.push_back("command buffers not freed after stop");
    if (!joined) reasons.push_back("workers did not end on stop");
    if (reasons.empty()) {
        std::printf("verdict: PASS\n");
        return 0;
    }
    std::string text;
    for (const std::string& r : reasons)
        text += (text.empty() ? "" : "; ") + r;
    std::printf("verdict: FAIL (%s)\n", text.c_str());
    return 1;
}
