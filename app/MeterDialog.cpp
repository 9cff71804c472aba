#include "app/MeterDialog.h"

#include "app/TransportPage.h"

#include "platform/MeterReport.h"
#include "platform/MeterViews.h"

#include <QComboBox>
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
    nominalRow->addStretch(1);
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
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    row->addWidget(progress_, 1);
    row->addStretch();
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
        Measure();
    });
}

meter::Transport CMeterDialog::TransportOfForm() const { return transportPage_->Transport(); }

void CMeterDialog::StoreTransport() const { transportPage_->Remember(); }

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
    status_->setText(QStringLiteral("Measuring..."));
    worker_ = std::thread([this, settings = settings_] {
        result_ = meter::RunMeter(path_, settings, [this](double f) {
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
    if (worker_.joinable())
        worker_.join();
    QDialog::reject();
}

void CMeterDialog::Poll()
{
    progress_->setValue(permille_.load());
    if (!done_.load())
        return;
    timer_->stop();
    worker_.join();
    finished_ = true;
    ShowResult();
}

QString CMeterDialog::FiguresText() const
{
    if (!result_.ok)
        return QString::fromStdString(result_.message);
    QStringList lines;
    lines << QString::fromStdString(result_.standard);
    for (const meter::ChannelFigures& c : result_.channels) {
        lines << QStringLiteral("Channel %1").arg(c.channel);
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
        auto* view = new QChartView(NewMeterView(v, result_));
        view->setRenderHint(QPainter::Antialiasing);
        view->setMinimumSize(200, 150);
        tabs_->insertTab(at++, view, ViewName(v));
    }
    tabs_->setCurrentIndex(0);
}

void CMeterDialog::NominalChanged()
{
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
    for (const meter::ChannelFigures& c : result_.channels) {
        QStringList one;
        one << QStringLiteral("<b>Channel %1</b>").arg(c.channel);
        for (const auto& [label, text] : meter::FigureLines(c))
            one << QStringLiteral("%1: <b>%2</b>").arg(QString::fromStdString(label).toHtmlEscaped(),
                                                      QString::fromStdString(text).toHtmlEscaped());
        lines << one.join(QStringLiteral("<br>"));
    }
    figures_->setText(lines.join(QStringLiteral("<br><br>")));
}

bool CMeterDialog::SaveReport(const QString& path, std::string& error) const
{
    const MeterReportInfo info{path_, comment_, meter::DescribeTransport(settings_.transport), {}};
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
