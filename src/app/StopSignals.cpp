#include "app/StopSignals.h"

#include <csignal>
#include <ctime>

namespace {

sigset_t StopSet() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void BlockStopSignals() {
    const sigset_t set = StopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int WaitForStopSignal(std::uint32_t timeoutMs) {
    const sigset_t set = StopSet();
    timespec timeout{static_cast<time_t>(timeoutMs / 1000),
                     static_cast<long>(timeoutMs % 1000) * 1000000L};
    const int signal = sigtimedwait(&set, nullptr, &timeout);
    return signal > 0 ? signal : 0;
}
