#pragma once

#include <string>

namespace kvq::ui {

// A message box as the dialog decides it: text, caption and icon, always with
// a single OK button.
struct MessageText {
    enum class Icon { None, Information, Exclamation };
    std::string text;
    std::string caption;
    Icon icon = Icon::None;

    friend bool operator==(const MessageText&, const MessageText&) = default;
};

// Shows message boxes for the dialog. The desktop shows a modal box; tests
// record what would have been shown.
class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    virtual void Show(const MessageText& message) = 0;
};

// The text with its "%d" replaced by the number.
std::string WithNumber(const std::string& text, int number);

}  // namespace kvq::ui
