// The meter dialog's spectrum page: the deviation's spectrum with its lines
// (platform/MeterViews.h), in percent or in dB, zoomed on the frequency
// axis with the wheel and moved along it by dragging (0 or a double click
// shows the whole band again). Clicking a line's marker, label or key line
// chooses it (lineClicked), clicking it again lets it go (lineCleared); each
// chosen line keeps a colour of its own, framed on its label.
#pragma once

#include "meter/Meter.h"
#include "platform/MeterViews.h"

#include <QColor>
#include <QWidget>

#include <vector>

class QChart;
class QChartView;
class QCheckBox;
class QLabel;

namespace tarvo {

class SpectrumPage : public QWidget {
    Q_OBJECT

public:
    explicit SpectrumPage(const meter::MeterResult& result, QWidget* parent = nullptr);

    QChart* Chart() const;
    QChartView* View() const { return view_; }
    QCheckBox* DecibelsBox() const { return decibels_; }
    const SpectrumOptions& Options() const { return options_; }
    // Shows lowHz to highHz (within the meter's band, at least 1 % wide).
    void SetRange(double lowHz, double highHz);
    // Zooms by `factor` (over 1: in) around a frequency.
    void Zoom(double factor, double aroundHz);
    void ResetZoom();
    void SetDecibels(bool on);
    // The lines chosen, in the order chosen, and the colour each is drawn in.
    struct Chosen {
        SpectrumLine line;
        QColor colour;
    };
    const std::vector<Chosen>& ChosenLines() const { return chosen_; }
    // Chooses the line, or lets it go when it is chosen: what a click on it does.
    void Toggle(const SpectrumLine& line);
    // Lets every chosen line go (a new run).
    void ClearLines();

signals:
    void lineClicked(int channelIndex, double hz);
    void lineCleared(int channelIndex, double hz);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Rebuild();
    // The frequency at a point of the view's viewport (NaN off the plot's width).
    double HzAt(const QPoint& viewportPos) const;

    meter::MeterResult result_;
    SpectrumOptions options_;
    QChartView* view_ = nullptr;
    QCheckBox* decibels_ = nullptr;
    std::vector<Chosen> chosen_;
    int nextColour_ = 0;
    bool pressed_ = false, dragged_ = false;
    QPoint pressAt_;
    double pressLow_ = 0, pressHigh_ = 0;
};

}  // namespace tarvo
