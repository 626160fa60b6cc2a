#pragma once

#include <string>

namespace kvq::ui {

// A message box as the dialog decides it: text, caption and icon, with a
// single OK button (a question has Yes and No, No the default). The detail,
// when there is one, is shown beneath the text, which stays as it is.
struct MessageText {
    enum class Icon { None, Information, Exclamation, Question };
    std::string text;
    std::string caption;
    Icon icon = Icon::None;
    std::string detail{};

    friend bool operator==(const MessageText&, const MessageText&) = default;
};

// Shows message boxes for the dialog. The desktop shows a modal box; tests
// record what would have been shown.
class MessagePresenter {
public:
    virtual ~MessagePresenter() = default;
    virtual void Show(const MessageText& message) = 0;
    // A question with Yes and No, No the default: true for Yes.
    virtual bool Ask(const MessageText& question) = 0;
};

// The text with its "%d" replaced by the number.
std::string WithNumber(const std::string& text, int number);

}  // namespace kvq::ui
