#pragma once

#include <functional>

namespace kvq::app {

// Ctrl-C and SIGTERM for the front ends. Call before any thread starts: the
// signals are then kept from every thread (threads inherit the mask) and
// taken by a watcher of their own, which calls onSignal with the signal's
// number, on the watcher's thread. False when the watcher could not start.
bool WatchStopSignals(std::function<void(int)> onSignal);
// After this returns, onSignal is not called any more; later signals stay
// pending until the process ends.
void StopWatchingStopSignals();

}  // namespace kvq::app
