#pragma once

#include <cstdint>
#include <string>

struct DeviceSnapshot;

// The text of a state code, and for the failed state the text of its failure code.
std::string StateText(std::int32_t state, std::int32_t failCode);
std::string StateText(const DeviceSnapshot& device);
std::string FailText(std::int32_t failCode);
