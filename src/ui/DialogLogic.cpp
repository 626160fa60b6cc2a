#include "ui/DialogLogic.h"

#include "app/Process.h"
#include "ui/DialogTexts.h"
#include "ui/Reports.h"
#include "ui/UserCommands.h"

using namespace kvq::app;

namespace kvq::ui {

namespace {

// The fields the refresh writes, in the order they are bound.
constexpr int BoundFields[] = {
    control_id::SoftwareVersion, control_id::SerialNumber, control_id::CurrentModel,
    control_id::MaxTilt,         control_id::MinTilt,      control_id::CurrentTilt,
    control_id::RequestedTilt,   control_id::PortName,     control_id::Connection,
};

}  // namespace

DialogLogic::DialogLogic(ProcessObjects& process, MessagePresenter& boxes, DialogWidgets& widgets,
                         PortListSource ports)
    : process_(process),
      boxes_(boxes),
      widgets_(widgets),
      portSource_(ports ? std::move(ports)
                        : PortListSource([] { return serial::ListSerialPorts(); })) {
    for (int id : BoundFields)
        boundText_[id] = std::string();
    if (const auto file = UserAdapterMemoryFile()) {
        adapterMemory_ = std::make_unique<AdapterMemoryFile>(*file);
        ports_.SetMemory(adapterMemory_.get());
    }
}

DialogLogic::~DialogLogic() = default;

void DialogLogic::Initialise(actuator::TiltSliderControl* slider,
                             actuator::ModelListControl* models) {
    Refresh();

    const bool modelsListed = PrepareControls(process_, slider, models);
    // Which table the models come from, and once what was wrong in it.
    widgets_.SetTableToolTip(TableToolTip(process_.antennaTable));
    const auto tableWarnings = TableWarningsBox(process_.antennaTable);
    if (!modelsListed) {
        if (tableWarnings) boxes_.Show(*tableWarnings);
        boxes_.Show(
            {ui_text::NoTableText, ui_text::NoTableCaption, MessageText::Icon::Exclamation, {}});
        return;  // no timer, no workers, no port: the user can only close the window
    }
    if (tableWarnings) widgets_.ShowSoon(*tableWarnings);

    widgets_.SetRefreshTimer(true);
    // The port is named below, once it is chosen; the link thread, a second
    // behind, waits for the name.
    StartWorkers(process_, process_.SystemContext.SelectedPortName());
    workersStarted_ = true;
    widgets_.PrepareRunningControls();

    bool noPort = false;
    if (ports_.EnumerateSerialPorts(portSource_()) == 0) {
        // Ticks under the box would only pile a port report onto this one.
        widgets_.SetRefreshTimer(false);
        boxes_.Show({ui_text::NoPortText, ui_text::NoPortCaption, MessageText::Icon::None, {}});
        noPort = true;
    }
    for (const int n : ports_.MenuPorts())
        widgets_.AddPortMenuItem(n, ports_.MenuText(n));
    ports_.InitialisePortMenu();
    ApplyPortMenu();
    process_.SystemContext.SetSelectedPortName(ports_.ChooseInitialPort());
    Bind();

    if (noPort) {
        endedByInitialisation_ = true;
        StopAllWorkers();
        widgets_.EndDialog(true);
    }
}

void DialogLogic::Refresh() {
    ++refreshCount_;
    if (const auto report = PortReportFor(refreshCount_, process_.SystemContext.PortOpened.load(),
                                          ports_.CurrentPort())) {
        widgets_.ShowSoon(WithPortReason(*report, process_));
    }

    const RefreshView view = ComputeRefresh(
        TakeRefreshSnapshot(process_, widgets_.SliderPosition(), ports_.CurrentPort()));

    if (view.statusLines && statusLines_.Accept(*view.statusLines))
        widgets_.ShowStatusLines(*view.statusLines);
    if (view.firmwareNotices != firmwareNoticesShown_) {
        firmwareNoticesShown_ = view.firmwareNotices;
        if (view.firmwareNotice) widgets_.ShowSoon(*view.firmwareNotice);
    }
    widgets_.ApplyControls(view.controls);

    boundText_[control_id::SerialNumber] = view.serialNumber;
    boundText_[control_id::SoftwareVersion] = view.softwareVersion;
    boundText_[control_id::MinTilt] = view.minTilt;
    boundText_[control_id::MaxTilt] = view.maxTilt;
    boundText_[control_id::RequestedTilt] = view.requestedTilt;
    boundText_[control_id::CurrentTilt] = view.currentTilt;
    boundText_[control_id::CurrentModel] = view.antennaModel;
    boundText_[control_id::Connection] = view.connection;
    boundText_[control_id::PortName] = view.portName;

    ports_.MarkPortMenu(view.markPort);
    ApplyPortMenu();
}

void DialogLogic::Bind() {
    for (const auto& [id, text] : boundText_) {
        // What the user is typing stays until Set Tilt or the slider takes over.
        if (id == control_id::RequestedTilt && widgets_.RequestedTiltTyped()) continue;
        widgets_.SetFieldText(id, text);
    }
}

void DialogLogic::SetTilt() {
    if (!widgets_.RequestedTiltTyped()) {
        RequestTilt(process_, widgets_.SliderPosition());
        return;
    }
    // A typed tilt: checked against the model's range before anything is sent.
    const auto [minimum, maximum] = widgets_.SliderRange();
    const TypedTilt typed = ReadTypedTilt(widgets_.RequestedTiltText(), minimum, maximum);
    if (!typed.tenths) {
        boxes_.Show(*typed.refusal);
        return;
    }
    widgets_.ForgetTypedTilt();
    widgets_.SetSliderPosition(*typed.tenths);
    RequestTilt(process_, *typed.tenths);
}

void DialogLogic::SaveLineTrace(const std::string& path) {
    if (const auto box = ui::SaveLineTrace(process_, path)) boxes_.Show(*box);
}

void DialogLogic::ChangeAntennaModel() {
    const std::vector<std::string> entries = widgets_.ModelEntries();
    // What the edit field shows is what the user means; a typed name that is
    // no entry is a model the table does not have.
    const int entry = ModelEntryShown(entries, widgets_.ModelShown());
    if (RequestModelChange(process_, entries, entry) == ModelChange::NotFound) {
        statusLines_.ShowNotice({ui_text::AntennaNotFound, ""});
        widgets_.ShowStatusLines(statusLines_.Shown());
    }
}

void DialogLogic::SelectPort(int n) {
    const auto box =
        ports_.ChangePort(n, process_.SystemContext, process_.linkStation.LinkThreadId());
    ApplyPortMenu();  // a menu's own toggle is not the check mark; the refresh places that
    if (box) boxes_.Show(WithPortReason(*box, process_));
}

void DialogLogic::Close(bool accepted) {
    if (!closeGate_.MayClose(workersStarted_ && !stopped_, process_.actuator.Snapshot(), boxes_))
        return;
    StopAllWorkers();
    widgets_.EndDialog(accepted);
}

EnterAction DialogLogic::Enter(FocusKind focus, bool enabled) {
    const EnterAction action = EnterKeyAction(focus, enabled);
    if (action == EnterAction::SetTilt) SetTilt();
    if (action == EnterAction::Close) Close(true);
    return action;
}

void DialogLogic::StopAllWorkers() {
    if (stopped_) return;
    widgets_.SetRefreshTimer(false);
    // Raises the stop flag and joins every worker within the allowance; the
    // link thread closes the port on its way out.
    joined_ = StopWorkers(process_, 1000);
    stopped_ = true;
    if (joined_) {
        // Nobody drives the controls any more.
        ReleaseControls(process_);
    }
}

void DialogLogic::ApplyPortMenu() {
    for (const int n : ports_.MenuPorts())
        widgets_.ApplyPortMenuItem(n, ports_.Item(n).checked, ports_.Item(n).enabled,
                                   ports_.MenuText(n));
}

}  // namespace kvq::ui
