#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kvq::app {

// The few things of the process's surroundings that the programs take from
// their platform, or that the demo changes for the life of a session, one
// implementation per platform.

// The arguments after the program's name, as UTF-8 text. On Windows they are
// read from the wide command line, since argv holds them in the narrow code
// page, where a name outside it is already lost.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Sets or, with no value, removes an environment variable of this process.
void SetEnvironmentVariable(const std::string& name, const std::optional<std::string>& value);

// A new, empty directory of this user's under the system's temporary
// directory, its name starting with prefix; empty when none could be made.
std::filesystem::path MakeTemporaryDirectory(const std::string& prefix);

// The running program's own file; empty when the system does not say.
std::filesystem::path ExecutablePath();

}  // namespace kvq::app
