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

std::string PortSelection::ChooseInitialPort() {
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
            const std::string device = DescribePort(*port);
            if (!device.empty()) text += "  (" + device + ")";
        }
    }
    return text;
}

}  // namespace kvq::ui
