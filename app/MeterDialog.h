// "Standards W&F...": the standards meter on the opened file, measured on a
// worker thread behind a progress bar that can be cancelled, then its
// figures and the two plots.
#pragma once

#include "meter/Meter.h"

#include <QDialog>

#include <atomic>
#include <string>
#include <thread>

class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;
class QVBoxLayout;

namespace tarvo {

class CMeterDialog : public QDialog {
    Q_OBJECT

public:
    CMeterDialog(const std::string& path, QWidget* parent = nullptr);
    ~CMeterDialog() override;

    bool Finished() const { return finished_; }
    const meter::MeterResult& Result() const { return result_; }
    QPushButton* CancelButton() const { return cancel_; }
    // The figures as shown, one "label: value" line each.
    QString FiguresText() const;
    // The test tape's nominal tone: "none", 3150, 3000, 1000 or a value typed in.
    QComboBox* NominalBox() const { return nominal_; }

protected:
    void reject() override;

private:
    void Poll();
    void ShowResult();
    void ShowFigures();
    void NominalChanged();

    std::string path_;
    std::thread worker_;
    std::atomic<bool> cancel_requested_{false};
    std::atomic<bool> done_{false};
    std::atomic<int> permille_{0};
    meter::MeterResult result_;
    bool finished_ = false;

    QVBoxLayout* layout_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* figures_ = nullptr;
    QComboBox* nominal_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace tarvo
