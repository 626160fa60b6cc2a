// The application object of the Windows build: the same start as with Qt,
// the main window a native dialog from the resource script.

// clang-format off
// windows.h comes before the other Windows headers.
#include <windows.h>
#include <commctrl.h>
// clang-format on

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "app/Process.h"
#include "ui/AppOptions.h"
#include "ui/KVQApp.h"
#include "ui/KVQDlgWin32.h"
#include "ui/MessagePresenterWin32.h"
#include "ui/ResourceIdsWin32.h"
#include "ui/ScreenshotWin32.h"

using namespace kvq::actuator;
using namespace kvq::app;

namespace kvq::ui {

namespace {

// For unattended runs: says each message on the standard error instead of
// waiting for someone to press OK, and saves a picture of each box beside the
// screenshot (FILE-box1.png, FILE-box2.png, ...): the box is shown, taken by a
// timer that runs inside its loop, and answered (OK, or Yes to a question).
class UnattendedPresenter final : public MessagePresenter {
public:
    UnattendedPresenter(std::string screenshotPath, std::function<HWND()> owner)
        : path_(std::move(screenshotPath)), owner_(std::move(owner)) {}

    void Show(const MessageText& message) override {
        std::fprintf(stderr, "kvq: %s: %s\n", message.caption.c_str(), message.text.c_str());
        if (!message.detail.empty()) std::fprintf(stderr, "%s\n", message.detail.c_str());
        std::fflush(stderr);
        Save(message);
    }
    // Nobody is there to answer: the unattended run means to close.
    bool Ask(const MessageText& question) override {
        Show(question);
        return true;
    }

private:
    struct Capture {
        std::string caption;
        std::string file;
        int answer = IDOK;
        bool taken = false;
    };

    void Save(const MessageText& message) {
        Capture capture{message.caption, BoxPicturePath(path_, ++count_),
                        message.icon == MessageText::Icon::Question ? IDYES : IDOK};
        pending_ = &capture;
        const UINT_PTR timer = SetTimer(nullptr, 0, 300, &TakeBox);
        MessageBoxA(owner_ ? owner_() : nullptr, MessageBoxBody(message).c_str(),
                    message.caption.c_str(), MessageBoxStyle(message));
        KillTimer(nullptr, timer);
        pending_ = nullptr;
        if (!capture.taken)
            std::fprintf(stderr, "kvq: cannot write the picture %s\n", capture.file.c_str());
    }

    static void CALLBACK TakeBox(HWND, UINT, UINT_PTR, DWORD) {
        Capture* capture = pending_;
        if (capture == nullptr) return;
        struct Search {
            const std::string* caption;
            HWND box = nullptr;
        } search{&capture->caption};
        EnumThreadWindows(
            GetCurrentThreadId(),
            [](HWND window, LPARAM data) -> BOOL {
                auto* s = reinterpret_cast<Search*>(data);
                char kind[16] = {};
                char caption[256] = {};
                GetClassNameA(window, kind, sizeof kind);
                GetWindowTextA(window, caption, sizeof caption);
                if (!IsWindowVisible(window) || std::string(kind) != "#32770" ||
                    *s->caption != caption)
                    return TRUE;
                s->box = window;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.box == nullptr) return;
        pending_ = nullptr;
        capture->taken = SaveWindowPicture(search.box, capture->file);
        PostMessageA(search.box, WM_COMMAND, static_cast<WPARAM>(capture->answer), 0);
    }

    static inline thread_local Capture* pending_ = nullptr;
    std::string path_;
    std::function<HWND()> owner_;
    int count_ = 0;
};

constexpr auto ScreenshotLimit = std::chrono::seconds(180);
constexpr UINT WatchPeriodMs = 100;

// Watches the dialog for READY, saves its picture, then does what was asked
// and closes.
class ScreenshotRun {
public:
    ScreenshotRun(ProcessObjects& process, CKVQDlgWin32& dialog, std::string path,
                  std::optional<std::string> then)
        : process_(process), dialog_(dialog), path_(std::move(path)), then_(std::move(then)) {}

    void Tick() {
        const auto now = std::chrono::steady_clock::now();
        if (moving_) {
            if (process_.actuator.Snapshot().state != ActuatorState::Moving) return;
            moving_ = false;
            dialog_.CloseDialog();
            return;
        }
        if (done_) return;
        if (!readyAt_) {
            const bool ready =
                ReadyForScreenshot(process_.actuator.Snapshot(),
                                   IsWindowEnabled(dialog_.Control(KVQ_IDC_SET_TILT)) != FALSE);
            if (ready) {
                readyAt_ = now;
            } else if (now - started_ > ScreenshotLimit) {
                std::fprintf(stderr,
                             "kvq: the dialog did not show READY within %d s; no screenshot\n",
                             static_cast<int>(ScreenshotLimit.count()));
                code_ = 1;
                done_ = true;
                dialog_.CloseDialog();
            }
            return;
        }
        // One more refresh, so every field has caught up.
        if (now - *readyAt_ < std::chrono::milliseconds(CKVQDlgWin32::RefreshPeriodMs + 100))
            return;
        done_ = true;
        SetForegroundWindow(dialog_.Window());
        if (!SaveWindowPicture(dialog_.Window(), path_)) {
            std::fprintf(stderr, "kvq: cannot write the screenshot %s\n", path_.c_str());
            code_ = 1;
        }
        Then();
    }

    bool ReadySeen() const { return readyAt_.has_value(); }
    int Code() const { return code_; }

private:
    void Then() {
        if (then_ && then_->rfind("port:", 0) == 0) {
            dialog_.OnSelectPort(std::stoi(then_->substr(5)));
        } else if (then_ && *then_ == "close-while-moving") {
            // A move to the far end of the range, then the close that asks first.
            dialog_.Slider()->SetPositionNow(FarEndTilt(process_.actuator.Snapshot()));
            dialog_.OnSetTilt();
            moving_ = true;
            return;
        }
        dialog_.CloseDialog();
    }

    ProcessObjects& process_;
    CKVQDlgWin32& dialog_;
    std::string path_;
    std::optional<std::string> then_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
    std::optional<std::chrono::steady_clock::time_point> readyAt_;
    bool done_ = false;
    bool moving_ = false;
    int code_ = 0;
};

}  // namespace

CKVQApp::CKVQApp(ProcessObjects& process) : process_(process) {}

CKVQApp::~CKVQApp() = default;

bool CKVQApp::Prepare(const std::filesystem::path& firmwareFile) {
    // The desktop tool keeps the actuator at the file's version without being
    // asked; a file that fails its check is never sent.
    return PrepareProcess(process_,
                          FirmwareUse{actuator::FirmwarePolicy::DownloadWhenDiffers, firmwareFile});
}

int CKVQApp::InitInstance(int& /*argc*/, char** /*argv*/,
                          const std::optional<std::string>& screenshotPath,
                          const std::optional<std::string>& screenshotThen) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_PROGRESS_CLASS |
                                                          ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    MessagePresenterWin32 boxes;
    std::function<HWND()> owner;
    UnattendedPresenter unattended(screenshotPath.value_or(""),
                                   [&owner] { return owner ? owner() : HWND{}; });
    MessagePresenter* const presenter =
        screenshotPath ? static_cast<MessagePresenter*>(&unattended) : &boxes;
    int code = 0;
    bool joined = true;
    {
        CKVQDlgWin32 dialog(process_, *presenter);
        std::optional<ScreenshotRun> run;
        if (screenshotPath) {
            run.emplace(process_, dialog, *screenshotPath, screenshotThen);
            dialog.SetWatch([&run] { run->Tick(); }, WatchPeriodMs);
        }
        owner = [&dialog] { return dialog.Window(); };
        boxes.SetOwner(owner);
        if (dialog.RunModal() == -1) {
            std::fprintf(stderr, "kvq: the dialog could not be created (error %lu)\n",
                         GetLastError());
            code = 1;
        }
        // A dialog that never opened started no worker to wait for.
        joined = !dialog.WorkersStarted() || dialog.WorkersJoined();
        if (run) code = ScreenshotRunCode(run->ReadySeen(), code != 0 ? code : run->Code());
    }
    return EndOfDialogRun(joined, code);
}

}  // namespace kvq::ui
