#include "platform/MeterCharts.h"

#include "framework/SafeOutput.h"
#include "platform/MeterViews.h"

#include <QImage>
#include <QPainter>

#include <cerrno>

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
    // Written beside path and renamed into place: a failure leaves an old
    // file whole.
    SafeOutputFile out;
    bool saved = out.Open(path);
    if (saved && !image.save(QString::fromStdString(out.TempPath()), "PNG"))
        out.Fail(EIO);
    saved = saved && out.Commit();
    if (!saved) {
        error = "cannot write " + path + ": " + out.Reason();
        return false;
    }
    return true;
}

}  // namespace tarvo
