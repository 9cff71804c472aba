// Qt widgets built from a dialog template: the same table of controls that
// the windowless host reads, laid out at the template's dialog units.
#pragma once

#include "framework/Templates.h"

#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

#include <string>

class QFileDialog;
class QIcon;
class QImage;
class QWidget;

namespace tarvo {

// The property every widget built from a template carries: its control id
// (IDC_STATIC for labels and frames).
inline constexpr const char* kControlIdProperty = "controlId";

// A rectangle in dialog units as pixels; the edges are rounded, so controls
// that touch in the template touch on the screen.
// A template of a larger font has larger units: scale is its point size
// over 8 (DluScale).
QRect DluRect(int x, int y, int cx, int cy, double scale = 1.0);
QSize DluSize(int cx, int cy, double scale = 1.0);
double DluScale(const DialogTemplate& tmpl);

// The template's font at its point size, stretched so that its average
// letter is four horizontal dialog units wide.
QFont TemplateFont(const DialogTemplate& tmpl);
// The average width of the 52 letters in font, in pixels.
double AverageCharWidth(const QFont& font);
// Gives a label a narrower step of base when its text would not fit its
// width otherwise, and base again when it does.
void FitTextToWidth(QWidget* w, const QFont& base);

// Sizes a file dialog (Qt's own) so that its list shows a long name beside
// the Size, Type and Date Modified columns in full, within the screen.
void ShowEveryColumn(QFileDialog& dlg);

// A caption as a Qt button text. Both conventions mark a mnemonic with "&"
// and write a literal "&" as "&&", so the template text carries over.
QString ButtonText(const std::string& caption);
// Literal text as a Qt button text: every "&" doubled.
QString EscapeMnemonics(const QString& text);

// Creates the widget of one control as a child of parent, placed at its
// template rectangle, with the template's font and the control id property.
// Radio buttons are not grouped here; the caller groups them.
QWidget* CreateTemplateControl(const ControlTemplate& c, const DialogTemplate& tmpl, QWidget* parent);

// The program's icon: the emblem of the background picture.
QIcon ApplicationIcon();
// The icon as a side x side image (null when the picture cannot be read);
// also what the installed hicolor icons are made from.
QImage ApplicationIconImage(int side);

// The control id a widget was built with, IDC_STATIC when it has none.
int ControlIdOf(const QWidget* w);

}  // namespace tarvo
