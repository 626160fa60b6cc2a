#include "ui/KVQApp.h"

#include <QApplication>
#include <QMessageBox>
#include <QPixmap>
#include <QPointer>
#include <QSlider>
#include <QTimer>
#include <cstdio>
#include <string>

#include "app/Process.h"
#include "ui/AppOptions.h"
#include "ui/ApplicationIcon.h"
#include "ui/KVQDlg.h"
#include "ui/QtMessagePresenter.h"

using namespace kvq::actuator;
using namespace kvq::app;

namespace kvq::ui {

namespace {

// For unattended runs: says each message on the standard error instead of
// waiting for someone to press OK, and saves a picture of each box it would
// have shown beside the screenshot (FILE-box1.png, FILE-box2.png, ...).
class ScreenshotPresenter final : public MessagePresenter {
public:
    explicit ScreenshotPresenter(std::string screenshotPath) : path_(std::move(screenshotPath)) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    void Show(const MessageText& message) override {
        std::fprintf(stderr, "kvq: %s: %s\n", message.caption.c_str(), message.text.c_str());
        if (!message.detail.empty()) std::fprintf(stderr, "%s\n", message.detail.c_str());
        Save(message);
    }
    // Nobody is there to answer: the unattended run means to close.
    bool Ask(const MessageText& question) override {
        Show(question);
        return true;
    }

private:
    void Save(const MessageText& message) {
        const auto box = MakeMessageBox(message, parent_.data());
        box->show();
        QApplication::processEvents();
        const std::string file = BoxPicturePath(path_, ++count_);
        if (!box->grab().save(QString::fromStdString(file), "PNG"))
            std::fprintf(stderr, "kvq: cannot write the picture %s\n", file.c_str());
        box->close();
    }

    std::string path_;
    QPointer<QWidget> parent_;
    int count_ = 0;
};

constexpr int ScreenshotLimitMs = 180000;

// After the picture: the action asked for, then the close.
void ThenClose(ProcessObjects& process, CKVQDlg& dialog, const std::optional<std::string>& action) {
    if (action && action->rfind("port:", 0) == 0) {
        dialog.OnSelectPort(std::stoi(action->substr(5)));
    } else if (action && *action == "close-while-moving") {
        // A move to the far end of the range, then the close that asks first.
        auto* slider = qobject_cast<QSlider*>(dialog.Control(CKVQDlg::IdTiltSlider));
        slider->setValue(FarEndTilt(process.actuator.Snapshot()));
        dialog.OnSetTilt();
        auto* moving = new QTimer(&dialog);
        moving->setInterval(50);
        QObject::connect(moving, &QTimer::timeout, &dialog, [&process, &dialog, moving] {
            if (process.actuator.Snapshot().state != ActuatorState::Moving) return;
            moving->stop();
            dialog.CloseDialog();
        });
        moving->start();
        return;
    }
    dialog.CloseDialog();
}

}  // namespace

CKVQApp::CKVQApp(ProcessObjects& process) : process_(process) {}

CKVQApp::~CKVQApp() = default;

bool CKVQApp::Prepare(const std::filesystem::path& firmwareFile) {
    // The desktop tool keeps the actuator at the file's version without being
    // asked; a file that fails its check is never sent.
    return PrepareProcess(process_, FirmwareUse{FirmwarePolicy::DownloadWhenDiffers, firmwareFile});
}

int CKVQApp::InitInstance(int& argc, char** argv, const std::optional<std::string>& screenshotPath,
                          const std::optional<std::string>& screenshotThen) {
    QApplication application(argc, argv);
    QApplication::setWindowIcon(ApplicationIcon());

    QtMessagePresenter boxes;
    ScreenshotPresenter unattended(screenshotPath.value_or(""));
    MessagePresenter& presenter =
        screenshotPath ? static_cast<MessagePresenter&>(unattended) : boxes;
    int code = 0;
    bool joined = true;
    {
        CKVQDlg dialog(process_, presenter);
        boxes.SetParent(&dialog);
        unattended.SetParent(&dialog);

        QTimer watch;
        bool readySeen = false;
        if (screenshotPath) {
            watch.setInterval(100);
            QObject::connect(&watch, &QTimer::timeout, &dialog, [&] {
                const bool ready = ReadyForScreenshot(
                    process_.actuator.Snapshot(), dialog.Control(CKVQDlg::IdSetTilt)->isEnabled());
                if (ready && !readySeen) {
                    // One more refresh, so every field has caught up.
                    readySeen = true;
                    QTimer::singleShot(CKVQDlg::RefreshPeriodMs + 100, &dialog, [&] {
                        if (!dialog.grab().save(QString::fromStdString(*screenshotPath), "PNG")) {
                            std::fprintf(stderr, "kvq: cannot write the screenshot %s\n",
                                         screenshotPath->c_str());
                            code = 1;
                        }
                        ThenClose(process_, dialog, screenshotThen);
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
        if (screenshotPath) code = ScreenshotRunCode(readySeen, code);
    }
    return EndOfDialogRun(joined, code);
}

}  // namespace kvq::ui
