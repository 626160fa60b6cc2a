#pragma once

#include <string>

class CActuator;
class CMainDataStore;

// The JSON object kvqctl prints last with --json.
std::string DeviceJson(const CMainDataStore& context, const CActuator& device);
// The identity and tilts as lines for a person.
std::string DeviceReport(const CActuator& device);
// Tenths of a degree as degrees with one decimal.
std::string Degrees(int tenths);
