#include "TestEngine.h"

#include "Actuator.h"
#include "HDLCPrimary.h"
#include "MainDataStore.h"
#include "RS485SerialPort.h"

namespace {

constexpr std::uint32_t StepPauseMs = 50;
constexpr std::uint32_t LinePauseMs = 500;

}  // namespace

CTestEngine::CTestEngine(CMainDataStore& context, CRS485SerialPort& port, CHDLCPrimary& link)
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
        if (CheckNoDevice(1)) continue;
        context_.SetStatusLines("IDLE", " ");
        context_.PauseUnlessStopped(LinePauseMs);
    }
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
