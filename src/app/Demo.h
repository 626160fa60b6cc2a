#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kvq::serial {
class SerialLine;
}  // namespace kvq::serial

namespace kvq::sim {
class SimulatedActuator;
class Vlx400Application;
}  // namespace kvq::sim

namespace kvq::app {

// How the simulated actuator of a demo behaves; the defaults are the
// simulator's own (a realistic pace), tests shorten the waits.
struct DemoSettings {
    std::chrono::milliseconds restartSilence{3000};
    std::int32_t tiltSpeed = 10;  // tenths of a degree per second
    bool pace = true;             // bytes at the speed of the wire
    // The working directory's antenna table, when it has one, instead of the sample.
    bool tableFromWorkingDirectory = true;
    // The working directory's firmware file, when it has one, instead of one
    // of the simulator's own version.
    bool firmwareFromWorkingDirectory = true;
};

// The demo both front ends offer with --demo: a simulated E-VLX400 inside the
// process on an in-memory line, offered as COM1, and a fresh working directory
// with the working directory's antenna table (else the sample). The firmware
// file is the working directory's vlx400fw.bin when there is one, so a file
// can be tried on the simulator, else one of the simulator's own version (so
// no download starts). Start moves the process into that
// directory; the end of the session moves back, removes it and puts the port
// variable back as it was.
// Set up before any worker thread starts: it changes the environment and the
// working directory of the process.
class DemoSession {
public:
    explicit DemoSession(DemoSettings settings = {});
    ~DemoSession();
    DemoSession(const DemoSession&) = delete;
    DemoSession& operator=(const DemoSession&) = delete;

    // False, with a sentence in error, when the demo cannot be set up.
    bool Start(std::string& error);

    const std::filesystem::path& Directory() const;
    // The table the demo copied: the working directory's, or the sample.
    const std::filesystem::path& TableSource() const;
    // The firmware file the front end is to use (absolute): the working
    // directory's, left where it is, or the demo's own.
    const std::filesystem::path& FirmwarePath() const;
    // The name the port list gives COM1; the tool's line is ToolLine() whatever
    // the name.
    std::string DevicePath() const;
    // The tool's end of the line; it lives as long as the session.
    serial::SerialLine& ToolLine();
    // The model the simulated actuator starts with (its key in the table).
    const std::string& ModelKey() const;
    sim::SimulatedActuator& Simulator();
    sim::Vlx400Application& Application();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Where the sample antenna table is looked for, in order: beside an installed
// executable (<exe dir>/../share/kvq/examples, <exe dir>/examples), then the
// source tree the program was built from.
std::vector<std::filesystem::path> ExampleDirectories();
std::optional<std::filesystem::path> FindExamplesDirectory();

// "vlx400fw.bin" content: a 10-byte header (0x01 0x00, the version text, a
// NUL) followed by an image.
std::vector<std::uint8_t> FirmwareFileFor(const std::string& version, std::size_t imageSize);

}  // namespace kvq::app
