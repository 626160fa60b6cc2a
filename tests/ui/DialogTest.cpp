// The real dialog against the simulated actuator inside the process, on the
// offscreen platform: start-up, the port report, READY, the two commands, the
// Communication menu and the ways to close it.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QPushButton>
#include <QSlider>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "actuator/VLX400E.h"
#include "app/Demo.h"
#include "app/Process.h"
#include "serial/PortNames.h"
#include "serial/SerialLine.h"
#include "sim/Vlx400Application.h"
#include "support/PseudoTerminal.h"
#include "ui/KVQDlg.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::actuator;
using namespace kvq::status;
using namespace kvq::app;
using namespace kvq::ui;
using namespace kvq::sim;
using namespace kvq::testing;

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Types into a field as a user would (replacing what it shows).
void Type(QLineEdit* field, const QString& text) {
    field->selectAll();
    for (const QChar c : text) {
        QKeyEvent key(QEvent::KeyPress, c.unicode(), Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(field, &key);
    }
}

const MessageText PortStarted{"   Communication has been started on serial port 1.         ",
                              "Serial Port Success", MessageText::Icon::Information};

// The demo's set-up (sample table, firmware of the simulator's version, the
// simulator as COM1) with short waits, and the dialog on top of it.
class DialogAgainstSimulator : public ::testing::Test {
protected:
    void SetUp() override {
        DemoSettings settings;
        settings.restartSilence = milliseconds(500);
        settings.tiltSpeed = 50;
        demo = std::make_unique<DemoSession>(settings);
        std::string error;
        ASSERT_TRUE(demo->Start(error)) << error;
        NewProcess();
    }
    void TearDown() override {
        dialog.reset();  // stops and joins the workers if a test has not
        process.reset();
        demo.reset();
    }
    // The stop flag is never lowered: each run of the dialog needs its own objects.
    void NewProcess() {
        dialog.reset();
        process = std::make_unique<ProcessObjects>(&demo->ToolLine());
        ASSERT_TRUE(PrepareProcess(*process));
    }
    void Open() {
        dialog = std::make_unique<CKVQDlg>(*process, boxes);
        dialog->InitialiseDialog();
        dialog->show();
    }

    QString Field(int id) const { return qobject_cast<QLineEdit*>(dialog->Control(id))->text(); }
    QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(dialog->Control(id)); }
    QSlider* Slider() const {
        return qobject_cast<QSlider*>(dialog->Control(CKVQDlg::IdTiltSlider));
    }
    QComboBox* Models() const {
        return qobject_cast<QComboBox*>(dialog->Control(CKVQDlg::IdNewModel));
    }
    bool Ready() const {
        return dialog->StatusLines().value(0) == "READY" && Button(CKVQDlg::IdSetTilt)->isEnabled();
    }
    bool WaitUntilReady(milliseconds limit = milliseconds(30000)) {
        return WaitFor([&] { return Ready(); }, limit);
    }
    Vlx400State Actuator() const { return demo->Application().State(); }

    std::unique_ptr<DemoSession> demo;
    std::unique_ptr<ProcessObjects> process;
    RecordingPresenter boxes;
    std::unique_ptr<CKVQDlg> dialog;
};

TEST_F(DialogAgainstSimulator, StartsReportsThePortOnceAndReachesReady) {
    Open();
    // From the first moment: two empty lines, no port chosen yet in the field.
    EXPECT_EQ(dialog->StatusLines(), (QStringList{"", ""}));
    EXPECT_EQ(Field(CKVQDlg::IdPortName), "NONE");
    EXPECT_FALSE(Button(CKVQDlg::IdSetTilt)->isEnabled());
    EXPECT_TRUE(dialog->RefreshTimerActive());

    // Every pair of lines the list shows on the way, in order.
    QStringList firstShown;
    QStringList seen;
    ASSERT_TRUE(WaitFor(
        [&] {
            if (firstShown.isEmpty() && dialog->StatusLines() != QStringList{"", ""})
                firstShown = dialog->StatusLines();
            if (!seen.contains(dialog->StatusLines().value(0)))
                seen << dialog->StatusLines().value(0);
            return Ready();
        },
        milliseconds(30000)))
        << dialog->StatusLines().join(" / ").toStdString();
    EXPECT_EQ(firstShown, (QStringList{"INITIALIZING", "SYSTEM"}));
    EXPECT_FALSE(seen.contains("UPDATING SOFTWARE")) << "the firmware file matches: no download";
    EXPECT_EQ(dialog->StatusLines().size(), 2);

    ASSERT_EQ(boxes.shown.size(), 1u) << "the port report, once";
    EXPECT_EQ(boxes.shown[0], PortStarted);
    EXPECT_GT(dialog->RefreshCount(), 6);

    Pump(milliseconds(600));  // the fields of the refresh after READY
    EXPECT_EQ(Field(CKVQDlg::IdSerialNumber), "XXXT0000001");
    EXPECT_EQ(Field(CKVQDlg::IdSoftwareVersion), "01.23");
    EXPECT_EQ(Field(CKVQDlg::IdCurrentModel), "Panel65-1710-2170-18dBi");
    EXPECT_EQ(Field(CKVQDlg::IdMinTilt), "0.0");
    EXPECT_EQ(Field(CKVQDlg::IdMaxTilt), "10.0");
    EXPECT_EQ(Field(CKVQDlg::IdCurrentTilt), "0.0");
    EXPECT_EQ(Field(CKVQDlg::IdRequestedTilt), "0.0");
    EXPECT_EQ(Field(CKVQDlg::IdPortName), "COM1");
    EXPECT_EQ(Field(CKVQDlg::IdConnection), "Connected");
    EXPECT_TRUE(Button(CKVQDlg::IdChangeModel)->isEnabled());
    EXPECT_TRUE(Slider()->isEnabled());
    EXPECT_EQ(Slider()->minimum(), 0);
    EXPECT_EQ(Slider()->maximum(), 100);
    EXPECT_EQ(Slider()->tickInterval(), 10) << "a tick at every whole degree";
    EXPECT_EQ(Models()->currentText(), "Panel65-1710-2170-18dBi")
        << "the model the actuator reports";
    EXPECT_EQ(boxes.shown.size(), 1u);

    // The menu: the port in use checked, the ports that are not there greyed.
    EXPECT_TRUE(dialog->MenuCommand(32772)->isChecked());
    EXPECT_TRUE(dialog->MenuCommand(32772)->isEnabled());
    for (int id : {32773, 32774, 32775, 32776, 32777, 32778, 32780}) {
        EXPECT_FALSE(dialog->MenuCommand(id)->isEnabled()) << id;
        EXPECT_FALSE(dialog->MenuCommand(id)->isChecked()) << id;
    }
    EXPECT_EQ(dialog->MenuCommand(32772)->text().toStdString(),
              "Com 1  (" + demo->DevicePath() + ")");
}

TEST_F(DialogAgainstSimulator, SetTiltMovesTheActuatorAndTheFieldsFollow) {
    Open();
    ASSERT_TRUE(WaitUntilReady());

    // The requested field follows the slider before anything is sent.
    Slider()->setValue(45);
    ASSERT_TRUE(
        WaitFor([&] { return Field(CKVQDlg::IdRequestedTilt) == "4.5"; }, milliseconds(1500)));
    EXPECT_EQ(Actuator().targetTilt, 0);

    Button(CKVQDlg::IdSetTilt)->click();
    bool disabledWhileMoving = false;
    int highestProgress = 0;
    ASSERT_TRUE(WaitFor(
        [&] {
            if (!Button(CKVQDlg::IdSetTilt)->isEnabled()) disabledWhileMoving = true;
            highestProgress = std::max(
                highestProgress,
                qobject_cast<QProgressBar*>(dialog->Control(CKVQDlg::IdProgress))->value());
            return disabledWhileMoving && Ready() && Field(CKVQDlg::IdCurrentTilt) == "4.5";
        },
        milliseconds(20000)))
        << Field(CKVQDlg::IdCurrentTilt).toStdString();
    EXPECT_EQ(Actuator().currentTilt, 45);
    EXPECT_EQ(Field(CKVQDlg::IdRequestedTilt), "4.5");
    EXPECT_EQ(Slider()->value(), 45) << "the final read-back moves the slider";
    EXPECT_GT(highestProgress, 0) << "the bar showed the move";
}

TEST_F(DialogAgainstSimulator, ChangeAntennaModelEndsWithTheNewModel) {
    Open();
    ASSERT_TRUE(WaitUntilReady());
    const int entry = Models()->findText("Panel33-2490-2690-21dBi");
    ASSERT_GE(entry, 0);
    Models()->setCurrentIndex(entry);
    Button(CKVQDlg::IdChangeModel)->click();

    QStringList seen;
    ASSERT_TRUE(WaitFor(
        [&] {
            const QString line = dialog->StatusLines().value(0);
            if (seen.isEmpty() || seen.back() != line) seen << line;
            return seen.contains("SETTING UP") && Ready() &&
                   Field(CKVQDlg::IdCurrentModel) == "Panel33-2490-2690-21dBi";
        },
        milliseconds(90000)))
        << seen.join(", ").toStdString();
    EXPECT_EQ(Actuator().modelKey, "AP2627-33-21");
    ASSERT_TRUE(WaitFor([&] { return Field(CKVQDlg::IdMinTilt) == "-2.5"; }, milliseconds(1500)));
    EXPECT_EQ(Slider()->minimum(), -25);
    EXPECT_EQ(Models()->currentText(), "Panel33-2490-2690-21dBi");
}

TEST_F(DialogAgainstSimulator, ATypedUnknownModelShowsAntennaNotFoundUntilSomethingHappens) {
    Open();
    ASSERT_TRUE(WaitUntilReady());
    const QStringList notFound{"ANTENNA NOT FOUND", ""};
    for (const char* typed : {"Panel99-No-Such-Antenna", "panel65-1710-2170-18dbi"}) {
        SCOPED_TRACE(typed);
        Models()->setEditText(typed);
        Button(CKVQDlg::IdChangeModel)->click();
        EXPECT_EQ(dialog->StatusLines(), notFound) << "shown at once";
        // The status engine repeats READY several times meanwhile.
        Pump(milliseconds(1200));
        EXPECT_EQ(dialog->StatusLines(), notFound) << "and kept";
        EXPECT_EQ(process->actuator.Snapshot().state, ActuatorState::Checking) << "nothing sent";
    }
    EXPECT_EQ(Actuator().modelKey, demo->ModelKey());
    EXPECT_EQ(Actuator().restarts, 0u);

    // Anything the actuator does next replaces the notice.
    Slider()->setValue(20);
    Button(CKVQDlg::IdSetTilt)->click();
    EXPECT_TRUE(
        WaitFor([&] { return dialog->StatusLines().value(0) == "MOVING"; }, milliseconds(3000)));
    EXPECT_TRUE(WaitUntilReady(milliseconds(15000)));
}

TEST_F(DialogAgainstSimulator, PortChangeReportsAPortThatCannotOpenAndKeepsTheMark) {
    PseudoTerminal spare;
    const std::string ports =
        "COM1=" + demo->DevicePath() + ";COM2=" + spare.SlavePath() + ";COM3=/nonexistent/kvq-tty";
    ::setenv(PortMapVariable, ports.c_str(), 1);  // before any worker starts
    Open();
    // The port report first, so only the change's boxes follow; the link at
    // its steady polls, so the reopen ends within the second allowed.
    ASSERT_TRUE(WaitUntilReady());
    ASSERT_EQ(boxes.shown.size(), 1u);
    ASSERT_EQ(boxes.shown[0], PortStarted);
    EXPECT_TRUE(dialog->MenuCommand(32774)->isEnabled());
    EXPECT_FALSE(dialog->MenuCommand(32775)->isEnabled());

    dialog->MenuCommand(32774)->trigger();  // Com 3: no such device
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1],
              (MessageText{"   Problem opening port?", "Serial Port Problem",
                           MessageText::Icon::Information,
                           "Cannot open serial port COM3 (/nonexistent/kvq-tty): the port does not "
                           "exist or is not connected."}));
    EXPECT_EQ(dialog->Ports().CurrentPort(), 1);
    Pump(milliseconds(700));
    EXPECT_TRUE(dialog->MenuCommand(32772)->isChecked());
    EXPECT_FALSE(dialog->MenuCommand(32774)->isChecked());
    EXPECT_EQ(Field(CKVQDlg::IdPortName), "COM3") << "the link goes on with the new name";
    EXPECT_EQ(Field(CKVQDlg::IdConnection), "Port closed?");

    dialog->MenuCommand(32773)->trigger();  // Com 2 opens
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[2].text, "   Communication has been changed to serial port 2.         ");
    EXPECT_EQ(boxes.shown[2].caption, "Serial Port Success");
    Pump(milliseconds(700));
    EXPECT_TRUE(dialog->MenuCommand(32773)->isChecked());
    EXPECT_FALSE(dialog->MenuCommand(32772)->isChecked());
    EXPECT_EQ(Field(CKVQDlg::IdPortName), "COM2");

    dialog->MenuCommand(32773)->trigger();  // the port in use: nothing
    EXPECT_EQ(boxes.shown.size(), 3u);
    EXPECT_TRUE(dialog->MenuCommand(32773)->isChecked());
}

namespace {

// Every way a user closes the dialog, and the result each gives.
struct WayOfClosing {
    const char* way;
    std::function<void(CKVQDlg&)> close;
    int result;
};
const WayOfClosing WaysOfClosing[] = {
    {"Close button",
     [](CKVQDlg& d) { qobject_cast<QPushButton*>(d.Control(CKVQDlg::IdClose))->click(); },
     QDialog::Rejected},
    {"Esc",
     [](CKVQDlg& d) {
         QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
         QCoreApplication::sendEvent(&d, &key);
     },
     QDialog::Rejected},
    {"close box", [](CKVQDlg& d) { d.close(); }, QDialog::Rejected},
    {"Enter",
     [](CKVQDlg& d) {
         // Outside a field and a button, Enter is the dialog's OK.
         d.Control(CKVQDlg::IdStatusList)->setFocus();
         QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
         QCoreApplication::sendEvent(&d, &key);
     },
     QDialog::Accepted},
};

}  // namespace

TEST_F(DialogAgainstSimulator, EveryWayOfClosingEndsWithinASecondWithTheWorkersJoined) {
    for (const auto& w : WaysOfClosing) {
        SCOPED_TRACE(w.way);
        NewProcess();
        Open();
        // Closed while the link runs and polls the actuator.
        ASSERT_TRUE(WaitFor(
            [&] {
                return process->SystemContext.PortOpened.load() == 1 &&
                       Field(CKVQDlg::IdConnection) == "Connected";
            },
            milliseconds(10000)));
        const auto start = Clock::now();
        w.close(*dialog);
        const auto took = Clock::now() - start;
        EXPECT_LT(took, milliseconds(1200));
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), w.result);
        EXPECT_TRUE(dialog->WorkersJoined());
        EXPECT_TRUE(process->SystemContext.StopRequested());
        EXPECT_EQ(process->serialPort.IsOpen.load(), 0)
            << "the link closed the port on its way out";
        EXPECT_FALSE(dialog->RefreshTimerActive());
        EXPECT_TRUE(boxes.asked.empty()) << "idle: closes without asking";
    }
}

// A busy port says which program holds it, beside the unchanged text.
TEST_F(DialogAgainstSimulator, ABusyPortNamesTheProgramHoldingIt) {
    PseudoTerminal spare;
    const std::string ports = "COM1=" + demo->DevicePath() + ";COM2=" + spare.SlavePath();
    ::setenv(PortMapVariable, ports.c_str(), 1);
    auto holder = MakeSystemSerialLine();
    ASSERT_EQ(holder->Open(spare.SlavePath(), 115200), OpenOutcome::Opened);
    Open();
    ASSERT_TRUE(WaitUntilReady());
    ASSERT_EQ(boxes.shown.size(), 1u);

    dialog->MenuCommand(32773)->trigger();  // Com 2, held by the line above
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, "   Problem opening port?");
    EXPECT_EQ(boxes.shown[1].caption, "Serial Port Problem");
    const std::string& reason = boxes.shown[1].detail;
    EXPECT_NE(reason.find("Cannot open serial port COM2 (" + spare.SlavePath() +
                          "): another program is using it ("),
              std::string::npos)
        << reason;
    EXPECT_NE(reason.find("(process " + std::to_string(getpid()) + ")"), std::string::npos)
        << reason;
    EXPECT_EQ(dialog->Ports().CurrentPort(), 1);

    holder->Close();
    dialog->MenuCommand(32773)->trigger();  // free now: it opens
    ASSERT_EQ(boxes.shown.size(), 3u);
    EXPECT_EQ(boxes.shown[2].caption, "Serial Port Success");
    EXPECT_EQ(boxes.shown[2].detail, "");
}

// Ports past COM8 are listed after Com 8, can be the port in use and open;
// one that is missing says so.
TEST_F(DialogAgainstSimulator, PortsPastCom8AreListedAndOpened) {
    const std::string ports = "COM12=" + demo->DevicePath() + ";COM20=/nonexistent/kvq-tty";
    ::setenv(PortMapVariable, ports.c_str(), 1);
    Open();
    ASSERT_TRUE(WaitUntilReady());
    ASSERT_GE(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, "   Communication has been started on serial port 12.         ");
    EXPECT_EQ(Field(CKVQDlg::IdPortName), "COM12");
    QAction* com12 = dialog->MenuCommand(PortMenuId(12));
    QAction* com20 = dialog->MenuCommand(PortMenuId(20));
    ASSERT_NE(com12, nullptr);
    ASSERT_NE(com20, nullptr);
    EXPECT_TRUE(com12->text().startsWith("Com 12"));
    EXPECT_TRUE(com12->isChecked());
    EXPECT_TRUE(com20->isEnabled());
    EXPECT_FALSE(dialog->MenuCommand(32772)->isEnabled()) << "COM1 is not there";
    EXPECT_EQ(dialog->MenuCommand(PortMenuId(13)), nullptr) << "only ports found are added";

    com20->trigger();
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown[1].text, "   Problem opening port?");
    EXPECT_NE(boxes.shown[1].detail.find("COM20 (/nonexistent/kvq-tty): the port does not exist"),
              std::string::npos)
        << boxes.shown[1].detail;
    Pump(milliseconds(700));
    EXPECT_TRUE(com12->isChecked()) << "the mark stays on the port in use";
}

// While the actuator moves, every way of closing asks first; No keeps the
// tool and the workers running, Yes closes.
TEST_F(DialogAgainstSimulator, ClosingDuringAMoveAsksFirstEveryWay) {
    const std::string moving =
        "The actuator is moving to a new tilt. Closing now leaves its tilt unchecked and the move "
        "unconfirmed. Close anyway?";
    for (const auto& w : WaysOfClosing) {
        SCOPED_TRACE(w.way);
        NewProcess();
        Open();
        ASSERT_TRUE(WaitUntilReady());
        Slider()->setValue(Actuator().currentTilt == 100 ? 0 : 100);
        Button(CKVQDlg::IdSetTilt)->click();
        ASSERT_TRUE(
            WaitFor([&] { return process->actuator.Snapshot().state == ActuatorState::Moving; },
                    milliseconds(3000)));

        boxes.asked.clear();
        boxes.answer = false;
        w.close(*dialog);
        ASSERT_EQ(boxes.asked.size(), 1u);
        EXPECT_EQ(boxes.asked[0].text, moving);
        EXPECT_EQ(boxes.asked[0].icon, MessageText::Icon::Question);
        EXPECT_TRUE(dialog->isVisible()) << "No: the tool stays";
        EXPECT_FALSE(process->SystemContext.StopRequested());
        EXPECT_TRUE(dialog->RefreshTimerActive());

        boxes.answer = true;
        w.close(*dialog);
        EXPECT_FALSE(dialog->isVisible()) << "Yes: it closes";
        EXPECT_EQ(dialog->result(), w.result);
        EXPECT_TRUE(dialog->WorkersJoined());
    }
}

// A download asks with its own text.
TEST_F(DialogAgainstSimulator, ClosingDuringADownloadAsksWithItsOwnText) {
    const auto image = FirmwareFileFor("09.99", 64 * 1024);
    std::ofstream(demo->Directory() / "vlx400fw.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    Open();
    ASSERT_TRUE(
        WaitFor([&] { return process->actuator.Snapshot().state == ActuatorState::Updating; },
                milliseconds(30000)));
    boxes.answer = false;
    dialog->close();
    ASSERT_EQ(boxes.asked.size(), 1u);
    EXPECT_EQ(boxes.asked[0].text,
              "The actuator is updating its software. Closing now leaves it without working "
              "software. Close anyway?");
    EXPECT_TRUE(dialog->isVisible());
    boxes.answer = true;
    dialog->close();
    EXPECT_FALSE(dialog->isVisible());
}

// Enter in an edit field never closes the window; in the requested tilt it
// sets the typed tilt, within the range.
TEST_F(DialogAgainstSimulator, EnterInAFieldNeverClosesAndSetsATypedTilt) {
    Open();
    ASSERT_TRUE(WaitUntilReady());
    const auto enterIn = [&](QWidget* field) {
        field->setFocus();
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(field, &key);
    };
    auto* requested = qobject_cast<QLineEdit*>(dialog->Control(CKVQDlg::IdRequestedTilt));
    ASSERT_FALSE(requested->isReadOnly()) << "typing is possible when ready";
    for (QWidget* field :
         {static_cast<QWidget*>(Models()->lineEdit()), dialog->Control(CKVQDlg::IdSerialNumber),
          dialog->Control(CKVQDlg::IdCurrentTilt)}) {
        enterIn(field);
        EXPECT_TRUE(dialog->isVisible()) << field->objectName().toStdString();
    }
    EXPECT_FALSE(process->SystemContext.StopRequested());
    EXPECT_EQ(process->actuator.Snapshot().state, ActuatorState::Checking) << "nothing sent";

    // Out of range and not a number: a box, nothing sent.
    for (const char* typed : {"12.0", "abc"}) {
        Type(requested, typed);
        enterIn(requested);
        ASSERT_FALSE(boxes.shown.empty());
        EXPECT_EQ(boxes.shown.back().caption, "Requested Tilt") << typed;
        EXPECT_EQ(process->actuator.Snapshot().state, ActuatorState::Checking) << typed;
    }
    // The refresh leaves what is being typed alone.
    Pump(milliseconds(700));
    EXPECT_EQ(requested->text(), "abc");

    Type(requested, "4.5");
    enterIn(requested);
    ASSERT_TRUE(WaitFor([&] { return Field(CKVQDlg::IdCurrentTilt) == "4.5" && Ready(); },
                        milliseconds(20000)))
        << Field(CKVQDlg::IdCurrentTilt).toStdString();
    EXPECT_EQ(Actuator().currentTilt, 45);
    EXPECT_TRUE(dialog->isVisible());

    // Set Tilt takes a typed value too.
    Type(requested, "2");
    Button(CKVQDlg::IdSetTilt)->click();
    ASSERT_TRUE(
        WaitFor([&] { return Actuator().currentTilt == 20 && Ready(); }, milliseconds(20000)));
    EXPECT_EQ(Slider()->value(), 20);
}

// The antenna table's warnings are listed once, with the file and each line;
// the status list names the table.
TEST_F(DialogAgainstSimulator, TableWarningsAreListedOnceAndTheTableIsNamed) {
    std::ifstream sample(demo->Directory() / "KVQ_SAMPLE.ascu");
    std::stringstream content;
    content << sample.rdbuf();
    const auto table = demo->Directory() / "ZZ.ascu";
    std::ofstream(table) << content.str() << "AP9999-BROKEN\tabc\t120\t0\n";
    Open();
    ASSERT_TRUE(WaitUntilReady());
    Pump(milliseconds(1000));
    int warningBoxes = 0;
    for (const auto& box : boxes.shown) {
        if (box.caption != "Antenna Table Warnings") continue;
        ++warningBoxes;
        EXPECT_NE(box.text.find(table.string()), std::string::npos) << box.text;
        EXPECT_EQ(box.detail, "line 8: the minimum tilt \"abc\" is not a number; line ignored");
    }
    EXPECT_EQ(warningBoxes, 1);
    EXPECT_EQ(Models()->findText("AP9999-BROKEN"), -1) << "the broken line is not listed";
    EXPECT_NE(dialog->Control(CKVQDlg::IdStatusList)->toolTip().toStdString().find(table.string()),
              std::string::npos);
}

// After a model change whose range excludes the actuator's tilt, the field
// shows the actuator's tilt; the slider alone stays in its range. The problem
// names the range, not an unknown model; a move into the range clears it.
TEST_F(DialogAgainstSimulator, CurrentTiltIsTheActuatorsAfterANarrowerModel) {
    Open();
    ASSERT_TRUE(WaitUntilReady());
    ASSERT_EQ(Actuator().currentTilt, 0);
    Models()->setCurrentIndex(Models()->findText("Panel65-790-960-15dBi"));  // 2.0 to 12.0
    Button(CKVQDlg::IdChangeModel)->click();
    ASSERT_TRUE(WaitFor(
        [&] {
            return Field(CKVQDlg::IdMinTilt) == "2.0" &&
                   dialog->StatusLines().value(0) == "POSSIBLE PROBLEM";
        },
        milliseconds(90000)))
        << dialog->StatusLines().join(" / ").toStdString();
    Pump(milliseconds(600));
    EXPECT_EQ(Field(CKVQDlg::IdCurrentTilt), "0.0");
    EXPECT_EQ(dialog->StatusLines().value(1), "TILT OUTSIDE MODEL RANGE");
    EXPECT_EQ(Slider()->value(), 20);
    EXPECT_TRUE(Button(CKVQDlg::IdSetTilt)->isEnabled());
    Slider()->setValue(30);
    Button(CKVQDlg::IdSetTilt)->click();
    ASSERT_TRUE(WaitFor(
        [&] {
            return Field(CKVQDlg::IdCurrentTilt) == "3.0" &&
                   dialog->StatusLines().value(0) == "READY";
        },
        milliseconds(30000)))
        << dialog->StatusLines().join(" / ").toStdString();
}

}  // namespace

namespace {

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

const MessageText* BoxCaptioned(const RecordingPresenter& boxes, const std::string& caption) {
    for (const auto& box : boxes.shown)
        if (box.caption == caption) return &box;
    return nullptr;
}

}  // namespace

// A firmware file that fails its check is never sent: a box names the file
// and why, and the actuator goes on to READY.
TEST_F(DialogAgainstSimulator, AFirmwareFileThatFailsItsCheckIsNeverSent) {
    const auto path = demo->Directory() / "vlx400fw.bin";
    std::vector<std::uint8_t> random = {0x9C, 0x41, 'i', 0xDD, ';', '_', '5', 0xAF, 'I', 0xBA};
    for (int i = 0; i < 4086; ++i)
        random.push_back(static_cast<std::uint8_t>(i * 7919 >> 3));
    WriteFile(path, random);
    Open();
    QStringList seen;
    ASSERT_TRUE(WaitFor(
        [&] {
            if (!seen.contains(dialog->StatusLines().value(0))) seen << dialog->StatusLines().value(0);
            return Ready();
        },
        milliseconds(30000)));
    EXPECT_FALSE(seen.contains("UPDATING SOFTWARE"));
    EXPECT_FALSE(Actuator().imageReceiving.has_value());
    EXPECT_FALSE(Actuator().lastImage.has_value());
    EXPECT_EQ(Actuator().restarts, 0u);
    EXPECT_EQ(Actuator().softwareVersion, "01.23");

    ASSERT_TRUE(WaitFor([&] { return BoxCaptioned(boxes, "Firmware File Error"); },
                        milliseconds(2000)));
    const MessageText& box = *BoxCaptioned(boxes, "Firmware File Error");
    EXPECT_NE(box.text.find(path.string()), std::string::npos) << box.text;
    EXPECT_NE(box.text.find("0xDD"), std::string::npos) << box.text;
    EXPECT_EQ(box.icon, MessageText::Icon::Exclamation);
    Pump(milliseconds(1200));
    EXPECT_EQ(std::count_if(boxes.shown.begin(), boxes.shown.end(),
                            [](const MessageText& m) { return m.caption == "Firmware File Error"; }),
              1)
        << "once";
}

// A download shows its percentage and the time left on the bar; an actuator
// that comes back on its old version is shown failed, both versions named.
TEST_F(DialogAgainstSimulator, ADownloadShowsItsTimeLeftAndAnUpdateNotTakenIsSaid) {
    demo->Application().SetKeepVersionOnRestart(true);
    // Silent long enough to be lost: one that is back within about 1.7 s is
    // taken for a dropped link ("FAIL (C)").
    demo->Application().SetRestartSilence(milliseconds(3000));
    WriteFile(demo->Directory() / "vlx400fw.bin", FirmwareFileFor("01.24", 6000));
    Open();
    auto* bar = qobject_cast<QProgressBar*>(dialog->Control(CKVQDlg::IdProgress));
    QString timeLeft;
    ASSERT_TRUE(WaitFor(
        [&] {
            if (bar->isTextVisible() && bar->text().contains(" left")) timeLeft = bar->text();
            return dialog->StatusLines().value(0) == "UPDATE NOT TAKEN";
        },
        milliseconds(40000)))
        << dialog->StatusLines().join(" / ").toStdString();
    EXPECT_TRUE(QRegularExpression("^\\d{1,3}%, \\d+:\\d\\d left$").match(timeLeft).hasMatch())
        << timeLeft.toStdString();
    EXPECT_EQ(dialog->StatusLines().value(1), "RUNS 01.23, NOT 01.24");
    EXPECT_FALSE(bar->isTextVisible()) << "words on the bar only while downloading";
    EXPECT_EQ(Actuator().restarts, 1u);

    ASSERT_TRUE(WaitFor([&] { return BoxCaptioned(boxes, "Software Update Failed"); },
                        milliseconds(2000)));
    const std::string text = BoxCaptioned(boxes, "Software Update Failed")->text;
    EXPECT_NE(text.find("version 01.23, not on version 01.24"), std::string::npos) << text;
    Pump(milliseconds(3000));
    EXPECT_EQ(Actuator().restarts, 1u) << "not sent again";
}

// Communication > Save Line Trace...: below the ports, it writes the frames the
// dialog kept since it started, with the open they began under; a file that
// cannot be written is said in a box.
TEST_F(DialogAgainstSimulator, SaveLineTraceWritesTheFramesKeptSinceTheStart) {
    std::string error;
    ASSERT_TRUE(
        process->lineTrace.Start(process->serialPort, "kvq", "", LineTrace::DialogFrames, error))
        << error;
    Open();
    ASSERT_TRUE(WaitUntilReady());
    QAction* item = dialog->MenuCommand(SaveLineTraceMenuId);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->text().toStdString(), "Save Line Trace...");
    auto* menu = qobject_cast<QWidget*>(item->parent());
    ASSERT_NE(menu, nullptr);
    const auto actions = menu->actions();
    ASSERT_FALSE(actions.isEmpty());
    EXPECT_EQ(actions.back(), item) << "the item stands below every port";
    EXPECT_TRUE(item->isEnabled());

    const auto path = std::filesystem::temp_directory_path() /
                      ("kvq-dialog-trace-" + std::to_string(::getpid()) + ".txt");
    dialog->SaveLineTraceTo(path.string());
    std::ifstream file(path);
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    EXPECT_EQ(text.rfind("# kvq line trace, started ", 0), 0u) << text;
    EXPECT_NE(text.find(" OPEN 115200 COM1 | low latency: "), std::string::npos) << text;
    EXPECT_NE(text.find(" TX 115200 7E 14 93 A4 5B 7E | addr 0x14 SNRM P"), std::string::npos);
    EXPECT_NE(text.find(" RX 115200 7E 14 73 AA BC 7E | addr 0x14 UA F"), std::string::npos);
    EXPECT_NE(text.find("IdentityReply"), std::string::npos);
    EXPECT_EQ(boxes.shown.size(), 1u) << "only the port's box";

    dialog->SaveLineTraceTo("/kvq-no-such-directory/trace.txt");
    ASSERT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown.back().caption, "Save Line Trace");
    EXPECT_NE(boxes.shown.back().text.find("could not be saved"), std::string::npos);
}
