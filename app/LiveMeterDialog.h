// "Live W&F...": the standards meter on the sound input as it happens. A
// non-modal dialog: the speed error large on a centre-zero bar, the
// weighted two-sigma, wow and flutter over the sliding window with a bar
// each, the whole run since the last reset, and the last ten seconds of the
// deviation. The input is held while the dialog is open and released when
// it closes; the window's other commands (3Khz, WN) keep working meanwhile.
// An input that goes away is said so once; the figures stay.
#pragma once

#include "meter/LiveMeter.h"
#include "sound/BlockCapture.h"

#include <QDialog>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;

class QChartView;
class QLineSeries;
class QValueAxis;
class QCategoryAxis;

namespace tarvo {

class CenterZeroBar;

class CLiveMeterDialog : public QDialog {
    Q_OBJECT

public:
    using InputFactory = std::function<std::unique_ptr<BlockCapture>()>;
    explicit CLiveMeterDialog(InputFactory openInput, QWidget* parent = nullptr);
    ~CLiveMeterDialog() override;

    // Whether an input is held and measured.
    bool Listening() const { return input_ != nullptr; }
    // What the dialog shows, one "label: value" line each (the status first).
    QString ReadingsText() const;
    const meter::LiveMeter* Meter() const { return meter_.get(); }

    QComboBox* NominalBox() const { return nominal_; }
    QDoubleSpinBox* OtherNominalBox() const { return otherNominal_; }
    QComboBox* ChannelBox() const { return channel_; }
    QSpinBox* WindowBox() const { return window_; }
    QPushButton* ResetButton() const { return reset_; }
    QPushButton* PauseButton() const { return pause_; }

protected:
    void done(int r) override;

private:
    void Open();
    void Release();
    void ApplyNominal();
    void InputLost(const std::string& why);
    void Show(const meter::LiveUpdate& u);
    void ShowNothing(const QString& status);
    void ScaleDeviation(double largest);

    InputFactory openInput_;
    std::unique_ptr<BlockCapture> input_;
    std::unique_ptr<meter::LiveMeter> meter_;
    bool paused_ = false;
    double largest_ = 0;  // the largest deviation the plot shows, percent
    bool lost_ = false;  // the input went away

    QLabel* status_ = nullptr;
    QLabel* speed_ = nullptr;
    QLabel* speedHz_ = nullptr;
    CenterZeroBar* speedBar_ = nullptr;
    QLabel* carrier_ = nullptr;
    QLabel* figureValue_[3] = {};
    QProgressBar* figureBar_[3] = {};
    QLabel* run_ = nullptr;
    QChartView* plot_ = nullptr;
    QLineSeries* series_ = nullptr;
    QValueAxis* timeAxis_ = nullptr;
    QCategoryAxis* devAxis_ = nullptr;
    QComboBox* nominal_ = nullptr;
    QDoubleSpinBox* otherNominal_ = nullptr;
    QComboBox* channel_ = nullptr;
    QSpinBox* window_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* pause_ = nullptr;
};

}  // namespace tarvo
