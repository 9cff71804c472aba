#include "platform/MeterCharts.h"

#include "framework/SafeOutput.h"
#include "platform/MeterViews.h"

#include <QBuffer>
#include <QImage>
#include <QPainter>


namespace tarvo {

QChart* NewDeviationChart(const meter::MeterResult& r) { return NewMeterView(MeterView::Deviation, r); }

QChart* NewSpectrumChart(const meter::MeterResult& r) { return NewMeterView(MeterView::Spectrum, r); }

bool WriteMeterPng(const meter::MeterResult& r, const std::string& path, std::string& error, int width, int height)
{
    ChartsApplication app;
    if (!app.Start(error))
        return false;
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        DrawMeterViews(painter, QRectF(0, 0, width, height), r, QString::fromStdString(r.file));
    }
    // Encoded in memory and written whole by the one safe writer: a failure
    // leaves an old file whole, and a pipe takes the picture as it is.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    std::string why;
    if (!buffer.open(QIODevice::WriteOnly) || !image.save(&buffer, "PNG")) {
        error = "cannot write " + path + ": the picture could not be encoded";
        return false;
    }
    if (!WriteFileSafely(path, bytes.toStdString(), {}, &why)) {
        error = "cannot write " + path + ": " + why;
        return false;
    }
    return true;
}

}  // namespace tarvo
