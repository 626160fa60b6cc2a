#pragma once

#include <QDialog>
#include <QStringList>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <vector>

#include "ui/CloseGuard.h"
#include "ui/DialogLogic.h"
#include "ui/MessageText.h"
#include "ui/PortSelection.h"
#include "ui/RefreshView.h"

class QAction;
class QComboBox;
class QLineEdit;
class QListWidget;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QSlider;

namespace kvq::app {
struct ProcessObjects;
}  // namespace kvq::app

namespace kvq::ui {

class QtModelList;
class QtTiltSlider;

// The main window: the actuator's identity, tilt and status, the user's two
// commands, the Communication menu, and the start and stop of the workers on
// the user-interface side. Everything it shows is pulled from the shared
// state by a 500 ms timer; the only controls another thread drives are the
// tilt slider and the model list (through QtTiltSlider and QtModelList).
class CKVQDlg : public QDialog, private DialogWidgets {
    Q_OBJECT

public:
    // Control ids of the dialog's template; each control's objectName is
    // "ctl<id>" and its "controlId" property the id.
    enum ControlId : int {
        IdClose = 2,
        IdSerialNumber = 1001,
        IdSetTilt = 1002,
        IdStatusList = 1003,
        IdSoftwareVersion = 1004,
        IdCurrentModel = 1005,
        IdNewModel = 1016,
        IdChangeModel = 1018,
        IdTiltSlider = 1019,
        IdMinTilt = 1020,
        IdMaxTilt = 1021,
        IdProgress = 1022,
        IdCurrentTilt = 1023,
        IdRequestedTilt = 1024,
        IdPortName = 1032,
        IdConnection = 1033,
    };
    static constexpr int RefreshTimerId = 1001;
    static constexpr int RefreshPeriodMs = 500;

    using PortListSource = std::function<std::vector<serial::SerialPortInfo>()>;

    // ports: where the serial ports come from; none: ListSerialPorts().
    CKVQDlg(app::ProcessObjects& process, MessagePresenter& boxes, PortListSource ports = {},
            QWidget* parent = nullptr);
    ~CKVQDlg() override;

    // The initialisation, then the dialog modally; when the initialisation
    // already ended the dialog (no serial port), its result at once.
    int RunModal();

    void InitialiseDialog();
    void RefreshDisplay();
    // Writes the frames kept to the file; a box says why when it cannot.
    void SaveLineTraceTo(const std::string& path);
    void OnRefreshTimer(int timerId);
    void OnSetTilt();
    void OnChangeAntennaModel();
    void OnSelectPort(int n);
    void OnAbout();
    // Communication > Save Line Trace...: asks for the file, then SaveLineTraceTo.
    void OnSaveLineTrace();
    // Close, Esc and the close box: stops and joins every worker, then ends.
    // While the actuator's work would be cut short it asks first (No is the
    // default) and stays open unless the user says Yes.
    void CloseDialog();

    // Enter outside a field and a button: ends the dialog too, after the same
    // question. Unlike the cancel path this used to leave the workers running
    // into the end of the process; they are stopped here as well, since the
    // shared objects they use end with the process.
    void accept() override;
    void reject() override;

    // For the application object and the tests.
    QWidget* Control(int id) const;
    QAction* MenuCommand(int id) const;
    QMenuBar* MenuBar() const { return menuBar_; }
    QStringList StatusLines() const;
    bool RefreshTimerActive() const { return refreshTimer_.isActive(); }
    bool WorkersStarted() const { return logic_.WorkersStarted(); }
    // True once the workers were stopped and every one of them was joined.
    bool WorkersJoined() const { return logic_.WorkersJoined(); }
    bool EndedByInitialisation() const { return logic_.EndedByInitialisation(); }
    const PortSelection& Ports() const { return logic_.Ports(); }
    std::int32_t RefreshCount() const { return logic_.RefreshCount(); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintDialog(QPaintEvent* event);
    void BuildControls();
    void BuildMenu();
    void AddMenuItem(int n, const std::string& text);
    static bool IsTextField(const QWidget* widget);

    // DialogWidgets: the logic's requests, applied to the Qt widgets.
    std::int32_t SliderPosition() const override;
    std::pair<std::int32_t, std::int32_t> SliderRange() const override;
    void SetSliderPosition(std::int32_t position) override;
    bool RequestedTiltTyped() const override;
    std::string RequestedTiltText() const override;
    void ForgetTypedTilt() override;
    std::vector<std::string> ModelEntries() const override;
    std::string ModelShown() const override;
    void ShowStatusLines(const StatusPair& lines) override;
    void SetTableToolTip(const std::string& text) override;
    void ApplyControls(const ControlStates& states) override;
    void SetFieldText(int id, const std::string& text) override;
    void PrepareRunningControls() override;
    void SetRefreshTimer(bool running) override;
    void AddPortMenuItem(int n, const std::string& text) override;
    void ApplyPortMenuItem(int n, bool checked, bool enabled, const std::string& text) override;
    void ShowSoon(const MessageText& message) override;
    void EndDialog(bool accepted) override;

    app::ProcessObjects& process_;
    MessagePresenter& boxes_;
    DialogLogic logic_;

    QMenuBar* menuBar_ = nullptr;
    QWidget* client_ = nullptr;
    QPushButton* changeModelButton_ = nullptr;
    QComboBox* newModelList_ = nullptr;
    QSlider* tiltSlider_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* closeButton_ = nullptr;
    QPushButton* setTiltButton_ = nullptr;
    QListWidget* statusList_ = nullptr;
    QLineEdit* requestedTilt_ = nullptr;
    QMenu* communicationMenu_ = nullptr;
    QAction* traceSeparator_ = nullptr;
    std::map<int, QAction*> menuCommands_;

    std::unique_ptr<QtTiltSlider> sliderControl_;
    std::unique_ptr<QtModelList> modelControl_;

    QTimer refreshTimer_;
};

}  // namespace kvq::ui
