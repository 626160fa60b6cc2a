#pragma once

#include <cstdint>
#include <string>

class CActuator;

// The text of a state code, and for the failed state the text of its failure code.
std::string StateText(std::int32_t state, std::int32_t failCode);
std::string StateText(const CActuator& device);
std::string FailText(std::int32_t failCode);
