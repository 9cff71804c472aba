#include "app/DeviationView.h"

#include "meter/Views.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QtCharts/QChart>

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

constexpr double kShortestSpan = 0.02;  // seconds: two buckets of the whole track
constexpr double kWheelStep = 1.25;     // the span a wheel notch or a key zooms by
constexpr double kArrowStep = 0.1;      // the share of the span an arrow key pans by

QString Signed(double v, int decimals)
{
    return QString::fromStdString(meter::FixedText(v, decimals, true));
}

}  // namespace

// The whole file's envelope, the view's span drawn over it as a frame.
class Overview : public QWidget {
public:
    explicit Overview(CDeviationExplorer* owner) : QWidget(owner), owner_(owner)
    {
        setMinimumHeight(36);
        setMaximumHeight(36);
        setCursor(Qt::PointingHandCursor);
        setToolTip(QStringLiteral("The whole file: the frame is the view; click or drag to move it."));
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.fillRect(rect(), palette().base());
        const double length = owner_->length_;
        if (!(length > 0))
            return;
        const QRectF area = QRectF(rect()).adjusted(1, 2, -1, -2);
        double reach = 0;
        for (const meter::ChannelFigures& c : owner_->r_.channels)
            for (size_t k = 0; k < c.envelopeMin.size(); ++k)
                reach = std::max({reach, std::abs(c.envelopeMin[k]), std::abs(c.envelopeMax[k])});
        reach = std::max(reach, meter::kNarrowestDeviation);
        auto x = [&](double t) { return area.left() + t / length * area.width(); };
        auto y = [&](double v) { return area.center().y() - v / reach * area.height() / 2; };
        p.setRenderHint(QPainter::Antialiasing);
        for (const meter::ChannelFigures& c : owner_->r_.channels) {
            QPainterPath band;
            const size_t n = std::min({c.envelopeSeconds.size(), c.envelopeMin.size(), c.envelopeMax.size()});
            for (size_t k = 0; k < n; ++k) {
                const QPointF pt(x(c.envelopeSeconds[k]), y(c.envelopeMax[k]));
                k == 0 ? band.moveTo(pt) : band.lineTo(pt);
            }
            for (size_t k = n; k-- > 0;)
                band.lineTo(x(c.envelopeSeconds[k]), y(c.envelopeMin[k]));
            p.fillPath(band, QColor(0, 90, 200, 90));
        }
        const QRectF frame(QPointF(x(owner_->from_), area.top()), QPointF(x(owner_->to_), area.bottom()));
        p.setPen(QPen(QColor(230, 120, 0), 2));
        p.setBrush(QColor(255, 200, 60, 50));
        p.drawRect(frame.adjusted(0, 0, std::max(0.0, 3 - frame.width()), 0));
    }
    void mousePressEvent(QMouseEvent* e) override { MoveTo(e->position().x()); }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (e->buttons() & Qt::LeftButton)
            MoveTo(e->position().x());
    }

private:
    void MoveTo(double px)
    {
        const double t = std::clamp(px / std::max(1, width()), 0.0, 1.0) * owner_->length_;
        const double half = (owner_->to_ - owner_->from_) / 2;
        owner_->ShowSpan(t - half, t + half);
    }
    CDeviationExplorer* owner_;
};

CDeviationChartView::CDeviationChartView(CDeviationExplorer* owner) : QChartView(owner), owner_(owner)
{
    setRenderHint(QPainter::Antialiasing);
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setMinimumSize(200, 150);
}

void CDeviationChartView::wheelEvent(QWheelEvent* e)
{
    const double notches = e->angleDelta().y() / 120.0;
    if (notches != 0)
        owner_->ZoomBy(std::pow(kWheelStep, -notches), owner_->TimeAt(e->position().x()));
    e->accept();
}

void CDeviationChartView::mousePressEvent(QMouseEvent* e)
{
    pressed_ = e->position();
    pressedFrom_ = owner_->From();
    pressedTo_ = owner_->To();
    if (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ShiftModifier))
        drag_ = Drag::Select;
    else if (e->button() == Qt::RightButton ||
             (e->button() == Qt::LeftButton && (e->modifiers() & Qt::ControlModifier)))
        drag_ = Drag::Band;
    else if (e->button() == Qt::LeftButton)
        drag_ = Drag::Pan;
    setFocus();
    e->accept();
}

void CDeviationChartView::mouseMoveEvent(QMouseEvent* e)
{
    const double x = e->position().x();
    owner_->ShowReadout(owner_->TimeAt(x));
    const double width = chart() ? chart()->plotArea().width() : 0;
    switch (drag_) {
    case Drag::Pan:
        if (width > 0) {
            const double shift = (x - pressed_.x()) / width * (pressedTo_ - pressedFrom_);
            owner_->ShowSpan(pressedFrom_ - shift, pressedTo_ - shift);
        }
        break;
    case Drag::Band:
    case Drag::Select:
        owner_->Select(owner_->TimeAt(pressed_.x()), owner_->TimeAt(x));
        break;
    case Drag::None:
        break;
    }
    e->accept();
}

void CDeviationChartView::mouseReleaseEvent(QMouseEvent* e)
{
    const double a = owner_->TimeAt(pressed_.x()), b = owner_->TimeAt(e->position().x());
    if (drag_ == Drag::Band) {
        owner_->ClearSelection();
        if (std::abs(e->position().x() - pressed_.x()) >= 4)
            owner_->ShowSpan(std::min(a, b), std::max(a, b));
    } else if (drag_ == Drag::Select && std::abs(e->position().x() - pressed_.x()) < 4) {
        owner_->ClearSelection();
    }
    drag_ = Drag::None;
    e->accept();
}

void CDeviationChartView::keyPressEvent(QKeyEvent* e)
{
    const double middle = (owner_->From() + owner_->To()) / 2;
    switch (e->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:
        owner_->ZoomBy(1 / kWheelStep, middle);
        break;
    case Qt::Key_Minus:
        owner_->ZoomBy(kWheelStep, middle);
        break;
    case Qt::Key_0:
        owner_->ShowSpan(0, owner_->Length());
        break;
    case Qt::Key_Left:
        owner_->PanBy(-kArrowStep);
        break;
    case Qt::Key_Right:
        owner_->PanBy(kArrowStep);
        break;
    case Qt::Key_Escape:
        if (owner_->Selection()) {
            owner_->ClearSelection();
            break;
        }
        QChartView::keyPressEvent(e);
        return;
    default:
        QChartView::keyPressEvent(e);
        return;
    }
    e->accept();
}

void CDeviationChartView::leaveEvent(QEvent* e)
{
    owner_->ShowReadout(-1);
    QChartView::leaveEvent(e);
}

CDeviationExplorer::CDeviationExplorer(const meter::MeterResult& r, double from, double to, QWidget* parent)
    : QWidget(parent), r_(r)
{
    for (const meter::ChannelFigures& c : r_.channels)
        length_ = std::max(length_, c.seconds);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    view_ = new CDeviationChartView(this);
    layout->addWidget(view_, 1);
    overview_ = new Overview(this);
    layout->addWidget(overview_);
    readout_ = new QLabel(this);
    readout_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(readout_);
    auto* row = new QHBoxLayout;
    selected_ = new QLabel(this);
    selected_->setWordWrap(true);
    measure_ = new QPushButton(QStringLiteral("Measure this stretch"), this);
    measure_->setEnabled(false);
    row->addWidget(selected_, 1);
    row->addWidget(measure_);
    layout->addLayout(row);
    connect(measure_, &QPushButton::clicked, this, [this] {
        if (selection_)
            emit measureStretch(selection_->first, selection_->second);
    });
    from_ = 0;
    to_ = length_;
    ShowSpan(from, to > from ? to : length_);
    ShowReadout(-1);
    UpdateSelectionText();
    Redraw();
}

QChartView* CDeviationExplorer::ChartView() const { return view_; }

void CDeviationExplorer::ShowSpan(double from, double to)
{
    if (!(length_ > 0) || !std::isfinite(from) || !std::isfinite(to))
        return;
    double span = std::clamp(to - from, std::min(kShortestSpan, length_), length_);
    from = std::clamp(from, 0.0, length_ - span);
    if (from == from_ && from + span == to_)
        return;
    from_ = from;
    to_ = from + span;
    emit spanChanged(from_, to_);
    overview_->update();
    Schedule();
}

void CDeviationExplorer::ZoomBy(double factor, double around)
{
    const double from = around - (around - from_) * factor, to = around + (to_ - around) * factor;
    // At a file's ends the span keeps the zoom's length.
    const double span = std::clamp(to - from, std::min(kShortestSpan, length_), length_);
    const double start = std::clamp(from, 0.0, length_ - span);
    ShowSpan(start, start + span);
}

void CDeviationExplorer::PanBy(double fraction)
{
    const double shift = fraction * (to_ - from_);
    ShowSpan(from_ + shift, to_ + shift);
}

void CDeviationExplorer::Select(double a, double b)
{
    selection_ = std::make_pair(std::clamp(std::min(a, b), 0.0, length_), std::clamp(std::max(a, b), 0.0, length_));
    UpdateSelectionText();
    Schedule();
}

void CDeviationExplorer::ClearSelection()
{
    if (!selection_)
        return;
    selection_.reset();
    UpdateSelectionText();
    Schedule();
}

void CDeviationExplorer::UpdateSelectionText()
{
    if (!selection_) {
        selected_->setText(QStringLiteral("Wheel, + or -: zoom; 0: whole file; drag or arrows: pan; "
                                          "Ctrl+drag or right drag: zoom to a band; Shift+drag: select a stretch."));
        measure_->setEnabled(false);
        return;
    }
    const double length = selection_->second - selection_->first;
    const bool enough = length >= kShortestStretch;
    selected_->setText(QStringLiteral("Selected %1 s to %2 s (%3 s)%4")
                           .arg(QString::fromStdString(meter::FixedText(selection_->first, 2)),
                                QString::fromStdString(meter::FixedText(selection_->second, 2)),
                                QString::fromStdString(meter::FixedText(length, 2)),
                                enough ? QString()
                                       : QStringLiteral(": a stretch to measure needs %1 s at least")
                                             .arg(kShortestStretch)));
    measure_->setEnabled(enough);
}

double CDeviationExplorer::TimeAt(double x) const
{
    const QChart* chart = view_->chart();
    if (!chart)
        return from_;
    const QRectF plot = chart->plotArea();
    const QPointF scene = view_->mapToScene(QPoint(static_cast<int>(x), 0));
    const double share = plot.width() > 0 ? (scene.x() - plot.left()) / plot.width() : 0;
    return from_ + std::clamp(share, 0.0, 1.0) * (to_ - from_);
}

void CDeviationExplorer::ShowReadout(double seconds)
{
    if (seconds < 0) {
        readout_->setText(QStringLiteral("Point at the plot to read the deviation at a time."));
        return;
    }
    QStringList parts;
    parts << QStringLiteral("%1 s").arg(QString::fromStdString(meter::FixedText(seconds, 3)));
    for (const meter::ChannelFigures& c : r_.channels) {
        const std::optional<size_t> b = meter::BucketAt(c, seconds);
        if (!b)
            continue;
        parts << QStringLiteral("channel %1: deviation %2 % (weighted %3 %)")
                     .arg(c.channel)
                     .arg(Signed(c.fineMean[*b], 4), Signed(c.fineWeighted[*b], 4));
    }
    readout_->setText(parts.join(QStringLiteral("; ")));
}

QString CDeviationExplorer::Readout() const { return readout_->text(); }

void CDeviationExplorer::SetOverlay(int key, const DeviationOverlay& overlay)
{
    overlays_[key] = overlay;
    Schedule();
}

void CDeviationExplorer::ClearOverlay(int key)
{
    if (overlays_.erase(key))
        Schedule();
}

void CDeviationExplorer::Schedule()
{
    // A burst of wheel notches or drag steps draws once.
    if (pending_)
        return;
    pending_ = true;
    QTimer::singleShot(0, this, [this] {
        pending_ = false;
        Redraw();
    });
}

void CDeviationExplorer::Redraw()
{
    DeviationSpanOptions o;
    o.from = from_;
    o.to = to_;
    o.columns = std::max(200, view_->width());
    o.selection = selection_;
    for (const auto& [key, overlay] : overlays_)
        o.overlays.push_back(overlay);
    QChart* old = view_->chart();
    view_->setChart(NewDeviationSpan(r_, o));
    delete old;
}

}  // namespace tarvo
