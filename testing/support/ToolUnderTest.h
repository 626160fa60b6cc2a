#pragma once

// The tool's core as kvqctl runs it (status engine, actuator and link threads,
// headless controls), in this process, against a port name; and a working
// directory with the sample antenna table for it. Shared by the fault tests
// and the soak program.

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "actuator/VLX400E.h"
#include "app/HeadlessControls.h"
#include "app/Process.h"
#include "core/ThreadMessages.h"

namespace kvq::testing {

namespace reliability {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A directory of its own holding the sample antenna table, made the working
// directory for as long as it lives (the tool reads its table, its settings and
// the firmware file from there).
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& tag) {
        namespace fs = std::filesystem;
        path_ = fs::temp_directory_path() / ("kvq-" + tag + "-" + std::to_string(::getpid()));
        fs::remove_all(path_);
        fs::create_directories(path_);
        fs::copy_file(fs::path(KVQ_EXAMPLES_DIR) / "KVQ_SAMPLE.ascu", path_ / "KVQ_SAMPLE.ascu");
        previous_ = fs::current_path();
        fs::current_path(path_);
    }
    ~WorkingDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

    const std::filesystem::path& Path() const { return path_; }

    // A firmware file whose header carries `version`, followed by `bodySize`
    // bytes of image.
    void WriteFirmware(const std::string& version, std::size_t bodySize) const {
        std::ofstream file(path_ / "vlx400fw.bin", std::ios::binary);
        std::string header(10, '\0');
        header[0] = 0x01;
        header.replace(2, version.size(), version);
        file << header;
        for (std::size_t i = 0; i < bodySize; ++i)
            file.put(static_cast<char>(i * 7 + 3));
    }

private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};

enum class WaitEnd { Ready, Failed, TimedOut };

inline const char* OutcomeName(WaitEnd outcome) {
    switch (outcome) {
        case WaitEnd::Ready:
            return "ready";
        case WaitEnd::Failed:
            return "failed";
        case WaitEnd::TimedOut:
            return "timed out";
    }
    return "?";
}

// What an operation went through, as a waiter polling the record sees it.
struct OperationTrace {
    WaitEnd outcome = WaitEnd::TimedOut;
    bool lostOnTheWay = false;  // the device was forgotten (searching, no setup) meanwhile
    milliseconds took{0};
};

class InProcessTool {
public:
    // Starts the workers on `portName`; the working directory must hold the
    // antenna table. beforeWorkers: what a front end does between preparing
    // the run and starting its workers (a line trace).
    explicit InProcessTool(const std::string& portName,
                           const std::function<void(app::ProcessObjects&)>& beforeWorkers = {}) {
        Start(portName, beforeWorkers);
    }
    // The same on a line of the test's own (the tool's end of an in-memory
    // line), which must outlive the tool; any port name opens it.
    explicit InProcessTool(serial::SerialLine& line) : process_(&line) { Start("COM1"); }
    ~InProcessTool() { Stop(); }
    InProcessTool(const InProcessTool&) = delete;
    InProcessTool& operator=(const InProcessTool&) = delete;

    bool Prepared() const { return prepared_; }

private:
    void Start(const std::string& portName,
               const std::function<void(app::ProcessObjects&)>& beforeWorkers = {}) {
        prepared_ =
            app::PrepareProcess(process_) && app::PrepareControls(process_, &slider_, &models_);
        if (prepared_ && beforeWorkers) beforeWorkers(process_);
        if (prepared_) app::StartWorkers(process_, portName);
    }

public:
    // True when every worker ended within the close allowance.
    bool Stop() {
        if (!prepared_ || stopped_) return stopJoined_;
        stopped_ = true;
        stopJoined_ = app::StopWorkers(process_);
        return stopJoined_;
    }

    actuator::CVLX400E& Device() { return process_.actuator; }
    actuator::DeviceSnapshot Snapshot() { return process_.actuator.Snapshot(); }
    core::CMainDataStore& Context() { return process_.SystemContext; }
    const antenna::CAntennaTable& AntennaTable() const { return process_.antennaTable; }
    app::ProcessObjects& Process() { return process_; }
    std::string Line1() const { return process_.SystemContext.GetStatusLine1(); }

    // The check is complete with its tilt read back: what kvqctl waits for
    // before it reports.
    bool Ready() { return actuator::TakesRequests(Snapshot()); }
    bool Failed() { return Snapshot().state == actuator::ActuatorState::Failed; }
    bool Forgotten() {
        const actuator::DeviceSnapshot device = Snapshot();
        return actuator::ActivityOf(device) == actuator::Activity::Looking ||
               actuator::ActivityOf(device) == actuator::Activity::Lost;
    }

    // Waits for the check to complete. A failed device ends the wait unless
    // `throughFailure`, for a device expected to be lost and found again.
    WaitEnd WaitUntilReady(milliseconds limit, bool throughFailure = false) {
        const auto end = SteadyClock::now() + limit;
        while (!Ready()) {
            if (!throughFailure && Failed()) return WaitEnd::Failed;
            if (SteadyClock::now() > end) return WaitEnd::TimedOut;
            std::this_thread::sleep_for(milliseconds(10));
        }
        return WaitEnd::Ready;
    }

    // Waits until `done` holds or the time is up.
    template <class Condition>
    bool WaitFor(Condition done, milliseconds limit) {
        const auto end = SteadyClock::now() + limit;
        while (!done()) {
            if (SteadyClock::now() > end) return false;
            std::this_thread::sleep_for(milliseconds(10));
        }
        return true;
    }

    // As the dialog's Set Tilt and Change Antenna Model: the request, then the
    // wait for the device to leave the ready state and come back to it, or
    // fail. A device still failed from an earlier operation would have that
    // failure taken for this one's at once, so the wait for the outcome begins
    // when the actuator thread has taken the request and left the failed
    // state; a request it does not take within `limit` times out.
    OperationTrace SetTilt(std::int32_t tenths, milliseconds limit) {
        return Request([&] { RequestTilt(tenths); }, limit);
    }
    OperationTrace ChangeModel(const std::string& displayName, milliseconds limit) {
        const auto model = app::SelectModelByName(process_, displayName);
        if (!model) return {};
        return Request([&] { app::RequestModelChange(process_, *model); }, limit);
    }
    // The requests alone, for a test that acts on the actuator while the
    // operation runs and then waits with WaitForOperation.
    void RequestTilt(std::int32_t tenths) { app::RequestSetTilt(process_, tenths); }
    bool RequestModelChange(const std::string& displayName) {
        const auto model = app::SelectModelByName(process_, displayName);
        return model && app::RequestModelChange(process_, *model);
    }

    OperationTrace WaitForOperation(milliseconds limit) {
        const auto start = SteadyClock::now();
        OperationTrace trace;
        bool left = false;
        for (;;) {
            const bool failed = Failed();
            if (!Ready() || failed) left = true;
            if (Forgotten()) trace.lostOnTheWay = true;
            if (left && failed) {
                trace.outcome = WaitEnd::Failed;
                break;
            }
            if (left && Ready()) {
                trace.outcome = WaitEnd::Ready;
                break;
            }
            if (SteadyClock::now() - start > limit) break;
            std::this_thread::sleep_for(milliseconds(5));
        }
        trace.took = std::chrono::duration_cast<milliseconds>(SteadyClock::now() - start);
        return trace;
    }

private:
    template <class Post>
    OperationTrace Request(Post post, milliseconds limit) {
        const auto start = SteadyClock::now();
        const bool wasFailed = Failed();
        post();
        OperationTrace trace;
        if (wasFailed && !WaitFor([&] { return !Failed(); }, limit)) {
            trace.took = std::chrono::duration_cast<milliseconds>(SteadyClock::now() - start);
            return trace;
        }
        const auto spent = std::chrono::duration_cast<milliseconds>(SteadyClock::now() - start);
        trace = WaitForOperation(limit > spent ? limit - spent : milliseconds(0));
        trace.took = std::chrono::duration_cast<milliseconds>(SteadyClock::now() - start);
        return trace;
    }

    app::ProcessObjects process_;
    app::HeadlessTiltSlider slider_;
    app::HeadlessModelList models_;
    bool prepared_ = false;
    bool stopped_ = false;
    bool stopJoined_ = false;
};

// Resident memory of a process in kB (VmRSS of /proc/<pid>/status); -1 when
// it cannot be read.
inline long ResidentKb(const std::string& pid = "self") {
    std::ifstream status("/proc/" + pid + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kb = -1;
            status >> kb;
            return kb;
        }
        status.ignore(4096, '\n');
    }
    return -1;
}

}  // namespace reliability

}  // namespace kvq::testing
