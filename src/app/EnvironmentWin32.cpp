#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <cstdlib>
#include <random>
#include <string>
#include <system_error>

// windows.h names its own SetEnvironmentVariable (a macro for the A or W
// call); the one defined here is the program's.
#undef SetEnvironmentVariable

#include "app/Environment.h"
#include "core/WideTextWin32.h"

namespace kvq::app {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return {argv + (argc > 0 ? 1 : 0), argv + argc};
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(core::Utf8FromWide(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

void SetEnvironmentVariable(const std::string& name, const std::optional<std::string>& value) {
    // The C runtime keeps its own copy of the environment, which getenv reads;
    // _putenv_s updates both it and the process's (an empty value removes).
    ::_putenv_s(name.c_str(), value ? value->c_str() : "");
}

std::filesystem::path MakeTemporaryDirectory(const std::string& prefix) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) return {};
    // CreateDirectoryW fails when the name exists, so a name taken by someone
    // else is never shared; the directory inherits the user's temporary
    // directory's protection.
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            base / (prefix + std::to_string(::GetCurrentProcessId()) + "-" +
                    std::to_string(random() % 1000000));
        if (::CreateDirectoryW(candidate.c_str(), nullptr)) return candidate;
        if (::GetLastError() != ERROR_ALREADY_EXISTS) return {};
    }
    return {};
}

std::filesystem::path ExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return {};
        if (length < buffer.size()) {
            buffer.resize(length);
            return std::filesystem::path(buffer);
        }
        if (buffer.size() >= 32768) return {};
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace kvq::app
