// tarvo-cli's meter over many files: --meter [METER OPTIONS] FILE... or
// --files-from LIST, --jobs N at a time in threads of one process, with
// limits that give each file and channel a verdict, a CSV summary written
// as files finish, and --resume to continue a summary a run left.
#pragma once

#include "cli/MeterCli.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <set>
#include "meter/Limits.h"
#include "platform/QtModule.h"

#include <string>
#include <string_view>
#include <vector>

namespace tarvo {

using MeterLimits = meter::Limits;

struct BatchOptions {
    bool batchSeen = false;  // --jobs, --files-from, --summary-csv or --resume: a batch even for one FILE
    int jobs = 0;            // 0: one a core
    std::optional<std::string> filesFrom;  // "-": standard input
    std::string summaryCsv;
    bool resume = false;
    bool ordered = false;  // results in the order of the list, each once those before it are done
    MeterLimits limits;
    std::string reportDir;    // --report-dir DIR: a report per file, written as each is measured
    std::string batchReport;  // --batch-report OUT.pdf: the batch's own report
};

// The names of the reports of files in DIR, in the files' order: each
// file's name with .pdf for its extension, " (2)", " (3)"... after the
// name's stem when files share one.
std::vector<std::string> ReportNames(const std::vector<std::string>& files, const std::string& dir);

// Takes the option at args[i] when it is one of the batch's or a limit
// (advancing i over its value); 0 when it is not, 1 when taken, -1 on a
// usage error with the reason in `why`.
int ParseBatchOption(const std::vector<std::string>& args, size_t& i, BatchOptions& opt, std::string& why);

// The usage error the batch options make with the rest of the command
// line, empty when there is none.
std::string CheckBatchUsage(const BatchOptions& opt, const MeterRequest& meter, size_t files, bool formCommands);

using meter::Verdict;
using meter::VerdictName;

// Gives every channel of a meter object its "verdict" and "failed_limits"
// ("weighted", "unweighted", "speed"); a figure equal to its limit passes,
// a speed error the meter could not give fails a speed limit. The file's
// verdict: Fail when any channel fails.
Verdict ApplyLimits(const MeterLimits& limits, nlohmann::ordered_json& meter);

// A channel's failed limits as text: "weighted, speed".
std::string FailedLimitsText(const nlohmann::ordered_json& channel);

// The exit status of a set of verdicts: 1 when any file could not be
// measured, else 3 when any failed a limit, else 0.
int BatchStatus(bool anyError, bool anyFail);

// RFC 4180: a field with a comma, a quote or a line break is quoted, its
// quotes doubled; records end in CR LF.
std::string CsvField(const std::string& text);
std::string CsvRecord(const std::vector<std::string>& fields);

// The records of CSV text; `complete` is the length of the text up to the
// end of its last whole record (a record cut off has no line end).
std::vector<std::vector<std::string>> ParseCsv(const std::string& text, size_t& complete);

// The summary's columns, and the index of one by its name.
const std::vector<std::string>& SummaryColumns();
size_t SummaryColumn(const std::string& name);

// The columns that give the run's settings, which a summary resumed must
// share with the run, and their cells for a run.
const std::vector<std::string>& SummarySettingColumns();
std::vector<std::string> SummarySettings(const MeterRequest& meter, const MeterLimits& limits);

// The names of a list (--files-from), read piece by piece: one a line (LF
// or CR LF), or each ended by NUL when the list holds one (find -print0).
class FileList {
public:
    static constexpr size_t kLongestName = 16384;
    bool Feed(std::string_view piece);  // false, with error, on a name too long
    bool Finish();
    std::vector<std::string> files;
    std::string error;

private:
    void End();
    std::string line_;
    bool nul_ = false;
};

// What a summary a run left says, for --resume.
struct PreviousSummary {
    bool empty = true;          // no row at all, not even the columns: a new summary
    std::set<std::string> done;  // the paths it has rows of
    bool anyError = false, anyFail = false;
    long long keep = 0;  // the length of its whole rows; a row cut off after them is dropped
    // The last file's rows, which a cut-off run may have left incomplete.
    std::string lastPath;
    long long lastStart = 0;
    std::vector<int> lastChannels;
    bool lastError = false;
    // The settings cells of its first row, and whether a later row has others.
    std::vector<std::string> settings;
    bool mixedSettings = false;
    // Its files as a batch's report lists them, in the order of their rows.
    std::vector<BatchReportRow> files;
};

// Reads a summary strictly as the batch writes it (RFC 4180, its columns,
// a verdict on every row), piece by piece in fixed memory besides the paths
// it keeps. Anything else is refused with the row and the reason, so that a
// summary --resume cannot read is never cut short.
class SummaryParser {
public:
    static constexpr size_t kLongestField = 65536;
    bool Feed(std::string_view piece);
    bool Finish();
    PreviousSummary summary;
    std::string error;

private:
    enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted, AfterCr };
    bool Take(char c);
    bool Refuse(const std::string& why);
    void EndRecord();
    State state_ = State::FieldStart;
    std::string field_;
    std::vector<std::string> record_;
    long long offset_ = 0;
    size_t rows_ = 0;
    bool partialHasLineEnd_ = false;
};

bool ParseSummary(std::string_view text, PreviousSummary& summary, std::string& why);

// Whether the rows of path give every channel the meter measures of it.
bool ChannelsComplete(const std::string& path, const meter::MeterSettings& settings, std::vector<int> channels);

// Runs the meter on every file (and every path of opt.filesFrom); prints
// JSON Lines or one line per file and channel as files finish; answers the
// exit status.
int RunMeterBatch(std::vector<std::string> files, const MeterRequest& meter, const BatchOptions& opt, bool json,
                  std::ostream& out, std::ostream& err);

}  // namespace tarvo
