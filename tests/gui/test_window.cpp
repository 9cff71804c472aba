// The main window: its first state, the title and the one document, the
// recent files, the keys an edit must not take, saving, closing and About.
#include "GuiTest.h"

#include <QAction>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QMenuBar>

#include <filesystem>

namespace tarvo::test {
namespace {

using Window = AppTest;

TEST_F(Window, StartsWithTheFormDefaults)
{
    Start();
    EXPECT_EQ(Title(), "Untitled - Quillon");
    EXPECT_EQ(Frame()->size(), QSize(640, 420));
    EXPECT_TRUE(Radio(IDC_CHUNK256)->isChecked());
    EXPECT_EQ(Form().GetCheckedRadio(IDC_CHUNK256), 0);
    EXPECT_EQ(Edit(IDC_HIGHFREQ)->text(), "8000");
    EXPECT_EQ(Edit(IDC_LOWFREQ)->text(), "20");
    EXPECT_EQ(Edit(IDC_HIGHAMP)->text(), "5");
    EXPECT_EQ(Field(IDC_AVERFREQ)->text(), "No WAV file");
    // The template's placeholder captions are replaced at the first exchange.
    for (int id : {IDC_CHUNK, IDC_DELTAT, IDC_DISPLAYED, IDC_DURATION, IDC_WOWFLUTTER_TEXT})
        EXPECT_EQ(Field(id)->text(), "") << id;
    EXPECT_FALSE(Form().IsControlVisible(IDC_COMMENT));
    EXPECT_TRUE(messages.empty());
}

TEST_F(Window, FileThatCannotBeOpenedAtStartUpLeavesTheNewDocument)
{
    const std::string missing = (dir.Path() / "missing.wav").string();
    Start({QString::fromStdString(missing)});
    EXPECT_EQ(messages, std::vector{OpenFailedMessage(missing)});
    EXPECT_EQ(captions, std::vector<std::string>{"Quillon"});
    EXPECT_EQ(Title(), "Untitled - Quillon");
    EXPECT_TRUE(app->RecentFiles().Files().isEmpty());
}

TEST_F(Window, TitleFollowsTheOpenedFileAndAFailureKeepsTheDocument)
{
    // The shell splits the path at its blank; the program joins it again.
    const QString first = QString::fromStdString(ToneFile("my tone.wav"));
    Start({first.section(' ', 0, -2), first.section(' ', -1)});
    EXPECT_EQ(Title(), "my tone.wav - Quillon");
    EXPECT_EQ(Field(IDC_AVERFREQ)->text(), "No WAV file");  // opening reads nothing

    const std::string missing = (dir.Path() / "gone.wav").string();
    QString answer = QString::fromStdString(missing);
    app->openFileDialog = [&] { return answer; };
    if (active)
        QTest::keyClick(Frame(), Qt::Key_O, Qt::ControlModifier);
    else
        Frame()->OnCommand(ID_FILE_OPEN);
    EXPECT_EQ(messages, std::vector{OpenFailedMessage(missing)});
    EXPECT_EQ(Title(), "my tone.wav - Quillon");
    EXPECT_EQ(Path(), first.toStdString());

    const std::string second = ToneFile("second.wav");
    answer = QString::fromStdString(second);
    Frame()->CommandAction(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(Title(), "second.wav - Quillon");
    answer.clear();  // a cancelled dialog changes nothing
    Frame()->CommandAction(ID_FILE_OPEN)->trigger();
    EXPECT_EQ(Path(), second);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(Window, RecentFilesKeepTheFourLatestInTheProfile)
{
    std::vector<std::string> files;
    for (int i = 1; i <= 5; ++i)
        files.push_back(ToneFile("tone" + std::to_string(i) + ".wav"));
    Start();
    for (const std::string& f : files)
        ASSERT_TRUE(app->OpenDocumentFile(f));
    // The digits of the listed toneN.wav files, top first.
    auto order = [this] {
        std::string digits;
        for (QAction* a : Frame()->RecentFileActions()) {
            EXPECT_TRUE(a->text().startsWith(QString("&%1 ").arg(digits.size() + 1))) << a->text().toStdString();
            digits += a->text().at(a->text().size() - 5).toLatin1();
        }
        return digits;
    };
    EXPECT_EQ(order(), "5432");
    // Between the File menu's separators, above Exit.
    const QList<QAction*> items = Frame()->menuBar()->actions()[0]->menu()->actions();
    EXPECT_EQ(items.mid(2, 4), Frame()->RecentFileActions());
    EXPECT_EQ(items.value(7)->text(), "E&xit");

    Frame()->RecentFileActions()[2]->trigger();
    EXPECT_EQ(Title(), "tone3.wav - Quillon");
    EXPECT_EQ(order(), "3542");

    app.reset();
    std::filesystem::remove(files[3]);
    Start();
    EXPECT_EQ(order(), "3542");
    // An entry whose file is gone is reported and leaves the list.
    Frame()->RecentFileActions()[2]->trigger();
    EXPECT_EQ(messages, std::vector{OpenFailedMessage(files[3])});
    EXPECT_EQ(Title(), "Untitled - Quillon");
    EXPECT_EQ(order(), "352");
}

TEST_F(Window, ClipboardAndUndoKeysDoNothingInHighFreq)
{
    Start();
    if (!active)
        GTEST_SKIP() << "the window could not be activated";
    QLineEdit* high = Edit(IDC_HIGHFREQ);
    high->setFocus();
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->setText("999");
    for (QKeyCombination keys : {Qt::CTRL | Qt::Key_C, Qt::CTRL | Qt::Key_Insert, Qt::CTRL | Qt::Key_X,
                                 Qt::SHIFT | Qt::Key_Delete, Qt::CTRL | Qt::Key_V, Qt::SHIFT | Qt::Key_Insert}) {
        high->selectAll();
        QTest::keyClick(high, keys.key(), keys.keyboardModifiers());
        EXPECT_EQ(high->text(), "8000") << QKeySequence(keys).toString().toStdString();
        EXPECT_EQ(clipboard->text(), "999") << QKeySequence(keys).toString().toStdString();
    }
    // Typing works, and is not undone.
    high->selectAll();
    QTest::keyClicks(high, "4500");
    QTest::keyClick(high, Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(high, Qt::Key_Backspace, Qt::AltModifier);
    EXPECT_EQ(high->text(), "4500");
    EXPECT_EQ(QApplication::focusWidget(), high);
    EXPECT_TRUE(messages.empty());
}

TEST_F(Window, SavingLeavesTheFileAloneAndClosingAsksNothing)
{
    const std::string path = ToneFile("tone.wav");
    auto bytes = [&] {
        QFile f(QString::fromStdString(path));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    const QByteArray before = bytes();
    Start({QString::fromStdString(path)});
    Click(IDC_MAXFREQS);
    ModalGuard guard;

    QTest::keyClick(Frame(), Qt::Key_S, Qt::ControlModifier);
    Frame()->OnCommand(ID_FILE_SAVE);
    QApplication::processEvents();
    EXPECT_EQ(bytes(), before);
    EXPECT_EQ(Title(), "tone.wav - Quillon");

    EXPECT_TRUE(Frame()->close());
    EXPECT_FALSE(Frame()->isVisible());
    EXPECT_TRUE(guard.titles.isEmpty());
    EXPECT_TRUE(messages.empty());
}

TEST_F(Window, AboutBoxOpensModallyWithItsCaption)
{
    Start();
    ModalGuard guard;
    Frame()->CommandAction(ID_APP_ABOUT)->trigger();
    EXPECT_EQ(guard.titles, QStringList{"About Tarvo"});
}

}  // namespace
}  // namespace tarvo::test
