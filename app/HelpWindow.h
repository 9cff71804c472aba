// The program's manual in a window of its own: the HTML pages made from the
// README at build time, read with a text browser (so the manual opens
// without a web browser, and on any Qt platform), with Contents, Back and
// Forward. Links to the web open in the desktop's browser.
#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>

class QPushButton;
class QTextBrowser;

namespace tarvo {

class HelpWindow : public QWidget {
    Q_OBJECT

public:
    static constexpr const char* kIndexPage = "index.html";
    static constexpr const char* kUsingHelpPage = "using-the-help.html";
    // The widest a picture is shown; the window's first size shows it whole.
    static constexpr int kPictureWidth = 760;

    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows PAGE of the manual in FOLDER, brings the window up.
    void ShowPage(const QString& folder, const QString& page);

    QTextBrowser* Browser() const { return browser_; }

    // Where the manual is looked for, in order: beside the program (a build
    // tree), then the installed data folder (share/tarvo/manual).
    static QStringList DefaultFolders();
    // The first of FOLDERS holding PAGE; empty when none does.
    static QString FindPage(const QStringList& folders, const QString& page);

private:
    void UpdateTitle();

    QTextBrowser* browser_ = nullptr;
    QPushButton* contents_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* forward_ = nullptr;
    QString folder_;
};

}  // namespace tarvo
