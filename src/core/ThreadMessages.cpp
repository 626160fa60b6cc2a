#include "core/ThreadMessages.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <unordered_map>

#include "core/TimeSource.h"

namespace kvq::core {

namespace {

struct MessageQueue {
    std::mutex mutex;
    std::condition_variable posted;
    std::deque<ThreadMessage> messages;
    // Called after every post, for a thread that waits on more than its queue.
    std::function<void()> waker;
};

class QueueRegistry {
public:
    std::shared_ptr<MessageQueue> Find(ThreadId id) {
        std::lock_guard lock(mutex_);
        auto it = queues_.find(id);
        return it == queues_.end() ? nullptr : it->second;
    }
    void Create(ThreadId id) {
        std::lock_guard lock(mutex_);
        auto& queue = queues_[id];
        if (!queue) queue = std::make_shared<MessageQueue>();
    }
    void Destroy(ThreadId id) {
        std::shared_ptr<MessageQueue> queue;
        {
            std::lock_guard lock(mutex_);
            auto it = queues_.find(id);
            if (it == queues_.end()) return;
            queue = std::move(it->second);
            queues_.erase(it);
        }
        std::lock_guard lock(queue->mutex);
        queue->messages.clear();
    }

private:
    std::mutex mutex_;
    std::unordered_map<ThreadId, std::shared_ptr<MessageQueue>> queues_;
};

QueueRegistry& Registry() {
    // Never destroyed: a worker left running at exit may still remove its queue.
    static QueueRegistry* registry = new QueueRegistry;
    return *registry;
}

std::atomic<ThreadId> lastThreadId{0};

}  // namespace

ThreadId NewThreadId() {
    ThreadId id = 0;
    while (id == 0)
        id = ++lastThreadId;  // skips 0 should the counter ever wrap
    return id;
}

void CreateMessageQueue(ThreadId id) {
    if (id != 0) Registry().Create(id);
}

void DestroyMessageQueue(ThreadId id) {
    Registry().Destroy(id);
}

bool PostThreadMessage(ThreadId id, std::uint32_t number, std::uintptr_t wParam,
                       CommandBufferPtr lParam) {
    if (id == 0) return false;
    auto queue = Registry().Find(id);
    if (!queue) return false;
    std::function<void()> waker;
    {
        std::lock_guard lock(queue->mutex);
        queue->messages.push_back(ThreadMessage{number, wParam, std::move(lParam)});
        waker = queue->waker;
    }
    queue->posted.notify_all();
    if (waker) waker();
    return true;
}

void SetQueueWaker(ThreadId id, std::function<void()> waker) {
    auto queue = Registry().Find(id);
    if (!queue) return;
    std::lock_guard lock(queue->mutex);
    queue->waker = std::move(waker);
}

bool HasMessage(ThreadId id) {
    auto queue = Registry().Find(id);
    if (!queue) return false;
    std::lock_guard lock(queue->mutex);
    return !queue->messages.empty();
}

bool TakeMessage(ThreadId id, ThreadMessage& message) {
    auto queue = Registry().Find(id);
    if (!queue) return false;
    std::lock_guard lock(queue->mutex);
    if (queue->messages.empty()) return false;
    message = std::move(queue->messages.front());
    queue->messages.pop_front();
    return true;
}

bool WaitMessage(ThreadId id, std::uint32_t timeoutMs) {
    auto queue = Registry().Find(id);
    if (!queue) {
        Clock().Sleep(timeoutMs);
        return false;
    }
    if (!Clock().IsSystemClock()) {
        // A test clock: time only passes when someone sleeps on it.
        if (HasMessage(id)) return true;
        Clock().Sleep(timeoutMs);
        return HasMessage(id);
    }
    std::unique_lock lock(queue->mutex);
    return queue->posted.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                  [&] { return !queue->messages.empty(); });
}

}  // namespace kvq::core
