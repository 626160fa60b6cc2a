#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "core/ThreadMessages.h"
#include "core/WorkerThread.h"

class CActuator;
class CMainDataStore;
class SerialLine;
class CLinkThread;

// The status engine: turns the actuator's state into the two status lines,
// fails an operation whose reply is overdue, and at its start brings up the
// link thread.
class CTestEngine {
public:
    CTestEngine(CMainDataStore& context, SerialLine& port, CLinkThread& link);
    virtual ~CTestEngine();
    CTestEngine(const CTestEngine&) = delete;
    CTestEngine& operator=(const CTestEngine&) = delete;

    void StartStatusEngineThread();
    bool JoinStatusEngineThread(std::uint32_t withinMs);
    ThreadId StatusEngineThreadId() const { return threadId_.load(); }

    // The thread's whole life.
    void Run();
    // One pass of the loop, after its first pause.
    void Pass();
    // True when no device is there; the lines are then written.
    bool CheckNoDevice(std::int32_t slot);
    // True when the device has finished or failed; the lines are then written.
    bool CheckFinished(std::int32_t slot);
    // The reply watchdog. Always false.
    bool CheckReplyTimeout(std::int32_t slot);

    // The two lines for a device that is neither absent nor finished.
    static std::pair<std::string, std::string> LinesFor(const CActuator& device);

private:
    CMainDataStore& context_;
    SerialLine& port_;
    CLinkThread& link_;
    std::atomic<ThreadId> threadId_{0};
    WorkerThread thread_;
};
