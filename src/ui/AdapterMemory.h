#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace kvq::ui {

// Where the adapter the user chose last is kept from one run to the next: its
// identity (a stable device name or "usb:VID:PID:SERIAL"), never its COM
// number, which may differ tomorrow.
class AdapterMemory {
public:
    AdapterMemory() = default;
    virtual ~AdapterMemory() = default;
    AdapterMemory(const AdapterMemory&) = delete;
    AdapterMemory& operator=(const AdapterMemory&) = delete;

    // The identity kept; empty when none is, or it cannot be read.
    virtual std::string Recall() = 0;
    // Keeps the identity (empty: forgets). False when it could not be kept,
    // which costs only the choice next time.
    virtual bool Remember(const std::string& identity) = 0;
};

// The memory as a one-line text file.
class AdapterMemoryFile final : public AdapterMemory {
public:
    explicit AdapterMemoryFile(std::filesystem::path file) : file_(std::move(file)) {}

    std::string Recall() override;
    // Creates the file's directory when needed; writes a new file and puts
    // it in place, so a failed write never leaves half a line.
    bool Remember(const std::string& identity) override;

    const std::filesystem::path& File() const { return file_; }

private:
    std::filesystem::path file_;
};

// Reads an environment variable; none when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// The process's own environment.
std::optional<std::string> ProcessEnvironment(const char* name);

// The file in the user's configuration directory: $XDG_CONFIG_HOME/kvq/adapter,
// else $HOME/.config/kvq/adapter, on Windows %APPDATA%\kvq\adapter. Only an
// absolute directory counts; with none known there is no file (never one in
// the working directory).
std::optional<std::filesystem::path> UserAdapterMemoryFile(
    const EnvironmentLookup& environment = ProcessEnvironment);

}  // namespace kvq::ui
