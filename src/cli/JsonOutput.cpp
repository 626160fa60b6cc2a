#include "cli/JsonOutput.h"

namespace kvq::cli {

namespace {

JsonValue MomentJson(const Moment& moment) {
    return DeviceJson(moment.statusLines, moment.device, moment.firmwareFileVersion);
}

}  // namespace

void JsonOutput::State(const Moment& moment) {
    const JsonValue object = MomentJson(moment);
    if (object != last_) Line(object);
    last_ = object;
}

int JsonOutput::End(const FinalReport& report) {
    const int code = TextOutput::End(report);
    // A run that ended before the actuator was looked for has only what it knows.
    JsonValue final = report.moment ? MomentJson(*report.moment) : JsonValue::object();
    if (report.ports) final["ports"] = PortsJson(*report.ports);
    if (report.models) final["models"] = ModelsJson(*report.models);
    if (!final.contains("ready")) final["ready"] = false;
    if (!final.contains("progress")) final["progress"] = 0;
    AddEnding(final, code, FirstError());
    Line(final);
    return code;
}

void JsonOutput::Line(const JsonValue& object) {
    std::fputs((JsonLine(object) + "\n").c_str(), Streams().out);
    std::fflush(Streams().out);
}

}  // namespace kvq::cli
