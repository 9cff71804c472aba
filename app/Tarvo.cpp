#include "app/Tarvo.h"

#include "app/AboutDlg.h"
#include "app/LiveMeterDialog.h"
#include "app/MeterDialog.h"
#include "app/MainFrm.h"
#include "app/TemplateWidgets.h"
#include "form/TarvoDoc.h"
#include "form/TarvoView.h"
#include "framework/Document.h"
#include "framework/MsgBox.h"
#include "platform/SoundPlatform.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QPalette>
#include <QSettings>
#include <QTimer>

namespace tarvo {

CTarvoApp::CTarvoApp() : recentFiles_(kRecentFileCount) {}

CTarvoApp::~CTarvoApp() = default;

std::unique_ptr<QSettings> CTarvoApp::Profile()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarvo"),
                                       QStringLiteral("Quillon"));
}

bool CTarvoApp::InitInstance(const QStringList& args)
{
    // 1. Hosting of platform controls in dialogs: Qt widgets need nothing.

    // 2. Light grey dialogs and message boxes with black text.
    SetDialogBkColor(QColor(192, 192, 192), QColor(0, 0, 0));

    // 3. The profile's recent-file list.
    LoadStdProfileSettings(kRecentFileCount);

    // 4. The single document template: document, main frame, form view.
    // The template's resource also gives the program its icon.
    QApplication::setWindowIcon(ApplicationIcon());
    doc_ = std::make_unique<CTarvoDoc>();
    frame_ = std::make_unique<CMainFrame>();
    QtFormHost& form = frame_->Form();
    if (messageBoxHook)
        form.SetMessageBoxHook(messageBoxHook);
    view_ = std::make_unique<CTarvoView>(form, *doc_);
    docTemplate_ = std::make_unique<CSingleDocTemplate>(*doc_, *view_, form);
    sound_ = SoundPlatform::CreateLazy();
    view_->SetSoundServices(&sound_->Playback(), &sound_->Recorder());

    doc_->onTitleChanged = [this] { frame_->SetDocumentTitle(doc_->GetTitle()); };
    doc_->onAddToRecentFileList = [this](const std::string& path) { AddToRecentFileList(path); };
    form.SetView(view_.get());
    frame_->SetViewCommands([this](int id) { return view_->OnCmdMsg(id); });
    frame_->SetAppCommands([this](int id) { return OnCmdMsg(id); });
    frame_->ShowRecentFiles(recentFiles_.Files());

    // 5. A new document, and the window shown.
    OnFileNew();
    frame_->show();

    // 6. The whole command line names a file to open; after "--meter" the
    // file opens straight in the Standards W&F dialog, and "--live" alone
    // opens the live meter (each once the window's events run).
    QStringList rest = args;
    const bool meter = rest.size() > 1 && rest.front() == QLatin1String("--meter");
    const bool live = rest.size() == 1 && rest.front() == QLatin1String("--live");
    if (meter || live)
        rest.removeFirst();
    const QString path = rest.join(QLatin1Char(' '));
    if (!path.isEmpty())
        OpenDocumentFile(QFile::encodeName(path).toStdString());
    if (meter && doc_ && !doc_->GetPathName().empty())
        QTimer::singleShot(0, frame_.get(), [this] { OnStandardsMeter(); });
    if (live)
        QTimer::singleShot(0, frame_.get(), [this] { OnLiveMeter(); });

    // 7. The event loop follows (Run).
    return true;
}

int CTarvoApp::Run()
{
    int code = QApplication::exec();
    int exitCode = ExitInstance();
    return code != 0 ? code : exitCode;
}

int CTarvoApp::ExitInstance()
{
    WriteRecentFiles();
    return 0;
}

void CTarvoApp::SetDialogBkColor(const QColor& background, const QColor& text)
{
    QPalette pal = QApplication::palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Window, background);
        pal.setColor(group, QPalette::Button, background);
        pal.setColor(group, QPalette::WindowText, text);
        pal.setColor(group, QPalette::ButtonText, text);
        pal.setColor(group, QPalette::Text, text);
    }
    pal.setColor(QPalette::Disabled, QPalette::Window, background);
    pal.setColor(QPalette::Disabled, QPalette::Button, background);
    QApplication::setPalette(pal);
}

void CTarvoApp::LoadStdProfileSettings(int recentFiles)
{
    recentFiles_ = CRecentFileList(recentFiles);
    recentFiles_.ReadList(*Profile());
}

void CTarvoApp::AddToRecentFileList(const std::string& path)
{
    recentFiles_.Add(QFile::decodeName(QByteArray::fromStdString(path)));
    WriteRecentFiles();
    if (frame_)
        frame_->ShowRecentFiles(recentFiles_.Files());
}

void CTarvoApp::WriteRecentFiles() const
{
    auto profile = Profile();
    recentFiles_.WriteList(*profile);
    profile->sync();
}

bool CTarvoApp::OnCmdMsg(int id)
{
    if (id >= ID_FILE_MRU_FILE1 && id < ID_FILE_MRU_FILE1 + recentFiles_.Size()) {
        OnOpenRecentFile(id - ID_FILE_MRU_FILE1);
        return true;
    }
    switch (id) {
    case ID_FILE_NEW:
        OnFileNew();
        return true;
    case ID_FILE_OPEN:
        OnFileOpen();
        return true;
    case ID_APP_ABOUT:
        OnAppAbout();
        return true;
    case ID_STANDARDSWF:
        OnStandardsMeter();
        return true;
    case ID_LIVEWF:
        OnLiveMeter();
        return true;
    default:
        return false;
    }
}

void CTarvoApp::OnFileNew()
{
    if (docTemplate_)
        docTemplate_->OnFileNew();
}

void CTarvoApp::OnFileOpen()
{
    QString path;
    if (openFileDialog) {
        path = openFileDialog();
    } else {
        const auto& strings = DocumentStrings();
        const QString filter = QString::fromStdString(strings[3]) + QStringLiteral(";;All Files (*)");
        // Qt's own dialog, as the save dialog: the same look under any
        // desktop, sized to show every column of its list.
        QFileDialog dlg(frame_.get(), QStringLiteral("Open"), QString(), filter);
        dlg.setOption(QFileDialog::DontUseNativeDialog);
        dlg.setAcceptMode(QFileDialog::AcceptOpen);
        dlg.setFileMode(QFileDialog::ExistingFile);
        ShowEveryColumn(dlg);
        if (dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty())
            path = dlg.selectedFiles().first();
    }
    if (!path.isEmpty())
        OpenDocumentFile(QFile::encodeName(path).toStdString());
}

bool CTarvoApp::OpenDocumentFile(const std::string& path)
{
    return docTemplate_ && docTemplate_->OpenDocumentFile(path);
}

void CTarvoApp::OnOpenRecentFile(int index)
{
    const QStringList& files = recentFiles_.Files();
    if (index < 0 || index >= files.size())
        return;
    if (!OpenDocumentFile(QFile::encodeName(files[index]).toStdString())) {
        // An entry that no longer opens leaves the list.
        recentFiles_.Remove(index);
        WriteRecentFiles();
        frame_->ShowRecentFiles(recentFiles_.Files());
    }
}

void CTarvoApp::OnAppAbout()
{
    CAboutDialog about(frame_.get());
    about.exec();
}

}  // namespace tarvo

namespace tarvo {

void CTarvoApp::OnStandardsMeter()
{
    const std::string path = doc_ ? doc_->GetPathName() : std::string();
    if (path.empty()) {
        frame_->Form().MessageBox("Open a recording of a test tone first.", "Standards W&F", MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    CMeterDialog dlg(path, frame_.get(), view_ ? view_->m_strComment : std::string());
    if (meterDialogHook)
        meterDialogHook(dlg);
    else
        dlg.exec();
}

void CTarvoApp::OnLiveMeter()
{
    if (liveDialog_ && liveDialog_->isVisible()) {
        liveDialog_->raise();
        liveDialog_->activateWindow();
        return;
    }
    liveDialog_.reset();
    // The input chosen in the dialog is the recorder's too.
    CLiveMeterDialog::InputFactory open = [this](const std::string& name) -> std::unique_ptr<BlockCapture> {
        if (!sound_)
            return nullptr;
        sound_->SelectInput(name);
        return sound_->OpenInputStream();
    };
    CLiveMeterDialog::InputLister list = [this] { return sound_ ? sound_->Inputs() : std::vector<SoundInput>(); };
    if (liveInputOpener)
        open = liveInputOpener;
    else if (liveInputFactory)
        open = [factory = liveInputFactory](const std::string&) { return factory(); };
    if (liveInputLister)
        list = liveInputLister;
    else if (liveInputOpener || liveInputFactory)
        list = [] { return std::vector<SoundInput>(); };
    liveDialog_ = std::make_unique<CLiveMeterDialog>(open, list, frame_.get());
    liveDialog_->show();
}

}  // namespace tarvo
