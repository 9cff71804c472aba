#include "app/TemplateWidgets.h"

#include "display/Bitmap.h"
#include "resources/Resources.h"

#include <QApplication>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVariant>

#include <cmath>

namespace tarvo {

namespace {

// Where the background picture carries the program's emblem.
const QRect kEmblem(25, 323, 80, 63);

int RoundX(int dlu) { return static_cast<int>(std::lround(dlu * kDluX)); }
int RoundY(int dlu) { return static_cast<int>(std::lround(dlu * kDluY)); }

}  // namespace

QImage ApplicationIconImage(int side)
{
    // The emblem of the background picture, centred on a transparent square.
    CBitmap picture;
    if (side <= 0 || !picture.LoadBitmap(BackgroundBitmap()) || picture.Width() < kEmblem.right() + 1 ||
        picture.Height() < kEmblem.bottom() + 1)
        return QImage();
    QImage emblem(kEmblem.size(), QImage::Format_RGB32);
    for (int y = 0; y < kEmblem.height(); ++y)
        for (int x = 0; x < kEmblem.width(); ++x) {
            COLORREF c = picture.Pixels()[static_cast<size_t>(kEmblem.top() + y) * picture.Width() +
                                          static_cast<size_t>(kEmblem.left() + x)];
            emblem.setPixel(x, y, qRgb(GetRValue(c), GetGValue(c), GetBValue(c)));
        }
    QImage square(side, side, QImage::Format_ARGB32);
    square.fill(Qt::transparent);
    QImage scaled = emblem.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter p(&square);
    p.drawImage((side - scaled.width()) / 2, (side - scaled.height()) / 2, scaled);
    p.end();
    return square;
}

QIcon ApplicationIcon()
{
    static const QIcon icon = [] {
        QIcon result;
        for (int side : {16, 32, 48}) {
            QImage square = ApplicationIconImage(side);
            if (square.isNull())
                return QApplication::style()->standardIcon(QStyle::SP_MediaVolume);
            result.addPixmap(QPixmap::fromImage(square));
        }
        return result;
    }();
    return icon;
}

QRect DluRect(int x, int y, int cx, int cy)
{
    int left = RoundX(x), top = RoundY(y);
    return QRect(left, top, RoundX(x + cx) - left, RoundY(y + cy) - top);
}

QSize DluSize(int cx, int cy) { return QSize(RoundX(cx), RoundY(cy)); }

QFont TemplateFont(const DialogTemplate& tmpl)
{
    // The template names a narrow sans serif; where it is missing, the
    // narrow cut of the system's sans serif keeps captions within their
    // rectangles.
    QFont font;
    font.setFamilies({QString::fromStdString(tmpl.fontName), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setStretch(QFont::SemiCondensed);
    font.setPointSize(tmpl.pointSize > 0 ? tmpl.pointSize : 8);
    return font;
}

QString ButtonText(const std::string& caption) { return QString::fromStdString(caption); }

QString EscapeMnemonics(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return out;
}

QWidget* CreateTemplateControl(const ControlTemplate& c, const DialogTemplate& tmpl, QWidget* parent)
{
    const QString caption = QString::fromStdString(DisplayCaption(c.caption));
    const Qt::Alignment hAlign = (c.style & CS_CENTER) ? Qt::AlignHCenter : Qt::AlignLeft;
    QWidget* w = nullptr;
    QRect rect = DluRect(c.x, c.y, c.cx, c.cy);

    switch (c.kind) {
    case ControlKind::GroupBox:
        w = new QGroupBox(ButtonText(c.caption), parent);
        break;
    case ControlKind::RadioButton:
        w = new QRadioButton(ButtonText(c.caption), parent);
        break;
    case ControlKind::PushButton:
    case ControlKind::DefPushButton: {
        auto* b = new QPushButton(ButtonText(c.caption), parent);
        b->setAutoDefault(false);
        b->setDefault(c.kind == ControlKind::DefPushButton);
        w = b;
        break;
    }
    case ControlKind::Label: {
        auto* l = new QLabel(caption, parent);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(hAlign | Qt::AlignTop);
        w = l;
        break;
    }
    case ControlKind::Field: {
        // A read-only static showing a member's text: its template text is
        // shown as written until the member is exchanged.
        auto* l = new QLabel(QString::fromStdString(c.caption), parent);
        l->setTextFormat(Qt::PlainText);
        l->setAlignment(hAlign | Qt::AlignVCenter);
        l->setAutoFillBackground(true);
        if (c.style & CS_DLGFRAME) {
            l->setFrameStyle(QFrame::Panel | QFrame::Raised);
            l->setLineWidth(2);
        } else if (c.style & CS_SUNKEN) {
            l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
            l->setLineWidth(1);
        } else if (c.style & CS_BORDER) {
            l->setFrameStyle(QFrame::Box | QFrame::Plain);
        }
        l->setMargin(1);
        w = l;
        break;
    }
    case ControlKind::Edit: {
        // Multi-line edits belong to the dialogs that show lists; the form's
        // edits are single-line fields.
        auto* e = new QLineEdit(parent);
        e->setFrame((c.style & (CS_BORDER | CS_SUNKEN)) != 0);
        e->setReadOnly((c.style & CS_READONLY) != 0);
        e->setAlignment(hAlign | Qt::AlignVCenter);
        e->setTextMargins(0, 0, 0, 0);
        w = e;
        break;
    }
    case ControlKind::Icon: {
        // An icon control takes the icon's own size at its position.
        auto* l = new QLabel(parent);
        const int side = QApplication::style()->pixelMetric(QStyle::PM_LargeIconSize);
        l->setPixmap(ApplicationIcon().pixmap(side, side));
        rect.setSize(QSize(side, side));
        w = l;
        break;
    }
    }

    w->setFont(TemplateFont(tmpl));
    w->setGeometry(rect);
    w->setProperty(kControlIdProperty, c.id);
    if (c.id != IDC_STATIC)
        w->setObjectName(QStringLiteral("control%1").arg(c.id));
    if (c.style & CS_HIDDEN)
        w->hide();
    return w;
}

int ControlIdOf(const QWidget* w)
{
    if (!w)
        return IDC_STATIC;
    QVariant v = w->property(kControlIdProperty);
    return v.isValid() ? v.toInt() : IDC_STATIC;
}

}  // namespace tarvo
