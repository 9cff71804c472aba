// The Standards W&F dialog's polar tab: the polar view with its two
// choices, how many revolutions to overlay (1 to 10) and a low-pass (off,
// 60, 100, 150 or 200 Hz). The dialog's profile keeps both for the next run.
#pragma once

#include "meter/Meter.h"

#include <QWidget>

class QChartView;
class QComboBox;
class QSpinBox;

namespace tarvo {

class PolarPage : public QWidget {
    Q_OBJECT
public:
    explicit PolarPage(const meter::MeterResult& result, QWidget* parent = nullptr);

    QSpinBox* RevolutionsBox() const { return revolutions_; }
    QComboBox* LowPassBox() const { return lowPass_; }
    QChartView* View() const { return view_; }
    // The low-pass chosen, Hz (0: none).
    double LowPassHz() const;

private:
    void Redraw();

    meter::MeterResult result_;
    QSpinBox* revolutions_ = nullptr;
    QComboBox* lowPass_ = nullptr;
    QChartView* view_ = nullptr;
};

}  // namespace tarvo
