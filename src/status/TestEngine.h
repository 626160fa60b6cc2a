#pragma once

#include <atomic>
#include <cstdint>

#include "ThreadMessages.h"
#include "WorkerThread.h"

class CHDLCPrimary;
class CMainDataStore;
class CRS485SerialPort;

// The status engine: turns the actuator's state into the two status lines,
// and at its start brings up the link thread.
class CTestEngine {
public:
    CTestEngine(CMainDataStore& context, CRS485SerialPort& port, CHDLCPrimary& link);
    virtual ~CTestEngine();
    CTestEngine(const CTestEngine&) = delete;
    CTestEngine& operator=(const CTestEngine&) = delete;

    void StartStatusEngineThread();
    bool JoinStatusEngineThread(std::uint32_t withinMs);
    ThreadId StatusEngineThreadId() const { return threadId_.load(); }

    // The thread's whole life.
    void Run();
    // True when no device is there; then it has written the lines itself.
    bool CheckNoDevice(std::int32_t slot);

private:
    CMainDataStore& context_;
    CRS485SerialPort& port_;
    CHDLCPrimary& link_;
    std::atomic<ThreadId> threadId_{0};
    WorkerThread thread_;
};
