#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kvq::testing {

// Polls `done` every 2 ms until it holds or the time is up; false on time-out.
inline bool WaitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::milliseconds{2000}) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds{2});
    }
    return true;
}

}  // namespace kvq::testing
