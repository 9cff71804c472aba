// The meter's five views on Qt Charts, drawn by one code for the window's
// dialog, tarvo-cli --meter-png and the report: the deviation against time
// (whole file), a zoomed stretch of the first revolutions, the deviation's
// spectrum with the lines' labels at their peaks, the deviation's histogram
// and a polar plot of the deviation around one revolution. Axes come from
// meter/PlotScale.h.
#pragma once

#include "meter/Meter.h"
#include "meter/PlotScale.h"
#include "meter/Views.h"

#include <QApplication>
#include <QColor>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <utility>
#include <string>
#include <vector>

class QCategoryAxis;
class QChart;
class QGraphicsScene;
class QPainter;
class QRectF;

namespace tarvo {

// Charts are graphics widgets: they need a QApplication. A program without
// one (tarvo-cli) gets an offscreen one for as long as this lives, with
// Qt's notes kept off its output.
class ChartsApplication {
public:
    ChartsApplication() = default;
    ChartsApplication(const ChartsApplication&) = delete;
    ChartsApplication& operator=(const ChartsApplication&) = delete;
    ~ChartsApplication();
    // False with the reason when the program has an application without widgets.
    bool Start(std::string& error);

private:
    std::unique_ptr<QApplication> app_;
    QtMessageHandler previous_ = nullptr;
    bool ownHandler_ = false;
};

// Puts PlotScale's axis on a chart's axis: its ends, and its labels exactly
// at its ticks.
void SetAxisTicks(QCategoryAxis* axis, const meter::Axis& a);

enum class MeterView { Deviation, Zoom, Spectrum, Histogram, Polar };
inline constexpr MeterView kMeterViews[] = {MeterView::Deviation, MeterView::Zoom, MeterView::Spectrum,
                                            MeterView::Histogram, MeterView::Polar};
QString ViewName(MeterView v);

// A new chart of the view for every channel of a run (the caller owns it).
QChart* NewMeterView(MeterView v, const meter::MeterResult& r);

// The spectrum's scale: the peak deviation in percent or in dB re 1 %, and
// the stretch of modulation frequencies shown.
inline constexpr double kSpectrumLowestHz = 0.2, kSpectrumHighestHz = 200;
struct SpectrumOptions {
    bool decibels = false;
    double lowHz = kSpectrumLowestHz, highHz = kSpectrumHighestHz;
};
// The spectrum with each listed line's marker at its own level and its
// label laid out beside it (meter/LabelLayout.h): staggered with a leader
// line where lines crowd, numbers and a key beside the plot where the
// texts find no room.
QChart* NewSpectrumView(const meter::MeterResult& r, const SpectrumOptions& options = {});

// A listed line of a spectrum chart: its channel's index in the run and its frequency.
struct SpectrumLine {
    size_t channelIndex = 0;
    double hz = 0;
    bool operator==(const SpectrumLine&) const = default;
};
// The line whose marker or label lies at `chartPos` (in the chart's own
// coordinates), if any.
std::optional<SpectrumLine> SpectrumLineAt(QChart* chart, const QPointF& chartPos);
// Marks these lines' labels (as chosen, each with a frame of its colour).
void MarkSpectrumLines(QChart* chart, const std::vector<std::pair<SpectrumLine, QColor>>& marked);
// The deviation of a span of the run, for the dialog's explorer: each
// channel's band (least to greatest) and mean line from its whole track,
// the weighted deviation thin, the +-two-sigma lines dashed, the selected
// stretch shaded and any overlaid components as bands of their own colour.
struct DeviationOverlay {
    QString name;
    QColor colour;
    double bucketSeconds = 0;
    std::vector<float> min, max;
};
struct DeviationSpanOptions {
    double from = 0, to = 0;  // seconds
    int columns = 800;        // at most this many points a line
    std::optional<std::pair<double, double>> selection;
    std::vector<DeviationOverlay> overlays;
};
QChart* NewDeviationSpan(const meter::MeterResult& r, const DeviationSpanOptions& o);
// The polar view: the first `revolutions` revolutions of each channel's
// stretch (meter::MakePolar), each in its own colour with a key, the
// channels told apart by their dashes, after a low-pass at lowPassHz (0:
// none). The title names the revolutions drawn; without a rotating part it
// says where to give one. NewMeterView draws the default.
QChart* NewPolarView(const meter::MeterResult& r, int revolutions = static_cast<int>(meter::kZoomRevolutions),
                     double lowPassHz = 0);
// The polar view's title for that many revolutions drawn (0: none).
QString PolarTitle(const meter::MeterResult& r, int revolutions, double lowPassHz);

// The title block: the file, the transport the lines are labelled with
// ("No transport given" when none), each channel with its carrier and the
// standard figures, in a few lines.
QStringList TitleLines(const meter::MeterResult& r, const QString& fileName);

// Draws the title block, any further lines of text, and the five views
// into `area`: the text at the top, the whole-file deviation across, then
// the zoom beside the polar plot and the spectrum beside the histogram.
// The charts need a QApplication.
void DrawMeterViews(QPainter& painter, const QRectF& area, const meter::MeterResult& r, const QString& fileName,
                    const QStringList& more = {});

// The five views alone, laid out in `area` of the scene as DrawMeterViews
// places them below the text.
void PlaceMeterViews(QGraphicsScene& scene, const QRectF& area, const meter::MeterResult& r);

}  // namespace tarvo
