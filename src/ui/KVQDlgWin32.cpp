#include "ui/KVQDlgWin32.h"

#include <commctrl.h>
#include <commdlg.h>

#include <vector>

#include "app/Process.h"
#include "core/WideTextWin32.h"
#include "ui/DialogTexts.h"
#include "ui/ResourceIdsWin32.h"

using namespace kvq::app;

namespace kvq::ui {

namespace {

static_assert(KVQ_IDM_SAVE_LINE_TRACE == SaveLineTraceMenuId && KVQ_IDM_ABOUT == AboutMenuId,
              "the resource script's menu ids are the logic's");

constexpr UINT ShowBoxMessage = WM_APP + 2;

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

// The progress bar draws no words of its own: its window text (the
// percentage and the time left during a download) is drawn over the bar.
LRESULT CALLBACK ProgressTextProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                  DWORD_PTR) {
    if (message == WM_NCDESTROY) RemoveWindowSubclass(bar, ProgressTextProc, id);
    const LRESULT result = DefSubclassProc(bar, message, wParam, lParam);
    if (message == WM_PAINT) {
        const std::string text = WindowText(bar);
        if (!text.empty()) {
            HDC dc = GetDC(bar);
            RECT area;
            GetClientRect(bar, &area);
            const auto font =
                reinterpret_cast<HFONT>(SendMessageA(GetParent(bar), WM_GETFONT, 0, 0));
            HGDIOBJ before = font ? SelectObject(dc, font) : nullptr;
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
            DrawTextA(dc, text.c_str(), -1, &area, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            if (before) SelectObject(dc, before);
            ReleaseDC(bar, dc);
        }
    }
    return result;
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
    : logic_(process, boxes, *this, std::move(ports)) {}

CKVQDlgWin32::~CKVQDlgWin32() {
    logic_.StopAllWorkers();
    calls_->Detach();
    if (!logic_.WorkersJoined()) {
        // A worker that did not end may still call the controls: they and
        // their queue stay (detached, doing nothing) for the rest of the process.
        (void)calls_.release();
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
            if (wParam == RefreshTimerId) logic_.OnRefreshTimer();
            if (wParam == WatchTimerId && watch_) watch_();
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
            calls_->Drain();
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
    } else if (id == KVQ_IDM_SAVE_LINE_TRACE && control == nullptr) {
        OnSaveLineTrace();
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
    if (logic_.Enter(kind, enabled) == EnterAction::PressButton)
        OnCommand(GetDlgCtrlID(focus), BN_CLICKED, focus);
}

void CKVQDlgWin32::InitialiseDialog() {
    calls_->Attach(window_);
    slider_ = std::make_unique<TiltSliderWin32>(Control(KVQ_IDC_TILT_SLIDER), *calls_);
    modelList_ = std::make_unique<ModelListWin32>(Control(KVQ_IDC_NEW_MODEL), *calls_);

    bigIcon_ = static_cast<HICON>(LoadImageA(Module(), MAKEINTRESOURCEA(KVQ_IDR_MAINFRAME),
                                             IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                             GetSystemMetrics(SM_CYICON), LR_SHARED));
    smallIcon_ = static_cast<HICON>(LoadImageA(Module(), MAKEINTRESOURCEA(KVQ_IDR_MAINFRAME),
                                               IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                               GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    SendMessageA(window_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
    SendMessageA(window_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

    // Com 1 to Com 8 come with the template's menu.
    communicationMenu_ = GetSubMenu(GetMenu(window_), 0);
    for (int n = 1; n <= MenuPortCount; ++n)
        menuPorts_[PortMenuId(n)] = n;

    SetWindowSubclass(Control(KVQ_IDC_PROGRESS), ProgressTextProc, 1, 0);

    // Exactly two lines from the first moment on.
    HWND list = Control(KVQ_IDC_STATUS_LIST);
    SendMessageA(list, LB_RESETCONTENT, 0, 0);
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(""));
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(""));

    logic_.Initialise(slider_.get(), modelList_.get());
    if (watch_ && !ended_) SetTimer(window_, WatchTimerId, watchPeriodMs_, nullptr);
}

void CKVQDlgWin32::OnSaveLineTrace() {
    // The wide call, so that a folder of any name can be chosen.
    wchar_t path[MAX_PATH] = L"kvq-line-trace.txt";
    const std::wstring title = core::WideFromUtf8(ui_text::SaveLineTraceCaption);
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = window_;
    dialog.lpstrFilter = L"Line traces (*.txt)\0*.txt\0All files (*.*)\0*.*\0";
    dialog.lpstrFile = path;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = title.c_str();
    dialog.lpstrDefExt = L"txt";
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR;
    if (GetSaveFileNameW(&dialog) != FALSE) SaveLineTraceTo(core::Utf8FromWide(path));
}

void CKVQDlgWin32::SaveLineTraceTo(const std::string& path) {
    logic_.SaveLineTrace(path);
}

void CKVQDlgWin32::OnSetTilt() {
    logic_.SetTilt();
}

void CKVQDlgWin32::OnChangeAntennaModel() {
    logic_.ChangeAntennaModel();
}

void CKVQDlgWin32::OnSelectPort(int n) {
    logic_.SelectPort(n);
}

void CKVQDlgWin32::OnAbout() {
    DialogBoxParamA(Module(), MAKEINTRESOURCEA(KVQ_IDD_ABOUTBOX), window_, AboutProc, 0);
}

void CKVQDlgWin32::CloseDialog() {
    logic_.Close(false);
}

void CKVQDlgWin32::Accept() {
    logic_.Close(true);
}

std::int32_t CKVQDlgWin32::SliderPosition() const {
    return static_cast<std::int32_t>(SendMessageA(Control(KVQ_IDC_TILT_SLIDER), TBM_GETPOS, 0, 0));
}

std::pair<std::int32_t, std::int32_t> CKVQDlgWin32::SliderRange() const {
    HWND slider = Control(KVQ_IDC_TILT_SLIDER);
    return {static_cast<std::int32_t>(SendMessageA(slider, TBM_GETRANGEMIN, 0, 0)),
            static_cast<std::int32_t>(SendMessageA(slider, TBM_GETRANGEMAX, 0, 0))};
}

void CKVQDlgWin32::SetSliderPosition(std::int32_t position) {
    slider_->SetPositionNow(position);
}

bool CKVQDlgWin32::RequestedTiltTyped() const {
    return SendMessageA(Control(KVQ_IDC_REQUESTED_TILT), EM_GETMODIFY, 0, 0) != 0;
}

std::string CKVQDlgWin32::RequestedTiltText() const {
    return WindowText(Control(KVQ_IDC_REQUESTED_TILT));
}

void CKVQDlgWin32::ForgetTypedTilt() {
    SendMessageA(Control(KVQ_IDC_REQUESTED_TILT), EM_SETMODIFY, FALSE, 0);
}

std::vector<std::string> CKVQDlgWin32::ModelEntries() const {
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
    return entries;
}

std::string CKVQDlgWin32::ModelShown() const {
    return WindowText(Control(KVQ_IDC_NEW_MODEL));
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

void CKVQDlgWin32::SetTableToolTip(const std::string& text) {
    toolTipText_ = text;
    if (toolTip_ == nullptr) {
        toolTip_ = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                   window_, nullptr, Module(), nullptr);
        if (toolTip_ == nullptr) return;
        SendMessageA(toolTip_, TTM_SETMAXTIPWIDTH, 0, 480);
    }
    TOOLINFOA tool = {};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = window_;
    tool.uId = reinterpret_cast<UINT_PTR>(Control(KVQ_IDC_STATUS_LIST));
    tool.lpszText = toolTipText_.data();
    SendMessageA(toolTip_, TTM_DELTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    SendMessageA(toolTip_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

void CKVQDlgWin32::ApplyControls(const ControlStates& states) {
    // Typing a tilt makes sense only while it can be set.
    SendMessageA(Control(KVQ_IDC_REQUESTED_TILT), EM_SETREADONLY, states.setTilt ? FALSE : TRUE,
                 0);
    EnableWindow(Control(KVQ_IDC_CHANGE_MODEL), states.changeModel);
    EnableWindow(Control(KVQ_IDC_SET_TILT), states.setTilt);
    EnableWindow(Control(KVQ_IDC_TILT_SLIDER), states.setTilt);
    HWND bar = Control(KVQ_IDC_PROGRESS);
    SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(states.progress), 0);
    const std::string& progressText = states.progressText;
    if (WindowText(bar) != progressText) {
        SetWindowTextA(bar, progressText.c_str());
        InvalidateRect(bar, nullptr, TRUE);
    }
}

void CKVQDlgWin32::SetFieldText(int id, const std::string& text) {
    // Unchanged texts are left alone, so a selection in a field survives.
    HWND edit = Control(id);
    if (WindowText(edit) != text) SetWindowTextA(edit, text.c_str());
}

void CKVQDlgWin32::PrepareRunningControls() {
    SendMessageA(Control(KVQ_IDC_PROGRESS), PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    HWND list = Control(KVQ_IDC_STATUS_LIST);
    if (statusFont_ == nullptr)
        statusFont_ = CreateFontA(20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, "Arial");
    SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_), TRUE);
    SendMessageA(list, LB_SETCURSEL, static_cast<WPARAM>(-1), 0);
}

void CKVQDlgWin32::SetRefreshTimer(bool running) {
    if (window_ == nullptr) return;
    if (running) {
        SetTimer(window_, RefreshTimerId, RefreshPeriodMs, nullptr);
    } else {
        KillTimer(window_, RefreshTimerId);
    }
}

void CKVQDlgWin32::AddPortMenuItem(int n, const std::string& text) {
    const int id = PortMenuId(n);
    if (menuPorts_.count(id) != 0) return;
    // Ports go above the separator and Save Line Trace... below it.
    const int separator = GetMenuItemCount(communicationMenu_) - 2;
    InsertMenuA(communicationMenu_, static_cast<UINT>(separator), MF_BYPOSITION | MF_STRING,
                static_cast<UINT_PTR>(id), text.c_str());
    menuPorts_[id] = n;
}

void CKVQDlgWin32::ApplyPortMenuItem(int n, bool checked, bool enabled, const std::string& text) {
    const int id = PortMenuId(n);
    if (menuPorts_.count(id) == 0) return;
    std::string caption = text;
    MENUITEMINFOA item = {};
    item.cbSize = sizeof item;
    item.fMask = MIIM_STATE | MIIM_STRING;
    item.fState = (checked ? MFS_CHECKED : MFS_UNCHECKED) | (enabled ? MFS_ENABLED : MFS_GRAYED);
    item.dwTypeData = caption.data();
    SetMenuItemInfoA(communicationMenu_, static_cast<UINT>(id), FALSE, &item);
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
    logic_.Boxes().Show(message);
}

void CKVQDlgWin32::EndDialog(bool accepted) {
    if (ended_) return;
    ended_ = true;
    KillTimer(window_, WatchTimerId);
    ::EndDialog(window_, accepted ? IDOK : IDCANCEL);
}

}  // namespace kvq::ui
