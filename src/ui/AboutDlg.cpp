#include "ui/AboutDlg.h"

#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "ui/ApplicationIcon.h"
#include "ui/DialogTexts.h"
#include "ui/DialogUnits.h"

namespace kvq::ui {

namespace {

QLabel* AddLabel(QWidget* parent, const DialogUnits& du, int id, const char* text, int x, int y,
                 int width, int height) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setObjectName(id > 0 ? QString("ctl%1").arg(id) : QString());
    label->setProperty("controlId", id);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(du.Rect(x, y, width, height));
    return label;
}

}  // namespace

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setObjectName("aboutBox");
    setWindowTitle(ui_text::AboutTitle);
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogFont());
    const DialogUnits du(font());

    AddLabel(this, du, 1015, ui_text::AboutProduct, 11, 12, 265, 14);
    AddLabel(this, du, 1014, ui_text::AboutUse, 11, 31, 264, 25);
    AddLabel(this, du, -1, ui_text::AboutCompliance, 11, 61, 258, 22);
    AddLabel(this, du, 1016, ui_text::AboutOneActuator, 11, 88, 265, 21);

    // An icon control shows the icon at its own size, from the control's corner.
    auto* icon = new QLabel(this);
    icon->setObjectName("aboutIcon");
    icon->setPixmap(QPixmap::fromImage(ApplicationIconImage(32)));
    icon->setGeometry(du.X(65), du.Y(120), 32, 32);

    AddLabel(this, du, 1013, ui_text::AboutVersion, 95, 120, 144, 8)->setWordWrap(false);

    auto* ok = new QPushButton("OK", this);
    ok->setObjectName("ctl1");
    ok->setProperty("controlId", 1);
    ok->setDefault(true);
    ok->setGeometry(du.Rect(127, 153, 50, 14));
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    setFixedSize(du.X(287), du.Y(174));
}

}  // namespace kvq::ui
