// The meter's five views on Qt Charts, drawn by one code for the window's
// dialog, tarvo-cli --meter-png and the report: the deviation against time
// (whole file), a zoomed stretch of the first revolutions, the deviation's
// spectrum with the lines' labels at their peaks, the deviation's histogram
// and a polar plot of the deviation around one revolution. Axes come from
// meter/PlotScale.h.
#pragma once

#include "meter/Meter.h"
#include "meter/PlotScale.h"

#include <QApplication>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <memory>
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
