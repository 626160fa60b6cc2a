#include <pthread.h>

#include <csignal>
#include <mutex>
#include <thread>

#include "app/StopSignals.h"

namespace kvq::app {

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

// The watcher lives until the process ends, asleep in sigwait: it costs no
// wake-up while nothing comes.
struct Watch {
    std::mutex mutex;
    std::function<void(int)> onSignal;
    bool started = false;
};

Watch& TheWatch() {
    static Watch* watch = new Watch;  // never destroyed: the watcher may outlive main
    return *watch;
}

}  // namespace

bool WatchStopSignals(std::function<void(int)> onSignal) {
    Watch& watch = TheWatch();
    std::lock_guard lock(watch.mutex);
    watch.onSignal = std::move(onSignal);
    if (watch.started) return true;
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    try {
        std::thread([&watch] {
            const sigset_t wanted = StopSet();
            for (;;) {
                int signal = 0;
                if (sigwait(&wanted, &signal) != 0) continue;
                std::lock_guard inner(watch.mutex);
                if (watch.onSignal) watch.onSignal(signal);
            }
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    watch.started = true;
    return true;
}

void StopWatchingStopSignals() {
    Watch& watch = TheWatch();
    std::lock_guard lock(watch.mutex);
    watch.onSignal = nullptr;
}

}  // namespace kvq::app
