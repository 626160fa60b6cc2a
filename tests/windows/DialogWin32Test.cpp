// The native dialog of the Windows build against the simulated actuator inside
// the process: the dialog runs on a thread of its own, as on the desktop, and
// the test drives it as a user would, through window messages to its controls
// and its menu, and reads the controls back. Needs a display (Wine on Xvfb).

// clang-format off
// windows.h comes before the other Windows headers.
#include <windows.h>
#include <commctrl.h>
// clang-format on
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "actuator/VLX400E.h"
#include "app/Demo.h"
#include "app/Process.h"
#include "sim/Vlx400Application.h"
#include "ui/DialogTexts.h"
#include "ui/KVQDlgWin32.h"
#include "ui/MessagePresenterWin32.h"
#include "ui/PortSelection.h"
#include "ui/ResourceIdsWin32.h"

using namespace kvq::actuator;
using namespace kvq::app;
using namespace kvq::ui;
using namespace kvq::sim;

namespace {

using std::chrono::milliseconds;

bool WaitFor(const std::function<bool()>& condition, milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return true;
}

std::string TextOf(HWND window) {
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// A box or dialog of this thread with this caption, once it shows.
HWND WaitForWindow(DWORD thread, const std::string& caption,
                   milliseconds limit = milliseconds(5000)) {
    HWND found = nullptr;
    WaitFor(
        [&] {
            struct Search {
                std::string caption;
                HWND found = nullptr;
            } search{caption};
            EnumThreadWindows(
                thread,
                [](HWND window, LPARAM data) -> BOOL {
                    auto* s = reinterpret_cast<Search*>(data);
                    if (IsWindowVisible(window) && ClassOf(window) == "#32770" &&
                        TextOf(window) == s->caption) {
                        s->found = window;
                        return FALSE;
                    }
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(&search));
            found = search.found;
            return found != nullptr;
        },
        limit);
    return found;
}

// The message of a standard message box: its one static text that is not the icon.
std::string BoxText(HWND box) {
    std::string text;
    EnumChildWindows(
        box,
        [](HWND child, LPARAM data) -> BOOL {
            if (ClassOf(child) == "Static" && GetWindowTextLengthA(child) > 0)
                *reinterpret_cast<std::string*>(data) = TextOf(child);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    return text;
}

// Records the boxes instead of showing them, from the dialog's thread.
class RecordingPresenter final : public MessagePresenter {
public:
    void Show(const MessageText& message) override {
        std::lock_guard lock(mutex_);
        shown_.push_back(message);
    }
    bool Ask(const MessageText& question) override {
        std::lock_guard lock(mutex_);
        asked_.push_back(question);
        return false;
    }
    std::vector<MessageText> Shown() const {
        std::lock_guard lock(mutex_);
        return shown_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<MessageText> shown_;
    std::vector<MessageText> asked_;
};

// The demo's set-up with short waits, and the dialog on a thread of its own.
class NativeDialog : public ::testing::Test {
protected:
    void SetUp() override {
        INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        DemoSettings settings;
        settings.restartSilence = milliseconds(500);
        settings.tiltSpeed = 50;
        demo = std::make_unique<DemoSession>(settings);
        std::string error;
        ASSERT_TRUE(demo->Start(error)) << error;
        process = std::make_unique<ProcessObjects>(&demo->ToolLine());
        ASSERT_TRUE(PrepareProcess(*process));
    }
    void TearDown() override {
        if (runner.joinable()) {
            if (!ended.load()) PostMessageA(Window(), WM_COMMAND, IDCANCEL, 0);
            runner.join();
        }
        dialog.reset();
        process.reset();
        demo.reset();
    }

    // Runs the dialog with these boxes until it ends; answers once it shows.
    void Run(MessagePresenter& boxes, CKVQDlgWin32::PortListSource ports = {}) {
        dialog = std::make_unique<CKVQDlgWin32>(*process, boxes, std::move(ports));
        runner = std::thread([this] {
            uiThread = GetCurrentThreadId();
            result = dialog->RunModal();
            ended = true;
        });
        ASSERT_TRUE(WaitFor([&] { return ended.load() || (Window() && IsWindowVisible(Window())); },
                            milliseconds(10000)));
    }
    HWND Window() const { return dialog ? dialog->Window() : nullptr; }
    HWND Control(int id) const { return GetDlgItem(Window(), id); }
    std::string Field(int id) const { return TextOf(Control(id)); }
    std::string StatusLine(int n) const {
        char text[256] = {};
        HWND list = Control(KVQ_IDC_STATUS_LIST);
        if (SendMessageA(list, LB_GETCOUNT, 0, 0) <= n) return "<missing>";
        SendMessageA(list, LB_GETTEXT, static_cast<WPARAM>(n), reinterpret_cast<LPARAM>(text));
        return text;
    }
    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
    bool Ready() const { return StatusLine(0) == "READY" && Enabled(KVQ_IDC_SET_TILT); }
    bool WaitUntilReady(milliseconds limit = milliseconds(30000)) const {
        return WaitFor([&] { return Ready(); }, limit);
    }
    void Click(int id) const {
        SendMessageA(Window(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(Control(id)));
    }
    // Focus to the control, its text replaced by typing, then Enter, all
    // through the dialog's own message loop.
    void TypeAndEnter(HWND field, const std::string& text) const {
        SendMessageA(Window(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(field), TRUE);
        HWND target = ClassOf(field) == "ComboBox" ? GetWindow(field, GW_CHILD) : field;
        SendMessageA(target, EM_SETSEL, 0, -1);
        for (const char c : text)
            SendMessageA(target, WM_CHAR, static_cast<WPARAM>(static_cast<unsigned char>(c)), 0);
        PostMessageA(target, WM_KEYDOWN, VK_RETURN, 0);
        PostMessageA(target, WM_KEYUP, VK_RETURN, 0);
        // Once the keys are handled the loop is idle again.
        SendMessageA(Window(), WM_NULL, 0, 0);
        std::this_thread::sleep_for(milliseconds(100));
        SendMessageA(Window(), WM_NULL, 0, 0);
    }
    Vlx400State Actuator() const { return demo->Application().State(); }

    std::unique_ptr<DemoSession> demo;
    std::unique_ptr<ProcessObjects> process;
    std::unique_ptr<CKVQDlgWin32> dialog;
    std::thread runner;
    std::atomic<DWORD> uiThread{0};
    std::atomic<INT_PTR> result{0};
    std::atomic<bool> ended{false};
};

TEST_F(NativeDialog, TemplateGeometryTextsAndReady) {
    RecordingPresenter boxes;
    Run(boxes);
    ASSERT_FALSE(ended.load());
    EXPECT_EQ(TextOf(Window()), ui_text::MainTitle);

    // Every control where the template puts it, in dialog units of the dialog's font.
    const struct {
        int id;
        const char* kind;
        RECT units;  // x, y, width, height
    } controls[] = {
        {KVQ_IDC_SERIAL_NUMBER, "Edit", {133, 20, 103, 15}},
        {KVQ_IDC_SOFTWARE_VERSION, "Edit", {133, 40, 103, 15}},
        {KVQ_IDC_CURRENT_MODEL, "Edit", {133, 74, 103, 15}},
        {KVQ_IDC_CHANGE_MODEL, "Button", {139, 116, 89, 14}},
        {KVQ_IDC_STATUS_LIST, "ListBox", {29, 164, 207, 39}},
        {KVQ_IDC_PORT_NAME, "Edit", {30, 206, 35, 12}},
        {KVQ_IDC_CONNECTION, "Edit", {66, 206, 49, 12}},
        {KVQ_IDC_PROGRESS, "msctls_progress32", {118, 206, 117, 12}},
        {KVQ_IDC_MIN_TILT, "Edit", {276, 20, 34, 15}},
        {KVQ_IDC_TILT_SLIDER, "msctls_trackbar32", {276, 45, 34, 131}},
        {KVQ_IDC_MAX_TILT, "Edit", {276, 188, 34, 15}},
        {KVQ_IDC_CURRENT_TILT, "Edit", {321, 78, 46, 15}},
        {KVQ_IDC_REQUESTED_TILT, "Edit", {321, 139, 46, 15}},
        {KVQ_IDC_SET_TILT, "Button", {302, 213, 47, 14}},
        {IDCANCEL, "Button", {166, 252, 50, 14}},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.id);
        HWND control = Control(c.id);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(ClassOf(control), c.kind);
        // The dialog manager scales the corner and the size each on its own.
        RECT expected = c.units;
        MapDialogRect(Window(), &expected);
        RECT actual = {};
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, Window(), reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left);
        EXPECT_EQ(actual.top, expected.top);
        EXPECT_EQ(actual.right - actual.left, expected.right);
        EXPECT_EQ(actual.bottom - actual.top, expected.bottom);
    }
    RECT client = {0, 0, 401, 279};
    MapDialogRect(Window(), &client);
    RECT actualClient = {};
    GetClientRect(Window(), &actualClient);
    EXPECT_EQ(actualClient.right, client.right);
    EXPECT_EQ(actualClient.bottom, client.bottom);
    const auto style = GetWindowLongA(Window(), GWL_STYLE);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    for (const int id : {KVQ_IDC_SET_TILT, KVQ_IDC_CHANGE_MODEL, IDCANCEL})
        EXPECT_FALSE(GetWindowLongA(Control(id), GWL_STYLE) & BS_DEFPUSHBUTTON) << id;

    ASSERT_TRUE(WaitUntilReady()) << StatusLine(0);
    EXPECT_EQ(StatusLine(1), "");
    EXPECT_EQ(SendMessageA(Control(KVQ_IDC_STATUS_LIST), LB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(Field(KVQ_IDC_SERIAL_NUMBER), "XXXT0000001");
    EXPECT_EQ(Field(KVQ_IDC_PORT_NAME), "COM1");
    EXPECT_TRUE(
        WaitFor([&] { return Field(KVQ_IDC_CONNECTION) == "Connected"; }, milliseconds(2000)));
    EXPECT_EQ(Field(KVQ_IDC_CURRENT_MODEL), Field(KVQ_IDC_NEW_MODEL));
    EXPECT_TRUE(WaitFor([&] { return !boxes.Shown().empty(); }, milliseconds(3000)));
    const auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "   Communication has been started on serial port 1.         ");
    EXPECT_EQ(shown[0].caption, "Serial Port Success");
}

TEST_F(NativeDialog, SetTiltBySliderAndByTypingAndEnterInFieldsNeverCloses) {
    RecordingPresenter boxes;
    Run(boxes);
    ASSERT_TRUE(WaitUntilReady());

    // The slider: the requested field follows it before anything is sent.
    SendMessageA(Control(KVQ_IDC_TILT_SLIDER), TBM_SETPOS, TRUE, 45);
    ASSERT_TRUE(
        WaitFor([&] { return Field(KVQ_IDC_REQUESTED_TILT) == "4.5"; }, milliseconds(1500)));
    EXPECT_EQ(Actuator().targetTilt, 0);
    Click(KVQ_IDC_SET_TILT);
    ASSERT_TRUE(WaitFor([&] { return !Enabled(KVQ_IDC_SET_TILT); }, milliseconds(3000)));
    ASSERT_TRUE(WaitFor([&] { return Ready() && Field(KVQ_IDC_CURRENT_TILT) == "4.5"; },
                        milliseconds(20000)))
        << Field(KVQ_IDC_CURRENT_TILT);
    EXPECT_EQ(Actuator().currentTilt, 45);

    // Typed: out of range refused with a reason, Enter in the field is Set Tilt.
    TypeAndEnter(Control(KVQ_IDC_REQUESTED_TILT), "12.5");
    ASSERT_TRUE(WaitFor(
        [&] { return !boxes.Shown().empty() && boxes.Shown().back().caption == "Requested Tilt"; },
        milliseconds(2000)));
    EXPECT_EQ(boxes.Shown().back().text,
              "A tilt of 12.5 degrees is outside the range of this antenna model (0.0 to 10.0 "
              "degrees). Nothing was sent.");
    EXPECT_FALSE(ended.load());
    EXPECT_EQ(Actuator().targetTilt, 45);

    TypeAndEnter(Control(KVQ_IDC_REQUESTED_TILT), "7.5");
    ASSERT_TRUE(WaitFor([&] { return Actuator().targetTilt == 75; }, milliseconds(3000)));
    EXPECT_EQ(SendMessageA(Control(KVQ_IDC_TILT_SLIDER), TBM_GETPOS, 0, 0), 75);
    ASSERT_TRUE(WaitFor([&] { return Ready() && Field(KVQ_IDC_CURRENT_TILT) == "7.5"; },
                        milliseconds(20000)));

    // Enter in a read-only field and in the model list's field: still open.
    TypeAndEnter(Control(KVQ_IDC_SERIAL_NUMBER), "");
    TypeAndEnter(Control(KVQ_IDC_NEW_MODEL), "");
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_FALSE(ended.load());
    EXPECT_TRUE(IsWindowVisible(Window()));
}

TEST_F(NativeDialog, ChangeModelAndAnUnknownTypedModel) {
    RecordingPresenter boxes;
    Run(boxes);
    ASSERT_TRUE(WaitUntilReady());
    HWND models = Control(KVQ_IDC_NEW_MODEL);
    // The list is sorted and holds the sample table's models.
    const auto count = static_cast<int>(SendMessageA(models, CB_GETCOUNT, 0, 0));
    ASSERT_GT(count, 1);
    std::vector<std::string> names;
    for (int i = 0; i < count; ++i) {
        char text[128] = {};
        SendMessageA(models, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        names.emplace_back(text);
    }
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end(), [](const auto& a, const auto& b) {
        return lstrcmpiA(a.c_str(), b.c_str()) < 0;
    }));

    // A name the table does not have: the notice, nothing sent.
    TypeAndEnter(models, "Panel99-No-Such-Antenna");
    Click(KVQ_IDC_CHANGE_MODEL);
    EXPECT_EQ(StatusLine(0), "ANTENNA NOT FOUND");
    EXPECT_EQ(process->actuator.Snapshot().state, ActuatorState::Checking);

    const auto entry = SendMessageA(models, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                    reinterpret_cast<LPARAM>("Panel33-2490-2690-21dBi"));
    ASSERT_GE(entry, 0);
    SendMessageA(models, CB_SETCURSEL, static_cast<WPARAM>(entry), 0);
    Click(KVQ_IDC_CHANGE_MODEL);
    ASSERT_TRUE(WaitFor(
        [&] { return Ready() && Field(KVQ_IDC_CURRENT_MODEL) == "Panel33-2490-2690-21dBi"; },
        milliseconds(90000)))
        << StatusLine(0) << " / " << Field(KVQ_IDC_CURRENT_MODEL);
    EXPECT_EQ(Actuator().modelKey, "AP2627-33-21");
    ASSERT_TRUE(WaitFor([&] { return Field(KVQ_IDC_MIN_TILT) == "-2.5"; }, milliseconds(1500)));
    EXPECT_EQ(SendMessageA(Control(KVQ_IDC_TILT_SLIDER), TBM_GETRANGEMIN, 0, 0), -25);
    EXPECT_EQ(Field(KVQ_IDC_NEW_MODEL), "Panel33-2490-2690-21dBi");
}

TEST_F(NativeDialog, MenusAndTheAboutBox) {
    RecordingPresenter boxes;
    Run(boxes);
    ASSERT_TRUE(WaitUntilReady());

    HMENU bar = GetMenu(Window());
    ASSERT_EQ(GetMenuItemCount(bar), 2);
    char text[128] = {};
    GetMenuStringA(bar, 0, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Communication");
    GetMenuStringA(bar, 1, text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, "Help");
    HMENU ports = GetSubMenu(bar, 0);
    ASSERT_GE(GetMenuItemCount(ports), MenuPortCount);
    for (int n = 1; n <= MenuPortCount; ++n) {
        SCOPED_TRACE(n);
        GetMenuStringA(ports, static_cast<UINT>(n - 1), text, sizeof text, MF_BYPOSITION);
        EXPECT_EQ(std::string(text).rfind("Com " + std::to_string(n), 0), 0u) << text;
        EXPECT_EQ(GetMenuItemID(ports, n - 1), static_cast<UINT>(PortMenuId(n)));
        const UINT state = GetMenuState(ports, static_cast<UINT>(PortMenuId(n)), MF_BYCOMMAND);
        EXPECT_EQ((state & MF_CHECKED) != 0, n == 1);
        EXPECT_EQ((state & MF_GRAYED) == 0, dialog->Ports().Present(n));
    }
    EXPECT_EQ(GetMenuItemID(GetSubMenu(bar, 1), 0), static_cast<UINT>(AboutMenuId));
    // Below the ports, past a separator: Save Line Trace...
    const int count = GetMenuItemCount(ports);
    ASSERT_GE(count, MenuPortCount + 2);
    EXPECT_TRUE(GetMenuState(ports, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR);
    EXPECT_EQ(GetMenuItemID(ports, count - 1), static_cast<UINT>(SaveLineTraceMenuId));
    GetMenuStringA(ports, static_cast<UINT>(count - 1), text, sizeof text, MF_BYPOSITION);
    EXPECT_STREQ(text, ui_text::SaveLineTraceItem);

    // The menu opens from the keyboard (the menu bar, then Down) and closes with Esc.
    PostMessageA(Window(), WM_SYSCOMMAND, SC_KEYMENU, 0);
    std::this_thread::sleep_for(milliseconds(300));
    PostMessageA(Window(), WM_KEYDOWN, VK_DOWN, 0);
    EXPECT_TRUE(WaitFor(
        [&] {
            return FindWindowA("#32768", nullptr) != nullptr &&
                   IsWindowVisible(FindWindowA("#32768", nullptr));
        },
        milliseconds(3000)));
    for (int i = 0;
         i < 3 && FindWindowA("#32768", nullptr) && IsWindowVisible(FindWindowA("#32768", nullptr));
         ++i) {
        PostMessageA(Window(), WM_KEYDOWN, VK_ESCAPE, 0);
        std::this_thread::sleep_for(milliseconds(200));
    }
    SendMessageA(Window(), WM_CANCELMODE, 0, 0);
    EXPECT_FALSE(ended.load());

    // Help > About..., twice: each time a new box with its texts, ended by OK.
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        PostMessageA(Window(), WM_COMMAND, AboutMenuId, 0);
        HWND about = WaitForWindow(uiThread, ui_text::AboutTitle);
        ASSERT_NE(about, nullptr);
        EXPECT_EQ(TextOf(GetDlgItem(about, KVQ_IDC_ABOUT_PRODUCT)), ui_text::AboutProduct);
        EXPECT_EQ(TextOf(GetDlgItem(about, KVQ_IDC_ABOUT_USE)), ui_text::AboutUse);
        EXPECT_EQ(TextOf(GetDlgItem(about, KVQ_IDC_ABOUT_ONE_ACTUATOR)), ui_text::AboutOneActuator);
        EXPECT_EQ(TextOf(GetDlgItem(about, KVQ_IDC_ABOUT_VERSION)), ui_text::AboutVersion);
        RECT client = {};
        GetClientRect(about, &client);
        RECT expected = {0, 0, 287, 174};
        MapDialogRect(about, &expected);
        EXPECT_EQ(client.right, expected.right);
        EXPECT_EQ(client.bottom, expected.bottom);
        // The refresh goes on beneath the box.
        EXPECT_EQ(Field(KVQ_IDC_PORT_NAME), "COM1");
        PostMessageA(about, WM_COMMAND, IDOK, 0);
        EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }, milliseconds(3000)));
    }

    // A port that is not there: the problem box, the mark stays on COM1.
    int missing = 2;
    while (missing <= MenuPortCount && dialog->Ports().Present(missing))
        ++missing;
    ASSERT_LE(missing, MenuPortCount);
    SendMessageA(Window(), WM_COMMAND, PortMenuId(missing), 0);
    const auto shown = boxes.Shown();
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back().caption, "Serial Port Problem");
    EXPECT_EQ(shown.back().text.rfind("   Problem opening port?", 0), 0u) << shown.back().text;
    EXPECT_EQ(dialog->Ports().CurrentPort(), 1);
    EXPECT_TRUE(WaitFor(
        [&] {
            return Field(KVQ_IDC_PORT_NAME) == "COM" + std::to_string(missing) &&
                   Field(KVQ_IDC_CONNECTION) == "Port closed?";
        },
        milliseconds(1500)))
        << "the link goes on with the new name";
    EXPECT_TRUE(GetMenuState(ports, static_cast<UINT>(PortMenuId(1)), MF_BYCOMMAND) & MF_CHECKED);
    // The port in use: nothing happens.
    const auto before = boxes.Shown().size();
    SendMessageA(Window(), WM_COMMAND, PortMenuId(1), 0);
    EXPECT_EQ(boxes.Shown().size(), before);
}

TEST_F(NativeDialog, SaveLineTraceAsksForTheFileAndWritesTheFramesKept) {
    std::string error;
    ASSERT_TRUE(
        process->lineTrace.Start(process->serialPort, "kvq", "", LineTrace::DialogFrames, error))
        << error;
    RecordingPresenter boxes;
    Run(boxes);
    ASSERT_TRUE(WaitUntilReady());

    // The menu item asks for the file; cancelled, nothing is written and no box shows.
    const auto before = boxes.Shown().size();
    PostMessageA(Window(), WM_COMMAND, SaveLineTraceMenuId, 0);
    HWND ask = WaitForWindow(uiThread, ui_text::SaveLineTraceCaption);
    ASSERT_NE(ask, nullptr) << "no file dialog";
    PostMessageA(ask, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(ask); }, milliseconds(3000)));
    EXPECT_EQ(boxes.Shown().size(), before);
    EXPECT_FALSE(ended.load());

    char directory[MAX_PATH] = {};
    ASSERT_GT(GetTempPathA(sizeof directory, directory), 0u);
    const std::string path = std::string(directory) + "kvq-dialog-trace-" +
                             std::to_string(GetCurrentProcessId()) + ".txt";
    dialog->SaveLineTraceTo(path);
    std::ifstream file(path);
    const std::string trace((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    file.close();
    DeleteFileA(path.c_str());
    EXPECT_EQ(trace.rfind("# kvq line trace, started ", 0), 0u) << trace;
    EXPECT_NE(trace.find(" TX 115200 7E 14 93 A4 5B 7E | addr 0x14 SNRM P"), std::string::npos);
    EXPECT_NE(trace.find(" RX 115200 7E 14 73 AA BC 7E | addr 0x14 UA F"), std::string::npos);
    EXPECT_NE(trace.find("IdentityReply"), std::string::npos);
    EXPECT_EQ(boxes.Shown().size(), before);

    dialog->SaveLineTraceTo(std::string(directory) + "kvq-no-such-directory\\trace.txt");
    const auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), before + 1);
    EXPECT_EQ(shown.back().caption, ui_text::SaveLineTraceCaption);
    EXPECT_NE(shown.back().text.find("could not be saved"), std::string::npos) << shown.back().text;
}

TEST_F(NativeDialog, ClosingDuringAMoveAsksInARealBoxNoKeepsItOpen) {
    MessagePresenterWin32 boxes;
    boxes.SetOwner([this] { return Window(); });
    Run(boxes);
    // The port report comes as a real box too: OK it.
    HWND report = WaitForWindow(uiThread, "Serial Port Success", milliseconds(10000));
    ASSERT_NE(report, nullptr);
    EXPECT_EQ(BoxText(report), "   Communication has been started on serial port 1.         ");
    PostMessageA(report, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntilReady());

    SendMessageA(Control(KVQ_IDC_TILT_SLIDER), TBM_SETPOS, TRUE, 100);
    Click(KVQ_IDC_SET_TILT);
    ASSERT_TRUE(
        WaitFor([&] { return process->actuator.Snapshot().state == ActuatorState::Moving; },
                milliseconds(3000)));

    // The close box and Esc both ask; No keeps the dialog and its workers.
    for (const UINT how : {UINT(WM_CLOSE), UINT(WM_KEYDOWN)}) {
        SCOPED_TRACE(how);
        if (how == WM_CLOSE) {
            PostMessageA(Window(), WM_CLOSE, 0, 0);
        } else {
            SendMessageA(Window(), WM_NEXTDLGCTL,
                         reinterpret_cast<WPARAM>(Control(KVQ_IDC_TILT_SLIDER)), TRUE);
            PostMessageA(Control(KVQ_IDC_TILT_SLIDER), WM_KEYDOWN, VK_ESCAPE, 0);
        }
        HWND question = WaitForWindow(uiThread, ui_text::CloseCaption);
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(BoxText(question), ui_text::CloseDuringMove);
        PostMessageA(question, WM_COMMAND, IDNO, 0);
        ASSERT_TRUE(WaitFor([&] { return !IsWindow(question); }, milliseconds(3000)));
        std::this_thread::sleep_for(milliseconds(200));
        EXPECT_FALSE(ended.load());
        EXPECT_FALSE(dialog->WorkersJoined());
    }

    // Close, answered Yes: the dialog ends with every worker joined.
    PostMessageA(Window(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Control(IDCANCEL)));
    HWND question = WaitForWindow(uiThread, ui_text::CloseCaption);
    ASSERT_NE(question, nullptr);
    PostMessageA(question, WM_COMMAND, IDYES, 0);
    ASSERT_TRUE(WaitFor([&] { return ended.load(); }, milliseconds(5000)));
    EXPECT_EQ(result.load(), IDCANCEL);
    EXPECT_TRUE(dialog->WorkersJoined());
}

TEST_F(NativeDialog, TableWarningsInARealBoxOnceAndTheTableInTheToolTip) {
    std::ifstream sample(demo->Directory() / "KVQ_SAMPLE.ascu");
    std::stringstream content;
    content << sample.rdbuf();
    const auto table = demo->Directory() / "ZZ.ascu";
    std::ofstream(table) << content.str() << "AP9999-BROKEN\tabc\t120\t0\n";

    MessagePresenterWin32 boxes;
    boxes.SetOwner([this] { return Window(); });
    Run(boxes);
    HWND warnings = WaitForWindow(uiThread, ui_text::TableWarningsCaption, milliseconds(10000));
    ASSERT_NE(warnings, nullptr);
    EXPECT_EQ(BoxText(warnings), "Lines of the antenna table " + table.string() +
                                     " that were not taken as written:\n\nline 8: the minimum "
                                     "tilt \"abc\" is not a number; line ignored");
    PostMessageA(warnings, WM_COMMAND, IDOK, 0);
    HWND report = WaitForWindow(uiThread, "Serial Port Success", milliseconds(10000));
    ASSERT_NE(report, nullptr);
    PostMessageA(report, WM_COMMAND, IDOK, 0);
    ASSERT_TRUE(WaitUntilReady());
    EXPECT_EQ(WaitForWindow(uiThread, ui_text::TableWarningsCaption, milliseconds(1000)), nullptr)
        << "listed once";
    EXPECT_EQ(SendMessageA(Control(KVQ_IDC_NEW_MODEL), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                           reinterpret_cast<LPARAM>("AP9999-BROKEN")),
              CB_ERR);

    // The status list's tooltip names the table.
    HWND tip = nullptr;
    EnumThreadWindows(
        uiThread,
        [](HWND window, LPARAM data) -> BOOL {
            if (ClassOf(window) != TOOLTIPS_CLASSA) return TRUE;
            *reinterpret_cast<HWND*>(data) = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&tip));
    ASSERT_NE(tip, nullptr);
    char text[1024] = {};
    TOOLINFOA tool = {};
    tool.cbSize = sizeof tool;
    tool.lpszText = text;
    ASSERT_TRUE(SendMessageA(tip, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool)));
    EXPECT_EQ(reinterpret_cast<HWND>(tool.uId), Control(KVQ_IDC_STATUS_LIST));
    EXPECT_NE(std::string(text).find(table.string()), std::string::npos) << text;
}

TEST_F(NativeDialog, WithoutASerialPortTheWarningEndsTheDialog) {
    RecordingPresenter boxes;
    Run(boxes, [] { return std::vector<kvq::serial::SerialPortInfo>{}; });
    ASSERT_TRUE(WaitFor([&] { return ended.load(); }, milliseconds(5000)));
    EXPECT_EQ(result.load(), IDOK);
    EXPECT_TRUE(dialog->EndedByInitialisation());
    EXPECT_TRUE(dialog->WorkersJoined());
    const auto shown = boxes.Shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text,
              "Warning! no serial ports are available, this program will now exit.    ");
    EXPECT_EQ(shown[0].caption, "Serial Port Error");
}

}  // namespace
