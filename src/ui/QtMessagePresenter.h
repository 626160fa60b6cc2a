#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "ui/MessageText.h"

class QMessageBox;

namespace kvq::ui {

// The box for a message, as the desktop shows it (and the screenshots take it):
// one OK button, or Yes and No with No the default for a question. A long
// detail shows its first lines and the rest behind "Show Details...".
std::unique_ptr<QMessageBox> MakeMessageBox(const MessageText& message, QWidget* parent);

// Shows each message as a modal box over its parent.
class QtMessagePresenter final : public MessagePresenter {
public:
    void SetParent(QWidget* parent) { parent_ = parent; }
    void Show(const MessageText& message) override;
    bool Ask(const MessageText& question) override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace kvq::ui
