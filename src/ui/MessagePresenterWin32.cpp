#include "ui/MessagePresenterWin32.h"

#include "ui/Reports.h"

namespace kvq::ui {

std::string MessageBoxBody(const MessageText& message) {
    if (message.detail.empty()) return message.text;
    const ShownDetail shown = DetailShown(message.detail);
    std::string body = message.text + "\n\n" + shown.lines;
    if (shown.more > 0) body += "\n... " + std::to_string(shown.more) + " more";
    return body;
}

UINT MessageBoxStyle(const MessageText& message) {
    switch (message.icon) {
        case MessageText::Icon::None:
            break;
        case MessageText::Icon::Information:
            return MB_OK | MB_ICONINFORMATION;
        case MessageText::Icon::Exclamation:
            return MB_OK | MB_ICONEXCLAMATION;
        case MessageText::Icon::Question:
            return MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2;
    }
    return MB_OK;
}

void MessagePresenterWin32::Show(const MessageText& message) {
    MessageBoxA(Owner(), MessageBoxBody(message).c_str(), message.caption.c_str(),
                MessageBoxStyle(message));
}

bool MessagePresenterWin32::Ask(const MessageText& question) {
    return MessageBoxA(Owner(), MessageBoxBody(question).c_str(), question.caption.c_str(),
                       MessageBoxStyle(question)) == IDYES;
}

}  // namespace kvq::ui
