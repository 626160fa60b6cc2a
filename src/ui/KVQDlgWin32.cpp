#include "ui/KVQDlgWin32.h"

#include <commctrl.h>

#include <vector>

#include "app/Process.h"
#include "ui/DialogTexts.h"
#include "ui/Reports.h"
#include "ui/ResourceIdsWin32.h"
#include "ui/UserCommands.h"

using namespace kvq::app;

namespace kvq::ui {

namespace {

constexpr UINT ShowBoxMessage = WM_APP + 2;

// The fields the refresh writes, in the order they are bound.
constexpr int BoundFields[] = {
    KVQ_IDC_SOFTWARE_VERSION, KVQ_IDC_SERIAL_NUMBER, KVQ_IDC_CURRENT_MODEL,
    KVQ_IDC_MAX_TILT,         KVQ_IDC_MIN_TILT,      KVQ_IDC_CURRENT_TILT,
    KVQ_IDC_REQUESTED_TILT,   KVQ_IDC_PORT_NAME,     KVQ_IDC_CONNECTION,
};

std::string WindowText(HWND window) {
    const int length = GetWindowTextLengthA(window);
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    GetWindowTextA(window, text.data(), length + 1);
    return std::string(text.data());
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

HINSTANCE Module() {
    return GetModuleHandleA(nullptr);
}

INT_PTR CALLBACK AboutProc(HWND window, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            return TRUE;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                EndDialog(window, LOWORD(wParam));
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

CKVQDlgWin32::CKVQDlgWin32(ProcessObjects& process, MessagePresenter& boxes, PortListSource ports)
    : process_(process), boxes_(boxes), portSource_(ports ? std::move(ports) : PortListSource([] {
          return serial::ListSerialPorts();
      })) {
    for (int id : BoundFields)
        boundText_[id] = std::string();
}

CKVQDlgWin32::~CKVQDlgWin32() {
    StopAllWorkers();
    calls_.Detach();
    if (!joined_) {
        // A worker that did not end may still call the controls: they stay
        // (detached, doing nothing) for the rest of the process.
        (void)slider_.release();
        (void)modelList_.release();
    }
    if (statusFont_) DeleteObject(statusFont_);
}

void CKVQDlgWin32::SetWatch(std::function<void()> watch, UINT periodMs) {
    watch_ = std::move(watch);
    watchPeriodMs_ = periodMs;
}

INT_PTR CKVQDlgWin32::RunModal(HWND owner) {
    return DialogBoxParamA(Module(), MAKEINTRESOURCEA(KVQ_IDD_MAIN), owner, DialogProc,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CKVQDlgWin32::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<CKVQDlgWin32*>(lParam);
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        dialog->window_ = window;
    }
    auto* dialog = reinterpret_cast<CKVQDlgWin32*>(GetWindowLongPtrA(window, DWLP_USER));
    return dialog ? dialog->Handle(message, wParam, lParam) : FALSE;
}

INT_PTR CKVQDlgWin32::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            InitialiseDialog();
            return TRUE;
        case WM_TIMER:
            OnRefreshTimer(wParam);
            return TRUE;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
            return TRUE;
        case WM_VSCROLL:
            if (reinterpret_cast<HWND>(lParam) == Control(KVQ_IDC_TILT_SLIDER)) {
                // The user moved the thumb: the requested tilt follows the
                // slider again, whatever was typed.
                slider_->MirrorPosition();
                SendMessageA(Control(KVQ_IDC_REQUESTED_TILT), EM_SETMODIFY, FALSE, 0);
            }
            return TRUE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(bigIcon_);
        case UiCallQueueWin32::DrainMessage:
            calls_.Drain();
            return TRUE;
        case ShowBoxMessage:
            ShowWaitingBox();
            return TRUE;
        default:
            break;
    }
    return FALSE;
}

void CKVQDlgWin32::OnCommand(int id, int code, HWND control) {
    if (id == IDCANCEL) {
        CloseDialog();
        return;
    }
    if (id == IDOK) {
        OnEnter();
        return;
    }
    const bool clicked = control == nullptr || code == BN_CLICKED;
    if (id == KVQ_IDC_SET_TILT && clicked) {
        OnSetTilt();
    } else if (id == KVQ_IDC_CHANGE_MODEL && clicked) {
        OnChangeAntennaModel();
    } else if (id == KVQ_IDM_ABOUT && control == nullptr) {
        OnAbout();
    } else if (const auto port = menuPorts_.find(id); port != menuPorts_.end() && !control) {
        OnSelectPort(port->second);
    }
}

void CKVQDlgWin32::OnEnter() {
    // The dialog manager makes Enter the OK command wherever no push button
    // has the focus; a focused button gets its own command instead.
    HWND focus = GetFocus();
    HWND requested = Control(KVQ_IDC_REQUESTED_TILT);
    FocusKind kind = FocusKind::Other;
    bool enabled = false;
    if (focus != nullptr && focus == requested) {
        kind = FocusKind::RequestedTilt;
        enabled = IsWindowEnabled(Control(KVQ_IDC_SET_TILT)) != FALSE;
    } else if (focus != nullptr &&
               (ClassOf(focus) == "Edit" || ClassOf(GetParent(focus)) == "ComboBox" ||
                ClassOf(focus) == "ComboBox")) {
        kind = FocusKind::TextField;
    } else if (focus != nullptr && ClassOf(focus) == "Button") {
        kind = FocusKind::PushButton;
        enabled = IsWindowEnabled(focus) != FALSE;
    }
    switch (EnterKeyAction(kind, enabled)) {
        case EnterAction::PressButton:
            OnCommand(GetDlgCtrlID(focus), BN_CLICKED, focus);
            break;
        case EnterAction::SetTilt:
            OnSetTilt();
            break;
        case EnterAction::Close:
            Accept();
            break;
        case EnterAction::Nothing:
            break;
    }
}

void CKVQDlgWin32::InitialiseDialog() {
    calls_.Attach(window_);
    slider_ = std::make_unique<TiltSliderWin32>(Control(KVQ_IDC_TILT_SLIDER), calls_);
    modelList_ = std::make_unique<ModelListWin32>(Control(KVQ_IDC_NEW_MODEL), calls_);

    bigIcon_ = static_cast<HICON>(LoadImageA(Module(), MAKEINTRESOURCEA(KVQ_IDR_MAINFRAME),
                                             IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                             GetSystemMetrics(SM_CYICON), LR_SHARED));
    smallIcon_ = static_cast<HICON>(LoadImageA(Module(), MAKEINTRESOURCEA(KVQ_IDR_MAINFRAME),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    communicationMenu_ = GetSubMenu(GetMenu(window_), 0);
    for (int n = 1; n <= MenuPortCount; ++n)
        menuPorts_[PortMenuId(n)] = n;

    // Exactly two lines from the first moment on.
    HWND list = Control(KVQ_IDC_STATUS_LIST);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(""));
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(""));

    RefreshDisplay();

    const bool modelsListed = PrepareControls(process_, slider_.get(), modelList_.get());
    // Which table the models come from, and once what was wrong in it.
    toolTipText_ = TableToolTip(process_.antennaTable);
    toolTip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT,
                               CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, window_, nullptr,
                               Module(), nullptr);
    if (toolTip_) {
        TOOLINFOA tool = {};
        tool.cbSize = sizeof tool;
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = window_;
        tool.uId = reinterpret_cast<UINT_PTR>(list);
        tool.lpszText = toolTipText_.data();
        SendMessageA(toolTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
        SendMessageA(toolTip_, TTM_SETMAXTIPWIDTH, 0, 480);
    }
    const auto tableWarnings = TableWarningsBox(process_.antennaTable);
    if (!modelsListed) {
        if (tableWarnings) boxes_.Show(*tableWarnings);
        boxes_.Show(
            {ui_text::NoTableText, ui_text::NoTableCaption, MessageText::Icon::Exclamation, {}});
        return;  // no timer, no workers, no port: the user can only close the window
    }
    if (tableWarnings) ShowSoon(*tableWarnings);

    SetTimer(window_, RefreshTimerId, RefreshPeriodMs, nullptr);
    if (watch_) SetTimer(window_, WatchTimerId, watchPeriodMs_, nullptr);
    // The port is named below, once it is chosen; the link thread, a second
    // behind, waits for the name.
    StartWorkers(process_, process_.SystemContext.SelectedPortName());
    workersStarted_ = true;

    SendMessageA(Control(KVQ_IDC_PROGRESS), PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    statusFont_ = CreateFontA(20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Arial");
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_), TRUE);
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);

    bool noPort = false;
    if (ports_.EnumerateSerialPorts(portSource_()) == 0) {
        // Ticks under the box would only pile a port report onto this one.
        KillTimer(window_, RefreshTimerId);
        boxes_.Show({ui_text::NoPortText, ui_text::NoPortCaption, MessageText::Icon::None, {}});
        noPort = true;
    }
    for (const int n : ports_.MenuPorts())
        AddPortMenuItem(n);
    ports_.InitialisePortMenu();
    ApplyPortMenu();
    process_.SystemContext.SetSelectedPortName(ports_.ChooseInitialPort());
    BindControls();

    if (noPort) {
        endedByInitialisation_ = true;
        StopAllWorkers();
        EndWith(IDOK);
    }
}

void CKVQDlgWin32::RefreshDisplay() {
    ++refreshCount_;
    if (auto report = PortReportFor(refreshCount_, process_.SystemContext.PortOpened.load(),
                                    ports_.CurrentPort())) {
        ShowSoon(WithPortReason(*report, process_));
    }

    HWND slider = Control(KVQ_IDC_TILT_SLIDER);
    const auto position = static_cast<std::int32_t>(SendMessageA(slider, TBM_GETPOS, 0, 0));
    const RefreshView view =
        ComputeRefresh(TakeRefreshSnapshot(process_, position, ports_.CurrentPort()));

    if (view.statusLines && statusLines_.Accept(*view.statusLines))
        ShowStatusLines(*view.statusLines);

    // Typing a tilt makes sense only while it can be set.
    SendMessageA(Control(KVQ_IDC_REQUESTED_TILT), EM_SETREADONLY,
                 view.controlsEnabled ? FALSE : TRUE, 0);
    EnableWindow(Control(KVQ_IDC_CHANGE_MODEL), view.controlsEnabled);
    EnableWindow(Control(KVQ_IDC_SET_TILT), view.controlsEnabled);
    EnableWindow(slider, view.controlsEnabled);
    SendMessageA(Control(KVQ_IDC_PROGRESS), PBM_SETPOS,
                 static_cast<WPARAM>(view.controlsEnabled ? 0 : view.progress), 0);

    boundText_[KVQ_IDC_SERIAL_NUMBER] = view.serialNumber;
    boundText_[KVQ_IDC_SOFTWARE_VERSION] = view.softwareVersion;
    boundText_[KVQ_IDC_MIN_TILT] = view.minTilt;
    boundText_[KVQ_IDC_MAX_TILT] = view.maxTilt;
    boundText_[KVQ_IDC_REQUESTED_TILT] = view.requestedTilt;
    boundText_[KVQ_IDC_CURRENT_TILT] = view.currentTilt;
    boundText_[KVQ_IDC_CURRENT_MODEL] = view.antennaModel;
    boundText_[KVQ_IDC_CONNECTION] = view.connection;
    boundText_[KVQ_IDC_PORT_NAME] = view.portName;

    ports_.MarkPortMenu(view.markPort);
    ApplyPortMenu();
}

void CKVQDlgWin32::ShowStatusLines(const StatusPair& lines) {
    HWND list = Control(KVQ_IDC_STATUS_LIST);
    SendMessageA(list, WM_SETREDRAW, FALSE, 0);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lines.first.c_str()));
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(lines.second.c_str()));
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(list, nullptr, TRUE);
}

void CKVQDlgWin32::OnRefreshTimer(UINT_PTR timerId) {
    if (timerId == WatchTimerId) {
        if (watch_) watch_();
        return;
    }
    if (timerId != RefreshTimerId) return;
    RefreshDisplay();
    BindControls();
}

void CKVQDlgWin32::BindControls() {
    for (const auto& [id, text] : boundText_) {
        HWND edit = Control(id);
        // What the user is typing stays until Set Tilt or the slider takes over.
        if (id == KVQ_IDC_REQUESTED_TILT && SendMessageA(edit, EM_GETMODIFY, 0, 0)) continue;
        // Unchanged texts are left alone, so a selection in a field survives.
        if (WindowText(edit) != text) SetWindowTextA(edit, text.c_str());
    }
}

void CKVQDlgWin32::OnSetTilt() {
    HWND requested = Control(KVQ_IDC_REQUESTED_TILT);
    HWND slider = Control(KVQ_IDC_TILT_SLIDER);
    if (!SendMessageA(requested, EM_GETMODIFY, 0, 0)) {
        RequestTilt(process_, static_cast<std::int32_t>(SendMessageA(slider, TBM_GETPOS, 0, 0)));
        return;
    }
    // A typed tilt: checked against the model's range before anything is sent.
    const auto minimum = static_cast<std::int32_t>(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0));
    const auto maximum = static_cast<std::int32_t>(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0));
    const TypedTilt typed = ReadTypedTilt(WindowText(requested), minimum, maximum);
    if (!typed.tenths) {
        boxes_.Show(*typed.refusal);
        return;
    }
    SendMessageA(requested, EM_SETMODIFY, FALSE, 0);
    slider_->SetPositionNow(*typed.tenths);
    RequestTilt(process_, *typed.tenths);
}

void CKVQDlgWin32::OnChangeAntennaModel() {
    HWND combo = Control(KVQ_IDC_NEW_MODEL);
    std::vector<std::string> entries;
    const auto count = static_cast<int>(SendMessageA(combo, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::vector<char> text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, '\0');
        SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(text.data()));
        entries.emplace_back(text.data());
    }
    // What the edit field shows is what the user means; a typed name that is
    // no entry is a model the table does not have.
    const int entry = ModelEntryShown(entries, WindowText(combo));
    if (RequestModelChange(process_, entries, entry) == ModelChange::NotFound) {
        statusLines_.ShowNotice({ui_text::AntennaNotFound, ""});
        ShowStatusLines(statusLines_.Shown());
    }
}

void CKVQDlgWin32::OnSelectPort(int n) {
    const auto box =
        ports_.ChangePort(n, process_.SystemContext, process_.linkStation.LinkThreadId());
    ApplyPortMenu();
    if (!box) return;
    boxes_.Show(WithPortReason(*box, process_));
}

void CKVQDlgWin32::OnAbout() {
    DialogBoxParamA(Module(), MAKEINTRESOURCEA(KVQ_IDD_ABOUTBOX), window_, AboutProc, 0);
}

bool CKVQDlgWin32::MayClose() {
    return closeGate_.MayClose(workersStarted_ && !stopped_, process_.actuator.Snapshot(), boxes_);
}

void CKVQDlgWin32::CloseDialog() {
    if (!MayClose()) return;
    StopAllWorkers();
    EndWith(IDCANCEL);
}

void CKVQDlgWin32::Accept() {
    if (!MayClose()) return;
    StopAllWorkers();
    EndWith(IDOK);
}

void CKVQDlgWin32::EndWith(INT_PTR result) {
    if (ended_) return;
    ended_ = true;
    EndDialog(window_, result);
}

void CKVQDlgWin32::StopAllWorkers() {
    if (stopped_ || !workersStarted_) {
        stopped_ = true;
        joined_ = joined_ || !workersStarted_;
        if (window_) KillTimer(window_, RefreshTimerId);
        return;
    }
    KillTimer(window_, RefreshTimerId);
    KillTimer(window_, WatchTimerId);
    // Raises the stop flag and joins every worker within the allowance; the
    // link thread closes the port on its way out.
    joined_ = StopWorkers(process_, 1000);
    stopped_ = true;
    if (joined_) {
        // Nobody drives the controls any more.
        ReleaseControls(process_);
    }
}

void CKVQDlgWin32::AddPortMenuItem(int n) {
    const int id = PortMenuId(n);
    if (menuPorts_.count(id) != 0) return;
    AppendMenuA(communicationMenu_, MF_STRING, static_cast<UINT_PTR>(id),
                ports_.MenuText(n).c_str());
    menuPorts_[id] = n;
}

void CKVQDlgWin32::ApplyPortMenu() {
    for (const int n : ports_.MenuPorts()) {
        const int id = PortMenuId(n);
        if (menuPorts_.count(id) == 0) continue;
        std::string text = ports_.MenuText(n);
        MENUITEMINFOA item = {};
        item.cbSize = sizeof item;
        item.fMask = MIIM_STATE | MIIM_STRING;
        item.fState = (ports_.Item(n).checked ? MFS_CHECKED : MFS_UNCHECKED) |
                      (ports_.Item(n).enabled ? MFS_ENABLED : MFS_GRAYED);
        item.dwTypeData = text.data();
        SetMenuItemInfoA(communicationMenu_, static_cast<UINT>(id), FALSE, &item);
    }
}

void CKVQDlgWin32::ShowSoon(const MessageText& message) {
    waitingBoxes_.push_back(message);
    PostMessageA(window_, ShowBoxMessage, 0, 0);
}

void CKVQDlgWin32::ShowWaitingBox() {
    if (waitingBoxes_.empty()) return;
    // The dialog shows first, the box over it: the dialog manager would show
    // it only once its loop is idle, after the box.
    if (!IsWindowVisible(window_)) ShowWindow(window_, SW_SHOW);
    const MessageText message = waitingBoxes_.front();
    waitingBoxes_.pop_front();
    boxes_.Show(message);
}

}  // namespace kvq::ui
