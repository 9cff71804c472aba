// The about box, dialog 100: icon, three lines of text and OK.
#pragma once

#include <QDialog>

namespace tarvo {

class CAboutDialog : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDialog(QWidget* parent = nullptr);
};

}  // namespace tarvo
