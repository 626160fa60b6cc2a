#include "actuator/TraceNames.h"

#include "actuator/Commands.h"

namespace kvq::actuator {

namespace {

// Where the 16-bit tilt stands in a payload (tenths of a degree, big-endian):
// after the code and a 16-bit 1, in the request and in the reply alike.
constexpr int TiltAt = 10;

hdlc::CommandNameTable MakeNames() {
    using namespace cmd;
    hdlc::CommandNameTable names;
    names.codes = {
        {OpenRequest, "OpenRequest"},
        {OpenReply, "OpenReply"},
        {PollRequest, "PollRequest"},
        {PollReply, "PollReply"},
        {IdentityRequest, "IdentityRequest"},
        {IdentityReply, "IdentityReply"},
        {VersionRequest, "VersionRequest"},
        {VersionReply, "VersionReply"},
        {PrepareRequest1, "PrepareRequest1"},
        {Prepare1Reply, "Prepare1Reply"},
        {PrepareRequest2, "PrepareRequest2"},
        {Prepare2Reply, "Prepare2Reply"},
        {PrepareRequest3, "PrepareRequest3"},
        {Prepare3Reply, "Prepare3Reply"},
        {SetTiltRequest, "SetTiltRequest", TiltAt},
        {SetTiltDone, "SetTiltDone"},
        {SetTiltRefused, "SetTiltRefused"},
        {GetTiltRequest, "GetTiltRequest"},
        {GetTiltValue, "GetTiltValue", TiltAt},
        {GetTiltFailed, "GetTiltFailed"},
        {VendorCommand, "VendorCommand"},
    };
    names.vendorCode = VendorCommand;
    names.vendorSubCommands = {
        {DownloadStart, "DownloadStart"}, {DownloadBlock, "DownloadBlock"},
        {DownloadEnd, "DownloadEnd"},     {ReadDataPage, "ReadDataPage"},
        {PreRead1, "PreRead1"},           {ModeSelect, "ModeSelect"},
        {PreRead2, "PreRead2"},           {Restart, "Restart"},
        {ReadAuxText, "ReadAuxText"},     {ReadModel, "ReadModel"},
        {WriteModel, "WriteModel"},
    };
    names.aisgProcedures = {
        {AisgConfigureCode, "AisgConfigure"},
        {AisgVendorCode, "AisgVendor"},
    };
    return names;
}

}  // namespace

const hdlc::CommandNameTable& CommandNames() {
    static const hdlc::CommandNameTable names = MakeNames();
    return names;
}

hdlc::InformationNamer CommandNamer() {
    return [](std::span<const std::uint8_t> information, bool fromPrimary) {
        return hdlc::FormatInformation(CommandNames(), information, fromPrimary);
    };
}

}  // namespace kvq::actuator
