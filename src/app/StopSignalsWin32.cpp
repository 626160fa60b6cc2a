#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>

#include "app/StopSignals.h"

namespace kvq::app {

namespace {

// The system calls the handler on a thread of its own for each event. Ctrl-C
// and Ctrl-Break are an interrupt (SIGINT, so the exit code is 130 as on
// Linux); closing the console, logging off and shutting down ask the program
// to end (SIGTERM, 143).
struct Watch {
    std::mutex mutex;
    std::condition_variable finished;
    std::function<void(int)> onSignal;
    bool installed = false;
    bool done = false;  // StopWatchingStopSignals was called: the program has wound down
};

Watch& TheWatch() {
    static Watch* watch = new Watch;  // never destroyed: a handler may run while the process ends
    return *watch;
}

// After a close, log-off or shut-down event the system ends the process as
// soon as the handler returns (and after a few seconds in any case), so the
// handler waits here until the program has closed its port and stopped its
// workers.
constexpr auto CloseGrace = std::chrono::milliseconds(4500);

BOOL WINAPI OnConsoleEvent(DWORD event) {
    int signal = 0;
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
            signal = SIGINT;
            break;
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            signal = SIGTERM;
            break;
        default:
            return FALSE;
    }
    Watch& watch = TheWatch();
    std::unique_lock lock(watch.mutex);
    // Once the program has stopped watching, an interrupt is swallowed, as a
    // blocked signal stays pending on Linux: the shutdown under way finishes.
    if (watch.onSignal) watch.onSignal(signal);
    if (signal == SIGTERM) {
        watch.finished.wait_for(lock, CloseGrace, [&watch] { return watch.done; });
    }
    return TRUE;
}

}  // namespace

bool WatchStopSignals(std::function<void(int)> onSignal) {
    Watch& watch = TheWatch();
    std::lock_guard lock(watch.mutex);
    watch.onSignal = std::move(onSignal);
    watch.done = false;
    if (watch.installed) return true;
    if (!::SetConsoleCtrlHandler(OnConsoleEvent, TRUE)) return false;
    watch.installed = true;
    return true;
}

void StopWatchingStopSignals() {
    Watch& watch = TheWatch();
    {
        std::lock_guard lock(watch.mutex);
        watch.onSignal = nullptr;
        watch.done = true;
    }
    watch.finished.notify_all();
}

}  // namespace kvq::app
