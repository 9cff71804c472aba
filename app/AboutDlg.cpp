#include "app/AboutDlg.h"

#include "app/TemplateWidgets.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"

#include <QPushButton>

namespace tarvo {

CAboutDialog::CAboutDialog(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    const DialogTemplate& tmpl = AboutTemplate();
    setWindowTitle(QString::fromStdString(tmpl.caption));
    setFont(TemplateFont(tmpl));
    setModal(true);
    for (const ControlTemplate& c : tmpl.controls) {
        QWidget* w = CreateTemplateControl(c, tmpl, this);
        if (c.id == IDOK_BUTTON)
            connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this, &QDialog::accept);
        else if (c.id == IDCANCEL_BUTTON)
            connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this, &QDialog::reject);
    }
    setFixedSize(DluSize(tmpl.cx, tmpl.cy));
}

}  // namespace tarvo
