#include "platform/MeterReport.h"

#include "meter/Limits.h"
#include "meter/Record.h"

#include "framework/SafeOutput.h"
#include "meter/Meter.h"
#include "platform/MeterViews.h"

#include <QBuffer>
#include <QDateTime>
#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <algorithm>
#include <cstdio>

namespace tarvo {

namespace {

// Pixels of the screen's size, so that the charts lay out as they do in the
// PNG and the window (fonts in points keep their size either way).
constexpr int kResolution = 96;

QPageSize PaperOf(const std::string& paper)
{
    if (paper == "A4")
        return QPageSize(QPageSize::A4);
    if (paper == "Letter")
        return QPageSize(QPageSize::Letter);
    return QPageSize(QLocale::system().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                                        : QPageSize::A4);
}

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
    for (const QString& line : lines) {
        // A long path or reason wraps anywhere rather than leave the page.
        const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWrapAnywhere;
        const QRectF box = painter.boundingRect(at, flags, line);
        painter.drawText(at, flags, line);
        at.setTop(box.bottom() + box.height() * 0.25 / std::max(1.0, box.height() / painter.fontMetrics().height()));
    }
}

QString Xml(const QString& s) { return s.toHtmlEscaped(); }

// The document's XMP: what Qt writes for PDF/A-1b (title, creator tool,
// producer, dates, the PDF/A part and conformance), with the operator as
// dc:creator and the subject as dc:description. Qt's own Info dictionary
// carries the title, creator, producer and creation date: they must agree.
QByteArray XmpMetadata(const QString& title, const QString& creator, const MeterReportInfo& info,
                       const QString& subject)
{
    const QString now = QDateTime::currentDateTime().toOffsetFromUtc(QDateTime::currentDateTime().offsetFromUtc())
                            .toString(Qt::ISODate);
    QString xmp;
    xmp += QStringLiteral("<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n");
    xmp += QStringLiteral("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
                          "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                          "<rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                          "xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" "
                          "xmlns:pdfaid=\"http://www.aiim.org/pdfa/ns/id/\">\n");
    xmp += QStringLiteral("<dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">%1</rdf:li></rdf:Alt></dc:title>\n")
               .arg(Xml(title));
    if (!info.operatorName.empty())
        xmp += QStringLiteral("<dc:creator><rdf:Seq><rdf:li>%1</rdf:li></rdf:Seq></dc:creator>\n")
                   .arg(Xml(QString::fromStdString(info.operatorName)));
    xmp += QStringLiteral("<dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">%1</rdf:li></rdf:Alt>"
                          "</dc:description>\n")
               .arg(Xml(subject));
    xmp += QStringLiteral("<pdf:Producer>Qt %1</pdf:Producer>\n").arg(QString::fromLatin1(qVersion()));
    xmp += QStringLiteral("<xmp:CreatorTool>%1</xmp:CreatorTool>\n").arg(Xml(creator));
    xmp += QStringLiteral("<xmp:CreateDate>%1</xmp:CreateDate>\n<xmp:ModifyDate>%1</xmp:ModifyDate>\n"
                          "<xmp:MetadataDate>%1</xmp:MetadataDate>\n")
               .arg(now);
    xmp += QStringLiteral("<pdfaid:part>1</pdfaid:part>\n<pdfaid:conformance>B</pdfaid:conformance>\n");
    xmp += QStringLiteral("</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>");
    return xmp.toUtf8();
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
        const QString creator = QStringLiteral("%1 %2").arg(QString::fromLatin1(meter::kProgramName),
                                                            QString::fromLatin1(meter::ProgramVersion()));
        pdf.setTitle(title);
        pdf.setCreator(creator);
        // PDF/A-1b for an archive's long-term store; the operator as the
        // author and the file's verdict as the subject go in its XMP.
        pdf.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
        pdf.setDocumentXmpMetadata(XmpMetadata(title, creator, info, Subject(r, info)));
        pdf.setResolution(kResolution);
        pdf.setPageLayout(QPageLayout(PaperOf(info.paper), QPageLayout::Portrait, QMarginsF(12, 12, 12, 12),
                                      QPageLayout::Millimeter));
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
