#include "app/Process.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "actuator/ActuatorThread.h"
#include "actuator/Controls.h"
#include "antenna/AntennaTables.h"
#include "app/Paths.h"

using namespace kvq::core;
using namespace kvq::hdlc;
using namespace kvq::antenna;
using namespace kvq::actuator;
using namespace kvq::settings;

namespace kvq::app {

bool PrepareProcess(ProcessObjects& process, const FirmwareUse& firmware) {
    process.settings.Initialise();
    if (!VariantIsServed(process.settings.Variant)) return false;
    process.actuator.SetAntennaTable(&process.antennaTable);
    process.actuator.SetFirmwarePolicy(firmware.policy);
    process.actuator.SetFirmwarePath(firmware.file);
    CLinkThread& link = process.linkStation;
    process.actuator.SetLinkThread([&link] { return link.LinkThreadId(); });
    return true;
}

std::string UnservedVariantSentence(const CKVQSystem& settings) {
    const std::filesystem::path file = AbsoluteOrAsGiven(settings.SettingsFile);
    // The value comes from a file: nothing in it may drive the terminal.
    std::string value;
    for (const char c : settings.Variant)
        value += (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) ? '?' : c;
    std::string accepted;
    for (const auto served : ServedVariants)
        accepted += std::string(accepted.empty() ? "" : " or ") + "\"" + std::string(served) + "\"";
    return "The settings file " + file.lexically_normal().string() + " sets Variant to " +
           (value.empty() ? std::string("nothing") : "\"" + value + "\"") + " in section [" +
           std::string(CKVQSystem::Section) +
           "], which is not a model this tool serves; the accepted values are " + accepted +
           " (exactly so, letter case included).";
}

bool PrepareControls(ProcessObjects& process, TiltSliderControl* tiltSlider,
                     ModelListControl* modelList) {
    process.actuator.SetControls(tiltSlider, modelList);
    if (modelList == nullptr) return false;
    const auto names = LoadAntennaTables(process.antennaTable);
    for (const auto& name : names)
        modelList->AddModelName(name);
    if (names.empty()) return false;
    modelList->SelectFirstEntry();
    return true;
}

void ReleaseControls(ProcessObjects& process) {
    process.actuator.SetControls(nullptr, nullptr);
}

void StartWorkers(ProcessObjects& process, const std::string& portName) {
    process.testEngine.StartStatusEngineThread();
    if (!process.actuatorThread.Started()) {
        CVLX400E& device = process.actuator;
        CMainDataStore& context = process.SystemContext;
        const ThreadId id = process.actuatorThread.Start(
            [&device, &context](ThreadId self) { ActuatorThread(device, context, self); });
        device.SetThreadId(id);
        device.SetState(ActuatorState::Looking);
    }
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
    all = process.actuatorThread.Join(left()) && all;
    // The line is closed: what the trace holds is written out.
    process.lineTrace.Stop();
    return all;
}

std::optional<std::int32_t> SelectModelByName(const ProcessObjects& process,
                                              std::string_view displayName) {
    const auto index = process.antennaTable.FindByName(displayName);
    AntennaRecord record;
    if (!index || !process.antennaTable.GetRecord(*index, record)) return std::nullopt;
    return *index;
}

bool RequestSetTilt(ProcessObjects& process, std::int32_t targetTenths) {
    return PostSetTilt(process.actuator.ThreadIdOfActuator(), targetTenths);
}

bool RequestModelChange(ProcessObjects& process, std::int32_t modelIndex) {
    return PostChangeModel(process.actuator.ThreadIdOfActuator(), modelIndex);
}

}  // namespace kvq::app
