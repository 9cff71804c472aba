#include "app/MainFrm.h"

#include "app/HelpWindow.h"
#include "app/QtFormHost.h"
#include "app/TemplateWidgets.h"
#include "framework/MsgBox.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"

#include <QAction>
#include <QCloseEvent>
#include <QDir>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScrollArea>

namespace tarvo {

namespace {

// A long path shortened as the recent-file list shows it: the root, an
// ellipsis and as many trailing parts as fit.
QString AbbreviatedPath(const QString& path, int maxChars = 40)
{
    const QString native = QDir::toNativeSeparators(path);
    if (native.size() <= maxChars)
        return native;
    const QChar sep = QDir::separator();
    const QStringList parts = native.split(sep);
    if (parts.size() < 3)
        return native;
    const QString head = parts.first() + sep + QStringLiteral("...");
    QString tail = parts.last();
    for (int i = static_cast<int>(parts.size()) - 2; i > 0; --i) {
        QString longer = parts[i] + sep + tail;
        if (head.size() + 1 + longer.size() > maxChars)
            break;
        tail = longer;
    }
    return head + sep + tail;
}

QKeySequence KeysOf(const QKeyEvent* k)
{
    return QKeySequence(QKeyCombination(k->modifiers() & ~Qt::KeypadModifier, Qt::Key(k->key())));
}

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent), manualFolders_(HelpWindow::DefaultFolders())
{
    form_ = new QtFormHost(FormTemplate());

    // The form is the client area. Should the window be made smaller than
    // the form, it scrolls, and the plot moves with the picture.
    auto* scroller = new QScrollArea(this);
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setWidgetResizable(true);
    scroller->setWidget(form_);
    setCentralWidget(scroller);

    BuildMenu();
    BuildAccelerators();

    // The accelerator table sees the keys before the edits do: an edit
    // neither copies, pastes, cuts nor undoes on them.
    for (QLineEdit* edit : form_->findChildren<QLineEdit*>())
        edit->installEventFilter(this);

    SetDocumentTitle(DocumentStrings()[1]);
    resize(kWidth, kHeight);
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::NewCommandAction(const QString& text, int id, QObject* parent)
{
    auto* action = new QAction(text, parent);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
    return action;
}

void CMainFrame::BuildMenu()
{
    for (const MenuPopup& popup : MainMenu()) {
        QMenu* menu = menuBar()->addMenu(QString::fromStdString(popup.title));
        bool inRecentFiles = false;
        for (const MenuItem& item : popup.items) {
            if (item.id == 0) {
                QAction* sep = menu->addSeparator();
                if (inRecentFiles) {
                    recentEnd_ = sep;
                    inRecentFiles = false;
                }
                continue;
            }
            if (item.id == ID_FILE_MRU_FILE1) {
                // The recent files stand here; ShowRecentFiles fills the place.
                fileMenu_ = menu;
                inRecentFiles = true;
                continue;
            }
            // Every command of the menu has a handler, so every item is
            // enabled whatever the template marks (SaveData among them).
            QAction* action = NewCommandAction(QString::fromStdString(item.text), item.id, menu);
            menu->addAction(action);
        }
        if (inRecentFiles)
            recentEnd_ = menu->addSeparator();
    }
    ShowRecentFiles({});
}

void CMainFrame::ShowRecentFiles(const QStringList& files)
{
    if (!fileMenu_)
        return;
    for (QAction* a : recentActions_) {
        fileMenu_->removeAction(a);
        delete a;
    }
    recentActions_.clear();

    if (files.isEmpty()) {
        QAction* placeholder = NewCommandAction(QStringLiteral("Recent File"), ID_FILE_MRU_FILE1, fileMenu_);
        placeholder->setEnabled(false);
        recentActions_.append(placeholder);
    } else {
        for (int i = 0; i < files.size(); ++i) {
            const QString text =
                QStringLiteral("&%1 %2").arg(i + 1).arg(EscapeMnemonics(AbbreviatedPath(files[i])));
            QAction* entry = NewCommandAction(text, ID_FILE_MRU_FILE1 + i, fileMenu_);
            entry->setToolTip(files[i]);
            recentActions_.append(entry);
        }
    }
    fileMenu_->insertActions(recentEnd_, recentActions_);
}

void CMainFrame::BuildAccelerators()
{
    for (const Accelerator& acc : Accelerators()) {
        const QKeySequence keys = QKeySequence::fromString(QString::fromStdString(acc.keys), QKeySequence::PortableText);
        QAction* action = NewCommandAction(QString::fromStdString(acc.keys), acc.id, this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        addAction(action);
        accelerators_.append(action);
        acceleratorKeys_.append(keys);
    }
}

QAction* CMainFrame::CommandAction(int id) const
{
    for (QMenu* menu : menuBar()->findChildren<QMenu*>())
        for (QAction* a : menu->actions())
            if (!a->isSeparator() && a->data().isValid() && a->data().toInt() == id)
                return a;
    return nullptr;
}

bool CMainFrame::IsAccelerator(const QKeySequence& keys) const { return acceleratorKeys_.contains(keys); }

bool CMainFrame::OnCommand(int id)
{
    bool handled = (viewCommands_ && viewCommands_(id)) || OnFrameCommand(id) || (appCommands_ && appCommands_(id));
    form_->InvalidateDirty();
    return handled;
}

bool CMainFrame::OnFrameCommand(int id)
{
    switch (id) {
    case ID_APP_EXIT:
        close();
        return true;
    case ID_FILE_SAVE:
        // Saving would write the document over the opened WAVE file: the
        // command is taken and does nothing.
        return true;
    case ID_HELP_USING:
        ShowHelp(QString::fromUtf8(HelpWindow::kUsingHelpPage));
        return true;
    case ID_HELP_INDEX:
    case ID_HELP:
    case ID_CONTEXT_HELP:
    case ID_DEFAULT_HELP:
        ShowHelp(QString::fromUtf8(HelpWindow::kIndexPage));
        return true;
    default:
        return false;
    }
}

void CMainFrame::ShowHelp(const QString& page)
{
    const QString folder = HelpWindow::FindPage(manualFolders_, page);
    if (folder.isEmpty()) {
        // Said, never nothing: where the manual was looked for.
        const QString text = QStringLiteral("The manual is not installed: %1 was not found in %2.")
                                 .arg(page, manualFolders_.join(QStringLiteral(" or ")));
        form_->MessageBox(text.toStdString(), kAppTitle, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (!help_)
        help_ = new HelpWindow(this);
    help_->ShowPage(folder, page);
}

void CMainFrame::SetDocumentTitle(const std::string& docTitle)
{
    QString title = QString::fromStdString(docTitle) + QStringLiteral(" - ") + QString::fromUtf8(kAppTitle);
    // "[*]" is the placeholder of the modified mark; a literal one is doubled.
    title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    setWindowTitle(title);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // The document is never modified: closing asks nothing.
    event->accept();
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsAccelerator(KeysOf(key))) {
            // Not accepting the override leaves the key to the accelerator;
            // a key press that still arrives is swallowed.
            event->ignore();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

}  // namespace tarvo
