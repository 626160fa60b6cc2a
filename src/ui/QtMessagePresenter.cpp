#include "ui/QtMessagePresenter.h"

#include <QMessageBox>

namespace kvq::ui {

void QtMessagePresenter::Show(const MessageText& message) {
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    if (message.icon == MessageText::Icon::Information) icon = QMessageBox::Information;
    if (message.icon == MessageText::Icon::Exclamation) icon = QMessageBox::Warning;
    QMessageBox box(icon, QString::fromStdString(message.caption),
                    QString::fromStdString(message.text), QMessageBox::Ok, parent_.data());
    box.setTextFormat(Qt::PlainText);  // the blanks around some texts are theirs
    box.exec();
}

}  // namespace kvq::ui
