#include "app/Process.h"

#include <algorithm>
#include <chrono>

#include "actuator/Actuator.h"

bool PrepareProcess(ProcessObjects& process) {
    process.SystemContext.SetAntennaTable(&process.antennaTable);
    process.settings.Initialise();
    if (!process.SystemContext.CreateActuator(process.settings)) return false;
    CLinkThread& link = process.linkStation;
    process.SystemContext.GetActuator()->SetLinkThread([&link] { return link.LinkThreadId(); });
    return true;
}

bool PrepareControls(ProcessObjects& process, TiltSliderControl* tiltSlider,
                     ModelListControl* modelList) {
    if (CVLX400E* device = process.SystemContext.GetActuator()) device->tiltSlider = tiltSlider;
    process.SystemContext.ModelComboBox = modelList;
    return process.SystemContext.LoadAntennaTables(modelList);
}

void StartWorkers(ProcessObjects& process, const std::string& portName) {
    process.testEngine.StartStatusEngineThread();
    process.SystemContext.StartActuatorThread();
    process.SystemContext.SetSelectedPortName(portName);
}

bool StopWorkers(ProcessObjects& process, std::uint32_t allowanceMs) {
    using namespace std::chrono;
    process.SystemContext.RequestStop();
    const auto end = steady_clock::now() + milliseconds(allowanceMs);
    auto left = [&] {
        const auto ms = duration_cast<milliseconds>(end - steady_clock::now()).count();
        return static_cast<std::uint32_t>(std::max<long long>(ms, 0));
    };
    // The status engine first: once it has ended, the link thread it may have
    // started is known and can be joined.
    bool all = process.testEngine.JoinStatusEngineThread(left());
    if (all) all = process.linkStation.JoinLinkThread(left());
    all = process.SystemContext.JoinActuatorThread(left()) && all;
    return all;
}
