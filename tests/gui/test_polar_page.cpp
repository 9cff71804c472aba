// The Standards W&F dialog's polar tab: how many revolutions (1 to 10),
// each in its own colour with a key, a low-pass, angles in degrees, the
// revolutions drawn in the title, the choices kept in the profile; without
// a rotating part, the title says where to give one.
#include "GuiTest.h"

#include "app/PolarPage.h"
#include "meter/Views.h"
#include "platform/MeterViews.h"

#include <QComboBox>
#include <QSet>
#include <QSettings>
#include <QSpinBox>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QPolarChart>
#include <QtCharts/QValueAxis>

#include <cmath>
#include <memory>
#include <numbers>

namespace tarvo::test {
namespace {

constexpr double kPlatterHz = 100.0 / 3 / 60;

// A channel with ten revolutions of a 33 1/3 rpm platter's deviation at 500 points a second.
meter::ChannelFigures Revolving(int channel, double revolutionHz)
{
    meter::ChannelFigures c;
    c.channel = channel;
    c.carrierHz = 3150;
    c.seconds = 20;
    c.revolutionHz = revolutionHz;
    for (int i = 0; i * 0.002 < 10 / kPlatterHz; ++i) {
        const double t = i * 0.002;
        c.trackSeconds.push_back(t);
        c.trackDeviation.push_back(0.05 * std::cos(2 * std::numbers::pi * kPlatterHz * t) +
                                   0.01 * std::cos(2 * std::numbers::pi * 120 * t));
        c.trackWeighted.push_back(c.trackDeviation.back());
    }
    return c;
}

meter::MeterResult ResultOf(std::vector<meter::ChannelFigures> channels)
{
    meter::MeterResult r;
    r.ok = true;
    r.channels = std::move(channels);
    return r;
}

QList<QLineSeries*> Turns(QChart* chart)
{
    QList<QLineSeries*> turns;
    for (QAbstractSeries* s : chart->series())
        if (auto* line = qobject_cast<QLineSeries*>(s))
            turns << line;
    return turns;
}

QStringList Key(QChart* chart)
{
    QStringList names;
    for (QLegendMarker* m : chart->legend()->markers())
        if (m->isVisible())
            names << m->label();
    return names;
}

class PolarPageTest : public ::testing::Test {
protected:
    void SetUp() override { Forget(); }
    void TearDown() override { Forget(); }
    static void Forget()
    {
        QSettings profile(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarvo"),
                          QStringLiteral("Quillon"));
        profile.remove(QStringLiteral("Meter/polarRevolutions"));
        profile.remove(QStringLiteral("Meter/polarLowPassHz"));
    }
};

TEST_F(PolarPageTest, RevolutionsAndLowPassRedrawAndAreRemembered)
{
    const meter::MeterResult r = ResultOf({Revolving(1, kPlatterHz)});
    {
        PolarPage page(r);
        EXPECT_EQ(page.RevolutionsBox()->minimum(), 1);
        EXPECT_EQ(page.RevolutionsBox()->maximum(), 10);
        EXPECT_EQ(page.RevolutionsBox()->value(), 4);
        QStringList choices;
        for (int i = 0; i < page.LowPassBox()->count(); ++i)
            choices << page.LowPassBox()->itemText(i);
        EXPECT_EQ(choices, (QStringList{"Off", "60 Hz", "100 Hz", "150 Hz", "200 Hz"}));
        EXPECT_EQ(page.View()->chart()->title(), "Polar, 4 revolutions (0.556 Hz)");
        struct Case {
            int revolutions;
            int lowPass;  // index
            QString title;
        };
        const Case cases[] = {
            {1, 0, "Polar, 1 revolution (0.556 Hz)"},
            {7, 0, "Polar, 7 revolutions (0.556 Hz)"},
            {10, 2, "Polar, 10 revolutions (0.556 Hz, low-pass 100 Hz)"},
            {10, 4, "Polar, 10 revolutions (0.556 Hz, low-pass 200 Hz)"},
        };
        for (const Case& c : cases) {
            page.RevolutionsBox()->setValue(c.revolutions);
            page.LowPassBox()->setCurrentIndex(c.lowPass);
            QChart* chart = page.View()->chart();
            EXPECT_EQ(chart->title(), c.title);
            const QList<QLineSeries*> turns = Turns(chart);
            ASSERT_EQ(turns.size(), c.revolutions) << c.title.toStdString();
            QSet<QRgb> colours;
            QStringList names;
            for (int t = 0; t < turns.size(); ++t) {
                colours.insert(turns[t]->pen().color().rgb());
                names << QStringLiteral("Rev %1").arg(t + 1);
            }
            EXPECT_EQ(colours.size(), c.revolutions) << c.title.toStdString();  // a colour each
            EXPECT_EQ(Key(chart), names) << c.title.toStdString();
            EXPECT_TRUE(chart->legend()->isVisible());
        }
        // Angles in degrees, every 30.
        bool degrees = false;
        auto* polar = qobject_cast<QPolarChart*>(page.View()->chart());
        ASSERT_TRUE(polar);
        for (QAbstractAxis* axis : polar->axes(QPolarChart::PolarOrientationAngular))
            if (auto* angle = qobject_cast<QCategoryAxis*>(axis)) {
                // The degree sign itself, as drawn (a value axis's format would lose it).
                QStringList expected;
                for (int deg = 0; deg < 360; deg += 30)
                    expected << QString::number(deg) + QChar(0xb0);
                degrees = angle->categoriesLabels() == expected;
                EXPECT_EQ(angle->max(), 360);
            }
        EXPECT_TRUE(degrees);
    }
    // The next dialog opens at the last choices.
    PolarPage again(r);
    EXPECT_EQ(again.RevolutionsBox()->value(), 10);
    EXPECT_EQ(again.LowPassHz(), 200);
    EXPECT_EQ(again.View()->chart()->title(), "Polar, 10 revolutions (0.556 Hz, low-pass 200 Hz)");
}

TEST_F(PolarPageTest, FewerRevolutionsThanAskedDrawWhatThereIs)
{
    meter::ChannelFigures c = Revolving(1, kPlatterHz);
    while (!c.trackSeconds.empty() && c.trackSeconds.back() >= 6 / kPlatterHz) {
        c.trackSeconds.pop_back();
        c.trackDeviation.pop_back();
        c.trackWeighted.pop_back();
    }
    PolarPage page(ResultOf({c}));
    page.RevolutionsBox()->setValue(9);
    EXPECT_EQ(page.View()->chart()->title(), "Polar, 6 revolutions (0.556 Hz)");
    EXPECT_EQ(Turns(page.View()->chart()).size(), 6);
}

TEST_F(PolarPageTest, ChannelsShareTheKeyAndDifferInDashes)
{
    PolarPage page(ResultOf({Revolving(1, kPlatterHz), Revolving(2, kPlatterHz)}));
    QChart* chart = page.View()->chart();
    EXPECT_EQ(chart->title(), "Polar, 4 revolutions (0.556 Hz)<br>Channels solid, dashed, dotted");
    const QList<QLineSeries*> turns = Turns(chart);
    ASSERT_EQ(turns.size(), 8);
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(turns[t]->pen().style(), Qt::SolidLine);
        EXPECT_EQ(turns[t + 4]->pen().style(), Qt::DashLine);
        EXPECT_EQ(turns[t]->pen().color(), turns[t + 4]->pen().color());  // the same revolution
    }
    EXPECT_EQ(Key(chart), (QStringList{"Rev 1", "Rev 2", "Rev 3", "Rev 4"}));
}

// Without a rotating part there is nothing to draw: the title says which
// tab and field give one. The picture and the report draw the default.
TEST_F(PolarPageTest, WithoutARevolutionTheTitleSaysWhereToGiveOne)
{
    PolarPage page(ResultOf({Revolving(1, 0)}));
    EXPECT_EQ(page.View()->chart()->title(),
              "Polar: no revolution to draw.<br>Give the platter's rpm or a tape part<br>in the Transport tab");
    EXPECT_TRUE(Turns(page.View()->chart()).isEmpty());
    EXPECT_FALSE(page.View()->chart()->legend()->isVisible());
    std::unique_ptr<QChart> standard(NewMeterView(MeterView::Polar, ResultOf({Revolving(1, kPlatterHz)})));
    EXPECT_EQ(standard->title(), "Polar, 4 revolutions (0.556 Hz)");
    EXPECT_EQ(Turns(standard.get()).size(), 4);
}

}  // namespace
}  // namespace tarvo::test
