#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/ThreadMessages.h"
#include "core/WorkerThread.h"
#include "hdlc/LinkMode.h"

namespace kvq::core {
class CMainDataStore;
}  // namespace kvq::core

namespace kvq::serial {
class SerialLine;
}  // namespace kvq::serial

namespace kvq::hdlc {

class CHDLCPrimary;
class LinkDevice;

constexpr std::int32_t EricssonBaud = 115200;
constexpr std::int32_t AisgBaud = 9600;

// The link thread: it alone opens, uses and closes the serial line, and drives
// the primary station through the poll cycle. Other threads post it messages.
class CLinkThread {
public:
    CLinkThread();
    ~CLinkThread();
    CLinkThread(const CLinkThread&) = delete;
    CLinkThread& operator=(const CLinkThread&) = delete;

    // Starts the thread; the station's one secondary stands for the device.
    void StartLinkThread(serial::SerialLine& line, core::CMainDataStore& context,
                         LinkDevice* device);
    bool JoinLinkThread(std::uint32_t withinMs);
    core::ThreadId LinkThreadId() const { return threadId_.load(); }

    // Safe from any thread.
    LinkMode Mode() const;
    std::int32_t LinkUpFrameCount() const;

private:
    std::unique_ptr<CHDLCPrimary> station_;
    std::atomic<core::ThreadId> threadId_{0};
    core::WorkerThread thread_;
};

}  // namespace kvq::hdlc
