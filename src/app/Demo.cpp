#include "app/Demo.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "actuator/VLX400E.h"
#include "antenna/AntennaTableFile.h"
#include "app/Environment.h"
#include "core/Utf8Path.h"
#include "serial/InMemoryLine.h"
#include "serial/PortNames.h"
#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"

using namespace kvq::serial;
using namespace kvq::actuator;
using namespace kvq::sim;

namespace kvq::app {

namespace fs = std::filesystem;

namespace {

// What the port list shows for COM1: there is no device behind it, the line
// is inside the process.
constexpr const char* InMemoryLinePath = "/in-memory-line";
// The firmware file's name, in the working directory as in the demo's.
constexpr const char* DemoFirmwareName = "vlx400fw.bin";

// The table the tool will load: the greatest-named *.ascu of the directory.
std::optional<fs::path> GreatestTable(const fs::path& directory) {
    std::optional<fs::path> best;
    std::error_code error;
    for (fs::directory_iterator it(directory, error), end; !error && it != end;
         it.increment(error)) {
        if (it->path().extension() != ".ascu" || !it->is_regular_file()) continue;
        if (!best || it->path().filename() > best->filename()) best = it->path();
    }
    return best;
}

// The model key of the table's first model (the line after the header).
std::string FirstModelKey(const fs::path& table) {
    std::ifstream in(table);
    std::string line;
    if (!std::getline(in, line)) return {};
    while (std::getline(in, line)) {
        const std::string key = line.substr(0, line.find_first_of("\t\r"));
        if (!key.empty()) return key;
    }
    return {};
}

// The tool's line in the demo: the in-memory line for the demo's port, the
// system's serial line for any other, so the port menu still reaches real ports.
class DemoLine final : public SerialLine {
public:
    explicit DemoLine(SerialLine& inMemory)
        : inMemory_(inMemory), system_(MakeSystemSerialLine()) {}

    OpenOutcome Open(const std::string& name, std::int32_t baudRate) override {
        Close();
        active_ = DevicePathForPortName(name) == std::optional<std::string>(InMemoryLinePath)
                      ? &inMemory_
                      : system_.get();
        const OpenOutcome outcome = active_->Open(name, baudRate);
        if (outcome == OpenOutcome::Opened)
            NoteOpened(active_->BaudRate(), active_->LowLatencyGranted());
        if (outcome == OpenOutcome::Failed)
            NoteFailed(active_->LastOpenFailure(), active_->LastOpenError());
        IsOpen = active_->IsOpen.load();
        return outcome;
    }
    void Close() override {
        active_->Close();
        SetLowLatency({});
        IsOpen = 0;
    }
    void Discard() override { active_->Discard(); }
    // A real adapter chosen from the menu can be pulled out like any other.
    bool Vanished() const override { return active_->Vanished(); }
    void Write(std::span<const std::uint8_t> frame) override { active_->Write(frame); }
    LineEvent Wait(std::chrono::microseconds timeout, bool watchInput) override {
        return active_->Wait(timeout, watchInput);
    }
    std::size_t Read(std::span<std::uint8_t> into) override {
        const std::size_t got = active_->Read(into);
        if (got > 0) ReceivedSinceAsked = 1;
        return got;
    }
    // From any thread, while the link thread may be changing lines: both.
    void Wake() override {
        inMemory_.Wake();
        system_->Wake();
    }

private:
    SerialLine& inMemory_;
    std::unique_ptr<SerialLine> system_;
    SerialLine* active_ = &inMemory_;  // only the link thread changes it
};

}  // namespace

struct DemoSession::State {
    DemoSettings settings;
    fs::path directory;
    fs::path previousDirectory;
    std::optional<std::string> previousPortMap;
    bool portMapSet = false;
    std::string modelKey;
    fs::path tableSource;
    fs::path firmwarePath;
    std::shared_ptr<Vlx400Application> application;
    InMemoryLine line;
    DemoLine toolLine{line.ToolEnd()};
    std::unique_ptr<SimulatedActuator> simulator;
};

DemoSession::DemoSession(DemoSettings settings) : state_(std::make_unique<State>()) {
    state_->settings = settings;
}

DemoSession::~DemoSession() {
    if (state_->simulator) state_->simulator->Stop();
    if (state_->portMapSet) {
        SetEnvironmentVariable(PortMapVariable, state_->previousPortMap);
    }
    std::error_code ignored;
    if (!state_->previousDirectory.empty()) fs::current_path(state_->previousDirectory, ignored);
    if (!state_->directory.empty()) fs::remove_all(state_->directory, ignored);
}

std::vector<fs::path> ExampleDirectories() {
    std::vector<fs::path> places;
    if (const fs::path exe = ExecutablePath().parent_path(); !exe.empty()) {
        places.push_back(exe / ".." / "share" / "kvq" / "examples");
        places.push_back(exe / "examples");
    }
#ifdef KVQ_SOURCE_EXAMPLES_DIR
    places.emplace_back(KVQ_SOURCE_EXAMPLES_DIR);
#endif
    return places;
}

std::optional<fs::path> FindExamplesDirectory() {
    for (const auto& place : ExampleDirectories()) {
        if (GreatestTable(place)) return place;
    }
    return std::nullopt;
}

std::vector<std::uint8_t> FirmwareFileFor(const std::string& version, std::size_t imageSize) {
    std::vector<std::uint8_t> bytes(FirmwareHeaderSize, 0);
    bytes[0] = 0x01;
    bytes[1] = 0x00;
    // Eight characters at most, so a short version keeps its terminating NUL.
    const std::size_t length = std::min(version.size(), FirmwareHeaderSize - 2);
    std::copy_n(version.begin(), length, bytes.begin() + 2);
    for (std::size_t i = 0; i < imageSize; ++i)
        bytes.push_back(static_cast<std::uint8_t>((i * 7 + 3) & 0xFF));
    return bytes;
}

bool DemoSession::Start(std::string& error) {
    State& s = *state_;
    // A table in the working directory is the one to try in the demo.
    std::error_code noDirectory;
    const fs::path here = fs::current_path(noDirectory);
    if (s.settings.tableFromWorkingDirectory && !noDirectory) {
        if (const std::string found = antenna::FindAntennaTableFile(here); !found.empty())
            s.tableSource = here / core::PathFromUtf8(found);
    }
    const auto examples = FindExamplesDirectory();
    if (s.tableSource.empty() && !examples) {
        error =
            "the demo needs the sample antenna table (an examples/*.ascu file) and found none in";
        for (const auto& place : ExampleDirectories())
            error += " " + place.string();
        return false;
    }

    s.directory = MakeTemporaryDirectory("kvq-demo-");
    if (s.directory.empty()) {
        std::error_code ignored;
        error = "cannot create a demo directory under " + fs::temp_directory_path(ignored).string();
        return false;
    }

    std::error_code failed;
    if (!s.tableSource.empty()) {
        fs::copy_file(s.tableSource, s.directory / s.tableSource.filename(), failed);
    } else {
        for (fs::directory_iterator it(*examples, failed), end; !failed && it != end;
             it.increment(failed)) {
            if (it->path().extension() == ".ascu") {
                fs::copy_file(it->path(), s.directory / it->path().filename(), failed);
                s.tableSource = it->path();
            }
        }
    }
    if (failed) {
        error = "cannot copy the antenna table " + s.tableSource.string() + ": " + failed.message();
        return false;
    }

    // The actuator starts with a model the table knows, so the demo shows its
    // tilt range; otherwise it is the simulator as it comes.
    Vlx400Settings actuator;
    if (const auto table = GreatestTable(s.directory)) {
        if (std::string key = FirstModelKey(*table); !key.empty()) actuator.modelKey = key;
    }
    actuator.restartSilence = s.settings.restartSilence;
    actuator.tiltSpeed = s.settings.tiltSpeed;
    s.modelKey = actuator.modelKey;

    // A firmware file in the working directory is the one to try, whatever it
    // holds: the front end checks it as it would any other. It is used where
    // it is, so a message names the file the technician put there.
    std::error_code noFile;
    if (s.settings.firmwareFromWorkingDirectory && !noDirectory &&
        fs::exists(here / DemoFirmwareName, noFile)) {
        s.firmwarePath = here / DemoFirmwareName;
    } else {
        // The file carries the actuator's own version: nothing to download.
        s.firmwarePath = s.directory / DemoFirmwareName;
        const auto firmware = FirmwareFileFor(actuator.softwareVersion, 4096);
        std::ofstream out(s.firmwarePath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(firmware.data()),
                  static_cast<std::streamsize>(firmware.size()));
        out.close();
        if (!out) {
            error = "cannot write the firmware file in " + s.directory.string();
            return false;
        }
    }

    s.application = std::make_shared<Vlx400Application>(actuator);
    SimOptions options;
    options.pace = s.settings.pace;
    s.simulator = std::make_unique<SimulatedActuator>(options, s.application);
    if (!s.simulator->StartOnLine(s.line)) {
        error = "cannot start the simulated actuator: " + s.simulator->Error();
        return false;
    }

    if (const char* old = std::getenv(PortMapVariable)) s.previousPortMap = old;
    // COM1 is the simulator; ports the variable named already stay in the
    // menu (the first entry for a name wins).
    std::string ports = std::string("COM1=") + InMemoryLinePath;
    if (s.previousPortMap && !s.previousPortMap->empty()) ports += ";" + *s.previousPortMap;
    SetEnvironmentVariable(PortMapVariable, ports);
    s.portMapSet = true;
    s.previousDirectory = fs::current_path(failed);
    fs::current_path(s.directory, failed);
    if (failed) {
        error = "cannot change into the demo directory " + s.directory.string();
        return false;
    }
    return true;
}

const fs::path& DemoSession::TableSource() const {
    return state_->tableSource;
}

const fs::path& DemoSession::FirmwarePath() const {
    return state_->firmwarePath;
}

const fs::path& DemoSession::Directory() const {
    return state_->directory;
}

std::string DemoSession::DevicePath() const {
    return state_->simulator ? InMemoryLinePath : std::string();
}

SerialLine& DemoSession::ToolLine() {
    return state_->toolLine;
}

const std::string& DemoSession::ModelKey() const {
    return state_->modelKey;
}

SimulatedActuator& DemoSession::Simulator() {
    return *state_->simulator;
}

Vlx400Application& DemoSession::Application() {
    return *state_->application;
}

}  // namespace kvq::app
