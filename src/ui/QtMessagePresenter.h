#pragma once

#include <QPointer>
#include <QWidget>

#include "ui/MessageText.h"

namespace kvq::ui {

// Shows each message as a modal box with one OK button over its parent.
class QtMessagePresenter final : public MessagePresenter {
public:
    void SetParent(QWidget* parent) { parent_ = parent; }
    void Show(const MessageText& message) override;

private:
    QPointer<QWidget> parent_;
};

}  // namespace kvq::ui
