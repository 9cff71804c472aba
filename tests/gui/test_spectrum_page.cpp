// The spectrum's line labels on a chart as the dialog, the picture and the
// report draw it: each whole, inside the plot, over no other label nor
// marker, a key beside the plot when the texts find no room; and the
// dialog's spectrum page: percent or dB, zoomed and moved along the
// frequencies, a line chosen and let go by clicking it.
#include "GuiTest.h"

#include "app/SpectrumPage.h"
#include "platform/MeterViews.h"

#include <QCheckBox>
#include <QRegularExpression>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QGraphicsSimpleTextItem>
#include <QSignalSpy>
#include <QTest>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QScatterSeries>

#include <cmath>
#include <memory>

namespace tarvo::test {
namespace {

// A turntable deck's spectrum: a floor of 0.001 %, the lines as lobes of
// their own levels, bins of 1/16 Hz; the lines as the meter names them. A
// second channel has the same lines `second` times as strong.
meter::MeterResult Deck(std::vector<meter::ModulationLine> lines, size_t channels = 1, double second = 1)
{
    meter::MeterResult r;
    r.ok = true;
    for (size_t n = 0; n < channels; ++n) {
        if (n == 1)
            for (meter::ModulationLine& m : lines)
                m.percent *= second;
        meter::ChannelFigures c;
        c.channel = static_cast<int>(n + 1);
        c.carrierHz = 3150;
        c.seconds = 30;
        for (int k = 1; k <= 3200; ++k) {
            const double hz = k / 16.0;
            double level = 0.001;
            for (const meter::ModulationLine& m : lines)
                if (std::abs(hz - m.hz) <= 2 / 16.0)
                    level = std::max(level, m.percent);
            c.spectrumHz.push_back(hz);
            c.spectrumPercent.push_back(level);
        }
        c.modulation = lines;
        c.parts = {{"platter", 0.5556}};
        r.channels.push_back(c);
    }
    return r;
}

meter::ModulationLine Line(double hz, double percent, const std::string& label)
{
    meter::ModulationLine m(hz, percent);
    m.label = label;
    return m;
}

// The lines the owner saw collide and cut: x2 weak beside a strong x1, a
// motor line at the top of the band.
std::vector<meter::ModulationLine> OwnersLines()
{
    return {Line(0.56, 0.1, "platter x1"), Line(4.01, 0.03, "capstan x1"), Line(1.11, 0.02, "platter x2"),
            Line(150, 0.01, "motor torque ripple"), Line(8.3, 0.01, "idler x1")};
}

// Ten lines a sixteenth of an octave apart, all near one level.
std::vector<meter::ModulationLine> Crowd()
{
    std::vector<meter::ModulationLine> lines;
    for (int k = 0; k < 10; ++k)
        lines.push_back(Line(2 * std::pow(2.0, k / 16.0), 0.02 + 0.001 * (k % 3), "capstan x" + std::to_string(k + 1)));
    return lines;
}

struct Texts {
    std::vector<QRectF> labels, keys;  // in the chart's coordinates
    QStringList labelTexts, keyTexts;
};

// The chart's own texts: labels (a line's text or number) and key lines.
Texts LineTexts(QChart* chart)
{
    Texts t;
    for (QGraphicsItem* item : chart->childItems())
        if (auto* text = dynamic_cast<QGraphicsSimpleTextItem*>(item); text && text->isVisible()) {
            const QRectF box = text->mapRectToParent(text->boundingRect());
            const bool key = text->text().contains(QStringLiteral("  "));
            (key ? t.keys : t.labels).push_back(box);
            (key ? t.keyTexts : t.labelTexts) << text->text();
        }
    return t;
}

// Every label inside the plot, none over another or a marker; the key's
// lines inside the plot too, over no label, marker or one another.
void ExpectLaidOut(QChart* chart, const std::string& what)
{
    const Texts t = LineTexts(chart);
    const QRectF plot = chart->plotArea();
    std::vector<QPointF> markers;
    for (QAbstractSeries* s : chart->series())
        if (auto* scatter = qobject_cast<QScatterSeries*>(s))
            for (const QPointF& p : scatter->points())
                markers.push_back(chart->mapToPosition(p, scatter));
    for (size_t i = 0; i < t.labels.size(); ++i) {
        EXPECT_TRUE(plot.contains(t.labels[i])) << what << ": " << t.labelTexts[static_cast<qsizetype>(i)].toStdString();
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(t.labels[i].intersects(t.labels[j])) << what << ": " << i << " over " << j;
        for (const QPointF& m : markers)
            EXPECT_FALSE(t.labels[i].intersects(QRectF(m.x() - 3, m.y() - 3, 6, 6))) << what << ": " << i;
    }
    for (size_t i = 0; i < t.keys.size(); ++i) {
        EXPECT_TRUE(plot.contains(t.keys[i])) << what << ": key " << i;
        for (size_t j = 0; j < i; ++j)
            EXPECT_FALSE(t.keys[i].intersects(t.keys[j])) << what << ": key " << i;
        for (const QRectF& label : t.labels)
            EXPECT_FALSE(t.keys[i].intersects(label)) << what << ": key " << i;
        for (const QPointF& m : markers)
            EXPECT_FALSE(t.keys[i].intersects(QRectF(m.x() - 3, m.y() - 3, 6, 6))) << what << ": key " << i;
    }
}

struct SceneCase {
    const char* name;
    std::vector<meter::ModulationLine> lines;
    QSizeF size;
    bool key;  // the texts go to a key
};

// The report's half-width chart, the picture's and a small dialog's.
TEST(SpectrumLabels, WholeInsideAndApartInEveryChart)
{
    const SceneCase cases[] = {
        {"owner's lines, picture", OwnersLines(), {600, 470}, false},
        {"owner's lines, report", OwnersLines(), {351, 300}, true},
        {"crowd, picture", Crowd(), {600, 470}, false},
        {"crowd, small", Crowd(), {300, 200}, true},
        {"long labels, small", {Line(3, 0.05, "a part with a very long name indeed x1"), Line(3.2, 0.04, "another x1")},
         {330, 220}, true},
    };
    for (const SceneCase& c : cases) {
        QGraphicsScene scene;
        QChart* chart = NewSpectrumView(Deck(c.lines));
        scene.addItem(chart);
        chart->setGeometry(QRectF(QPointF(0, 0), c.size));
        for (int pass = 0; pass < 4 && !chart->layout()->isActivated(); ++pass)
            chart->layout()->activate();
        const Texts t = LineTexts(chart);
        EXPECT_EQ(t.keys.size(), c.key ? c.lines.size() : 0u) << c.name;
        // Each line's text whole, on the plot or in the key after its number.
        for (const meter::ModulationLine& m : c.lines) {
            const QString text = QString::fromStdString(meter::FixedText(m.hz, 2) + " Hz " + *m.label);
            const QRegularExpression numbered("^[0-9]+  " + QRegularExpression::escape(text) + "$");
            EXPECT_EQ(c.key ? t.keyTexts.filter(numbered).size() : t.labelTexts.count(text), 1) << c.name << " " << m.hz;
        }
        EXPECT_EQ(t.labels.size(), c.lines.size()) << c.name;  // texts or numbers
        ExpectLaidOut(chart, c.name);
    }
}

// The whole sheet of the picture and the report, two channels whose lines
// fall at the same frequencies.
TEST(SpectrumLabels, TwoChannelsLinesAtOneFrequency)
{
    const meter::MeterResult r = Deck(OwnersLines(), 2, 1);
    for (double width : {703.0, 1200.0}) {
        QGraphicsScene scene;
        PlaceMeterViews(scene, QRectF(0, 0, width, 900), r);
        for (QGraphicsItem* item : scene.items())
            if (auto* chart = dynamic_cast<QChart*>(item); chart && chart->title().startsWith("Spectrum"))
                ExpectLaidOut(chart, std::to_string(width));
    }
}

// A chart in a view laid out again as the user widens and narrows it: the
// key comes when the texts no longer fit and goes when they do again.
TEST(SpectrumLabels, TheKeyComesAndGoesWithTheWidth)
{
    QChartView view(NewSpectrumView(Deck(Crowd())));
    view.resize(900, 500);
    view.show();
    QTRY_VERIFY(LineTexts(view.chart()).labels.size() == 10 && LineTexts(view.chart()).keys.empty());
    view.resize(300, 220);
    QTRY_VERIFY(LineTexts(view.chart()).keys.size() == 10);
    ExpectLaidOut(view.chart(), "narrow");
    view.resize(900, 500);
    QTRY_VERIFY(LineTexts(view.chart()).keys.empty());
    ExpectLaidOut(view.chart(), "wide again");
}

QCategoryAxis* AxisOf(QChart* chart, Qt::Orientation o)
{
    const QList<QAbstractAxis*> axes = chart->axes(o);
    return axes.isEmpty() ? nullptr : qobject_cast<QCategoryAxis*>(axes.front());
}

TEST(SpectrumPageTest, DecibelsShowTheLinesInDbReOnePercent)
{
    SpectrumPage page(Deck(OwnersLines()));
    page.resize(800, 500);
    page.show();
    EXPECT_EQ(AxisOf(page.Chart(), Qt::Vertical)->titleText(), QStringLiteral("Peak (%)"));
    page.DecibelsBox()->click();
    EXPECT_TRUE(page.Options().decibels);
    EXPECT_EQ(AxisOf(page.Chart(), Qt::Vertical)->titleText(), QStringLiteral("Peak (dB re 1 %)"));
    // 0.1 % is -20 dB, 0.01 % -40 dB.
    std::vector<double> levels;
    for (QAbstractSeries* s : page.Chart()->series())
        if (auto* scatter = qobject_cast<QScatterSeries*>(s))
            for (const QPointF& p : scatter->points())
                levels.push_back(p.y());
    ASSERT_EQ(levels.size(), 5u);
    EXPECT_NEAR(levels[0], -20, 1e-9);
    EXPECT_NEAR(levels[3], -40, 1e-9);
    page.DecibelsBox()->click();
    EXPECT_EQ(AxisOf(page.Chart(), Qt::Vertical)->titleText(), QStringLiteral("Peak (%)"));
}

TEST(SpectrumPageTest, TheWheelZoomsADragMovesAndZeroShowsTheWholeBand)
{
    SpectrumPage page(Deck(OwnersLines()));
    page.resize(800, 500);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    QChartView* view = page.View();
    const QPoint middle = view->mapFromScene(page.Chart()->mapToScene(page.Chart()->plotArea().center()));
    const double before = page.Options().highHz / page.Options().lowHz;
    QWheelEvent wheel(middle, view->viewport()->mapToGlobal(middle), QPoint(), QPoint(0, 240), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    const double after = page.Options().highHz / page.Options().lowHz;
    // Two notches: the span's log shrinks by 1.25^2, around the middle's frequency.
    EXPECT_NEAR(std::log(after), std::log(before) / 1.5625, 1e-6);
    EXPECT_NEAR(std::sqrt(page.Options().lowHz * page.Options().highHz), std::sqrt(0.2 * 200), 0.05);
    // A drag to the right shows lower frequencies, the span kept.
    const double low = page.Options().lowHz;
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, middle);
    QTest::mouseMove(view->viewport(), middle + QPoint(60, 0));
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, middle + QPoint(60, 0));
    EXPECT_LT(page.Options().lowHz, low);
    EXPECT_NEAR(page.Options().highHz / page.Options().lowHz, after, after * 1e-9);
    // Never past the band's ends.
    for (int k = 0; k < 20; ++k)
        page.Zoom(1 / 1.25, 0.2);
    EXPECT_DOUBLE_EQ(page.Options().lowHz, kSpectrumLowestHz);
    EXPECT_NEAR(page.Options().highHz, kSpectrumHighestHz, 1e-9);
    page.Zoom(1e6, 4);
    EXPECT_NEAR(page.Options().highHz / page.Options().lowHz, 1.01, 1e-9);
    view->setFocus();
    QTest::keyClick(view, Qt::Key_0);
    EXPECT_DOUBLE_EQ(page.Options().lowHz, kSpectrumLowestHz);
    EXPECT_NEAR(page.Options().highHz, kSpectrumHighestHz, 1e-9);
}

TEST(SpectrumPageTest, ClickingALineChoosesItAndClickingAgainLetsItGo)
{
    SpectrumPage page(Deck(OwnersLines(), 2, 2));
    page.resize(900, 500);
    page.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&page));
    QSignalSpy clicked(&page, &SpectrumPage::lineClicked), cleared(&page, &SpectrumPage::lineCleared);
    QChartView* view = page.View();
    // The second channel's marker at 4.01 Hz, twice the first's.
    QScatterSeries* second = nullptr;
    for (QAbstractSeries* s : page.Chart()->series())
        if (auto* scatter = qobject_cast<QScatterSeries*>(s))
            second = scatter;
    ASSERT_NE(second, nullptr);
    const QPointF on = page.Chart()->mapToPosition(QPointF(std::log10(4.01), 0.06), second);
    const QPoint at = view->mapFromScene(page.Chart()->mapToScene(on));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(clicked.count(), 1);
    EXPECT_EQ(clicked[0][0].toInt(), 1);
    EXPECT_DOUBLE_EQ(clicked[0][1].toDouble(), 4.01);
    ASSERT_EQ(page.ChosenLines().size(), 1u);
    // Chosen lines stay chosen through a zoom; a click beside every line does nothing.
    page.SetDecibels(true);
    page.SetDecibels(false);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at + QPoint(0, 60));
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(cleared.count(), 0);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
    ASSERT_EQ(cleared.count(), 1);
    EXPECT_EQ(cleared[0][0].toInt(), 1);
    EXPECT_DOUBLE_EQ(cleared[0][1].toDouble(), 4.01);
    EXPECT_TRUE(page.ChosenLines().empty());
    // Two chosen at once, each in a colour of its own.
    page.Toggle({0, 0.56});
    page.Toggle({0, 150});
    ASSERT_EQ(page.ChosenLines().size(), 2u);
    EXPECT_NE(page.ChosenLines()[0].colour, page.ChosenLines()[1].colour);
    page.ClearLines();
    EXPECT_EQ(cleared.count(), 3);
}

}  // namespace
}  // namespace tarvo::test
