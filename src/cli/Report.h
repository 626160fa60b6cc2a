#pragma once

#include <optional>
#include <string>
#include <utility>

#include "core/Text.h"

struct DeviceSnapshot;

// The JSON object kvqctl prints last with --json: the record and the status
// lines it calls for, one picture of one moment.
// firmwareFileVersion: the version of a usable firmware file, when there is one.
std::string DeviceJson(const std::pair<std::string, std::string>& statusLines,
                       const DeviceSnapshot& device,
                       const std::optional<std::string>& firmwareFileVersion = std::nullopt);
// The identity and tilts as lines for a person.
std::string DeviceReport(const DeviceSnapshot& device);
