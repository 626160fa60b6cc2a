#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kvq::core {

// The 100-byte block in which commands travel to the link thread and replies
// travel back. Ownership passes with the thread message that carries it.
struct CommandBuffer {
    static constexpr std::size_t DataSize = 96;

    std::array<std::uint8_t, DataSize> data{};  // frame body or payload
    std::uint8_t length = 0;                    // valid bytes from dataOffset on
    std::uint8_t address = 0;                   // HDLC address of the secondary
    std::uint8_t control = 0;                   // control octet of a received frame
    std::uint8_t dataOffset = 0;                // where the valid bytes begin

    // Appends one byte at dataOffset + length. Refuses (false) rather than
    // breaking the invariant dataOffset + length <= 96.
    bool Append(std::uint8_t byte);
    // Multi-byte values go most significant byte first.
    bool AppendBig16(std::uint16_t value);
    bool AppendBig32(std::uint32_t value);
    bool AppendBytes(const std::uint8_t* bytes, std::size_t count);

    // Sets length, address, control and data offset to 0.
    void Clear();

    const std::uint8_t* Valid() const { return data.data() + dataOffset; }

    // Every block on the heap is counted, so a test can tell that each one
    // handed between threads was freed in the end.
    static void* operator new(std::size_t size);
    static void operator delete(void* block) noexcept;
};

static_assert(sizeof(CommandBuffer) == 100, "a CommandBuffer is exactly 100 bytes");

using CommandBufferPtr = std::unique_ptr<CommandBuffer>;

// CommandBuffer blocks allocated on the heap and not yet freed, in the whole
// process.
std::size_t LiveCommandBuffers();

// A fresh, empty block for an outgoing command to the given address, its valid
// bytes starting at dataOffset (5 for Ericsson payloads, 2 for raw fields).
CommandBufferPtr NewCommandBuffer(std::uint8_t address, std::uint8_t dataOffset);

}  // namespace kvq::core
