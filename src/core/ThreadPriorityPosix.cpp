#include <pthread.h>
#include <sched.h>

#include "core/ThreadPriority.h"

namespace kvq::core {

void RaiseCurrentThreadPriority() {
    sched_param param{};
    const int lowest = sched_get_priority_min(SCHED_FIFO);
    const int highest = sched_get_priority_max(SCHED_FIFO);
    if (lowest < 0 || highest < 0) return;
    // Above every normal thread, but well below the kernel's own real-time work.
    param.sched_priority = lowest + (highest - lowest) / 4;
    (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

}  // namespace kvq::core
