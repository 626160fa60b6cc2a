#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "core/ThreadMessages.h"

namespace kvq::core {

// A worker thread with an id for thread messages. The id is known as soon as
// Start returns, before the thread has created its queue.
class WorkerThread {
public:
    WorkerThread() = default;
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;
    ~WorkerThread();

    // Runs body on a new thread and answers its id (0 when the thread could not
    // be created). The thread's queue is removed, and anything left in it freed,
    // when body returns.
    ThreadId Start(std::function<void(ThreadId)> body);

    // Waits until the thread has finished, for at most withinMs, and joins it.
    // A thread that does not finish in time is left to end with the process.
    bool Join(std::uint32_t withinMs);

    bool Started() const { return thread_.joinable(); }

private:
    // Shared with the thread, so a thread left running cannot outlive what it touches.
    struct Completion {
        std::mutex mutex;
        std::condition_variable changed;
        bool finished = false;
    };
    std::shared_ptr<Completion> completion_;
    std::thread thread_;
};

}  // namespace kvq::core
