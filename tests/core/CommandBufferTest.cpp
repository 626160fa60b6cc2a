#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "core/CommandBuffer.h"
#include "core/ThreadMessages.h"

using namespace kvq::core;

TEST(CommandBuffer, AppendsBigEndianFromTheDataOffset) {
    auto buffer = NewCommandBuffer(20, 5);
    EXPECT_EQ(buffer->address, 20);
    EXPECT_EQ(buffer->control, 0);
    EXPECT_EQ(buffer->length, 0);
    ASSERT_TRUE(buffer->AppendBig32(0x12345678));
    ASSERT_TRUE(buffer->AppendBig16(0xFFB5));
    ASSERT_TRUE(buffer->Append(0x7E));
    const std::uint8_t expected[] = {0x12, 0x34, 0x56, 0x78, 0xFF, 0xB5, 0x7E};
    ASSERT_EQ(buffer->length, sizeof expected);
    for (std::size_t i = 0; i < sizeof expected; ++i) {
        EXPECT_EQ(buffer->data[5 + i], expected[i]) << "byte " << i;
        EXPECT_EQ(buffer->Valid()[i], expected[i]);
    }
}

TEST(CommandBuffer, NeverGrowsPastItsDataArea) {
    // dataOffset + length must never exceed 96, whatever the caller appends.
    struct Case {
        std::uint8_t offset;
        std::size_t room;
    } cases[] = {{0, 96}, {2, 94}, {5, 91}, {95, 1}};
    for (const auto& c : cases) {
        auto buffer = NewCommandBuffer(20, c.offset);
        for (std::size_t i = 0; i < c.room; ++i)
            ASSERT_TRUE(buffer->Append(0xAA));
        EXPECT_FALSE(buffer->Append(0xBB)) << "offset " << int(c.offset);
        EXPECT_EQ(buffer->dataOffset + buffer->length, 96);
    }
    // A value that does not fit whole is not written in part.
    auto buffer = NewCommandBuffer(20, 93);
    EXPECT_FALSE(buffer->AppendBig32(0x01020304));
    EXPECT_EQ(buffer->length, 0);
    EXPECT_TRUE(buffer->AppendBig16(0x0102));
    EXPECT_EQ(buffer->length, 2);
}

TEST(CommandBuffer, ClearZeroesTheHeaderFields) {
    auto buffer = NewCommandBuffer(20, 5);
    buffer->control = 0x10;
    buffer->Append(1);
    buffer->Clear();
    EXPECT_EQ(buffer->length, 0);
    EXPECT_EQ(buffer->address, 0);
    EXPECT_EQ(buffer->control, 0);
    EXPECT_EQ(buffer->dataOffset, 0);
}

// The count of live blocks is what the fault tests use to tell that every
// command and reply was freed, so it must follow each way a block can end.
TEST(CommandBuffer, LiveCountFollowsEveryWayABlockEnds) {
    struct Case {
        const char* what;
        std::function<void(CommandBufferPtr)> end;
    } cases[] = {
        {"freed by its owner", [](CommandBufferPtr block) { block.reset(); }},
        {"posted to id 0",
         [](CommandBufferPtr block) {
             EXPECT_FALSE(PostThreadMessage(0, MsgCommand, 0, std::move(block)));
         }},
        {"posted to a thread without a queue",
         [](CommandBufferPtr block) {
             EXPECT_FALSE(PostThreadMessage(NewThreadId(), MsgCommand, 0, std::move(block)));
         }},
        {"left in a queue that is removed",
         [](CommandBufferPtr block) {
             const ThreadId id = NewThreadId();
             CreateMessageQueue(id);
             EXPECT_TRUE(PostThreadMessage(id, MsgCommand, 0, std::move(block)));
             DestroyMessageQueue(id);
         }},
        {"taken by its receiver and dropped",
         [](CommandBufferPtr block) {
             const ThreadId id = NewThreadId();
             CreateMessageQueue(id);
             EXPECT_TRUE(PostThreadMessage(id, MsgCommand, 0, std::move(block)));
             {
                 ThreadMessage message;
                 EXPECT_TRUE(TakeMessage(id, message));
             }
             DestroyMessageQueue(id);
         }},
    };
    const std::size_t before = LiveCommandBuffers();
    for (const auto& c : cases) {
        auto block = NewCommandBuffer(20, 5);
        EXPECT_EQ(LiveCommandBuffers(), before + 1) << c.what;
        c.end(std::move(block));
        EXPECT_EQ(LiveCommandBuffers(), before) << c.what;
    }
    // A block that is no heap block (the link's control frame) is not counted.
    CommandBuffer onTheStack;
    onTheStack.Append(1);
    EXPECT_EQ(LiveCommandBuffers(), before);
}

TEST(CommandBuffer, LiveCountStaysRightWhenThreadsAllocateAndFreeAtOnce) {
    // Blocks are made on one thread and freed on another, as commands and
    // replies are; a count that lost an update would not come back.
    constexpr int Blocks = 20000;
    const std::size_t before = LiveCommandBuffers();
    const ThreadId receiver = NewThreadId();
    CreateMessageQueue(receiver);
    std::thread consumer([&] {
        int taken = 0;
        while (taken < Blocks) {
            ThreadMessage message;
            if (TakeMessage(receiver, message)) {
                ++taken;
            } else {
                WaitMessage(receiver, 10);
            }
        }
    });
    std::thread churn([] {
        for (int i = 0; i < Blocks; ++i)
            NewCommandBuffer(20, 5).reset();
    });
    for (int i = 0; i < Blocks; ++i)
        ASSERT_TRUE(PostThreadMessage(receiver, MsgCommand, 0, NewCommandBuffer(20, 5)));
    consumer.join();
    churn.join();
    DestroyMessageQueue(receiver);
    EXPECT_EQ(LiveCommandBuffers(), before);
}
