#pragma once

#include <cstddef>
#include <cstdint>

namespace kvq::sim {

// The actuator's application messages as the actuator sees them. Kept here and
// not taken from the tool, so the simulator stays an independent partner.
namespace vlx {

constexpr std::uint32_t Magic = 0x12345678;

// Ericsson-mode command codes and the codes of their replies.
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
    // Our answer to a code we do not know; the unknown code follows it.
    UnknownCommand = 0xFFFFFFFF,
};

// Sub-commands of VendorCommand (request byte 8).
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

// ModeSelect's parameter that makes the next restart come up in AISG mode.
constexpr std::uint8_t ModeSelectAisg = 0x02;

// Status byte of a VendorCommand reply (byte 9).
enum Status : std::uint8_t {
    Accepted = 0x00,
    Refused = 0x01,        // refused on purpose (a fault asked for)
    BadParameter = 0x02,   // missing or out of range
    OutOfSequence = 0x03,  // a download step without DownloadStart
    ImageTooLarge = 0x04,
    UnknownSubCommand = 0xFF,
};

// Offsets in Ericsson-mode payloads.
constexpr std::size_t CodeAt = 4;
constexpr std::size_t ParametersAt = 8;
constexpr std::size_t VendorStatusAt = 9;
constexpr std::size_t VendorDataAt = 10;
constexpr std::size_t SerialNumberAt = 51;
constexpr std::size_t VersionAt = 21;

// The tool takes frames of at most 79 octets from address to FCS: two octets
// of address and control, three of header and two of FCS leave this much.
constexpr std::size_t MaxReplyPayload = 72;

// AISG mode: procedure code, 16-bit little-endian length, data.
constexpr std::uint8_t AisgConfigureCode = 0x32;
constexpr std::uint8_t AisgVendorCode = 0x90;
constexpr std::uint8_t VendorId0 = 0x54;
constexpr std::uint8_t VendorId1 = 0x51;
constexpr std::uint8_t AisgPrepareOp = 0x44;
constexpr std::uint8_t AisgModeSelectOp = 0x46;
constexpr std::uint8_t AisgModeEricsson = 0xE0;
constexpr std::uint8_t AisgRestartOp = 0xE7;
constexpr std::size_t AisgConfigurationSize = 64;
// A standard AISG reply's data begins with a return code: OK, or FAIL followed
// by the reason. The tool's own procedures are answered in their own way.
constexpr std::uint8_t AisgReturnOk = 0x00;
constexpr std::uint8_t AisgReturnFail = 0x0B;
constexpr std::uint8_t AisgUnknownProcedure = 0x19;

constexpr std::size_t DataPageCount = 4;
constexpr std::size_t DataPageSize = 32;
constexpr std::size_t DownloadBlockMax = 56;
constexpr std::size_t ModelKeyMax = 16;
constexpr std::size_t AuxTextMax = 31;
// The identity reply must stay within MaxReplyPayload with its NUL.
constexpr std::size_t SerialNumberMax = MaxReplyPayload - SerialNumberAt - 1;
constexpr std::size_t SoftwareVersionMax = 32;
// Where the version stands in a firmware image: from byte 2 up to a NUL
// within the first ten bytes.
constexpr std::size_t ImageHeaderSize = 10;
constexpr std::size_t ImageVersionAt = 2;

}  // namespace vlx

}  // namespace kvq::sim
