#include "app/QtFormHost.h"

#include "app/TemplateWidgets.h"
#include "form/TarvoView.h"
#include "framework/Dialog.h"
#include "framework/MsgBox.h"
#include "framework/Utf8.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QPlainTextEdit>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPainter>
#include <QPushButton>

namespace tarvo {

namespace {

QColor ToQColor(COLORREF c) { return QColor(GetRValue(c), GetGValue(c), GetBValue(c)); }

QMessageBox::Icon IconOf(unsigned type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONSTOP:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONEXCLAMATION:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons ButtonsOf(unsigned type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return QMessageBox::Ok | QMessageBox::Cancel;
    case MB_YESNO:
        return QMessageBox::Yes | QMessageBox::No;
    default:
        return QMessageBox::Ok;
    }
}

int AnswerOf(int button)
{
    switch (button) {
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return IDOK;
    }
}

// The window of a running template dialog: its buttons, Esc and the close
// box all go to the dialog class, which decides whether it ends.
class TemplateDialogBox : public QDialog {
public:
    TemplateDialogBox(CDialog& dlg, QWidget* owner, const QtFormHost::MessageBoxHook& hook)
        : QDialog(owner, FlagsOf(dlg.Template())), dlg_(dlg)
    {
        const DialogTemplate& tmpl = dlg.Template();
        setWindowTitle(QString::fromStdString(tmpl.caption));
        setModal(true);
        controls_ = new QtFormHost(tmpl, this);
        controls_->SetMessageBoxHook(hook);
        controls_->SetCommandHandler([this](int id) { return dlg_.OnCommand(id); });
        setFixedSize(controls_->sizeHint());
        dlg_.onEnd = [this](int result) { done(result); };
    }
    ~TemplateDialogBox() override { dlg_.onEnd = nullptr; }
    QtFormHost* Controls() const { return controls_; }

    void reject() override { dlg_.OnCommand(IDCANCEL); }

protected:
    void closeEvent(QCloseEvent* event) override
    {
        dlg_.OnCommand(IDCANCEL);
        if (!dlg_.IsEnded())
            event->ignore();
    }

private:
    static Qt::WindowFlags FlagsOf(const DialogTemplate& tmpl)
    {
        Qt::WindowFlags f = Qt::Dialog;
        if (tmpl.style & DS_CAPTION) {
            f |= Qt::WindowTitleHint | Qt::CustomizeWindowHint;
            if (tmpl.style & DS_SYSMENU)
                f |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        } else {
            f |= Qt::FramelessWindowHint;
        }
        if (tmpl.style & DS_SYSMODAL)
            f |= Qt::WindowStaysOnTopHint;
        return f;
    }

    CDialog& dlg_;
    QtFormHost* controls_ = nullptr;
};

}  // namespace

int QtFormHost::RunModalDialog(CDialog& dlg)
{
    TemplateDialogBox box(dlg, window(), messageBoxHook_);
    dlg.Begin();
    dlg.Attach(box.Controls());
    dlg.OnInitDialog();
    if (!dlg.IsEnded())
        box.exec();
    // The event loop was left with the dialog still running (the program
    // is quitting): the dialog ends now, as its owner goes away.
    if (!dlg.IsEnded())
        dlg.OnOwnerClosing();
    dlg.Attach(nullptr);
    return dlg.Result();
}

std::optional<std::string> QtFormHost::GetSaveFileName(const FileDialogRequest& request)
{
    if (saveFileHook_)
        return saveFileHook_(request);
    // Qt's own dialog on every platform, so that it behaves the same under
    // any desktop (and a test can answer it).
    QFileDialog dlg(window(), request.save ? QStringLiteral("Save As") : QStringLiteral("Open"));
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dlg.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, !(request.flags & OFN_OVERWRITEPROMPT));
    // Qt's dialog has no "open as read-only" choice, so OFN_HIDEREADONLY
    // holds as it is. The names show as the filter text gives them; "*.*"
    // selects every file, with or without a dot.
    dlg.setOption(QFileDialog::HideNameFilterDetails);
    QStringList filters;
    for (const FileFilter& f : request.filters) {
        const QString pattern = f.pattern == "*.*" ? QStringLiteral("*") : QString::fromStdString(f.pattern);
        filters << QString::fromStdString(f.name) + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    if (!filters.isEmpty())
        dlg.setNameFilters(filters);
    dlg.setDefaultSuffix(QString::fromStdString(request.defaultExt));
    dlg.setDirectory(QDir::currentPath());
    dlg.selectFile(QFile::decodeName(QByteArray::fromStdString(request.fileName)));
    ShowEveryColumn(dlg);
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty())
        return std::nullopt;
    return QFile::encodeName(dlg.selectedFiles().first()).toStdString();
}

QtFormHost::QtFormHost(const DialogTemplate& tmpl, QWidget* parent) : QWidget(parent), tmpl_(tmpl)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFont(TemplateFont(tmpl_));

    QButtonGroup* group = nullptr;
    bool previousWasRadio = false;
    for (const ControlTemplate& c : tmpl_.controls) {
        QWidget* w = CreateTemplateControl(c, tmpl_, this);
        if (c.id != IDC_STATIC)
            controls_[c.id] = w;

        if (c.kind == ControlKind::RadioButton) {
            // A radio group starts at a button marked as a group's first or
            // at a button that follows another kind of control.
            if (!previousWasRadio || (c.style & CS_GROUP)) {
                group = new QButtonGroup(this);
                group->setExclusive(true);
                radioGroups_[c.id] = group;
            }
            group->addButton(static_cast<QAbstractButton*>(w), c.id);
        }
        previousWasRadio = c.kind == ControlKind::RadioButton;

        if ((c.kind == ControlKind::PushButton || c.kind == ControlKind::DefPushButton) && c.id != IDC_STATIC) {
            const int id = c.id;
            connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this, [this, id] { Dispatch(id); });
        }
    }

    // Whatever a command drew without asking for a paint is painted when the
    // event loop next waits.
    if (QAbstractEventDispatcher* d = QAbstractEventDispatcher::instance())
        connect(d, &QAbstractEventDispatcher::aboutToBlock, this, &QtFormHost::InvalidateDirty);
}

QtFormHost::~QtFormHost() = default;

QSize QtFormHost::sizeHint() const { return DluSize(tmpl_.cx, tmpl_.cy, DluScale(tmpl_)); }
QSize QtFormHost::minimumSizeHint() const { return sizeHint(); }

QWidget* QtFormHost::Control(int id) const
{
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

QButtonGroup* QtFormHost::RadioGroupOf(int firstId) const
{
    auto it = radioGroups_.find(firstId);
    return it == radioGroups_.end() ? nullptr : it->second;
}

void QtFormHost::SetView(CTarvoView* view)
{
    if (!view) {
        onCommand_ = nullptr;
        return;
    }
    onCommand_ = [view](int id) { return view->OnCmdMsg(id); };
}

void QtFormHost::Dispatch(int id)
{
    if (onCommand_)
        onCommand_(id);
    InvalidateDirty();
}

std::string QtFormHost::GetDlgItemText(int id) const
{
    QWidget* w = Control(id);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return OneLineText(e->text().toStdString());  // a pasted line break ends the text
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text().toStdString();
    if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
        // A multi-line edit's lines end in CR LF.
        QString t = m->toPlainText();
        t.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
        return t.toStdString();
    }
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return DisplayCaption(b->text().toStdString());
    return std::string();
}

void QtFormHost::SetDlgItemText(int id, const std::string& text)
{
    QWidget* w = Control(id);
    // A read-only field shows what was last written to it, so the same text
    // again is known unchanged without converting it (a command writes
    // every field after every chunk).
    auto* l = qobject_cast<QLabel*>(w);
    if (l) {
        auto [it, added] = fieldTexts_.try_emplace(id, text);
        if (!added && it->second == text)
            return;
        it->second = text;
    }
    const QString t = QString::fromStdString(text);
    // Only a text that changed needs painting while a command runs.
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        if (e->text() == t)
            return;
        e->setText(t);
    } else if (l) {
        if (l->text() == t)
            return;
        l->setText(t);
        FitTextToWidth(l, TemplateFont(tmpl_));
    } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
        QString lines = t;
        lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        m->setPlainText(lines);
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(EscapeMnemonics(t));
    } else {
        return;
    }
    changed_.insert(id);
}

int QtFormHost::GetCheckedRadio(int firstId) const
{
    const auto group = tmpl_.RadioGroup(firstId);
    for (size_t i = 0; i < group.size(); ++i)
        if (auto* b = qobject_cast<QAbstractButton*>(Control(group[i]->id)); b && b->isChecked())
            return static_cast<int>(i);
    return -1;
}

void QtFormHost::CheckRadio(int firstId, int index)
{
    const auto members = tmpl_.RadioGroup(firstId);
    QButtonGroup* group = RadioGroupOf(firstId);
    // An exclusive group cannot be left with no button checked.
    if (group)
        group->setExclusive(false);
    for (size_t i = 0; i < members.size(); ++i) {
        if (auto* b = qobject_cast<QAbstractButton*>(Control(members[i]->id))) {
            // Only a button whose state changes needs painting.
            if (b->isChecked() != (static_cast<int>(i) == index)) {
                b->setChecked(static_cast<int>(i) == index);
                changed_.insert(members[i]->id);
            }
        }
    }
    if (group)
        group->setExclusive(true);
}

void QtFormHost::LimitText(int id, int maxChars)
{
    if (auto* e = qobject_cast<QLineEdit*>(Control(id)))
        e->setMaxLength(maxChars > 0 ? maxChars : 32767);
}

void QtFormHost::ShowControl(int id, bool show)
{
    if (QWidget* w = Control(id))
        w->setVisible(show);
}

bool QtFormHost::IsControlVisible(int id) const
{
    QWidget* w = Control(id);
    return w && !w->isHidden();
}

void QtFormHost::EnableControl(int id, bool enable)
{
    if (QWidget* w = Control(id))
        w->setEnabled(enable);
}

bool QtFormHost::IsControlEnabled(int id) const
{
    QWidget* w = Control(id);
    return w && w->isEnabled();
}

void QtFormHost::SetFocus(int id)
{
    QWidget* w = Control(id);
    if (!w)
        return;
    w->setFocus(Qt::OtherFocusReason);
    // A dialog puts the whole text of an edit under the selection when it
    // gives it the focus, ready to be typed over.
    if (auto* e = qobject_cast<QLineEdit*>(w))
        e->selectAll();
}

int QtFormHost::MessageBox(const std::string& text, const std::string& caption, unsigned type)
{
    const std::string& title = caption.empty() ? std::string(kAppTitle) : caption;
    if (messageBoxHook_)
        return messageBoxHook_(text, title, type);
    QMessageBox box(IconOf(type), QString::fromStdString(title), QString::fromStdString(text), ButtonsOf(type),
                    this);
    box.setTextFormat(Qt::PlainText);
    return AnswerOf(box.exec());
}

void QtFormHost::UpdateWindow()
{
    // The controls written and the part of the surface drawn, painted and
    // flushed in one pass: a command calls this after every chunk.
    QRegion region;
    for (int id : changed_)
        if (QWidget* w = Control(id); w && w->isVisible())
            region += QRect(w->mapTo(this, QPoint(0, 0)), w->size());
    changed_.clear();

    Rect r = surface_.TakeDirty();
    if (!r.Empty())
        region += QRect(r.left, r.top, r.right - r.left, r.bottom - r.top);
    if (!region.isEmpty() && isVisible())
        repaint(region);
}

void QtFormHost::InvalidateDirty()
{
    changed_.clear();  // the widgets schedule their own paints
    Rect r = surface_.TakeDirty();
    if (!r.Empty())
        update(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
}

void QtFormHost::paintEvent(QPaintEvent* event)
{
    QPainter p(this);
    const QImage raster(reinterpret_cast<const uchar*>(surface_.Argb()), Surface::kWidth, Surface::kHeight,
                        Surface::kWidth * 4, QImage::Format_RGB32);
    const QRect area = event->rect();
    const QRect onRaster = area & raster.rect();
    if (!onRaster.isEmpty())
        p.drawImage(onRaster.topLeft(), raster, onRaster);
    // Beyond the client area's raster, when the window is enlarged.
    const QRegion outside = QRegion(area) - QRegion(raster.rect());
    for (const QRect& r : outside)
        p.fillRect(r, ToQColor(Surface::kOutside));
}

}  // namespace tarvo
