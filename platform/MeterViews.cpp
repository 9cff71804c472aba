#include "platform/MeterViews.h"

#include "meter/PlotScale.h"
#include "meter/Views.h"

#include <QApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsScene>
#include <QPainter>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QChart>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QPolarChart>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>
#include <QtCharts/QXYSeries>

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

const QColor kColours[] = {QColor(0, 90, 200), QColor(200, 40, 30), QColor(20, 140, 60), QColor(150, 60, 170)};
constexpr double kLowestHz = 0.2, kHighestHz = 200;

QColor ColourOf(size_t i) { return kColours[i % (sizeof kColours / sizeof kColours[0])]; }
QString ChannelName(const meter::ChannelFigures& c) { return QStringLiteral("Channel %1").arg(c.channel); }
QString Fixed(double v, int decimals) { return QString::fromStdString(meter::FixedText(v, decimals)); }

// A point of a series where both are numbers, brought within the axes'
// reach: the painter's work on a line grows with its length in pixels.
void Append(QXYSeries* series, double x, double y)
{
    if (std::isfinite(x) && std::isfinite(y))
        series->append(meter::OnAxis(x), meter::OnAxis(y));
}

}  // namespace

void SetAxisTicks(QCategoryAxis* axis, const meter::Axis& a)
{
    for (const QString& label : axis->categoriesLabels())
        axis->remove(label);
    axis->setRange(a.lo, a.hi);
    axis->setStartValue(a.lo);
    for (size_t i = 0; i < a.ticks.size(); ++i)
        axis->append(QString::fromStdString(a.labels[i]), a.ticks[i]);
}

namespace {

void SetTicks(QCategoryAxis* axis, const meter::Axis& a) { SetAxisTicks(axis, a); }

// An axis labelled exactly at the ticks PlotScale chose.
QCategoryAxis* NewAxis(const meter::Axis& a, const QString& title)
{
    auto* axis = new QCategoryAxis;
    axis->setTitleText(title);
    axis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    SetTicks(axis, a);
    return axis;
}

// Qt Charts gives each label of a horizontal axis an equal share of the
// plot's width and cuts a longer one to "...", which would turn "100" into
// "1...". Of `choices` (densest first) the axis takes the densest whose
// labels all fit, and chooses again whenever the plot's width changes. The
// room a label needs besides its text covers the text item's margins and
// the padding on both sides.
constexpr double kLabelRoom = 20;

bool LabelsFit(const QCategoryAxis* axis, const meter::Axis& a, double plotWidth)
{
    const QFontMetricsF metrics(axis->labelsFont());
    double widest = 0;
    for (const std::string& label : a.labels)
        widest = std::max(widest, metrics.horizontalAdvance(QString::fromStdString(label)));
    return widest + kLabelRoom <= plotWidth / static_cast<double>(a.ticks.size() + 1);
}

void KeepLabelsWhole(QChart* chart, QCategoryAxis* axis, const std::vector<meter::Axis>& choices)
{
    QObject::connect(chart, &QChart::plotAreaChanged, axis, [axis, choices](const QRectF& plot) {
        size_t pick = 0;
        while (pick + 1 < choices.size() && !LabelsFit(axis, choices[pick], plot.width()))
            ++pick;
        QStringList labels;
        for (const std::string& label : choices[pick].labels)
            labels << QString::fromStdString(label);
        if (axis->categoriesLabels() != labels)
            SetTicks(axis, choices[pick]);
    });
}

// The same axis with a log scale drawn on a linear one: values are log10(hz).
meter::Axis Log10Of(meter::Axis a)
{
    a.lo = std::log10(a.lo);
    a.hi = std::log10(a.hi);
    for (double& t : a.ticks)
        t = std::log10(t);
    return a;
}

QChart* NewChart(const QString& title, const meter::MeterResult& r)
{
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->setVisible(r.channels.size() > 1);
    chart->legend()->setAlignment(Qt::AlignTop);
    chart->setMargins(QMargins(4, 4, 4, 4));
    return chart;
}

void Attach(QChart* chart, QAbstractSeries* s, QAbstractAxis* x, QAbstractAxis* y)
{
    chart->addSeries(s);
    s->attachAxis(x);
    s->attachAxis(y);
}

void HideFromLegend(QChart* chart, QAbstractSeries* s)
{
    for (QLegendMarker* m : chart->legend()->markers(s))
        m->setVisible(false);
}

// A band filled between two lines in a channel's colour, lighter when
// channels overlap.
QAreaSeries* NewBand(QLineSeries* upper, QLineSeries* lower, const meter::MeterResult& r, size_t i)
{
    auto* area = new QAreaSeries(upper, lower);
    upper->setParent(area);
    lower->setParent(area);
    area->setName(ChannelName(r.channels[i]));
    QColor fill = ColourOf(i);
    area->setPen(QPen(fill, 1));
    fill.setAlpha(r.channels.size() > 1 ? 80 : 115);
    area->setBrush(fill);
    return area;
}

// The +-two-sigma lines of the weighted deviation, dashed in the channel's colour.
void AddTwoSigma(QChart* chart, const meter::ChannelFigures& c, size_t i, double from, double to, QAbstractAxis* x,
                 QAbstractAxis* y)
{
    for (double sign : {1.0, -1.0}) {
        auto* line = new QLineSeries;
        Append(line, from, sign * c.weighted.twoSigmaPercent);
        Append(line, to, sign * c.weighted.twoSigmaPercent);
        QPen pen(ColourOf(i), 1, Qt::DashLine);
        line->setPen(pen);
        Attach(chart, line, x, y);
        HideFromLegend(chart, line);
    }
}

QChart* DeviationView(const meter::MeterResult& r)
{
    QChart* chart = NewChart(QStringLiteral("Deviation, whole file (band: envelope; dashed: weighted +-2 sigma)"), r);
    double lo = 0, hi = 0, seconds = 0;
    for (const meter::ChannelFigures& c : r.channels) {
        seconds = std::max(seconds, c.seconds);
        for (size_t k = 0; k < c.envelopeMin.size(); ++k) {
            lo = std::min(lo, c.envelopeMin[k]);
            hi = std::max(hi, c.envelopeMax[k]);
        }
        lo = std::min(lo, -c.weighted.twoSigmaPercent);
        hi = std::max(hi, c.weighted.twoSigmaPercent);
    }
    QCategoryAxis* x = NewAxis(meter::TimeAxis(seconds), QStringLiteral("Time (%1)").arg(
                                                             seconds >= meter::kMinutesFrom ? "m:ss" : "s"));
    QCategoryAxis* y = NewAxis(meter::DeviationAxis(lo, hi), QStringLiteral("Deviation (%)"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (size_t i = 0; i < r.channels.size(); ++i) {
        const meter::ChannelFigures& c = r.channels[i];
        auto* upper = new QLineSeries;
        auto* lower = new QLineSeries;
        for (size_t k = 0; k < c.envelopeSeconds.size(); ++k) {
            Append(upper, c.envelopeSeconds[k], c.envelopeMax[k]);
            Append(lower, c.envelopeSeconds[k], c.envelopeMin[k]);
        }
        Attach(chart, NewBand(upper, lower, r, i), x, y);
        AddTwoSigma(chart, c, i, 0, c.seconds, x, y);
    }
    return chart;
}

QChart* ZoomView(const meter::MeterResult& r)
{
    double lo = 0, hi = 0, to = 0;
    double revolution = 0;
    for (const meter::ChannelFigures& c : r.channels) {
        for (size_t k = 0; k < c.trackSeconds.size(); ++k) {
            lo = std::min({lo, c.trackDeviation[k], c.trackWeighted[k]});
            hi = std::max({hi, c.trackDeviation[k], c.trackWeighted[k]});
        }
        if (!c.trackSeconds.empty())
            to = std::max(to, c.trackSeconds.back());
        revolution = c.revolutionHz;
    }
    const QString stretch = revolution > 0 ? QStringLiteral("the first %1 revolutions").arg(meter::kZoomRevolutions)
                                           : QStringLiteral("the first %1 s").arg(meter::kZoomSeconds);
    QChart* chart = NewChart(QStringLiteral("Deviation, %1 (thin: weighted)").arg(stretch), r);
    QCategoryAxis* x = NewAxis(meter::TimeAxis(to), QStringLiteral("Time (s)"));
    QCategoryAxis* y = NewAxis(meter::DeviationAxis(lo, hi), QStringLiteral("Deviation (%)"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (size_t i = 0; i < r.channels.size(); ++i) {
        const meter::ChannelFigures& c = r.channels[i];
        auto* dev = new QLineSeries;
        auto* weighted = new QLineSeries;
        for (size_t k = 0; k < c.trackSeconds.size(); ++k) {
            Append(dev, c.trackSeconds[k], c.trackDeviation[k]);
            Append(weighted, c.trackSeconds[k], c.trackWeighted[k]);
        }
        dev->setName(ChannelName(c));
        dev->setPen(QPen(ColourOf(i), 1.6));
        QColor light = ColourOf(i).lighter(150);
        weighted->setPen(QPen(light, 0.8));
        Attach(chart, dev, x, y);
        Attach(chart, weighted, x, y);
        HideFromLegend(chart, weighted);
        AddTwoSigma(chart, c, i, 0, to, x, y);
    }
    return chart;
}

QChart* SpectrumView(const meter::MeterResult& r)
{
    QChart* chart = NewChart(QStringLiteral("Spectrum of the deviation, lines named by part"), r);
    double top = 0;
    for (const meter::ChannelFigures& c : r.channels)
        for (size_t k = 0; k < c.spectrumHz.size(); ++k)
            if (c.spectrumHz[k] >= kLowestHz)
                top = std::max(top, c.spectrumPercent[k]);
    using meter::LogTicks;
    const std::vector<meter::Axis> frequencies = {Log10Of(meter::LogAxis(kLowestHz, kHighestHz, LogTicks::OneTwoFive)),
                                                  Log10Of(meter::LogAxis(kLowestHz, kHighestHz, LogTicks::Decades))};
    QCategoryAxis* x = NewAxis(frequencies.front(), QStringLiteral("Modulation frequency (Hz)"));
    QCategoryAxis* y = NewAxis(meter::LinearAxis(0, std::max(top * 1.15, 0.001), 5), QStringLiteral("Peak (%)"));
    KeepLabelsWhole(chart, x, frequencies);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (size_t i = 0; i < r.channels.size(); ++i) {
        const meter::ChannelFigures& c = r.channels[i];
        auto* line = new QLineSeries;
        line->setName(ChannelName(c));
        line->setPen(QPen(ColourOf(i), 1.4));
        for (size_t k = 0; k < c.spectrumHz.size(); ++k)
            if (c.spectrumHz[k] >= kLowestHz)
                Append(line, std::log10(c.spectrumHz[k]), c.spectrumPercent[k]);
        Attach(chart, line, x, y);
        // Each line's label at its peak: a one-point series whose label is the text.
        for (const meter::ModulationLine& m : c.modulation) {
            if (m.hz < kLowestHz)
                continue;
            auto* peak = new QScatterSeries;
            peak->setMarkerSize(6);
            peak->setColor(ColourOf(i));
            peak->setBorderColor(ColourOf(i));
            // At the top of the spectrum's lobe (five bins), where the eye finds the peak.
            const double bin = c.spectrumHz.size() > 1 ? c.spectrumHz[1] - c.spectrumHz[0] : 1;
            double at = 0;
            for (size_t k = 0; k < c.spectrumHz.size(); ++k)
                if (std::abs(c.spectrumHz[k] - m.hz) <= 2.5 * bin)
                    at = std::max(at, c.spectrumPercent[k]);
            Append(peak, std::log10(m.hz), at > 0 ? at : m.percent);
            const std::string label = m.label ? " " + *m.label : c.parts.empty() ? "" : " (no part)";
            peak->setPointLabelsFormat(QStringLiteral("%1 Hz%2").arg(Fixed(m.hz, 2), QString::fromStdString(label)));
            peak->setPointLabelsVisible(true);
            peak->setPointLabelsClipping(false);
            peak->setPointLabelsColor(ColourOf(i).darker(130));
            Attach(chart, peak, x, y);
            HideFromLegend(chart, peak);
        }
    }
    return chart;
}

QChart* HistogramView(const meter::MeterResult& r)
{
    QChart* chart = NewChart(QStringLiteral("Histogram of the deviation"), r);
    // The axis holds the outer bars whole: half a bin beyond the outer centres.
    double lo = 0, hi = 0, top = 0;
    for (const meter::ChannelFigures& c : r.channels)
        for (size_t k = 0; k < c.histogramPercent.size(); ++k) {
            const double half = c.histogramPercent.size() > 1 ? (c.histogramPercent[1] - c.histogramPercent[0]) / 2 : 0;
            lo = std::min(lo, c.histogramPercent[k] - half);
            hi = std::max(hi, c.histogramPercent[k] + half);
            top = std::max(top, c.histogramShare[k] * 100);
        }
    QCategoryAxis* x = NewAxis(meter::DeviationAxis(lo, hi, 5), QStringLiteral("Deviation (%)"));
    QCategoryAxis* y = NewAxis(meter::LinearAxis(0, std::max(top, 1.0), 4), QStringLiteral("Share of the time (%)"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    for (size_t i = 0; i < r.channels.size(); ++i) {
        const meter::ChannelFigures& c = r.channels[i];
        if (c.histogramPercent.size() < 2)
            continue;
        const double half = (c.histogramPercent[1] - c.histogramPercent[0]) / 2;
        auto* upper = new QLineSeries;
        auto* lower = new QLineSeries;
        for (size_t k = 0; k < c.histogramPercent.size(); ++k) {
            Append(upper, c.histogramPercent[k] - half, c.histogramShare[k] * 100);
            Append(upper, c.histogramPercent[k] + half, c.histogramShare[k] * 100);
        }
        Append(lower, c.histogramPercent.front() - half, 0);
        Append(lower, c.histogramPercent.back() + half, 0);
        Attach(chart, NewBand(upper, lower, r, i), x, y);
    }
    return chart;
}

QChart* PolarView(const meter::MeterResult& r)
{
    auto* chart = new QPolarChart;
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->legend()->setVisible(r.channels.size() > 1);
    chart->legend()->setAlignment(Qt::AlignTop);
    std::vector<meter::PolarView> views;
    double base = 0, step = 0;
    for (const meter::ChannelFigures& c : r.channels) {
        views.push_back(meter::MakePolar(c));
        if (views.back().base > base) {
            base = views.back().base;
            step = views.back().ringStep;
        }
    }
    if (!(base > 0)) {
        chart->setTitle(QStringLiteral("Deviation by angle: give the rpm or a tape part"));
        return chart;
    }
    chart->setTitle(QStringLiteral("Deviation by angle, revolutions overlaid (%1 Hz)")
                        .arg(Fixed(r.channels.front().revolutionHz, 3)));
    auto* angle = new QValueAxis;
    angle->setRange(0, 360);
    angle->setTickCount(9);
    angle->setLabelFormat(QStringLiteral("%d"));
    meter::Axis rings;
    rings.lo = 0;
    rings.hi = base + 2 * step;
    for (int k = -2; k <= 2; k += 2) {  // rings at 0 % and at the deviation's reach
        rings.ticks.push_back(base + k * step);
        rings.labels.push_back((k > 0 ? "+" : "") + meter::TickLabel(k * step, step) + (k == 0 ? " %" : ""));
    }
    QCategoryAxis* radial = NewAxis(rings, QString());
    chart->addAxis(angle, QPolarChart::PolarOrientationAngular);
    chart->addAxis(radial, QPolarChart::PolarOrientationRadial);
    for (size_t i = 0; i < views.size(); ++i) {
        const meter::PolarView& v = views[i];
        for (size_t t = 0; t < v.angle.size(); ++t) {
            auto* turn = new QLineSeries;
            for (size_t k = 0; k < v.angle[t].size(); ++k)
                Append(turn, v.angle[t][k], v.radius[t][k] - v.base + base);
            QColor colour = ColourOf(i);
            colour.setAlpha(std::max(90, 255 - 40 * static_cast<int>(t)));
            turn->setPen(QPen(colour, 1.2));
            turn->setName(ChannelName(r.channels[i]));
            Attach(chart, turn, angle, radial);
            if (t > 0)
                HideFromLegend(chart, turn);
        }
    }
    return chart;
}

}  // namespace

ChartsApplication::~ChartsApplication()
{
    app_.reset();
    if (ownHandler_)
        qInstallMessageHandler(previous_);
}

bool ChartsApplication::Start(std::string& error)
{
    if (QCoreApplication::instance() && !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        error = "the plots need a graphical application";
        return false;
    }
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tarvo-cli";
        static char* argv[] = {name, nullptr};
        ownHandler_ = true;
        previous_ = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                fprintf(stderr, "%s\n", msg.toLocal8Bit().constData());
        });
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    return true;
}

QString ViewName(MeterView v)
{
    switch (v) {
    case MeterView::Deviation:
        return QStringLiteral("Deviation");
    case MeterView::Zoom:
        return QStringLiteral("Zoom");
    case MeterView::Spectrum:
        return QStringLiteral("Spectrum");
    case MeterView::Histogram:
        return QStringLiteral("Histogram");
    case MeterView::Polar:
        return QStringLiteral("Polar");
    }
    return {};
}

QChart* NewMeterView(MeterView v, const meter::MeterResult& r)
{
    switch (v) {
    case MeterView::Deviation:
        return DeviationView(r);
    case MeterView::Zoom:
        return ZoomView(r);
    case MeterView::Spectrum:
        return SpectrumView(r);
    case MeterView::Histogram:
        return HistogramView(r);
    case MeterView::Polar:
        return PolarView(r);
    }
    return nullptr;
}

QStringList TitleLines(const meter::MeterResult& r, const QString& fileName)
{
    QStringList lines;
    lines << QStringLiteral("%1 - %2").arg(fileName, QString::fromStdString(r.standard));
    // The transport the lines are labelled with, always: a label that
    // came from another machine is seen at once.
    lines << (r.transport.empty() ? QStringLiteral("No transport given") : QString::fromStdString(r.transport));
    for (const meter::ChannelFigures& c : r.channels) {
        QString carrier = c.source == "audio" ? QStringLiteral("carrier %1 Hz").arg(Fixed(c.carrierHz, 2))
                                              : QStringLiteral("speed log, no carrier");
        if (c.speedErrorPercent)
            carrier += QStringLiteral(" (nominal %1 Hz, speed error %2 %)")
                           .arg(Fixed(c.carrierHz / (1 + *c.speedErrorPercent / 100), 1))
                           .arg(QString::fromStdString(meter::FixedText(*c.speedErrorPercent, 3, true)));
        lines << QStringLiteral("Channel %1, %2: weighted %3 %, unweighted %4 % (2-sigma); wow %5 %, flutter %6 % rms; "
                                "drift %7 %")
                     .arg(c.channel)
                     .arg(carrier, Fixed(c.weighted.twoSigmaPercent, 4), Fixed(c.unweighted.twoSigmaPercent, 4),
                          Fixed(c.wowRmsPercent, 4), Fixed(c.flutterRmsPercent, 4), Fixed(c.driftPercent, 4));
    }
    return lines;
}

void DrawMeterViews(QPainter& painter, const QRectF& area, const meter::MeterResult& r, const QString& fileName,
                    const QStringList& more)
{
    QFont font = painter.font();
    font.setPointSizeF(9);
    painter.setFont(font);
    const QStringList title = TitleLines(r, fileName);
    const double lineHeight = QFontMetricsF(font, painter.device()).lineSpacing();
    QRectF line(area.left() + 6, area.top() + 4, area.width() - 12, lineHeight);
    for (qsizetype i = 0; i < title.size(); ++i) {
        QFont f = font;
        f.setBold(i == 0);
        painter.setFont(f);
        // A channel's figures wrap rather than run off a narrow page.
        QRectF used;
        painter.drawText(QRectF(line.left(), line.top(), line.width(), area.bottom() - line.top()),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, title[i], &used);
        line.translate(0, std::max(lineHeight, used.height()));
    }
    if (!more.isEmpty()) {
        painter.setFont(font);
        QRectF used;
        painter.drawText(QRectF(line.left(), line.top(), line.width(), area.bottom() - line.top()),
                         Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, more.join(QLatin1Char('\n')), &used);
        line.moveTop(used.bottom());
    }
    QGraphicsScene scene;
    PlaceMeterViews(scene, QRectF(area.left(), line.top() + 4, area.width(), area.bottom() - line.top() - 4), r);
    scene.render(&painter, area, area);
}

void PlaceMeterViews(QGraphicsScene& scene, const QRectF& area, const meter::MeterResult& r)
{
    const double h = area.height() / 3, w = area.width() / 2, top = area.top();
    const QRectF places[] = {
        {area.left(), top, area.width(), h},       {area.left(), top + h, w, h},     {area.left() + w, top + h, w, h},
        {area.left(), top + 2 * h, w, h},          {area.left() + w, top + 2 * h, w, h},
    };
    const MeterView order[] = {MeterView::Deviation, MeterView::Zoom, MeterView::Polar, MeterView::Spectrum,
                               MeterView::Histogram};
    for (size_t i = 0; i < 5; ++i) {
        QChart* chart = NewMeterView(order[i], r);
        scene.addItem(chart);
        chart->setGeometry(places[i]);
        // Laid out now, not when the event loop next runs: an axis that
        // took sparser ticks for this width needs a second pass.
        for (int pass = 0; pass < 3 && chart->layout() && !chart->layout()->isActivated(); ++pass)
            chart->layout()->activate();
    }
}

}  // namespace tarvo
