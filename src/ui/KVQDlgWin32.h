#pragma once

#include <windows.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "serial/PortDiscovery.h"
#include "ui/CloseGuard.h"
#include "ui/ControlsWin32.h"
#include "ui/MessageText.h"
#include "ui/PortSelection.h"
#include "ui/RefreshView.h"

namespace kvq::app {
struct ProcessObjects;
}  // namespace kvq::app

namespace kvq::ui {

// The main window as a native dialog, from the resource script's template:
// the same decisions as the Qt dialog (kvq_ui_logic), applied to Win32
// controls. Everything it shows is pulled from the shared state by a 500 ms
// timer; the actuator thread drives only the slider and the model list,
// through calls handed to this thread.
class CKVQDlgWin32 {
public:
    static constexpr UINT_PTR RefreshTimerId = 1001;
    static constexpr UINT RefreshPeriodMs = 500;
    static constexpr UINT_PTR WatchTimerId = 1002;

    using PortListSource = std::function<std::vector<serial::SerialPortInfo>()>;

    // ports: where the serial ports come from; none: ListSerialPorts().
    CKVQDlgWin32(app::ProcessObjects& process, MessagePresenter& boxes, PortListSource ports = {});
    ~CKVQDlgWin32();
    CKVQDlgWin32(const CKVQDlgWin32&) = delete;
    CKVQDlgWin32& operator=(const CKVQDlgWin32&) = delete;

    // Creates the dialog and runs it modally; answers IDOK or IDCANCEL.
    INT_PTR RunModal(HWND owner = nullptr);

    // Called every periodMs on the dialog's thread while it runs (the
    // unattended run watches for READY with it). Set before RunModal.
    void SetWatch(std::function<void()> watch, UINT periodMs);

    // The user's commands, as the controls and the menu call them.
    void OnSetTilt();
    void OnChangeAntennaModel();
    void OnSelectPort(int n);
    void OnAbout();
    // Close, Esc and the close box: asks first while the actuator's work would
    // be cut short (No the default), then stops and joins every worker and ends.
    void CloseDialog();
    // Enter where it is the dialog's OK: the same question and stop, then ends.
    void Accept();

    HWND Window() const { return window_; }
    HWND Control(int id) const { return GetDlgItem(window_, id); }
    TiltSliderWin32* Slider() const { return slider_.get(); }
    bool WorkersStarted() const { return workersStarted_; }
    bool WorkersJoined() const { return stopped_ && joined_; }
    bool EndedByInitialisation() const { return endedByInitialisation_; }
    const PortSelection& Ports() const { return ports_; }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(int id, int code, HWND control);
    void OnEnter();

    void InitialiseDialog();
    void RefreshDisplay();
    void OnRefreshTimer(UINT_PTR timerId);
    // Copies the refresh's texts into the read-only fields, all in one step.
    void BindControls();
    void AddPortMenuItem(int n);
    void ApplyPortMenu();
    void ShowStatusLines(const StatusPair& lines);
    // Shown from the message loop, not from inside the caller.
    void ShowSoon(const MessageText& message);
    void ShowWaitingBox();
    bool MayClose();
    void EndWith(INT_PTR result);
    void StopAllWorkers();

    app::ProcessObjects& process_;
    MessagePresenter& boxes_;
    PortListSource portSource_;

    HWND window_ = nullptr;
    HMENU communicationMenu_ = nullptr;
    std::map<int, int> menuPorts_;  // command id -> port number
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HFONT statusFont_ = nullptr;
    HWND toolTip_ = nullptr;
    std::string toolTipText_;

    // The texts the refresh writes, by the id of their field; they reach the
    // fields only through BindControls.
    std::map<int, std::string> boundText_;

    UiCallQueueWin32 calls_;
    std::unique_ptr<TiltSliderWin32> slider_;
    std::unique_ptr<ModelListWin32> modelList_;
    std::deque<MessageText> waitingBoxes_;

    std::function<void()> watch_;
    UINT watchPeriodMs_ = 0;

    PortSelection ports_;
    StatusListLines statusLines_;
    CloseGate closeGate_;
    std::int32_t refreshCount_ = 0;
    bool workersStarted_ = false;
    bool stopped_ = false;
    bool joined_ = false;
    bool endedByInitialisation_ = false;
    bool ended_ = false;
};

}  // namespace kvq::ui
