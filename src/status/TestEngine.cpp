#include "status/TestEngine.h"

#include "actuator/VLX400E.h"
#include "core/MainDataStore.h"

using namespace kvq::core;
using namespace kvq::actuator;

namespace kvq::status {

namespace {

// Slot 1 is the only device.
constexpr int DeviceSlot = 1;
// Wait before the link thread starts, giving the front end time to name the
// port; and before the first lines of the device.
constexpr std::uint32_t LinkStartDelayMs = 1000;
constexpr std::uint32_t FirstLinesDelayMs = 100;
// While the lines say whether the port is open, it is looked at again this
// often, for a port that closed without an open after it (the link announces
// every open through SetPortOpened).
constexpr std::uint32_t PortRecheckMs = 500;

bool NoDevice(const DeviceSnapshot& d) {
    return d.state == ActuatorState::Searching && d.setupPending == 0;
}
bool Over(const DeviceSnapshot& d) {
    return d.state == ActuatorState::Finished || d.state == ActuatorState::Failed;
}

}  // namespace

CTestEngine::CTestEngine(CMainDataStore& context, CVLX400E& device,
                         std::function<bool()> portIsOpen, std::function<void()> startLink)
    : context_(context),
      device_(device),
      portIsOpen_(std::move(portIsOpen)),
      startLink_(std::move(startLink)) {}

CTestEngine::~CTestEngine() = default;

void CTestEngine::StartStatusEngineThread() {
    threadId_.store(thread_.Start([this](ThreadId self) {
        threadId_.store(self);  // the thread may get here before Start has returned
        Run();
    }));
}

bool CTestEngine::JoinStatusEngineThread(std::uint32_t withinMs) {
    return thread_.Join(withinMs);
}

void CTestEngine::Run() {
    context_.SetStatusLines("INITIALIZING", "SYSTEM");
    CreateMessageQueue(threadId_.load());
    context_.PauseUnlessStopped(LinkStartDelayMs);
    if (context_.StopRequested()) return;  // a link started now would only close again
    if (startLink_) startLink_();
    context_.PauseUnlessStopped(FirstLinesDelayMs);

    const auto wake = wake_;
    context_.AddStopListener([wake] { wake->Notify(); });
    const auto onRecord = device_.Changes().AddListener([wake] { wake->Notify(); });
    const auto onPort = context_.PortChanges().AddListener([wake] { wake->Notify(); });
    while (!context_.StopRequested()) {
        const std::uint64_t seen = wake->Count();
        const auto next = Update();
        if (context_.StopRequested()) break;
        if (next) {
            wake->WaitForChange(seen, *next);
        } else {
            wake->WaitForChange(seen);
        }
    }
    device_.Changes().RemoveListener(onRecord);
    context_.PortChanges().RemoveListener(onPort);
}

std::optional<std::uint32_t> CTestEngine::Update() {
    device_.FailIfReplyOverdue();
    const DeviceSnapshot device = device_.Snapshot();
    if (NoDevice(device) || Over(device)) device_.ForgetSerialNumber();
    const bool portOpen = portIsOpen_ && portIsOpen_();
    // Read once, so the lines and the pace below agree.
    const bool portLost = context_.PortLost.load() != 0;
    const StatusLines lines = LinesFor(device, portOpen, portLost);
    if (lines != written_) {
        context_.SetStatusLines(lines.first, lines.second);
        written_ = lines;
    }
    if (NoDevice(device) || portLost) return PortRecheckMs;
    return device_.MsUntilReplyOverdue();
}

StatusLines CTestEngine::LinesFor(const DeviceSnapshot& device, bool portIsOpen, bool portLost) {
    using enum ActuatorState;
    // Whatever the record says, nothing reaches the actuator now.
    if (portLost) return {"ADAPTER REMOVED?", "PLUG IT IN AGAIN"};
    if (NoDevice(device)) {
        return {portIsOpen ? "LOOKING FOR DEVICE" : "SERIAL PORT NOT OPEN?", "TORVIN E-VLX400 ?"};
    }
    if (device.state == Failed && device.failCode == FailCode::UpdateNotTaken) {
        // Both versions, so the technician can tell which image was refused.
        return {"UPDATE NOT TAKEN",
                "RUNS " + device.softwareVersion + ", NOT " + device.firmware.downloadedVersion};
    }
    if (Over(device)) {
        return {device.state == Failed ? "REMOVE DEVICE" : "LABEL AND SHIP VLX",
                "FROM POSITION " + std::to_string(DeviceSlot)};
    }
    const ActuatorState state = device.state;
    if (state == Updating) return {"UPDATING SOFTWARE", "PLEASE WAIT"};
    if (state == Calibrating) return {"SETTING UP", ""};
    if (device.setupPending == 1) return {"SETTING UP", ""};
    if (state == ConvertingToEricsson) return {"CONVERTING TO", "ERICSSON MODE"};
    if (state == Testing) return {"MOVING", ""};
    if (state == ScanSerial) {
        if (!device.checkComplete) return {"CHECKING", ""};
        if (device.problemText.empty()) return {"READY", ""};
        return {"POSSIBLE PROBLEM", device.problemText};
    }
    if (state == Reading) return {"COLLECTING", "DATA"};
    return {"IDLE", " "};
}

}  // namespace kvq::status
