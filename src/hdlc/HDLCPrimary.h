#pragma once

#include <atomic>
#include <cstdint>

#include "ThreadMessages.h"
#include "WorkerThread.h"

class CMainDataStore;
class CRS485SerialPort;

enum class LinkMode : std::int32_t { Aisg = 0, Ericsson = 1 };

// The primary station of the HDLC link. The station's procedure is driven only
// by the link thread; other threads know it by the thread id they post to.
class CHDLCPrimary {
public:
    virtual ~CHDLCPrimary();

    // Starts the link thread on the given port, which the thread alone opens,
    // uses and closes.
    void StartLinkThread(CRS485SerialPort& port, CMainDataStore& context);
    // Waits (at most withinMs) for the link thread to end; true when it has.
    bool JoinLinkThread(std::uint32_t withinMs);

    ThreadId LinkThreadId() const { return threadId_.load(); }
    LinkMode Mode() const { return linkMode_.load(); }

    std::atomic<std::int32_t> FailedAttempts{0};
    std::int32_t LinkUpFrameCount = 0;

protected:
    std::atomic<ThreadId> threadId_{0};
    std::atomic<LinkMode> linkMode_{LinkMode::Aisg};
    WorkerThread thread_;
};

// The one variant: Ericsson framing of commands and replies.
class CHDLCEricsson : public CHDLCPrimary {};
