#pragma once

namespace kvq::core {

// Raises the calling thread to real-time priority; silently stays at normal
// priority where the system refuses.
void RaiseCurrentThreadPriority();

}  // namespace kvq::core
