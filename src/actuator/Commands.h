#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/CommandBuffer.h"

namespace kvq::actuator {

// The application messages exchanged with the actuator: builders for every
// request, ready to post to the link thread, and a reader for replies that
// never reads past the payload it was given.

namespace cmd {

constexpr std::uint32_t Magic = 0x12345678;

// Ericsson-mode command and reply codes.
enum Code : std::uint32_t {
    OpenRequest = 0x01020C01,
    OpenReply = 0x01020C02,
    PollRequest = 0x01020C09,
    PollReply = 0x01020C0A,
    IdentityRequest = 0x01020C0C,
    IdentityReply = 0x01020C0D,
    VersionRequest = 0x01020C0F,
    VersionReply = 0x01020C10,
    PrepareRequest1 = 0x01020C1D,
    Prepare1Reply = 0x01020C1E,
    PrepareRequest2 = 0x01020D01,
    Prepare2Reply = 0x01020D02,
    PrepareRequest3 = 0x01020D09,
    Prepare3Reply = 0x01020D0A,
    SetTiltRequest = 0x01020D0F,
    SetTiltDone = 0x01020D10,
    SetTiltRefused = 0x01020D11,
    GetTiltRequest = 0x01020D12,
    GetTiltValue = 0x01020D13,
    GetTiltFailed = 0x01020D14,
    VendorCommand = 0xE9A611D9,
};

// Sub-commands of VendorCommand.
enum SubCommand : std::uint8_t {
    DownloadStart = 0x11,
    DownloadBlock = 0x12,
    DownloadEnd = 0x13,
    ReadDataPage = 0x40,
    PreRead1 = 0x44,
    ModeSelect = 0x46,
    PreRead2 = 0x47,
    Restart = 0xE7,
    ReadAuxText = 0xE8,
    ReadModel = 0xEA,
    WriteModel = 0xEB,
};

// AISG-mode procedure codes and vendor operations.
constexpr std::uint8_t AisgConfigureCode = 0x32;
constexpr std::uint8_t AisgVendorCode = 0x90;
constexpr std::uint8_t AisgPrepareOp = 0x44;
constexpr std::uint8_t AisgModeSelectOp = 0x46;
constexpr std::uint8_t AisgRestartOp = 0xE7;

constexpr std::size_t DownloadBlockMax = 56;
constexpr std::size_t WriteModelMax = 16;

// The station address of a device slot.
constexpr std::uint8_t AddressOf(std::int32_t deviceIndex) {
    return static_cast<std::uint8_t>(deviceIndex + 19);
}

// Ericsson mode: payload at data offset 5, posted as MsgCommand.
// OpenRequest and GetTiltRequest carry the 16-bit value; other codes nothing.
core::CommandBufferPtr Command(std::int32_t deviceIndex, std::uint32_t code,
                               std::uint16_t value = 1);
// Only ReadDataPage carries the byte (the page index).
core::CommandBufferPtr Vendor(std::int32_t deviceIndex, std::uint8_t subCommand,
                              std::uint8_t byte = 0);
core::CommandBufferPtr PrepareRequest2Command(std::int32_t deviceIndex);
core::CommandBufferPtr PrepareRequest3Command(std::int32_t deviceIndex);
// The low 16 bits of the requested tilt (tenths of a degree), big-endian.
core::CommandBufferPtr SetTiltCommand(std::int32_t deviceIndex, std::int32_t requestedTilt);
core::CommandBufferPtr ModeSelectCommand(std::int32_t deviceIndex);
// The name and its NUL, 16 bytes at most (a longer name goes as its first 16).
core::CommandBufferPtr WriteModelCommand(std::int32_t deviceIndex, std::string_view newModelName);
// 1 to 56 bytes of the firmware file; more are refused (nullptr).
core::CommandBufferPtr DownloadBlockCommand(std::int32_t deviceIndex,
                                            std::span<const std::uint8_t> block);

// AISG mode: the raw information field at data offset 2, posted as MsgRawCommand.
core::CommandBufferPtr AisgConfigureCommand(std::int32_t deviceIndex,
                                            std::span<const std::uint16_t, 16> configFirst,
                                            std::span<const std::uint16_t, 16> configSecond);
core::CommandBufferPtr AisgPrepareCommand(std::int32_t deviceIndex);
core::CommandBufferPtr AisgModeSelectCommand(std::int32_t deviceIndex);
core::CommandBufferPtr AisgRestartCommand(std::int32_t deviceIndex);

// A reply's payload (the valid bytes of the buffer the link delivered). Every
// read past the end answers nothing, so a short reply never counts as a match.
class Reply {
public:
    explicit Reply(const core::CommandBuffer& buffer);
    explicit Reply(std::span<const std::uint8_t> payload) : payload_(payload) {}

    std::size_t Size() const { return payload_.size(); }
    std::optional<std::uint8_t> Byte(std::size_t index) const;
    std::optional<std::uint16_t> Big16(std::size_t index) const;
    std::optional<std::uint32_t> Big32(std::size_t index) const;

    // Ericsson mode: the reply code in bytes 4..7.
    std::optional<std::uint32_t> Code() const { return Big32(4); }
    bool Is(std::uint32_t code) const { return Code() == code; }
    // A VendorCommand reply with this sub-command echoed in byte 8.
    bool IsVendor(std::uint8_t subCommand) const;
    // The vendor status in byte 9 (0: accepted).
    std::optional<std::uint8_t> VendorStatus() const { return Byte(9); }

    // The text from start up to its NUL or the end of the payload, at most
    // maxChars characters; empty when start lies beyond the payload.
    std::string Text(std::size_t start, std::size_t maxChars) const;
    // The text whose character count stands at countAt and whose characters
    // follow it, at most maxChars of them, never past the payload.
    std::string CountedText(std::size_t countAt, std::size_t maxChars) const;
    std::span<const std::uint8_t> Bytes(std::size_t start, std::size_t count) const;

private:
    std::span<const std::uint8_t> payload_;
};

// AISG mode: a reply whose data (after the procedure code and the length)
// begins with the FAIL code refuses the procedure with the return code after it.
constexpr std::uint8_t AisgFailCode = 0x0B;
struct AisgRefusal {
    std::uint8_t procedure = 0;
    std::uint8_t code = 0;
};
std::optional<AisgRefusal> AisgRefusalOf(const Reply& reply);
// The standard name of an AISG return code ("unknown procedure"); "return
// code" for one this tool does not know.
std::string_view AisgReturnCodeName(std::uint8_t code);
// A vendor-procedure reply with this operation.
bool IsAisgVendor(const Reply& reply, std::uint8_t operation);

}  // namespace cmd

}  // namespace kvq::actuator
