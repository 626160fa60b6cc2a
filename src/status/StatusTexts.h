#pragma once

#include <cstdint>
#include <string>

namespace kvq::actuator {
struct DeviceSnapshot;
}  // namespace kvq::actuator

namespace kvq::status {

// The text of a state code, and for the failed state the text of its failure code.
std::string StateText(std::int32_t state, std::int32_t failCode);
std::string StateText(const actuator::DeviceSnapshot& device);
std::string FailText(std::int32_t failCode);

}  // namespace kvq::status
