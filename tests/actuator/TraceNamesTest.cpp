#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "actuator/Commands.h"
#include "actuator/TraceNames.h"
#include "hdlc/TraceDecoder.h"
#include "support/EricssonPayload.h"

using namespace kvq::actuator;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The information field of an I-frame carrying the request, as the link frames it.
Bytes Information(const kvq::core::CommandBufferPtr& request) {
    EXPECT_NE(request, nullptr);
    if (!request) return {};
    Bytes info(request->Valid(), request->Valid() + request->length);
    const Bytes header{0xC0, 0x00, request->length};
    info.insert(info.begin(), header.begin(), header.end());
    return info;
}

// An AISG-mode request's information field: the raw field as built.
Bytes Raw(const kvq::core::CommandBufferPtr& request) {
    return Bytes(request->Valid(), request->Valid() + request->length);
}

// A reply's information field: header, magic, code, then the rest.
Bytes ReplyInformation(std::uint32_t code, const Bytes& rest) {
    return kvq::testing::EricssonInformation(0xC1, code, rest);
}

}  // namespace

// The names a trace gives are the command set's own, and the tilt is read
// where the builders put it: a trace that named a move 0.1 degrees while it
// went for 3.5 would mislead whoever reads it.
TEST(TraceNames, RequestsAndRepliesAreNamedAsTheCommandSetBuildsThem) {
    const struct {
        const char* what;
        Bytes information;
        bool fromPrimary;
        std::string meaning;
    } cases[] = {
        {"open", Information(cmd::Command(1, cmd::OpenRequest)), true, "OpenRequest params 00 01"},
        {"identity", Information(cmd::Command(1, cmd::IdentityRequest)), true, "IdentityRequest"},
        {"set tilt", Information(cmd::SetTiltCommand(1, 35)), true,
         "SetTiltRequest tilt 3.5 params 00 01 00 23"},
        {"a negative tilt", Information(cmd::SetTiltCommand(1, -25)), true,
         "SetTiltRequest tilt -2.5 params 00 01 FF E7"},
        {"read a data page", Information(cmd::Vendor(1, cmd::ReadDataPage, 2)), true,
         "VendorCommand ReadDataPage data 02"},
        {"write the model", Information(cmd::WriteModelCommand(1, "AB")), true,
         "VendorCommand WriteModel data 41 42 00"},
        {"the tilt read back", ReplyInformation(cmd::GetTiltValue, {0x00, 0x01, 0x00, 0x41}), false,
         "GetTiltValue tilt 6.5 params 00 01 00 41"},
        {"a vendor reply", ReplyInformation(cmd::VendorCommand, {cmd::ReadModel, 0x00, 0x41}),
         false, "VendorCommand ReadModel status 0x00 data 41"},
        {"the AISG restart", Raw(cmd::AisgRestartCommand(1)), true, "AisgVendor data 54 51 E7"},
    };
    const auto namer = CommandNamer();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(namer(c.information, c.fromPrimary), c.meaning);
    }
}
