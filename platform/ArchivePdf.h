// What the meter's PDF reports share: the paper, the resolution, and the
// PDF/A-1b settings with their XMP (title, creator tool, producer, dates,
// the operator as dc:creator and a one-line description), so that every
// report an archive files reads the same way.
#pragma once

#include <QByteArray>
#include <QPageSize>
#include <QString>

#include <string>

class QPdfWriter;

namespace tarvo {

// "A4", "Letter", or the locale's paper for anything else (empty).
QPageSize PaperOf(const std::string& paper);

// "Tarvo <version>": the creator tool every report names.
QString ReportCreator();

// The document's XMP: what Qt writes for PDF/A-1b, with the operator (when
// given) as dc:creator and the description as dc:description. Qt's own
// Info dictionary carries the title, creator, producer and creation date:
// they must agree.
QByteArray ArchiveXmp(const QString& title, const QString& creator, const std::string& operatorName,
                      const QString& description);

// Sets the writer up for a report: title and creator, PDF/A-1b with its
// XMP, 96 pixels an inch (the screen's, so that charts lay out as in the
// window; fonts in points keep their size either way), portrait on the
// paper with 12 mm margins.
void SetUpArchivePdf(QPdfWriter& pdf, const QString& title, const std::string& operatorName,
                     const QString& description, const std::string& paper);

}  // namespace tarvo
