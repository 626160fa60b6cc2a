#pragma once

#include <cstdint>
#include <functional>

#include "core/CommandBuffer.h"

namespace kvq::core {

// Posted thread messages: the only way work crosses threads. A thread is known
// by a nonzero 32-bit id of our own; it must create its queue before anything
// can be posted to it, and it takes its messages one at a time, oldest first.

using ThreadId = std::uint32_t;

enum MessageNumber : std::uint32_t {
    MsgCommand = 1025,          // actuator <-> link: command out, reply back
    MsgLinkUp = 1026,           // link -> actuator
    MsgLinkDown = 1027,         // link -> actuator
    MsgSuspendPolling = 1029,   // actuator -> link, wParam = HDLC address
    MsgResumePolling = 1030,    // actuator -> link, wParam = HDLC address
    MsgDeviceLost = 1031,       // link -> actuator
    MsgSetTilt = 1033,          // UI -> actuator
    MsgChangeModel = 1034,      // UI -> actuator
    MsgReopenPort = 1035,       // UI -> link
    MsgAisgMode = 1036,         // actuator -> link
    MsgAisgDeviceFound = 1037,  // link -> actuator
    MsgRawCommand = 1038,       // actuator -> link
    MsgEricssonMode = 1039,     // actuator -> link
};

struct ThreadMessage {
    std::uint32_t number = 0;
    std::uintptr_t wParam = 0;  // 0 or an HDLC address
    CommandBufferPtr lParam;    // none, or the block that travels with the message
};

// A new id, never 0 and never handed out twice in this process.
ThreadId NewThreadId();

// Called by the thread that owns the id. Creating a queue that exists is harmless.
void CreateMessageQueue(ThreadId id);
// Removes the queue; messages still in it are dropped and their blocks freed.
void DestroyMessageQueue(ThreadId id);

// Fails (false) for id 0 or a thread without a queue; the block is then freed,
// so a failed post never leaks.
bool PostThreadMessage(ThreadId id, std::uint32_t number, std::uintptr_t wParam = 0,
                       CommandBufferPtr lParam = nullptr);

// For a thread that waits on its queue and on something else at once (the link
// thread waits on the serial line): waker is called on the posting thread after
// every successful post, so that wait can be cut short. The thread sets it after
// creating its queue; it goes with the queue.
void SetQueueWaker(ThreadId id, std::function<void()> waker);

// Whether a message is waiting, without taking it.
bool HasMessage(ThreadId id);
// Takes the oldest message; false when there is none.
bool TakeMessage(ThreadId id, ThreadMessage& message);
// Waits up to timeoutMs for a message to be waiting; a post cuts the wait short.
bool WaitMessage(ThreadId id, std::uint32_t timeoutMs);

}  // namespace kvq::core
