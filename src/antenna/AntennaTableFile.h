#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "antenna/AntennaTable.h"

namespace kvq::antenna {

// Bounds on what a table file may cost: bytes read from one file, characters
// kept of one line, digits of one configuration text (16 groups of eight).
inline constexpr std::size_t MaxTableFileBytes = 4 * 1024 * 1024;
inline constexpr std::size_t MaxTableLineLength = 4096;
inline constexpr std::size_t MaxConfigDigits = 128;

// The greatest name (byte-wise) among the regular files matching "*.ascu" in
// directory, searching matching subdirectories the same way; a file found in
// one is answered with its directory, relative to directory ("d.ascu/t.ascu").
// Empty when there is none.
std::string FindAntennaTableFile(const std::filesystem::path& directory);

// Replaces the table's contents with the records of the file; true when its
// first line is the "AT-VERSION" header. Lines it cannot take are listed in the
// table's load warnings; without a header the table's LoadFailureText is set.
bool LoadAntennaTableFile(const std::filesystem::path& path, CAntennaTable& table);

// Fills configFirst/configSecond from up to 16 groups of eight hexadecimal
// digits; entries without a group, or with a piece that is not four
// hexadecimal digits, get NoConfigValue. Answers 16.
int ParseConfigHex(std::string_view text, AntennaRecord& record);

// Lines in the file (within the first MaxTableFileBytes); 0 when it cannot be read.
int CountLines(const std::filesystem::path& path);

}  // namespace kvq::antenna
