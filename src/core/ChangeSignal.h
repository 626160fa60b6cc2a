#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace kvq::core {

// A counter of changes that a thread can wait on, and that can hand each
// change on to listeners (so one thread can wait on several of them through a
// signal of its own). Listeners run on the changing thread and must not block.
class ChangeSignal {
public:
    using ListenerId = std::uint64_t;

    std::uint64_t Count() const {
        std::lock_guard lock(mutex_);
        return count_;
    }
    void Notify() {
        std::vector<std::function<void()>> listeners;
        {
            std::lock_guard lock(mutex_);
            ++count_;
            for (const auto& entry : listeners_)
                listeners.push_back(entry.second);
        }
        changed_.notify_all();
        for (const auto& listener : listeners)
            listener();
    }
    // Waits until the count differs from seen, at most timeoutMs (real time);
    // answers the count then.
    std::uint64_t WaitForChange(std::uint64_t seen, std::uint32_t timeoutMs) const {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [&] { return count_ != seen; });
        return count_;
    }
    // Waits without a deadline until the count differs from seen.
    std::uint64_t WaitForChange(std::uint64_t seen) const {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return count_ != seen; });
        return count_;
    }
    ListenerId AddListener(std::function<void()> listener) {
        std::lock_guard lock(mutex_);
        listeners_.emplace_back(++lastListener_, std::move(listener));
        return lastListener_;
    }
    void RemoveListener(ListenerId id) {
        std::lock_guard lock(mutex_);
        std::erase_if(listeners_, [id](const auto& entry) { return entry.first == id; });
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::uint64_t count_ = 0;
    ListenerId lastListener_ = 0;
    std::vector<std::pair<ListenerId, std::function<void()>>> listeners_;
};

}  // namespace kvq::core
