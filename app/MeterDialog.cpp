#include "app/MeterDialog.h"

#include "app/DeviationView.h"
#include "app/PolarPage.h"
#include "app/SpectrumPage.h"
#include "app/TransportPage.h"
#include "meter/Component.h"
#include "meter/Machines.h"
#include "meter/Record.h"
#include "meter/Views.h"
#include "platform/MeterReport.h"
#include "platform/MeterViews.h"

#include <QApplication>
#include <QComboBox>
#include <QDoubleValidator>
#include <QLocale>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScreen>
#include <QSettings>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChartView>

#include <algorithm>
#include <cmath>
#include <optional>

namespace tarvo {

namespace {

QSettings Profile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarvo"), QStringLiteral("Quillon"));
}

}  // namespace

CMeterDialog::CMeterDialog(const std::string& path, QWidget* parent, const std::string& comment)
    : QDialog(parent), path_(path), comment_(comment)
{
    setWindowTitle(QStringLiteral("Standards W&F - ") + QFileInfo(QString::fromStdString(path)).fileName());
    setModal(true);
    layout_ = new QVBoxLayout(this);
    status_ = new QLabel(QStringLiteral("Measuring..."), this);
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout_->addWidget(status_);
    // The nominal tone: the speed error follows it at once, without measuring again.
    auto* nominalRow = new QHBoxLayout;
    nominal_ = new QComboBox(this);
    nominal_->setEditable(true);
    nominal_->addItems({QStringLiteral("none"), QStringLiteral("3150"), QStringLiteral("3000"), QStringLiteral("1000")});
    nominal_->setMinimumContentsLength(8);
    auto* nominalLabel = new QLabel(QStringLiteral("Nominal tone (Hz):"), this);
    nominalLabel->setBuddy(nominal_);
    nominalRow->addWidget(nominalLabel);
    nominalRow->addWidget(nominal_);
    // The limits give each channel a verdict; blank: no limit.
    nominalRow->addSpacing(16);
    nominalRow->addWidget(new QLabel(QStringLiteral("Limits (%):"), this));
    const char* const limitNames[] = {"weighted", "unweighted", "speed +-"};
    for (int i = 0; i < 3; ++i) {
        limits_[i] = new QLineEdit(this);
        limits_[i]->setPlaceholderText(QStringLiteral("none"));
        limits_[i]->setMaximumWidth(70);
        auto* validator = new QDoubleValidator(0, meter::kMostPercent, 6, limits_[i]);
        validator->setNotation(QDoubleValidator::StandardNotation);
        limits_[i]->setValidator(validator);
        auto* label = new QLabel(QString::fromLatin1(limitNames[i]), this);
        label->setBuddy(limits_[i]);
        nominalRow->addWidget(label);
        nominalRow->addWidget(limits_[i]);
    }
    nominalRow->addStretch(1);
    // The nominal tone and the limits as they were last left, in both meters.
    {
        QSettings profile = Profile();
        const QString nominal = profile.value(QStringLiteral("Meter/nominal")).toString();
        if (!nominal.isEmpty())
            nominal_->setCurrentText(nominal);
        for (int i = 0; i < 3; ++i)
            limits_[i]->setText(profile.value(QStringLiteral("Meter/limit%1").arg(i)).toString());
    }
    for (QLineEdit* box : limits_)
        connect(box, &QLineEdit::textChanged, this, [this] {
            QSettings profile = Profile();
            for (int i = 0; i < 3; ++i)
                profile.setValue(QStringLiteral("Meter/limit%1").arg(i), limits_[i]->text().trimmed());
            ShowFigures();
        });
    layout_->addLayout(nominalRow);
    connect(nominal_, &QComboBox::currentTextChanged, this, &CMeterDialog::NominalChanged);
    tabs_ = new QTabWidget(this);
    layout_->addWidget(tabs_, 1);
    auto* row = new QHBoxLayout;
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    save_ = new QPushButton(QStringLiteral("Save Report..."), this);
    save_->setEnabled(false);
    wholeFile_ = new QPushButton(QStringLiteral("Whole file"), this);
    wholeFile_->setToolTip(QStringLiteral("The whole file's figures again, in place of the stretch's"));
    wholeFile_->hide();
    connect(wholeFile_, &QPushButton::clicked, this, &CMeterDialog::WholeFile);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    row->addWidget(progress_, 1);
    row->addStretch();
    // Who measures, for the report; remembered.
    operator_ = new QLineEdit(this);
    operator_->setPlaceholderText(QStringLiteral("not given"));
    operator_->setMaxLength(200);
    operator_->setText(Profile().value(QStringLiteral("Meter/operator")).toString());
    connect(operator_, &QLineEdit::textChanged, this,
            [](const QString& name) { Profile().setValue(QStringLiteral("Meter/operator"), name.trimmed()); });
    auto* operatorLabel = new QLabel(QStringLiteral("Operator:"), this);
    operatorLabel->setBuddy(operator_);
    row->addWidget(operatorLabel);
    row->addWidget(operator_);
    row->addWidget(wholeFile_);
    row->addWidget(save_);
    row->addWidget(cancel_);
    layout_->addLayout(row);
    connect(cancel_, &QPushButton::clicked, this, &CMeterDialog::reject);
    connect(save_, &QPushButton::clicked, this, &CMeterDialog::SaveReportAsked);

    auto* transport = new QWidget;
    BuildTransportForm(transport);
    settings_.transport = TransportOfForm();
    auto* transportScroll = new QScrollArea;
    transportScroll->setWidget(transport);
    transportScroll->setWidgetResizable(true);
    tabs_->addTab(transportScroll, QStringLiteral("Transport"));
    tabs_->hide();

    // Room for each plot: 1000 x 700, or 90 % of a smaller screen; then
    // wherever and however large the user last left it.
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    setSizeGripEnabled(true);
    resize(OpeningSize());
    const QByteArray geometry = Profile().value(QStringLiteral("Meter/geometry")).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &CMeterDialog::Poll);
    Measure();
}

CMeterDialog::~CMeterDialog()
{
    cancel_requested_ = true;
    if (worker_.joinable())
        worker_.join();
}

void CMeterDialog::BuildTransportForm(QWidget* page)
{
    transportPage_ = new TransportPage(page);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(transportPage_);
    again_ = transportPage_->AgainButton();
    connect(transportPage_, &TransportPage::measureAgain, this, [this] {
        StoreTransport();
        settings_.transport = TransportOfForm();
        // Again over what is shown: the stretch, or the whole file.
        if (settings_.Stretch())
            whole_ = {};
        Measure();
    });
}

meter::Transport CMeterDialog::TransportOfForm() const { return transportPage_->Transport(); }

void CMeterDialog::StoreTransport() const { transportPage_->Remember(); }

int CMeterDialog::ComponentKey(int channel, double hz)
{
    return channel * 1000000 + static_cast<int>(std::lround(hz * 1000));
}

void CMeterDialog::ShowComponent(int channel, double hz, const QColor& colour)
{
    // Not while a new run is under way: the settings are already its own.
    if (!finished_ || channel < 0 || static_cast<size_t>(channel) >= result_.channels.size())
        return;
    const meter::ChannelFigures& c = result_.channels[static_cast<size_t>(channel)];
    // The meter's chain over the file again (or the stretch shown), the
    // deviation band-passed around the line: quick beside the measurement.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    meter::ComponentTrack track;
    std::string error;
    const bool made = meter::LineComponent(path_, settings_, result_, static_cast<size_t>(channel), hz,
                                           c.fineSeconds > 0 ? c.fineSeconds : meter::kTrackBucketSeconds, track, error);
    QApplication::restoreOverrideCursor();
    if (!made) {
        status_->setText(QStringLiteral("The component at %1 Hz could not be drawn: %2")
                             .arg(QString::fromStdString(meter::FixedText(hz, 2)), QString::fromStdString(error)));
        return;
    }
    DeviationOverlay overlay;
    overlay.name = QStringLiteral("%1 Hz alone (%2 to %3 Hz)")
                       .arg(QString::fromStdString(meter::FixedText(hz, 2)),
                            QString::fromStdString(meter::FixedText(track.lowHz, 2)),
                            QString::fromStdString(meter::FixedText(track.highHz, 2)));
    if (result_.channels.size() > 1)
        overlay.name += QStringLiteral(", channel %1").arg(c.channel);
    overlay.colour = colour.isValid() ? colour : QColor(230, 120, 0);
    overlay.bucketSeconds = track.bucketSeconds;
    overlay.min = std::move(track.min);
    overlay.max = std::move(track.max);
    for (CDeviationExplorer* e : tabs_->findChildren<CDeviationExplorer*>())
        e->SetOverlay(ComponentKey(channel, hz), overlay);
}

void CMeterDialog::MeasureStretch(double from, double to)
{
    if (!settings_.Stretch())
        whole_ = result_;
    settings_.fromSeconds = from;
    settings_.toSeconds = to;
    Measure();
}

void CMeterDialog::WholeFile()
{
    settings_.fromSeconds = settings_.toSeconds = 0;
    if (!whole_.ok) {
        Measure();
        return;
    }
    result_ = std::move(whole_);
    whole_ = {};
    ShowResult();
}

void CMeterDialog::Measure()
{
    if (worker_.joinable())
        worker_.join();
    done_ = false;
    finished_ = false;
    permille_ = 0;
    progress_->setValue(0);
    progress_->show();
    cancel_->setText(QStringLiteral("Cancel"));
    save_->setEnabled(false);
    again_->setEnabled(false);
    wholeFile_->hide();
    status_->setText(settings_.Stretch() ? QStringLiteral("Measuring the stretch from %1 s to %2 s...")
                                               .arg(QString::fromStdString(meter::FixedText(settings_.fromSeconds, 2)),
                                                    QString::fromStdString(meter::FixedText(settings_.toSeconds, 2)))
                                         : QStringLiteral("Measuring..."));
    // The run's result lands beside the one shown, which the views may read
    // until it is taken in (Poll, on this thread).
    worker_ = std::thread([this, settings = settings_] {
        pending_ = meter::RunMeter(path_, settings, [this](double f) {
            permille_ = static_cast<int>(f * 1000);
            return !cancel_requested_.load();
        });
        done_ = true;
    });
    timer_->start(50);
}

QSize CMeterDialog::OpeningSize() const
{
    QSize size(1000, 700);
    if (const QScreen* screen = this->screen()) {
        const QSize room = screen->availableGeometry().size() * 0.9;
        size = size.boundedTo(room);
    }
    return size;
}

void CMeterDialog::done(int r)
{
    Profile().setValue(QStringLiteral("Meter/geometry"), saveGeometry());
    QDialog::done(r);
}

void CMeterDialog::reject()
{
    // Closing while the meter runs cancels it; the thread ends at its next block.
    cancel_requested_ = true;
    if (worker_.joinable()) {
        worker_.join();
        result_ = std::move(pending_);
        pending_ = {};
    }
    QDialog::reject();
}

void CMeterDialog::Poll()
{
    progress_->setValue(permille_.load());
    if (!done_.load())
        return;
    timer_->stop();
    worker_.join();
    result_ = std::move(pending_);
    pending_ = {};
    finished_ = true;
    ShowResult();
}

QString CMeterDialog::FiguresText() const
{
    if (!result_.ok)
        return QString::fromStdString(result_.message);
    QStringList lines;
    lines << QString::fromStdString(result_.standard);
    const meter::Limits limits = Limits();
    for (const meter::ChannelFigures& c : result_.channels) {
        lines << QStringLiteral("Channel %1").arg(c.channel);
        if (limits.Any())
            lines << QStringLiteral("    verdict: %1").arg(QString::fromStdString(meter::VerdictText(limits, c)));
        for (const auto& [label, text] : meter::FigureLines(c))
            lines << QStringLiteral("    %1: %2").arg(QString::fromStdString(label), QString::fromStdString(text));
    }
    return lines.join(QLatin1Char('\n'));
}

void CMeterDialog::ShowResult()
{
    progress_->hide();
    cancel_->setText(QStringLiteral("Close"));
    again_->setEnabled(true);
    // The transport tab stays last; the rest are made anew.
    figures_ = nullptr;  // it goes with its tab
    while (tabs_->count() > 1) {
        QWidget* page = tabs_->widget(0);
        tabs_->removeTab(0);
        delete page;
    }
    tabs_->show();
    if (!result_.ok) {
        status_->setText(QString::fromStdString(result_.message));
        tabs_->setCurrentIndex(0);
        wholeFile_->setVisible(settings_.Stretch());
        return;
    }
    save_->setEnabled(true);
    figures_ = new QLabel;
    figures_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    figures_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    figures_->setWordWrap(true);
    NominalChanged();
    auto* scroll = new QScrollArea;
    scroll->setWidget(figures_);
    scroll->setWidgetResizable(true);
    int at = 0;
    tabs_->insertTab(at++, scroll, QStringLiteral("Figures"));
    for (MeterView v : kMeterViews) {
        if (v == MeterView::Deviation || v == MeterView::Zoom) {
            // The same explorer, on the whole file or on its first revolutions.
            double revolution = 0;
            for (const meter::ChannelFigures& c : result_.channels)
                revolution = std::max(revolution, c.revolutionHz);
            auto* explorer = new CDeviationExplorer(result_, 0, v == MeterView::Zoom ? meter::ZoomSeconds(revolution) : 0);
            connect(explorer, &CDeviationExplorer::measureStretch, this, [this](double from, double to) {
                // The explorer's times count from the shown stretch's start.
                const double start = result_.stretch ? result_.stretch->first : 0;
                MeasureStretch(start + from, start + to);
            });
            tabs_->insertTab(at++, explorer, ViewName(v));
            continue;
        }
        if (v == MeterView::Spectrum) {
            auto* page = new SpectrumPage(result_);
            // A line clicked overlays that component alone on both deviation views.
            connect(page, &SpectrumPage::lineClicked, this, [this, page](int channel, double hz) {
                QColor colour;
                for (const SpectrumPage::Chosen& c : page->ChosenLines())
                    if (static_cast<int>(c.line.channelIndex) == channel && c.line.hz == hz)
                        colour = c.colour;
                ShowComponent(channel, hz, colour);
            });
            connect(page, &SpectrumPage::lineCleared, this, [this](int channel, double hz) {
                for (CDeviationExplorer* e : tabs_->findChildren<CDeviationExplorer*>())
                    e->ClearOverlay(ComponentKey(channel, hz));
            });
            tabs_->insertTab(at++, page, ViewName(v));
            continue;
        }
        if (v == MeterView::Polar) {  // a page with the view's choices
            tabs_->insertTab(at++, new PolarPage(result_), ViewName(v));
            continue;
        }
        auto* view = new QChartView(NewMeterView(v, result_));
        view->setRenderHint(QPainter::Antialiasing);
        view->setMinimumSize(200, 150);
        tabs_->insertTab(at++, view, ViewName(v));
    }
    wholeFile_->setVisible(result_.stretch.has_value() && whole_.ok);
    tabs_->setCurrentIndex(0);
}

meter::Limits CMeterDialog::Limits() const
{
    std::optional<double> v[3];
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        const double x = QLocale().toDouble(limits_[i]->text().trimmed(), &ok);
        const double y = ok ? x : limits_[i]->text().trimmed().toDouble(&ok);
        if (ok && std::isfinite(y) && y >= 0)
            v[i] = y;
    }
    return meter::Limits{v[0], v[1], v[2]};
}

void CMeterDialog::NominalChanged()
{
    Profile().setValue(QStringLiteral("Meter/nominal"), nominal_->currentText().trimmed());
    if (!finished_ || !result_.ok)
        return;
    bool number = false;
    const double hz = nominal_->currentText().trimmed().toDouble(&number);
    for (meter::ChannelFigures& c : result_.channels)
        meter::ApplyNominal(c, number && hz > 0 ? hz : 0);
    ShowFigures();
}

void CMeterDialog::ShowFigures()
{
    if (!figures_)
        return;
    status_->setText(TitleLines(result_, QFileInfo(QString::fromStdString(path_)).fileName()).join(QLatin1Char('\n')));
    QStringList lines;
    const meter::Limits limits = Limits();
    const QString pass = QStringLiteral("#1a7f37"), fail = QStringLiteral("#c62828");
    for (const meter::ChannelFigures& c : result_.channels) {
        QStringList one;
        const std::vector<meter::LimitCheck> checks = meter::CheckLimits(limits, c);
        const bool passed = std::all_of(checks.begin(), checks.end(), [](const auto& k) { return k.pass; });
        QString verdict;
        if (limits.Any())
            verdict = QStringLiteral(": <span style=\"color:%1\">%2</span>")
                          .arg(passed ? pass : fail, passed ? QStringLiteral("PASS") : QStringLiteral("FAIL"));
        one << QStringLiteral("<b>Channel %1%2</b>").arg(c.channel).arg(verdict);
        // Each limited figure with its limit beside it, in the verdict's colour.
        auto beside = [&](const std::string& label) {
            const char* name = label.starts_with("weighted peak")     ? "weighted"
                               : label.starts_with("unweighted peak") ? "unweighted"
                               : label.starts_with("speed error")     ? "speed"
                                                                      : "";
            for (const meter::LimitCheck& k : checks)
                if (k.name == name)
                    return QStringLiteral(" <span style=\"color:%1\">(limit %2: %3)</span>")
                        .arg(k.pass ? pass : fail, QString::fromStdString(k.limit),
                             k.pass ? QStringLiteral("pass") : QStringLiteral("fail"));
            return QString();
        };
        for (const auto& [label, text] : meter::FigureLines(c))
            one << QStringLiteral("%1: <b>%2</b>%3").arg(QString::fromStdString(label).toHtmlEscaped(),
                                                        QString::fromStdString(text).toHtmlEscaped(), beside(label));
        if (limits.speed && !c.speedErrorPercent)
            one << QStringLiteral("<span style=\"color:%1\">speed error: none against the nominal "
                                  "(limit +-%2 %: fail)</span>")
                       .arg(fail)
                       .arg(limits_[2]->text().trimmed().toHtmlEscaped());
        lines << one.join(QStringLiteral("<br>"));
    }
    if (result_.stretch)
        lines.prepend(QStringLiteral("<b>The stretch from %1 s to %2 s alone</b>")
                          .arg(QString::fromStdString(meter::FixedText(result_.stretch->first, 2)),
                               QString::fromStdString(meter::FixedText(result_.stretch->second, 2))));
    figures_->setText(lines.join(QStringLiteral("<br><br>")));
}

bool CMeterDialog::SaveReport(const QString& path, std::string& error) const
{
    MeterReportInfo info;
    info.file = path_;
    info.comment = comment_;
    info.transport = meter::TransportLine(settings_.transport);
    info.limits = Limits();
    info.operatorName = operator_->text().trimmed().toStdString();
    meter::FileRecord record;
    std::string why;
    if (meter::DescribeFile(path_, record, why))
        info.record = meter::RecordLines(record, {meter::NowIso8601(), info.operatorName,
                                                  transportPage_->ProfileName().toStdString(),
                                                  transportPage_->ProfileDescription().toStdString()});
    info.record.push_back(meter::MethodLine(settings_.carrierHz, settings_.nominalHz));
    return WriteMeterReport(result_, info, path.toStdString(), error);
}

void CMeterDialog::SaveReportAsked()
{
    const QFileInfo measured(QString::fromStdString(path_));
    const QString suggested = measured.absoluteDir().filePath(measured.completeBaseName() + QStringLiteral(".pdf"));
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Report"), suggested,
                                                      QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty())
        return;
    std::string error;
    if (!SaveReport(path, error))
        QMessageBox::warning(this, QStringLiteral("Standards W&F"),
                             QStringLiteral("The report was not written: %1.").arg(QString::fromStdString(error)));
}

}  // namespace tarvo
