#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "core/ChangeSignal.h"
#include "core/ThreadMessages.h"
#include "core/WorkerThread.h"

class CMainDataStore;
class CVLX400E;
struct DeviceSnapshot;

using StatusLines = std::pair<std::string, std::string>;

// The status engine: turns the device record into the two status lines,
// fails an operation whose reply is overdue, and at its start brings up the
// link thread. It writes the lines when the record or the port's open state
// changes, and wakes by itself only for the reply deadline.
class CTestEngine {
public:
    // portIsOpen tells whether the serial port is open now; startLink brings
    // up the link thread, a second after the engine's start.
    CTestEngine(CMainDataStore& context, CVLX400E& device, std::function<bool()> portIsOpen,
                std::function<void()> startLink);
    virtual ~CTestEngine();
    CTestEngine(const CTestEngine&) = delete;
    CTestEngine& operator=(const CTestEngine&) = delete;

    void StartStatusEngineThread();
    bool JoinStatusEngineThread(std::uint32_t withinMs);
    ThreadId StatusEngineThreadId() const { return threadId_.load(); }

    // The thread's whole life.
    void Run();
    // Brings the lines and the record up to date: fails an overdue operation,
    // forgets the serial number of a device that is absent, finished or
    // failed, and writes the lines when they differ from those it wrote last.
    // Answers how long until it must look again without being told of a
    // change (none: not before a change).
    std::optional<std::uint32_t> Update();

    // The two lines for a record, first matching row first.
    static StatusLines LinesFor(const DeviceSnapshot& device, bool portIsOpen);

private:
    CMainDataStore& context_;
    CVLX400E& device_;
    std::function<bool()> portIsOpen_;
    std::function<void()> startLink_;
    // Woken by a change of the record, of the port or by stop; shared with
    // the stop listener, which may outlive the engine.
    std::shared_ptr<ChangeSignal> wake_ = std::make_shared<ChangeSignal>();
    std::optional<StatusLines> written_;
    std::atomic<ThreadId> threadId_{0};
    WorkerThread thread_;
};
