#include "ui/QtMessagePresenter.h"

#include <QLabel>
#include <QMessageBox>
#include <QStringList>

#include "ui/Reports.h"

namespace kvq::ui {

std::unique_ptr<QMessageBox> MakeMessageBox(const MessageText& message, QWidget* parent) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if (message.icon == MessageText::Icon::Information) icon = QMessageBox::Information;
    if (message.icon == MessageText::Icon::Exclamation) icon = QMessageBox::Warning;
    if (message.icon == MessageText::Icon::Question) icon = QMessageBox::Question;
    const bool question = message.icon == MessageText::Icon::Question;
    auto box = std::make_unique<QMessageBox>(
        icon, QString::fromStdString(message.caption), QString::fromStdString(message.text),
        question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, parent);
    box->setObjectName("messageBox");
    box->setTextFormat(Qt::PlainText);  // the blanks around some texts are theirs
    if (question) {
        box->setDefaultButton(QMessageBox::No);
        box->setEscapeButton(QMessageBox::No);
    }
    if (!message.detail.empty()) {
        // The first lines in the box, all of them behind the button.
        const ShownDetail shown = DetailShown(message.detail);
        QString lines = QString::fromStdString(shown.lines);
        if (shown.more > 0) {
            lines += QString("\n... %1 more (Show Details...)").arg(shown.more);
            box->setDetailedText(QString::fromStdString(message.detail));
        }
        box->setInformativeText(lines);
        // File contents in a warning are never markup.
        if (auto* label = box->findChild<QLabel*>("qt_msgbox_informativelabel"))
            label->setTextFormat(Qt::PlainText);
    }
    return box;
}

void QtMessagePresenter::Show(const MessageText& message) {
    MakeMessageBox(message, parent_.data())->exec();
}

bool QtMessagePresenter::Ask(const MessageText& question) {
    return MakeMessageBox(question, parent_.data())->exec() == QMessageBox::Yes;
}

}  // namespace kvq::ui
