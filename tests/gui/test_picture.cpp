// One picture, two hosts: the window shows in its plot area exactly the
// pixels that tarvo-cli writes for the same commands on the same file.
#include "GuiTest.h"

#include <QImage>
#include <QPixmap>
#include <QProcess>

namespace tarvo::test {
namespace {

using Picture = AppTest;

constexpr int kLeft = 25, kTop = 37, kRight = 440, kBottom = 290;

// Pixels of the plot rectangle that differ between the two images.
int PlotDifferences(const QImage& a, const QImage& b, QString& first)
{
    int differences = 0;
    for (int y = kTop; y <= kBottom; ++y)
        for (int x = kLeft; x <= kRight; ++x)
            if ((a.pixel(x, y) & 0xFFFFFF) != (b.pixel(x, y) & 0xFFFFFF)) {
                if (differences++ == 0)
                    first = QStringLiteral("(%1, %2): window %3, cli %4")
                                .arg(x)
                                .arg(y)
                                .arg(a.pixel(x, y) & 0xFFFFFF, 6, 16, QLatin1Char('0'))
                                .arg(b.pixel(x, y) & 0xFFFFFF, 6, 16, QLatin1Char('0'));
            }
    return differences;
}

int NonBlackInPlot(const QImage& img)
{
    int n = 0;
    for (int y = kTop; y <= kBottom; ++y)
        for (int x = kLeft; x <= kRight; ++x)
            n += (img.pixel(x, y) & 0xFFFFFF) != 0;
    return n;
}

TEST_F(Picture, PlotAfterGetHeaderAndMaxFreqsMatchesTheCli)
{
    // A 3 kHz tone at 22050 Hz, 2 s: 172 chunks of 256 samples.
    const std::string wave = ToneFile("tone.wav", 44100);
    const std::string png = (dir.Path() / "cli.png").string();

    QProcess cli;
    cli.start(TARVO_CLI_PATH, {"--chunk", "256", "--header", "--freqs", "--png", QString::fromStdString(png),
                               QString::fromStdString(wave)});
    ASSERT_TRUE(cli.waitForFinished(120000));
    ASSERT_EQ(cli.exitStatus(), QProcess::NormalExit);
    QImage expected(QString::fromStdString(png));
    ASSERT_FALSE(expected.isNull()) << cli.readAllStandardError().toStdString();
    expected = expected.convertToFormat(QImage::Format_RGB32);

    Start({QString::fromStdString(wave)});
    QTest::mouseClick(Radio(IDC_CHUNK256), Qt::LeftButton);
    Click(IDC_GETHEADER);
    Click(IDC_MAXFREQS);
    ASSERT_TRUE(messages.empty()) << messages.front().text;
    QApplication::processEvents();

    const QImage shown = Form().grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_GE(shown.width(), kRight + 1);
    ASSERT_GE(shown.height(), kBottom + 1);
    ASSERT_GE(expected.width(), kRight + 1);
    ASSERT_GE(expected.height(), kBottom + 1);

    EXPECT_GT(NonBlackInPlot(shown), 0);  // the grid and the track are there
    QString first;
    EXPECT_EQ(PlotDifferences(shown, expected, first), 0) << first.toStdString();
}

TEST_F(Picture, DrawnPlotSurvivesARepaintAndClearBlanksIt)
{
    Start({QString::fromStdString(ToneFile("tone.wav", 44100))});
    Click(IDC_MAXFREQS);
    QApplication::processEvents();
    const QImage drawn = Form().grab().toImage();
    ASSERT_GT(NonBlackInPlot(drawn), 0);

    // Another window passing over the plot does not take the track away.
    Form().repaint();
    QString first;
    EXPECT_EQ(PlotDifferences(Form().grab().toImage(), drawn, first), 0) << first.toStdString();

    Click(IDC_CLEAR);
    QApplication::processEvents();
    EXPECT_EQ(NonBlackInPlot(Form().grab().toImage()), 0);
}

}  // namespace
}  // namespace tarvo::test
