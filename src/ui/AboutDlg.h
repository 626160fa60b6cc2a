#pragma once

#include <QDialog>

namespace kvq::ui {

// The About box of Help > About...: what the tool is for and its version.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace kvq::ui
