#include "actuator/Commands.h"

#include <algorithm>

using namespace kvq::core;

namespace kvq::actuator {

namespace cmd {

namespace {

constexpr std::uint8_t EricssonOffset = 5;  // the link puts address, control, C0 00 len in front
constexpr std::uint8_t RawOffset = 2;       // the link puts address and control in front

// AISG vendor code of the actuator's maker, in front of every vendor operation.
constexpr std::uint8_t AisgVendorId[] = {0x54, 0x51};

// Collects the appends of one request; a request that does not fit whole is
// not handed out at all rather than sent cut short.
class Builder {
public:
    Builder(std::int32_t deviceIndex, std::uint8_t dataOffset)
        : buffer_(NewCommandBuffer(AddressOf(deviceIndex), dataOffset)) {}

    Builder& Byte(std::uint8_t value) {
        ok_ = ok_ && buffer_->Append(value);
        return *this;
    }
    Builder& Big16(std::uint16_t value) {
        ok_ = ok_ && buffer_->AppendBig16(value);
        return *this;
    }
    Builder& Big32(std::uint32_t value) {
        ok_ = ok_ && buffer_->AppendBig32(value);
        return *this;
    }
    Builder& Bytes(std::span<const std::uint8_t> bytes) {
        ok_ = ok_ && buffer_->AppendBytes(bytes.data(), bytes.size());
        return *this;
    }
    Builder& Zeros(std::size_t count) {
        for (std::size_t i = 0; i < count; ++i)
            Byte(0);
        return *this;
    }

    CommandBufferPtr Done() { return ok_ ? std::move(buffer_) : nullptr; }

private:
    CommandBufferPtr buffer_;
    bool ok_ = true;
};

Builder Ericsson(std::int32_t deviceIndex, std::uint32_t code) {
    Builder builder(deviceIndex, EricssonOffset);
    builder.Big32(Magic).Big32(code);
    return builder;
}

Builder VendorHeader(std::int32_t deviceIndex, std::uint8_t subCommand) {
    Builder builder = Ericsson(deviceIndex, VendorCommand);
    builder.Byte(subCommand);
    return builder;
}

// Procedure code and the 16-bit little-endian data length of an AISG field.
Builder Aisg(std::int32_t deviceIndex, std::uint8_t procedure, std::uint16_t dataLength) {
    Builder builder(deviceIndex, RawOffset);
    builder.Byte(procedure)
        .Byte(static_cast<std::uint8_t>(dataLength))
        .Byte(static_cast<std::uint8_t>(dataLength >> 8));
    return builder;
}

CommandBufferPtr AisgVendor(std::int32_t deviceIndex, std::span<const std::uint8_t> operation) {
    const auto dataLength = static_cast<std::uint16_t>(sizeof AisgVendorId + operation.size());
    return Aisg(deviceIndex, AisgVendorCode, dataLength)
        .Bytes(AisgVendorId)
        .Bytes(operation)
        .Done();
}

}  // namespace

CommandBufferPtr Command(std::int32_t deviceIndex, std::uint32_t code, std::uint16_t value) {
    Builder builder = Ericsson(deviceIndex, code);
    if (code == OpenRequest || code == GetTiltRequest) builder.Big16(value);
    return builder.Done();
}

CommandBufferPtr Vendor(std::int32_t deviceIndex, std::uint8_t subCommand, std::uint8_t byte) {
    Builder builder = VendorHeader(deviceIndex, subCommand);
    if (subCommand == ReadDataPage) builder.Byte(byte);
    return builder.Done();
}

CommandBufferPtr PrepareRequest2Command(std::int32_t deviceIndex) {
    return Ericsson(deviceIndex, PrepareRequest2).Big16(1).Byte(0x01).Done();
}

CommandBufferPtr PrepareRequest3Command(std::int32_t deviceIndex) {
    return Ericsson(deviceIndex, PrepareRequest3)
        .Big16(1)
        .Byte(0x00)
        .Byte(0x00)
        .Byte(0x07)
        .Byte(0x08)
        .Zeros(16)
        .Done();
}

CommandBufferPtr SetTiltCommand(std::int32_t deviceIndex, std::int32_t requestedTilt) {
    // Tenths of a degree; a negative tilt goes as its 16-bit two's complement.
    return Ericsson(deviceIndex, SetTiltRequest)
        .Big16(1)
        .Big16(static_cast<std::uint16_t>(requestedTilt))
        .Done();
}

CommandBufferPtr ModeSelectCommand(std::int32_t deviceIndex) {
    return VendorHeader(deviceIndex, ModeSelect).Byte(0x02).Done();
}

CommandBufferPtr WriteModelCommand(std::int32_t deviceIndex, std::string_view newModelName) {
    // The actuator sees a C string: an embedded NUL ends the name.
    const std::string_view name = newModelName.substr(0, newModelName.find('\0'));
    Builder builder = VendorHeader(deviceIndex, WriteModel);
    const std::size_t chars = std::min(name.size(), WriteModelMax);
    for (std::size_t i = 0; i < chars; ++i)
        builder.Byte(static_cast<std::uint8_t>(name[i]));
    // A name that fills the field goes without its terminator.
    if (chars < WriteModelMax) builder.Byte(0);
    return builder.Done();
}

CommandBufferPtr DownloadBlockCommand(std::int32_t deviceIndex,
                                      std::span<const std::uint8_t> block) {
    if (block.empty() || block.size() > DownloadBlockMax) return nullptr;
    return VendorHeader(deviceIndex, DownloadBlock).Bytes(block).Done();
}

CommandBufferPtr AisgConfigureCommand(std::int32_t deviceIndex,
                                      std::span<const std::uint16_t, 16> configFirst,
                                      std::span<const std::uint16_t, 16> configSecond) {
    Builder builder = Aisg(deviceIndex, AisgConfigureCode, 2 * 2 * 16);
    for (std::size_t i = 0; i < 16; ++i)
        builder.Big16(configFirst[i]).Big16(configSecond[i]);
    return builder.Done();
}

CommandBufferPtr AisgPrepareCommand(std::int32_t deviceIndex) {
    const std::uint8_t operation[] = {AisgPrepareOp};
    return AisgVendor(deviceIndex, operation);
}

CommandBufferPtr AisgModeSelectCommand(std::int32_t deviceIndex) {
    const std::uint8_t operation[] = {AisgModeSelectOp, 0xE0};
    return AisgVendor(deviceIndex, operation);
}

CommandBufferPtr AisgRestartCommand(std::int32_t deviceIndex) {
    const std::uint8_t operation[] = {AisgRestartOp};
    return AisgVendor(deviceIndex, operation);
}

namespace {

// The valid bytes of a received block, cut to its data area so that a corrupt
// header can never point outside it.
std::span<const std::uint8_t> PayloadOf(const CommandBuffer& buffer) {
    const std::size_t offset = buffer.dataOffset;
    if (offset >= CommandBuffer::DataSize) return {};
    const std::size_t length =
        std::min<std::size_t>(buffer.length, CommandBuffer::DataSize - offset);
    return std::span<const std::uint8_t>(buffer.data).subspan(offset, length);
}

}  // namespace

Reply::Reply(const CommandBuffer& buffer) : payload_(PayloadOf(buffer)) {}

std::span<const std::uint8_t> Reply::Bytes(std::size_t start, std::size_t count) const {
    // Written so that no sum can overflow.
    if (start > payload_.size() || count > payload_.size() - start) return {};
    return payload_.subspan(start, count);
}

std::optional<std::uint8_t> Reply::Byte(std::size_t index) const {
    if (index >= payload_.size()) return std::nullopt;
    return payload_[index];
}

std::optional<std::uint16_t> Reply::Big16(std::size_t index) const {
    const auto bytes = Bytes(index, 2);
    if (bytes.size() != 2) return std::nullopt;
    return static_cast<std::uint16_t>(bytes[0] << 8 | bytes[1]);
}

std::optional<std::uint32_t> Reply::Big32(std::size_t index) const {
    const auto bytes = Bytes(index, 4);
    if (bytes.size() != 4) return std::nullopt;
    return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
           std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

bool Reply::IsVendor(std::uint8_t subCommand) const {
    return Is(VendorCommand) && Byte(8) == subCommand;
}

std::string Reply::Text(std::size_t start, std::size_t maxChars) const {
    if (start >= payload_.size()) return {};
    const auto available = payload_.subspan(start);
    const auto field = available.first(std::min(maxChars, available.size()));
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    return std::string(field.begin(), end);
}

std::string Reply::CountedText(std::size_t countAt, std::size_t maxChars) const {
    const auto count = Byte(countAt);
    if (!count) return {};
    return Text(countAt + 1, std::min<std::size_t>(*count, maxChars));
}

std::optional<AisgRefusal> AisgRefusalOf(const Reply& reply) {
    const auto procedure = reply.Byte(0);
    const auto length = reply.Byte(1);
    const auto fail = reply.Byte(3);
    const auto code = reply.Byte(4);
    if (!procedure || !length || !fail || !code || *fail != AisgFailCode || *length < 2)
        return std::nullopt;
    return AisgRefusal{*procedure, *code};
}

std::string_view AisgReturnCodeName(std::uint8_t code) {
    switch (code) {
        case 0x00:
            return "OK";
        case 0x05:
            return "busy";
        case 0x0B:
            return "fail";
        case 0x19:
            return "unknown procedure";
        default:
            return "return code";
    }
}

bool IsAisgVendor(const Reply& reply, std::uint8_t operation) {
    return reply.Byte(0) == AisgVendorCode && reply.Byte(5) == operation;
}

}  // namespace cmd

}  // namespace kvq::actuator
