#include "status/TestEngine.h"

#include "actuator/Actuator.h"
#include "hdlc/LinkThread.h"
#include "core/MainDataStore.h"
#include "serial/SerialLine.h"

namespace {

constexpr std::uint32_t StepPauseMs = 50;
constexpr std::uint32_t LinePauseMs = 500;

}  // namespace

CTestEngine::CTestEngine(CMainDataStore& context, SerialLine& port, CLinkThread& link)
    : context_(context), port_(port), link_(link) {}

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
    // Gives the dialog time to name the port before the link looks for it.
    context_.PauseUnlessStopped(1000);
    if (context_.StopRequested()) return;  // a link started now would only close again
    link_.StartLinkThread(port_, context_, context_.GetDevice(1));
    context_.PauseUnlessStopped(100);
    while (!context_.StopRequested()) {
        context_.PauseUnlessStopped(StepPauseMs);
        Pass();
    }
}

void CTestEngine::Pass() {
    if (CheckNoDevice(1)) return;
    if (CheckFinished(1)) return;
    CheckReplyTimeout(1);
    const CActuator* device = context_.GetDevice(1);
    if (!device) return;
    const auto [line1, line2] = LinesFor(*device);
    context_.SetStatusLines(line1, line2);
    if (line1 == "IDLE") context_.PauseUnlessStopped(LinePauseMs);
}

std::pair<std::string, std::string> CTestEngine::LinesFor(const CActuator& device) {
    const std::int32_t state = device.state.load();
    if (state == Updating) return {"UPDATING SOFTWARE", "PLEASE WAIT"};
    if (state == Calibrating) return {"SETTING UP", ""};
    if (device.setupPending.load() == 1) return {"SETTING UP", ""};
    if (state == ConvertingToEricsson) return {"CONVERTING TO", "ERICSSON MODE"};
    if (state == Testing) return {"MOVING", ""};
    if (state == ScanSerial) {
        if (device.step.load() < 8) return {"CHECKING", ""};
        const std::string problem = device.problemText.Get();
        if (problem.empty()) return {"READY", ""};
        return {"POSSIBLE PROBLEM", problem};
    }
    if (state == Reading) return {"COLLECTING", "DATA"};
    return {"IDLE", " "};
}

bool CTestEngine::CheckNoDevice(std::int32_t slot) {
    bool noDevice = false;
    CActuator* device = context_.GetDevice(slot);
    if (device && context_.GetDeviceState(slot) == Searching &&
        context_.GetSetupPending(slot) == 0) {
        device->serialNumber.Set("(no serial num)");
        const char* line1 = port_.IsOpen.load() ? "LOOKING FOR DEVICE" : "SERIAL PORT NOT OPEN?";
        context_.SetStatusLines(line1, "TORVIN E-VLX400 ?");
        context_.PauseUnlessStopped(LinePauseMs);
        noDevice = true;
    }
    context_.PauseUnlessStopped(StepPauseMs);
    return noDevice;
}

bool CTestEngine::CheckFinished(std::int32_t slot) {
    bool finished = false;
    CActuator* device = context_.GetDevice(slot);
    const std::int32_t state = context_.GetDeviceState(slot);
    if (device && (state == Finished || state == Failed)) {
        device->serialNumber.Set("(no serial num)");
        const std::string line2 = "FROM POSITION " + std::to_string(slot);
        context_.SetStatusLines(state == Failed ? "REMOVE DEVICE" : "LABEL AND SHIP VLX", line2);
        context_.PauseUnlessStopped(LinePauseMs);
        finished = true;
    }
    context_.PauseUnlessStopped(StepPauseMs);
    return finished;
}

bool CTestEngine::CheckReplyTimeout(std::int32_t slot) {
    if (CActuator* device = context_.GetDevice(slot)) device->FailIfReplyOverdue();
    context_.PauseUnlessStopped(StepPauseMs);
    return false;
}
