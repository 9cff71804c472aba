// "Standards W&F..." in the Edit menu: the meter's dialog on the opened
// file, its figures and plots, cancelling, and the note without a file.
#include "GuiTest.h"
#include "ToneFile.h"

#include "app/LiveMeterDialog.h"
#include "app/MeterDialog.h"
#include "platform/MeterViews.h"

#include <QAbstractTextDocumentLayout>
#include <QComboBox>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QGraphicsTextItem>
#include <QImage>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextDocumentFragment>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QScatterSeries>

#include <cmath>
#include <filesystem>
#include <limits>

namespace tarvo::test {
namespace {

struct MeterWindow : AppTest {
    // A 16-bit 3150 Hz tone in the test's folder; its path.
    std::string Deck(const char* name, int rate, double seconds, std::vector<Modulation> mods = {})
    {
        Tone tone;
        tone.mods = std::move(mods);
        const std::string path = (dir.Path() / name).string();
        EXPECT_TRUE(WriteTone(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, rate, seconds, tone));
        return path;
    }
};

TEST_F(MeterWindow, EditMenuGainsTheItemAfterShowFreqs)
{
    Start();
    QMenu* edit = nullptr;
    for (QAction* a : Frame()->menuBar()->actions())
        if (a->text() == "Edit")
            edit = a->menu();
    ASSERT_NE(edit, nullptr);
    QStringList texts;
    QList<int> ids;
    for (QAction* a : edit->actions()) {
        texts << a->text();
        ids << a->data().toInt();
    }
    EXPECT_EQ(texts, (QStringList{"Add comments", "Show Freqs", "Standards W&&F...", "Live W&&F..."}));
    EXPECT_EQ(ids, (QList<int>{ID_ADDCOMMENTS, ID_SHOWFREQS, ID_STANDARDSWF, ID_LIVEWF}));
}

TEST_F(MeterWindow, DialogShowsTheFiguresAndBothPlots)
{
    const std::string path = Deck("deck.wav", 22050, 6, {{4, 0.001}});
    Start({QString::fromStdString(path)});
    bool shown = false;
    app->meterDialogHook = [&](CMeterDialog& dlg) {
        shown = true;
        dlg.show();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        EXPECT_TRUE(dlg.Result().ok) << dlg.Result().message;
        const QString text = dlg.FiguresText();
        EXPECT_TRUE(text.contains("weighted peak (2-sigma, +-%): 0.09") || text.contains("weighted peak (2-sigma, +-%): 0.10"))
            << text.toStdString();
        EXPECT_TRUE(text.contains("carrier (mean, Hz): 3150.0")) << text.toStdString();
        EXPECT_FALSE(text.contains("speed error")) << text.toStdString();
        // A nominal gives the speed error at once; one far off gives a warning instead.
        dlg.NominalBox()->setCurrentText("3000");
        EXPECT_TRUE(dlg.FiguresText().contains("speed error (%): +5.000")) << dlg.FiguresText().toStdString();
        dlg.NominalBox()->setCurrentText("1000");
        EXPECT_FALSE(dlg.FiguresText().contains("speed error (%)"));
        EXPECT_TRUE(dlg.FiguresText().contains("more than 10 % from the nominal 1000.0 Hz"));
        dlg.NominalBox()->setCurrentText("none");
        EXPECT_FALSE(dlg.FiguresText().contains("speed error"));
        EXPECT_EQ(dlg.findChildren<QChartView*>().size(), 5);  // deviation, zoom, spectrum, histogram, polar
        // The report is one call away.
        std::string error;
        const QString pdf = QString::fromStdString((dir.Path() / "deck.pdf").string());
        EXPECT_TRUE(dlg.SaveReport(pdf, error)) << error;
        EXPECT_GT(QFileInfo(pdf).size(), 1000);
        EXPECT_FALSE(dlg.SaveReport(QString::fromStdString((dir.Path() / "no" / "deck.pdf").string()), error));
        // Never over the file measured, by its own name, another spelling or
        // a link to it: refused, and the recording left as it was.
        const std::string recording = dir.Read("deck.wav");
        std::filesystem::create_symlink(path, dir.Path() / "link.wav");
        for (const std::string& name :
             {path, (dir.Path() / "." / "deck.wav").string(), (dir.Path() / "link.wav").string()}) {
            error.clear();
            EXPECT_FALSE(dlg.SaveReport(QString::fromStdString(name), error)) << name;
            EXPECT_NE(error.find("it is the input file"), std::string::npos) << name << ": " << error;
            EXPECT_EQ(dir.Read("deck.wav"), recording) << name;
        }
        EXPECT_EQ(dlg.CancelButton()->text(), "Close");
        dlg.CancelButton()->click();
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    };
    Frame()->CommandAction(ID_STANDARDSWF)->trigger();
    EXPECT_TRUE(shown);
    EXPECT_TRUE(messages.empty());
}

TEST_F(MeterWindow, CancelClosesTheDialogWithoutFigures)
{
    Start({QString::fromStdString(Deck("long.wav", 48000, 30))});
    app->meterDialogHook = [&](CMeterDialog& dlg) {
        dlg.show();
        dlg.CancelButton()->click();
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
        // Cancelled before its end the run leaves no figures; a run that
        // was quicker than the click has them all.
        EXPECT_EQ(dlg.Result().ok, !dlg.Result().cancelled);
        EXPECT_EQ(dlg.Result().channels.empty(), dlg.Result().cancelled);
    };
    Frame()->CommandAction(ID_STANDARDSWF)->trigger();
}

// The dialog opens with room for its plots (1000 x 700, or 90 % of a
// smaller screen), can be maximised, and opens next time as it was left.
TEST_F(MeterWindow, DialogOpensLargeAndRemembersItsPlace)
{
    QSettings(QSettings::NativeFormat, QSettings::UserScope, "Tarvo", "Quillon").remove("Meter/geometry");
    Start({QString::fromStdString(Deck("deck.wav", 22050, 3))});
    int opened = 0;
    QSize left;
    app->meterDialogHook = [&](CMeterDialog& dlg) {
        ++opened;
        dlg.show();
        QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
        const QSize room = dlg.screen()->availableGeometry().size() * 0.9;
        if (opened == 1) {
            EXPECT_EQ(dlg.size(), QSize(1000, 700).boundedTo(room));
            EXPECT_TRUE(dlg.windowFlags() & Qt::WindowMaximizeButtonHint);
            left = QSize(dlg.width() - 37, dlg.height() - 23);
            dlg.resize(left);
        } else {
            EXPECT_EQ(dlg.size(), left);
        }
        dlg.CancelButton()->click();
    };
    Frame()->CommandAction(ID_STANDARDSWF)->trigger();
    Frame()->CommandAction(ID_STANDARDSWF)->trigger();
    EXPECT_EQ(opened, 2);
}

// "tarvo --meter FILE" opens FILE straight in the dialog, "tarvo --live" the
// live meter; a file's name may still hold spaces.
TEST_F(MeterWindow, CommandLineOpensTheMeters)
{
    const std::string path = Deck("a deck.wav", 22050, 3);
    std::string measured;
    Start({"--meter", QString::fromStdString(path)}, [&](CTarvoApp& a) {
        a.meterDialogHook = [&](CMeterDialog& dlg) {
            QTRY_VERIFY_WITH_TIMEOUT(dlg.Finished(), 60000);
            measured = dlg.Result().file;
        };
    });
    QTRY_COMPARE_WITH_TIMEOUT(measured, std::string("a deck.wav"), 60000);
    EXPECT_TRUE(messages.empty());

    Start({"--live"}, [](CTarvoApp& a) { a.liveInputFactory = [] { return std::unique_ptr<BlockCapture>(); }; });
    QTRY_VERIFY(app->LiveMeterDialog() && app->LiveMeterDialog()->isVisible());
    app->LiveMeterDialog()->close();
}

TEST_F(MeterWindow, WithoutAFileItAsksForOne)
{
    Start();
    bool shown = false;
    app->meterDialogHook = [&](CMeterDialog&) { shown = true; };
    Frame()->CommandAction(ID_STANDARDSWF)->trigger();
    EXPECT_FALSE(shown);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Open a recording of a test tone first.");
    EXPECT_EQ(captions[0], "Standards W&F");
}

// The visible texts of a scene's charts that Qt Charts had to cut short.
QStringList CutTexts(QGraphicsScene& scene) { return VisibleTexts(scene).filter(QRegularExpression("\\.\\.\\.$")); }

// The texts of a scene's charts that overlap their chart's title, as
// "title / text" (each box without its document's margin; the title's
// first block only).
QStringList TextsOnTitles(QGraphicsScene& scene)
{
    QStringList colliding;
    for (QGraphicsItem* item : scene.items()) {
        auto* chart = dynamic_cast<QChart*>(item);
        if (!chart)
            continue;
        const QString title = QTextDocumentFragment::fromHtml(chart->title()).toPlainText().split('\n').front();
        std::vector<std::pair<QString, QRectF>> boxes;
        QRectF titleBox;
        for (QGraphicsItem* child : chart->childItems() + scene.items(chart->sceneBoundingRect()))
            if (auto* text = dynamic_cast<QGraphicsTextItem*>(child);
                text && text->isVisible() && !text->toPlainText().trimmed().isEmpty() && chart->isAncestorOf(text)) {
                QTextDocument* doc = text->document();
                const double m = doc->documentMargin();
                if (text->toPlainText().startsWith(title))
                    titleBox = text->mapRectToScene(doc->documentLayout()->blockBoundingRect(doc->firstBlock()));
                else
                    boxes.emplace_back(text->toPlainText(), text->sceneBoundingRect().adjusted(m, m, -m, -m));
            }
        if (titleBox.isEmpty())
            colliding << "no title: " + title;
        for (const auto& [text, box] : boxes)
            if (box.intersects(titleBox))
                colliding << title + " / " + text;
    }
    return colliding;
}

// The report's half-width charts (an A4 page at 96 dpi), the picture's
// (1200 pixels) and a dialog's: every title and label whole, the
// spectrum's axis thinned to decades only where its width needs it.
TEST(MeterPlots, EveryTextIsWholeOnThePageThePictureAndTheDialog)
{
    TempDir dir;
    Tone tone;
    tone.mods = {{0.5556, 0.002}, {8, 0.0003}};
    const std::string path = dir.Path() / "turntable.wav";
    ASSERT_TRUE(WriteTone(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 12, tone));
    meter::MeterSettings settings;
    settings.transport.rpm = 33.333;
    const meter::MeterResult withPlatter = meter::RunMeter(path, settings);
    ASSERT_TRUE(withPlatter.ok) << withPlatter.message;
    const meter::MeterResult withoutParts = meter::RunMeter(path, {});
    ASSERT_TRUE(withoutParts.ok) << withoutParts.message;
    for (const meter::MeterResult* r : {&withPlatter, &withoutParts})
        for (double width : {703.0, 1200.0}) {
            QGraphicsScene scene;
            PlaceMeterViews(scene, QRectF(0, 0, width, 900), *r);
            EXPECT_EQ(CutTexts(scene), QStringList()) << width;
            // No axis's top label touches its chart's title.
            EXPECT_EQ(TextsOnTitles(scene), QStringList()) << width;
            const QStringList texts = VisibleTexts(scene);
            EXPECT_TRUE(texts.contains("100") && texts.contains("200")) << width;
            EXPECT_EQ(texts.contains("20"), width > 1000) << width;  // 1, 2, 5 steps where there is room
        }
    // Two channels with a belt-driven platter on Letter paper, where the
    // report's record leaves the views three quarters of the page's height.
    Tone other = tone;
    other.mods = {{0.5556, 0.003}, {10, 0.0002}};
    const std::string stereo = dir.Path() / "stereo.wav";
    ASSERT_TRUE(WriteTones(stereo, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 12, {tone, other}));
    settings.transport.driveRatio = 7.5;
    settings.transport.motorPoles = 24;
    const meter::MeterResult twoChannels = meter::RunMeter(stereo, settings);
    ASSERT_TRUE(twoChannels.ok) << twoChannels.message;
    {
        QGraphicsScene scene;
        PlaceMeterViews(scene, QRectF(0, 0, 725, 0.75 * 965), twoChannels);
        EXPECT_EQ(CutTexts(scene), QStringList());
        EXPECT_EQ(TextsOnTitles(scene), QStringList());
    }
    // A chart in the dialog thins its axis as the user narrows it, and
    // takes the dense one back when widened.
    QChartView view(NewMeterView(MeterView::Spectrum, withPlatter));
    view.resize(900, 500);
    view.show();
    QTRY_VERIFY(VisibleTexts(*view.scene()).contains("20"));
    view.resize(330, 500);
    QTRY_VERIFY(!VisibleTexts(*view.scene()).contains("20"));
    EXPECT_EQ(CutTexts(*view.scene()), QStringList());
    view.resize(900, 500);
    QTRY_VERIFY(VisibleTexts(*view.scene()).contains("20"));
}

// A deck's figures as the meter gives them, each plot a few points.
meter::ChannelFigures DeckFigures()
{
    meter::ChannelFigures c;
    c.channel = 1;
    c.carrierHz = 3150;
    c.seconds = 20;
    c.weighted = {0.05, 0.035};
    c.unweighted = {0.08, 0.06};
    c.wowRmsPercent = 0.05;
    c.modulation = {{0.5556, 0.07}};
    c.envelopeSeconds = {5, 15};
    c.envelopeMin = {-0.07, -0.06};
    c.envelopeMax = {0.07, 0.06};
    c.spectrumHz = {0.5, 1, 1.5};
    c.spectrumPercent = {0.07, 0.001, 0.001};
    c.revolutionHz = 0.5556;
    c.trackSeconds = {0, 0.5, 1, 2};
    c.trackDeviation = {0.01, 0.02, -0.01, 0};
    c.trackWeighted = {0.01, 0.02, -0.01, 0};
    c.histogramPercent = {-0.1, 0, 0.1};
    c.histogramShare = {0.25, 0.5, 0.25};
    return c;
}

meter::MeterResult DeckResult()
{
    meter::MeterResult r;
    r.ok = true;
    r.channels = {DeckFigures()};
    return r;
}

// Every axis of a scene's charts: finite ends in order and a bounded
// number of ticks.
void ExpectBoundedAxes(QGraphicsScene& scene, const std::string& what)
{
    size_t charts = 0;
    for (QGraphicsItem* item : scene.items())
        if (auto* chart = dynamic_cast<QChart*>(item)) {
            ++charts;
            for (QAbstractAxis* axis : chart->axes())
                if (auto* category = qobject_cast<QCategoryAxis*>(axis)) {
                    EXPECT_TRUE(std::isfinite(category->min()) && std::isfinite(category->max())) << what;
                    EXPECT_LT(category->min(), category->max()) << what;
                    EXPECT_LE(category->count(), 71) << what;
                }
        }
    EXPECT_EQ(charts, 5u) << what;
}

// A result whose figures no meter gives (a figure the check refuses may
// still reach a plot drawn from a result kept elsewhere): each view is
// drawn, its axes bounded, the points that are no numbers left out.
TEST(MeterPlots, FiguresOfAnyNumbersAreDrawn)
{
    constexpr double kInf = std::numeric_limits<double>::infinity();
    const double values[] = {std::numeric_limits<double>::quiet_NaN(), kInf, -kInf, 1e308, -1e308,
                             std::numeric_limits<double>::denorm_min(), 0};
    for (double v : values) {
        const std::string what = std::to_string(v);
        meter::ChannelFigures c = DeckFigures();
        c.carrierHz = c.seconds = c.weighted.twoSigmaPercent = c.unweighted.twoSigmaPercent = v;
        c.wowRmsPercent = c.flutterRmsPercent = c.driftPercent = v;
        c.speedErrorPercent = v;
        c.modulation.push_back({v, v});
        for (std::vector<double>* points : {&c.envelopeSeconds, &c.envelopeMin, &c.envelopeMax, &c.spectrumHz,
                                            &c.spectrumPercent, &c.trackSeconds, &c.trackDeviation, &c.trackWeighted,
                                            &c.histogramPercent, &c.histogramShare})
            points->push_back(v);
        meter::ChannelFigures wholly = c;  // every point that number
        wholly.channel = 2;
        wholly.revolutionHz = v;
        for (std::vector<double>* points : {&wholly.envelopeMin, &wholly.envelopeMax, &wholly.spectrumPercent,
                                            &wholly.trackDeviation, &wholly.histogramPercent})
            std::fill(points->begin(), points->end(), v);
        meter::MeterResult r;
        r.ok = true;
        r.channels = {c, wholly};
        for (const meter::MeterResult& shown : {r, meter::MeterResult{true, false, "", "", 0, "", {wholly}, std::nullopt}}) {
            QGraphicsScene scene;
            PlaceMeterViews(scene, QRectF(0, 0, 1000, 800), shown);
            ExpectBoundedAxes(scene, what);
            QImage page(1000, 900, QImage::Format_RGB32);
            page.fill(Qt::white);
            QPainter painter(&page);
            DrawMeterViews(painter, QRectF(0, 0, 1000, 900), shown, "deck.wav");
        }
    }
}

// The title gives the nominal tone the speed error was taken against: a
// 3150 Hz tone read 5 % fast is 3307.5 Hz, 5 % slow 2992.5 Hz.
TEST(MeterPlots, TitleGivesTheNominalTone)
{
    const struct {
        double carrier, error;
        const char* text;
    } cases[] = {
        {3307.5, 5, "carrier 3307.50 Hz (nominal 3150.0 Hz, speed error +5.000 %)"},
        {2992.5, -5, "carrier 2992.50 Hz (nominal 3150.0 Hz, speed error -5.000 %)"},
        {1010, 1, "carrier 1010.00 Hz (nominal 1000.0 Hz, speed error +1.000 %)"},
    };
    for (const auto& k : cases) {
        meter::MeterResult r = DeckResult();
        r.channels[0].carrierHz = k.carrier;
        r.channels[0].speedErrorPercent = k.error;
        const QStringList lines = TitleLines(r, "deck.wav");
        ASSERT_EQ(lines.size(), 3);
        EXPECT_TRUE(lines[2].contains(k.text)) << lines[2].toStdString();
    }
}

// The histogram's heights are the share of the time in percent: a bin
// holding 60 % of the time stands at 60 on an axis that reaches it.
TEST(MeterPlots, HistogramGivesTheShareOfTheTimeInPercent)
{
    meter::MeterResult r = DeckResult();
    r.channels[0].histogramPercent = {-0.02, 0, 0.02};
    r.channels[0].histogramShare = {0.3, 0.6, 0.1};
    std::unique_ptr<QChart> chart(NewMeterView(MeterView::Histogram, r));
    const QList<QAbstractAxis*> vertical = chart->axes(Qt::Vertical);
    ASSERT_EQ(vertical.size(), 1);
    auto* share = qobject_cast<QCategoryAxis*>(vertical.front());
    ASSERT_NE(share, nullptr);
    EXPECT_GE(share->max(), 60);
    EXPECT_LE(share->max(), 80);
    auto* horizontal = qobject_cast<QCategoryAxis*>(chart->axes(Qt::Horizontal).front());
    EXPECT_LE(horizontal->min(), -0.03);  // the bins' outer edges, in percent
    EXPECT_GE(horizontal->max(), 0.03);
    double top = 0;
    for (QAbstractSeries* s : chart->series())
        if (auto* area = qobject_cast<QAreaSeries*>(s))
            for (const QPointF& p : area->upperSeries()->points())
                top = std::max(top, p.y());
    EXPECT_DOUBLE_EQ(top, 60);
}

// Each line's marker sits at its own level, not on a taller neighbour's
// lobe: lines at 4 and 4.4 Hz, bins of 0.05 Hz.
TEST(MeterPlots, LineMarkersSitAtTheirOwnLevels)
{
    meter::MeterResult r = DeckResult();
    meter::ChannelFigures& c = r.channels[0];
    c.spectrumHz.clear();
    c.spectrumPercent.clear();
    for (int k = 4; k <= 400; ++k) {
        const double hz = k * 0.05;
        c.spectrumHz.push_back(hz);
        c.spectrumPercent.push_back(std::abs(hz - 4) < 0.11 ? 1 : std::abs(hz - 4.4) < 0.11 ? 0.1 : 0.001);
    }
    c.modulation = {{4, 0.98}, {4.4, 0.098}};
    std::unique_ptr<QChart> chart(NewMeterView(MeterView::Spectrum, r));
    std::vector<QPointF> markers;
    for (QAbstractSeries* s : chart->series())
        if (auto* scatter = qobject_cast<QScatterSeries*>(s))
            for (const QPointF& p : scatter->points())
                markers.push_back(p);
    ASSERT_EQ(markers.size(), 2u);
    EXPECT_DOUBLE_EQ(markers[0].x(), std::log10(4.0));
    EXPECT_DOUBLE_EQ(markers[0].y(), 0.98);
    EXPECT_DOUBLE_EQ(markers[1].x(), std::log10(4.4));
    EXPECT_DOUBLE_EQ(markers[1].y(), 0.098);
}

}  // namespace
}  // namespace tarvo::test
