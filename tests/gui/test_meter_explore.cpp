// The meter's dialog as a place to explore one measurement: the deviation
// zoomed and panned by wheel and keys with a readout under the mouse, and a
// stretch selected on it measured again alone.
#include "GuiTest.h"
#include "ToneFile.h"

#include "app/DeviationView.h"
#include "app/MeterDialog.h"
#include "app/SpectrumPage.h"

#include <QComboBox>
#include <QPushButton>
#include <QTabWidget>
#include <QWheelEvent>
#include <QtCharts/QChart>

#include <cmath>

namespace tarvo::test {
namespace {

using MeterExplore = AppTest;

// A 3150 Hz tone moving 0.05 % at 4 Hz, 48 kHz, with a dropout of 50 ms
// at `dropoutAt` seconds (none at 0); from `from` s on alone, as a file cut
// there would be.
bool WriteDeck(const std::string& path, double seconds, double dropoutAt, double from = 0)
{
    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    Tone tone;
    tone.mods = {{4, 0.0005}};
    std::vector<double> samples(static_cast<size_t>((seconds - from) * 48000));
    for (size_t i = 0; i < samples.size(); ++i) {
        const double t = from + static_cast<double>(i) / 48000;
        const bool gone = dropoutAt > 0 && t >= dropoutAt && t < dropoutAt + 0.05;
        samples[i] = gone ? 0 : tone.amplitude * std::sin(tone.Phase(t, seconds));
    }
    sf_writef_double(f, samples.data(), static_cast<sf_count_t>(samples.size()));
    return sf_close(f) == 0;
}

CDeviationExplorer* ExplorerOn(CMeterDialog& dlg, const QString& tab)
{
    for (int i = 0; i < dlg.Tabs()->count(); ++i)
        if (dlg.Tabs()->tabText(i) == tab)
            return qobject_cast<CDeviationExplorer*>(dlg.Tabs()->widget(i));
    return nullptr;
}

void Wheel(QWidget* w, QPoint at, int notches)
{
    QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

TEST_F(MeterExplore, DeviationZoomsPansAndReadsUnderTheMouse)
{
    const std::string path = (dir.Path() / "deck.wav").string();
    ASSERT_TRUE(WriteDeck(path, 14, 0));
    Start({QString::fromStdString(path)});
    bool shown = false;
    app->meterDialogHook = [&](CMeterDialog& dlg) {
        shown = true;
        dlg.show();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        ASSERT_TRUE(dlg.Result().ok) << dlg.Result().message;
        CDeviationExplorer* whole = ExplorerOn(dlg, "Deviation");
        CDeviationExplorer* zoom = ExplorerOn(dlg, "Zoom");
        ASSERT_TRUE(whole && zoom);
        // The zoom opens on the first 10 s without a rotating part.
        EXPECT_DOUBLE_EQ(zoom->From(), 0);
        EXPECT_DOUBLE_EQ(zoom->To(), 10);
        dlg.Tabs()->setCurrentWidget(whole);
        QTRY_VERIFY(whole->ChartView()->chart()->plotArea().width() > 100);
        const double length = whole->Length();
        EXPECT_NEAR(length, 14, 0.01);
        EXPECT_DOUBLE_EQ(whole->From(), 0);
        EXPECT_DOUBLE_EQ(whole->To(), length);
        QWidget* view = whole->ChartView();
        struct Step {
            const char* what;
            std::function<void()> act;
            double from, to;
        } steps[] = {
            {"+ zooms in about the middle", [&] { QTest::keyClick(view, Qt::Key_Plus); }, 7 - 5.6, 7 + 5.6},
            {"+ again", [&] { QTest::keyClick(view, Qt::Key_Plus); }, 7 - 4.48, 7 + 4.48},
            {"right pans a tenth of the span", [&] { QTest::keyClick(view, Qt::Key_Right); }, 2.52 + 0.896,
             11.48 + 0.896},
            {"left pans back", [&] { QTest::keyClick(view, Qt::Key_Left); }, 2.52, 11.48},
            {"- zooms out", [&] { QTest::keyClick(view, Qt::Key_Minus); }, 1.4, 12.6},
            {"- at the whole file stays whole", [&] { for (int i = 0; i < 5; ++i) QTest::keyClick(view, Qt::Key_Minus); },
             0, 14},
            {"a wheel notch up zooms in", [&] { Wheel(whole->ChartView()->viewport(), view->rect().center(), 1); }, -1, -1},
            {"0 shows the whole file", [&] { QTest::keyClick(view, Qt::Key_0); }, 0, 14},
            {"pans stop at the end", [&] {
                 whole->ShowSpan(10, 12);
                 for (int i = 0; i < 30; ++i)
                     QTest::keyClick(view, Qt::Key_Right);
             }, 12, 14},
            {"no span shorter than 20 ms", [&] { for (int i = 0; i < 60; ++i) QTest::keyClick(view, Qt::Key_Plus); },
             -1, -1},
        };
        for (const Step& s : steps) {
            s.act();
            if (s.from >= 0) {
                EXPECT_NEAR(whole->From(), s.from, 1e-6) << s.what;
                EXPECT_NEAR(whole->To(), s.to, 1e-6) << s.what;
            } else {
                EXPECT_LT(whole->To() - whole->From(), length) << s.what;
                EXPECT_GE(whole->To() - whole->From(), 0.02 - 1e-9) << s.what;
            }
        }
        // The readout under the mouse: the time, and a deviation within the
        // tone's +-0.05 %, weighted too.
        QTest::keyClick(view, Qt::Key_0);
        QTRY_VERIFY(whole->ChartView()->chart()->plotArea().width() > 100);
        const QRectF plot = whole->ChartView()->chart()->plotArea();
        const QPoint at = whole->ChartView()->mapFromScene(QPointF(plot.left() + plot.width() / 2, plot.center().y()));
        QTest::mouseMove(whole->ChartView()->viewport(), at);
        QMouseEvent move(QEvent::MouseMove, QPointF(at), whole->ChartView()->viewport()->mapToGlobal(QPointF(at)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(whole->ChartView()->viewport(), &move);
        const QString readout = whole->Readout();
        const QRegularExpression pattern(R"(^(\d+\.\d+) s; channel 1: deviation ([-+]?\d\.\d+) % \(weighted ([-+]?\d\.\d+) %\)$)");
        const QRegularExpressionMatch m = pattern.match(readout);
        ASSERT_TRUE(m.hasMatch()) << readout.toStdString();
        EXPECT_NEAR(m.captured(1).toDouble(), 7, 0.05);
        EXPECT_LE(std::abs(m.captured(2).toDouble()), 0.0505);
        EXPECT_LE(std::abs(m.captured(3).toDouble()), 0.0505);
        dlg.CancelButton()->click();
    };
    Frame()->CommandAction(ID_STANDARDSWF)->trigger();
    EXPECT_TRUE(shown);
}

// A line clicked on the spectrum lays its component alone over both
// deviation views, in the line's colour, until it is clicked again: the
// tone's 4 Hz swing of 0.05 % peak.
TEST_F(MeterExplore, ClickedLineOverlaysItsComponent)
{
    const std::string path = (dir.Path() / "deck.wav").string();
    ASSERT_TRUE(WriteDeck(path, 40, 0));
    Start({QString::fromStdString(path)});
    bool shown = false;
    app->meterDialogHook = [&](CMeterDialog& dlg) {
        shown = true;
        dlg.show();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        ASSERT_TRUE(dlg.Result().ok) << dlg.Result().message;
        ASSERT_FALSE(dlg.Result().channels.at(0).modulation.empty());
        const double hz = dlg.Result().channels[0].modulation[0].hz;
        EXPECT_NEAR(hz, 4, 0.05);
        auto* page = dlg.findChild<SpectrumPage*>();
        ASSERT_TRUE(page);
        const int key = CMeterDialog::ComponentKey(0, hz);
        page->Toggle({0, hz});
        for (const QString tab : {"Deviation", "Zoom"}) {
            CDeviationExplorer* e = ExplorerOn(dlg, tab);
            ASSERT_TRUE(e);
            const DeviationOverlay* o = e->Overlay(key);
            ASSERT_TRUE(o) << tab.toStdString();
            EXPECT_EQ(o->colour, page->ChosenLines().at(0).colour);
            // Away from the ends (the filters' settling), the band's edges are the swing's peaks.
            const size_t from = static_cast<size_t>(10 / o->bucketSeconds), to = static_cast<size_t>(30 / o->bucketSeconds);
            ASSERT_GT(o->max.size(), to);
            float top = 0, bottom = 0;
            for (size_t b = from; b < to; ++b) {
                top = std::max(top, o->max[b]);
                bottom = std::min(bottom, o->min[b]);
            }
            EXPECT_NEAR(top, 0.05, 0.0025) << tab.toStdString();
            EXPECT_NEAR(bottom, -0.05, 0.0025) << tab.toStdString();
        }
        page->Toggle({0, hz});
        for (const QString tab : {"Deviation", "Zoom"})
            EXPECT_FALSE(ExplorerOn(dlg, tab)->Overlay(key)) << tab.toStdString();
        dlg.CancelButton()->click();
    };
    Frame()->CommandAction(ID_STANDARDSWF)->trigger();
    EXPECT_TRUE(shown);
}

// A dropout spoils the whole file's figures; the stretch before it,
// selected on the deviation, reads the tone's own: 0.99692 x 0.05 % weighted
// (the weighting passes 4 Hz whole). "Whole file" goes back without
// measuring again; a stretch under 5 s cannot be measured.
TEST_F(MeterExplore, StretchBeforeADropoutIsMeasuredAlone)
{
    const std::string path = (dir.Path() / "dropout.wav").string();
    ASSERT_TRUE(WriteDeck(path, 24, 16));
    Start({QString::fromStdString(path)});
    bool shown = false;
    app->meterDialogHook = [&](CMeterDialog& dlg) {
        shown = true;
        dlg.show();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        ASSERT_TRUE(dlg.Result().ok) << dlg.Result().message;
        const double spoilt = dlg.Result().channels.at(0).weighted.twoSigmaPercent;
        EXPECT_GT(spoilt, 0.06);
        EXPECT_FALSE(dlg.WholeFileButton()->isVisible());
        CDeviationExplorer* whole = ExplorerOn(dlg, "Deviation");
        ASSERT_TRUE(whole);
        whole->Select(10, 14.9);
        EXPECT_FALSE(whole->MeasureButton()->isEnabled());
        whole->Select(12, 2);  // dragged backwards
        ASSERT_TRUE(whole->MeasureButton()->isEnabled());
        whole->MeasureButton()->click();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        ASSERT_TRUE(dlg.Result().ok) << dlg.Result().message;
        ASSERT_TRUE(dlg.Result().stretch);
        EXPECT_DOUBLE_EQ(dlg.Result().stretch->first, 2);
        EXPECT_DOUBLE_EQ(dlg.Result().stretch->second, 12);
        const double weighted = dlg.Result().channels.at(0).weighted.twoSigmaPercent;
        EXPECT_NEAR(weighted, 0.99692 * 0.05, 0.02 * 0.05);
        // As the file cut to that span reads, within 1 %.
        const std::string cut = (dir.Path() / "cut.wav").string();
        ASSERT_TRUE(WriteDeck(cut, 12, 0, 2));
        const meter::MeterResult alone = meter::RunMeter(cut, {});
        ASSERT_TRUE(alone.ok) << alone.message;
        EXPECT_NEAR(weighted, alone.channels.at(0).weighted.twoSigmaPercent, 0.01 * weighted);
        EXPECT_NEAR(dlg.Result().channels.at(0).unweighted.twoSigmaPercent,
                    alone.channels.at(0).unweighted.twoSigmaPercent, 0.01 * weighted);
        EXPECT_TRUE(dlg.WholeFileButton()->isVisible());
        // The stretch's own explorer counts from its start.
        CDeviationExplorer* stretch = ExplorerOn(dlg, "Deviation");
        ASSERT_TRUE(stretch);
        EXPECT_NEAR(stretch->Length(), 10, 0.01);
        dlg.Tabs()->setCurrentIndex(0);
        const QString figures = dlg.FiguresText();
        EXPECT_TRUE(figures.contains("weighted peak (2-sigma")) << figures.toStdString();
        bool heading = false;
        for (QLabel* label : dlg.findChildren<QLabel*>())
            heading = heading || label->text().contains("The stretch from 2.00 s to 12.00 s alone");
        EXPECT_TRUE(heading);
        dlg.WholeFileButton()->click();
        EXPECT_TRUE(dlg.Finished());
        EXPECT_FALSE(dlg.Result().stretch);
        EXPECT_DOUBLE_EQ(dlg.Result().channels.at(0).weighted.twoSigmaPercent, spoilt);
        EXPECT_FALSE(dlg.WholeFileButton()->isVisible());
        dlg.CancelButton()->click();
    };
    Frame()->CommandAction(ID_STANDARDSWF)->trigger();
    EXPECT_TRUE(shown);
}

// Limits set in the dialog give each channel a verdict at once, the limit
// beside its figure; they and the nominal tone are there again in the next
// dialog. The tone reads 0.99692 x 0.05 % = 0.0498 % weighted, and 3150 Hz
// lies 5 % over a 3000 Hz nominal.
TEST_F(MeterExplore, LimitsGiveVerdictsAndAreRemembered)
{
    const std::string path = (dir.Path() / "deck.wav").string();
    ASSERT_TRUE(WriteDeck(path, 8, 0));
    Start({QString::fromStdString(path)});
    int opened = 0;
    app->meterDialogHook = [&](CMeterDialog& dlg) {
        ++opened;
        dlg.show();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        ASSERT_TRUE(dlg.Result().ok) << dlg.Result().message;
        if (opened == 2) {
            EXPECT_EQ(dlg.NominalBox()->currentText(), "3000");
            EXPECT_EQ(dlg.LimitBox(0)->text(), "0.06");
            EXPECT_EQ(dlg.LimitBox(2)->text(), "6");
            EXPECT_TRUE(dlg.FiguresText().contains("verdict: PASS")) << dlg.FiguresText().toStdString();
            dlg.CancelButton()->click();
            return;
        }
        EXPECT_FALSE(dlg.FiguresText().contains("verdict"));
        const double weighted = dlg.Result().channels.at(0).weighted.twoSigmaPercent;
        EXPECT_NEAR(weighted, 0.99692 * 0.05, 0.01 * 0.05);
        const std::string exact = QString::number(meter::RoundFigure(weighted), 'f', 6).toStdString();
        const std::string over = "verdict: FAIL (weighted " + meter::FixedText(weighted, 4) + " % over 0.04 %)";
        const struct Case {
            const char *weighted, *unweighted, *speed, *nominal;
            const char* verdict;
        } cases[] = {
            {"0.04", "", "", "none", over.c_str()},
            {exact.c_str(), "", "", "none", "verdict: PASS"},  // equal to its limit passes
            {"0.06", "", "", "none", "verdict: PASS"},
            {"0.06", "", "1", "none", "verdict: FAIL (speed none over +-1 %)"},
            {"0.06", "", "1", "3000", "verdict: FAIL (speed +5.000 % over +-1 %)"},
            {"0.06", "", "6", "3000", "verdict: PASS"},
        };
        for (const Case& k : cases) {
            dlg.LimitBox(0)->setText(k.weighted);
            dlg.LimitBox(1)->setText(k.unweighted);
            dlg.LimitBox(2)->setText(k.speed);
            dlg.NominalBox()->setCurrentText(k.nominal);
            EXPECT_TRUE(dlg.FiguresText().contains(k.verdict)) << k.verdict << "\n" << dlg.FiguresText().toStdString();
        }
        // Shown in green, a failing one in red, with the limit beside the figure.
        dlg.LimitBox(0)->setText("0.04");
        QString shown;
        for (QLabel* label : dlg.findChildren<QLabel*>())
            if (label->text().contains("Channel 1"))
                shown = label->text();
        EXPECT_TRUE(shown.contains("color:#c62828\">FAIL")) << shown.toStdString();
        EXPECT_TRUE(shown.contains("(limit 0.04 %: fail)")) << shown.toStdString();
        EXPECT_TRUE(shown.contains("(limit +-6 %: pass)")) << shown.toStdString();
        dlg.LimitBox(0)->setText("0.06");
        dlg.CancelButton()->click();
    };
    Frame()->CommandAction(ID_STANDARDSWF)->trigger();
    Frame()->CommandAction(ID_STANDARDSWF)->trigger();
    EXPECT_EQ(opened, 2);
}

}  // namespace
}  // namespace tarvo::test
