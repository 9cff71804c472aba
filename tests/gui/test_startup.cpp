// Start-up: the window, the form's first state, the command line, the menu
// and the accelerator table.
#include "GuiTest.h"

#include "app/TemplateWidgets.h"
#include "framework/Document.h"
#include "resources/Resources.h"

#include <QAction>
#include <QButtonGroup>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QToolBar>

#include <set>

namespace tarvo::test {
namespace {

using Startup = AppTest;

TEST_F(Startup, ShowsNewDocumentWithTheFormDefaults)
{
    Start();
    EXPECT_TRUE(Frame()->isVisible());
    EXPECT_EQ(Title(), "Untitled - Quillon");
    EXPECT_EQ(Frame()->size(), QSize(640, 420));

    EXPECT_TRUE(Radio(IDC_CHUNK256)->isChecked());
    EXPECT_FALSE(Radio(IDC_CHUNK512)->isChecked());
    EXPECT_FALSE(Radio(IDC_CHUNK1024)->isChecked());
    EXPECT_FALSE(Radio(IDC_CHUNK2048)->isChecked());
    EXPECT_EQ(Form().GetCheckedRadio(IDC_CHUNK256), 0);
    EXPECT_EQ(Edit(IDC_HIGHFREQ)->text(), "8000");
    EXPECT_EQ(Edit(IDC_LOWFREQ)->text(), "20");
    EXPECT_EQ(Edit(IDC_HIGHAMP)->text(), "5");
    EXPECT_EQ(Field(IDC_AVERFREQ)->text(), "No WAV file");
    EXPECT_EQ(Field(IDC_CHUNK)->text(), "");
    // The template's placeholder captions are replaced at the first exchange.
    EXPECT_EQ(Field(IDC_DELTAT)->text(), "");
    EXPECT_EQ(Field(IDC_DISPLAYED)->text(), "");
    EXPECT_EQ(Field(IDC_DURATION)->text(), "");
    EXPECT_EQ(Field(IDC_WOWFLUTTER_TEXT)->text(), "");

    EXPECT_FALSE(Form().IsControlVisible(IDC_COMMENT));
    EXPECT_EQ(Edit(IDC_COMMENT)->maxLength(), 80);
    EXPECT_EQ(Doc().GetPathName(), "");
    EXPECT_TRUE(messages.empty());
}

TEST_F(Startup, FormIsLaidOutInDialogUnits)
{
    Start();
    // 1.5 pixels per horizontal and 1.625 per vertical unit, edges rounded.
    EXPECT_EQ(Button(IDC_GETHEADER)->geometry(), QRect(545, 0, 75, 23));    // 363, 0, 50, 14
    EXPECT_EQ(Edit(IDC_HIGHFREQ)->geometry(), QRect(471, 127, 41, 21));     // 314, 78, 27, 13
    EXPECT_EQ(Field(IDC_AVERFREQ)->geometry(), QRect(126, 340, 60, 21));    // 84, 209, 40, 13
    EXPECT_EQ(Edit(IDC_COMMENT)->geometry(), QRect(0, 0, 312, 20));        // 0, 0, 208, 12
    EXPECT_GE(Form().width(), 624);
    EXPECT_GE(Form().height(), 382);

    // Every control with an id is there and knows it.
    for (const ControlTemplate& c : FormTemplate().controls) {
        if (c.id == IDC_STATIC)
            continue;
        QWidget* w = Form().Control(c.id);
        ASSERT_NE(w, nullptr) << c.id;
        EXPECT_EQ(ControlIdOf(w), c.id);
        EXPECT_EQ(w->parentWidget(), &Form());
    }

    // Captions: the button shows a literal ampersand.
    EXPECT_EQ(Text(IDC_WOWFLUTTER), "Wow&Flutter");
    EXPECT_EQ(Button(IDC_WOWFLUTTER)->text(), "Wow&&Flutter");

    // The four chunk sizes are one exclusive group.
    QTest::mouseClick(Radio(IDC_CHUNK1024), Qt::LeftButton);
    EXPECT_EQ(Form().GetCheckedRadio(IDC_CHUNK256), 2);
    EXPECT_FALSE(Radio(IDC_CHUNK256)->isChecked());
    Form().CheckRadio(IDC_CHUNK256, -1);
    EXPECT_EQ(Form().GetCheckedRadio(IDC_CHUNK256), -1);
    Form().CheckRadio(IDC_CHUNK256, 3);
    EXPECT_TRUE(Radio(IDC_CHUNK2048)->isChecked());
}

TEST_F(Startup, CommandLineIsThePathOfOneFile)
{
    const std::string path = ToneFile("my tone.wav");
    // The shell splits the path at its blank; the program joins it again.
    const QString whole = QString::fromStdString(path);
    const qsizetype blank = whole.lastIndexOf(' ');
    Start({whole.left(blank), whole.mid(blank + 1)});

    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Doc().GetPathName(), path);
    EXPECT_EQ(Title(), "my tone.wav - Quillon");
    // Opening reads nothing: the header waits for Get Header.
    EXPECT_EQ(Field(IDC_AVERFREQ)->text(), "No WAV file");
    EXPECT_EQ(Field(IDC_SAMPLERATE)->text(), "");
    ASSERT_FALSE(app->RecentFiles().Files().isEmpty());
    EXPECT_EQ(app->RecentFiles().Files().first().toStdString(), path);
}

TEST_F(Startup, FileThatCannotBeOpenedIsReportedAndTheNewDocumentStays)
{
    const std::string missing = (dir.Path() / "missing.wav").string();
    Start({QString::fromStdString(missing)});

    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, OpenFailedMessage(missing));
    EXPECT_EQ(messages[0].caption, "Quillon");
    EXPECT_EQ(Title(), "Untitled - Quillon");
    EXPECT_EQ(Doc().GetPathName(), "");
    EXPECT_TRUE(Frame()->isVisible());
    EXPECT_TRUE(app->RecentFiles().Files().isEmpty());
}

// Menu item texts of a menu, separators as "-".
QStringList Items(QMenu* menu)
{
    QStringList items;
    for (QAction* a : menu->actions())
        items << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return items;
}

TEST_F(Startup, MenuHasTheResourceItemsInOrder)
{
    Start();
    QList<QAction*> bar = Frame()->menuBar()->actions();
    ASSERT_EQ(bar.size(), 3);
    EXPECT_EQ(bar[0]->text(), "&File");
    EXPECT_EQ(bar[1]->text(), "Edit");
    EXPECT_EQ(bar[2]->text(), "&Help");

    QMenu* file = bar[0]->menu();
    EXPECT_EQ(Items(file), (QStringList{"&Open...\tCtrl+O", "-", "Recent File", "-", "E&xit", "SaveData"}));
    EXPECT_FALSE(file->actions()[2]->isEnabled());  // the placeholder of an empty list
    EXPECT_TRUE(file->actions().last()->isEnabled());  // SaveData, whatever the template marks
    EXPECT_EQ(Items(bar[1]->menu()), (QStringList{"Add comments", "Show Freqs"}));
    EXPECT_EQ(Items(bar[2]->menu()), (QStringList{"&Index", "&Using Help", "-", "&About Tarvo..."}));

    EXPECT_EQ(Frame()->CommandAction(ID_SAVEDATA), file->actions().last());
    EXPECT_NE(Frame()->CommandAction(ID_ADDCOMMENTS), nullptr);
    EXPECT_NE(Frame()->CommandAction(ID_SHOWFREQS), nullptr);
    EXPECT_NE(Frame()->CommandAction(ID_APP_ABOUT), nullptr);

    EXPECT_EQ(Frame()->findChild<QStatusBar*>(), nullptr);
    EXPECT_EQ(Frame()->findChild<QToolBar*>(), nullptr);
}

TEST_F(Startup, EveryAcceleratorIsBoundToItsOwnKeys)
{
    Start();
    const auto& table = Accelerators();
    const auto& actions = Frame()->AcceleratorActions();
    ASSERT_EQ(actions.size(), static_cast<qsizetype>(table.size()));
    std::set<QString> seen;
    for (size_t i = 0; i < table.size(); ++i) {
        const QKeySequence keys = actions[static_cast<qsizetype>(i)]->shortcut();
        EXPECT_FALSE(keys.isEmpty()) << table[i].keys;
        EXPECT_EQ(keys.count(), 1) << table[i].keys;
        EXPECT_TRUE(seen.insert(keys.toString()).second) << table[i].keys;
        EXPECT_EQ(actions[static_cast<qsizetype>(i)]->data().toInt(), table[i].id);
    }
    auto keysOf = [&](const std::string& text) {
        for (size_t i = 0; i < table.size(); ++i)
            if (table[i].keys == text)
                return actions[static_cast<qsizetype>(i)]->shortcut();
        return QKeySequence();
    };
    EXPECT_EQ(keysOf("Ctrl+O"), QKeySequence(Qt::CTRL | Qt::Key_O));
    EXPECT_EQ(keysOf("Ctrl+Ins"), QKeySequence(Qt::CTRL | Qt::Key_Insert));
    EXPECT_EQ(keysOf("Shift+Del"), QKeySequence(Qt::SHIFT | Qt::Key_Delete));
    EXPECT_EQ(keysOf("Alt+Backspace"), QKeySequence(Qt::ALT | Qt::Key_Backspace));
    EXPECT_EQ(keysOf("Shift+F6"), QKeySequence(Qt::SHIFT | Qt::Key_F6));
}

}  // namespace
}  // namespace tarvo::test
