// The main frame: keys the accelerator table takes, New and Open on the one
// document, the recent files, closing, help and the about box.
#include "GuiTest.h"

#include "app/AboutDlg.h"
#include "app/TemplateWidgets.h"
#include "framework/Document.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

#include <filesystem>

namespace tarvo::test {
namespace {

using FrameTest = AppTest;

QByteArray Bytes(const std::string& path)
{
    QFile f(QString::fromStdString(path));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST_F(FrameTest, EditKeysOfTheAcceleratorTableDoNothingInsideAnEdit)
{
    Start();
    if (!active)
        GTEST_SKIP() << "the window could not be activated";
    QLineEdit* high = Edit(IDC_HIGHFREQ);
    high->setFocus();
    high->selectAll();
    QClipboard* clipboard = QGuiApplication::clipboard();

    clipboard->setText("sentinel");
    QTest::keyClick(high, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(high, Qt::Key_Insert, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), "sentinel");
    QTest::keyClick(high, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(high, Qt::Key_Delete, Qt::ShiftModifier);
    EXPECT_EQ(clipboard->text(), "sentinel");
    EXPECT_EQ(high->text(), "8000");

    clipboard->setText("999");
    high->selectAll();
    QTest::keyClick(high, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(high, Qt::Key_Insert, Qt::ShiftModifier);
    EXPECT_EQ(high->text(), "8000");

    // Typing still works, and the typing is not undone.
    high->selectAll();
    QTest::keyClicks(high, "4500");
    QTest::keyClick(high, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(high, Qt::Key_Backspace, Qt::AltModifier);
    QTest::keyClick(high, Qt::Key_F6);
    QTest::keyClick(high, Qt::Key_F6, Qt::ShiftModifier);
    EXPECT_EQ(high->text(), "4500");
    EXPECT_EQ(QApplication::focusWidget(), high);
    EXPECT_TRUE(messages.empty());
}

TEST_F(FrameTest, CtrlNInsideAnEditStartsANewDocumentOnTheSameView)
{
    Start({QString::fromStdString(ToneFile("tone.wav"))});
    if (!active)
        GTEST_SKIP() << "the window could not be activated";
    CTarvoView* view = app->View();
    Click(IDC_GETHEADER);
    ASSERT_NE(Field(IDC_SAMPLERATE)->text(), "");

    Edit(IDC_LOWFREQ)->setFocus();
    QTest::keyClick(Edit(IDC_LOWFREQ), Qt::Key_N, Qt::ControlModifier);

    EXPECT_EQ(Title(), "Untitled - Quillon");
    EXPECT_EQ(Doc().GetPathName(), "");
    EXPECT_EQ(app->View(), view);
    EXPECT_EQ(Field(IDC_AVERFREQ)->text(), "No WAV file");
    EXPECT_TRUE(messages.empty());
}

TEST_F(FrameTest, CtrlSNeverWritesTheOpenedFile)
{
    const std::string path = ToneFile("tone.wav");
    const QByteArray before = Bytes(path);
    Start({QString::fromStdString(path)});
    ModalGuard guard;

    QTest::keyClick(Frame(), Qt::Key_S, Qt::ControlModifier);
    Frame()->OnCommand(ID_FILE_SAVE);
    QApplication::processEvents();

    EXPECT_EQ(Bytes(path), before);
    EXPECT_TRUE(guard.titles.isEmpty());
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Title(), "tone.wav - Quillon");
}

TEST_F(FrameTest, OpenTakesTheDialogsAnswerAndAFailureKeepsTheDocument)
{
    const std::string first = ToneFile("first.wav");
    const std::string missing = (dir.Path() / "gone.wav").string();
    Start();
    QString answer = QString::fromStdString(first);
    app->openFileDialog = [&] { return answer; };

    Frame()->CommandAction(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(Title(), "first.wav - Quillon");
    EXPECT_EQ(Doc().GetPathName(), first);

    answer = QString::fromStdString(missing);
    if (active)
        QTest::keyClick(Frame(), Qt::Key_O, Qt::ControlModifier);
    else
        Frame()->OnCommand(ID_FILE_OPEN);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, OpenFailedMessage(missing));
    EXPECT_EQ(Title(), "first.wav - Quillon");
    EXPECT_EQ(Doc().GetPathName(), first);

    // A cancelled dialog changes nothing.
    answer.clear();
    Frame()->CommandAction(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(Doc().GetPathName(), first);
}

QStringList RecentTexts(CMainFrame* frame)
{
    QStringList texts;
    for (QAction* a : frame->RecentFileActions())
        texts << a->text();
    return texts;
}

TEST_F(FrameTest, RecentFilesKeepFourMostRecentFirstAndOpenFromTheMenu)
{
    std::vector<std::string> files;
    for (int i = 1; i <= 5; ++i)
        files.push_back(ToneFile("tone" + std::to_string(i) + ".wav"));
    Start();
    for (const std::string& f : files)
        ASSERT_TRUE(app->OpenDocumentFile(f));

    QStringList texts = RecentTexts(Frame());
    ASSERT_EQ(texts.size(), 4);
    EXPECT_TRUE(texts[0].startsWith("&1 ") && texts[0].endsWith("tone5.wav")) << texts[0].toStdString();
    EXPECT_TRUE(texts[3].startsWith("&4 ") && texts[3].endsWith("tone2.wav")) << texts[3].toStdString();

    // The entries stand between the File menu's separators, above Exit.
    const QList<QAction*> items = Frame()->menuBar()->actions()[0]->menu()->actions();
    ASSERT_EQ(items.size(), 9);
    EXPECT_TRUE(items[1]->isSeparator());
    EXPECT_EQ(items[2], Frame()->RecentFileActions()[0]);
    EXPECT_TRUE(items[6]->isSeparator());
    EXPECT_EQ(items[7]->text(), "E&xit");

    // The third entry opens tone3.wav and moves it to the top.
    Frame()->RecentFileActions()[2]->trigger();
    EXPECT_EQ(Title(), "tone3.wav - Quillon");
    EXPECT_TRUE(RecentTexts(Frame())[0].endsWith("tone3.wav"));

    // The list outlives the program.
    app.reset();
    std::filesystem::remove(files[3]);  // tone4.wav, now third
    messages.clear();
    Start();
    texts = RecentTexts(Frame());
    ASSERT_EQ(texts.size(), 4);
    EXPECT_TRUE(texts[0].endsWith("tone3.wav"));
    EXPECT_TRUE(texts[1].endsWith("tone5.wav"));
    EXPECT_TRUE(texts[2].endsWith("tone4.wav"));
    EXPECT_TRUE(Frame()->RecentFileActions()[2]->isEnabled());

    // An entry whose file is gone is reported and leaves the list.
    Frame()->RecentFileActions()[2]->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, OpenFailedMessage(files[3]));
    EXPECT_EQ(Title(), "Untitled - Quillon");
    texts = RecentTexts(Frame());
    ASSERT_EQ(texts.size(), 3);
    EXPECT_TRUE(texts[2].endsWith("tone2.wav"));
}

TEST_F(FrameTest, ClosingAfterAnAnalysisAsksNothing)
{
    Start({QString::fromStdString(ToneFile("tone.wav"))});
    Click(IDC_MAXFREQS);
    messages.clear();
    ModalGuard guard;

    EXPECT_TRUE(Frame()->close());
    EXPECT_FALSE(Frame()->isVisible());
    EXPECT_TRUE(guard.titles.isEmpty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(FrameTest, ExitClosesTheWindow)
{
    Start();
    ModalGuard guard;
    Frame()->CommandAction(ID_APP_EXIT)->trigger();
    EXPECT_FALSE(Frame()->isVisible());
    EXPECT_TRUE(guard.titles.isEmpty());
}

TEST_F(FrameTest, HelpCommandsShowNothing)
{
    Start();
    ModalGuard guard;
    Frame()->CommandAction(ID_HELP_INDEX)->trigger();
    Frame()->CommandAction(ID_HELP_USING)->trigger();
    QTest::keyClick(Frame(), Qt::Key_F1);
    QTest::keyClick(Frame(), Qt::Key_F1, Qt::ShiftModifier);
    QApplication::processEvents();
    EXPECT_TRUE(guard.titles.isEmpty());
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(Frame()->isVisible());
}

TEST_F(FrameTest, AboutBoxIsModalWithItsCaptionTextsAndOk)
{
    Start();
    QString title;
    QStringList texts;
    QSize size;
    bool modal = false, found = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<CAboutDialog*>(QApplication::activeModalWidget());
        if (!about)
            return;
        found = true;
        title = about->windowTitle();
        size = about->size();
        modal = about->isModal();
        for (QLabel* l : about->findChildren<QLabel*>())
            if (!l->text().isEmpty())
                texts << l->text();
        for (QPushButton* b : about->findChildren<QPushButton*>())
            if (b->text() == "OK")
                QTest::mouseClick(b, Qt::LeftButton);
    });
    ModalGuard guard;  // should OK not close it
    Frame()->CommandAction(ID_APP_ABOUT)->trigger();

    ASSERT_TRUE(found);
    EXPECT_TRUE(guard.titles.isEmpty());  // OK closed it
    EXPECT_EQ(title, "About Tarvo");
    EXPECT_TRUE(modal);
    EXPECT_EQ(size, DluSize(217, 55));
    EXPECT_TRUE(texts.contains("Tarvo Application Version 1.0"));
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

}  // namespace
}  // namespace tarvo::test
