#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kvq::antenna {

class CAntennaTable;

// Finds the antenna table file in the working directory and loads it into
// table; answers the display names of its models in the table's order (none
// when no file was found or no model could be listed).
std::vector<std::string> LoadAntennaTables(CAntennaTable& table);

// The file the table was loaded from and what it gave: "antenna table
// /path/AT.ascu: 12 models, version 3". Empty when no file was loaded.
std::string TableSummary(const CAntennaTable& table);

// The reader's warnings, one per line: "/path/AT.ascu:4: the minimum tilt
// "abc" is not a number; line ignored" (no line number for the file as a whole).
std::vector<std::string> TableWarningLines(const CAntennaTable& table);

// For a front end without boxes: the summary and then every warning, each on
// a line of its own that starts with prefix. Empty when no file was loaded.
std::string DescribeTableLoad(const CAntennaTable& table, std::string_view prefix);

}  // namespace kvq::antenna
