// The dialog without an actuator: what it does when the antenna table or the
// serial ports are missing, its layout and texts, and the About box.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "UiTestSupport.h"
#include "actuator/VLX400E.h"
#include "app/Process.h"
#include "serial/PortNames.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"
#include "ui/AboutDlg.h"
#include "ui/DialogTexts.h"
#include "ui/KVQDlg.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::actuator;
using namespace kvq::status;
using namespace kvq::app;
using namespace kvq::ui;
using namespace kvq::testing;

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

// A fresh working directory, optionally with the sample antenna table, and a
// port map; both put back at the end.
class Workplace {
public:
    Workplace(bool withTable, const std::string& portMap) {
        if (withTable) {
            fs::copy_file(fs::path(KVQ_EXAMPLES_DIR) / "KVQ_SAMPLE.ascu",
                          directory_.path() / "KVQ_SAMPLE.ascu");
        }
        previous_ = fs::current_path();
        fs::current_path(directory_.path());
        if (const char* old = std::getenv(PortMapVariable)) oldMap_ = old;
        ::setenv(PortMapVariable, portMap.c_str(), 1);
    }
    ~Workplace() {
        if (oldMap_) {
            ::setenv(PortMapVariable, oldMap_->c_str(), 1);
        } else {
            ::unsetenv(PortMapVariable);
        }
        fs::current_path(previous_);
    }

private:
    TempDir directory_{"kvq-ui-"};
    fs::path previous_;
    std::optional<std::string> oldMap_;
};

TEST(DialogStart, WithoutAnAntennaTableItSaysSoAndStartsNothing) {
    PseudoTerminal port;
    Workplace place(false, "COM1=" + port.SlavePath());
    ProcessObjects process;
    ASSERT_TRUE(PrepareProcess(process));
    RecordingPresenter boxes;
    CKVQDlg dialog(process, boxes);
    dialog.InitialiseDialog();
    dialog.show();

    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0], (MessageText{"No Antenna Table File Found!", "Antenna Table Error",
                                           MessageText::Icon::Exclamation}));
    Pump(milliseconds(1500));  // the link thread would have started by now
    EXPECT_FALSE(dialog.RefreshTimerActive());
    EXPECT_FALSE(dialog.WorkersStarted());
    EXPECT_EQ(dialog.RefreshCount(), 1) << "only the initialisation's refresh";
    EXPECT_EQ(process.actuator.ThreadIdOfActuator(), 0u);
    EXPECT_EQ(process.testEngine.StatusEngineThreadId(), 0u);
    EXPECT_EQ(process.linkStation.LinkThreadId(), 0u);
    EXPECT_EQ(process.SystemContext.PortOpened.load(), 0);

    // The window stays, passive: empty fields, two empty lines, nothing to use.
    EXPECT_EQ(dialog.StatusLines(), (QStringList{"", ""}));
    for (int id : {CKVQDlg::IdSerialNumber, CKVQDlg::IdPortName, CKVQDlg::IdConnection})
        EXPECT_EQ(qobject_cast<QLineEdit*>(dialog.Control(id))->text(), "") << id;
    EXPECT_FALSE(dialog.Control(CKVQDlg::IdSetTilt)->isEnabled());
    EXPECT_FALSE(dialog.Control(CKVQDlg::IdChangeModel)->isEnabled());
    EXPECT_FALSE(dialog.Control(CKVQDlg::IdTiltSlider)->isEnabled());
    for (int n = 1; n <= MenuPortCount; ++n) {
        EXPECT_FALSE(dialog.MenuCommand(PortMenuIds[static_cast<std::size_t>(n)])->isEnabled())
            << n;
    }
    EXPECT_TRUE(dialog.MenuCommand(AboutMenuId)->isEnabled());

    // Close still ends it, and there is nothing to wait for.
    const auto start = Clock::now();
    dialog.CloseDialog();
    EXPECT_LT(Clock::now() - start, milliseconds(500));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(dialog.WorkersJoined());
}

TEST(DialogStart, WithoutASerialPortTheWarningEndsTheProgram) {
    Workplace place(true, "");
    ProcessObjects process;
    ASSERT_TRUE(PrepareProcess(process));
    RecordingPresenter boxes;
    CKVQDlg dialog(process, boxes);

    const auto start = Clock::now();
    const int result = dialog.RunModal();  // returns without entering the modal loop
    EXPECT_LT(Clock::now() - start, milliseconds(1500));
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(dialog.EndedByInitialisation());
    ASSERT_EQ(boxes.shown.size(), 1u) << "and no port report piled onto it";
    EXPECT_EQ(
        boxes.shown[0],
        (MessageText{"Warning! no serial ports are available, this program will now exit.    ",
                     "Serial Port Error", MessageText::Icon::None}));
    // The workers had started; they were stopped and joined on the way out.
    EXPECT_TRUE(dialog.WorkersStarted());
    EXPECT_TRUE(dialog.WorkersJoined());
    EXPECT_NE(process.actuator.ThreadIdOfActuator(), 0u);
    EXPECT_FALSE(dialog.isVisible());
}

// The template's geometry, font and texts as a person sees them.
TEST(DialogLayout, ControlsCarryTheirIdsAndNoCaptionIsClipped) {
    ProcessObjects process;
    RecordingPresenter boxes;
    CKVQDlg dialog(process, boxes);
    EXPECT_EQ(dialog.windowTitle().toStdString(),
              "Torvin E-VLX400 Configuration Tool            Version 1.3.1");
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(dialog.windowIcon().isNull());

    for (int id : {2, 1001, 1002, 1003, 1004, 1005, 1016, 1018, 1019, 1020, 1021, 1022, 1023, 1024,
                   1032, 1033}) {
        QWidget* control = dialog.Control(id);
        ASSERT_NE(control, nullptr) << id;
        EXPECT_EQ(control->property("controlId").toInt(), id);
        EXPECT_TRUE(
            dialog.rect().contains(control->geometry().translated(0, dialog.MenuBar()->height())))
            << id;
    }
    for (auto* edit : dialog.findChildren<QLineEdit*>()) {
        if (edit->parent() != dialog.Control(CKVQDlg::IdNewModel)) {
            EXPECT_TRUE(edit->isReadOnly());
        }
    }
    dialog.show();  // Qt would pick a default button as the dialog is shown
    const auto buttons = dialog.findChildren<QPushButton*>();
    for (auto* button : buttons) {
        EXPECT_FALSE(button->isDefault()) << button->text().toStdString() << ": no default button";
    }

    // Captions: every label, button and group title fits where it is drawn.
    auto fits = [](QWidget* widget, const QString& text, int room) {
        return widget->fontMetrics().horizontalAdvance(text) <= room;
    };
    for (auto* label : dialog.findChildren<QLabel*>()) {
        EXPECT_TRUE(fits(label, label->text(), label->width()))
            << label->text().toStdString() << " in " << label->width() << " px";
        EXPECT_GE(label->height(), label->fontMetrics().height()) << label->text().toStdString();
    }
    for (auto* button : buttons) {
        EXPECT_TRUE(fits(button, button->text(), button->width() - 8))
            << button->text().toStdString();
        EXPECT_GE(button->height(), button->fontMetrics().height() + 4);
    }
    for (auto* group : dialog.findChildren<QGroupBox*>())
        EXPECT_TRUE(fits(group, group->title(), group->width() - 16))
            << group->title().toStdString();
    for (auto* edit : dialog.findChildren<QLineEdit*>())
        EXPECT_GE(edit->height(), edit->fontMetrics().height() + 4)
            << "text not cut off at the foot";

    const QStringList menus = {dialog.MenuCommand(32772)->text(),
                               dialog.MenuCommand(32779)->text()};
    EXPECT_TRUE(menus[0].startsWith("Com 1"));
    EXPECT_EQ(menus[1], "About...");

    // Enter presses the button that has the focus: here Close, not OK.
    dialog.Control(CKVQDlg::IdClose)->setFocus();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(&dialog, &enter);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

TEST(AboutBox, ShowsItsTextsAndOpensFromTheHelpMenu) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "About Torvin RDQX");
    const struct {
        int id;
        const char* text;
    } labels[] = {
        {1015, "This is the Torvin Ericsson-compatible actuator Quellmark (RDQX).  "},
        {1014,
         "For use with E-VLX200-002 (Ericsson-compatible) actuators only.  For use with Torvin "
         "PQN100-LITE protocol adapter only.  Do not use with AISG- or 3GPP-compatible actuators. "
         " "},
        {1016,
         "Please connect only one actuator at a time, addressed to address 14 (hexadecimal)."},
        {1013, "Version 1.3.1      Build Date: 29-June-2011"},
    };
    for (const auto& l : labels) {
        auto* label = about.findChild<QLabel*>(QString("ctl%1").arg(l.id));
        ASSERT_NE(label, nullptr) << l.id;
        EXPECT_EQ(label->text().toStdString(), l.text);
        // Wrapped within its rectangle, all of it visible.
        if (label->wordWrap()) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height()) << l.id;
        } else {
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
                << l.id;
        }
    }
    bool complianceFound = false;
    for (auto* label : about.findChildren<QLabel*>()) {
        if (label->text() ==
            "Complies with 1/155 19-CBA 160 267/Uen, 2004-03-22, and other Ericsson "
            "specifications.") {
            complianceFound = true;
            EXPECT_LE(label->heightForWidth(label->width()), label->height());
        }
    }
    EXPECT_TRUE(complianceFound);
    auto* ok = about.findChild<QPushButton*>("ctl1");
    ASSERT_NE(ok, nullptr);
    EXPECT_TRUE(ok->isDefault());

    // Help > About... opens a new box each time, modally; OK ends it.
    ProcessObjects process;
    RecordingPresenter boxes;
    CKVQDlg dialog(process, boxes);
    dialog.show();
    for (int round = 0; round < 2; ++round) {
        QString seenTitle;
        // Presses OK once the box is up; closes whatever is modal should it not come.
        QTimer watcher;
        const auto started = Clock::now();
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<CAboutDlg*>(modal)) {
                seenTitle = box->windowTitle();
                box->findChild<QPushButton*>("ctl1")->click();
                watcher.stop();
            } else if (modal && Clock::now() - started > milliseconds(5000)) {
                modal->close();
                watcher.stop();
            }
        });
        watcher.start(20);
        dialog.MenuCommand(AboutMenuId)->trigger();
        EXPECT_EQ(seenTitle, "About Torvin RDQX") << "round " << round;
    }
    EXPECT_TRUE(dialog.findChildren<CAboutDlg*>().isEmpty()) << "each box ends with its command";
    dialog.CloseDialog();
}

}  // namespace
