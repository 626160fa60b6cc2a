#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "serial/PortDiscovery.h"
#include "ui/CloseGuard.h"
#include "ui/MessageText.h"
#include "ui/PortSelection.h"
#include "ui/RefreshView.h"

namespace kvq::actuator {
class ModelListControl;
class TiltSliderControl;
}  // namespace kvq::actuator

namespace kvq::app {
struct ProcessObjects;
}  // namespace kvq::app

namespace kvq::ui {

// Ids of the main dialog's controls, as its template gives them.
namespace control_id {
inline constexpr int Close = 2;
inline constexpr int SerialNumber = 1001;
inline constexpr int SetTilt = 1002;
inline constexpr int StatusList = 1003;
inline constexpr int SoftwareVersion = 1004;
inline constexpr int CurrentModel = 1005;
inline constexpr int NewModel = 1016;
inline constexpr int ChangeModel = 1018;
inline constexpr int TiltSlider = 1019;
inline constexpr int MinTilt = 1020;
inline constexpr int MaxTilt = 1021;
inline constexpr int Progress = 1022;
inline constexpr int CurrentTilt = 1023;
inline constexpr int RequestedTilt = 1024;
inline constexpr int PortName = 1032;
inline constexpr int Connection = 1033;
}  // namespace control_id

// What the main dialog's widgets do when its logic asks: the one part in which
// the front ends (Qt, Win32) differ.
class DialogWidgets {
public:
    virtual ~DialogWidgets() = default;

    virtual std::int32_t SliderPosition() const = 0;
    virtual std::pair<std::int32_t, std::int32_t> SliderRange() const = 0;
    virtual void SetSliderPosition(std::int32_t position) = 0;
    // The requested tilt as the user typed it, while it is typed (not yet set
    // with Set Tilt, not yet given back to the slider).
    virtual bool RequestedTiltTyped() const = 0;
    virtual std::string RequestedTiltText() const = 0;
    virtual void ForgetTypedTilt() = 0;
    // The model list's entries and what its edit field shows.
    virtual std::vector<std::string> ModelEntries() const = 0;
    virtual std::string ModelShown() const = 0;

    virtual void ShowStatusLines(const StatusPair& lines) = 0;
    virtual void SetTableToolTip(const std::string& text) = 0;
    // The commands, the slider, the progress bar and whether a tilt can be
    // typed.
    virtual void ApplyControls(const ControlStates& states) = 0;
    // A read-only field's text, only when it differs (a selection survives).
    virtual void SetFieldText(int id, const std::string& text) = 0;
    // Once the workers run: the progress bar's range, the status list's font.
    virtual void PrepareRunningControls() = 0;
    virtual void SetRefreshTimer(bool running) = 0;
    virtual void AddPortMenuItem(int n, const std::string& text) = 0;
    virtual void ApplyPortMenuItem(int n, bool checked, bool enabled, const std::string& text) = 0;
    // A box shown from the message loop, not from inside the caller.
    virtual void ShowSoon(const MessageText& message) = 0;
    // Ends the modal dialog with the OK (accepted) or cancel result (also when
    // it is not shown yet).
    virtual void EndDialog(bool accepted) = 0;
};

// The main dialog's behaviour without its widgets: the start and its order,
// the 500 ms refresh and the binding of its texts, the user's commands, the
// port menu, and every way of closing with the question first while the
// actuator's work would be cut short. Runs on the user-interface thread.
class DialogLogic {
public:
    using PortListSource = std::function<std::vector<serial::SerialPortInfo>()>;

    // ports: where the serial ports come from; none: ListSerialPorts().
    DialogLogic(app::ProcessObjects& process, MessagePresenter& boxes, DialogWidgets& widgets,
                PortListSource ports = {});
    ~DialogLogic();
    DialogLogic(const DialogLogic&) = delete;
    DialogLogic& operator=(const DialogLogic&) = delete;

    // The start: the first refresh, the antenna table into the model list,
    // the timer and the workers, the port list and the initial port.
    void Initialise(actuator::TiltSliderControl* slider, actuator::ModelListControl* models);
    void Refresh();
    // Copies the refresh's texts into the read-only fields, all in one step.
    void Bind();
    void OnRefreshTimer() {
        Refresh();
        Bind();
    }

    void SetTilt();
    void ChangeAntennaModel();
    // Communication > Save Line Trace..., once the user has named the file:
    // writes the frames kept, or says in a box why it could not.
    void SaveLineTrace(const std::string& path);
    void SelectPort(int n);
    // Close, Esc, the close box (accepted false) and Enter where it is OK
    // (accepted true): the question first, then the workers stopped and joined.
    void Close(bool accepted);
    // Enter with the focus on this kind of control: what the dialog does.
    EnterAction Enter(FocusKind focus, bool enabled);
    void StopAllWorkers();

    const PortSelection& Ports() const { return ports_; }
    MessagePresenter& Boxes() const { return boxes_; }
    std::int32_t RefreshCount() const { return refreshCount_; }
    bool WorkersStarted() const { return workersStarted_; }
    bool Stopped() const { return stopped_; }
    // True once the workers were stopped and every one of them was joined.
    bool WorkersJoined() const { return stopped_ && joined_; }
    bool EndedByInitialisation() const { return endedByInitialisation_; }

private:
    void ApplyPortMenu();

    app::ProcessObjects& process_;
    MessagePresenter& boxes_;
    DialogWidgets& widgets_;
    PortListSource portSource_;

    // The texts the refresh writes, by the id of their field; they reach the
    // fields only through Bind.
    std::map<int, std::string> boundText_;
    // The adapter chosen last, in the user's configuration directory;
    // declared before the selection that points to it.
    std::unique_ptr<AdapterMemory> adapterMemory_;
    PortSelection ports_;
    StatusListLines statusLines_;
    CloseGate closeGate_;
    std::int32_t refreshCount_ = 0;
    bool workersStarted_ = false;
    bool stopped_ = false;
    bool joined_ = false;
    bool endedByInitialisation_ = false;
    // The record's count of firmware notices already told (a file refused,
    // an update not taken).
    std::uint32_t firmwareNoticesShown_ = 0;
};

}  // namespace kvq::ui
