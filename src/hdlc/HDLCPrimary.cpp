#include "HDLCPrimary.h"

#include "LinkThread.h"

CHDLCPrimary::~CHDLCPrimary() = default;

void CHDLCPrimary::StartLinkThread(CRS485SerialPort& port, CMainDataStore& context) {
    // The station is set up before its thread runs, so the thread never sees it half done.
    linkMode_.store(LinkMode::Ericsson);
    LinkUpFrameCount = 5;
    FailedAttempts.store(0);
    const ThreadId id = thread_.Start(
        [this, &port, &context](ThreadId self) { LinkThread(*this, port, context, self); });
    threadId_.store(id);
}

bool CHDLCPrimary::JoinLinkThread(std::uint32_t withinMs) { return thread_.Join(withinMs); }
