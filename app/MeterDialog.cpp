#include "app/MeterDialog.h"

#include "platform/MeterCharts.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChartView>

namespace tarvo {

CMeterDialog::CMeterDialog(const std::string& path, QWidget* parent) : QDialog(parent), path_(path)
{
    setWindowTitle(QStringLiteral("Standards W&F - ") + QFileInfo(QString::fromStdString(path)).fileName());
    setModal(true);
    layout_ = new QVBoxLayout(this);
    status_ = new QLabel(QStringLiteral("Measuring..."), this);
    layout_->addWidget(status_);
    auto* row = new QHBoxLayout;
    progress_ = new QProgressBar(this);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    row->addWidget(progress_, 1);
    row->addWidget(cancel_);
    layout_->addLayout(row);
    connect(cancel_, &QPushButton::clicked, this, &CMeterDialog::reject);
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
    layout_->insertLayout(1, nominalRow);
    connect(nominal_, &QComboBox::currentTextChanged, this, &CMeterDialog::NominalChanged);
    resize(560, 150);

    worker_ = std::thread([this] {
        result_ = meter::RunMeter(path_, {}, [this](double f) {
            permille_ = static_cast<int>(f * 1000);
            return !cancel_requested_.load();
        });
        done_ = true;
    });
    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, &CMeterDialog::Poll);
    timer_->start(50);
}

CMeterDialog::~CMeterDialog()
{
    cancel_requested_ = true;
    if (worker_.joinable())
        worker_.join();
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
    delete progress_;
    progress_ = nullptr;
    cancel_->setText(QStringLiteral("Close"));
    if (!result_.ok) {
        status_->setText(QString::fromStdString(result_.message));
        status_->setWordWrap(true);
        return;
    }
    status_->setText(QString::fromStdString(result_.standard));
    figures_ = new QLabel(this);
    figures_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    figures_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    figures_->setWordWrap(true);
    figures_->setMaximumWidth(420);
    NominalChanged();
    auto* body = new QHBoxLayout;
    body->addWidget(figures_);
    auto* plots = new QVBoxLayout;
    auto* deviation = new QChartView(NewDeviationChart(result_), this);
    auto* spectrum = new QChartView(NewSpectrumChart(result_), this);
    deviation->setRenderHint(QPainter::Antialiasing);
    spectrum->setRenderHint(QPainter::Antialiasing);
    deviation->setMinimumSize(520, 250);
    spectrum->setMinimumSize(520, 250);
    plots->addWidget(deviation);
    plots->addWidget(spectrum);
    body->addLayout(plots, 1);
    layout_->insertLayout(2, body, 1);
    resize(1000, 700);
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

}  // namespace tarvo
