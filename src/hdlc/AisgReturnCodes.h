#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kvq::hdlc {

// An AISG secondary's reply to a standard procedure begins its data (after
// the procedure code and the 16-bit length) with a return code: OK, or FAIL
// followed by the reason.
constexpr std::uint8_t AisgOk = 0x00;
constexpr std::uint8_t AisgFail = 0x0B;

// The standard name of an AISG 2.0 return code ("UnknownProcedure"); none for
// a code the standard set does not hold.
std::optional<std::string_view> AisgReturnCodeName(std::uint8_t code);

}  // namespace kvq::hdlc
