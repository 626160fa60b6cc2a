#include "cli/Report.h"

#include <cstdio>
#include <sstream>

#include "actuator/VLX400E.h"
#include "antenna/AntennaTable.h"
#include "core/Text.h"
#include "serial/PortDiscovery.h"
#include "status/StatusTexts.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::antenna;
using namespace kvq::actuator;
using namespace kvq::status;

namespace kvq::cli {

namespace {

// Whether bytes are well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if ((c & 0xE0) == 0xC0) {
            length = 2;
            code = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3;
            code = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        constexpr std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string PortAdapter(const SerialPortInfo& port) {
    if (!port.product.empty() && !port.manufacturer.empty())
        return port.manufacturer + " " + port.product;
    return !port.product.empty() ? port.product : port.manufacturer;
}

}  // namespace

JsonValue JsonText(const std::string& text) {
    if (IsUtf8(text)) return text;
    std::string utf8;
    for (const unsigned char c : text) {
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

std::string JsonLine(const JsonValue& object) {
    // Every text went through JsonText, so nothing here can be malformed; the
    // handler is a second line of defence, never a crash.
    return object.dump(-1, ' ', true, JsonValue::error_handler_t::replace);
}

namespace {

JsonValue TextOrNull(const std::string& text) {
    return text.empty() ? JsonValue(nullptr) : JsonText(text);
}
JsonValue TiltOrNull(bool known, std::int32_t tenths) {
    return known ? JsonValue(tenths) : JsonValue(nullptr);
}

}  // namespace

std::string ActivityText(Activity activity) {
    std::string text(ActivityWord(activity));
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool ReadyWithoutProblem(const DeviceSnapshot& device) {
    return ActivityOf(device) == Activity::Ready && device.problemText.empty() &&
           !device.firmware.updateNotTaken;
}

JsonValue DeviceJson(const std::pair<std::string, std::string>& statusLines,
                     const DeviceSnapshot& device,
                     const std::optional<std::string>& firmwareFileVersion) {
    const Activity activity = ActivityOf(device);
    const bool moveAsked =
        device.state == ActuatorState::Moving || device.outcome.operation == Operation::Move;
    JsonValue object = {
        {"state", static_cast<std::int32_t>(device.state)},
        {"stateText", ActivityText(activity)},
        {"activity", std::string(ActivityWord(activity))},
        {"statusLine1", JsonText(statusLines.first)},
        {"statusLine2", JsonText(statusLines.second)},
        {"serialNumber", TextOrNull(device.serialNumber)},
        {"softwareVersion", TextOrNull(device.softwareVersion)},
        {"antennaModel", TextOrNull(device.antennaModel)},
        {"minTilt", TiltOrNull(device.modelKnown, device.minTilt)},
        {"maxTilt", TiltOrNull(device.modelKnown, device.maxTilt)},
        {"currentTilt", TiltOrNull(device.tiltKnown, device.currentTilt)},
        {"requestedTilt", TiltOrNull(moveAsked, device.requestedTilt)},
        {"problemText", JsonText(device.problemText)},
        {"progress", ProgressOf(device)},
        {"ready", ReadyWithoutProblem(device)},
    };
    if (firmwareFileVersion) object["firmwareFileVersion"] = JsonText(*firmwareFileVersion);
    return object;
}

JsonValue OutcomeJson(const Outcome& outcome) {
    if (outcome.operation == Operation::None) return nullptr;
    return {{"operation", std::string(OperationWord(outcome.operation))},
            {"ending", std::string(EndingWord(outcome.ending))},
            {"reason", TextOrNull(outcome.reason)}};
}

void AddEnding(JsonValue& object, int exitCode, const std::string& error) {
    object["exitCode"] = exitCode;
    object["error"] = error.empty() ? JsonValue(nullptr) : JsonText(error);
}

std::string DeviceReport(const DeviceSnapshot& device) {
    const auto known = [](const std::string& text) {
        return text.empty() ? std::string("(not known)") : text;
    };
    std::ostringstream report;
    report << "Serial number:     " << known(device.serialNumber) << "\n"
           << "Software version:  " << known(device.softwareVersion) << "\n"
           << "Antenna model:     " << known(device.antennaModel) << "\n";
    if (device.modelKnown) {
        report << "Tilt range:        " << TiltText(device.minTilt) << " to "
               << TiltText(device.maxTilt) << " degrees\n";
    } else {
        report << "Tilt range:        (not known)\n";
    }
    if (device.tiltKnown) {
        report << "Current tilt:      " << TiltText(device.currentTilt) << " degrees\n";
    } else {
        report << "Current tilt:      (not known)\n";
    }
    const std::string& problem = device.problemText;
    if (!problem.empty()) report << "Problem:           " << problem << "\n";
    return report.str();
}

std::string MonitorLine(const std::string& stamp, std::optional<std::int32_t> tiltTenths,
                        const std::pair<std::string, std::string>& statusLines) {
    const auto padded = [](std::string text, std::size_t width) {
        if (text.size() < width) text.insert(0, width - text.size(), ' ');
        return text;
    };
    std::string line = stamp + "  tilt " + padded(tiltTenths ? TiltText(*tiltTenths) : "-", 5) +
                       "  " + statusLines.first;
    if (!statusLines.second.empty()) {
        line.append(statusLines.first.size() < 24 ? 24 - statusLines.first.size() : 0, ' ');
        line += " " + statusLines.second;
    }
    return line;
}

JsonValue PortsJson(const std::vector<SerialPortInfo>& ports) {
    JsonValue list = JsonValue::array();
    for (const auto& port : ports) {
        list.push_back({{"port", JsonText(port.data)},
                        {"device", JsonText(port.devicePath)},
                        {"adapter", JsonText(PortAdapter(port))},
                        {"adapterSerialNumber", JsonText(port.serialNumber)},
                        {"vidPid", JsonText(port.vidPid)},
                        {"stableName", JsonText(port.stableName)},
                        {"identity", JsonText(AdapterIdentity(port))}});
    }
    return list;
}

std::string PortsReport(const std::vector<SerialPortInfo>& ports) {
    if (ports.empty()) return "No serial ports found.\n";
    std::ostringstream report;
    for (const auto& port : ports) {
        report << port.data << "  " << port.devicePath;
        const std::string adapter = PortAdapter(port);
        if (!adapter.empty()) report << "  " << adapter;
        if (!port.vidPid.empty()) report << " [" << port.vidPid << "]";
        if (!port.serialNumber.empty()) report << "  serial " << port.serialNumber;
        report << "\n";
        // The name to give --port so the same adapter is found after a replug.
        if (const std::string identity = AdapterIdentity(port); !identity.empty())
            report << "      " << identity << "\n";
    }
    return report.str();
}

JsonValue ModelsJson(const CAntennaTable& table) {
    JsonValue list = JsonValue::array();
    AntennaRecord record;
    for (int i = 0; table.GetRecord(i, record); ++i) {
        list.push_back({{"key", JsonText(record.key)},
                        {"displayName", JsonText(record.displayName)},
                        {"minTilt", record.minTilt},
                        {"maxTilt", record.maxTilt}});
    }
    return list;
}

std::string ModelsReport(const CAntennaTable& table) {
    std::ostringstream report;
    AntennaRecord record;
    for (int i = 0; table.GetRecord(i, record); ++i) {
        char line[128];
        std::snprintf(line, sizeof line, "%-16s %-32s %s to %s degrees\n", record.key.c_str(),
                      record.displayName.c_str(), TiltText(record.minTilt).c_str(),
                      TiltText(record.maxTilt).c_str());
        report << line;
    }
    return report.str();
}

}  // namespace kvq::cli
