#include "ui/KVQApp.h"

#include <QApplication>
#include <QPixmap>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "app/Process.h"
#include "ui/ApplicationIcon.h"
#include "ui/KVQDlg.h"
#include "ui/QtMessagePresenter.h"

namespace {

// For unattended runs: says each message on the standard error instead of
// waiting for someone to press OK.
class StderrPresenter final : public MessagePresenter {
public:
    void Show(const MessageText& message) override {
        std::fprintf(stderr, "kvq: %s: %s\n", message.caption.c_str(), message.text.c_str());
    }
};

constexpr int ScreenshotLimitMs = 180000;

}  // namespace

CKVQApp::CKVQApp(ProcessObjects& process) : process_(process) {}

CKVQApp::~CKVQApp() = default;

bool CKVQApp::Prepare() {
    // The desktop tool keeps the actuator at the file's version without being
    // asked; a file that fails its check is never sent.
    return PrepareProcess(process_, FirmwareUse{FirmwarePolicy::DownloadWhenDiffers, "vlx400fw.bin"});
}

int CKVQApp::InitInstance(int& argc, char** argv,
                          const std::optional<std::string>& screenshotPath) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(ApplicationIcon());

    QtMessagePresenter boxes;
    StderrPresenter unattended;
    MessagePresenter& presenter =
        screenshotPath ? static_cast<MessagePresenter&>(unattended) : boxes;
    int code = 0;
    bool joined = true;
    {
        CKVQDlg dialog(process_, presenter);
        boxes.SetParent(&dialog);

        QTimer watch;
        bool readySeen = false;
        if (screenshotPath) {
            watch.setInterval(100);
            QObject::connect(&watch, &QTimer::timeout, &dialog, [&] {
                const DeviceSnapshot device = process_.actuator.Snapshot();
                const bool ready = device.ReadyForRequests() && device.problemText.empty() &&
                                   dialog.Control(CKVQDlg::IdSetTilt)->isEnabled();
                if (ready && !readySeen) {
                    // One more refresh, so every field has caught up.
                    readySeen = true;
                    QTimer::singleShot(CKVQDlg::RefreshPeriodMs + 100, &dialog, [&] {
                        if (!dialog.grab().save(QString::fromStdString(*screenshotPath), "PNG")) {
                            std::fprintf(stderr, "kvq: cannot write the screenshot %s\n",
                                         screenshotPath->c_str());
                            code = 1;
                        }
                        dialog.CloseDialog();
                    });
                }
            });
            watch.start();
            QTimer::singleShot(ScreenshotLimitMs, &dialog, [&] {
                if (readySeen) return;
                std::fprintf(stderr,
                             "kvq: the dialog did not show READY within %d s; no screenshot\n",
                             ScreenshotLimitMs / 1000);
                code = 1;
                dialog.CloseDialog();
            });
        }

        dialog.RunModal();
        watch.stop();
        joined = dialog.WorkersJoined();
        if (screenshotPath && !readySeen && code == 0) {
            std::fprintf(stderr, "kvq: the dialog ended before it showed READY; no screenshot\n");
            code = 1;
        }
    }
    if (!joined) {
        // The shared objects end with this function's caller: a worker still
        // running then must not see them go. End here instead.
        std::fprintf(stderr, "kvq: a worker did not end in time\n");
        std::fflush(nullptr);
        std::_Exit(code);
    }
    return code;
}
