// "Standards W&F...": the standards meter on the opened file, measured on a
// worker thread behind a progress bar that can be cancelled, then its
// figures and the five views in tabs, the transport (TransportPage) whose
// parts name the lines, and "Save Report...".
#pragma once

#include "meter/Limits.h"
#include "meter/Meter.h"

#include <QDialog>

#include <atomic>
#include <string>
#include <thread>

class QColor;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class QVBoxLayout;

namespace tarvo {

class TransportPage;

class CMeterDialog : public QDialog {
    Q_OBJECT

public:
    // comment: the form's comment, for the report.
    CMeterDialog(const std::string& path, QWidget* parent = nullptr, const std::string& comment = {});
    ~CMeterDialog() override;

    bool Finished() const { return finished_; }
    const meter::MeterResult& Result() const { return result_; }
    QPushButton* CancelButton() const { return cancel_; }
    QPushButton* WholeFileButton() const { return wholeFile_; }
    QTabWidget* Tabs() const { return tabs_; }
    // The figures as shown, one "label: value" line each.
    QString FiguresText() const;
    // The transport the form describes.
    meter::Transport TransportOfForm() const;
    // The test tape's nominal tone: "none", 3150, 3000, 1000 or a value typed in.
    QComboBox* NominalBox() const { return nominal_; }
    // The limits as set in the dialog (blank: none).
    meter::Limits Limits() const;
    QLineEdit* LimitBox(int i) const { return limits_[i]; }  // weighted, unweighted, speed
    QLineEdit* OperatorBox() const { return operator_; }
    // The key of a line's component among a deviation view's overlays.
    static int ComponentKey(int channel, double hz);
    // Writes the report to `path`; false with the reason.
    bool SaveReport(const QString& path, std::string& error) const;

    // The size it opens at before the user sets one: 1000 x 700, or 90 %
    // of a smaller screen.
    QSize OpeningSize() const;

protected:
    void reject() override;
    // Remembers the size and place for the next time.
    void done(int r) override;

private:
    void Measure();
    void Poll();
    void ShowResult();
    void ShowFigures();
    void NominalChanged();
    void SaveReportAsked();
    void BuildTransportForm(QWidget* page);
    void StoreTransport() const;
    // Measures the stretch [from, to] of the file alone; WholeFile goes back.
    void MeasureStretch(double from, double to);
    void WholeFile();
    // Overlays the component of a channel's deviation around a line on the
    // deviation views, under its key.
    void ShowComponent(int channel, double hz, const QColor& colour);

    std::string path_, comment_;
    meter::MeterSettings settings_;
    std::thread worker_;
    std::atomic<bool> cancel_requested_{false};
    std::atomic<bool> done_{false};
    std::atomic<int> permille_{0};
    meter::MeterResult result_;
    meter::MeterResult pending_;  // the worker's, until Poll takes it
    meter::MeterResult whole_;  // the whole file's, while a stretch is shown
    bool finished_ = false;

    QVBoxLayout* layout_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* save_ = nullptr;
    QPushButton* again_ = nullptr;
    QPushButton* wholeFile_ = nullptr;
    QLabel* status_ = nullptr;
    QLabel* figures_ = nullptr;
    QTabWidget* tabs_ = nullptr;
    TransportPage* transportPage_ = nullptr;
    QComboBox* nominal_ = nullptr;
    QLineEdit* limits_[3] = {};
    QLineEdit* operator_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace tarvo
