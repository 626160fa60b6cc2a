#include "cli/Report.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "actuator/VLX400E.h"
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

std::string DeviceJson(const std::pair<std::string, std::string>& statusLines,
                       const DeviceSnapshot& device,
                       const std::optional<std::string>& firmwareFileVersion) {
    std::ostringstream json;
    double progress = device.progress;
    if (!std::isfinite(progress)) progress = 0;
    char progressText[32];
    std::snprintf(progressText, sizeof progressText, "%.1f", progress);
    json << "{\"state\":" << static_cast<std::int32_t>(device.state)       //
         << ",\"stateText\":" << JsonString(StateText(device))             //
         << ",\"statusLine1\":" << JsonString(statusLines.first)           //
         << ",\"statusLine2\":" << JsonString(statusLines.second)          //
         << ",\"serialNumber\":" << JsonString(device.serialNumber)        //
         << ",\"softwareVersion\":" << JsonString(device.softwareVersion)  //
         << ",\"antennaModel\":" << JsonString(device.antennaModel)        //
         << ",\"minTilt\":" << device.minTilt                              //
         << ",\"maxTilt\":" << device.maxTilt                              //
         << ",\"currentTilt\":" << device.currentTilt                      //
         << ",\"requestedTilt\":" << device.requestedTilt                  //
         << ",\"problemText\":" << JsonString(device.problemText)          //
         << ",\"progress\":" << progressText;
    if (firmwareFileVersion)
        json << ",\"firmwareFileVersion\":" << JsonString(*firmwareFileVersion);
    json << "}";
    return json.str();
}

std::string DeviceReport(const DeviceSnapshot& device) {
    std::ostringstream report;
    report << "Serial number:     " << device.serialNumber << "\n"
           << "Software version:  " << device.softwareVersion << "\n"
           << "Antenna model:     " << device.antennaModel << "\n"
           << "Tilt range:        " << TiltText(device.minTilt) << " to "
           << TiltText(device.maxTilt) << " degrees\n"
           << "Current tilt:      " << TiltText(device.currentTilt) << " degrees\n";
    const std::string& problem = device.problemText;
    if (!problem.empty()) report << "Problem:           " << problem << "\n";
    return report.str();
}
