#include "app/TemplateWidgets.h"

#include "display/Bitmap.h"
#include "resources/Resources.h"

#include <QApplication>
#include <QFileDialog>
#include <QHeaderView>
#include <QScreen>
#include <QTreeView>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

namespace tarvo {

namespace {

// Where the background picture carries the program's emblem.
const QRect kEmblem(25, 323, 80, 63);

int RoundX(int dlu, double scale) { return static_cast<int>(std::lround(dlu * kDluX * scale)); }
int RoundY(int dlu, double scale) { return static_cast<int>(std::lround(dlu * kDluY * scale)); }

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

QRect DluRect(int x, int y, int cx, int cy, double scale)
{
    int left = RoundX(x, scale), top = RoundY(y, scale);
    return QRect(left, top, RoundX(x + cx, scale) - left, RoundY(y + cy, scale) - top);
}

QSize DluSize(int cx, int cy, double scale) { return QSize(RoundX(cx, scale), RoundY(cy, scale)); }

double DluScale(const DialogTemplate& tmpl) { return tmpl.pointSize > 0 ? tmpl.pointSize / 8.0 : 1.0; }

double AverageCharWidth(const QFont& font)
{
    // The average over the 52 letters, as dialog units are measured.
    static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    return QFontMetricsF(font).horizontalAdvance(letters) / 52.0;
}

QFont TemplateFont(const DialogTemplate& tmpl)
{
    // The template's font where it exists; otherwise Liberation Sans (the
    // metrics of the sans serif the templates were drawn with), and the
    // system's sans serif when even that is missing. Whichever is found is
    // stretched so that its average letter is four horizontal dialog units
    // wide at the template's size (6 px at 8 points): then every caption
    // takes the room its rectangle was drawn for.
    const int points = tmpl.pointSize > 0 ? tmpl.pointSize : 8;
    const QString family = QString::fromStdString(tmpl.fontName);
    static std::map<std::pair<QString, int>, QFont> cache;
    auto it = cache.find({family, points});
    if (it != cache.end())
        return it->second;

    QFont font;
    font.setFamilies({family, QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("Arimo"), QStringLiteral("Sans Serif")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(points);
    const double target = 4.0 * kDluX * points / 8.0;
    const double natural = AverageCharWidth(font);
    if (natural > 0)
        font.setStretch(std::clamp(static_cast<int>(std::lround(100.0 * target / natural)), 50, 150));
    cache.emplace(std::make_pair(family, points), font);
    return font;
}

void FitTextToWidth(QWidget* w, const QFont& base)
{
    QString text;
    int room = 0;
    if (auto* l = qobject_cast<QLabel*>(w)) {
        text = l->text();
        room = l->contentsRect().width() - 2 * l->margin();
    } else {
        return;
    }
    QFont font = base;
    int stretch = base.stretch() > 0 ? base.stretch() : 100;
    // Narrower steps of the same font until the whole text fits.
    while (stretch > 40 && QFontMetrics(font).horizontalAdvance(text) > room) {
        stretch -= 2;
        font.setStretch(stretch);
    }
    if (w->font() != font)
        w->setFont(font);
}

void ShowEveryColumn(QFileDialog& dlg)
{
    const QFontMetrics fm(dlg.font());
    QSize size(fm.averageCharWidth() * 130, fm.height() * 32);
    if (const QScreen* screen = dlg.screen())
        size = size.boundedTo(screen->availableGeometry().size());
    dlg.resize(size);
    // The name takes the room left; the other columns as much as their
    // texts need ("72.5 KiB", "wav File", a whole date and time).
    if (auto* tree = dlg.findChild<QTreeView*>(QStringLiteral("treeView"))) {
        QHeaderView* header = tree->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int i = 1; i < header->count(); ++i)
            header->setSectionResizeMode(i, QHeaderView::ResizeToContents);
    }
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
    QRect rect = DluRect(c.x, c.y, c.cx, c.cy, DluScale(tmpl));

    switch (c.kind) {
    case ControlKind::GroupBox: {
        // A frame drawn in the text colour, so that it shows on the
        // picture's grey card as well as on the dialog grey.
        auto* g = new QGroupBox(ButtonText(c.caption), parent);
        g->setFlat(false);
        g->setStyleSheet(QStringLiteral("QGroupBox { border: 1px solid #404040; margin-top: 0.5em; }"
                                        "QGroupBox::title { subcontrol-origin: margin; left: 4px; padding: 0 1px; }"));
        w = g;
        break;
    }
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
        // A framed label would otherwise indent its text by half an "x" on
        // the aligned side, room the field's widest texts need.
        l->setIndent(0);
        w = l;
        break;
    }
    case ControlKind::Edit: {
        if (c.style & CS_MULTILINE) {
            // A list: read-only lines with the platform's default tab stops
            // (every 32 dialog units) and a vertical scroll bar.
            auto* m = new QPlainTextEdit(parent);
            m->setReadOnly((c.style & CS_READONLY) != 0);
            m->setLineWrapMode(QPlainTextEdit::NoWrap);
            m->setTabStopDistance(32 * kDluX * DluScale(tmpl));
            m->setVerticalScrollBarPolicy((c.style & CS_VSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
            m->setFrameStyle((c.style & CS_BORDER) ? (QFrame::Box | QFrame::Plain) : QFrame::NoFrame);
            w = m;
            break;
        }
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
