#include "platform/MeterReport.h"

#include "meter/Limits.h"
#include "framework/SafeOutput.h"
#include "platform/ArchivePdf.h"
#include "meter/Meter.h"
#include "platform/MeterViews.h"

#include <QBuffer>
#include <QDateTime>
#include <QFont>
#include <QFontMetrics>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextOption>

#include <cstdio>

namespace tarvo {

namespace {

// The lines of text under the title block: the modulation lines with their
// parts and AM, the transport, the comment and the date.
QStringList DetailLines(const meter::MeterResult& r, const MeterReportInfo& info)
{
    QStringList lines;
    for (const std::string& line : info.record)
        lines << QString::fromStdString(line);
    if (!r.channels.empty())
        lines << QStringLiteral("Bands: weighted (peak at 4 Hz) and unweighted 0.2 to %1 Hz, two-sigma; wow below "
                                "6 Hz, flutter above")
                     .arg(r.channels.front().bandHighHz, 0, 'f', 0);
    for (const meter::ChannelFigures& c : r.channels) {
        QStringList parts;
        for (const meter::PartRate& p : c.parts)
            parts << (p.hzHigh > p.hz ? QStringLiteral("%1 %2-%3 Hz").arg(QString::fromStdString(p.name))
                                            .arg(p.hz, 0, 'f', 3)
                                            .arg(p.hzHigh, 0, 'f', 3)
                                      : QStringLiteral("%1 %2 Hz").arg(QString::fromStdString(p.name)).arg(p.hz, 0, 'f', 3));
        if (!parts.isEmpty())
            lines << QStringLiteral("Channel %1 parts: %2").arg(c.channel).arg(parts.join(QStringLiteral(", ")));
        QStringList mods;
        for (const meter::ModulationLine& m : c.modulation)
            mods << QStringLiteral("%1 Hz %2 % (%3; AM %4 %, coherence %5)")
                        .arg(m.hz, 0, 'f', 2)
                        .arg(m.percent, 0, 'f', 4)
                        .arg(QString::fromStdString(m.label.value_or("no part")))
                        .arg(m.amPercent, 0, 'f', 3)
                        .arg(m.amFmCoherence ? QString::number(*m.amFmCoherence, 'f', 2) : QStringLiteral("none"));
        lines << QStringLiteral("Channel %1 lines: %2")
                     .arg(c.channel)
                     .arg(mods.isEmpty() ? QStringLiteral("none") : mods.join(QStringLiteral("; ")));
    }
    lines << QStringLiteral("Limits: %1").arg(QString::fromStdString(meter::LimitsText(info.limits)));
    for (const meter::ChannelFigures& c : r.channels)
        lines << QStringLiteral("Channel %1 verdict: %2")
                     .arg(c.channel)
                     .arg(QString::fromStdString(meter::VerdictText(info.limits, c)));
    if (!info.comment.empty())
        lines << QStringLiteral("Comment: %1").arg(QString::fromStdString(info.comment));
    if (info.record.empty())  // the record gives the time, with its zone
        lines << QStringLiteral("Date: %1").arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    return lines;
}

// The file and its verdict: "tone.wav: FAIL", or "tone.wav: no limits given".
QString Subject(const meter::MeterResult& r, const MeterReportInfo& info)
{
    QString verdict = QStringLiteral("no limits given");
    if (!r.ok) {
        verdict = QStringLiteral("ERROR, not measured");
    } else if (info.limits.Any()) {
        bool pass = true;
        for (const meter::ChannelFigures& c : r.channels)
            pass = pass && meter::Judge(info.limits, c).verdict == meter::Verdict::Pass;
        verdict = pass ? QStringLiteral("PASS") : QStringLiteral("FAIL");
    }
    return QStringLiteral("%1: %2").arg(QString::fromStdString(r.file), verdict);
}

// The record of a file the meter could not measure: what, when and why,
// with the settings it was to be measured with.
void DrawErrorRecord(QPainter& painter, const QRectF& page, const meter::MeterResult& r, const MeterReportInfo& info)
{
    QStringList lines;
    for (const std::string& line : info.record)
        lines << QString::fromStdString(line);
    const QString why = QString::fromStdString(r.message.empty() ? "not given" : r.message);
    if (!lines.contains(QStringLiteral("Not read: %1").arg(why)))
        lines << QStringLiteral("Why: %1").arg(why);
    lines << QStringLiteral("Transport: %1").arg(QString::fromStdString(info.transport));
    lines << QStringLiteral("Limits: %1").arg(QString::fromStdString(meter::LimitsText(info.limits)));
    lines << QStringLiteral("Verdict: ERROR (not measured)");
    if (!info.comment.empty())
        lines << QStringLiteral("Comment: %1").arg(QString::fromStdString(info.comment));
    QFont title = painter.font();
    title.setStyleStrategy(QFont::PreferNoShaping);  // "file" stays three letters for a search
    title.setPointSizeF(14);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(Qt::black);
    const QString heading = QStringLiteral("Wow and flutter record: %1 could not be measured").arg(QString::fromStdString(r.file));
    QRectF at = page;
    const QRectF used = painter.boundingRect(at, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, heading);
    painter.drawText(at, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, heading);
    at.setTop(used.bottom() + used.height() * 0.6);
    QFont body = painter.font();
    body.setPointSizeF(10);
    body.setBold(false);
    painter.setFont(body);
    // Words wrap; a long path breaks anywhere rather than leave the page.
    QTextOption wrap(Qt::AlignLeft | Qt::AlignTop);
    wrap.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (const QString& line : lines) {
        const QRectF box = painter.boundingRect(at, line, wrap);
        painter.drawText(at, line, wrap);
        at.setTop(box.bottom() + painter.fontMetrics().height() * 0.25);
    }
}

}  // namespace

bool WriteMeterReport(const meter::MeterResult& r, const MeterReportInfo& info, const std::string& path,
                      std::string& error)
{
    ChartsApplication app;
    if (!app.Start(error))
        return false;
    // Drawn in memory, then written whole by the one safe writer: never
    // over the file measured, a failure leaves an old report as it was.
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&buffer);
        const QString title = QStringLiteral("Wow and flutter report: %1").arg(QString::fromStdString(r.file));
        // The operator as the author and the file's verdict as the subject go in its XMP.
        SetUpArchivePdf(pdf, title, info.operatorName, Subject(r, info), info.paper);
        QPainter painter;
        if (!painter.begin(&pdf)) {
            error = "cannot write " + path + ": the PDF could not be started";
            return false;
        }
        const QRect page = pdf.pageLayout().paintRectPixels(pdf.resolution());
        const double width = page.width(), height = page.height();
        painter.setRenderHint(QPainter::Antialiasing);
        if (r.ok)
            DrawMeterViews(painter, QRectF(0, 0, width, height), r, QString::fromStdString(r.file),
                           DetailLines(r, info));
        else
            DrawErrorRecord(painter, QRectF(0, 0, width, height), r, info);
        if (!painter.end() || bytes.isEmpty()) {
            error = "cannot write " + path + ": the PDF could not be finished";
            return false;
        }
    }
    std::string why;
    std::vector<std::string> inputs;
    if (!info.file.empty())
        inputs.push_back(info.file);
    if (!WriteFileSafely(path, bytes.toStdString(), inputs, &why)) {
        error = "cannot write " + path + ": " + why;
        return false;
    }
    return true;
}

}  // namespace tarvo
