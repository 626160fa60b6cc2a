#include <windows.h>

#include "core/ThreadPriority.h"

namespace kvq::core {

void RaiseCurrentThreadPriority() {
    // Time-critical within the process's class: above every normal thread,
    // without asking for the realtime class, which needs privileges.
    (void)::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

}  // namespace kvq::core
