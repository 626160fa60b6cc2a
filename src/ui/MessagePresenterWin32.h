#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "ui/MessageText.h"

namespace kvq::ui {

// The text of a message box: the message, and beneath it the first lines of
// its detail, with a count of the lines left out.
std::string MessageBoxBody(const MessageText& message);
// Icon and buttons: OK, or Yes and No with No the default for a question.
UINT MessageBoxStyle(const MessageText& message);

// Shows each message as a modal box over the dialog.
class MessagePresenterWin32 final : public MessagePresenter {
public:
    // Where the owner window comes from (the dialog, once it exists).
    void SetOwner(std::function<HWND()> owner) { owner_ = std::move(owner); }
    void Show(const MessageText& message) override;
    bool Ask(const MessageText& question) override;

private:
    HWND Owner() const { return owner_ ? owner_() : nullptr; }

    std::function<HWND()> owner_;
};

}  // namespace kvq::ui
