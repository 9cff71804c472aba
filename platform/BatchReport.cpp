#include "platform/BatchReport.h"

#include "framework/SafeOutput.h"
#include "meter/Limits.h"
#include "meter/Meter.h"
#include "meter/PlotScale.h"
#include "platform/ArchivePdf.h"
#include "platform/MeterViews.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <optional>
#include <vector>

namespace tarvo {

namespace {

using meter::Verdict;

// The most lines a setting or a message takes before it is cut short.
constexpr int kMostLines = 3;
constexpr double kHistogramHeight = 250;  // pixels (96 an inch)
constexpr double kGap = 10;               // between the sections
constexpr double kCellPad = 4;            // each side of a cell's text
constexpr size_t kWorst = 10;

QString Q(const std::string& s) { return QString::fromStdString(s); }

// FAIL first, then ERROR, then PASS.
int VerdictRank(Verdict v) { return v == Verdict::Fail ? 0 : v == Verdict::Error ? 1 : 2; }

QString VerdictWord(Verdict v)
{
    return v == Verdict::Fail    ? QStringLiteral("FAIL")
           : v == Verdict::Error ? QStringLiteral("ERROR")
                                 : QStringLiteral("PASS");
}

QColor VerdictColour(Verdict v)
{
    return v == Verdict::Fail ? QColor(176, 0, 0) : v == Verdict::Error ? QColor(160, 88, 0) : QColor(0, 110, 0);
}

bool Finite(const std::optional<double>& v) { return v && std::isfinite(*v); }

// "0.0616 %", "+0.210 %" (signed), or "-" where there is no figure.
QString FigureText(const std::optional<double>& v, int decimals, bool sign = false)
{
    return Finite(v) ? Q(meter::FixedText(*v, decimals, sign)) + QStringLiteral(" %") : QStringLiteral("-");
}

struct Counts {
    size_t files = 0, pass = 0, fail = 0, error = 0;
};

Counts CountsOf(const BatchReportInfo& info)
{
    Counts c;
    c.files = info.rows.size();
    for (const BatchReportRow& r : info.rows)
        ++(r.verdict == Verdict::Pass ? c.pass : r.verdict == Verdict::Fail ? c.fail : c.error);
    return c;
}

// "70 files: 40 pass, 20 fail, 10 error" (with ',' after the files: "70 files, 40 pass, ...").
QString CountsText(const Counts& c, QChar afterFiles = QLatin1Char(':'))
{
    return QStringLiteral("%1 %2%3 %4 pass, %5 fail, %6 error")
        .arg(c.files)
        .arg(c.files == 1 ? QStringLiteral("file") : QStringLiteral("files"))
        .arg(afterFiles)
        .arg(c.pass)
        .arg(c.fail)
        .arg(c.error);
}

// "12.3 s", "4 min 05 s", "2 h 04 min 05 s".
QString DurationText(double seconds)
{
    if (!(seconds >= 0) || !std::isfinite(seconds))
        return QStringLiteral("unknown");
    if (seconds < 59.95)
        return QStringLiteral("%1 s").arg(seconds, 0, 'f', 1);
    const long long t = std::llround(std::min(seconds, 1e15));
    const QString ms = QStringLiteral("%1 min %2 s")
                           .arg((t / 60) % 60, t >= 3600 ? 2 : 1, 10, QLatin1Char('0'))
                           .arg(t % 60, 2, 10, QLatin1Char('0'));
    return t >= 3600 ? QStringLiteral("%1 h %2").arg(t / 3600).arg(ms) : ms;
}

// What a file failed: "weighted over 0.05 %, speed over +-0.5 %"; for a
// file that could not be measured, why.
QString FailedText(const BatchReportRow& r, const meter::Limits& limits)
{
    if (r.verdict == Verdict::Error && !r.message.empty())
        return Q(r.message);
    QStringList parts;
    for (const std::string& name : r.failed) {
        std::optional<std::string> limit;
        if (name == "weighted" && limits.weighted)
            limit = meter::LimitNumber(*limits.weighted) + " %";
        else if (name == "unweighted" && limits.unweighted)
            limit = meter::LimitNumber(*limits.unweighted) + " %";
        else if (name == "speed" && limits.speed)
            limit = "+-" + meter::LimitNumber(*limits.speed) + " %";
        parts << (limit ? Q(name + " over " + *limit) : Q(name));
    }
    if (parts.isEmpty() && r.verdict == Verdict::Error)
        return QStringLiteral("could not be measured");
    return parts.join(QStringLiteral(", "));
}

// The table's order: by verdict, then by path (byte order).
std::vector<const BatchReportRow*> SortedRows(const std::vector<BatchReportRow>& rows)
{
    std::vector<const BatchReportRow*> out;
    for (const BatchReportRow& r : rows)
        out.push_back(&r);
    std::stable_sort(out.begin(), out.end(), [](const BatchReportRow* a, const BatchReportRow* b) {
        const int ra = VerdictRank(a->verdict), rb = VerdictRank(b->verdict);
        return ra != rb ? ra < rb : a->path < b->path;
    });
    return out;
}

// The files with the highest weighted two-sigma figures, highest first
// (a tie by path).
std::vector<const BatchReportRow*> WorstRows(const std::vector<BatchReportRow>& rows)
{
    std::vector<const BatchReportRow*> out;
    for (const BatchReportRow& r : rows)
        if (Finite(r.weightedTwoSigmaPercent))
            out.push_back(&r);
    std::stable_sort(out.begin(), out.end(), [](const BatchReportRow* a, const BatchReportRow* b) {
        const double wa = *a->weightedTwoSigmaPercent, wb = *b->weightedTwoSigmaPercent;
        return wa != wb ? wa > wb : a->path < b->path;
    });
    if (out.size() > kWorst)
        out.resize(kWorst);
    return out;
}

// The weighted figures in bins from 0 past the highest and the limit.
meter::FigureBins WeightedBins(const BatchReportInfo& info)
{
    std::vector<double> figures;
    for (const BatchReportRow& r : info.rows)
        if (r.weightedTwoSigmaPercent)
            figures.push_back(*r.weightedTwoSigmaPercent);
    return meter::CountFigures(figures, info.limits.weighted);
}

// Lines of text no wider than width, broken between words (or anywhere in
// a word longer than the line); past maxLines the last is cut with "...".
QStringList WrapText(const QString& text, const QFont& font, QPaintDevice* device, double width, int maxLines)
{
    QStringList lines;
    std::vector<int> starts;
    QTextLayout layout(text, font, device);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        starts.push_back(line.textStart());
        lines << text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    if (lines.size() > maxLines) {
        const QString rest = text.mid(starts[static_cast<size_t>(maxLines - 1)]);
        lines.resize(maxLines);
        lines.back() = QFontMetricsF(font, device).elidedText(rest, Qt::ElideRight, width);
    }
    if (lines.isEmpty())
        lines << QString();
    return lines;
}

// A path that fits width: its folders cut short in the middle while the
// file's name stays whole; a name too long itself cut in its middle.
QString ElidePath(const QString& path, const QFontMetricsF& fm, double width)
{
    if (fm.horizontalAdvance(path) <= width)
        return path;
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const QString name = path.mid(slash + 1);
    const double folderRoom = width - fm.horizontalAdvance(QStringLiteral("/") + name);
    if (slash < 0 || folderRoom < fm.horizontalAdvance(QStringLiteral("\u2026")))
        return fm.elidedText(path.mid(slash + 1), Qt::ElideMiddle, width);
    return fm.elidedText(path.left(slash), Qt::ElideMiddle, folderRoom) + QStringLiteral("/") + name;
}

struct Column {
    QString title;
    double width = 0;
    Qt::Alignment align = Qt::AlignLeft;
};

// One row of a table as drawn: its cells' lines and colours.
struct TableRow {
    std::vector<QStringList> cells;
    std::vector<QColor> colours;
    int Lines() const
    {
        int n = 1;
        for (const QStringList& c : cells)
            n = std::max(n, static_cast<int>(c.size()));
        return n;
    }
};

class BatchPages {
public:
    BatchPages(QPainter& painter, const BatchReportInfo& info, const QRectF& page)
        : p_(painter), info_(info), page_(page)
    {
        body_ = QGuiApplication::font();
        body_.setPointSizeF(8.5);
        // No ligatures: a reader searching for "file" finds it.
        body_.setStyleStrategy(QFont::PreferNoShaping);
        small_ = body_;
        small_.setPointSizeF(7.5);
        bold_ = small_;
        bold_.setBold(true);
        heading_ = body_;
        heading_.setPointSizeF(10.5);
        heading_.setBold(true);
        title_ = body_;
        title_.setPointSizeF(15);
        title_.setBold(true);
        bodyLine_ = Metrics(body_).lineSpacing();
        smallLine_ = Metrics(small_).lineSpacing();
        headingLine_ = Metrics(heading_).lineSpacing() + 4;
        footerHeight_ = smallLine_ + 10;
        worst_ = WorstRows(info.rows);
        histogram_ = WeightedBins(info);
        Columns();
        infoLines_ = InfoLines();
        Paginate();
    }

    int Pages() const { return static_cast<int>(pages_.size()); }

    // Draws page k (from 0) on the page the painter is at.
    void Draw(int k)
    {
        const PageRows& rows = pages_[static_cast<size_t>(k)];
        double y = page_.top();
        if (k == 0)
            y = DrawFirstSections(y);
        if (rows.heading) {
            y = Heading(y, k == 0 || !rows.continued ? QStringLiteral("Every file")
                                                     : QStringLiteral("Every file (continued)"));
            if (table_.empty()) {
                p_.setFont(body_);
                p_.setPen(Qt::black);
                p_.drawText(QRectF(page_.left(), y, page_.width(), bodyLine_), Qt::AlignLeft | Qt::AlignVCenter,
                            QStringLiteral("No files."));
            } else {
                y = DrawTable(y, columns_, table_, rows.first, rows.count);
            }
        }
        DrawFooter(k);
    }

private:
    struct PageRows {
        bool heading = false;    // the table, or its "no files", starts or goes on here
        bool continued = false;  // it started on an earlier page
        size_t first = 0, count = 0;
    };

    QFontMetricsF Metrics(const QFont& f) const { return QFontMetricsF(f, p_.device()); }

    // The settings, the limits, the counts and the time taken, a line each
    // (wrapped); settings past what the first page holds beside its other
    // sections are counted in a last line instead.
    QStringList InfoLines() const
    {
        auto wrap = [&](const QString& text) { return WrapText(text, body_, p_.device(), page_.width(), kMostLines); };
        QStringList settings, tail;
        for (const std::string& s : info_.settings)
            settings << wrap(Q(s));
        tail << wrap(QStringLiteral("Limits: %1").arg(Q(meter::LimitsText(info_.limits))));
        tail << wrap(CountsText(CountsOf(info_)));
        tail << wrap(QStringLiteral("Time taken: %1").arg(DurationText(info_.seconds)));
        const double others = FirstSectionsHeight(0);
        const auto room = static_cast<qsizetype>(std::floor((page_.height() - footerHeight_ - others) / bodyLine_)) -
                          tail.size();
        if (settings.size() > room) {
            const qsizetype keep = std::max<qsizetype>(room - 1, 0);
            const qsizetype more = settings.size() - keep;
            settings.resize(keep);
            settings << QStringLiteral("\u2026 and %1 more %2 of settings")
                            .arg(more)
                            .arg(more == 1 ? QStringLiteral("line") : QStringLiteral("lines"));
        }
        return settings + tail;
    }

    double TitleHeight() const { return Metrics(title_).lineSpacing() + 6; }

    double RowHeight(const TableRow& r) const { return r.Lines() * smallLine_ + 4; }
    double HeaderHeight() const { return smallLine_ + 6; }

    // The title, the text under it (that many lines), the histogram and the ten worst.
    double FirstSectionsHeight(qsizetype infoLines) const
    {
        double h = TitleHeight() + static_cast<double>(infoLines) * bodyLine_ + kGap;
        h += headingLine_ + (histogram_.figures > 0 ? kHistogramHeight : bodyLine_) + kGap;
        h += headingLine_ + (worst_.empty() ? bodyLine_ : TableHeight(worstTable_, 0, worstTable_.size())) + kGap;
        return h;
    }

    double TableHeight(const std::vector<TableRow>& rows, size_t first, size_t count) const
    {
        double h = HeaderHeight();
        for (size_t i = first; i < first + count; ++i)
            h += RowHeight(rows[i]);
        return h;
    }

    // The columns of both tables and their cells.
    void Columns()
    {
        const QFontMetricsF fm = Metrics(small_);
        const QFontMetricsF fb = Metrics(bold_);
        auto width = [&](const QString& title, const QString& widest) {
            return std::max(fb.horizontalAdvance(title), fm.horizontalAdvance(widest)) + 2 * kCellPad;
        };
        // The figures' columns as wide as their widest text (a sixth of the
        // page at most: beyond that a figure is cut short, never spills).
        const double all = page_.width();
        double figure = width(QStringLiteral("Unweighted"), QStringLiteral("0.0000 %"));
        double speed = width(QStringLiteral("Speed error"), QStringLiteral("+0.000 %"));
        for (const BatchReportRow& r : info_.rows) {
            figure = std::max({figure, width({}, FigureText(r.weightedTwoSigmaPercent, 4)),
                               width({}, FigureText(r.unweightedTwoSigmaPercent, 4))});
            speed = std::max(speed, width({}, FigureText(r.speedErrorPercent, 3, true)));
        }
        figure = std::min(figure, all / 6);
        speed = std::min(speed, all / 6);
        const double verdict = width(QStringLiteral("Verdict"), QStringLiteral("ERROR"));
        const double rank = width(QStringLiteral("#"), QStringLiteral("10"));

        // The ten worst: every figure, the path taking what is left.
        const Column worstFixed[] = {{QStringLiteral("#"), rank, Qt::AlignRight},
                                     {QStringLiteral("Path"), 0, Qt::AlignLeft},
                                     {QStringLiteral("Weighted"), figure, Qt::AlignRight},
                                     {QStringLiteral("Unweighted"), figure, Qt::AlignRight},
                                     {QStringLiteral("Speed error"), speed, Qt::AlignRight},
                                     {QStringLiteral("Verdict"), verdict, Qt::AlignLeft}};
        worstColumns_.assign(std::begin(worstFixed), std::end(worstFixed));
        double fixed = 0;
        for (const Column& c : worstColumns_)
            fixed += c.width;
        worstColumns_[1].width = all - fixed;
        for (size_t i = 0; i < worst_.size(); ++i) {
            const BatchReportRow& r = *worst_[i];
            TableRow t;
            t.cells = {{QString::number(i + 1)},
                       {ElidePath(Q(r.path), fm, worstColumns_[1].width - 2 * kCellPad)},
                       {FigureText(r.weightedTwoSigmaPercent, 4)},
                       {FigureText(r.unweightedTwoSigmaPercent, 4)},
                       {FigureText(r.speedErrorPercent, 3, true)},
                       {VerdictWord(r.verdict)}};
            t.colours.assign(t.cells.size(), Qt::black);
            t.colours.back() = VerdictColour(r.verdict);
            worstTable_.push_back(std::move(t));
        }

        // Every file: the limited figures, the speed error, and what failed.
        columns_ = {{QStringLiteral("Path"), 0, Qt::AlignLeft}, {QStringLiteral("Verdict"), verdict, Qt::AlignLeft}};
        if (info_.limits.weighted)
            columns_.push_back({QStringLiteral("Weighted"), figure, Qt::AlignRight});
        if (info_.limits.unweighted)
            columns_.push_back({QStringLiteral("Unweighted"), figure, Qt::AlignRight});
        columns_.push_back({QStringLiteral("Speed error"), speed, Qt::AlignRight});
        columns_.push_back({QStringLiteral("Failed limits or message"), 0, Qt::AlignLeft});
        fixed = 0;
        for (const Column& c : columns_)
            fixed += c.width;
        const double notes = std::max(0.4 * (all - fixed), 170.0);
        columns_.back().width = notes;
        columns_.front().width = all - fixed - notes;
        for (const BatchReportRow* row : SortedRows(info_.rows)) {
            const BatchReportRow& r = *row;
            TableRow t;
            t.cells.push_back({ElidePath(Q(r.path), fm, columns_.front().width - 2 * kCellPad)});
            t.cells.push_back({VerdictWord(r.verdict)});
            if (info_.limits.weighted)
                t.cells.push_back({FigureText(r.weightedTwoSigmaPercent, 4)});
            if (info_.limits.unweighted)
                t.cells.push_back({FigureText(r.unweightedTwoSigmaPercent, 4)});
            t.cells.push_back({FigureText(r.speedErrorPercent, 3, true)});
            t.cells.push_back(
                WrapText(FailedText(r, info_.limits), small_, p_.device(), notes - 2 * kCellPad, kMostLines));
            t.colours.assign(t.cells.size(), Qt::black);
            t.colours[1] = VerdictColour(r.verdict);
            table_.push_back(std::move(t));
        }
    }

    // The table's rows page by page: after the first page's sections while
    // its heading, header and a row fit there, then from the top of each.
    void Paginate()
    {
        const double bottom = page_.bottom() - footerHeight_;
        double y = page_.top() + FirstSectionsHeight(infoLines_.size());
        PageRows page;
        size_t next = 0;
        const double firstRow = table_.empty() ? bodyLine_ : RowHeight(table_.front());
        if (y + headingLine_ + HeaderHeight() + firstRow > bottom) {
            pages_.push_back(page);
            y = page_.top();
        }
        do {
            page.heading = true;
            page.continued = next > 0;
            page.first = next;
            double at = y + headingLine_ + HeaderHeight();
            // At least one row a page, so that the pages always end.
            while (next < table_.size() && (next == page.first || at + RowHeight(table_[next]) <= bottom)) {
                at += RowHeight(table_[next]);
                ++next;
            }
            page.count = next - page.first;
            pages_.push_back(page);
            y = page_.top();
        } while (next < table_.size());
    }

    double Heading(double y, const QString& text)
    {
        p_.setFont(heading_);
        p_.setPen(Qt::black);
        p_.drawText(QRectF(page_.left(), y, page_.width(), headingLine_), Qt::AlignLeft | Qt::AlignTop,
                    Metrics(heading_).elidedText(text, Qt::ElideRight, page_.width()));
        return y + headingLine_;
    }

    double DrawFirstSections(double y)
    {
        p_.setFont(title_);
        p_.setPen(Qt::black);
        p_.drawText(QRectF(page_.left(), y, page_.width(), TitleHeight()), Qt::AlignLeft | Qt::AlignTop,
                    QStringLiteral("Wow and flutter batch report"));
        y += TitleHeight();
        p_.setFont(body_);
        for (const QString& line : infoLines_) {
            p_.drawText(QRectF(page_.left(), y, page_.width(), bodyLine_), Qt::AlignLeft | Qt::AlignVCenter, line);
            y += bodyLine_;
        }
        y += kGap;

        const meter::FigureBins& h = histogram_;
        y = Heading(y, h.figures > 0 ? QStringLiteral("Weighted two-sigma over the batch: %1 %2, bins %3 % wide")
                                         .arg(h.figures)
                                         .arg(h.figures == 1 ? QStringLiteral("file") : QStringLiteral("files"))
                                         .arg(Q(meter::TickLabel(h.width, h.width)))
                                   : QStringLiteral("Weighted two-sigma over the batch"));
        if (h.figures > 0) {
            DrawHistogram(QRectF(page_.left(), y, page_.width(), kHistogramHeight));
            y += kHistogramHeight;
        } else {
            y = NoFigures(y);
        }
        y += kGap;

        y = Heading(y, QStringLiteral("Ten worst files (highest weighted two-sigma)"));
        if (worst_.empty())
            y = NoFigures(y);
        else
            y = DrawTable(y, worstColumns_, worstTable_, 0, worstTable_.size());
        return y + kGap;
    }

    double NoFigures(double y)
    {
        p_.setFont(body_);
        p_.setPen(Qt::black);
        p_.drawText(QRectF(page_.left(), y, page_.width(), bodyLine_), Qt::AlignLeft | Qt::AlignVCenter,
                    QStringLiteral("No file has a weighted figure."));
        return y + bodyLine_;
    }

    double DrawTable(double y, const std::vector<Column>& columns, const std::vector<TableRow>& rows, size_t first,
                     size_t count)
    {
        const double left = page_.left();
        // The header, shaded, with a rule under it.
        p_.setPen(Qt::NoPen);
        p_.setBrush(QColor(225, 229, 236));
        p_.drawRect(QRectF(left, y, page_.width(), HeaderHeight()));
        p_.setFont(bold_);
        p_.setPen(Qt::black);
        double x = left;
        for (const Column& c : columns) {
            p_.drawText(QRectF(x + kCellPad, y, c.width - 2 * kCellPad, HeaderHeight()), c.align | Qt::AlignVCenter,
                        Metrics(bold_).elidedText(c.title, Qt::ElideRight, c.width - 2 * kCellPad));
            x += c.width;
        }
        y += HeaderHeight();
        p_.setFont(small_);
        const QFontMetricsF fm = Metrics(small_);
        for (size_t i = first; i < first + count; ++i) {
            const TableRow& r = rows[i];
            const double h = RowHeight(r);
            if ((i - first) % 2 == 1) {
                p_.setPen(Qt::NoPen);
                p_.setBrush(QColor(244, 245, 248));
                p_.drawRect(QRectF(left, y, page_.width(), h));
            }
            x = left;
            for (size_t c = 0; c < columns.size(); ++c) {
                p_.setPen(r.colours[c]);
                double line = y + 2;
                for (const QString& text : r.cells[c]) {
                    const double room = columns[c].width - 2 * kCellPad;
                    p_.drawText(QRectF(x + kCellPad, line, room, smallLine_), columns[c].align | Qt::AlignVCenter,
                                fm.elidedText(text, Qt::ElideRight, room));
                    line += smallLine_;
                }
                x += columns[c].width;
            }
            y += h;
        }
        p_.setPen(QPen(QColor(160, 165, 175), 0.8));
        p_.drawLine(QPointF(left, y), QPointF(left + page_.width(), y));
        return y;
    }

    void DrawHistogram(const QRectF& area)
    {
        const meter::FigureBins& h = histogram_;
        const QFontMetricsF fm = Metrics(small_);
        // Counts up the side in whole 1, 2, 5 steps.
        const double countStep = std::max(1.0, meter::AxisStep(h.most, 5));
        const double countTop = std::max(countStep, std::ceil(h.most / countStep) * countStep);
        double countLabels = 0;
        for (double c = 0; c <= countTop + 0.5; c += countStep)
            countLabels = std::max(countLabels, fm.horizontalAdvance(QString::number(c, 'f', 0)));
        std::vector<QString> edgeLabels;
        double edgeWidth = 0;
        for (size_t i = 0; i <= h.counts.size(); ++i) {
            edgeLabels.push_back(Q(meter::TickLabel(h.width * static_cast<double>(i), h.width)));
            edgeWidth = std::max(edgeWidth, fm.horizontalAdvance(edgeLabels.back()));
        }
        // Room for the side's title and labels, the limit's label above and
        // the labels and title below, those clear of the lowest count's
        // label; the last edge's label half past the plot.
        const double below = smallLine_ / 2 + 2;
        const QRectF plot(QPointF(area.left() + smallLine_ + 6 + countLabels + 6, area.top() + smallLine_ + 6),
                          QPointF(area.right() - edgeWidth / 2 - 2, area.bottom() - below - 2 * smallLine_ - 4));
        const double top = h.width * static_cast<double>(h.counts.size());
        auto xOf = [&](double v) { return plot.left() + v / top * plot.width(); };
        auto yOf = [&](double c) { return plot.bottom() - c / countTop * plot.height(); };

        p_.setFont(small_);
        // The grid and the counts.
        for (double c = 0; c <= countTop + 0.5; c += countStep) {
            p_.setPen(QPen(QColor(222, 222, 222), 0.6));
            p_.drawLine(QPointF(plot.left(), yOf(c)), QPointF(plot.right(), yOf(c)));
            p_.setPen(Qt::black);
            p_.drawText(QRectF(plot.left() - 6 - countLabels, yOf(c) - smallLine_ / 2, countLabels, smallLine_),
                        Qt::AlignRight | Qt::AlignVCenter, QString::number(c, 'f', 0));
        }
        // The bars.
        p_.setPen(QPen(QColor(31, 78, 140), 0.8));
        p_.setBrush(QColor(91, 141, 204));
        for (size_t i = 0; i < h.counts.size(); ++i)
            if (h.counts[i] > 0)
                p_.drawRect(QRectF(QPointF(xOf(h.width * static_cast<double>(i)), yOf(h.counts[i])),
                                   QPointF(xOf(h.width * static_cast<double>(i + 1)), plot.bottom())));
        // The axes, the edges' ticks, and as many of their labels as stand
        // clear of each other.
        p_.setBrush(Qt::NoBrush);
        p_.setPen(QPen(Qt::black, 0.8));
        p_.drawLine(plot.bottomLeft(), plot.bottomRight());
        p_.drawLine(plot.bottomLeft(), plot.topLeft());
        const double pitch = plot.width() / static_cast<double>(h.counts.size());
        const size_t every = std::max<size_t>(1, static_cast<size_t>(std::ceil((edgeWidth + 8) / pitch)));
        for (size_t i = 0; i <= h.counts.size(); ++i) {
            const double x = xOf(h.width * static_cast<double>(i));
            p_.drawLine(QPointF(x, plot.bottom()), QPointF(x, plot.bottom() + (i % every == 0 ? 4 : 2)));
            if (i % every == 0)
                p_.drawText(QRectF(x - edgeWidth, plot.bottom() + below, 2 * edgeWidth, smallLine_), Qt::AlignCenter,
                            edgeLabels[i]);
        }
        p_.drawText(QRectF(plot.left(), plot.bottom() + below + smallLine_, plot.width(), smallLine_ + 4),
                    Qt::AlignCenter, QStringLiteral("Weighted two-sigma (%)"));
        p_.save();
        p_.translate(area.left(), plot.center().y());
        p_.rotate(-90);
        p_.drawText(QRectF(-plot.height() / 2, 0, plot.height(), smallLine_), Qt::AlignCenter, QStringLiteral("Files"));
        p_.restore();

        // The weighted limit: a line across the plot, labelled above it.
        if (info_.limits.weighted && std::isfinite(*info_.limits.weighted)) {
            const double x = xOf(std::clamp(*info_.limits.weighted, 0.0, top));
            const QColor red(200, 0, 0);
            p_.setPen(QPen(red, 1.4, Qt::DashLine));
            p_.drawLine(QPointF(x, plot.top() - 2), QPointF(x, plot.bottom()));
            const QString label = QStringLiteral("limit %1 %").arg(Q(meter::LimitNumber(*info_.limits.weighted)));
            const double w = fm.horizontalAdvance(label) + 4;
            const double left = std::clamp(x - w / 2, area.left(), area.right() - w);
            p_.setPen(red);
            p_.drawText(QRectF(left, area.top(), w, smallLine_ + 4), Qt::AlignCenter, label);
        }
    }

    void DrawFooter(int k)
    {
        const QRectF band(page_.left(), page_.bottom() - smallLine_ - 2, page_.width(), smallLine_);
        p_.setPen(QPen(QColor(160, 165, 175), 0.6));
        p_.drawLine(QPointF(band.left(), band.top() - 4), QPointF(band.right(), band.top() - 4));
        p_.setFont(small_);
        p_.setPen(QColor(90, 90, 90));
        p_.drawText(band, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Wow and flutter batch report"));
        p_.setPen(Qt::black);
        p_.drawText(band, Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("Page %1 of %2").arg(k + 1).arg(Pages()));
    }

    QPainter& p_;
    const BatchReportInfo& info_;
    QRectF page_;
    QFont body_, small_, bold_, heading_, title_;
    double bodyLine_ = 0, smallLine_ = 0, headingLine_ = 0, footerHeight_ = 0;
    std::vector<const BatchReportRow*> worst_;
    meter::FigureBins histogram_;
    std::vector<Column> worstColumns_, columns_;
    std::vector<TableRow> worstTable_, table_;
    QStringList infoLines_;
    std::vector<PageRows> pages_;
};

}  // namespace

bool WriteBatchReport(const BatchReportInfo& info, const std::string& path, std::string& error)
{
    ChartsApplication app;
    if (!app.Start(error))
        return false;
    const Counts counts = CountsOf(info);
    // Drawn in memory, then written whole by the one safe writer: never
    // over a file of the batch, a failure leaves an old report as it was.
    QByteArray bytes;
    {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter pdf(&buffer);
        SetUpArchivePdf(pdf, QStringLiteral("Wow and flutter batch report"), info.operatorName,
                        QStringLiteral("batch: ") + CountsText(counts, QLatin1Char(',')), info.paper);
        QPainter painter;
        if (!painter.begin(&pdf)) {
            error = "cannot write " + path + ": the PDF could not be started";
            return false;
        }
        painter.setRenderHint(QPainter::Antialiasing);
        const QRect page = pdf.pageLayout().paintRectPixels(pdf.resolution());
        BatchPages pages(painter, info, QRectF(0, 0, page.width(), page.height()));
        for (int k = 0; k < pages.Pages(); ++k) {
            if (k > 0 && !pdf.newPage()) {
                error = "cannot write " + path + ": the PDF could not take another page";
                return false;
            }
            pages.Draw(k);
        }
        if (!painter.end() || bytes.isEmpty()) {
            error = "cannot write " + path + ": the PDF could not be finished";
            return false;
        }
    }
    std::string why;
    if (!WriteFileSafely(path, bytes.toStdString(), info.inputs, &why)) {
        error = "cannot write " + path + ": " + why;
        return false;
    }
    return true;
}

}  // namespace tarvo
