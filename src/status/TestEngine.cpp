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

// No actuator answers: the lines speak of the port.
bool NoDevice(const DeviceSnapshot& d) {
    const Activity activity = ActivityOf(d);
    return activity == Activity::Looking || activity == Activity::Lost;
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
    // Whatever the record says, nothing reaches the actuator now.
    if (portLost) return {"ADAPTER REMOVED?", "PLUG IT IN AGAIN"};
    switch (ActivityOf(device)) {
        case Activity::Looking:
        case Activity::Lost:
            return {portIsOpen ? "LOOKING FOR DEVICE" : "SERIAL PORT NOT OPEN?",
                    "TORVIN E-VLX400 ?"};
        case Activity::Failed:
            return {"REMOVE DEVICE", "FROM POSITION " + std::to_string(DeviceSlot)};
        case Activity::Updating:
            return {"UPDATING SOFTWARE", "PLEASE WAIT"};
        case Activity::ChangingModel:
            return {"SETTING UP", ""};
        case Activity::Converting:
            return {"CONVERTING TO", "ERICSSON MODE"};
        case Activity::Moving:
            return {"MOVING", ""};
        case Activity::Checking:
            if (device.state == ActuatorState::ReadingIdentity) return {"COLLECTING", "DATA"};
            return {"CHECKING", ""};
        case Activity::Ready:
            break;
    }
    // Both versions, so the technician can tell which image was refused; it
    // stays until another download starts.
    if (device.firmware.updateNotTaken) {
        return {"UPDATE NOT TAKEN",
                "RUNS " + device.softwareVersion + ", NOT " + device.firmware.downloadedVersion};
    }
    if (device.problemText.empty()) return {"READY", ""};
    return {"POSSIBLE PROBLEM", device.problemText};
}

}  // namespace kvq::status
