#pragma once

// kvqctl run inside the test's process, as a script would start it, and the
// fixture its tests share: a working directory with the sample antenna table
// and a simulated actuator, on the in-memory line or on a pseudo-terminal.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/Environment.h"
#include "cli/Kvqctl.h"
#include "serial/InMemoryLine.h"
#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"
#include "support/TempDir.h"

namespace kvq::testing {

// One run of kvqctl on a thread of its own. Its standard output and error are
// files in the test's directory (read while it runs, as a child's would be);
// Signal delivers a stop signal through the run's hook, never the system's.
// environment: "NAME=value" entries set for the run and put back after it.
class InProcessKvqctl {
public:
    InProcessKvqctl(std::vector<std::string> args, const std::filesystem::path& directory,
                    serial::SerialLine* line, const std::vector<std::string>& environment = {})
        : outPath_(directory / "kvqctl.out"), errPath_(directory / "kvqctl.err") {
        for (const std::string& entry : environment) {
            const auto equals = entry.find('=');
            const std::string name = entry.substr(0, equals);
            const char* old = std::getenv(name.c_str());
            saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
            app::SetEnvironmentVariable(name, entry.substr(equals + 1));
        }
        cli::Surroundings surroundings;
        surroundings.console.out = std::fopen(outPath_.c_str(), "w");
        surroundings.console.err = std::fopen(errPath_.c_str(), "w");
        surroundings.stopSignals.watch = [this](std::function<void(int)> onSignal) {
            std::lock_guard lock(mutex_);
            onSignal_ = std::move(onSignal);
            if (pending_) onSignal_(*pending_);
        };
        surroundings.stopSignals.unwatch = [this] {
            std::lock_guard lock(mutex_);
            onSignal_ = nullptr;
        };
        surroundings.line = line;
        thread_ = std::thread([this, args = std::move(args), surroundings] {
            const int code = cli::RunKvqctl(args, surroundings);
            std::fclose(surroundings.console.out);
            std::fclose(surroundings.console.err);
            std::lock_guard lock(mutex_);
            code_ = code;
            ended_.notify_all();
        });
    }
    // A run still going is stopped as a script's would be, with SIGTERM.
    ~InProcessKvqctl() {
        if (!Wait(std::chrono::milliseconds(0))) Signal(SIGTERM);
        Join();
    }
    InProcessKvqctl(const InProcessKvqctl&) = delete;
    InProcessKvqctl& operator=(const InProcessKvqctl&) = delete;

    // Ctrl-C (SIGINT) or SIGTERM. One that comes before the run watches for
    // them waits until it does.
    void Signal(int signal) {
        std::lock_guard lock(mutex_);
        if (onSignal_) {
            onSignal_(signal);
        } else if (!pending_) {
            pending_ = signal;
        }
    }
    // The exit code, or nothing if the run goes on after the limit.
    std::optional<int> Wait(std::chrono::milliseconds limit) {
        {
            std::unique_lock lock(mutex_);
            if (!ended_.wait_for(lock, limit, [this] { return code_.has_value(); }))
                return std::nullopt;
        }
        Join();
        return code_;
    }
    std::string Out() const { return Read(outPath_); }
    std::string Err() const { return Read(errPath_); }

private:
    // Once the run's threads are all gone, the environment is the test's again.
    void Join() {
        if (!thread_.joinable()) return;
        thread_.join();
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            app::SetEnvironmentVariable(it->first, it->second);
        saved_.clear();
    }
    static std::string Read(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    std::filesystem::path outPath_;
    std::filesystem::path errPath_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
    std::mutex mutex_;
    std::condition_variable ended_;
    std::optional<int> code_;
    std::function<void(int)> onSignal_;
    std::optional<int> pending_;
    std::thread thread_;
};

// A test's own directory, made the working directory while it runs (kvqctl
// reads its table, settings and firmware file from there), with the sample
// antenna table; a simulated actuator the test sets up; kvqctl run against it.
class KvqctlInProcess : public ::testing::Test {
protected:
    enum class Line { InMemory, PseudoTerminal };

    void SetUp() override {
        directory = std::filesystem::canonical(temp.path());
        std::filesystem::copy_file(std::filesystem::path(KVQ_EXAMPLES_DIR) / "KVQ_SAMPLE.ascu",
                                   directory / "KVQ_SAMPLE.ascu");
        previous = std::filesystem::current_path();
        std::filesystem::current_path(directory);
        settings.serialNumber = "XXXT0004711";
        settings.softwareVersion = "01.23";
        settings.tilt = 20;
        settings.restartSilence = std::chrono::milliseconds(3000);
    }
    void TearDown() override {
        sim.reset();
        memoryLine.reset();
        std::error_code ignored;
        std::filesystem::current_path(previous, ignored);
    }

    // On the in-memory line unless the test needs a device with a name.
    void StartSimulator(const std::string& modelKey, const sim::SimOptions& options = {},
                        serial::LineTap* tap = nullptr, Line on = Line::InMemory) {
        settings.modelKey = modelKey;
        settings.tiltSpeed = 50;  // 5 degrees a second keeps the moves short
        application = std::make_shared<sim::Vlx400Application>(settings);
        sim.reset();
        memoryLine.reset();
        sim = std::make_unique<sim::SimulatedActuator>(options, application);
        sim->SetTap(tap);
        if (on == Line::PseudoTerminal) {
            ASSERT_TRUE(sim->Start()) << sim->Error();
        } else {
            memoryLine = std::make_unique<serial::InMemoryLine>();
            ASSERT_TRUE(sim->StartOnLine(*memoryLine)) << sim->Error();
        }
    }
    // The name kvqctl is given for the simulator's port: any name opens the
    // in-memory line.
    std::string Port() const { return sim->DevicePath(); }

    std::unique_ptr<InProcessKvqctl> Run(std::vector<std::string> args,
                                         const std::vector<std::string>& environment = {}) {
        return std::make_unique<InProcessKvqctl>(
            std::move(args), directory, memoryLine ? &memoryLine->ToolEnd() : nullptr, environment);
    }
    std::uint64_t FramesSeen() const { return sim ? sim->Counters().framesReceived : 0; }

    TempDir temp{"kvqctl-"};
    std::filesystem::path directory;
    std::filesystem::path previous;
    sim::Vlx400Settings settings;
    std::shared_ptr<sim::Vlx400Application> application;
    std::unique_ptr<serial::InMemoryLine> memoryLine;  // outlives the simulator on it
    std::unique_ptr<sim::SimulatedActuator> sim;
};

}  // namespace kvq::testing
