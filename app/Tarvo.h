// The application object: starts the program, joins the document, the main
// frame and the view in the single document template, and carries the
// application's commands (New, Open, the recent files, About).
#pragma once

#include "app/QtFormHost.h"
#include "app/RecentFileList.h"
#include "sound/SoundInputs.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSettings;

namespace tarvo {

class CMainFrame;
class CSingleDocTemplate;
class SoundPlatform;
class CTarvoDoc;
class CTarvoView;

class CTarvoApp {
public:
    CTarvoApp();
    ~CTarvoApp();
    CTarvoApp(const CTarvoApp&) = delete;
    CTarvoApp& operator=(const CTarvoApp&) = delete;

    // The start-up steps, in order. args are the command-line arguments
    // after the program's name; together they are the path of a file to
    // open. Needs a QApplication.
    bool InitInstance(const QStringList& args);
    // The event loop until the main window closes, then ExitInstance.
    int Run();
    // Writes the recent-file list back to the profile.
    int ExitInstance();

    // --- Commands of the application object -------------------------------
    // Handles New, Open, the recent files and About; false for the others.
    bool OnCmdMsg(int id);
    void OnFileNew();
    void OnFileOpen();
    bool OpenDocumentFile(const std::string& path);
    void OnOpenRecentFile(int index);
    void OnAppAbout();
    // "Standards W&F...": the standards meter on the opened file.
    void OnStandardsMeter();
    // "Live W&F...": the standards meter on the sound input, non-modal; a
    // second call brings the open one forward.
    void OnLiveMeter();
    class CLiveMeterDialog* LiveMeterDialog() const { return liveDialog_.get(); }

    // --- Profile ----------------------------------------------------------
    // The application's profile: organisation "Tarvo", application "Quillon".
    static std::unique_ptr<QSettings> Profile();
    const CRecentFileList& RecentFiles() const { return recentFiles_; }

    CMainFrame* MainFrame() const { return frame_.get(); }
    CTarvoView* View() const { return view_.get(); }
    CTarvoDoc* Document() const { return doc_.get(); }

    // --- Replaceable dialogs ----------------------------------------------
    // Installed on the form at start-up in place of the modal message boxes.
    QtFormHost::MessageBoxHook messageBoxHook;
    // Asked in place of the open dialog; an empty answer cancels.
    std::function<QString()> openFileDialog;
    // Given the meter's dialog in place of running it modally.
    std::function<void(class CMeterDialog&)> meterDialogHook;
    // Asked for the live meter's input in place of the sound platform's.
    std::function<std::unique_ptr<class BlockCapture>()> liveInputFactory;
    // The same by the input's name, and the list of inputs the dialog offers
    // (none: the dialog opens the default alone).
    std::function<std::unique_ptr<class BlockCapture>(const std::string& name)> liveInputOpener;
    std::function<std::vector<SoundInput>()> liveInputLister;

private:
    void SetDialogBkColor(const QColor& background, const QColor& text);
    void LoadStdProfileSettings(int recentFiles);
    void AddToRecentFileList(const std::string& path);
    void WriteRecentFiles() const;

    CRecentFileList recentFiles_;
    // Sound outlives the view that plays through it; made on first use.
    std::unique_ptr<SoundPlatform> sound_;
    // Destroyed in reverse: the template and the view before the frame
    // whose form the view talks to.
    std::unique_ptr<CTarvoDoc> doc_;
    std::unique_ptr<CMainFrame> frame_;
    std::unique_ptr<CTarvoView> view_;
    std::unique_ptr<CSingleDocTemplate> docTemplate_;
    std::unique_ptr<class CLiveMeterDialog> liveDialog_;
};

}  // namespace tarvo
