#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "actuator/VLX400E.h"
#include "antenna/AntennaTable.h"
#include "app/LineTrace.h"
#include "core/MainDataStore.h"
#include "core/WorkerThread.h"
#include "hdlc/LinkThread.h"
#include "serial/SerialLine.h"
#include "settings/KVQSystem.h"
#include "status/TestEngine.h"

namespace kvq::actuator {
class ModelListControl;
class TiltSliderControl;
}  // namespace kvq::actuator

namespace kvq::app {

// The objects of one run of the tool, in the order the program brings them
// into being, and the threads that work on them. Both front ends (the dialog
// and the headless tool) run the same start-up and the same shutdown on them.
struct ProcessObjects {
    // The line is this system's serial port unless one is handed in (the
    // demo's in-memory line), which must outlive the objects.
    explicit ProcessObjects(serial::SerialLine* line = nullptr)
        : ownLine(line ? nullptr : serial::MakeSystemSerialLine()),
          serialPort(line ? *line : *ownLine) {}

    antenna::CAntennaTable antennaTable;
    core::CMainDataStore SystemContext;
    // Started by the front end before the workers when a trace is wanted.
    LineTrace lineTrace;
    hdlc::CLinkThread linkStation;
    settings::CKVQSystem settings;
    std::unique_ptr<serial::SerialLine> ownLine;
    serial::SerialLine& serialPort;
    // The one actuator: device slot 1, station address 20.
    actuator::CVLX400E actuator;
    status::CTestEngine testEngine{
        SystemContext, actuator, [this] { return serialPort.IsOpen.load() != 0; },
        [this] { linkStation.StartLinkThread(serialPort, SystemContext, &actuator); }};
    core::WorkerThread actuatorThread;
};

// What the front end decides about the actuator's software for this run.
struct FirmwareUse {
    actuator::FirmwarePolicy policy = actuator::FirmwarePolicy::DownloadWhenDiffers;
    std::filesystem::path file = "vlx400fw.bin";  // relative: to the working directory
};

// Reads the settings and readies the actuator's record. False when the
// settings name no supported model: the program must then end at once with
// exit code 0, saying only UnservedVariantSentence on the standard error.
bool PrepareProcess(ProcessObjects& process, const FirmwareUse& firmware = {});

// Why PrepareProcess refused, in one sentence that both front ends say: the
// settings file, the key and its value, and the values that are accepted.
std::string UnservedVariantSentence(const settings::CKVQSystem& settings);

// Hands the front end's controls to the actuator, and loads the antenna table
// into the model list. False when no model could be listed: then no worker
// may be started.
bool PrepareControls(ProcessObjects& process, actuator::TiltSliderControl* tiltSlider,
                     actuator::ModelListControl* modelList);
// The front end's controls are going: nobody may drive them any more.
void ReleaseControls(ProcessObjects& process);

// Starts the status engine and then the actuator thread (the status engine
// starts the link thread a second later), then names the port to use.
void StartWorkers(ProcessObjects& process, const std::string& portName);

// Raises the stop flag and joins every worker, all within allowanceMs; the
// link thread closes the port on its way out. True when every worker ended.
bool StopWorkers(ProcessObjects& process, std::uint32_t allowanceMs = 1000);

// The antenna table's index of the model with this display name, as the user
// picks it; none when the table has no such model.
std::optional<std::int32_t> SelectModelByName(const ProcessObjects& process,
                                              std::string_view displayName);
// Set Tilt and Change Antenna Model: the request goes to the actuator thread
// with its argument. False when the thread could not be told.
bool RequestSetTilt(ProcessObjects& process, std::int32_t targetTenths);
bool RequestModelChange(ProcessObjects& process, std::int32_t modelIndex);

}  // namespace kvq::app
