#include "core/WorkerThread.h"

#include <chrono>
#include <system_error>

namespace kvq::core {

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

}  // namespace kvq::core
