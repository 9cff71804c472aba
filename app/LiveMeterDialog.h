// "Live W&F...": the standards meter on the sound input as it happens. A
// non-modal dialog: the speed error large on a centre-zero bar, the
// weighted two-sigma, wow and flutter over the sliding window with a bar
// each, the whole run since the last reset, and the last ten seconds of the
// deviation. The input is held while the dialog is open and released when
// it closes; the window's other commands (3Khz, WN) keep working meanwhile.
// An input that goes away is said so once; the figures stay.
// The Input box offers the sound inputs, the system's default first; the
// one chosen is remembered in the profile and read whenever it is there:
// the dialog follows an input that appears (listening to the chosen one
// again) or goes (listening to the default meanwhile).
#pragma once

#include "meter/LiveMeter.h"
#include "sound/BlockCapture.h"
#include "sound/SoundInputs.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTimer;

class QChartView;
class QLineSeries;
class QValueAxis;
class QCategoryAxis;

namespace tarvo {

class CenterZeroBar;

class CLiveMeterDialog : public QDialog {
    Q_OBJECT

public:
    // Opens an input by its name (empty: the default).
    using InputFactory = std::function<std::unique_ptr<BlockCapture>(const std::string& name)>;
    // The inputs there are now, the default first; none: the default alone
    // is opened.
    using InputLister = std::function<std::vector<SoundInput>()>;
    CLiveMeterDialog(InputFactory openInput, InputLister listInputs, QWidget* parent = nullptr);
    ~CLiveMeterDialog() override;

    // Whether an input is held and measured.
    bool Listening() const { return input_ != nullptr; }
    // What the dialog shows, one "label: value" line each (the status first).
    QString ReadingsText() const;
    const meter::LiveMeter* Meter() const { return meter_.get(); }

    // The name of the input read (or last read); empty: the default.
    const std::string& InputName() const { return current_; }
    // Reads the list of inputs again and follows it (done every two seconds).
    void RefreshInputs();

    QComboBox* InputBox() const { return inputBox_; }
    QComboBox* NominalBox() const { return nominal_; }
    QDoubleSpinBox* OtherNominalBox() const { return otherNominal_; }
    QComboBox* ChannelBox() const { return channel_; }
    QSpinBox* WindowBox() const { return window_; }
    QPushButton* ResetButton() const { return reset_; }
    QPushButton* PauseButton() const { return pause_; }

protected:
    void done(int r) override;

private:
    void Open(const std::string& name);
    void Release();
    void FillInputBox();
    void ApplyNominal();
    void InputLost(const std::string& why);
    void Show(const meter::LiveUpdate& u);
    void ShowNothing(const QString& status);
    void ScaleDeviation(double largest);

    InputFactory openInput_;
    InputLister listInputs_;
    std::vector<SoundInput> inputs_;  // as last listed
    std::string wanted_;   // the input chosen (the profile's); empty: the default
    std::string current_;  // the input opened last
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
    QComboBox* inputBox_ = nullptr;
    QTimer* watch_ = nullptr;  // reads the list of inputs again
    QComboBox* nominal_ = nullptr;
    QDoubleSpinBox* otherNominal_ = nullptr;
    QComboBox* channel_ = nullptr;
    QSpinBox* window_ = nullptr;
    QPushButton* reset_ = nullptr;
    QPushButton* pause_ = nullptr;
};

}  // namespace tarvo
