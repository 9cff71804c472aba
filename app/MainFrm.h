// The main window: the form as its client area, the menu and the
// accelerator table of the resources, the title "<document> - Quillon".
#pragma once

#include <QKeySequence>
#include <QList>
#include <QMainWindow>
#include <QStringList>

#include <functional>
#include <string>

class QAction;
class QMenu;

namespace tarvo {

class HelpWindow;
class QtFormHost;

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 420;

    explicit CMainFrame(QWidget* parent = nullptr);
    ~CMainFrame() override;

    QtFormHost& Form() { return *form_; }

    // Command routing for the menu and the accelerators: the active view
    // first, then the frame itself, then the application object. Each
    // handler answers whether it handled the command.
    using CommandHandler = std::function<bool(int id)>;
    void SetViewCommands(CommandHandler handler) { viewCommands_ = std::move(handler); }
    void SetAppCommands(CommandHandler handler) { appCommands_ = std::move(handler); }
    bool OnCommand(int id);

    // The title: the document's, a hyphen between spaces, the application's.
    void SetDocumentTitle(const std::string& docTitle);

    // Shows the recent files in the File menu (the greyed placeholder when
    // there are none); entry i carries the command of the first entry + i.
    void ShowRecentFiles(const QStringList& files);

    // The menu item of a command, null when the menu has none.
    QAction* CommandAction(int id) const;
    QList<QAction*> RecentFileActions() const { return recentActions_; }
    const QList<QAction*>& AcceleratorActions() const { return accelerators_; }

    // The help commands open the manual's PAGE in the help window, from the
    // first of the folders that holds it (HelpWindow::DefaultFolders unless
    // set); none holding it is said in a message box.
    void SetManualFolders(const QStringList& folders) { manualFolders_ = folders; }
    void ShowHelp(const QString& page);
    HelpWindow* Help() const { return help_; }

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenu();
    void BuildAccelerators();
    QAction* NewCommandAction(const QString& text, int id, QObject* parent);
    bool OnFrameCommand(int id);
    bool IsAccelerator(const QKeySequence& keys) const;

    QtFormHost* form_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* recentEnd_ = nullptr;  // the separator after the recent files
    QList<QAction*> recentActions_;
    QList<QAction*> accelerators_;
    QList<QKeySequence> acceleratorKeys_;
    CommandHandler viewCommands_;
    CommandHandler appCommands_;
    QStringList manualFolders_;
    HelpWindow* help_ = nullptr;
};

}  // namespace tarvo
