#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "actuator/VLX400E.h"
#include "core/Text.h"
#include "ui/MessageText.h"

namespace kvq::app {
struct ProcessObjects;
}  // namespace kvq::app

namespace kvq::ui {

using StatusPair = std::pair<std::string, std::string>;

// What the refresh reads of the shared state, taken at one moment.
struct RefreshSnapshot {
    actuator::DeviceSnapshot device;
    std::int32_t sliderPosition = 0;
    // Present when the status lines changed since the last refresh.
    std::optional<StatusPair> statusLines;
    bool isOpen = false;
    // Taken (and cleared) only while the port is open.
    bool receivedSinceAsked = false;
    std::string selectedPortName;
    std::int32_t currentPort = 0;
    std::uint32_t nowTick = 0;  // for the time a download has left
    std::string firmwarePath;   // the firmware file, as the user finds it
};

// What the dialog's commands and progress bar show.
struct ControlStates {
    bool changeModel = false;  // Change Antenna Model
    bool setTilt = false;      // Set Tilt, the slider, and typing a tilt
    // Why Set Tilt is not offered while the actuator is ready; empty otherwise.
    std::string setTiltWhyNot;
    int progress = 0;  // 0..100
    // The bar's own words (the percentage and the time left during a
    // download); empty: none.
    std::string progressText;
    bool operator==(const ControlStates&) const = default;
};

// What the dialog shows after a refresh.
struct RefreshView {
    std::optional<StatusPair> statusLines;  // rewrite the list
    ControlStates controls;
    int progress = 0;  // 0..100
    // During a download: the percentage and the time left, on the bar.
    std::string progressText;
    std::string serialNumber;
    std::string softwareVersion;
    std::string minTilt;
    std::string maxTilt;
    std::string requestedTilt;
    std::string currentTilt;
    std::string antennaModel;
    std::string connection;  // "Connected", "Disconnected" or "Port closed?"
    std::string portName;
    int markPort = 0;  // the port whose menu item carries the check mark
    // What to tell the user about the firmware: shown when firmwareNotices
    // has moved on since the last box.
    std::uint32_t firmwareNotices = 0;
    std::optional<MessageText> firmwareNotice;
};

// The two lines the status list shows. The status engine writes its lines
// whenever the device changes, so a notice the dialog writes itself ("ANTENNA
// NOT FOUND") could be overwritten before a refresh could show it. The notice
// is shown at once and stays until the engine reports something other than
// what the list showed before the notice.
class StatusListLines {
public:
    // Lines taken by a refresh: true when the list is to show them.
    bool Accept(const StatusPair& lines);
    void ShowNotice(const StatusPair& notice);
    const StatusPair& Shown() const { return shown_; }

private:
    StatusPair shown_;
    std::optional<StatusPair> before_;
};

// The refresh's decisions, from a snapshot to what is shown.
RefreshView ComputeRefresh(const RefreshSnapshot& snapshot);

// Why a firmware file was not sent, or that the actuator did not take an
// update; none when the record has neither to tell.
std::optional<MessageText> FirmwareNoticeFor(const actuator::DeviceSnapshot& device,
                                             const std::string& firmwarePath);

// The one-time report on the port, due on the fifth refresh of the run.
std::optional<MessageText> PortReportFor(std::int32_t refreshCount, std::int32_t portOpened,
                                         std::int32_t currentPort);

// Reads what the refresh needs from the shared objects; the status lines and
// the serial port's received flag are taken (cleared) on the way.
RefreshSnapshot TakeRefreshSnapshot(app::ProcessObjects& process, std::int32_t sliderPosition,
                                    std::int32_t currentPort);

}  // namespace kvq::ui
