#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "actuator/DeviceRecord.h"

namespace kvq::serial {
struct SerialPortInfo;
}  // namespace kvq::serial
namespace kvq::antenna {
class CAntennaTable;
}  // namespace kvq::antenna

namespace kvq::cli {

// A JSON value whose members keep the order they were put in, so every line
// reads in the same order.
using JsonValue = nlohmann::ordered_json;

// The JSON object of one moment: the record and the status lines it calls for
// ("state", "stateText", "statusLine1", "statusLine2", "serialNumber",
// "softwareVersion", "antennaModel", "minTilt", "maxTilt", "currentTilt",
// "requestedTilt" in tenths of a degree, "problemText", "progress", "ready"),
// then "firmwareFileVersion" when a usable firmware file was found.
JsonValue DeviceJson(const std::pair<std::string, std::string>& statusLines,
                     const actuator::DeviceSnapshot& device,
                     const std::optional<std::string>& firmwareFileVersion = std::nullopt);
// The identity and tilts as lines for a person.
std::string DeviceReport(const actuator::DeviceSnapshot& device);
// How the last operation ended, as JSON ("operation", "ending", "reason");
// null when none has run.
JsonValue OutcomeJson(const actuator::Outcome& outcome);
// The activity as the JSON's stateText has it: "READY", "CHANGING MODEL".
std::string ActivityText(actuator::Activity activity);
// Ready for requests, with nothing to report.
bool ReadyWithoutProblem(const actuator::DeviceSnapshot& device);

// One line of `monitor`: the time stamp, the tilt in degrees ("-" while not
// known) and the status lines.
std::string MonitorLine(const std::string& stamp, std::optional<std::int32_t> tiltTenths,
                        const std::pair<std::string, std::string>& statusLines);

// The ports found: COM name, device, adapter and its serial number where known.
JsonValue PortsJson(const std::vector<serial::SerialPortInfo>& ports);
std::string PortsReport(const std::vector<serial::SerialPortInfo>& ports);

// The antenna table's models: key, display name, tilt range.
JsonValue ModelsJson(const antenna::CAntennaTable& table);
std::string ModelsReport(const antenna::CAntennaTable& table);

// Marks an object as the final one: "exitCode", and "error" (the sentence, or
// null when there is none).
void AddEnding(JsonValue& object, int exitCode, const std::string& error);

// One line of output: the object without line breaks, ASCII only (bytes that
// are not UTF-8, as an actuator may send, are read as Latin-1 and escaped).
std::string JsonLine(const JsonValue& object);
// A text from outside (the actuator, a file) as a JSON string value.
JsonValue JsonText(const std::string& text);

}  // namespace kvq::cli
