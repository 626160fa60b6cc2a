#include <gtest/gtest.h>

#include "CommandBuffer.h"

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
