#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "core/WorkerThread.h"

using namespace kvq::core;

TEST(WorkerThread, RunsWithItsIdAndRemovesItsQueueWhenDone) {
    WorkerThread worker;
    std::atomic<ThreadId> seen{0};
    std::atomic<bool> release{false};
    const ThreadId id = worker.Start([&](ThreadId self) {
        CreateMessageQueue(self);
        seen = self;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    ASSERT_NE(id, 0u);
    while (seen == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(seen, id);
    EXPECT_TRUE(PostThreadMessage(id, MsgCommand, 0, NewCommandBuffer(20, 5)));
    release = true;
    EXPECT_TRUE(worker.Join(1000));
    // The queue went with the thread, and the block left in it with the queue.
    EXPECT_FALSE(PostThreadMessage(id, MsgLinkUp));
}

TEST(WorkerThread, JoinGivesUpAfterItsAllowance) {
    // Shared with the thread that is left behind, so it outlives this test.
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto ended = std::make_shared<std::atomic<bool>>(false);
    {
        WorkerThread worker;
        worker.Start([release, ended](ThreadId) {
            while (!*release)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            *ended = true;
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(worker.Join(50));
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_GE(waited, std::chrono::milliseconds(45));
        EXPECT_LT(waited, std::chrono::milliseconds(1000));
    }
    *release = true;  // the thread left behind ends on its own
    while (!*ended)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}
