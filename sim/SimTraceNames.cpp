#include "sim/SimTraceNames.h"

#include "sim/Vlx400Protocol.h"

namespace kvq::sim {

namespace {

// Where the 16-bit tilt (tenths of a degree) stands in a payload: after the
// parameter 00 01, in the request and the reply alike.
constexpr int TiltAt = static_cast<int>(vlx::ParametersAt) + 2;

hdlc::CommandNameTable MakeNames() {
    using namespace vlx;
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
        {UnknownCommand, "UnknownCommand"},
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
    names.aisgProcedures = {{AisgConfigureCode, "AisgConfigure"}, {AisgVendorCode, "AisgVendor"}};
    return names;
}

}  // namespace

hdlc::InformationNamer SimCommandNamer() {
    return [](std::span<const std::uint8_t> information, bool fromPrimary) {
        static const hdlc::CommandNameTable names = MakeNames();
        return hdlc::FormatInformation(names, information, fromPrimary);
    };
}

}  // namespace kvq::sim
