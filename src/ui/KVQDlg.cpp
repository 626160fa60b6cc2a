#include "ui/KVQDlg.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
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
#include "ui/DialogTexts.h"
#include "ui/DialogUnits.h"
#include "ui/QtControls.h"
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

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

CKVQDlg::CKVQDlg(ProcessObjects& process, MessagePresenter& boxes, PortListSource ports,
                 QWidget* parent)
    : QDialog(parent),
      process_(process),
      boxes_(boxes),
      logic_(process, boxes, *this, std::move(ports)) {
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

    refreshTimer_.setInterval(RefreshPeriodMs);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { OnRefreshTimer(RefreshTimerId); });
}

CKVQDlg::~CKVQDlg() {
    logic_.StopAllWorkers();
    sliderControl_->Detach();
    modelControl_->Detach();
    if (!logic_.WorkersJoined()) {
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
        AddMenuItem(n, logic_.Ports().MenuText(n));
    // Ports found later go above this.
    traceSeparator_ = communication->addSeparator();
    QAction* saveTrace = communication->addAction(ui_text::SaveLineTraceItem);
    saveTrace->setObjectName(QString("cmd%1").arg(SaveLineTraceMenuId));
    saveTrace->setProperty("commandId", SaveLineTraceMenuId);
    connect(saveTrace, &QAction::triggered, this, [this] { OnSaveLineTrace(); });
    menuCommands_[SaveLineTraceMenuId] = saveTrace;
    QMenu* help = menuBar_->addMenu("Help");
    help->setObjectName("menuHelp");
    QAction* about = help->addAction("About...");
    about->setObjectName(QString("cmd%1").arg(AboutMenuId));
    about->setProperty("commandId", AboutMenuId);
    connect(about, &QAction::triggered, this, [this] { OnAbout(); });
    menuCommands_[AboutMenuId] = about;
}

void CKVQDlg::AddPortMenuItem(int n, const std::string& text) {
    AddMenuItem(n, text);
}

void CKVQDlg::AddMenuItem(int n, const std::string& text) {
    const int id = PortMenuId(n);
    if (menuCommands_.count(id) != 0) return;
    auto* item = new QAction(Text(text), communicationMenu_);
    communicationMenu_->insertAction(traceSeparator_, item);
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
    if (logic_.EndedByInitialisation()) return result();
    return exec();
}

void CKVQDlg::InitialiseDialog() {
    // Exactly two lines from the first moment on.
    statusList_->clear();
    statusList_->addItem(QString());
    statusList_->addItem(QString());
    logic_.Initialise(sliderControl_.get(), modelControl_.get());
}

void CKVQDlg::RefreshDisplay() {
    logic_.Refresh();
}

void CKVQDlg::OnRefreshTimer(int timerId) {
    if (timerId != RefreshTimerId) return;
    logic_.OnRefreshTimer();
}

void CKVQDlg::OnSetTilt() {
    logic_.SetTilt();
}

void CKVQDlg::OnChangeAntennaModel() {
    logic_.ChangeAntennaModel();
}

void CKVQDlg::OnSelectPort(int n) {
    logic_.SelectPort(n);
}

void CKVQDlg::OnAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CKVQDlg::CloseDialog() {
    logic_.Close(false);
}

void CKVQDlg::accept() {
    logic_.Close(true);
}

void CKVQDlg::reject() {
    CloseDialog();
}

std::int32_t CKVQDlg::SliderPosition() const {
    return tiltSlider_->value();
}

std::pair<std::int32_t, std::int32_t> CKVQDlg::SliderRange() const {
    return {tiltSlider_->minimum(), tiltSlider_->maximum()};
}

void CKVQDlg::SetSliderPosition(std::int32_t position) {
    tiltSlider_->setValue(position);
}

bool CKVQDlg::RequestedTiltTyped() const {
    return requestedTilt_->isModified();
}

std::string CKVQDlg::RequestedTiltText() const {
    return requestedTilt_->text().toStdString();
}

void CKVQDlg::ForgetTypedTilt() {
    requestedTilt_->setModified(false);
}

std::vector<std::string> CKVQDlg::ModelEntries() const {
    std::vector<std::string> entries;
    for (int i = 0; i < newModelList_->count(); ++i)
        entries.push_back(newModelList_->itemText(i).toStdString());
    return entries;
}

std::string CKVQDlg::ModelShown() const {
    return newModelList_->currentText().toStdString();
}

void CKVQDlg::ShowStatusLines(const StatusPair& lines) {
    delete statusList_->takeItem(0);
    delete statusList_->takeItem(0);
    statusList_->addItem(Text(lines.first));
    statusList_->addItem(Text(lines.second));
    statusList_->setCurrentRow(-1);
}

void CKVQDlg::SetTableToolTip(const std::string& text) {
    statusList_->setToolTip(Text(text));
}

void CKVQDlg::ApplyControls(const ControlStates& states) {
    // Typing a tilt makes sense only while it can be set.
    requestedTilt_->setReadOnly(!states.setTilt);
    changeModelButton_->setEnabled(states.changeModel);
    setTiltButton_->setEnabled(states.setTilt);
    setTiltButton_->setToolTip(Text(states.setTiltWhyNot));
    tiltSlider_->setEnabled(states.setTilt);
    progress_->setValue(states.progress);
    // The bar carries its own words only during a download.
    progress_->setTextVisible(!states.progressText.empty());
    progress_->setFormat(Text(states.progressText));
}

void CKVQDlg::SetFieldText(int id, const std::string& text) {
    // Unchanged texts are left alone, so a selection in a field survives.
    auto* edit = qobject_cast<QLineEdit*>(Control(id));
    if (edit && edit->text() != Text(text)) edit->setText(Text(text));
}

void CKVQDlg::PrepareRunningControls() {
    progress_->setRange(0, 100);
    statusList_->setFont(FontWithCellHeight("Arial", 20));
    statusList_->setCurrentRow(-1);
}

void CKVQDlg::SetRefreshTimer(bool running) {
    if (running) {
        refreshTimer_.start();
    } else {
        refreshTimer_.stop();
    }
}

void CKVQDlg::OnSaveLineTrace() {
    const QString path = QFileDialog::getSaveFileName(this, ui_text::SaveLineTraceCaption,
                                                      QDir::home().filePath("kvq-line-trace.txt"),
                                                      ui_text::SaveLineTraceFilter);
    if (!path.isEmpty()) SaveLineTraceTo(path.toStdString());
}

void CKVQDlg::SaveLineTraceTo(const std::string& path) {
    logic_.SaveLineTrace(path);
}

void CKVQDlg::ApplyPortMenuItem(int n, bool checked, bool enabled, const std::string& text) {
    const auto at = menuCommands_.find(PortMenuId(n));
    if (at == menuCommands_.end()) return;
    QAction* item = at->second;
    item->setChecked(checked);
    item->setEnabled(enabled);
    item->setText(Text(text));
}

void CKVQDlg::ShowSoon(const MessageText& message) {
    // Not from inside the timer's own call: Qt holds a timer back while its
    // handler runs, and the refresh must go on beneath the box.
    QMetaObject::invokeMethod(
        this, [this, message] { boxes_.Show(message); }, Qt::QueuedConnection);
}

void CKVQDlg::EndDialog(bool accepted) {
    QDialog::done(accepted ? QDialog::Accepted : QDialog::Rejected);
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
        // The requested tilt takes Enter as Set Tilt itself (returnPressed);
        // here it is one more text field.
        QWidget* focus = focusWidget();
        auto* button = qobject_cast<QPushButton*>(focus);
        const FocusKind kind = button               ? FocusKind::PushButton
                               : IsTextField(focus) ? FocusKind::TextField
                                                    : FocusKind::Other;
        if (logic_.Enter(kind, button && button->isEnabled()) == EnterAction::PressButton && button)
            button->click();
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
