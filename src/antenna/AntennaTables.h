#pragma once

#include <string>
#include <vector>

namespace kvq::antenna {

class CAntennaTable;

// Finds the antenna table file in the working directory and loads it into
// table; answers the display names of its models in the table's order (none
// when no file was found or no model could be listed).
std::vector<std::string> LoadAntennaTables(CAntennaTable& table);

}  // namespace kvq::antenna
