#include "app/SpectrumPage.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace tarvo {

namespace {

// The chosen lines' colours: none of the channels' own.
const QColor kChosenColours[] = {QColor(230, 120, 0), QColor(0, 160, 170), QColor(200, 0, 130), QColor(120, 110, 0),
                                 QColor(90, 90, 90)};
constexpr double kWheelStep = 1.25;  // the zoom of one notch of the wheel
constexpr int kClickSlack = 4;       // pixels a click may move and still be a click

}  // namespace

SpectrumPage::SpectrumPage(const meter::MeterResult& result, QWidget* parent) : QWidget(parent), result_(result)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* bar = new QHBoxLayout;
    decibels_ = new QCheckBox(QStringLiteral("&dB"));
    decibels_->setToolTip(QStringLiteral("The lines' peak deviation in dB re 1 % rather than in percent"));
    bar->addWidget(decibels_);
    auto* hint = new QLabel(QStringLiteral("Wheel: zoom the frequencies; drag: move along them; 0 or double click: the "
                                           "whole band. Click a line to show it alone on the deviation."));
    hint->setWordWrap(true);
    bar->addWidget(hint, 1);
    layout->addLayout(bar);
    view_ = new QChartView(NewSpectrumView(result_, options_));
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumSize(200, 150);
    view_->setFocusPolicy(Qt::StrongFocus);
    view_->viewport()->installEventFilter(this);
    view_->installEventFilter(this);
    layout->addWidget(view_, 1);
    connect(decibels_, &QCheckBox::toggled, this, &SpectrumPage::SetDecibels);
}

QChart* SpectrumPage::Chart() const { return view_->chart(); }

void SpectrumPage::Rebuild()
{
    QChart* old = view_->chart();
    view_->setChart(NewSpectrumView(result_, options_));
    delete old;
    std::vector<std::pair<SpectrumLine, QColor>> marked;
    for (const Chosen& c : chosen_)
        marked.emplace_back(c.line, c.colour);
    MarkSpectrumLines(view_->chart(), marked);
}

void SpectrumPage::SetRange(double lowHz, double highHz)
{
    if (!(std::isfinite(lowHz) && std::isfinite(highHz)))
        return;
    if (lowHz > highHz)
        std::swap(lowHz, highHz);
    // Within the band and at least 1 % wide, the span kept when an end meets the band's.
    double ratio = std::clamp(highHz / std::max(lowHz, 1e-9), 1.01, kSpectrumHighestHz / kSpectrumLowestHz);
    double lo = std::clamp(lowHz, kSpectrumLowestHz, kSpectrumHighestHz / ratio);
    options_.lowHz = lo;
    options_.highHz = lo * ratio;
    Rebuild();
}

void SpectrumPage::Zoom(double factor, double aroundHz)
{
    if (!(factor > 0) || !std::isfinite(factor))
        return;
    const double a = std::log10(std::clamp(std::isfinite(aroundHz) ? aroundHz : options_.lowHz, options_.lowHz,
                                           options_.highHz));
    const double lo = std::log10(options_.lowHz), hi = std::log10(options_.highHz);
    SetRange(std::pow(10.0, a - (a - lo) / factor), std::pow(10.0, a + (hi - a) / factor));
}

void SpectrumPage::ResetZoom() { SetRange(kSpectrumLowestHz, kSpectrumHighestHz); }

void SpectrumPage::SetDecibels(bool on)
{
    if (decibels_->isChecked() != on)
        decibels_->setChecked(on);  // comes back here
    else if (options_.decibels != on) {
        options_.decibels = on;
        Rebuild();
    }
}

void SpectrumPage::Toggle(const SpectrumLine& line)
{
    const auto found = std::find_if(chosen_.begin(), chosen_.end(), [&](const Chosen& c) { return c.line == line; });
    const bool cleared = found != chosen_.end();
    if (cleared)
        chosen_.erase(found);
    else
        chosen_.push_back({line, kChosenColours[nextColour_++ % std::size(kChosenColours)]});
    std::vector<std::pair<SpectrumLine, QColor>> marked;
    for (const Chosen& c : chosen_)
        marked.emplace_back(c.line, c.colour);
    MarkSpectrumLines(view_->chart(), marked);
    if (cleared)
        emit lineCleared(static_cast<int>(line.channelIndex), line.hz);
    else
        emit lineClicked(static_cast<int>(line.channelIndex), line.hz);
}

void SpectrumPage::ClearLines()
{
    while (!chosen_.empty())
        Toggle(chosen_.front().line);
}

double SpectrumPage::HzAt(const QPoint& viewportPos) const
{
    QChart* chart = view_->chart();
    const QPointF at = chart->mapFromScene(view_->mapToScene(viewportPos));
    const QRectF plot = chart->plotArea();
    if (!(plot.width() > 0) || at.x() < plot.left() || at.x() > plot.right())
        return NAN;
    const double lo = std::log10(options_.lowHz), hi = std::log10(options_.highHz);
    return std::pow(10.0, lo + (at.x() - plot.left()) / plot.width() * (hi - lo));
}

bool SpectrumPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == view_ && event->type() == QEvent::KeyPress) {
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_0) {
            ResetZoom();
            return true;
        }
        return false;
    }
    if (watched != view_->viewport())
        return false;
    switch (event->type()) {
    case QEvent::Wheel: {
        auto* wheel = static_cast<QWheelEvent*>(event);
        const double notches = wheel->angleDelta().y() / 120.0;
        if (notches != 0)
            Zoom(std::pow(kWheelStep, notches), HzAt(wheel->position().toPoint()));
        return true;
    }
    case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        view_->setFocus();
        pressed_ = true;
        dragged_ = false;
        pressAt_ = mouse->position().toPoint();
        pressLow_ = options_.lowHz;
        pressHigh_ = options_.highHz;
        return true;
    }
    case QEvent::MouseMove: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (!pressed_)
            return false;
        const int dx = mouse->position().toPoint().x() - pressAt_.x();
        if (!dragged_ && std::abs(dx) <= kClickSlack)
            return true;
        dragged_ = true;
        const double width = view_->chart()->plotArea().width();
        if (width > 0) {
            // The frequencies move with the pointer: a drag right shows lower ones.
            const double span = std::log10(pressHigh_ / pressLow_);
            const double shift = -dx / width * span;
            const double lo = std::clamp(std::log10(pressLow_) + shift, std::log10(kSpectrumLowestHz),
                                         std::log10(kSpectrumHighestHz) - span);
            SetRange(std::pow(10.0, lo), std::pow(10.0, lo + span));
        }
        return true;
    }
    case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || !pressed_)
            return false;
        pressed_ = false;
        if (!dragged_) {
            QChart* chart = view_->chart();
            const QPointF at = chart->mapFromScene(view_->mapToScene(mouse->position().toPoint()));
            if (const std::optional<SpectrumLine> line = SpectrumLineAt(chart, at))
                Toggle(*line);
        }
        return true;
    }
    case QEvent::MouseButtonDblClick:
        ResetZoom();
        return true;
    default:
        return false;
    }
}

}  // namespace tarvo
