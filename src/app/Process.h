#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "antenna/AntennaTable.h"
#include "core/MainDataStore.h"
#include "hdlc/LinkThread.h"
#include "serial/SerialLine.h"
#include "settings/KVQSystem.h"
#include "status/TestEngine.h"

class ModelListControl;
class TiltSliderControl;

// The process-wide objects, in the order the program brings them into being.
// Both front ends (the dialog and the headless tool) run the same start-up and
// the same shutdown on them.
struct ProcessObjects {
    // The line is this system's serial port unless one is handed in (the
    // demo's in-memory line), which must outlive the objects.
    explicit ProcessObjects(SerialLine* line = nullptr)
        : ownLine(line ? nullptr : MakeSystemSerialLine()), serialPort(line ? *line : *ownLine) {}

    CAntennaTable antennaTable;
    CMainDataStore SystemContext;
    CLinkThread linkStation;
    CKVQSystem settings;
    std::unique_ptr<SerialLine> ownLine;
    SerialLine& serialPort;
    CTestEngine testEngine{SystemContext, serialPort, linkStation};
};

// Reads the settings and fills the actuator's slot. False when the settings
// name no supported model: the program must then end at once, silently, with
// exit code 0.
bool PrepareProcess(ProcessObjects& process);

// Hands the front end's controls to the device record and the shared system
// object, and loads the antenna table into the model list. False when no model
// could be listed: then no worker may be started.
bool PrepareControls(ProcessObjects& process, TiltSliderControl* tiltSlider,
                     ModelListControl* modelList);

// Starts the status engine and then the actuator thread (the status engine
// starts the link thread a second later), then names the port to use.
void StartWorkers(ProcessObjects& process, const std::string& portName);

// Raises the stop flag and joins every worker, all within allowanceMs; the
// link thread closes the port on its way out. True when every worker ended.
bool StopWorkers(ProcessObjects& process, std::uint32_t allowanceMs = 1000);
