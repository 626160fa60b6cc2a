#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/ThreadMessages.h"

using namespace kvq::core;

namespace {

// A block that counts how many of its kind are alive, so a test can see that
// ownership moved and nothing leaked, without relying on the leak checker alone.
std::atomic<int> liveBlocks{0};

CommandBufferPtr CountedBlock(std::uint8_t tag) {
    auto buffer = NewCommandBuffer(20, 5);
    buffer->Append(tag);
    ++liveBlocks;
    return buffer;
}

// Counts a block gone when the test lets go of it.
void Release(CommandBufferPtr& buffer) {
    if (buffer) --liveBlocks;
    buffer.reset();
}

class ThreadMessages : public ::testing::Test {
protected:
    void SetUp() override { liveBlocks = 0; }
    ThreadId id = NewThreadId();
    void TearDown() override { DestroyMessageQueue(id); }
};

}  // namespace

TEST_F(ThreadMessages, PostsFailWithoutAQueueAndFreeTheirBlock) {
    struct Case {
        const char* what;
        ThreadId target;
    } cases[] = {{"id 0", 0}, {"queue not created yet", id}, {"unknown id", id + 1000}};
    for (const auto& c : cases) {
        // The leak checker fails the run if a refused post kept its block.
        EXPECT_FALSE(PostThreadMessage(c.target, MsgCommand, 0, NewCommandBuffer(20, 5))) << c.what;
        EXPECT_FALSE(PostThreadMessage(c.target, MsgLinkUp)) << c.what;
    }
    EXPECT_FALSE(HasMessage(id));
}

TEST_F(ThreadMessages, TakesOneAtATimeOldestFirstWithBlocksHandedOver) {
    CreateMessageQueue(id);
    ASSERT_TRUE(PostThreadMessage(id, MsgCommand, 0, CountedBlock(1)));
    ASSERT_TRUE(PostThreadMessage(id, MsgSuspendPolling, 20));
    ASSERT_TRUE(PostThreadMessage(id, MsgCommand, 0, CountedBlock(2)));
    EXPECT_TRUE(HasMessage(id));

    ThreadMessage m;
    ASSERT_TRUE(TakeMessage(id, m));
    EXPECT_EQ(m.number, MsgCommand);
    ASSERT_NE(m.lParam, nullptr);
    EXPECT_EQ(m.lParam->Valid()[0], 1);
    Release(m.lParam);

    ASSERT_TRUE(TakeMessage(id, m));
    EXPECT_EQ(m.number, MsgSuspendPolling);
    EXPECT_EQ(m.wParam, 20u);
    EXPECT_EQ(m.lParam, nullptr);

    ASSERT_TRUE(TakeMessage(id, m));
    ASSERT_NE(m.lParam, nullptr);
    EXPECT_EQ(m.lParam->Valid()[0], 2);
    Release(m.lParam);

    EXPECT_FALSE(TakeMessage(id, m));
    EXPECT_FALSE(HasMessage(id));
    EXPECT_EQ(liveBlocks, 0);
}

TEST_F(ThreadMessages, DestroyingAQueueFreesWhatIsLeftAndLaterPostsFail) {
    CreateMessageQueue(id);
    CreateMessageQueue(id);  // a second create keeps what is queued
    ASSERT_TRUE(PostThreadMessage(id, MsgCommand, 0, NewCommandBuffer(20, 5)));
    CreateMessageQueue(id);
    EXPECT_TRUE(HasMessage(id));
    DestroyMessageQueue(id);  // the leak checker sees the block freed here
    EXPECT_FALSE(HasMessage(id));
    EXPECT_FALSE(PostThreadMessage(id, MsgLinkUp));
}

TEST_F(ThreadMessages, AWaitIsCutShortByAPostFromAnotherThread) {
    CreateMessageQueue(id);
    const auto start = std::chrono::steady_clock::now();
    std::thread poster([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostThreadMessage(id, MsgLinkUp);
    });
    const bool got = WaitMessage(id, 5000);
    const auto waited = std::chrono::steady_clock::now() - start;
    poster.join();
    EXPECT_TRUE(got);
    EXPECT_LT(waited, std::chrono::milliseconds(2000));

    ThreadMessage m;
    ASSERT_TRUE(TakeMessage(id, m));
    const auto quiet = std::chrono::steady_clock::now();
    EXPECT_FALSE(WaitMessage(id, 30));
    EXPECT_GE(std::chrono::steady_clock::now() - quiet, std::chrono::milliseconds(25));
}

TEST_F(ThreadMessages, BlocksCrossThreadsWithTheirMessages) {
    // A producer thread posts blocks; this thread takes and frees them. Every
    // block arrives once, in order, and none is left behind.
    CreateMessageQueue(id);
    constexpr int count = 200;
    std::thread producer([this] {
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(PostThreadMessage(id, MsgCommand, 0, CountedBlock(std::uint8_t(i))));
        }
    });
    int expected = 0;
    while (expected < count) {
        ThreadMessage m;
        if (!TakeMessage(id, m)) {
            WaitMessage(id, 100);
            continue;
        }
        ASSERT_NE(m.lParam, nullptr);
        EXPECT_EQ(m.lParam->Valid()[0], std::uint8_t(expected));
        Release(m.lParam);
        ++expected;
    }
    producer.join();
    EXPECT_EQ(liveBlocks, 0);
}

TEST(ThreadIds, AreNonzeroAndUnique) {
    const ThreadId a = NewThreadId();
    const ThreadId b = NewThreadId();
    EXPECT_NE(a, 0u);
    EXPECT_NE(b, 0u);
    EXPECT_NE(a, b);
}
