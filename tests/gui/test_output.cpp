// The frequency data output in the window: SaveData through a real file
// dialog, the list window, the comment field, and texts that fit the form.
#include "GuiTest.h"

#include "app/AboutDlg.h"
#include "app/TemplateWidgets.h"
#include "output/FreqText.h"
#include "resources/Resources.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QTreeView>
#include <QLineEdit>
#include <QFontMetrics>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyleOptionButton>

#include <fstream>
#include <functional>
#include <sstream>

namespace tarvo::test {
namespace {

using Output = AppTest;

// Runs act on the next modal window once it is open, while command runs.
void WithModal(const std::function<void(QWidget*)>& act, const std::function<void()>& command)
{
    QTimer timer;
    bool done = false;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (QWidget* w = QApplication::activeModalWidget(); w && !done) {
            done = true;
            act(w);
        }
    });
    timer.start(20);
    command();
    EXPECT_TRUE(done);
}

TEST_F(Output, SaveDataThroughARealFileDialogWritesTheCommentAndTheTrack)
{
    Start(ToneArgs());
    View().m_localTime = [] {
        std::tm t{};
        t.tm_year = 102, t.tm_mon = 6, t.tm_mday = 4, t.tm_hour = 15, t.tm_min = 7, t.tm_sec = 9;
        return t;
    };
    Frame()->CommandAction(ID_ADDCOMMENTS)->trigger();
    ASSERT_TRUE(Edit(IDC_COMMENT)->isVisible());
    Type(IDC_COMMENT, "  deck B");
    Click(IDC_MAXFREQS);

    const std::string path = (dir.Path() / "saved").string();
    WithModal(
        [&](QWidget* w) {
            auto* dlg = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(dlg, nullptr);
            EXPECT_EQ(dlg->acceptMode(), QFileDialog::AcceptSave);
            EXPECT_EQ(dlg->defaultSuffix(), "");
            EXPECT_FALSE(dlg->testOption(QFileDialog::DontConfirmOverwrite));
            EXPECT_EQ(dlg->nameFilters(), (QStringList{"Text files(*.txt) (*.txt)", "All files (*.*) (*)"}));
            EXPECT_TRUE(dlg->selectedFiles().value(0).endsWith("/tone.TXT")) << dlg->selectedFiles().value(0).toStdString();
            // Typed into the name field, as a user would answer it.
            auto* name = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
            ASSERT_NE(name, nullptr);
            name->setText(QString::fromStdString(path));
            QMetaObject::invokeMethod(dlg, "accept");
        },
        [&] { Frame()->CommandAction(ID_SAVEDATA)->trigger(); });

    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    const std::string text = ss.str();
    const std::string head = path + "  deck B\r\n7/4/2002 03:07:09 PM\r\n22050\r\n22050\r\n256\r\n86.133 Hz\r\n";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 6 + 86);
    EXPECT_TRUE(messages.empty());
}

TEST_F(Output, SaveDataThatCannotBeWrittenSaysSoOnce)
{
    Start(ToneArgs());
    Click(IDC_MAXFREQS);
    for (const std::string& path : {(dir.Path() / "no such folder" / "out.txt").string(), std::string("/dev/full")}) {
        messages.clear();
        Form().SetSaveFileHook([&](const FileDialogRequest&) { return std::optional<std::string>(path); });
        Frame()->CommandAction(ID_SAVEDATA)->trigger();
        ASSERT_EQ(messages.size(), 1u) << path;
        EXPECT_NE(messages[0].find(path), std::string::npos) << messages[0];
    }
    Form().SetSaveFileHook(nullptr);
}

TEST_F(Output, ShowFreqsOpensTheListWindowOnceThereIsATrack)
{
    Start(ToneArgs());
    Frame()->CommandAction(ID_SHOWFREQS)->trigger();
    EXPECT_EQ(messages, std::vector<std::string>{"No Frequencies in file."});
    EXPECT_EQ(captions, std::vector<std::string>{"Quillon"});

    Click(IDC_MAXFREQS);
    QString title, list;
    bool closed = false;
    WithModal(
        [&](QWidget* w) {
            title = w->windowTitle();
            if (auto* edit = w->findChild<QPlainTextEdit*>(QStringLiteral("control1063"))) {
                list = edit->toPlainText();
                EXPECT_TRUE(edit->isReadOnly());
                // Every row stands whole on its line: nothing to scroll to.
                EXPECT_EQ(edit->horizontalScrollBar()->maximum(), 0);
            }
            QTest::keyClick(w, Qt::Key_Escape);
            closed = !w->isVisible();
        },
        [&] { Frame()->CommandAction(ID_SHOWFREQS)->trigger(); });
    EXPECT_EQ(title, "    #               (sec)              (Hz)");
    EXPECT_TRUE(closed);
    QString want = QString::fromStdString(FreqListText(View().m_dDeltaFreq, View().m_pFreqs.get(), 86));
    want.replace("\r\n", "\n");
    EXPECT_EQ(list, want);
    EXPECT_TRUE(list.startsWith("1\t0.01161\t")) << list.left(20).toStdString();
}

// The room a control gives its text, in pixels.
int Room(QWidget* w)
{
    if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        const auto element = qobject_cast<QRadioButton*>(w) ? QStyle::SE_RadioButtonContents
                                                             : QStyle::SE_PushButtonContents;
        return b->style()->subElementRect(element, &opt, b).width();
    }
    if (auto* l = qobject_cast<QLabel*>(w)) {
        // A framed label with no indent set indents its text by half an "x"
        // on the aligned side, as QLabel lays it out.
        int indent = l->indent();
        if (indent < 0)
            indent = l->frameWidth() > 0 ? QFontMetrics(l->font()).horizontalAdvance(QLatin1Char('x')) / 2 : 0;
        const bool aligned = (l->alignment() & (Qt::AlignLeft | Qt::AlignRight)) != 0;
        return l->contentsRect().width() - 2 * l->margin() - (aligned ? indent : 0);
    }
    return w->width();
}

int TextWidth(QWidget* w, const QString& text) { return QFontMetrics(w->font()).horizontalAdvance(text); }

// Every column of a file dialog's list shows its texts whole: Size, Type
// and Date Modified as wide as their widest text, the name column wider still.
void ExpectEveryColumnWhole(QFileDialog* dlg)
{
    ASSERT_NE(dlg, nullptr);
    auto* tree = dlg->findChild<QTreeView*>(QStringLiteral("treeView"));
    ASSERT_NE(tree, nullptr);
    // The folder is read in the background.
    for (int i = 0; i < 100 && tree->model()->rowCount(tree->rootIndex()) == 0; ++i)
        QTest::qWait(30);
    QTest::qWait(100);
    ASSERT_GT(tree->model()->rowCount(tree->rootIndex()), 0);
    QHeaderView* header = tree->header();
    ASSERT_EQ(header->count(), 4);
    for (int i = 1; i < header->count(); ++i) {
        EXPECT_FALSE(header->isSectionHidden(i)) << i;
        const QAbstractItemView* view = tree;  // the widest text of the column's rows
        EXPECT_GE(header->sectionSize(i), view->sizeHintForColumn(i)) << i;
        EXPECT_GE(header->sectionSize(i), header->sectionSizeHint(i)) << i;  // the column's title
    }
    EXPECT_GE(header->sectionSize(0), 30 * QFontMetrics(tree->font()).averageCharWidth());
}

void CheckAndClose(QWidget* w)
{
    auto* dlg = qobject_cast<QFileDialog*>(w);
    ExpectEveryColumnWhole(dlg);
    if (dlg)
        dlg->reject();
}

TEST_F(Output, OpenAndSaveDialogsShowEveryColumn)
{
    Start(ToneArgs());
    // A file of some size beside the tone, so the Size column has a text.
    dir.Write("big.wav", Wave8(22050, Sine(74240, 1000, 22050)));
    dir.Write("big track.txt", std::string(74240, 'x'));  // what the save dialog lists
    QDir::setCurrent(QString::fromStdString(dir.Path().string()));
    WithModal(CheckAndClose, [&] { Frame()->CommandAction(ID_SAVEDATA)->trigger(); });
    WithModal(CheckAndClose, [&] { Frame()->OnCommand(ID_FILE_OPEN); });
}

TEST_F(Output, WidestTextsFitTheirControls)
{
    Start();
    // The font's average letter matches the dialog unit the templates assume.
    EXPECT_NEAR(AverageCharWidth(TemplateFont(FormTemplate())), 6.0, 0.25);
    EXPECT_NEAR(AverageCharWidth(TemplateFont(FreqListTemplate())), 7.5, 0.3);

    struct Case {
        int id;
        QString text;
        bool inTheFormsFont;  // fits without a narrower step
    };
    const std::vector<Case> cases{
        {IDC_AVERFREQ, "No WAV file", true},     {IDC_AVERFREQ, "calculating", true},
        {IDC_AVERFREQ, "11025. Hz", true},       {IDC_DATASIZE, "1102500", true},
        {IDC_SAMPLERATE, "44100", true},         {IDC_CHUNKS, "500", true},
        {IDC_CHUNK, "500", true},                {IDC_DELTAT, "n/a msec", true},
        {IDC_DELTAT, "2.05e+006 msec", false},    {IDC_DELTAFREQ, "43.066 Hz", true},
        {IDC_WOWFLUTTER_TEXT, "1.335e-002 %rms", true},
        {IDC_DURATION, "1.25e-002 sec", false},  {IDC_DISPLAYED, "1.25e-002 sec", false},
        // The widest texts each field can hold: ten digits of Data Size (a
        // 32-bit size), the three-digit _gcvt forms with an exponent.
        {IDC_DATASIZE, "13230000", false},        {IDC_DATASIZE, "4294967295", false},
        {IDC_DATASIZE, "8888888888", false},
        {IDC_DURATION, "8.88e+008 sec", false},  {IDC_DURATION, "4.29e+009 sec", false},
        {IDC_DISPLAYED, "8.88e+008 sec", false}, {IDC_DISPLAYED, "8.88e-008 sec", false},
        {IDC_DELTAT, "8.88e+006 msec", false},   {IDC_DELTAT, "8.88e-001 msec", false},
    };
    for (const Case& c : cases) {
        Form().SetDlgItemText(c.id, c.text.toStdString());
        QLabel* field = Field(c.id);
        EXPECT_LE(TextWidth(field, c.text), Room(field)) << c.text.toStdString();
        if (c.inTheFormsFont) {
            EXPECT_EQ(field->font().stretch(), TemplateFont(FormTemplate()).stretch()) << c.text.toStdString();
        }
    }
    // Every caption of the form and the About box: buttons, radio buttons
    // and labels.
    CAboutDialog about(Frame());
    QList<QWidget*> captioned = Form().findChildren<QWidget*>() + about.findChildren<QWidget*>();
    for (QWidget* w : captioned) {
        QString text;
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            text = b->text().replace("&&", "&");
        else if (auto* l = qobject_cast<QLabel*>(w); l && ControlIdOf(l) == IDC_STATIC)
            text = l->text();
        if (!text.isEmpty()) {
            EXPECT_LE(TextWidth(w, text), Room(w)) << text.toStdString();
        }
    }
    // The Chunk Size frame shows on the card: its title fits above the buttons.
    auto* group = Form().findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_LE(TextWidth(group, group->title()) + 8, group->width());
}

}  // namespace
}  // namespace tarvo::test
