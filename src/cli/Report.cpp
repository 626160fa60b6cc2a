#include "cli/Report.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "actuator/Actuator.h"
#include "core/MainDataStore.h"
#include "status/StatusTexts.h"

namespace {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20 || c >= 0x7F) {
                    // Bytes from the actuator are not known to be UTF-8: escape them.
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

}  // namespace

std::string Degrees(int tenths) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1lf", tenths / 10.0);
    return text;
}

std::string DeviceJson(const CMainDataStore& context, const CActuator& device) {
    std::ostringstream json;
    double progress = device.progress.load();
    if (!std::isfinite(progress)) progress = 0;
    char progressText[32];
    std::snprintf(progressText, sizeof progressText, "%.1f", progress);
    json << "{\"state\":" << device.state.load()                                 //
         << ",\"stateText\":" << JsonString(StateText(device))                   //
         << ",\"statusLine1\":" << JsonString(context.GetStatusLine1())          //
         << ",\"statusLine2\":" << JsonString(context.GetStatusLine2())          //
         << ",\"serialNumber\":" << JsonString(device.serialNumber.Get())        //
         << ",\"softwareVersion\":" << JsonString(device.softwareVersion.Get())  //
         << ",\"antennaModel\":" << JsonString(device.antennaModel.Get())        //
         << ",\"minTilt\":" << device.minTilt.load()                             //
         << ",\"maxTilt\":" << device.maxTilt.load()                             //
         << ",\"currentTilt\":" << device.currentTilt.load()                     //
         << ",\"requestedTilt\":" << device.requestedTilt.load()                 //
         << ",\"problemText\":" << JsonString(device.problemText.Get())          //
         << ",\"progress\":" << progressText << "}";
    return json.str();
}

std::string DeviceReport(const CActuator& device) {
    std::ostringstream report;
    report << "Serial number:     " << device.serialNumber.Get() << "\n"
           << "Software version:  " << device.softwareVersion.Get() << "\n"
           << "Antenna model:     " << device.antennaModel.Get() << "\n"
           << "Tilt range:        " << Degrees(device.minTilt.load()) << " to "
           << Degrees(device.maxTilt.load()) << " degrees\n"
           << "Current tilt:      " << Degrees(device.currentTilt.load()) << " degrees\n";
    const std::string problem = device.problemText.Get();
    if (!problem.empty()) report << "Problem:           " << problem << "\n";
    return report.str();
}
