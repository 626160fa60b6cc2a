#include "ui/KVQDlg.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>

#include "app/Process.h"
#include "ui/AboutDlg.h"
#include "ui/ApplicationIcon.h"
#include "ui/CloseGuard.h"
#include "ui/DialogTexts.h"
#include "ui/DialogUnits.h"
#include "ui/QtControls.h"
#include "ui/RefreshView.h"
#include "ui/Reports.h"
#include "ui/UserCommands.h"

using namespace kvq::serial;
using namespace kvq::actuator;
using namespace kvq::status;
using namespace kvq::app;

namespace kvq::ui {

namespace {

enum class Kind { Group, Label, CentredLabel, Edit, Combo, Button, List, Slider, Progress };

struct ControlTemplate {
    Kind kind;
    int id;  // -1: a static control without an id
    const char* caption;
    int x, y, width, height;  // dialog units
};

// The main window's template, in its order (which is also the tab order).
constexpr ControlTemplate MainTemplate[] = {
    {Kind::Group, -1, "Antenna Configuration", 9, 5, 247, 138},
    {Kind::Label, -1, "VLX400 Serial Number", 29, 23, 98, 10},
    {Kind::Edit, CKVQDlg::IdSerialNumber, "", 133, 20, 103, 15},
    {Kind::Label, -1, "VLX400 Software Version", 29, 42, 83, 10},
    {Kind::Edit, CKVQDlg::IdSoftwareVersion, "", 133, 40, 103, 15},
    {Kind::Label, -1, "Current Antenna Model", 29, 76, 77, 10},
    {Kind::Edit, CKVQDlg::IdCurrentModel, "", 133, 74, 103, 15},
    {Kind::Label, -1, "New Antenna Model", 29, 95, 82, 10},
    {Kind::Combo, CKVQDlg::IdNewModel, "", 133, 94, 103, 164},
    {Kind::Button, CKVQDlg::IdChangeModel, "Change Antenna Model", 139, 116, 89, 14},
    {Kind::Group, -1, "Status", 9, 148, 246, 90},
    {Kind::List, CKVQDlg::IdStatusList, "", 29, 164, 207, 39},
    {Kind::Edit, CKVQDlg::IdPortName, "", 30, 206, 35, 12},
    {Kind::Edit, CKVQDlg::IdConnection, "", 66, 206, 49, 12},
    {Kind::Progress, CKVQDlg::IdProgress, "", 118, 206, 117, 12},
    {Kind::Group, -1, "Tilt Control", 264, 4, 119, 233},
    {Kind::Edit, CKVQDlg::IdMinTilt, "", 276, 20, 34, 15},
    {Kind::Label, -1, "Min Tilt", 315, 22, 37, 10},
    {Kind::Slider, CKVQDlg::IdTiltSlider, "", 276, 45, 34, 131},
    {Kind::Edit, CKVQDlg::IdMaxTilt, "", 276, 188, 34, 15},
    {Kind::Label, -1, "Max Tilt", 315, 190, 34, 10},
    {Kind::CentredLabel, -1, "Current Tilt", 321, 64, 46, 14},
    {Kind::Edit, CKVQDlg::IdCurrentTilt, "", 321, 78, 46, 15},
    {Kind::CentredLabel, -1, "Requested Tilt", 321, 123, 46, 12},
    {Kind::Edit, CKVQDlg::IdRequestedTilt, "", 321, 139, 46, 15},
    {Kind::Button, CKVQDlg::IdSetTilt, "Set Tilt", 302, 213, 47, 14},
    {Kind::Button, CKVQDlg::IdClose, "Close", 166, 252, 50, 14},
};

constexpr int ClientWidth = 401;  // dialog units
constexpr int ClientHeight = 279;

// The fields the refresh writes, in the order they are bound.
constexpr int BoundFields[] = {
    CKVQDlg::IdSoftwareVersion, CKVQDlg::IdSerialNumber, CKVQDlg::IdCurrentModel,
    CKVQDlg::IdMaxTilt,         CKVQDlg::IdMinTilt,      CKVQDlg::IdCurrentTilt,
    CKVQDlg::IdRequestedTilt,   CKVQDlg::IdPortName,     CKVQDlg::IdConnection,
};

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

CKVQDlg::CKVQDlg(ProcessObjects& process, MessagePresenter& boxes, PortListSource ports,
                 QWidget* parent)
    : QDialog(parent),
      process_(process),
      boxes_(boxes),
      portSource_(ports ? std::move(ports) : PortListSource([] { return ListSerialPorts(); })) {
    setObjectName("mainDialog");
    setWindowTitle(ui_text::MainTitle);
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    setFont(DialogFont());
    BuildMenu();
    BuildControls();

    const DialogUnits du(font());
    const int menuHeight = menuBar_->sizeHint().height();
    menuBar_->setGeometry(0, 0, du.X(ClientWidth), menuHeight);
    client_->setGeometry(0, menuHeight, du.X(ClientWidth), du.Y(ClientHeight));
    setFixedSize(du.X(ClientWidth), menuHeight + du.Y(ClientHeight));

    for (int id : BoundFields)
        boundText_[id] = QString();
    refreshTimer_.setInterval(RefreshPeriodMs);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { OnRefreshTimer(RefreshTimerId); });
}

CKVQDlg::~CKVQDlg() {
    StopAllWorkers();
    sliderControl_->Detach();
    modelControl_->Detach();
    if (!joined_) {
        // A worker that did not end may still call the controls: they stay
        // (detached, doing nothing) for the rest of the process.
        (void)sliderControl_.release();
        (void)modelControl_.release();
    }
}

void CKVQDlg::BuildMenu() {
    menuBar_ = new QMenuBar(this);
    menuBar_->setNativeMenuBar(false);
    QMenu* communication = menuBar_->addMenu("Communication");
    communication->setObjectName("menuCommunication");
    communicationMenu_ = communication;
    for (int n = 1; n <= MenuPortCount; ++n)
        AddPortMenuItem(n);
    QMenu* help = menuBar_->addMenu("Help");
    help->setObjectName("menuHelp");
    QAction* about = help->addAction("About...");
    about->setObjectName(QString("cmd%1").arg(AboutMenuId));
    about->setProperty("commandId", AboutMenuId);
    connect(about, &QAction::triggered, this, [this] { OnAbout(); });
    menuCommands_[AboutMenuId] = about;
}

void CKVQDlg::AddPortMenuItem(int n) {
    const int id = PortMenuId(n);
    if (menuCommands_.count(id) != 0) return;
    QAction* item = communicationMenu_->addAction(Text(ports_.MenuText(n)));
    item->setObjectName(QString("cmd%1").arg(id));
    item->setProperty("commandId", id);
    item->setCheckable(true);
    connect(item, &QAction::triggered, this, [this, n] { OnSelectPort(n); });
    menuCommands_[id] = item;
}

void CKVQDlg::BuildControls() {
    client_ = new QWidget(this);
    client_->setObjectName("client");
    const DialogUnits du(font());
    for (const auto& c : MainTemplate) {
        const QRect rect = du.Rect(c.x, c.y, c.width, c.height);
        QWidget* widget = nullptr;
        switch (c.kind) {
            case Kind::Group:
                widget = new QGroupBox(c.caption, client_);
                break;
            case Kind::Label:
            case Kind::CentredLabel: {
                auto* label = new QLabel(c.caption, client_);
                label->setWordWrap(true);
                label->setAlignment(
                    (c.kind == Kind::CentredLabel ? Qt::AlignHCenter : Qt::AlignLeft) |
                    Qt::AlignTop);
                widget = label;
                break;
            }
            case Kind::Edit: {
                auto* edit = new QLineEdit(client_);
                edit->setReadOnly(true);
                widget = edit;
                break;
            }
            case Kind::Combo: {
                auto* combo = new QComboBox(client_);
                combo->setEditable(true);
                combo->setInsertPolicy(QComboBox::NoInsert);
                combo->setDuplicatesEnabled(true);
                // The template's height is the dropped list's; the field itself
                // is as high as the edit fields beside it.
                const int field = du.Y(15);
                combo->setMaxVisibleItems(std::max(
                    1, (rect.height() - field) / std::max(1, combo->fontMetrics().height())));
                widget = combo;
                newModelList_ = combo;
                break;
            }
            case Kind::Button: {
                auto* button = new QPushButton(c.caption, client_);
                // No default button, not even one Qt would pick by itself;
                // Enter is handled by the dialog (keyPressEvent).
                button->setAutoDefault(false);
                button->setDefault(false);
                widget = button;
                if (c.id == IdChangeModel) changeModelButton_ = button;
                if (c.id == IdSetTilt) setTiltButton_ = button;
                if (c.id == IdClose) closeButton_ = button;
                break;
            }
            case Kind::List:
                statusList_ = new QListWidget(client_);
                widget = statusList_;
                break;
            case Kind::Slider:
                tiltSlider_ = new QSlider(Qt::Vertical, client_);
                // Minimum at the top, and the arrow keys move the thumb the way they point.
                tiltSlider_->setInvertedAppearance(true);
                tiltSlider_->setInvertedControls(true);
                tiltSlider_->setTickPosition(QSlider::TicksRight);
                tiltSlider_->setRange(0, 100);
                tiltSlider_->setPageStep(10);
                widget = tiltSlider_;
                break;
            case Kind::Progress:
                progress_ = new QProgressBar(client_);
                progress_->setTextVisible(false);
                widget = progress_;
                break;
        }
        widget->setProperty("controlId", c.id);
        if (c.id != -1) widget->setObjectName(QString("ctl%1").arg(c.id));
        if (c.kind == Kind::Combo) {
            widget->setGeometry(rect.x(), rect.y(), rect.width(),
                                std::max(du.Y(15), widget->sizeHint().height()));
        } else {
            widget->setGeometry(rect);
        }
    }
    connect(setTiltButton_, &QPushButton::clicked, this, [this] { OnSetTilt(); });
    connect(changeModelButton_, &QPushButton::clicked, this, [this] { OnChangeAntennaModel(); });
    connect(closeButton_, &QPushButton::clicked, this, [this] { CloseDialog(); });
    // The requested tilt can be typed: Enter in the field is Set Tilt, and
    // moving the slider gives the field back to the slider.
    // It stays read-only until the refresh enables the controls.
    requestedTilt_ = qobject_cast<QLineEdit*>(Control(IdRequestedTilt));
    connect(requestedTilt_, &QLineEdit::returnPressed, this, [this] {
        if (setTiltButton_->isEnabled()) OnSetTilt();
    });
    connect(tiltSlider_, &QSlider::actionTriggered, this,
            [this](int) { requestedTilt_->setModified(false); });

    sliderControl_ = std::make_unique<QtTiltSlider>(tiltSlider_);
    modelControl_ = std::make_unique<QtModelList>(newModelList_);
}

int CKVQDlg::RunModal() {
    InitialiseDialog();
    if (endedByInitialisation_) return result();
    return exec();
}

void CKVQDlg::InitialiseDialog() {
    // Exactly two lines from the first moment on.
    statusList_->clear();
    statusList_->addItem(QString());
    statusList_->addItem(QString());

    RefreshDisplay();

    const bool modelsListed = PrepareControls(process_, sliderControl_.get(), modelControl_.get());
    // Which table the models come from, and once what was wrong in it.
    statusList_->setToolTip(Text(TableToolTip(process_.antennaTable)));
    const auto tableWarnings = TableWarningsBox(process_.antennaTable);
    if (!modelsListed) {
        if (tableWarnings) boxes_.Show(*tableWarnings);
        boxes_.Show(
            {ui_text::NoTableText, ui_text::NoTableCaption, MessageText::Icon::Exclamation, {}});
        return;  // no timer, no workers, no port: the user can only close the window
    }
    if (tableWarnings) ShowSoon(*tableWarnings);

    refreshTimer_.start();
    // The port is named below, once it is chosen; the link thread, a second
    // behind, waits for the name.
    StartWorkers(process_, process_.SystemContext.SelectedPortName());
    workersStarted_ = true;

    progress_->setRange(0, 100);
    statusList_->setFont(FontWithCellHeight("Arial", 20));
    statusList_->setCurrentRow(-1);

    bool noPort = false;
    if (ports_.EnumerateSerialPorts(portSource_()) == 0) {
        // Ticks under the box would only pile a port report onto this one.
        refreshTimer_.stop();
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
        if (isVisible()) {
            accept();
        } else {
            StopAllWorkers();
            setResult(QDialog::Accepted);
        }
    }
}

void CKVQDlg::RefreshDisplay() {
    ++refreshCount_;
    if (auto report = PortReportFor(refreshCount_, process_.SystemContext.PortOpened.load(),
                                    ports_.CurrentPort())) {
        if (report->caption == ui_text::PortProblemCaption) {
            report = PortProblemBox(process_.serialPort,
                                    process_.SystemContext.SelectedPortName());
        }
        ShowSoon(*report);
    }

    const RefreshView view =
        ComputeRefresh(TakeRefreshSnapshot(process_, tiltSlider_->value(), ports_.CurrentPort()));

    if (view.statusLines && statusLines_.Accept(*view.statusLines))
        ShowStatusLines(*view.statusLines);

    if (view.firmwareNotices != firmwareNoticesShown_) {
        firmwareNoticesShown_ = view.firmwareNotices;
        if (view.firmwareNotice) ShowSoon(*view.firmwareNotice);
    }
    // The bar carries its own words only during a download: the percentage
    // and the time left.
    progress_->setTextVisible(!view.progressText.empty());
    progress_->setFormat(Text(view.progressText));

    // Typing a tilt makes sense only while it can be set.
    requestedTilt_->setReadOnly(!view.controlsEnabled);
    if (view.controlsEnabled) {
        changeModelButton_->setEnabled(true);
        setTiltButton_->setEnabled(true);
        tiltSlider_->setEnabled(true);
        progress_->setValue(0);
    } else {
        changeModelButton_->setEnabled(false);
        setTiltButton_->setEnabled(false);
        progress_->setValue(view.progress);
        tiltSlider_->setEnabled(false);
    }

    boundText_[IdSerialNumber] = Text(view.serialNumber);
    boundText_[IdSoftwareVersion] = Text(view.softwareVersion);
    boundText_[IdMinTilt] = Text(view.minTilt);
    boundText_[IdMaxTilt] = Text(view.maxTilt);
    boundText_[IdRequestedTilt] = Text(view.requestedTilt);
    boundText_[IdCurrentTilt] = Text(view.currentTilt);
    boundText_[IdCurrentModel] = Text(view.antennaModel);
    boundText_[IdConnection] = Text(view.connection);
    boundText_[IdPortName] = Text(view.portName);

    ports_.MarkPortMenu(view.markPort);
    ApplyPortMenu();
}

void CKVQDlg::ShowStatusLines(const StatusPair& lines) {
    delete statusList_->takeItem(0);
    delete statusList_->takeItem(0);
    statusList_->addItem(Text(lines.first));
    statusList_->addItem(Text(lines.second));
    statusList_->setCurrentRow(-1);
}

void CKVQDlg::OnRefreshTimer(int timerId) {
    if (timerId != RefreshTimerId) return;
    RefreshDisplay();
    BindControls();
}

void CKVQDlg::BindControls() {
    for (const auto& [id, text] : boundText_) {
        auto* edit = qobject_cast<QLineEdit*>(Control(id));
        // What the user is typing stays until Set Tilt or the slider takes over.
        if (edit == requestedTilt_ && edit->isModified()) continue;
        // Unchanged texts are left alone, so a selection in a field survives.
        if (edit && edit->text() != text) edit->setText(text);
    }
}

void CKVQDlg::OnSetTilt() {
    if (!requestedTilt_->isModified()) {
        RequestTilt(process_, tiltSlider_->value());
        return;
    }
    // A typed tilt: checked against the model's range before anything is sent.
    const TypedTilt typed = ReadTypedTilt(requestedTilt_->text().toStdString(),
                                          tiltSlider_->minimum(), tiltSlider_->maximum());
    if (!typed.tenths) {
        boxes_.Show(*typed.refusal);
        return;
    }
    requestedTilt_->setModified(false);
    tiltSlider_->setValue(*typed.tenths);
    RequestTilt(process_, *typed.tenths);
}

void CKVQDlg::OnChangeAntennaModel() {
    std::vector<std::string> entries;
    for (int i = 0; i < newModelList_->count(); ++i)
        entries.push_back(newModelList_->itemText(i).toStdString());
    // What the edit field shows is what the user means; a typed name that is
    // no entry is a model the table does not have.
    const int entry = ModelEntryShown(entries, newModelList_->currentText().toStdString());
    if (RequestModelChange(process_, entries, entry) == ModelChange::NotFound) {
        statusLines_.ShowNotice({ui_text::AntennaNotFound, ""});
        ShowStatusLines(statusLines_.Shown());
    }
}

void CKVQDlg::OnSelectPort(int n) {
    const auto box =
        ports_.ChangePort(n, process_.SystemContext, process_.linkStation.LinkThreadId());
    ApplyPortMenu();  // the menu's own toggle is not the check mark; the refresh places that
    if (!box) return;
    if (box->caption == ui_text::PortProblemCaption) {
        boxes_.Show(PortProblemBox(process_.serialPort, process_.SystemContext.SelectedPortName()));
    } else {
        boxes_.Show(*box);
    }
}

void CKVQDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

bool CKVQDlg::MayClose() {
    if (!workersStarted_ || stopped_) return true;
    if (asking_) return false;  // the question is open already
    const auto question = CloseQuestionFor(process_.actuator.Snapshot());
    if (!question) return true;
    asking_ = true;
    const bool yes = boxes_.Ask(*question);
    asking_ = false;
    return yes;
}

void CKVQDlg::CloseDialog() {
    if (!MayClose()) return;
    StopAllWorkers();
    QDialog::reject();
}

void CKVQDlg::accept() {
    if (!MayClose()) return;
    StopAllWorkers();
    QDialog::accept();
}

void CKVQDlg::reject() {
    CloseDialog();
}

void CKVQDlg::StopAllWorkers() {
    if (stopped_) return;
    refreshTimer_.stop();
    // Raises the stop flag and joins every worker within the allowance; the
    // link thread closes the port on its way out.
    joined_ = StopWorkers(process_, 1000);
    stopped_ = true;
    if (joined_) {
        // Nobody drives the controls any more.
        ReleaseControls(process_);
    }
}

void CKVQDlg::ApplyPortMenu() {
    for (const int n : ports_.MenuPorts()) {
        const auto at = menuCommands_.find(PortMenuId(n));
        if (at == menuCommands_.end()) continue;
        QAction* item = at->second;
        item->setChecked(ports_.Item(n).checked);
        item->setEnabled(ports_.Item(n).enabled);
        item->setText(Text(ports_.MenuText(n)));
    }
}

void CKVQDlg::ShowSoon(const MessageText& message) {
    // Not from inside the timer's own call: Qt holds a timer back while its
    // handler runs, and the refresh must go on beneath the box.
    QMetaObject::invokeMethod(
        this, [this, message] { boxes_.Show(message); }, Qt::QueuedConnection);
}

QWidget* CKVQDlg::Control(int id) const {
    return client_->findChild<QWidget*>(QString("ctl%1").arg(id));
}

QAction* CKVQDlg::MenuCommand(int id) const {
    const auto at = menuCommands_.find(id);
    return at == menuCommands_.end() ? nullptr : at->second;
}

QStringList CKVQDlg::StatusLines() const {
    QStringList lines;
    for (int i = 0; i < statusList_->count(); ++i)
        lines << statusList_->item(i)->text();
    return lines;
}

void CKVQDlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        // Enter presses the push button that has the focus. In a field it
        // never closes the window (the requested tilt takes it as Set Tilt);
        // anywhere else it is the dialog's OK.
        QWidget* focus = focusWidget();
        auto* button = qobject_cast<QPushButton*>(focus);
        if (button && button->isEnabled()) {
            button->click();
        } else if (!IsTextField(focus)) {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CKVQDlg::IsTextField(const QWidget* widget) {
    for (; widget != nullptr; widget = widget->parentWidget()) {
        if (qobject_cast<const QLineEdit*>(widget) || qobject_cast<const QComboBox*>(widget))
            return true;
    }
    return false;
}

void CKVQDlg::paintEvent(QPaintEvent* event) {
    PaintDialog(event);
}

void CKVQDlg::PaintDialog(QPaintEvent* event) {
    // A minimised window's icon is the window system's to draw.
    QDialog::paintEvent(event);
}

}  // namespace kvq::ui
