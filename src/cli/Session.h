#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "cli/CommandLine.h"
#include "cli/FirmwareUpdate.h"
#include "cli/Output.h"
#include "cli/Progress.h"
#include "core/ChangeSignal.h"

namespace kvq::app {
struct ProcessObjects;
}  // namespace kvq::app

namespace kvq::cli {

// One command of kvqctl against the actuator, once the workers run: it waits
// on the status lines, the record, the port and the stop signals together,
// shows what changed, and judges how the command ended. The waits and the
// verdict live here and nowhere else.
class Session {
public:
    // options: with the time-out to use; portName: as the user knows it.
    Session(app::ProcessObjects& process, const CliOptions& options, Output& output,
            std::string portName, const FirmwareAtStart& firmware);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // A stop signal came (Ctrl-C, SIGTERM); from any thread.
    void OnSignal(int signal);

    // Carries out the command and answers the exit code; the ending has been
    // handed to the output. modelIndex: the antenna table's, for change-model.
    int Run(std::int32_t modelIndex);

private:
    using SteadyClock = std::chrono::steady_clock;

    bool TimedOut() const;
    int Interrupted() const;
    bool Tick();
    void ShowPortLoss();
    void ShowStatus();
    void ShowLines(const status::StatusLines& lines);
    void ShowMonitorLine(const actuator::DeviceSnapshot& device);
    int WaitUntilReady();
    int WaitForOperation();
    int Monitor();
    int SetTilt();
    int ChangeModel(std::int32_t modelIndex);
    int UpdateFirmware();
    std::string TimeoutSentence(const actuator::DeviceSnapshot& device) const;
    int Finish(int code, bool report = true);

    app::ProcessObjects& process_;
    const CliOptions& options_;
    Output& output_;
    std::string portName_;
    const FirmwareAtStart& firmware_;
    std::optional<std::string> firmwareFileVersion_;  // of a usable firmware file
    actuator::CVLX400E& device_;
    std::optional<SteadyClock::time_point> deadline_;
    std::shared_ptr<core::ChangeSignal> wake_ = std::make_shared<core::ChangeSignal>();
    core::ChangeSignal::ListenerId onStatus_ = 0;
    core::ChangeSignal::ListenerId onRecord_ = 0;
    core::ChangeSignal::ListenerId onPort_ = 0;
    bool portLost_ = false;
    std::uint64_t seen_ = 0;
    std::string shown1_, shown2_;
    LongOperation operation_ = LongOperation::None;
    std::optional<std::int32_t> monitorTilt_;
    std::atomic<int> signal_{0};
};

}  // namespace kvq::cli
