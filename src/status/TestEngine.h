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

namespace kvq::core {
class CMainDataStore;
}  // namespace kvq::core

namespace kvq::actuator {
class CVLX400E;
struct DeviceSnapshot;
}  // namespace kvq::actuator

namespace kvq::status {

using StatusLines = std::pair<std::string, std::string>;

// The status engine: turns the device record into the two status lines,
// fails an operation whose reply is overdue, and at its start brings up the
// link thread. It writes the lines when the record or the port's open state
// changes, and wakes by itself only for the reply deadline.
class CTestEngine {
public:
    // portIsOpen tells whether the serial port is open now; startLink brings
    // up the link thread, a second after the engine's start.
    CTestEngine(core::CMainDataStore& context, actuator::CVLX400E& device,
                std::function<bool()> portIsOpen, std::function<void()> startLink);
    virtual ~CTestEngine();
    CTestEngine(const CTestEngine&) = delete;
    CTestEngine& operator=(const CTestEngine&) = delete;

    void StartStatusEngineThread();
    bool JoinStatusEngineThread(std::uint32_t withinMs);
    core::ThreadId StatusEngineThreadId() const { return threadId_.load(); }

    // The thread's whole life.
    void Run();
    // Brings the lines and the record up to date: fails an overdue operation,
    // forgets the serial number of a device that is absent, finished or
    // failed, and writes the lines when they differ from those it wrote last.
    // Answers how long until it must look again without being told of a
    // change (none: not before a change).
    std::optional<std::uint32_t> Update();

    // The two lines for a record, first matching row first.
    // portLost: the port's device went away and the link waits for it.
    static StatusLines LinesFor(const actuator::DeviceSnapshot& device, bool portIsOpen,
                                bool portLost = false);

private:
    core::CMainDataStore& context_;
    actuator::CVLX400E& device_;
    std::function<bool()> portIsOpen_;
    std::function<void()> startLink_;
    // Woken by a change of the record, of the port or by stop; shared with
    // the stop listener, which may outlive the engine.
    std::shared_ptr<core::ChangeSignal> wake_ = std::make_shared<core::ChangeSignal>();
    std::optional<StatusLines> written_;
    std::atomic<core::ThreadId> threadId_{0};
    core::WorkerThread thread_;
};

}  // namespace kvq::status
