// The batch's PDF report, written through the Qt module as tarvo-cli
// writes it and read back with poppler's pdftotext and pdfinfo.
#include "platform/QtModule.h"

#include "WaveBuilder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

using tarvo::BatchReportInfo;
using tarvo::BatchReportRow;
using tarvo::meter::Verdict;

struct Output {
    int status = -1;
    std::string out;
};

std::string Quote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

Output Run(const std::string& command)
{
    Output o;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return o;
    std::array<char, 4096> buffer{};
    for (size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0;)
        o.out.append(buffer.data(), n);
    const int rc = ::pclose(pipe);
    o.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return o;
}

std::string FileName(const std::string& path) { return path.substr(path.rfind('/') + 1); }

int Rank(Verdict v) { return v == Verdict::Fail ? 0 : v == Verdict::Error ? 1 : 2; }
const char* Word(Verdict v) { return v == Verdict::Fail ? "FAIL" : v == Verdict::Error ? "ERROR" : "PASS"; }

const tarvo::QtModule& Module()
{
    std::string why;
    const tarvo::QtModule* m = tarvo::LoadQtModule(why);
    if (!m)
        ADD_FAILURE() << why;
    static const tarvo::QtModule none;
    return m ? *m : none;
}

// A batch of 70 files from three folders, named so that byte order differs
// from the order they finished in (capitals before small letters), each
// with its own file name; one path 300 characters long. Every ninth could
// not be measured; the others are judged against a weighted limit of
// 0.05 % and a speed limit of +-0.5 % as the meter judges them.
BatchReportInfo MixedBatch()
{
    BatchReportInfo info;
    info.settings = {"Standard: weighted peak (two-sigma)", "Nominal tone: 3150 Hz", "Operator: Ann Archivist"};
    info.limits.weighted = 0.05;
    info.limits.speed = 0.5;
    info.seconds = 83.4;
    info.paper = "A4";
    info.operatorName = "Ann Archivist";
    const std::string folders[] = {"/archive/box-a", "/archive/Box-B", "/archive/box-a/side-2"};
    for (int i = 0; i < 70; ++i) {
        const int k = (i * 37) % 70;  // a scrambled order
        BatchReportRow r;
        r.path = folders[k % 3] + "/take-" + std::to_string(100 + k) + ".wav";
        if (k == 5)
            r.path = "/archive/" + std::string(277, 'x') + "/long-take.wav";  // 300 characters
        if (k % 9 == 4) {
            r.verdict = Verdict::Error;
            r.message = "cannot open " + r.path + ": not a WAVE file";
            if (k == 13)  // no reason given
                r.message.clear();
            if (k == 22) {  // a reason too long for three lines
                r.message = "cannot read: ";
                for (int w = 0; w < 60; ++w)
                    r.message += "word ";
                r.message += "tail-words";
            }
        } else {
            r.weightedTwoSigmaPercent = 0.02 + 0.0007 * ((k * 13) % 70);
            r.unweightedTwoSigmaPercent = *r.weightedTwoSigmaPercent * 1.4;
            if (k == 16)  // ties with take-143, the worst: the path decides
                r.weightedTwoSigmaPercent = 0.02 + 0.0007 * 69;
            r.speedErrorPercent = (k % 2 ? 1 : -1) * 0.011 * (k % 60);
            if (k == 1)  // a wrong nominal tone: wider than the column's header
                r.speedErrorPercent = -123.456;
            if (*r.weightedTwoSigmaPercent > 0.05)
                r.failed.push_back("weighted");
            if (std::abs(*r.speedErrorPercent) > 0.5)
                r.failed.push_back("speed");
            r.verdict = r.failed.empty() ? Verdict::Pass : Verdict::Fail;
        }
        info.rows.push_back(r);
    }
    return info;
}

// Every word poppler finds lies within the page's 12 mm margins and clear
// of every other word of its page: nothing cut off, nothing drawn over.
void ExpectWordsFitAndStandApart(const std::string& pdf)
{
    const Output box = Run("pdftotext -bbox " + Quote(pdf) + " -");
    ASSERT_EQ(box.status, 0) << box.out;
    struct Word {
        double x0, y0, x1, y1;
        std::string text;
    };
    constexpr double kSlack = 0.5;  // points: a glyph's box may touch the next line's
    const double margin = 12 / 25.4 * 72 - kSlack;
    const std::regex pageTag(R"re(<page width="([\d.]+)" height="([\d.]+)">)re");
    const std::regex wordTag(
        R"re(<word xMin="([\d.]+)" yMin="([\d.]+)" xMax="([\d.]+)" yMax="([\d.]+)">([^<]*)</word>)re");
    std::vector<std::vector<Word>> pages;
    double width = 0, height = 0;
    std::stringstream lines(box.out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, pageTag)) {
            width = std::stod(m[1]);
            height = std::stod(m[2]);
            pages.emplace_back();
        } else if (std::regex_search(line, m, wordTag) && !pages.empty()) {
            const Word w{std::stod(m[1]), std::stod(m[2]), std::stod(m[3]), std::stod(m[4]), m[5]};
            EXPECT_TRUE(w.x0 >= margin && w.y0 >= margin && w.x1 <= width - margin && w.y1 <= height - margin)
                << "page " << pages.size() << ": \"" << w.text << "\" at " << w.x0 << "," << w.y0 << " " << w.x1
                << "," << w.y1;
            pages.back().push_back(w);
        }
    }
    EXPECT_FALSE(pages.empty());
    for (size_t p = 0; p < pages.size(); ++p) {
        EXPECT_FALSE(pages[p].empty()) << "page " << p + 1;  // its number at least
        for (size_t i = 0; i < pages[p].size(); ++i)
            for (size_t j = i + 1; j < pages[p].size(); ++j) {
                const Word &a = pages[p][i], &b = pages[p][j];
                const bool apart = std::min(a.x1, b.x1) - std::max(a.x0, b.x0) <= kSlack ||
                                   std::min(a.y1, b.y1) - std::max(a.y0, b.y0) <= kSlack;
                EXPECT_TRUE(apart) << "page " << p + 1 << ": \"" << a.text << "\" over \"" << b.text << "\"";
            }
    }
}

struct Read {
    std::string layout;  // pdftotext -layout
    std::string info;    // pdfinfo
    std::string bytes;
    std::vector<std::string> pages;
    int pageCount = 0;
};

Read WriteAndRead(const BatchReportInfo& info, const tarvo::test::TempDir& dir)
{
    Read r;
    const std::string pdf = (dir.Path() / "batch.pdf").string();
    std::string error;
    const tarvo::QtModule& m = Module();
    if (!m.writeBatchReport) {
        ADD_FAILURE() << "no module";
        return r;
    }
    EXPECT_TRUE(m.writeBatchReport(info, pdf, error)) << error;
    ExpectWordsFitAndStandApart(pdf);
    const Output text = Run("pdftotext -layout " + Quote(pdf) + " -");
    EXPECT_EQ(text.status, 0) << "pdftotext (poppler-utils) is needed: " << text.out;
    const Output pdfinfo = Run("pdfinfo " + Quote(pdf));
    EXPECT_EQ(pdfinfo.status, 0) << pdfinfo.out;
    r.layout = text.out;
    r.info = pdfinfo.out;
    r.bytes = dir.Read("batch.pdf");
    std::smatch pages;
    if (std::regex_search(r.info, pages, std::regex(R"(Pages:\s+(\d+))")))
        r.pageCount = std::stoi(pages[1]);
    std::stringstream split(r.layout);
    for (std::string page; std::getline(split, page, '\f');)
        r.pages.push_back(page);
    return r;
}

// The table of every file, as (file name, verdict) in the order drawn.
std::vector<std::pair<std::string, std::string>> TableRows(const std::string& layout)
{
    std::vector<std::pair<std::string, std::string>> rows;
    const std::regex row(R"(^\s*(/\S+)\s+(PASS|FAIL|ERROR)\b)");
    std::stringstream lines(layout);
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (std::regex_search(line, m, row))
            rows.emplace_back(FileName(m[1]), m[2]);
    }
    return rows;
}

TEST(BatchReport, MixedBatchReadsBack)
{
    const tarvo::test::TempDir dir;
    const BatchReportInfo info = MixedBatch();
    const Read r = WriteAndRead(info, dir);

    // The counts, as the rows give them.
    int pass = 0, fail = 0, error = 0;
    for (const BatchReportRow& row : info.rows)
        ++(row.verdict == Verdict::Pass ? pass : row.verdict == Verdict::Fail ? fail : error);
    ASSERT_GT(pass, 0);
    ASSERT_GT(fail, 0);
    ASSERT_GT(error, 0);
    const std::string tally =
        std::to_string(pass) + " pass, " + std::to_string(fail) + " fail, " + std::to_string(error) + " error";
    const std::string counts = "70 files: " + tally;
    for (const std::string& text :
         {counts, std::string("Wow and flutter batch report"), std::string("Nominal tone: 3150 Hz"),
          std::string("Limits: weighted 0.05 %, speed +-0.5 %"), std::string("limit 0.05 %"),
          std::string("Time taken: 1 min 23 s"), std::string("could not be measured"), std::string("-123.456 %"),
          "Weighted two-sigma over the batch: " + std::to_string(pass + fail) + " files"})
        EXPECT_NE(r.layout.find(text), std::string::npos) << text << "\n" << r.layout;

    // Every file once, FAIL before ERROR before PASS, by path within each.
    std::vector<const BatchReportRow*> expected;
    for (const BatchReportRow& row : info.rows)
        expected.push_back(&row);
    std::sort(expected.begin(), expected.end(), [](const BatchReportRow* a, const BatchReportRow* b) {
        return Rank(a->verdict) != Rank(b->verdict) ? Rank(a->verdict) < Rank(b->verdict) : a->path < b->path;
    });
    const auto rows = TableRows(r.layout);
    ASSERT_EQ(rows.size(), expected.size()) << r.layout;
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].first, FileName(expected[i]->path)) << i;
        EXPECT_EQ(rows[i].second, Word(expected[i]->verdict)) << i;
    }
    // The long path keeps its file's name and is cut short in the middle.
    EXPECT_TRUE(std::regex_search(r.layout, std::regex("/archive/x+\u2026x+/long-take\\.wav"))) << r.layout;
    EXPECT_EQ(r.layout.find(std::string(80, 'x')), std::string::npos);
    // A long reason: three lines, the last cut short.
    EXPECT_EQ(r.layout.find("tail-words"), std::string::npos);
    std::stringstream reason(r.layout);
    int cut = 0;
    for (std::string line; std::getline(reason, line);)
        cut += line.find("wor") != std::string::npos && line.size() >= 3 &&
               line.compare(line.size() - 3, 3, "\u2026") == 0;
    EXPECT_EQ(cut, 1) << r.layout;

    // The ten highest weighted figures, highest first.
    std::vector<const BatchReportRow*> worst;
    for (const BatchReportRow& row : info.rows)
        if (row.weightedTwoSigmaPercent)
            worst.push_back(&row);
    std::sort(worst.begin(), worst.end(), [](const BatchReportRow* a, const BatchReportRow* b) {
        const double wa = *a->weightedTwoSigmaPercent, wb = *b->weightedTwoSigmaPercent;
        return wa != wb ? wa > wb : a->path < b->path;
    });
    ASSERT_EQ(*worst[0]->weightedTwoSigmaPercent, *worst[1]->weightedTwoSigmaPercent);
    // "#  path  weighted  unweighted  speed  verdict"
    const std::regex ranked(
        R"(^\s*(\d+)\s+(/\S+)\s+(\d+\.\d{4}) %\s+(\d+\.\d{4}) %\s+([+-]\d+\.\d{3}) %\s+(PASS|FAIL)\s*$)");
    std::stringstream lines(r.layout);
    int seen = 0;
    for (std::string line; std::getline(lines, line);) {
        std::smatch m;
        if (!std::regex_search(line, m, ranked))
            continue;
        ASSERT_LT(seen, 10) << line;
        const BatchReportRow& w = *worst[static_cast<size_t>(seen)];
        EXPECT_EQ(std::stoi(m[1]), seen + 1);
        EXPECT_EQ(FileName(m[2]), FileName(w.path)) << line;
        EXPECT_NEAR(std::stod(m[3]), *w.weightedTwoSigmaPercent, 5e-5) << line;
        EXPECT_NEAR(std::stod(m[4]), *w.unweightedTwoSigmaPercent, 5e-5) << line;
        EXPECT_NEAR(std::stod(m[5]), *w.speedErrorPercent, 5e-4) << line;
        ++seen;
    }
    EXPECT_EQ(seen, 10) << r.layout;

    // Numbered pages, as many as pdfinfo counts.
    EXPECT_GE(r.pageCount, 2);
    EXPECT_EQ(static_cast<int>(r.pages.size()), r.pageCount);
    for (int k = 1; k <= static_cast<int>(r.pages.size()); ++k)
        EXPECT_NE(r.pages[static_cast<size_t>(k - 1)].find("Page " + std::to_string(k) + " of " +
                                                            std::to_string(r.pageCount)),
                  std::string::npos)
            << k;

    // The operator as the author, the counts as the description (the PDF/A
    // marks are the single report's, checked in test_meter_cli).
    for (const std::string& xmp : {std::string("<rdf:li>Ann Archivist</rdf:li>"), std::string("<xmp:CreatorTool>Tarvo "),
                                   "<rdf:li xml:lang=\"x-default\">batch: 70 files, " + tally + "</rdf:li>"})
        EXPECT_NE(r.bytes.find(xmp), std::string::npos) << xmp;
    EXPECT_TRUE(std::regex_search(r.info, std::regex(R"(Title:\s+Wow and flutter batch report\n)"))) << r.info;
}

// The table's columns follow the limits; the paper is the one asked for;
// an empty batch is one page that says so.
TEST(BatchReport, ColumnsPaperAndEmptyBatch)
{
    struct Case {
        const char* name;
        bool weighted, unweighted;
        std::string paper;
        size_t rows;
        double seconds;
        const char* pageSize;
        std::vector<std::string> texts;
    } const cases[] = {
        {"unweighted limit on Letter", false, true, "Letter", 3, 3600, "letter",
         {"Limits: unweighted 0.1 %", "Time taken: 1 h 00 min 00 s", "3 files: 2 pass, 1 fail, 0 error",
          "Speed error", "+0.210 %", "-0.105 %"}},
        {"both limits", true, true, "A4", 3, 59.96, "A4",
         {"Limits: weighted 0.05 %, unweighted 0.1 %", "Time taken: 1 min 00 s", "3 files: 2 pass, 1 fail, 0 error",
          "limit 0.05 %"}},
        {"no limits", false, false, "A4", 1, 12.34, "A4",
         {"Limits: no limits given", "Time taken: 12.3 s", "1 file: 1 pass, 0 fail, 0 error"}},
        {"empty batch", true, false, "A4", 0, 0, "A4",
         {"0 files: 0 pass, 0 fail, 0 error", "No files.", "No file has a weighted figure.", "Page 1 of 1",
          "Time taken: 0.0 s"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BatchReportInfo info;
        if (c.weighted)
            info.limits.weighted = 0.05;
        if (c.unweighted)
            info.limits.unweighted = 0.1;
        info.paper = c.paper;
        info.seconds = c.seconds;
        const double speeds[] = {0.21, -0.105, 0};
        for (size_t i = 0; i < c.rows; ++i) {
            BatchReportRow row;
            row.path = "/t/f" + std::to_string(i) + ".wav";
            row.weightedTwoSigmaPercent = 0.03 + 0.01 * static_cast<double>(i);
            row.unweightedTwoSigmaPercent = 0.06 + 0.03 * static_cast<double>(i);
            row.speedErrorPercent = speeds[i];
            if (i == 2 && (c.weighted || c.unweighted)) {
                row.verdict = Verdict::Fail;
                row.failed = {"unweighted"};
            }
            info.rows.push_back(row);
        }
        const tarvo::test::TempDir dir;
        const Read r = WriteAndRead(info, dir);
        for (const std::string& t : c.texts)
            EXPECT_NE(r.layout.find(t), std::string::npos) << t << "\n" << r.layout;
        EXPECT_TRUE(std::regex_search(r.info, std::regex(std::string(R"(Page size:\s+.*\()") + c.pageSize + R"(\)\n)")))
            << r.info;
        EXPECT_EQ(r.pageCount, 1);
        EXPECT_EQ(r.layout.find("limit 0.05 %") != std::string::npos, c.weighted && c.rows > 0);
        // The table's header: the limited figures only.
        const std::regex header(R"(Path\s+Verdict\s+(Weighted\s+)?(Unweighted\s+)?Speed error\s+Failed limits)");
        std::smatch m;
        if (c.rows > 0) {
            ASSERT_TRUE(std::regex_search(r.layout, m, header)) << r.layout;
            EXPECT_EQ(m[1].matched, c.weighted);
            EXPECT_EQ(m[2].matched, c.unweighted);
        }
    }
}

// However many settings fill the first page, the table starts where its
// heading, header and first row fit (else on the next page), and settings
// past the room are counted, not drawn into the footer.
TEST(BatchReport, SettingsFillingTheFirstPage)
{
    for (size_t n = 28; n <= 53; ++n) {
        if (n == 53)
            n = 300;
        SCOPED_TRACE(n);
        BatchReportInfo info;
        for (size_t i = 0; i < n; ++i)
            info.settings.push_back("Setting " + std::to_string(i) + ": value");
        for (int i = 0; i < 3; ++i) {
            BatchReportRow row;
            row.path = "/t/f" + std::to_string(i) + ".wav";
            row.weightedTwoSigmaPercent = 0.03;
            info.rows.push_back(row);
        }
        const tarvo::test::TempDir dir;
        const Read r = WriteAndRead(info, dir);  // every word inside the margins, none over another
        EXPECT_EQ(TableRows(r.layout).size(), 3u);
        EXPECT_NE(r.layout.find("3 files: 3 pass, 0 fail, 0 error"), std::string::npos);
        EXPECT_NE(r.layout.find("Every file\n"), std::string::npos);
        EXPECT_NE(r.layout.find("Setting 0: value"), std::string::npos);
        // All shown, or the first ones with the rest counted.
        const bool all = r.layout.find("Setting " + std::to_string(n - 1) + ": value") != std::string::npos;
        const bool counted = std::regex_search(r.layout, std::regex("\u2026 and [0-9]+ more lines? of settings"));
        EXPECT_NE(all, counted);
        if (n == 28 || n == 300) {
            EXPECT_EQ(all, n == 28);
        }
        for (int k = 1; k <= r.pageCount; ++k)
            EXPECT_NE(r.layout.find("Page " + std::to_string(k) + " of " + std::to_string(r.pageCount)),
                      std::string::npos);
    }
}

// Nothing is written where it cannot be, nor over a file of the batch.
TEST(BatchReport, RefusesWhatItCannotWrite)
{
    const tarvo::test::TempDir dir;
    const std::string input = dir.Write("take.wav", std::string("RIFF"));
    const struct Case {
        std::string path;
        std::vector<std::string> inputs;
    } cases[] = {
        {(dir.Path() / "missing" / "batch.pdf").string(), {}},
        {input, {input}},
    };
    for (const Case& c : cases) {
        BatchReportInfo info = MixedBatch();
        info.inputs = c.inputs;
        std::string error;
        const tarvo::QtModule& m = Module();
        ASSERT_NE(m.writeBatchReport, nullptr);
        EXPECT_FALSE(m.writeBatchReport(info, c.path, error)) << c.path;
        EXPECT_EQ(error.rfind("cannot write " + c.path + ": ", 0), 0u) << error;
        EXPECT_GT(error.size(), ("cannot write " + c.path + ": ").size()) << error;
    }
    EXPECT_EQ(dir.Read("take.wav"), "RIFF");
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "missing"));
}

}  // namespace
