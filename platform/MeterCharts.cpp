#include "platform/MeterCharts.h"

#include <QApplication>
#include <QGraphicsScene>
#include <QImage>
#include <QPainter>
#include <QtCharts/QAreaSeries>
#include <QtCharts/QChart>
#include <QtCharts/QLineSeries>
#include <QtCharts/QLogValueAxis>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace tarvo {

namespace {

const QColor kColours[] = {QColor(0, 90, 200), QColor(200, 40, 30), QColor(20, 140, 60), QColor(150, 60, 170)};

QColor ColourOf(size_t i) { return kColours[i % (sizeof kColours / sizeof kColours[0])]; }

QString ChannelName(const meter::ChannelFigures& c) { return QStringLiteral("Channel %1").arg(c.channel); }

// Round limits a little beyond the data.
void Span(double& lo, double& hi)
{
    if (!(hi > lo)) {
        lo -= 0.001;
        hi += 0.001;
    }
    const double pad = (hi - lo) * 0.08;
    lo -= pad;
    hi += pad;
}

}  // namespace

QChart* NewDeviationChart(const meter::MeterResult& r)
{
    auto* chart = new QChart;
    chart->setTitle(QStringLiteral("Deviation from the mean carrier"));
    auto* x = new QValueAxis;
    x->setTitleText(QStringLiteral("Time (s)"));
    x->setLabelFormat(QStringLiteral("%.3g"));
    auto* y = new QValueAxis;
    y->setTitleText(QStringLiteral("Deviation (%)"));
    y->setLabelFormat(QStringLiteral("%.3g"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    double lo = 0, hi = 0, seconds = 0;
    for (size_t i = 0; i < r.channels.size(); ++i) {
        const meter::ChannelFigures& c = r.channels[i];
        seconds = std::max(seconds, c.seconds);
        auto* upper = new QLineSeries;
        auto* lower = new QLineSeries;
        for (size_t k = 0; k < c.envelopeSeconds.size(); ++k) {
            upper->append(c.envelopeSeconds[k], c.envelopeMax[k]);
            lower->append(c.envelopeSeconds[k], c.envelopeMin[k]);
            lo = std::min(lo, c.envelopeMin[k]);
            hi = std::max(hi, c.envelopeMax[k]);
        }
        auto* area = new QAreaSeries(upper, lower);
        upper->setParent(area);
        lower->setParent(area);
        area->setName(ChannelName(c));
        QColor fill = ColourOf(i);
        area->setPen(QPen(fill, 1));
        fill.setAlpha(110);
        area->setBrush(fill);
        chart->addSeries(area);
        area->attachAxis(x);
        area->attachAxis(y);
    }
    Span(lo, hi);
    x->setRange(0, std::max(seconds, 1e-3));
    y->setRange(lo, hi);
    y->applyNiceNumbers();
    chart->legend()->setVisible(r.channels.size() > 1);
    return chart;
}

QChart* NewSpectrumChart(const meter::MeterResult& r)
{
    auto* chart = new QChart;
    chart->setTitle(QStringLiteral("Modulation spectrum of the deviation"));
    auto* x = new QLogValueAxis;
    x->setTitleText(QStringLiteral("Modulation frequency (Hz)"));
    x->setBase(10);
    x->setMinorTickCount(8);
    x->setLabelFormat(QStringLiteral("%g"));
    x->setRange(0.2, 200);
    auto* y = new QValueAxis;
    y->setTitleText(QStringLiteral("Peak (%)"));
    y->setLabelFormat(QStringLiteral("%.3g"));
    chart->addAxis(x, Qt::AlignBottom);
    chart->addAxis(y, Qt::AlignLeft);
    double hi = 0;
    for (size_t i = 0; i < r.channels.size(); ++i) {
        const meter::ChannelFigures& c = r.channels[i];
        auto* line = new QLineSeries;
        line->setName(ChannelName(c));
        line->setPen(QPen(ColourOf(i), 1.5));
        for (size_t k = 0; k < c.spectrumHz.size(); ++k) {
            if (c.spectrumHz[k] < 0.2)
                continue;
            line->append(c.spectrumHz[k], c.spectrumPercent[k]);
            hi = std::max(hi, c.spectrumPercent[k]);
        }
        chart->addSeries(line);
        line->attachAxis(x);
        line->attachAxis(y);
    }
    y->setRange(0, hi > 0 ? hi * 1.1 : 0.001);
    y->applyNiceNumbers();
    chart->legend()->setVisible(r.channels.size() > 1);
    return chart;
}

bool WriteMeterPng(const meter::MeterResult& r, const std::string& path, std::string& error, int width, int height)
{
    // Charts are graphics widgets: they need a QApplication. A program
    // without one (tarvo-cli) gets an offscreen one for this call only.
    std::unique_ptr<QApplication> app;
    QtMessageHandler previous = nullptr;
    bool ownHandler = false;
    if (QCoreApplication::instance() && !qobject_cast<QApplication*>(QCoreApplication::instance())) {
        error = "the plots need a graphical application";
        return false;
    }
    if (!QCoreApplication::instance()) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tarvo-cli";
        static char* argv[] = {name, nullptr};
        // Qt's notes about the missing runtime folder and the like are no
        // business of the command's output.
        ownHandler = true;
        previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& msg) {
            if (type == QtCriticalMsg || type == QtFatalMsg)
                fprintf(stderr, "%s\n", msg.toLocal8Bit().constData());
        });
        app = std::make_unique<QApplication>(argc, argv);
    }
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QGraphicsScene scene;
        QChart* deviation = NewDeviationChart(r);
        QChart* spectrum = NewSpectrumChart(r);
        scene.addItem(deviation);
        scene.addItem(spectrum);
        const int half = height / 2;
        deviation->setGeometry(0, 0, width, half);
        spectrum->setGeometry(0, half, width, height - half);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        scene.render(&painter, QRectF(0, 0, width, height), QRectF(0, 0, width, height));
    }
    const bool saved = image.save(QString::fromStdString(path), "PNG");
    app.reset();
    if (ownHandler)
        qInstallMessageHandler(previous);
    if (!saved) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}

}  // namespace tarvo
