// The form on real widgets: the range checks as a user meets them, what a
// second document keeps, painting while a command runs, and the plot, which
// is the picture tarvo-cli writes for the same commands on the same file.
#include "GuiTest.h"

#include <QImage>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPixmap>
#include <QProcess>

namespace tarvo::test {
namespace {

using FormTest = AppTest;

TEST_F(FormTest, RangeChecksThroughMaxFreqsStopAtTheFirstRefusedField)
{
    // One user's session: each row types High and Low Freq and presses Max
    // Freqs, which reads the form first and leaves High Freq as typed. A
    // refused field takes the focus; a field after it is not read.
    struct Row {
        QString high, low;
        std::string prompt;  // empty: accepted
        int focus;
        double highMember, lowMember;
    };
    const Row rows[] = {
        {"12000", "0", "", 0, 12000, 0},
        {"12000.5", "300", PromptRange(2000, 12000), IDC_HIGHFREQ, 12000.5, 0},
        {"6000", "-1", PromptRange(0, 10000), IDC_LOWFREQ, 6000, -1},
        {"", "20", PromptNotANumber(), IDC_HIGHFREQ, 6000, -1},
    };
    Start(ToneArgs());
    for (const Row& row : rows) {
        SCOPED_TRACE(("High Freq \"" + row.high + "\", Low Freq \"" + row.low + "\"").toStdString());
        messages.clear();
        Type(IDC_HIGHFREQ, row.high);
        Type(IDC_LOWFREQ, row.low);
        Click(IDC_MAXFREQS);
        if (row.prompt.empty()) {
            EXPECT_TRUE(messages.empty());
        } else {
            EXPECT_EQ(messages, std::vector{row.prompt});
            EXPECT_EQ(captions.back(), "Quillon");
            EXPECT_EQ(Frame()->focusWidget(), Edit(row.focus));
        }
        EXPECT_EQ(View().m_dHighFreq, row.highMember);
        EXPECT_EQ(View().m_dLowFreq, row.lowMember);
        EXPECT_EQ(View().m_dHighAmp, 5.0);
    }
}

TEST_F(FormTest, SecondFileKeepsChunkSizeBandThresholdAndComment)
{
    Start(ToneArgs());
    QTest::mouseClick(Radio(IDC_CHUNK512), Qt::LeftButton);
    Type(IDC_HIGHFREQ, "6000");
    Type(IDC_LOWFREQ, "100");
    Type(IDC_HIGHAMP, "7");
    Form().ShowControl(IDC_COMMENT, true);
    Type(IDC_COMMENT, "first take");
    Click(IDC_MAXFREQS);
    ASSERT_TRUE(messages.empty()) << messages.front();
    ASSERT_NE(Field(IDC_CHUNK)->text(), "");

    ASSERT_TRUE(app->OpenDocumentFile(ToneFile("second.wav")));
    EXPECT_EQ(Title(), "second.wav - Quillon");
    EXPECT_EQ(Form().GetCheckedRadio(IDC_CHUNK256), 1);
    EXPECT_EQ(Edit(IDC_HIGHFREQ)->text(), "6000");
    EXPECT_EQ(Edit(IDC_LOWFREQ)->text(), "100");
    EXPECT_EQ(Edit(IDC_HIGHAMP)->text(), "7");
    EXPECT_EQ(Edit(IDC_COMMENT)->text(), "first take");
    EXPECT_EQ(Field(IDC_AVERFREQ)->text(), "No WAV file");
    EXPECT_EQ(Field(IDC_CHUNK)->text(), "");
    EXPECT_TRUE(messages.empty());
}

// Counts the paint events a widget receives and the area they cover.
class PaintCounter : public QObject {
public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    int count = 0;
    QRegion area;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) {
            ++count;
            area += static_cast<QPaintEvent*>(e)->region();
        }
        return false;
    }
};

TEST_F(FormTest, PastedLineBreakEndsTheCommentAsInAOneLineEdit)
{
    Start();
    Form().ShowControl(IDC_COMMENT, true);
    Edit(IDC_COMMENT)->setFocus();
    Edit(IDC_COMMENT)->insert(QStringLiteral("take 2\nSample Rate: 99999"));  // as a paste puts it
    EXPECT_EQ(Form().GetDlgItemText(IDC_COMMENT), "take 2");
    View().UpdateData(true);
    EXPECT_EQ(View().m_strComment, "take 2");
}

TEST_F(FormTest, UpdateWindowPaintsAtOnceSoMaxFreqsShowsItsProgress)
{
    Start(ToneArgs(44100));
    QApplication::processEvents();
    PaintCounter form(&Form()), chunk(Field(IDC_CHUNK));

    // Painting takes no input and runs no timer.
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    QCoreApplication::postEvent(Edit(IDC_HIGHFREQ), new QKeyEvent(QEvent::KeyPress, Qt::Key_9, Qt::NoModifier, "9"));
    Form().ClientSurface().SetPixel(100, 100, RGB(255, 0, 0));
    Form().SetDlgItemText(IDC_CHUNK, "7");
    Form().UpdateWindow();
    EXPECT_TRUE(form.area.contains(QPoint(100, 100)));
    EXPECT_GE(chunk.count, 1);
    EXPECT_FALSE(timerRan);
    EXPECT_EQ(Edit(IDC_HIGHFREQ)->text(), "8000");
    const int before = form.count;  // nothing changed since: nothing painted
    Form().UpdateWindow();
    EXPECT_EQ(form.count, before);
    QApplication::processEvents();
    EXPECT_TRUE(timerRan);

    // 172 chunks, each shown as it is done.
    Type(IDC_HIGHFREQ, "8000");
    Click(IDC_MAXFREQS);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(View().m_nChunks, 172);
    EXPECT_GE(chunk.count, 100);
    EXPECT_GE(form.count, 100);
}

TEST_F(FormTest, MaxFreqsPaintsOncePerChunkAndOnlyWhatChanged)
{
    Start(ToneArgs(44100));  // 172 chunks of 256
    View().OnGetHeader();      // the header fields already show this file
    QApplication::processEvents();
    PaintCounter form(&Form()), chunk(Field(IDC_CHUNK)), radio(Radio(IDC_CHUNK512)), rate(Field(IDC_SAMPLERATE));
    View().OnMaxFreqs();
    ASSERT_TRUE(messages.empty());
    ASSERT_EQ(View().m_nChunks, 172);
    // One pass per chunk, and a few for the start and the end.
    EXPECT_GE(chunk.count, 172);
    EXPECT_LE(form.count, 172 + 4);
    // Fields and buttons whose state did not change are not painted.
    EXPECT_EQ(radio.count, 0);
    EXPECT_EQ(rate.count, 0);
    const QPoint rateAt = Field(IDC_SAMPLERATE)->mapTo(&Form(), QPoint(2, 2));
    EXPECT_FALSE(form.area.contains(rateAt));
    EXPECT_TRUE(form.area.contains(QPoint(View().ChunkToX(172), View().FreqToY(View().m_pFreqs[172]))));
}

// Pixels of the plot rectangle that differ; the first is described in `first`.
int PlotDifferences(const QImage& shown, const QImage& expected, std::string& first)
{
    int n = 0;
    for (int y = 37; y <= 290; ++y)
        for (int x = 25; x <= 440; ++x) {
            const QRgb a = shown.pixel(x, y) & 0xFFFFFF, b = expected.pixel(x, y) & 0xFFFFFF;
            if (a != b && n++ == 0)
                first = QString("(%1, %2): %3, expected %4").arg(x).arg(y).arg(a, 6, 16).arg(b, 6, 16).toStdString();
        }
    return n;
}

TEST_F(FormTest, PlotIsTheCliPictureSurvivesARepaintAndClearBlanksIt)
{
    const std::string wave = ToneFile("tone.wav", 44100);
    const QString png = QString::fromStdString((dir.Path() / "cli.png").string());
    QProcess cli;
    cli.start(TARVO_CLI_PATH, {"--chunk", "256", "--header", "--freqs", "--png", png, QString::fromStdString(wave)});
    ASSERT_TRUE(cli.waitForFinished(120000));
    const QImage expected = QImage(png).convertToFormat(QImage::Format_RGB32);
    ASSERT_GE(expected.width(), 441) << cli.readAllStandardError().toStdString();
    ASSERT_GE(expected.height(), 291);

    Start({QString::fromStdString(wave)});
    QTest::mouseClick(Radio(IDC_CHUNK256), Qt::LeftButton);
    Click(IDC_GETHEADER);
    Click(IDC_MAXFREQS);
    ASSERT_TRUE(messages.empty()) << messages.front();
    QApplication::processEvents();
    auto shown = [this] { return Form().grab().toImage().convertToFormat(QImage::Format_RGB32); };
    QImage black = expected;
    black.fill(Qt::black);
    std::string first;

    const QImage drawn = shown();
    ASSERT_GE(drawn.width(), 441);
    ASSERT_GE(drawn.height(), 291);
    EXPECT_GT(PlotDifferences(drawn, black, first), 0);  // the grid and the track are there
    EXPECT_EQ(PlotDifferences(drawn, expected, first), 0) << first;

    // Another window passing over the plot does not take the track away.
    Form().repaint();
    EXPECT_EQ(PlotDifferences(shown(), drawn, first), 0) << first;

    Click(IDC_CLEAR);
    QApplication::processEvents();
    EXPECT_EQ(PlotDifferences(shown(), black, first), 0) << first;
}

}  // namespace
}  // namespace tarvo::test
