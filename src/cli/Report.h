#pragma once

#include <string>
#include <utility>

#include "core/Text.h"

struct DeviceSnapshot;

// The JSON object kvqctl prints last with --json: the record and the status
// lines it calls for, one picture of one moment.
std::string DeviceJson(const std::pair<std::string, std::string>& statusLines,
                       const DeviceSnapshot& device);
// The identity and tilts as lines for a person.
std::string DeviceReport(const DeviceSnapshot& device);
