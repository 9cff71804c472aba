#include "platform/MeterViews.h"

#include "meter/LabelLayout.h"
#include "meter/PlotScale.h"
#include "meter/Views.h"

#include <QApplication>
#include <QFont>
#include <QFontMetricsF>
#include <QGraphicsLayout>
#include <QGraphicsLineItem>
#include <QGraphicsRectItem>
#include <QGraphicsSimpleTextItem>
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
#include <numeric>

namespace tarvo {

namespace {

const QColor kColours[] = {QColor(0, 90, 200), QColor(200, 40, 30), QColor(20, 140, 60), QColor(150, 60, 170)};
constexpr double kLowestHz = kSpectrumLowestHz, kHighestHz = kSpectrumHighestHz;

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
    // A thin blank line under the title: the value axis's top label stands
    // half its height above the plot, and would touch a title as wide.
    chart->setTitle(title + QStringLiteral("<div style=\"font-size:3pt\">&nbsp;</div>"));
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

}  // namespace

QChart* NewDeviationSpan(const meter::MeterResult& r, const DeviationSpanOptions& o)
{
    const double from = o.from, to = o.to > o.from ? o.to : o.from + 1;
    const auto columns = static_cast<size_t>(std::max(10, o.columns));
    std::vector<meter::TrackColumns> spans;
    double lo = 0, hi = 0;
    bool detail = false;
    for (const meter::ChannelFigures& c : r.channels) {
        spans.push_back(meter::TrackSpan(c, from, to, columns));
        const meter::TrackColumns& s = spans.back();
        detail = detail || s.detail;
        for (size_t k = 0; k < s.seconds.size(); ++k) {
            lo = std::min({lo, s.min[k], s.weighted.empty() ? 0 : s.weighted[k]});
            hi = std::max({hi, s.max[k], s.weighted.empty() ? 0 : s.weighted[k]});
        }
        lo = std::min(lo, -c.weighted.twoSigmaPercent);
        hi = std::max(hi, c.weighted.twoSigmaPercent);
    }
    const QString what = detail ? QStringLiteral("thick: deviation; thin: weighted")
                                : QStringLiteral("band: deviation's range; line: its mean; thin: weighted");
    QChart* chart = NewChart(QStringLiteral("Deviation, %1 to %2 s (%3; dashed: weighted +-2 sigma)")
                                 .arg(Fixed(from, to - from < 10 ? 2 : 1), Fixed(to, to - from < 10 ? 2 : 1), what),
                             r);
    // A short span in plain seconds, wherever it lies in the file.
    const bool minutes = to - from >= meter::kMinutesFrom;
    QCategoryAxis* x = NewAxis(minutes ? meter::TimeAxis(from, to, 7) : meter::LinearAxis(from, to, 7),
                               QStringLiteral("Time (%1)").arg(minutes ? "m:ss" : "s"));
    QCategoryAxis* y = NewAxis(meter::DeviationAxis(lo, hi), QStringLiteral("Deviation (%)"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    const meter::Axis ya = meter::DeviationAxis(lo, hi);
    if (o.selection) {
        // The selected stretch, shaded from the axis's bottom to its top.
        auto* top = new QLineSeries;
        auto* bottom = new QLineSeries;
        const double a = std::clamp(o.selection->first, from, to), b = std::clamp(o.selection->second, from, to);
        Append(top, a, ya.hi);
        Append(top, b, ya.hi);
        Append(bottom, a, ya.lo);
        Append(bottom, b, ya.lo);
        auto* area = new QAreaSeries(top, bottom);
        top->setParent(area);
        bottom->setParent(area);
        area->setName(QStringLiteral("Selected stretch"));
        area->setPen(QPen(QColor(230, 150, 0), 1));
        area->setBrush(QColor(255, 200, 60, 70));
        Attach(chart, area, x, y);
    }
    for (size_t i = 0; i < r.channels.size(); ++i) {
        const meter::TrackColumns& s = spans[i];
        auto* mean = new QLineSeries;
        auto* weighted = new QLineSeries;
        for (size_t k = 0; k < s.seconds.size(); ++k) {
            Append(mean, s.seconds[k], s.mean[k]);
            if (!s.weighted.empty())
                Append(weighted, s.seconds[k], s.weighted[k]);
        }
        if (!s.detail) {
            auto* upper = new QLineSeries;
            auto* lower = new QLineSeries;
            for (size_t k = 0; k < s.seconds.size(); ++k) {
                Append(upper, s.seconds[k], s.max[k]);
                Append(lower, s.seconds[k], s.min[k]);
            }
            QAreaSeries* band = NewBand(upper, lower, r, i);
            QColor fill = band->brush().color();
            fill.setAlpha(60);
            band->setBrush(fill);
            band->setPen(QPen(fill, 0.5));
            Attach(chart, band, x, y);
            HideFromLegend(chart, band);
        }
        mean->setName(ChannelName(r.channels[i]));
        mean->setPen(QPen(ColourOf(i), 1.6));
        weighted->setPen(QPen(ColourOf(i).lighter(150), 0.8));
        Attach(chart, mean, x, y);
        Attach(chart, weighted, x, y);
        HideFromLegend(chart, weighted);
        AddTwoSigma(chart, r.channels[i], i, from, to, x, y);
    }
    for (const DeviationOverlay& ov : o.overlays) {
        const meter::TrackColumns s = meter::BucketSpan(ov.min, ov.max, {}, {}, ov.bucketSeconds, from, to, columns);
        auto* upper = new QLineSeries;
        auto* lower = new QLineSeries;
        for (size_t k = 0; k < s.seconds.size(); ++k) {
            Append(upper, s.seconds[k], s.max[k]);
            Append(lower, s.seconds[k], s.min[k]);
        }
        auto* area = new QAreaSeries(upper, lower);
        upper->setParent(area);
        lower->setParent(area);
        area->setName(ov.name);
        area->setPen(QPen(ov.colour, 1.2));
        QColor fill = ov.colour;
        fill.setAlpha(90);
        area->setBrush(fill);
        Attach(chart, area, x, y);
    }
    chart->legend()->setVisible(r.channels.size() > 1 || o.selection || !o.overlays.empty());
    return chart;
}

namespace {

QChart* ZoomView(const meter::MeterResult& r)
{
    double lo = 0, hi = 0, to = 0;
    double revolution = 0;
    // The track runs on for the polar view's revolutions: the zoom shows its first stretch.
    auto shown = [](const meter::ChannelFigures& c) {
        const double zoom = meter::ZoomSeconds(c.revolutionHz);
        size_t n = 0;
        while (n < c.trackSeconds.size() && c.trackSeconds[n] <= zoom)
            ++n;
        return n;
    };
    for (const meter::ChannelFigures& c : r.channels) {
        const size_t n = shown(c);
        for (size_t k = 0; k < n; ++k) {
            lo = std::min({lo, c.trackDeviation[k], c.trackWeighted[k]});
            hi = std::max({hi, c.trackDeviation[k], c.trackWeighted[k]});
        }
        if (n > 0)
            to = std::max(to, c.trackSeconds[n - 1]);
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
        const size_t n = shown(c);
        for (size_t k = 0; k < n; ++k) {
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

// The frequency axis from lo to hi Hz on log10 values, densest first: 1, 2,
// 5 ticks (or the decades) over a wide stretch; round linear steps over a
// narrow one (under a factor 5), where a log axis would have no tick.
std::vector<meter::Axis> FrequencyAxes(double lo, double hi)
{
    using meter::LogTicks;
    if (hi >= 5 * lo)
        return {Log10Of(meter::LogAxis(lo, hi, LogTicks::OneTwoFive)), Log10Of(meter::LogAxis(lo, hi, LogTicks::Decades))};
    std::vector<meter::Axis> axes;
    for (int steps : {6, 3, 1}) {
        meter::Axis a;
        a.lo = lo;
        a.hi = hi;
        const double step = meter::AxisStep(hi - lo, steps);
        const double first = std::ceil(lo / step - 1e-9);
        for (int k = 0; k <= steps + 1; ++k) {
            const double t = (first + k) * step;
            if (t > hi * (1 + 1e-12))
                break;
            a.ticks.push_back(t);
            a.labels.push_back(meter::TickLabel(t, step));
        }
        if (a.ticks.size() < 2) {  // the ends, a decimal finer
            a.ticks = {lo, hi};
            a.labels = {meter::TickLabel(lo, step / 10), meter::TickLabel(hi, step / 10)};
        }
        axes.push_back(Log10Of(a));
    }
    return axes;
}

// The lines' labels of a spectrum chart, laid out again whenever the plot
// moves: items of the chart drawn over its series, the key (when the texts
// find no room) in a corner of the plot on a white ground.
class LineLabels : public QObject {
public:
    static constexpr double kMarker = 3.5, kGap = 2, kKeyPad = 3;
    static constexpr double kSmallestKeyPoints = 6;  // the key's type shrinks to this at most
    struct Entry {
        SpectrumLine line;
        double x = 0, y = 0;  // on the axes
        QString text, number;
        QColor colour;
        QGraphicsSimpleTextItem* label = nullptr;
        QGraphicsLineItem* leader = nullptr;
        QGraphicsSimpleTextItem* key = nullptr;
        QGraphicsRectItem* frame = nullptr;
        QPointF point;  // on the chart
        bool shown = false;
    };

    LineLabels(QChart* chart, QCategoryAxis* x, QCategoryAxis* y, std::vector<Entry> entries)
        : QObject(chart), x_(x), y_(y), entries_(std::move(entries))
    {
        setObjectName(QStringLiteral("spectrumLineLabels"));
        font_ = x->labelsFont();
        measure_.setFont(font_);
        keyBack_ = new QGraphicsRectItem(chart);
        keyBack_->setBrush(QColor(255, 255, 255, 230));
        keyBack_->setPen(QPen(QColor(160, 160, 160), 0.8));
        keyBack_->setZValue(kZ);
        keyBack_->setVisible(false);
        for (Entry& e : entries_) {
            e.frame = new QGraphicsRectItem(chart);
            e.frame->setVisible(false);
            e.frame->setZValue(kZ);
            e.label = new QGraphicsSimpleTextItem(chart);
            e.label->setFont(font_);
            e.label->setBrush(e.colour.darker(130));
            e.label->setZValue(kZ + 1);
            e.leader = new QGraphicsLineItem(chart);
            e.leader->setPen(QPen(e.colour.lighter(130), 0.8));
            e.leader->setZValue(kZ);
            e.key = new QGraphicsSimpleTextItem(chart);
            e.key->setFont(font_);
            e.key->setBrush(e.colour.darker(130));
            e.key->setZValue(kZ + 1);
        }
        QObject::connect(chart, &QChart::plotAreaChanged, this, [this](const QRectF& plot) { Place(plot); });
    }

    void Place(const QRectF& plot)
    {
        if (!(plot.width() > 0 && plot.height() > 0)) {  // not laid out yet
            for (Entry& e : entries_) {
                e.label->setVisible(false);
                e.leader->setVisible(false);
                e.key->setVisible(false);
                e.shown = false;
            }
            keyBack_->setVisible(false);
            return;
        }
        // The labels laid out in the plot; failing that, numbers, and the
        // key in a corner over no marker, in smaller type where it finds no
        // room.
        std::vector<meter::LabelRequest> requests = Requests(plot, false);
        meter::LabelLayout layout = meter::LayOutLabels(requests, Box(plot), kMarker, kGap);
        meter::KeyLayout key;
        meter::Box keyBox;
        bool keyShown = false;
        const bool numbered = layout.numbered;
        if (numbered) {
            std::vector<meter::Box> markers;
            for (const meter::LabelRequest& r : requests)
                markers.push_back({r.x - kMarker, r.y - kMarker, 2 * kMarker, 2 * kMarker});
            QFont keyFont = font_;
            for (;;) {
                measure_.setFont(keyFont);
                std::vector<double> widths;
                for (const Entry& e : entries_)
                    widths.push_back(Size(KeyText(e)).width());
                key = meter::LayOutKey(widths, Size(QStringLiteral("0")).height(), plot.height() - 2 * kKeyPad);
                keyShown = meter::FreePlace(Box(plot), key.width + 2 * kKeyPad, key.height + 2 * kKeyPad, markers, kGap,
                                            keyBox);
                const double points = keyFont.pointSizeF();
                if (keyShown || !(points > kSmallestKeyPoints))
                    break;
                keyFont.setPointSizeF(std::max(kSmallestKeyPoints, points * 0.85));
            }
            measure_.setFont(font_);
            if (!keyShown)  // a chart a few words wide: the key where it least hides
                keyBox = {plot.left(), plot.top(), key.width + 2 * kKeyPad, key.height + 2 * kKeyPad};
            for (Entry& e : entries_)
                e.key->setFont(keyFont);
            requests = Requests(plot, true);
            layout = meter::LayOutLabels(requests, Box(plot), kMarker, kGap, {keyBox});
        }
        keyBack_->setVisible(numbered);
        keyBack_->setRect(keyBox.left, keyBox.top, keyBox.width, keyBox.height);
        for (size_t i = 0; i < entries_.size(); ++i) {
            Entry& e = entries_[i];
            const meter::LabelPlace& p = layout.places[i];
            e.point = QPointF(requests[i].x, requests[i].y);
            e.shown = p.shown;
            e.label->setVisible(p.shown);
            e.leader->setVisible(p.shown && p.leader);
            e.label->setText(numbered ? e.number : e.text);
            e.label->setPos(p.box.left, p.box.top);
            if (p.leader) {
                // From the marker's edge to the label.
                const QPointF to(p.leaderX, p.leaderY);
                const QPointF d = to - e.point;
                const double length = std::hypot(d.x(), d.y());
                e.leader->setLine(QLineF(length > kMarker ? e.point + d * (kMarker / length) : e.point, to));
            }
            e.key->setVisible(numbered);
            if (numbered) {
                e.key->setText(KeyText(e));
                e.key->setPos(keyBox.left + kKeyPad + key.lines[i].left, keyBox.top + kKeyPad + key.lines[i].top);
            }
            e.frame->setRect(QRectF(p.box.left - 1, p.box.top, p.box.width + 2, p.box.height));
        }
    }

    std::optional<SpectrumLine> At(const QPointF& at) const
    {
        for (const Entry& e : entries_) {
            if (QLineF(at, e.point).length() <= kMarker + 3)
                return e.line;
            if (e.shown && e.label->isVisible() && e.label->mapRectToParent(e.label->boundingRect()).contains(at))
                return e.line;
            if (e.key->isVisible() && e.key->mapRectToParent(e.key->boundingRect()).contains(at))
                return e.line;
        }
        return std::nullopt;
    }

    void Mark(const std::vector<std::pair<SpectrumLine, QColor>>& marked)
    {
        for (Entry& e : entries_) {
            e.frame->setVisible(false);
            for (const auto& [line, colour] : marked)
                if (line == e.line) {
                    QColor fill = colour;
                    fill.setAlpha(60);
                    e.frame->setPen(QPen(colour, 1.2));
                    e.frame->setBrush(fill);
                    e.frame->setVisible(true);
                }
        }
    }

private:
    static constexpr double kZ = 50;

    static meter::Box Box(const QRectF& r) { return {r.left(), r.top(), r.width(), r.height()}; }
    static QString KeyText(const Entry& e) { return e.number + QStringLiteral("  ") + e.text; }

    // A text's size as the chart's text items draw it.
    QSizeF Size(const QString& text)
    {
        measure_.setText(text);
        return measure_.boundingRect().size();
    }

    std::vector<meter::LabelRequest> Requests(const QRectF& plot, bool numbers)
    {
        std::vector<meter::LabelRequest> requests;
        const double xs = x_->max() - x_->min(), ys = y_->max() - y_->min();
        for (const Entry& e : entries_) {
            meter::LabelRequest r;
            r.x = plot.left() + (e.x - x_->min()) / xs * plot.width();
            r.y = plot.bottom() - (e.y - y_->min()) / ys * plot.height();
            const QSizeF text = Size(e.text), number = Size(e.number);
            r.height = std::max(text.height(), number.height());
            r.numberWidth = number.width();
            r.width = numbers ? r.numberWidth : text.width();
            requests.push_back(r);
        }
        return requests;
    }

    QCategoryAxis *x_, *y_;
    std::vector<Entry> entries_;
    QFont font_;
    QGraphicsSimpleTextItem measure_;
    QGraphicsRectItem* keyBack_ = nullptr;
};

LineLabels* LabelsOf(QChart* chart)
{
    return chart ? dynamic_cast<LineLabels*>(chart->findChild<QObject*>(QStringLiteral("spectrumLineLabels"),
                                                                         Qt::FindDirectChildrenOnly))
                 : nullptr;
}

QChart* SpectrumView(const meter::MeterResult& r, const SpectrumOptions& options)
{
    QChart* chart = NewChart(QStringLiteral("Spectrum of the deviation, lines named by part"), r);
    // The stretch shown: within the meter's band, at least 1 % wide.
    const auto within = [](double v, double fallback) {
        return std::isfinite(v) ? std::clamp(v, kLowestHz, kHighestHz) : fallback;
    };
    double lo = within(options.lowHz, kLowestHz), hi = within(options.highHz, kHighestHz);
    if (lo > hi)
        std::swap(lo, hi);
    if (hi < lo * 1.01) {
        hi = std::min(kHighestHz, lo * 1.01);
        lo = hi / 1.01;
    }
    const bool db = options.decibels;
    const auto level = [db](double percent) { return db ? 20 * std::log10(std::max(percent, 1e-12)) : percent; };
    const auto shown = [lo, hi](double hz) { return hz >= lo * (1 - 1e-9) && hz <= hi * (1 + 1e-9); };
    double top = -INFINITY, least = INFINITY;
    for (const meter::ChannelFigures& c : r.channels) {
        for (size_t k = 0; k < c.spectrumHz.size(); ++k)
            if (shown(c.spectrumHz[k]) && std::isfinite(c.spectrumPercent[k])) {
                top = std::max(top, level(c.spectrumPercent[k]));
                least = std::min(least, level(c.spectrumPercent[k]));
            }
        for (const meter::ModulationLine& m : c.modulation)
            if (shown(m.hz) && std::isfinite(m.percent))
                top = std::max(top, level(m.percent));
    }
    meter::Axis levels;
    if (db) {
        // Down to 80 dB under the top at most: the noise floor, not the
        // rounding of a bin to nothing.
        if (!std::isfinite(top))
            top = least = -60;
        levels = meter::LinearAxis(std::max(least, top - 80), top + 3, 5);
    } else {
        levels = meter::LinearAxis(0, std::max(std::isfinite(top) ? top * 1.15 : 0, 0.001), 5);
    }
    const std::vector<meter::Axis> frequencies = FrequencyAxes(lo, hi);
    QCategoryAxis* x = NewAxis(frequencies.front(), QStringLiteral("Modulation frequency (Hz)"));
    QCategoryAxis* y = NewAxis(levels, db ? QStringLiteral("Peak (dB re 1 %)") : QStringLiteral("Peak (%)"));
    KeepLabelsWhole(chart, x, frequencies);
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    const auto onAxis = [&](double percent) { return std::max(level(percent), levels.lo); };
    std::vector<LineLabels::Entry> entries;
    for (size_t i = 0; i < r.channels.size(); ++i) {
        const meter::ChannelFigures& c = r.channels[i];
        auto* line = new QLineSeries;
        line->setName(ChannelName(c));
        line->setPen(QPen(ColourOf(i), 1.4));
        // The bins shown and one beyond each end, so that the curve reaches the plot's edges.
        for (size_t k = 0; k < c.spectrumHz.size(); ++k) {
            const bool near = (k + 1 < c.spectrumHz.size() && shown(c.spectrumHz[k + 1])) ||
                              (k > 0 && shown(c.spectrumHz[k - 1]));
            if (c.spectrumHz[k] > 0 && (shown(c.spectrumHz[k]) || near))
                Append(line, std::log10(c.spectrumHz[k]), onAxis(c.spectrumPercent[k]));
        }
        Attach(chart, line, x, y);
        // Each line's marker at its own level, its label laid out by LineLabels.
        auto* peaks = new QScatterSeries;
        peaks->setMarkerSize(2 * LineLabels::kMarker);
        peaks->setColor(ColourOf(i));
        peaks->setBorderColor(ColourOf(i));
        for (const meter::ModulationLine& m : c.modulation) {
            if (!shown(m.hz) || !std::isfinite(m.percent))
                continue;
            LineLabels::Entry e;
            e.line = {i, m.hz};
            e.x = std::log10(m.hz);
            e.y = onAxis(m.percent);
            Append(peaks, e.x, e.y);
            const std::string part = m.label ? " " + *m.label : c.parts.empty() ? "" : " (no part)";
            e.text = QStringLiteral("%1 Hz%2").arg(Fixed(m.hz, 2), QString::fromStdString(part));
            e.number = QString::number(entries.size() + 1);
            e.colour = ColourOf(i);
            entries.push_back(e);
        }
        Attach(chart, peaks, x, y);
        HideFromLegend(chart, peaks);
    }
    // The strongest lines first: they keep the places by their markers.
    std::vector<size_t> order(entries.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return entries[a].y > entries[b].y; });
    std::vector<LineLabels::Entry> sorted;
    for (size_t k : order) {
        sorted.push_back(entries[k]);
        sorted.back().number = QString::number(sorted.size());
    }
    new LineLabels(chart, x, y, std::move(sorted));
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
    QCategoryAxis* y = NewAxis(meter::LinearAxis(0, std::max(top, 1.0), 4), QStringLiteral("Time share (%)"));  // short: a half-page view is low
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

// Ten colours far apart, one a revolution, in the order they turn.
const QColor kRevolutionColours[] = {QColor(0, 90, 200),   QColor(200, 40, 30),  QColor(20, 140, 60),
                                     QColor(150, 60, 170), QColor(230, 130, 0),  QColor(0, 160, 170),
                                     QColor(120, 80, 30),  QColor(220, 60, 150), QColor(100, 100, 100),
                                     QColor(140, 160, 0)};
// The channels tell apart by the line's dashes.
const Qt::PenStyle kChannelStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine};

}  // namespace

QString PolarTitle(const meter::MeterResult& r, int revolutions, double lowPassHz)
{
    if (revolutions <= 0)
        return QStringLiteral(
            "Polar: no revolution to draw.<br>Give the platter's rpm or a tape part<br>in the Transport tab");
    QString title = QStringLiteral("Polar, %1 %2 (%3 Hz")
                        .arg(revolutions)
                        .arg(revolutions == 1 ? QStringLiteral("revolution") : QStringLiteral("revolutions"))
                        .arg(Fixed(r.channels.front().revolutionHz, 3));
    if (lowPassHz > 0)
        title += QStringLiteral(", low-pass %1 Hz").arg(Fixed(lowPassHz, 0));
    title += QLatin1Char(')');
    if (r.channels.size() > 1)
        title += QStringLiteral("<br>Channels solid, dashed, dotted");
    return title;
}

QChart* NewPolarView(const meter::MeterResult& r, int revolutions, double lowPassHz)
{
    auto* chart = new QPolarChart;
    chart->setMargins(QMargins(4, 4, 4, 4));
    chart->legend()->setAlignment(Qt::AlignRight);
    std::vector<meter::PolarView> views;
    double base = 0, step = 0;
    int drawn = 0;
    for (const meter::ChannelFigures& c : r.channels) {
        views.push_back(meter::MakePolar(c, revolutions, lowPassHz));
        drawn = std::max(drawn, views.back().revolutions);
        if (views.back().base > base) {
            base = views.back().base;
            step = views.back().ringStep;
        }
    }
    chart->setTitle(PolarTitle(r, drawn, lowPassHz));
    chart->legend()->setVisible(drawn > 0);
    if (drawn == 0)
        return chart;
    // Every 30 degrees, labelled by categories: a value axis's label format
    // goes through Latin-1 and would turn the degree sign into a stray byte.
    auto* angle = new QCategoryAxis;
    angle->setRange(0, 360);
    angle->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    for (int deg = 0; deg < 360; deg += 30)
        angle->append(QString::number(deg) + QChar(0x00b0), deg);
    angle->setTitleText(QStringLiteral("Angle"));
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
    constexpr size_t kColourCount = sizeof kRevolutionColours / sizeof kRevolutionColours[0];
    constexpr size_t kStyleCount = sizeof kChannelStyles / sizeof kChannelStyles[0];
    for (size_t i = 0; i < views.size(); ++i) {
        const meter::PolarView& v = views[i];
        for (size_t t = 0; t < v.angle.size(); ++t) {
            auto* turn = new QLineSeries;
            for (size_t k = 0; k < v.angle[t].size(); ++k)
                Append(turn, v.angle[t][k], v.radius[t][k] - v.base + base);
            turn->setPen(QPen(kRevolutionColours[t % kColourCount], 1.2, kChannelStyles[i % kStyleCount]));
            turn->setName(QStringLiteral("Rev %1").arg(t + 1));
            Attach(chart, turn, angle, radial);
            // The key: one entry a revolution, the first channel's.
            if (i > 0)
                HideFromLegend(chart, turn);
        }
    }
    return chart;
}

namespace {

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
        return SpectrumView(r, {});
    case MeterView::Histogram:
        return HistogramView(r);
    case MeterView::Polar:
        return NewPolarView(r);
    }
    return nullptr;
}

QChart* NewSpectrumView(const meter::MeterResult& r, const SpectrumOptions& options) { return SpectrumView(r, options); }

std::optional<SpectrumLine> SpectrumLineAt(QChart* chart, const QPointF& chartPos)
{
    const LineLabels* labels = LabelsOf(chart);
    return labels ? labels->At(chartPos) : std::nullopt;
}

void MarkSpectrumLines(QChart* chart, const std::vector<std::pair<SpectrumLine, QColor>>& marked)
{
    if (LineLabels* labels = LabelsOf(chart))
        labels->Mark(marked);
}

QStringList TitleLines(const meter::MeterResult& r, const QString& fileName)
{
    QStringList lines;
    // A stretch measured alone is named with its file.
    const QString what = r.stretch ? QStringLiteral("%1, %2 s to %3 s").arg(fileName, Fixed(r.stretch->first, 2),
                                                                          Fixed(r.stretch->second, 2))
                                   : fileName;
    lines << QStringLiteral("%1 - %2").arg(what, QString::fromStdString(r.standard));
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
    const QStringList title = TitleLines(r, fileName);
    // The text above the views, drawn (or only measured) in a font of that
    // size; answers where it ends.
    auto text = [&](double points, bool draw) {
        QFont font = painter.font();
        font.setPointSizeF(points);
        // No ligatures: a search of the PDF's text for "file" finds it.
        font.setStyleStrategy(QFont::PreferNoShaping);
        const double lineHeight = QFontMetricsF(font, painter.device()).lineSpacing();
        QRectF line(area.left() + 6, area.top() + 4, area.width() - 12, lineHeight);
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
        for (qsizetype i = 0; i < title.size() + (more.isEmpty() ? 0 : 1); ++i) {
            QFont f = font;
            f.setBold(i == 0);
            painter.setFont(f);
            // A channel's figures wrap rather than run off a narrow page.
            const QRectF room(line.left(), line.top(), line.width(), area.bottom() - line.top());
            const QString lines = i < title.size() ? title[i] : more.join(QLatin1Char('\n'));
            QRectF used = painter.boundingRect(room, flags, lines);
            if (draw)
                painter.drawText(room, flags, lines, &used);
            line.translate(0, std::max(lineHeight, used.height()));
        }
        painter.setFont(font);
        return line.top();
    };
    // The views keep at least three quarters of the page: a long record (two
    // channels, many parts) is set smaller rather than squeeze the plots
    // until their axes' titles are cut.
    double points = 9;
    while (points > 6.5 && area.bottom() - text(points, false) < 0.75 * area.height())
        points -= 0.5;
    QRectF line(area.left(), text(points, true), area.width(), 0);
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
