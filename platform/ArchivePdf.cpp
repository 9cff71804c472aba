#include "platform/ArchivePdf.h"

#include "meter/Record.h"

#include <QDateTime>
#include <QLocale>
#include <QPageLayout>
#include <QPdfWriter>

namespace tarvo {

namespace {

constexpr int kResolution = 96;
constexpr double kMarginMm = 12;

QString Xml(const QString& s) { return s.toHtmlEscaped(); }

}  // namespace

QPageSize PaperOf(const std::string& paper)
{
    if (paper == "A4")
        return QPageSize(QPageSize::A4);
    if (paper == "Letter")
        return QPageSize(QPageSize::Letter);
    return QPageSize(QLocale::system().measurementSystem() == QLocale::ImperialUSSystem ? QPageSize::Letter
                                                                                        : QPageSize::A4);
}

QString ReportCreator()
{
    return QStringLiteral("%1 %2").arg(QString::fromLatin1(meter::kProgramName),
                                       QString::fromLatin1(meter::ProgramVersion()));
}

QByteArray ArchiveXmp(const QString& title, const QString& creator, const std::string& operatorName,
                      const QString& description)
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
    if (!operatorName.empty())
        xmp += QStringLiteral("<dc:creator><rdf:Seq><rdf:li>%1</rdf:li></rdf:Seq></dc:creator>\n")
                   .arg(Xml(QString::fromStdString(operatorName)));
    xmp += QStringLiteral("<dc:description><rdf:Alt><rdf:li xml:lang=\"x-default\">%1</rdf:li></rdf:Alt>"
                          "</dc:description>\n")
               .arg(Xml(description));
    xmp += QStringLiteral("<pdf:Producer>Qt %1</pdf:Producer>\n").arg(QString::fromLatin1(qVersion()));
    xmp += QStringLiteral("<xmp:CreatorTool>%1</xmp:CreatorTool>\n").arg(Xml(creator));
    xmp += QStringLiteral("<xmp:CreateDate>%1</xmp:CreateDate>\n<xmp:ModifyDate>%1</xmp:ModifyDate>\n"
                          "<xmp:MetadataDate>%1</xmp:MetadataDate>\n")
               .arg(now);
    xmp += QStringLiteral("<pdfaid:part>1</pdfaid:part>\n<pdfaid:conformance>B</pdfaid:conformance>\n");
    xmp += QStringLiteral("</rdf:Description>\n</rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>");
    return xmp.toUtf8();
}

void SetUpArchivePdf(QPdfWriter& pdf, const QString& title, const std::string& operatorName,
                     const QString& description, const std::string& paper)
{
    const QString creator = ReportCreator();
    pdf.setTitle(title);
    pdf.setCreator(creator);
    // PDF/A-1b for an archive's long-term store.
    pdf.setPdfVersion(QPagedPaintDevice::PdfVersion_A1b);
    pdf.setDocumentXmpMetadata(ArchiveXmp(title, creator, operatorName, description));
    pdf.setResolution(kResolution);
    pdf.setPageLayout(QPageLayout(PaperOf(paper), QPageLayout::Portrait,
                                  QMarginsF(kMarginMm, kMarginMm, kMarginMm, kMarginMm), QPageLayout::Millimeter));
}

}  // namespace tarvo
