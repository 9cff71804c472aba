#include "app/LiveMeterDialog.h"

#include "app/Tarvo.h"
#include "meter/PlotScale.h"
#include "platform/MeterViews.h"

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QLineSeries>
#include <QtCharts/QCategoryAxis>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

constexpr double kSpeedScale = 2;     // the speed bar's ends, percent
constexpr double kFigureScale = 0.5;  // the figure bars' full scale, percent
const char* const kFigureNames[3] = {"Weighted 2-sigma", "Wow rms", "Flutter rms"};

QString Signed(double v, int decimals) { return QString::fromStdString(meter::FixedText(v, decimals, true)); }

// A figure on its bar. Beyond the full scale the bar is full, red, and says
// so with the figure itself and an arrow, so that a pinned bar is never read
// as a value.
void ShowOnBar(QProgressBar* bar, std::optional<double> v)
{
    const bool over = v && *v > kFigureScale;
    bar->setValue(v ? static_cast<int>(std::min(1.0, *v / kFigureScale) * 1000) : 0);
    bar->setTextVisible(over);
    if (over)
        bar->setFormat(QString::fromStdString(meter::FixedText(*v, 3)) + QStringLiteral(" %, over the scale \u25B6"));
    const QString style = over ? QStringLiteral("QProgressBar { border: 1px solid rgb(120, 120, 120); color: white; "
                                                "font-weight: bold; text-align: center; } "
                                                "QProgressBar::chunk { background: rgb(200, 40, 40); }")
                               : QString();
    if (bar->styleSheet() != style)
        bar->setStyleSheet(style);
}

}  // namespace

// A horizontal bar from -2 % to +2 % with its zero in the middle: the
// reading fills from the centre, red beyond the ends.
class CenterZeroBar : public QWidget {
public:
    explicit CenterZeroBar(QWidget* parent) : QWidget(parent) { setMinimumSize(420, 56); }
    void SetValue(std::optional<double> v)
    {
        value_ = v;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        // Room at both ends for the end labels.
        const QRectF track(32, 6, width() - 64, height() - 30);
        p.fillRect(track, QColor(240, 240, 240));
        p.setPen(QColor(90, 90, 90));
        p.drawRect(track);
        const double mid = track.center().x(), half = track.width() / 2;
        if (value_) {
            const double v = std::clamp(*value_, -kSpeedScale, kSpeedScale);
            const double x = mid + v / kSpeedScale * half;
            const QColor fill = std::abs(*value_) > kSpeedScale ? QColor(200, 40, 40)
                                : std::abs(*value_) > 0.5     ? QColor(230, 150, 30)
                                                              : QColor(40, 150, 60);
            p.fillRect(QRectF(QPointF(std::min(mid, x), track.top() + 1), QPointF(std::max(mid, x), track.bottom() - 1)), fill);
            if (std::abs(*value_) > kSpeedScale) {
                // Beyond an end: an arrow out of it, and the figure itself.
                const double dir = *value_ > 0 ? 1 : -1, y = track.center().y(), r = track.height() / 2 - 3;
                const double tip = x + dir * 14;
                QPolygonF arrow({QPointF(x, y - r), QPointF(tip, y), QPointF(x, y + r)});
                p.setPen(Qt::NoPen);
                p.setBrush(fill);
                p.drawPolygon(arrow);
                p.setPen(Qt::white);
                const QRectF side(dir > 0 ? QPointF(mid, track.top()) : QPointF(track.left(), track.top()),
                                  QSizeF(half, track.height()));
                p.drawText(side.adjusted(6, 0, -6, 0), (dir > 0 ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter,
                           Signed(*value_, 2) + QStringLiteral(" %"));
            }
        }
        QFont f = font();
        f.setPointSizeF(f.pointSizeF() * 1.1);
        p.setFont(f);
        for (int k = -2; k <= 2; ++k) {
            const double x = mid + k / kSpeedScale * half;
            p.setPen(QPen(QColor(60, 60, 60), k == 0 ? 3 : 1));
            p.drawLine(QPointF(x, track.top()), QPointF(x, track.bottom() + 4));
            const QString label = (k > 0 ? QStringLiteral("+") : QString()) + QString::number(k) + QStringLiteral(" %");
            p.drawText(QRectF(x - 40, track.bottom() + 4, 80, 20), Qt::AlignHCenter | Qt::AlignTop, label);
        }
    }

private:
    std::optional<double> value_;
};

CLiveMeterDialog::CLiveMeterDialog(InputFactory openInput, InputLister listInputs, QWidget* parent)
    : QDialog(parent), openInput_(std::move(openInput)), listInputs_(std::move(listInputs))
{
    setWindowTitle(QStringLiteral("Live W&F"));
    setModal(false);
    setAttribute(Qt::WA_DeleteOnClose, false);
    auto* layout = new QVBoxLayout(this);

    // The input listened to.
    auto* inputRow = new QHBoxLayout;
    inputRow->addWidget(new QLabel(QStringLiteral("Input:"), this));
    inputBox_ = new QComboBox(this);
    inputBox_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    inputRow->addWidget(inputBox_, 1);
    layout->addLayout(inputRow);

    status_ = new QLabel(this);
    status_->setWordWrap(true);
    layout->addWidget(status_);

    // The speed error, large enough to read at arm's length.
    auto* speedRow = new QHBoxLayout;
    speed_ = new QLabel(this);
    QFont big = speed_->font();
    big.setPointSizeF(big.pointSizeF() * 3.2);
    big.setBold(true);
    speed_->setFont(big);
    speed_->setMinimumWidth(speed_->fontMetrics().horizontalAdvance(QStringLiteral("+10.000 %")) + 8);
    speedHz_ = new QLabel(this);
    QFont mid = speedHz_->font();
    mid.setPointSizeF(mid.pointSizeF() * 1.6);
    speedHz_->setFont(mid);
    speedHz_->setMinimumWidth(speedHz_->fontMetrics().horizontalAdvance(QStringLiteral("+1000.00 Hz")) + 8);
    carrier_ = new QLabel(this);
    carrier_->setFont(mid);
    carrier_->setMinimumWidth(carrier_->fontMetrics().horizontalAdvance(QStringLiteral("Carrier 10000.00 Hz")) + 8);
    carrier_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    speedRow->addWidget(speed_);
    speedRow->addWidget(speedHz_);
    speedRow->addStretch(1);
    speedRow->addWidget(carrier_);
    layout->addLayout(speedRow);
    speedBar_ = new CenterZeroBar(this);
    layout->addWidget(speedBar_);

    // The window's figures, a bar each.
    auto* grid = new QGridLayout;
    QFont figureFont = mid;
    figureFont.setPointSizeF(mid.pointSizeF() * 0.8);
    for (int i = 0; i < 3; ++i) {
        auto* name = new QLabel(QString::fromLatin1(kFigureNames[i]), this);
        name->setFont(figureFont);
        figureValue_[i] = new QLabel(this);
        figureValue_[i]->setFont(figureFont);
        figureValue_[i]->setMinimumWidth(figureValue_[i]->fontMetrics().horizontalAdvance(QStringLiteral("0.00000 %")) + 8);
        figureValue_[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        figureBar_[i] = new QProgressBar(this);
        figureBar_[i]->setRange(0, 1000);
        figureBar_[i]->setTextVisible(false);
        grid->addWidget(name, i, 0);
        grid->addWidget(figureValue_[i], i, 1);
        grid->addWidget(figureBar_[i], i, 2);
    }
    auto* scale = new QLabel(QStringLiteral("bars: 0 to %1 %").arg(kFigureScale), this);
    grid->addWidget(scale, 3, 2, Qt::AlignRight);
    grid->setColumnStretch(2, 1);
    layout->addLayout(grid);
    run_ = new QLabel(this);
    run_->setWordWrap(true);
    layout->addWidget(run_);

    // The last ten seconds of the deviation.
    auto* chart = new QChart;
    chart->legend()->hide();
    series_ = new QLineSeries;
    chart->addSeries(series_);
    timeAxis_ = new QValueAxis;
    timeAxis_->setTitleText(QStringLiteral("Time (s)"));
    timeAxis_->setLabelFormat(QStringLiteral("%.0f"));
    // A label every second second, on whole seconds as the plot scrolls.
    timeAxis_->setTickType(QValueAxis::TicksDynamic);
    timeAxis_->setTickAnchor(0);
    timeAxis_->setTickInterval(2);
    timeAxis_->setRange(0, meter::LiveMeter::kTrackSeconds);
    devAxis_ = new QCategoryAxis;
    devAxis_->setTitleText(QStringLiteral("Deviation (%)"));
    devAxis_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    ScaleDeviation(0);
    chart->addAxis(timeAxis_, Qt::AlignBottom);
    chart->addAxis(devAxis_, Qt::AlignLeft);
    series_->attachAxis(timeAxis_);
    series_->attachAxis(devAxis_);
    chart->setMargins(QMargins(4, 4, 4, 4));
    plot_ = new QChartView(chart, this);
    // A taller or shorter plot has room for more or fewer ticks.
    connect(chart, &QChart::plotAreaChanged, this, [this] { ScaleDeviation(largest_); });
    plot_->setRenderHint(QPainter::Antialiasing);
    plot_->setMinimumHeight(220);
    layout->addWidget(plot_, 1);

    // The settings and the buttons.
    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(QStringLiteral("Nominal:"), this));
    nominal_ = new QComboBox(this);
    nominal_->addItem(QStringLiteral("None"), 0.0);
    nominal_->addItem(QStringLiteral("3150 Hz"), 3150.0);
    nominal_->addItem(QStringLiteral("3000 Hz"), 3000.0);
    nominal_->addItem(QStringLiteral("1000 Hz"), 1000.0);
    nominal_->addItem(QStringLiteral("Other"), -1.0);
    controls->addWidget(nominal_);
    otherNominal_ = new QDoubleSpinBox(this);
    otherNominal_->setRange(50, 20000);
    otherNominal_->setDecimals(1);
    otherNominal_->setSuffix(QStringLiteral(" Hz"));
    otherNominal_->setValue(3150);
    otherNominal_->setEnabled(false);
    controls->addWidget(otherNominal_);
    controls->addSpacing(8);
    controls->addWidget(new QLabel(QStringLiteral("Channel:"), this));
    channel_ = new QComboBox(this);
    controls->addWidget(channel_);
    controls->addSpacing(8);
    controls->addWidget(new QLabel(QStringLiteral("Window:"), this));
    window_ = new QSpinBox(this);
    window_->setRange(static_cast<int>(meter::LiveMeter::kShortestWindow), static_cast<int>(meter::LiveMeter::kLongestWindow));
    window_->setValue(5);
    window_->setSuffix(QStringLiteral(" s"));
    controls->addWidget(window_);
    controls->addStretch(1);
    reset_ = new QPushButton(QStringLiteral("Reset"), this);
    pause_ = new QPushButton(QStringLiteral("Pause"), this);
    pause_->setCheckable(true);
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    controls->addWidget(reset_);
    controls->addWidget(pause_);
    controls->addWidget(close);
    layout->addLayout(controls);

    // The nominal as either meter last left it.
    {
        const QString last = QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarvo"),
                                       QStringLiteral("Quillon"))
                                 .value(QStringLiteral("Meter/nominal"))
                                 .toString();
        bool number = false;
        const double hz = last.toDouble(&number);
        const int listed = number ? nominal_->findData(hz) : -1;
        if (listed > 0) {
            nominal_->setCurrentIndex(listed);
        } else if (number && hz >= otherNominal_->minimum() && hz <= otherNominal_->maximum()) {
            nominal_->setCurrentIndex(nominal_->findData(-1.0));
            otherNominal_->setValue(hz);
            otherNominal_->setEnabled(true);
        }
    }
    connect(nominal_, &QComboBox::currentIndexChanged, this, [this] { ApplyNominal(); });
    connect(otherNominal_, &QDoubleSpinBox::valueChanged, this, [this] { ApplyNominal(); });
    connect(window_, &QSpinBox::valueChanged, this, [this](int s) {
        if (meter_)
            meter_->SetWindowSeconds(s);
    });
    connect(channel_, &QComboBox::currentIndexChanged, this, [this] {
        if (meter_ && !paused_)
            Show(meter_->Latest());
    });
    connect(reset_, &QPushButton::clicked, this, [this] {
        if (meter_)
            meter_->Reset();
        if (meter_)
            Show(meter_->Latest());
    });
    connect(pause_, &QPushButton::toggled, this, [this](bool on) {
        // The meter goes on measuring; only the display holds.
        paused_ = on;
        pause_->setText(on ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        // Held, and seen to be: the status and the plot say since when.
        const QString mark =
            on ? QStringLiteral("Paused at %1 s").arg(meter_ ? meter_->Seconds() : 0.0, 0, 'f', 1) : QString();
        plot_->chart()->setTitle(on ? QStringLiteral("<b><font color=\"#c82828\">%1</font></b>").arg(mark) : QString());
        if (on && !lost_)
            status_->setText(mark + QStringLiteral(": the display is held while the meter goes on measuring."));
        if (!on && meter_)
            Show(meter_->Latest());
    });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(inputBox_, &QComboBox::activated, this, [this](int index) {
        // Chosen by hand: remembered, and read at once.
        wanted_ = inputBox_->itemData(index).toString().toStdString();
        CTarvoApp::Profile()->setValue(QStringLiteral("LiveMeter/Input"), QString::fromStdString(wanted_));
        if (wanted_ != current_ || !input_)
            Open(wanted_);
    });
    // Inputs that appear or go: Qt's list of inputs leaves out monitors of
    // outputs, so the sound server's list is read again now and then.
    watch_ = new QTimer(this);
    connect(watch_, &QTimer::timeout, this, [this] {
        if (isVisible())  // a closed dialog holds no input
            RefreshInputs();
    });
    watch_->start(2000);
    resize(720, 640);
    wanted_ = CTarvoApp::Profile()->value(QStringLiteral("LiveMeter/Input")).toString().toStdString();
    inputs_ = listInputs_ ? listInputs_() : std::vector<SoundInput>();
    FillInputBox();
    Open(ChooseInput(inputs_, wanted_));
}

void CLiveMeterDialog::FillInputBox()
{
    const QSignalBlocker quiet(inputBox_);
    inputBox_->clear();
    for (const SoundInput& in : inputs_) {
        inputBox_->addItem(QString::fromStdString(in.description) + (in.isDefault ? QStringLiteral(" (default)") : QString()),
                           QString::fromStdString(in.name));
        inputBox_->setItemData(inputBox_->count() - 1, QString::fromStdString(in.name), Qt::ToolTipRole);
    }
    if (inputs_.empty())
        inputBox_->addItem(QStringLiteral("Default input"), QString());
    inputBox_->setEnabled(!inputs_.empty());
    const int at = inputBox_->findData(QString::fromStdString(ChooseInput(inputs_, wanted_)));
    inputBox_->setCurrentIndex(std::max(0, at));
}

void CLiveMeterDialog::RefreshInputs()
{
    std::vector<SoundInput> now = listInputs_ ? listInputs_() : std::vector<SoundInput>();
    auto same = [](const SoundInput& a, const SoundInput& b) {
        return a.name == b.name && a.description == b.description && a.isDefault == b.isDefault;
    };
    if (!std::equal(now.begin(), now.end(), inputs_.begin(), inputs_.end(), same)) {
        inputs_ = std::move(now);
        FillInputBox();
    }
    // The chosen input again once it is back, the default while it is not;
    // with no list at all, what there is stays (and says why it went).
    const std::string pick = ChooseInput(inputs_, wanted_);
    if (!pick.empty() && (pick != current_ || !input_))
        Open(pick);
}

CLiveMeterDialog::~CLiveMeterDialog() { Release(); }

void CLiveMeterDialog::done(int r)
{
    watch_->stop();
    Release();
    QDialog::done(r);
}

void CLiveMeterDialog::Release()
{
    if (input_)
        input_->Stop();
    input_.reset();
}

void CLiveMeterDialog::Open(const std::string& name)
{
    // A fresh start on this input: the figures of another are not carried over.
    Release();
    meter_.reset();
    lost_ = false;
    pause_->setChecked(false);
    reset_->setEnabled(true);
    pause_->setEnabled(true);
    {
        const QSignalBlocker quiet(channel_);
        channel_->clear();
    }
    current_ = name;
    input_ = openInput_ ? openInput_(name) : nullptr;
    if (!input_) {
        ShowNothing(QStringLiteral("No sound input device was found: the live meter needs one to listen to."));
        return;
    }
    input_->SetLossSink([this](const std::string& why) { InputLost(why); });
    std::string why;
    const bool started = input_->Start(
        [this](const float* frames, size_t count) {
            if (meter_)
                meter_->Push(frames, count);
        },
        why);
    if (!started) {
        input_.reset();
        ShowNothing(QStringLiteral("The sound input could not be opened: %1.").arg(QString::fromStdString(why)));
        return;
    }
    const CaptureFormat f = input_->Format();
    meter::LiveSettings s;
    s.windowSeconds = window_->value();
    meter_ = std::make_unique<meter::LiveMeter>(f.rate, f.channels, s);
    if (!meter_->Ok()) {
        const QString error = QString::fromStdString(meter_->Error());
        meter_.reset();
        Release();
        ShowNothing(error);
        return;
    }
    for (int c = 1; c <= f.channels; ++c)
        channel_->addItem(QString::number(c));
    ApplyNominal();
    meter_->SetUpdateSink([this](const meter::LiveUpdate& u) {
        if (!paused_)
            Show(u);
    });
    ShowNothing(QStringLiteral("Listening: %1 Hz, %2 channel%3. Looking for the tone...")
                    .arg(f.rate)
                    .arg(f.channels)
                    .arg(f.channels == 1 ? QString() : QStringLiteral("s")));
}

// The input went away: said once in the status line, over the figures
// measured until then, which stay. The input is let go once the call that
// told us has returned.
void CLiveMeterDialog::InputLost(const std::string& why)
{
    lost_ = true;
    status_->setText(QStringLiteral("The sound input went away after %1 s: %2. The figures are those measured until then.")
                         .arg(meter_ ? meter_->Seconds() : 0.0, 0, 'f', 1)
                         .arg(QString::fromStdString(why)));
    reset_->setEnabled(false);
    pause_->setEnabled(false);
    QMetaObject::invokeMethod(this, [this, gone = input_.get()] {
        if (input_.get() == gone)  // not another opened meanwhile
            Release();
    }, Qt::QueuedConnection);
}

void CLiveMeterDialog::ApplyNominal()
{
    const double chosen = nominal_->currentData().toDouble();
    otherNominal_->setEnabled(chosen < 0);
    const double hz = chosen < 0 ? otherNominal_->value() : chosen;
    QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Tarvo"), QStringLiteral("Quillon"))
        .setValue(QStringLiteral("Meter/nominal"), hz > 0 ? QString::number(hz) : QStringLiteral("none"));
    if (meter_)
        meter_->SetNominalHz(chosen < 0 ? otherNominal_->value() : chosen);
}

void CLiveMeterDialog::ShowNothing(const QString& status)
{
    if (!lost_)
        status_->setText(status);
    speed_->setText(QStringLiteral("--"));
    speedHz_->clear();
    carrier_->clear();
    speedBar_->SetValue(std::nullopt);
    for (int i = 0; i < 3; ++i) {
        figureValue_[i]->setText(QStringLiteral("--"));
        ShowOnBar(figureBar_[i], std::nullopt);
    }
    run_->clear();
    series_->clear();
    ScaleDeviation(0);
}

// A symmetric scale that grows and shrinks with the trace in 1, 2, 5 steps,
// never narrower than +-0.01 %, with no more ticks than the plot's height
// has room for: Qt Charts cuts a label that has less room to "...".
void CLiveMeterDialog::ScaleDeviation(double largest)
{
    largest_ = largest;
    const double height = plot_ ? plot_->chart()->plotArea().height() : 0;
    const double room = 2.2 * QFontMetricsF(devAxis_->labelsFont()).height();
    const int steps = std::clamp(static_cast<int>(height / room), 2, 8);
    meter::Axis axis = meter::DeviationAxis(-largest, largest, steps);
    const double reach = std::max(-axis.lo, axis.hi);
    if (axis.lo != -reach || axis.hi != reach)
        axis = meter::DeviationAxis(-reach, reach, steps);
    QStringList labels;
    for (const std::string& l : axis.labels)
        labels << QString::fromStdString(l);
    if (labels != devAxis_->categoriesLabels() || devAxis_->min() != axis.lo || devAxis_->max() != axis.hi)
        SetAxisTicks(devAxis_, axis);
}

void CLiveMeterDialog::Show(const meter::LiveUpdate& u)
{
    const int index = std::max(0, channel_->currentIndex());
    if (static_cast<size_t>(index) >= u.channels.size())
        return;
    const meter::LiveChannel& c = u.channels[static_cast<size_t>(index)];
    if (c.state != meter::LiveState::Locked) {
        ShowNothing(c.state == meter::LiveState::NoTone
                        ? QStringLiteral("No tone: play the test tape's tone into the input.")
                        : QStringLiteral("Looking for the tone..."));
        return;
    }
    QString status = QStringLiteral("Locked on %1 Hz.").arg(c.referenceHz, 0, 'f', 1);
    if (c.relocks > 0)
        status = QStringLiteral("Re-locked on %1 Hz (the tone moved; the figures started again).").arg(c.referenceHz, 0, 'f', 1);
    if (!lost_)
        status_->setText(status);

    if (c.speedErrorPercent) {
        speed_->setText(Signed(*c.speedErrorPercent, 3) + QStringLiteral(" %"));
        speedHz_->setText(Signed(*c.speedErrorHz, 2) + QStringLiteral(" Hz"));
    } else {
        speed_->setText(QStringLiteral("--"));
        speedHz_->setText(nominal_->currentData().toDouble() == 0 ? QStringLiteral("no nominal") : QString());
    }
    speedBar_->SetValue(c.speedErrorPercent);
    carrier_->setText(c.carrierHz ? QStringLiteral("Carrier %1 Hz").arg(*c.carrierHz, 0, 'f', 2) : QStringLiteral("Carrier --"));

    const std::optional<meter::ChannelFigures>& w = c.window;
    const double values[3] = {w ? w->weighted.twoSigmaPercent : 0, w ? w->wowRmsPercent : 0, w ? w->flutterRmsPercent : 0};
    for (int i = 0; i < 3; ++i) {
        figureValue_[i]->setText(w ? QString::fromStdString(meter::FixedText(values[i], 4)) + QStringLiteral(" %") : QStringLiteral("--"));
        ShowOnBar(figureBar_[i], w ? std::optional<double>(values[i]) : std::nullopt);
    }
    if (!w)
        figureValue_[0]->setText(QStringLiteral("filling"));
    if (c.run)
        run_->setText(QStringLiteral("Since the last reset (%1 s): weighted 2-sigma %2 %, wow %3 %, flutter %4 %")
                          .arg(c.run->seconds, 0, 'f', 1)
                          .arg(c.run->weighted.twoSigmaPercent, 0, 'f', 4)
                          .arg(c.run->wowRmsPercent, 0, 'f', 4)
                          .arg(c.run->flutterRmsPercent, 0, 'f', 4));
    else
        run_->setText(QStringLiteral("Since the last reset: settling"));

    QList<QPointF> points;
    points.reserve(static_cast<qsizetype>(c.trackSeconds.size()));
    double largest = 0;
    for (size_t i = 0; i < c.trackSeconds.size(); ++i) {
        const double v = meter::OnAxis(c.trackPercent[i]);
        points.append(QPointF(c.trackSeconds[i], v));
        largest = std::max(largest, std::abs(v));
    }
    series_->replace(points);
    const double end = std::max(u.seconds, meter::LiveMeter::kTrackSeconds);
    timeAxis_->setRange(end - meter::LiveMeter::kTrackSeconds, end);
    ScaleDeviation(1.1 * largest);  // a little room over the trace's peaks
}

QString CLiveMeterDialog::ReadingsText() const
{
    QStringList lines;
    lines << QStringLiteral("status: ") + status_->text();
    lines << QStringLiteral("speed error: ") + speed_->text() + (speedHz_->text().isEmpty() ? QString() : QStringLiteral(" ") + speedHz_->text());
    lines << QStringLiteral("carrier: ") + carrier_->text();
    for (int i = 0; i < 3; ++i)
        lines << QString::fromLatin1(kFigureNames[i]) + QStringLiteral(": ") + figureValue_[i]->text();
    lines << QStringLiteral("run: ") + run_->text();
    lines << QStringLiteral("plot points: ") + QString::number(series_->count());
    return lines.join(QLatin1Char('\n'));
}

}  // namespace tarvo
