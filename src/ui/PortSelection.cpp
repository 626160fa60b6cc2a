#include "ui/PortSelection.h"

#include <thread>

#include "ui/DialogTexts.h"
#include "core/MainDataStore.h"

using namespace kvq::core;
using namespace kvq::serial;

namespace kvq::ui {

std::string WithNumber(const std::string& text, int number) {
    std::string result = text;
    if (const auto at = result.find("%d"); at != std::string::npos)
        result.replace(at, 2, std::to_string(number));
    return result;
}

std::string PortNameOf(int n) {
    if (n < 1 || n > MaxPortNumber) return {};
    return "COM" + std::to_string(n);
}

int PortSelection::EnumerateSerialPorts(const std::vector<SerialPortInfo>& ports) {
    int count = 0;
    for (const auto& port : ports) {
        const auto number = ListedPortNumber(port);
        if (!number) continue;
        ++count;
        if (InMenu(*number)) {
            portPresent_[static_cast<std::size_t>(*number)] = *number;
            if (!details_[static_cast<std::size_t>(*number)])
                details_[static_cast<std::size_t>(*number)] = port;
        }
    }
    return count;
}

void PortSelection::InitialisePortMenu() {
    MarkPortMenu(-1);
    for (int n = 1; n <= MaxPortNumber; ++n) {
        if (Present(n)) menu_[static_cast<std::size_t>(n)].enabled = true;
    }
}

int PortWithAdapter(const PortSelection& ports, const std::string& remembered) {
    if (remembered.empty()) return 0;
    std::optional<UsbPortSpec> spec;
    if (IsUsbPortSpec(remembered)) {
        std::string ignored;
        spec = ParseUsbPortSpec(remembered, ignored);
    }
    for (int n = 1; n <= MaxPortNumber; ++n) {
        if (!ports.Present(n)) continue;
        if (ports.AdapterIdentityOf(n) == remembered) return n;
        if (spec && ports.MatchesAdapter(n, *spec)) return n;
    }
    return 0;
}

std::string PortSelection::ChooseInitialPort() {
    if (memory_) {
        if (const int n = PortWithAdapter(*this, memory_->Recall()); n != 0) {
            currentPort_ = n;
            return PortNameOf(n);
        }
    }
    for (int n = 1; n <= MaxPortNumber; ++n) {
        if (Present(n)) {
            currentPort_ = n;
            return PortNameOf(n);
        }
    }
    currentPort_ = 1;
    return "COM1";
}

void PortSelection::MarkPortMenu(int n) {
    for (int i = 1; i <= MaxPortNumber; ++i)
        menu_[static_cast<std::size_t>(i)].checked = i == n;
    if (n == 0 || n == -1) {
        for (int i = 1; i <= MaxPortNumber; ++i)
            menu_[static_cast<std::size_t>(i)].enabled = false;
    }
}

std::vector<int> PortSelection::MenuPorts() const {
    std::vector<int> ports;
    for (int n = 1; n <= MaxPortNumber; ++n) {
        if (n <= MenuPortCount || Present(n)) ports.push_back(n);
    }
    return ports;
}

std::optional<MessageText> PortSelection::ChangePort(int n, CMainDataStore& context,
                                                     ThreadId linkThread,
                                                     std::chrono::milliseconds allowance) {
    if (n == currentPort_) return std::nullopt;
    context.SetSelectedPortName(PortNameOf(n));
    // Only the reopen asked for now may answer, not the open before it.
    context.PortOpened.store(PortOpenPending);
    if (PostThreadMessage(linkThread, MsgReopenPort)) {
        const auto end = std::chrono::steady_clock::now() + allowance;
        while (context.PortOpened.load() == PortOpenPending &&
               std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    // Not posted (no link thread yet): the link opens the new name when it starts.
    if (context.PortOpened.load() == 1) {
        currentPort_ = n;
        if (memory_) {
            const std::string identity = AdapterIdentityOf(n);
            // Nothing to forget when nothing is kept: no file for it.
            if (!identity.empty() || !memory_->Recall().empty()) memory_->Remember(identity);
        }
        return MessageText{WithNumber(ui_text::PortChangedText, n), ui_text::PortSuccessCaption,
                           MessageText::Icon::Information, {}};
    }
    return MessageText{ui_text::PortProblemText, ui_text::PortProblemCaption,
                       MessageText::Icon::Information, {}};
}

std::string PortSelection::MenuText(int n) const {
    std::string text = "Com " + std::to_string(n);
    if (InMenu(n)) {
        if (const auto& port = details_[static_cast<std::size_t>(n)]) {
            if (const std::string adapter = DescribeAdapter(*port); !adapter.empty()) {
                text += "  " + adapter;
            } else if (!port->devicePath.empty()) {
                text += "  (" + port->devicePath + ")";
            }
        }
    }
    return text;
}

std::string PortSelection::AdapterIdentityOf(int n) const {
    if (!InMenu(n)) return {};
    const auto& port = details_[static_cast<std::size_t>(n)];
    return port ? AdapterIdentity(*port) : std::string();
}

bool PortSelection::MatchesAdapter(int n, const UsbPortSpec& spec) const {
    if (!InMenu(n)) return false;
    const auto& port = details_[static_cast<std::size_t>(n)];
    return port && MatchesUsbPortSpec(spec, *port);
}

}  // namespace kvq::ui
