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
#include "ui/DialogLogic.h"
#include "ui/MessageText.h"
#include "ui/PortSelection.h"
#include "ui/RefreshView.h"

namespace kvq::app {
struct ProcessObjects;
}  // namespace kvq::app

namespace kvq::ui {

// The main window as a native dialog, from the resource script's template:
// what it does is DialogLogic's, shared with the Qt dialog; this class only
// applies it to Win32 controls. Everything it shows is pulled from the shared state by a 500 ms
// timer; the actuator thread drives only the slider and the model list,
// through calls handed to this thread.
class CKVQDlgWin32 : private DialogWidgets {
public:
    static constexpr UINT_PTR RefreshTimerId = 1001;
    static constexpr UINT RefreshPeriodMs = 500;
    static constexpr UINT_PTR WatchTimerId = 1002;

    using PortListSource = std::function<std::vector<serial::SerialPortInfo>()>;

    // ports: where the serial ports come from; none: ListSerialPorts().
    CKVQDlgWin32(app::ProcessObjects& process, MessagePresenter& boxes, PortListSource ports = {});
    ~CKVQDlgWin32() override;
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
    // Communication > Save Line Trace...: asks for the file, then SaveLineTraceTo.
    void OnSaveLineTrace();
    // Writes the frames kept to path, or says in a box why it could not.
    void SaveLineTraceTo(const std::string& path);
    // Close, Esc and the close box: asks first while the actuator's work would
    // be cut short (No the default), then stops and joins every worker and ends.
    void CloseDialog();
    // Enter where it is the dialog's OK: the same question and stop, then ends.
    void Accept();

    HWND Window() const { return window_; }
    HWND Control(int id) const { return GetDlgItem(window_, id); }
    TiltSliderWin32* Slider() const { return slider_.get(); }
    bool WorkersStarted() const { return logic_.WorkersStarted(); }
    bool WorkersJoined() const { return logic_.WorkersJoined(); }
    bool EndedByInitialisation() const { return logic_.EndedByInitialisation(); }
    const PortSelection& Ports() const { return logic_.Ports(); }

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR Handle(UINT message, WPARAM wParam, LPARAM lParam);
    void OnCommand(int id, int code, HWND control);
    void OnEnter();

    void InitialiseDialog();
    void ShowWaitingBox();

    // DialogWidgets: the logic's requests, applied to the Win32 controls.
    std::int32_t SliderPosition() const override;
    std::pair<std::int32_t, std::int32_t> SliderRange() const override;
    void SetSliderPosition(std::int32_t position) override;
    bool RequestedTiltTyped() const override;
    std::string RequestedTiltText() const override;
    void ForgetTypedTilt() override;
    std::vector<std::string> ModelEntries() const override;
    std::string ModelShown() const override;
    void ShowStatusLines(const StatusPair& lines) override;
    void SetTableToolTip(const std::string& text) override;
    void ApplyControls(const ControlStates& states) override;
    void SetFieldText(int id, const std::string& text) override;
    void PrepareRunningControls() override;
    void SetRefreshTimer(bool running) override;
    void AddPortMenuItem(int n, const std::string& text) override;
    void ApplyPortMenuItem(int n, bool checked, bool enabled, const std::string& text) override;
    void ShowSoon(const MessageText& message) override;
    void EndDialog(bool accepted) override;

    DialogLogic logic_;

    HWND window_ = nullptr;
    HMENU communicationMenu_ = nullptr;
    std::map<int, int> menuPorts_;  // command id -> port number
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HFONT statusFont_ = nullptr;
    HWND toolTip_ = nullptr;
    std::string toolTipText_;

    // Held apart so that it can outlive the dialog with the controls below.
    std::unique_ptr<UiCallQueueWin32> calls_ = std::make_unique<UiCallQueueWin32>();
    std::unique_ptr<TiltSliderWin32> slider_;
    std::unique_ptr<ModelListWin32> modelList_;
    std::deque<MessageText> waitingBoxes_;

    std::function<void()> watch_;
    UINT watchPeriodMs_ = 0;
    bool ended_ = false;
};

}  // namespace kvq::ui
