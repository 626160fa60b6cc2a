#include "core/CommandBuffer.h"

#include <atomic>
#include <new>

namespace kvq::core {

namespace {

std::atomic<std::size_t> liveBlocks{0};

}  // namespace

void* CommandBuffer::operator new(std::size_t size) {
    void* block = ::operator new(size);
    liveBlocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void CommandBuffer::operator delete(void* block) noexcept {
    if (!block) return;
    liveBlocks.fetch_sub(1, std::memory_order_relaxed);
    ::operator delete(block);
}

std::size_t LiveCommandBuffers() {
    return liveBlocks.load(std::memory_order_relaxed);
}

bool CommandBuffer::Append(std::uint8_t byte) {
    const std::size_t at = std::size_t{dataOffset} + length;
    if (at >= DataSize) return false;
    data[at] = byte;
    ++length;
    return true;
}

bool CommandBuffer::AppendBig16(std::uint16_t value) {
    const std::uint8_t bytes[] = {static_cast<std::uint8_t>(value >> 8),
                                  static_cast<std::uint8_t>(value)};
    return AppendBytes(bytes, sizeof bytes);
}

bool CommandBuffer::AppendBig32(std::uint32_t value) {
    const std::uint8_t bytes[] = {
        static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
        static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
    return AppendBytes(bytes, sizeof bytes);
}

bool CommandBuffer::AppendBytes(const std::uint8_t* bytes, std::size_t count) {
    // All or nothing, so a half-written value never goes out.
    if (std::size_t{dataOffset} + length + count > DataSize) return false;
    for (std::size_t i = 0; i < count; ++i)
        Append(bytes[i]);
    return true;
}

void CommandBuffer::Clear() {
    length = 0;
    address = 0;
    control = 0;
    dataOffset = 0;
}

CommandBufferPtr NewCommandBuffer(std::uint8_t address, std::uint8_t dataOffset) {
    auto buffer = std::make_unique<CommandBuffer>();
    buffer->address = address;
    buffer->dataOffset = dataOffset < CommandBuffer::DataSize ? dataOffset : 0;
    return buffer;
}

}  // namespace kvq::core
