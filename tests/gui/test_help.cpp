// The help commands: the manual made from the README at build time, shown in
// the help window; a manual that is not there is said.
#include "GuiTest.h"

#include "app/HelpWindow.h"

#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPushButton>
#include <QRegularExpression>
#include <QTextBrowser>
#include <QTextDocument>

namespace tarvo::test {
namespace {

QString ReadText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// The README's top-level section titles ("## ..."), fenced code left out.
QStringList ReadmeSections()
{
    QStringList titles;
    bool fenced = false;
    for (const QString& line : ReadText(QStringLiteral(TARVO_SOURCE_DIR "/README.md")).split('\n')) {
        if (line.startsWith(QStringLiteral("```")))
            fenced = !fenced;
        else if (!fenced && line.startsWith(QStringLiteral("## ")))
            titles << line.mid(3).trimmed();
    }
    return titles;
}

class Help : public AppTest {
protected:
    void StartWithManual(const QStringList& folders = {QStringLiteral(TARVO_MANUAL_DIR)})
    {
        Start();
        Frame()->SetManualFolders(folders);
    }
    QTextBrowser* Browser() const { return Frame()->Help() ? Frame()->Help()->Browser() : nullptr; }
};

TEST_F(Help, KeysAndMenuOpenTheirPageOfTheManual)
{
    struct Case {
        const char* how;
        std::function<void(CMainFrame*, bool active)> press;
        QString page, title;
    };
    const QString index = QStringLiteral("index.html"), usingHelp = QStringLiteral("using-the-help.html");
    const std::vector<Case> cases{
        {"F1",
         [](CMainFrame* f, bool active) {
             if (active)
                 QTest::keyClick(f, Qt::Key_F1);
             else
                 f->OnCommand(ID_HELP);
         },
         index, "Tarvo manual"},
        {"Help > Index", [](CMainFrame* f, bool) { f->CommandAction(ID_HELP_INDEX)->trigger(); }, index,
         "Tarvo manual"},
        {"Help > Using Help", [](CMainFrame* f, bool) { f->CommandAction(ID_HELP_USING)->trigger(); }, usingHelp,
         "Using the help - Tarvo manual"},
        {"Shift+F1",
         [](CMainFrame* f, bool active) {
             if (active)
                 QTest::keyClick(f, Qt::Key_F1, Qt::ShiftModifier);
             else
                 f->OnCommand(ID_CONTEXT_HELP);
         },
         index, "Tarvo manual"},
        {"the default help", [](CMainFrame* f, bool) { f->OnCommand(ID_DEFAULT_HELP); }, index, "Tarvo manual"},
    };
    const auto button = [this](const QString& text) {
        for (auto* b : Frame()->Help()->findChildren<QPushButton*>())
            if (b->text().remove('&') == text)
                return b;
        return static_cast<QPushButton*>(nullptr);
    };
    StartWithManual();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how);
        if (Frame()->Help())
            Frame()->Help()->close();
        c.press(Frame(), active);
        ASSERT_NE(Browser(), nullptr);
        EXPECT_TRUE(Frame()->Help()->isVisible());
        EXPECT_EQ(QFileInfo(Browser()->source().toLocalFile()).fileName(), c.page);
        EXPECT_EQ(Frame()->Help()->windowTitle(), c.title);
        if (&c == &cases.front()) {
            // The first page seen: nothing to go back or forward to.
            ASSERT_TRUE(button("Back") && button("Forward"));
            EXPECT_FALSE(button("Back")->isEnabled());
            EXPECT_FALSE(button("Forward")->isEnabled());
        }
    }
    EXPECT_TRUE(messages.empty());

    // The contents list every section; a link opens its page, Back returns.
    Frame()->CommandAction(ID_HELP_INDEX)->trigger();
    const QString contents = Browser()->toPlainText();
    for (const QString& title : ReadmeSections())
        EXPECT_TRUE(contents.contains(title)) << title.toStdString();
    QPushButton* back = button("Back");
    QPushButton* forward = button("Forward");
    ASSERT_TRUE(back && forward);
    EXPECT_FALSE(forward->isEnabled());
    Browser()->setSource(QUrl(usingHelp));
    EXPECT_EQ(Frame()->Help()->windowTitle(), "Using the help - Tarvo manual");
    EXPECT_TRUE(back->isEnabled());
    QTest::mouseClick(back, Qt::LeftButton);
    EXPECT_EQ(Frame()->Help()->windowTitle(), "Tarvo manual");
    EXPECT_TRUE(forward->isEnabled());
    // The contents' pictures are found beside the pages.
    const QVariant picture = Browser()->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("docs/window.png")));
    EXPECT_TRUE(picture.isValid() && !picture.toByteArray().isEmpty());
    // The meter's views, wider than the page, are shown scaled to fit it.
    const QImage views =
        Browser()->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("docs/meter.png"))).value<QImage>();
    EXPECT_EQ(views.width(), HelpWindow::kPictureWidth);
}

TEST_F(Help, AManualNotFoundIsSaid)
{
    const QString nowhere = QString::fromStdString((dir.Path() / "no-manual").string());
    StartWithManual({nowhere});
    // The commands are taken, and say so.
    EXPECT_TRUE(Frame()->OnCommand(ID_HELP_USING));
    EXPECT_TRUE(Frame()->OnCommand(ID_HELP));
    EXPECT_EQ(Frame()->Help(), nullptr);
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "The manual is not installed: using-the-help.html was not found in " + nowhere.toStdString() + ".");
    EXPECT_EQ(messages[1], "The manual is not installed: index.html was not found in " + nowhere.toStdString() + ".");
    EXPECT_EQ(captions[0], "Quillon");
}

// The built manual: a page for every top-level section of the README, each
// with its title as its heading, and every picture the README shows.
TEST(Manual, HoldsEveryReadmeSectionAndPicture)
{
    const QString manual = QStringLiteral(TARVO_MANUAL_DIR);
    const QStringList titles = ReadmeSections();
    ASSERT_GE(titles.size(), 5);
    ASSERT_TRUE(titles.contains("Using the help"));
    const QString index = ReadText(manual + "/index.html");
    for (const QString& title : titles) {
        const QString page = title.toLower().replace(QRegularExpression("[^a-z0-9]+"), "-") + ".html";
        const QString link = "<a href=\"" + page + "\">" + title.toHtmlEscaped() + "</a>";
        EXPECT_TRUE(index.contains(link)) << link.toStdString();
        EXPECT_TRUE(ReadText(manual + "/" + page).contains("<h2>" + title.toHtmlEscaped() + "</h2>")) << page.toStdString();
    }
    const QString readme = ReadText(QStringLiteral(TARVO_SOURCE_DIR "/README.md"));
    auto pictures = QRegularExpression(R"(!\[[^\]]*\]\(([^)\s]+)\))").globalMatch(readme);
    int count = 0;
    for (; pictures.hasNext(); ++count) {
        const QString path = pictures.next().captured(1);
        EXPECT_TRUE(QFileInfo(manual + "/" + path).size() > 0) << path.toStdString();
    }
    EXPECT_GE(count, 3);
}

}  // namespace
}  // namespace tarvo::test
