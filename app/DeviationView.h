// The deviation of one measurement to explore: the wheel, + and - zoom on
// the time axis (0 shows the whole file), a band dragged with Ctrl or the
// right button zooms to it, a drag or the arrow keys pan, a drag with Shift
// selects a stretch to measure again. An overview strip of the whole file
// shows where the view lies (a click there moves it), and a readout gives
// the time and each channel's deviation and weighted deviation under the
// mouse. Components of the deviation may be overlaid in their own colours.
#pragma once

#include "meter/Meter.h"
#include "platform/MeterViews.h"

#include <QWidget>
#include <QtCharts/QChartView>

#include <map>
#include <optional>
#include <utility>

class QLabel;
class QPushButton;

namespace tarvo {

class CDeviationExplorer;

// The chart itself, which takes the mouse and the keys.
class CDeviationChartView : public QChartView {
    Q_OBJECT
public:
    explicit CDeviationChartView(CDeviationExplorer* owner);

protected:
    void wheelEvent(QWheelEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void leaveEvent(QEvent* e) override;

private:
    enum class Drag { None, Pan, Band, Select };
    CDeviationExplorer* owner_;
    Drag drag_ = Drag::None;
    QPointF pressed_;
    double pressedFrom_ = 0, pressedTo_ = 0;
};

class CDeviationExplorer : public QWidget {
    Q_OBJECT
public:
    inline static const double kShortestStretch = 5;  // seconds, to measure again

    // Opens on [from, to]; to 0: the whole file.
    CDeviationExplorer(const meter::MeterResult& r, double from, double to, QWidget* parent = nullptr);

    double From() const { return from_; }
    double To() const { return to_; }
    double Length() const { return length_; }
    std::optional<std::pair<double, double>> Selection() const { return selection_; }
    QChartView* ChartView() const;
    QString Readout() const;
    QPushButton* MeasureButton() const { return measure_; }

    // Shows [from, to], kept within the file and no shorter than 20 ms.
    void ShowSpan(double from, double to);
    void ZoomBy(double factor, double around);
    void PanBy(double fraction);
    void Select(double a, double b);
    void ClearSelection();
    // The time under a point of the chart view, clamped to the view.
    double TimeAt(double x) const;
    void ShowReadout(double seconds);
    // An overlaid component under its key; the same key replaces it.
    void SetOverlay(int key, const DeviationOverlay& overlay);
    void ClearOverlay(int key);
    const DeviationOverlay* Overlay(int key) const
    {
        const auto at = overlays_.find(key);
        return at == overlays_.end() ? nullptr : &at->second;
    }

signals:
    void measureStretch(double from, double to);
    void spanChanged(double from, double to);

private:
    void Redraw();
    void Schedule();
    void UpdateSelectionText();

    const meter::MeterResult r_;  // its own copy: the dialog may measure again meanwhile
    double length_ = 0, from_ = 0, to_ = 0;
    std::optional<std::pair<double, double>> selection_;
    std::map<int, DeviationOverlay> overlays_;
    CDeviationChartView* view_ = nullptr;
    class Overview* overview_ = nullptr;
    QLabel* readout_ = nullptr;
    QLabel* selected_ = nullptr;
    QPushButton* measure_ = nullptr;
    bool pending_ = false;

    friend class Overview;
};

}  // namespace tarvo
