#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/ThreadMessages.h"
#include "serial/PortDiscovery.h"
#include "ui/AdapterMemory.h"
#include "ui/MessageText.h"

namespace kvq::core {
class CMainDataStore;
}  // namespace kvq::core

namespace kvq::ui {

// The Communication menu always lists COM1 to COM8 (greyed when absent), and
// after them every other port found, up to COM255.
inline constexpr int MenuPortCount = 8;
inline constexpr int MaxPortNumber = 255;
// Command ids of the menu items of COM1..COM8 (index 0 unused); 32779 is
// Help > About..., which is why COM8 has 32780.
inline constexpr std::array<int, MenuPortCount + 1> PortMenuIds = {
    0, 32772, 32773, 32774, 32775, 32776, 32777, 32778, 32780};
inline constexpr int AboutMenuId = 32779;
// Communication > Save Line Trace..., below the ports.
inline constexpr int SaveLineTraceMenuId = 32781;
// The command id of port n's menu item; ports past COM8 get ids of their own.
constexpr int PortMenuId(int n) {
    return n >= 1 && n <= MenuPortCount ? PortMenuIds[static_cast<std::size_t>(n)] : 33024 + n;
}

// "COM1" .. "COM255" for 1..255, the empty text for any other number.
std::string PortNameOf(int n);

// Marks PortOpened while a reopen is under way, so a result is never taken
// from the attempt before.
inline constexpr std::int32_t PortOpenPending = -1;

// Which ports exist, the port in use, and the state of the
// Communication menu: everything about the choice of port that is not drawing.
class PortSelection {
public:
    struct MenuItem {
        bool checked = false;
        bool enabled = true;
    };

    // Runs the port list through the registry filters: the value name says
    // "Serial", the data starts with "COM" and a decimal number follows. Every
    // entry that passes is counted; numbers 1..255 are recorded as present.
    int EnumerateSerialPorts(const std::vector<serial::SerialPortInfo>& ports);
    // Greys the menu, then enables the ports that are present.
    void InitialisePortMenu();
    // Where the adapter the user chooses is remembered; none: nowhere. The
    // memory must outlive the selection.
    void SetMemory(AdapterMemory* memory) { memory_ = memory; }
    // The port with the remembered adapter becomes the port in use when it
    // is present, whatever its number now; otherwise the lowest present
    // port; with none, COM1.
    std::string ChooseInitialPort();
    // 1..255: checks that port only; 0 or -1: unchecks and greys all; other: unchecks all.
    void MarkPortMenu(int n);
    // The ports the menu lists, in its order: 1..8, then the present ports after 8.
    std::vector<int> MenuPorts() const;

    // Switches the link to port n: nothing when n is the port in use; else the
    // new name is published, the link thread told to reopen, and the outcome
    // awaited for at most `allowance`. A port that opened is remembered by
    // its adapter (one without a known adapter forgets the last). Answers
    // the box to show.
    std::optional<MessageText> ChangePort(
        int n, core::CMainDataStore& context, core::ThreadId linkThread,
        std::chrono::milliseconds allowance = std::chrono::milliseconds(1000));

    int CurrentPort() const { return currentPort_; }
    bool Present(int n) const {
        return InMenu(n) && portPresent_[static_cast<std::size_t>(n)] == n;
    }
    const MenuItem& Item(int n) const { return menu_.at(static_cast<std::size_t>(n)); }
    // The menu text of port n: "Com 1", with the adapter behind it when
    // known, else its device: "Com 3  FTDI FT232R USB UART (A10K4TQS, 0403:6001)".
    std::string MenuText(int n) const;
    // What names port n's adapter across replugs; empty when not known.
    std::string AdapterIdentityOf(int n) const;
    // Whether port n's adapter is the one a USB spec names.
    bool MatchesAdapter(int n, const serial::UsbPortSpec& spec) const;

private:
    static bool InMenu(int n) { return n >= 1 && n <= MaxPortNumber; }

    std::vector<int> portPresent_ = std::vector<int>(MaxPortNumber + 1, 0);
    std::vector<MenuItem> menu_ = std::vector<MenuItem>(MaxPortNumber + 1);
    std::vector<std::optional<serial::SerialPortInfo>> details_ =
        std::vector<std::optional<serial::SerialPortInfo>>(MaxPortNumber + 1);
    int currentPort_ = 0;
    AdapterMemory* memory_ = nullptr;
};

// Which of the present ports carries the remembered adapter: the one whose
// identity is the remembered text, or, for a remembered USB spec, the first
// whose adapter matches it. Zero when none does (or nothing is remembered).
int PortWithAdapter(const PortSelection& ports, const std::string& remembered);

}  // namespace kvq::ui
