#pragma once

#include <string>
#include <utility>

#include "core/Text.h"

namespace kvq::actuator {
struct DeviceSnapshot;
}  // namespace kvq::actuator

namespace kvq::cli {

// The JSON object kvqctl prints last with --json: the record and the status
// lines it calls for, one picture of one moment.
std::string DeviceJson(const std::pair<std::string, std::string>& statusLines,
                       const actuator::DeviceSnapshot& device);
// The identity and tilts as lines for a person.
std::string DeviceReport(const actuator::DeviceSnapshot& device);

}  // namespace kvq::cli
