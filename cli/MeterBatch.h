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
#include <string>
#include <vector>

namespace tarvo {

struct MeterLimits {
    std::optional<double> weighted, unweighted, speed;  // percent
    bool Any() const { return weighted || unweighted || speed; }
};

struct BatchOptions {
    bool batchSeen = false;  // --jobs, --files-from, --summary-csv or --resume: a batch even for one FILE
    int jobs = 0;            // 0: one a core
    std::optional<std::string> filesFrom;  // "-": standard input
    std::string summaryCsv;
    bool resume = false;
    MeterLimits limits;
};

// Takes the option at args[i] when it is one of the batch's or a limit
// (advancing i over its value); 0 when it is not, 1 when taken, -1 on a
// usage error with the reason in `why`.
int ParseBatchOption(const std::vector<std::string>& args, size_t& i, BatchOptions& opt, std::string& why);

// The usage error the batch options make with the rest of the command
// line, empty when there is none.
std::string CheckBatchUsage(const BatchOptions& opt, const MeterRequest& meter, size_t files, bool formCommands);

enum class Verdict { Pass, Fail, Error };
const char* VerdictName(Verdict v);

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

// The summary's columns.
const std::vector<std::string>& SummaryColumns();

// Runs the meter on every file (and every path of opt.filesFrom); prints
// JSON Lines or one line per file and channel as files finish; answers the
// exit status.
int RunMeterBatch(std::vector<std::string> files, const MeterRequest& meter, const BatchOptions& opt, bool json,
                  std::ostream& out, std::ostream& err);

}  // namespace tarvo
