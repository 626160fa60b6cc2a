#include "core/WorkerThread.h"

#include <pthread.h>
#include <sched.h>

#include <chrono>
#include <system_error>

WorkerThread::~WorkerThread() {
    if (thread_.joinable()) Join(0);
}

ThreadId WorkerThread::Start(std::function<void(ThreadId)> body) {
    if (thread_.joinable()) return 0;  // one thread per object
    const ThreadId id = NewThreadId();
    auto completion = std::make_shared<Completion>();
    completion_ = completion;
    try {
        thread_ = std::thread([completion, id, body = std::move(body)] {
            body(id);
            DestroyMessageQueue(id);
            std::lock_guard lock(completion->mutex);
            completion->finished = true;
            completion->changed.notify_all();
        });
    } catch (const std::system_error&) {
        return 0;  // posts to id 0 fail, which is all the rest of the system sees
    }
    return id;
}

bool WorkerThread::Join(std::uint32_t withinMs) {
    if (!thread_.joinable()) return true;
    bool finished;
    {
        std::unique_lock lock(completion_->mutex);
        finished = completion_->changed.wait_for(lock, std::chrono::milliseconds(withinMs),
                                                 [this] { return completion_->finished; });
    }
    if (finished) {
        thread_.join();
        return true;
    }
    thread_.detach();
    return false;
}

void RaiseCurrentThreadPriority() {
    sched_param param{};
    const int lowest = sched_get_priority_min(SCHED_FIFO);
    const int highest = sched_get_priority_max(SCHED_FIFO);
    if (lowest < 0 || highest < 0) return;
    // Above every normal thread, but well below the kernel's own real-time work.
    param.sched_priority = lowest + (highest - lowest) / 4;
    (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}
