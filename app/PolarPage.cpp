#include "app/PolarPage.h"

#include "meter/PlotScale.h"
#include "meter/Views.h"
#include "platform/MeterViews.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>

#include <cmath>

namespace tarvo {

namespace {

// The Standards W&F dialog's profile.
QSettings Profile()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarvo"), QStringLiteral("Quillon"));
}

const QString kRevolutionsKey = QStringLiteral("Meter/polarRevolutions");
const QString kLowPassKey = QStringLiteral("Meter/polarLowPassHz");

}  // namespace

PolarPage::PolarPage(const meter::MeterResult& result, QWidget* parent) : QWidget(parent), result_(result)
{
    QSettings profile = Profile();
    revolutions_ = new QSpinBox;
    revolutions_->setRange(1, meter::kMostPolarRevolutions);
    revolutions_->setValue(std::clamp(profile.value(kRevolutionsKey, static_cast<int>(meter::kZoomRevolutions)).toInt(),
                                      1, meter::kMostPolarRevolutions));
    lowPass_ = new QComboBox;
    const double stored = profile.value(kLowPassKey, 0.0).toDouble();
    for (double hz : meter::kPolarLowPasses) {
        lowPass_->addItem(hz > 0 ? QStringLiteral("%1 Hz").arg(meter::FixedText(hz, 0).c_str()) : QStringLiteral("Off"),
                          hz);
        if (hz == stored)
            lowPass_->setCurrentIndex(lowPass_->count() - 1);
    }
    auto* choices = new QHBoxLayout;
    auto* revolutionsLabel = new QLabel(QStringLiteral("&Revolutions:"));
    revolutionsLabel->setBuddy(revolutions_);
    auto* lowPassLabel = new QLabel(QStringLiteral("&Low-pass:"));
    lowPassLabel->setBuddy(lowPass_);
    choices->addWidget(revolutionsLabel);
    choices->addWidget(revolutions_);
    choices->addSpacing(16);
    choices->addWidget(lowPassLabel);
    choices->addWidget(lowPass_);
    choices->addStretch(1);
    view_ = new QChartView;
    view_->setRenderHint(QPainter::Antialiasing);
    view_->setMinimumSize(200, 150);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 0);
    layout->addLayout(choices);
    layout->addWidget(view_, 1);
    Redraw();
    connect(revolutions_, &QSpinBox::valueChanged, this, [this](int n) {
        Profile().setValue(kRevolutionsKey, n);
        Redraw();
    });
    connect(lowPass_, &QComboBox::currentIndexChanged, this, [this] {
        Profile().setValue(kLowPassKey, LowPassHz());
        Redraw();
    });
}

double PolarPage::LowPassHz() const { return lowPass_->currentData().toDouble(); }

void PolarPage::Redraw()
{
    QChart* old = view_->chart();
    view_->setChart(NewPolarView(result_, revolutions_->value(), LowPassHz()));
    delete old;
}

}  // namespace tarvo
