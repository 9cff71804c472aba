#include "cli/MeterBatch.h"

#include "cli/Cli.h"
#include "cli/CliArgs.h"
#include "framework/InputFile.h"
#include "framework/SafeOutput.h"
#include "framework/Utf8.h"
#include "platform/QtModule.h"
#include "meter/Machines.h"
#include "meter/Record.h"
#include "meter/SoundReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <string_view>
#include <thread>
#include <tuple>
#include <utility>

namespace tarvo {

namespace {

using Json = nlohmann::ordered_json;

constexpr int kMostJobs = 1024;

// A number of the meter object as the summary writes it: as in the JSON,
// empty when the meter gives none.
std::string Cell(const Json& j)
{
    if (j.is_number_integer())
        return j.dump();
    if (!j.is_number())
        return j.is_string() ? j.get<std::string>() : std::string();
    if (!std::isfinite(j.get<double>()))
        return std::string();
    // The JSON's figures carry at most six decimals: written out in full
    // rather than as 8e-06, without trailing zeros.
    std::string t = meter::FixedText(j.get<double>(), 6);
    t.erase(t.find_last_not_of('0') + 1);
    if (t.back() == '.')
        t.pop_back();
    return t;
}

const Json kNone;  // made before any job starts

const Json& Member(const Json& j, const char* key)
{
    return j.is_object() && j.contains(key) ? j[key] : kNone;
}

// A figure of a meter object, none where it is missing or not a number.
std::optional<double> Figure(const Json& v)
{
    if (v.is_number() && std::isfinite(v.get<double>()))
        return v.get<double>();
    return std::nullopt;
}

// The judgement of a channel of a meter object.
meter::Judgement JudgeChannel(const MeterLimits& limits, const Json& ch)
{
    return meter::Judge(limits, Figure(Member(Member(ch, "weighted"), "two_sigma_percent")),
                        Figure(Member(Member(ch, "unweighted"), "two_sigma_percent")),
                        Figure(Member(ch, "speed_error_percent")));
}

// A figure of the meter object as text with its decimals, "-" when there is none.
std::string FigureText(const Json& v, int decimals, bool sign = false)
{
    return v.is_number() && std::isfinite(v.get<double>()) ? meter::FixedText(v.get<double>(), decimals, sign)
                                                            : std::string("-");
}

std::string Joined(const std::vector<std::string>& parts, const char* sep)
{
    std::string s;
    for (const std::string& p : parts)
        s += (s.empty() ? "" : sep) + p;
    return s;
}

std::string MessageText(const MeterOutcome& o)
{
    std::vector<std::string> texts;
    for (const auto& m : o.messages)
        texts.push_back(m.second);
    return Joined(texts, " ");
}

// What one file gave, ready to print and to append to the summary.
struct FileReport {
    bool error = false, fail = false;
    std::string printed;  // the JSON line, or one line a channel
    std::string rows;     // the summary's records
    BatchReportRow row;   // the file in the batch's report
};

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string h;
    for (unsigned char c : bytes) {
        h += digits[c >> 4];
        h += digits[c & 15];
    }
    return h;
}

// Takes a channel into its file's row of the batch's report: the highest
// two-sigma figures, the speed error largest in size, every limit failed.
void AddChannel(BatchReportRow& row, std::optional<double> weighted, std::optional<double> unweighted,
                std::optional<double> speed, const std::vector<std::string>& failed)
{
    auto higher = [](std::optional<double>& worst, std::optional<double> v) {
        if (v && (!worst || *v > *worst))
            worst = v;
    };
    higher(row.weightedTwoSigmaPercent, weighted);
    higher(row.unweightedTwoSigmaPercent, unweighted);
    if (speed && (!row.speedErrorPercent || std::abs(*speed) > std::abs(*row.speedErrorPercent)))
        row.speedErrorPercent = speed;
    for (const std::string& f : failed)
        if (std::find(row.failed.begin(), row.failed.end(), f) == row.failed.end())
            row.failed.push_back(f);
}

// The cells after the figures': the file's record and the run's settings.
struct RowContext {
    std::vector<std::string> settings;  // SummarySettings, in their columns' order
    std::string operatorName;
};

std::vector<std::string> RecordCells(const Json& record, const RowContext& c)
{
    const std::vector<std::string>& s = c.settings;
    return {Cell(Member(record, "sha256")), Cell(Member(record, "format")), Cell(Member(record, "sample_rate")),
            Cell(Member(record, "bits")), Cell(Member(record, "channels")), s[0], s[1], s[2], s[3], s[4],
            c.operatorName, s[5],
            record.is_null() ? meter::NowIso8601() : Cell(Member(record, "measured_at")), meter::ProgramVersion()};
}

FileReport Report(const std::string& path, MeterOutcome& o, const MeterLimits& limits, const RowContext& context,
                  bool json)
{
    FileReport r;
    const std::vector<std::string> recordCells = RecordCells(o.record, context);
    Json line;
    // A path that is not UTF-8 is "file" with U+FFFD in place of its odd
    // bytes, so that the line stays JSON any reader takes, and its bytes
    // whole in "file_hex".
    line["file"] = path;
    if (!IsUtf8(path))
        line["file_hex"] = Hex(path);
    if (!o.record.is_null())
        line["record"] = o.record;
    r.row.path = path;
    if (!o.ok) {
        r.error = true;
        r.row.verdict = Verdict::Error;
        r.row.message = MessageText(o);
        line["messages"] = Json::array();
        for (const auto& [caption, text] : o.messages)
            line["messages"].push_back({{"caption", caption}, {"text", text}});
        std::vector<std::string> row(SummaryColumn("message") + 1);
        row.front() = path;
        row[SummaryColumn("verdict")] = VerdictName(Verdict::Error);
        row.back() = MessageText(o);
        const std::string message = row.back();
        row.insert(row.end(), recordCells.begin(), recordCells.end());
        r.rows = CsvRecord(row);
        r.printed = json ? line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"
                         : path + "\t-\terror: " + message + "\n";
        return r;
    }
    if (limits.Any()) {
        const Verdict v = ApplyLimits(limits, o.json);
        r.fail = v == Verdict::Fail;
        r.error = v == Verdict::Error;
    }
    line["meter"] = o.json;
    if (!o.messages.empty()) {
        line["messages"] = Json::array();
        for (const auto& [caption, text] : o.messages)
            line["messages"].push_back({{"caption", caption}, {"text", text}});
    }
    const std::string message = MessageText(o);
    r.row.verdict = r.error ? Verdict::Error : r.fail ? Verdict::Fail : Verdict::Pass;
    r.row.message = message;
    for (const Json& ch : o.json["channels"]) {
        const meter::Judgement judged = JudgeChannel(limits, ch);
        AddChannel(r.row, Figure(Member(Member(ch, "weighted"), "two_sigma_percent")),
                   Figure(Member(Member(ch, "unweighted"), "two_sigma_percent")),
                   Figure(Member(ch, "speed_error_percent")), judged.failed);
        const char* verdict = VerdictName(judged.verdict);
        const Json& lines = Member(ch, "modulation");
        const Json& strongest = lines.is_array() && !lines.empty() ? lines[0] : kNone;
        const Json& weighted = Member(ch, "weighted");
        const Json& unweighted = Member(ch, "unweighted");
        std::vector<std::string> row = {path, Cell(Member(ch, "channel")), Cell(Member(ch, "seconds")),
                             Cell(Member(ch, "carrier_hz")), Cell(Member(ch, "speed_error_percent")),
                             Cell(Member(weighted, "two_sigma_percent")), Cell(Member(weighted, "rms_percent")),
                             Cell(Member(unweighted, "two_sigma_percent")), Cell(Member(unweighted, "rms_percent")),
                             Cell(Member(ch, "wow_rms_percent")), Cell(Member(ch, "flutter_rms_percent")),
                             Cell(Member(ch, "drift_percent")), Cell(Member(strongest, "hz")),
                             Cell(Member(strongest, "percent")), Cell(Member(strongest, "label")),
                             Cell(Member(ch, "snr_db")), verdict, Joined(judged.failed, " "), message};
        row.insert(row.end(), recordCells.begin(), recordCells.end());
        r.rows += CsvRecord(row);
        if (!json) {
            // Any figure may be missing (a speed log has no carrier).
            auto pct = [](const Json& v) {
                const std::string t = FigureText(v, 4);
                return t == "-" ? t : t + " %";
            };
            const Json& carrier = Member(ch, "carrier_hz");
            const std::string speed = FigureText(Member(ch, "speed_error_percent"), 4, true);
            r.printed += path + "\tchannel " + Cell(Member(ch, "channel")) + "\tcarrier " +
                         (carrier.is_number() ? FigureText(carrier, 3) + " Hz" : std::string("-")) + "\tspeed " +
                         (speed == "-" ? speed : speed + " %") + "\tweighted " +
                         pct(Member(Member(ch, "weighted"), "two_sigma_percent")) + "\twow " +
                         pct(Member(ch, "wow_rms_percent")) + "\tflutter " + pct(Member(ch, "flutter_rms_percent")) +
                         "\t" + verdict + (judged.failed.empty() ? "" : " (" + Joined(judged.failed, ", ") + ")") + "\n";
        }
    }
    if (json)
        r.printed = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    return r;
}

// The progress line on a terminal: files done of total, rate, time left.
class Progress {
public:
    Progress(std::ostream& err, size_t total)
        : err_(err), total_(total), on_(total > 0 && &err == &std::cerr && ::isatty(STDERR_FILENO)),
          start_(std::chrono::steady_clock::now())
    {
    }
    void Clear()
    {
        if (on_ && drawn_)
            err_ << "\r\033[K" << std::flush;
    }
    void Draw(size_t done)
    {
        if (!on_)
            return;
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const double rate = seconds > 0 ? static_cast<double>(done) / seconds : 0;
        constexpr size_t kWidth = 24;
        const size_t filled = done * kWidth / total_;
        std::string bar = "[" + std::string(filled, '#') + std::string(kWidth - filled, '.') + "] ";
        bar += std::to_string(done) + "/" + std::to_string(total_) + " files";
        if (rate > 0) {
            const long left = std::lround(static_cast<double>(total_ - done) / rate);
            char buf[64];
            std::snprintf(buf, sizeof buf, "  %.1f files/s  %ld:%02ld:%02ld left", rate, left / 3600, left / 60 % 60,
                          left % 60);
            bar += buf;
        }
        err_ << "\r\033[K" << bar << std::flush;
        drawn_ = true;
    }
    void End()
    {
        if (on_ && drawn_)
            err_ << "\n";
    }

private:
    std::ostream& err_;
    size_t total_;
    bool on_, drawn_ = false;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace

int ParseBatchOption(const std::vector<std::string>& args, size_t& i, BatchOptions& opt, std::string& why)
{
    const std::string& a = args[i];
    if (a == "--resume") {
        opt.resume = opt.batchSeen = true;
        return 1;
    }
    if (a == "--ordered") {
        opt.ordered = opt.batchSeen = true;
        return 1;
    }
    if (a != "--jobs" && a != "--files-from" && a != "--summary-csv" && a != "--limit-weighted" &&
        a != "--limit-unweighted" && a != "--limit-speed" && a != "--report-dir" && a != "--batch-report")
        return 0;
    std::string v;
    if (!TakeOptionValue(args, i, v)) {
        why = a + " needs a value";
        return -1;
    }
    double n = 0;
    if (a == "--jobs") {
        if (!ParseNumber(v, n) || n < 1 || n > kMostJobs || n != std::floor(n)) {
            why = "--jobs takes a number of files at a time from 1 to 1024, not \"" + v + "\"";
            return -1;
        }
        opt.jobs = static_cast<int>(n);
        opt.batchSeen = true;
    } else if (a == "--files-from") {
        opt.filesFrom = v;
        opt.batchSeen = true;
    } else if (a == "--summary-csv") {
        opt.summaryCsv = v;
        opt.batchSeen = true;
    } else if (a == "--report-dir" || a == "--batch-report") {
        if (v.empty()) {
            why = a + " needs a " + (a == "--report-dir" ? "folder" : "file name");
            return -1;
        }
        (a == "--report-dir" ? opt.reportDir : opt.batchReport) = v;
        opt.batchSeen = true;
    } else {
        if (!ParseNumber(v, n) || n < 0) {
            why = a + " takes a percentage from 0, not \"" + v + "\"";
            return -1;
        }
        (a == "--limit-weighted" ? opt.limits.weighted : a == "--limit-unweighted" ? opt.limits.unweighted
                                                                                   : opt.limits.speed) = n;
    }
    return 1;
}

std::string CheckBatchUsage(const BatchOptions& opt, const MeterRequest& meter, size_t files, bool formCommands)
{
    const bool batch = opt.batchSeen || files > 1;
    if (!meter.on && (opt.batchSeen || opt.limits.Any()))
        return "--jobs, --files-from, --summary-csv, --resume, --ordered, --report-dir, --batch-report and the "
               "--limit options go with --meter";
    if (!meter.on && files > 1)
        return "only one FILE may be given without --meter";
    if (batch && formCommands)
        return "the form's commands take one FILE, not a batch";
    if (batch && !meter.report.empty())
        return "--meter-report writes the report of one FILE; a batch writes one a file with --report-dir DIR "
               "(and its own with --batch-report OUT.pdf)";
    if (batch && (!meter.csv.empty() || !meter.png.empty()))
        return "--meter-csv and --meter-png take one FILE, not a batch";
    if (opt.batchSeen && files == 0 && !opt.filesFrom)
        return "--meter needs a FILE, several, or --files-from LIST";
    if (opt.resume && opt.summaryCsv.empty())
        return "--resume goes with --summary-csv";
    if (opt.limits.speed && !(meter.settings.nominalHz > 0))
        return "--limit-speed needs --nominal: the speed error is measured against the nominal tone";
    return {};
}

Verdict ApplyLimits(const MeterLimits& limits, nlohmann::ordered_json& meter)
{
    Verdict file = Verdict::Pass;
    for (Json& ch : meter["channels"]) {
        const meter::Judgement j = JudgeChannel(limits, ch);
        const Verdict v = j.verdict;
        ch["verdict"] = VerdictName(v);
        ch["failed_limits"] = j.failed;
        if (v == Verdict::Error || (v == Verdict::Fail && file == Verdict::Pass))
            file = v;
    }
    return file;
}

std::string FailedLimitsText(const nlohmann::ordered_json& channel)
{
    std::vector<std::string> names;
    for (const Json& n : Member(channel, "failed_limits"))
        names.push_back(n.get<std::string>());
    return Joined(names, ", ");
}

int BatchStatus(bool anyError, bool anyFail) { return anyError ? kExitMessage : anyFail ? kExitLimit : kExitOk; }

std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string q = "\"";
    for (char c : text)
        q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string CsvRecord(const std::vector<std::string>& fields)
{
    std::string r;
    for (size_t i = 0; i < fields.size(); ++i)
        r += (i ? "," : "") + CsvField(fields[i]);
    return r + "\r\n";
}

std::vector<std::vector<std::string>> ParseCsv(const std::string& text, size_t& complete)
{
    std::vector<std::vector<std::string>> records;
    std::vector<std::string> record;
    std::string field;
    bool quoted = false;
    complete = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c != '"')
                field += c;
            else if (i + 1 < text.size() && text[i + 1] == '"')
                field += text[++i];
            else
                quoted = false;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            record.push_back(std::move(field));
            field.clear();
        } else if (c == '\n' || (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            i += c == '\r';
            record.push_back(std::move(field));
            field.clear();
            records.push_back(std::move(record));
            record.clear();
            complete = i + 1;
        } else {
            field += c;
        }
    }
    return records;
}

const std::vector<std::string>& SummaryColumns()
{
    static const std::vector<std::string> columns = {
        "path", "channel", "seconds", "carrier_hz", "speed_error_percent", "weighted_two_sigma_percent",
        "weighted_rms_percent", "unweighted_two_sigma_percent", "unweighted_rms_percent", "wow_rms_percent",
        "flutter_rms_percent", "drift_percent", "strongest_line_hz", "strongest_line_percent",
        "strongest_line_label", "snr_db", "verdict", "failed_limits", "message",
        // What was measured, with which settings, when and by what: the
        // record an archive files with the figures.
        "sha256", "format", "sample_rate", "bits", "channels", "nominal_hz", "limit_weighted", "limit_unweighted",
        "limit_speed", "transport", "operator", "deck", "measured_at", "program_version"};
    return columns;
}

size_t SummaryColumn(const std::string& name)
{
    const std::vector<std::string>& c = SummaryColumns();
    return static_cast<size_t>(std::find(c.begin(), c.end(), name) - c.begin());
}

const std::vector<std::string>& SummarySettingColumns()
{
    static const std::vector<std::string> columns = {"nominal_hz", "limit_weighted", "limit_unweighted",
                                                     "limit_speed", "transport", "deck"};
    return columns;
}

std::vector<std::string> SummarySettings(const MeterRequest& meter, const MeterLimits& limits)
{
    auto number = [](std::optional<double> v) { return v ? Cell(Json(*v)) : std::string(); };
    return {meter.settings.nominalHz > 0 ? number(meter.settings.nominalHz) : std::string(),
            number(limits.weighted),
            number(limits.unweighted),
            number(limits.speed),
            meter::TransportLine(meter.settings.transport),
            meter.deck};
}

namespace {

// What names one file, whatever the spelling: device and inode, or the path
// itself for a file that is not there.
struct FileKey {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    std::string path;
    bool operator<(const FileKey& o) const
    {
        if (exists != o.exists)
            return exists < o.exists;
        return exists ? std::tie(dev, ino) < std::tie(o.dev, o.ino) : path < o.path;
    }
};

FileKey KeyOf(const std::string& path)
{
    FileKey k;
    struct stat st {};
    k.exists = ::stat(path.c_str(), &st) == 0;
    if (k.exists) {
        k.dev = st.st_dev;
        k.ino = st.st_ino;
    } else {
        k.path = path;
    }
    return k;
}

}  // namespace

bool FileList::Feed(std::string_view piece)
{
    for (char c : piece) {
        if (c == '\0' && !nul_) {
            // A list of names each ended by NUL (find -print0): what was
            // taken for lines was the start of one name.
            nul_ = true;
            std::string joined;
            for (const std::string& f : files)
                joined += f + "\n";
            files.clear();
            line_ = joined + line_;
        }
        if (c == (nul_ ? '\0' : '\n')) {
            End();
            continue;
        }
        if (line_.size() >= kLongestName) {
            error = "a name in the list is longer than " + std::to_string(kLongestName) + " bytes";
            return false;
        }
        line_ += c;
    }
    return true;
}

void FileList::End()
{
    std::string name = std::move(line_);
    line_.clear();
    // A line end of CR LF, unless the CR is the name's own (a file of that
    // name is there and none without it).
    if (!nul_ && !name.empty() && name.back() == '\r') {
        struct stat st {};
        const std::string bare = name.substr(0, name.size() - 1);
        if (!(::lstat(name.c_str(), &st) == 0 && ::lstat(bare.c_str(), &st) != 0))
            name = bare;
    }
    if (!name.empty())
        files.push_back(std::move(name));
}

bool FileList::Finish()
{
    if (!line_.empty())
        End();
    return error.empty();
}

bool SummaryParser::Feed(std::string_view piece)
{
    for (char c : piece) {
        if (!error.empty())
            return false;
        ++offset_;
        switch (state_) {
        case State::FieldStart:
            if (c == '"') {
                state_ = State::Quoted;
                continue;
            }
            state_ = State::Unquoted;
            [[fallthrough]];
        case State::Unquoted:
            if (c == '"')
                return Refuse("a quote inside a field that does not start with one");
            if (c == ',' || c == '\r' || c == '\n')
                break;
            if (!Take(c))
                return false;
            continue;
        case State::Quoted:
            // A line end of the summary's own inside a quoted field: a row
            // left open by a stray quote, if the text ends before it closes.
            partialHasLineEnd_ = partialHasLineEnd_ || (c == '\n' && field_.ends_with('\r'));
            if (c == '"')
                state_ = State::QuoteInQuoted;
            else if (!Take(c))
                return false;
            continue;
        case State::QuoteInQuoted:
            if (c == '"') {
                state_ = State::Quoted;
                if (!Take(c))
                    return false;
                continue;
            }
            if (c != ',' && c != '\r' && c != '\n')
                return Refuse("a quoted field goes on after its closing quote");
            break;
        case State::AfterCr:
            if (c != '\n')
                return Refuse("a line ends in CR without LF");
            EndRecord();
            continue;
        }
        // c ends a field: a comma, or the CR or LF of a line end.
        record_.push_back(std::move(field_));
        field_.clear();
        if (record_.size() > SummaryColumns().size())
            return Refuse("a row has more columns than the summary's");
        if (c == ',') {
            state_ = State::FieldStart;
        } else if (c == '\r') {
            state_ = State::AfterCr;
        } else {
            EndRecord();
        }
    }
    return error.empty();
}

bool SummaryParser::Take(char c)
{
    if (field_.size() >= kLongestField)
        return Refuse("a field is longer than " + std::to_string(kLongestField) + " bytes");
    field_ += c;
    return true;
}

bool SummaryParser::Refuse(const std::string& why)
{
    if (error.empty())
        error = "row " + std::to_string(rows_ + 1) + ": " + why;
    return false;
}

void SummaryParser::EndRecord()
{
    state_ = State::FieldStart;
    partialHasLineEnd_ = false;
    std::vector<std::string> record = std::move(record_);
    record_.clear();
    if (rows_ == 0) {
        if (record != SummaryColumns()) {
            const bool older = record.size() < SummaryColumns().size() &&
                               std::equal(record.begin(), record.end(), SummaryColumns().begin());
            Refuse(older ? "it has the columns of an earlier version, without the record's"
                         : "its first row is not the summary's columns");
            return;
        }
    } else {
        static const size_t verdict = SummaryColumn("verdict");
        if (record.size() != SummaryColumns().size()) {
            Refuse("it has " + std::to_string(record.size()) + " columns, not " +
                   std::to_string(SummaryColumns().size()));
            return;
        }
        const std::string& v = record[verdict];
        const bool isError = v == VerdictName(Verdict::Error), isFail = v == VerdictName(Verdict::Fail);
        if (record.front().empty() || !(isError || isFail || v == VerdictName(Verdict::Pass))) {
            Refuse("it has no path or no verdict");
            return;
        }
        std::vector<std::string> settings;
        for (const std::string& column : SummarySettingColumns())
            settings.push_back(record[SummaryColumn(column)]);
        if (rows_ == 1)
            summary.settings = std::move(settings);
        else if (settings != summary.settings)
            summary.mixedSettings = true;
        if (record.front() != summary.lastPath) {
            summary.files.emplace_back();
            summary.files.back().path = record.front();
            summary.lastPath = record.front();
            summary.lastStart = summary.keep;
            summary.lastChannels.clear();
            summary.lastError = false;
        }
        double channel = 0;
        if (isError)
            summary.lastError = true;
        else if (ParseNumber(record[1], channel) && channel >= 1 && channel <= 1024)
            summary.lastChannels.push_back(static_cast<int>(channel));
        // The file's worst figures, as a run gives its report.
        BatchReportRow& row = summary.files.back();
        row.verdict = isError || row.verdict == Verdict::Error ? Verdict::Error
                      : isFail || row.verdict == Verdict::Fail ? Verdict::Fail
                                                               : Verdict::Pass;
        auto figure = [&](const char* column) -> std::optional<double> {
            double v = 0;
            const std::string& cell = record[SummaryColumn(column)];
            return !cell.empty() && ParseNumber(cell, v) && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
        };
        std::istringstream names(record[SummaryColumn("failed_limits")]);
        const std::vector<std::string> failed{std::istream_iterator<std::string>(names),
                                              std::istream_iterator<std::string>()};
        AddChannel(row, figure("weighted_two_sigma_percent"), figure("unweighted_two_sigma_percent"),
                   figure("speed_error_percent"), failed);
        if (row.message.empty())
            row.message = record[SummaryColumn("message")];
        summary.done.insert(record.front());
        summary.anyError = summary.anyError || isError;
        summary.anyFail = summary.anyFail || isFail;
    }
    ++rows_;
    summary.keep = offset_;
    summary.empty = false;
}

bool SummaryParser::Finish()
{
    if (!error.empty())
        return false;
    const bool cut = state_ != State::FieldStart || !record_.empty();
    if (cut && rows_ == 0)
        return Refuse("it holds no whole line");
    // A record cut off by a killed run is one record: its tail holds no line
    // end of the summary's own, and the rows before it stand.
    if (cut && partialHasLineEnd_)
        return Refuse("it ends in a row that does not parse");
    return true;
}

bool ChannelsComplete(const std::string& path, const meter::MeterSettings& settings, std::vector<int> channels)
{
    std::vector<int> expected = settings.channels;
    if (expected.empty()) {
        meter::SoundReader reader;
        // A speed log has its one channel; a file gone since is left as the
        // summary has it.
        const int count = reader.Open(path) ? reader.Channels() : 1;
        if (reader.Unopenable())
            return true;
        for (int c = 1; c <= count; ++c)
            expected.push_back(c);
    }
    std::sort(channels.begin(), channels.end());
    std::sort(expected.begin(), expected.end());
    return channels == expected;
}

std::vector<std::string> ReportNames(const std::vector<std::string>& files, const std::string& dir)
{
    std::vector<std::string> names;
    std::map<std::string, int> taken;  // a stem and the times it is taken
    std::set<std::string> used;
    for (const std::string& f : files) {
        std::string stem = std::filesystem::path(f).stem().string();
        if (stem.empty() || stem == "." || stem == "..")
            stem = "report";
        std::string name = stem + ".pdf";
        // "take (2).pdf", unless a file's own stem took that name already.
        for (int& n = taken[stem]; used.count(name);)
            name = stem + " (" + std::to_string(++n + 1) + ").pdf";
        used.insert(name);
        names.push_back((std::filesystem::path(dir) / name).string());
    }
    return names;
}

namespace {

// The batch's settings as its report gives them, a line each.
std::vector<std::string> BatchSettingsLines(const MeterRequest& meter, const std::string& started)
{
    const meter::MeterSettings& s = meter.settings;
    std::vector<std::string> lines = {std::string("Standard: ") + meter::kStandardName};
    lines.push_back("Nominal tone: " + (s.nominalHz > 0 ? Cell(Json(s.nominalHz)) + " Hz"
                                                         : std::string("none given (no speed error)")));
    lines.push_back("Carrier: " + (s.carrierHz > 0 ? Cell(Json(s.carrierHz)) + " Hz, given"
                                                    : std::string("the strongest tone of each file")));
    std::string channels;
    for (int c : s.channels)
        channels += (channels.empty() ? "" : ", ") + std::to_string(c);
    lines.push_back("Channels: " + (channels.empty() ? std::string("all") : channels));
    if (s.Stretch())
        lines.push_back("Stretch: " + meter::FixedText(s.fromSeconds, 3) + " s to " +
                        (s.toSeconds > 0 ? meter::FixedText(s.toSeconds, 3) + " s" : std::string("the end")));
    lines.push_back("Transport: " + meter::TransportLine(s.transport) +
                    (meter.deck.empty() ? std::string()
                                        : " (machine " + meter.deck +
                                              (meter.deckDescription.empty() ? "" : ": " + meter.deckDescription) + ")"));
    lines.push_back("Operator: " + (meter.operatorName.empty() ? std::string("not given") : meter.operatorName));
    lines.push_back("Started " + started + " by " + meter::kProgramName + " " + meter::ProgramVersion());
    return lines;
}

// A report to write on the starting thread (Qt draws there only).
struct ReportJob {
    std::shared_ptr<const meter::MeterResult> result;
    MeterReportInfo info;
    std::string target;
};

}  // namespace

bool ParseSummary(std::string_view text, PreviousSummary& summary, std::string& why)
{
    SummaryParser p;
    const bool ok = p.Feed(text) && p.Finish();
    summary = p.summary;
    why = p.error;
    return ok;
}

int RunMeterBatch(std::vector<std::string> files, const MeterRequest& meter, const BatchOptions& opt, bool json,
                  std::ostream& out, std::ostream& err)
{
    // The run's inputs, which no output may be, by what they name: the
    // files, the list, and standard input when the list comes through it.
    std::set<FileKey> inputs;
    if (opt.filesFrom) {
        const bool standardInput = *opt.filesFrom == "-";
        std::string why;
        const int fd = standardInput ? STDIN_FILENO : OpenInputFile(*opt.filesFrom, InputKind::RegularOrPipe, &why);
        FileList list;
        const bool read = fd >= 0 && ReadPieces(fd, [&](std::string_view piece) { return list.Feed(piece); }, why) &&
                          list.Finish();
        if (fd >= 0 && !standardInput)
            ::close(fd);
        if (!read) {
            err << "tarvo-cli: cannot read the list " << *opt.filesFrom << ": "
                << (list.error.empty() ? why : list.error) << "\n";
            return kExitMessage;
        }
        files.insert(files.end(), list.files.begin(), list.files.end());
        inputs.insert(KeyOf(standardInput ? std::string(kStandardInput) : *opt.filesFrom));
    }
    // Each file once, in the order first given, however it is spelt.
    std::vector<FileKey> keys;
    {
        std::set<FileKey> seen;
        std::vector<std::string> once;
        for (std::string& f : files) {
            FileKey k = KeyOf(f);
            if (seen.insert(k).second) {
                once.push_back(std::move(f));
                keys.push_back(std::move(k));
            }
        }
        files = std::move(once);
        inputs.insert(seen.begin(), seen.end());
    }

    // The reports' targets, refused here before any file is measured.
    const std::vector<std::string> reportTargets =
        opt.reportDir.empty() ? std::vector<std::string>() : ReportNames(files, opt.reportDir);
    if (!opt.reportDir.empty()) {
        struct stat st {};
        const bool there = ::stat(opt.reportDir.c_str(), &st) == 0;
        if (!there || !S_ISDIR(st.st_mode)) {
            err << "tarvo-cli: cannot write reports in " << opt.reportDir << ": "
                << (there ? "it is not a folder" : std::strerror(errno)) << "\n";
            return kExitMessage;
        }
        for (const std::string& target : reportTargets)
            if (inputs.count(KeyOf(target))) {
                err << "tarvo-cli: the report " << target << " would be one of the inputs; it is not written over\n";
                return kExitUsage;
            }
    }
    if (!opt.batchReport.empty() && inputs.count(KeyOf(opt.batchReport))) {
        err << "tarvo-cli: the batch's report " << opt.batchReport << " is one of the inputs; it is not written over\n";
        return kExitUsage;
    }

    bool anyError = false, anyFail = false;
    std::vector<BatchReportRow> resumedRows;  // the files of a summary resumed
    SafeOutputFile summary;
    bool summaryOpen = false, published = false;
    std::set<FileKey> done;
    if (!opt.summaryCsv.empty()) {
        const std::string& path = opt.summaryCsv;
        // Refused here, before any file is measured; the writer need not
        // compare it with every input again.
        if (inputs.count(KeyOf(path))) {
            err << "tarvo-cli: the summary " << path << " is one of the inputs; it is not written over\n";
            return kExitUsage;
        }
        PreviousSummary previous;
        struct stat st {};
        if (opt.resume && ::stat(path.c_str(), &st) == 0) {
            std::string why;
            const int fd = OpenInputFile(path, InputKind::Regular, &why);
            SummaryParser parser;
            const bool parsed = fd >= 0 &&
                                ReadPieces(fd, [&](std::string_view piece) { return parser.Feed(piece); }, why) &&
                                parser.Finish();
            if (fd >= 0)
                ::close(fd);
            if (!parsed) {
                err << "tarvo-cli: cannot resume " << path << ": "
                    << (parser.error.empty() ? why : "it is not a summary of the meter's batch (" + parser.error + ")")
                    << "; it is left as it is\n";
                return kExitMessage;
            }
            previous = parser.summary;
            // One summary, one set of settings: figures measured against
            // another nominal, other limits or another transport are not
            // added to it.
            const std::vector<std::string> settings = SummarySettings(meter, opt.limits);
            if (!previous.empty && !previous.settings.empty() &&
                (previous.mixedSettings || previous.settings != settings)) {
                std::string differ;
                for (size_t c = 0; c < settings.size(); ++c)
                    if (previous.mixedSettings || previous.settings[c] != settings[c])
                        differ += (differ.empty() ? "" : ", ") + SummarySettingColumns()[c] + " " +
                                  (previous.mixedSettings ? std::string("mixed")
                                   : previous.settings[c].empty() ? std::string("none")
                                                                   : "\"" + previous.settings[c] + "\"") +
                                  " (this run: " + (settings[c].empty() ? "none" : "\"" + settings[c] + "\"") + ")";
                err << "tarvo-cli: cannot resume " << path << ": it was measured with other settings (" << differ
                    << "); it is left as it is. Give the options it was made with, or a new --summary-csv\n";
                return kExitUsage;
            }
            // The last file's rows are written together; a summary cut
            // between them has that file measured again, whole.
            if (!previous.lastPath.empty() && !previous.lastError &&
                !ChannelsComplete(previous.lastPath, meter.settings, previous.lastChannels)) {
                previous.done.erase(previous.lastPath);
                previous.files.pop_back();
                previous.keep = previous.lastStart;
            }
            for (const std::string& p : previous.done)
                done.insert(KeyOf(p));
            anyError = previous.anyError;
            anyFail = previous.anyFail;
            resumedRows = std::move(previous.files);
        }
        // A new summary is written beside the old one, which stays whole
        // until the first file's rows are in; a summary resumed is added to
        // in place, a half-written record taken back.
        summaryOpen = previous.empty ? summary.Open(path) && summary.Write(CsvRecord(SummaryColumns()))
                                     : summary.OpenAppend(path, {}, previous.keep);
        if (!summaryOpen) {
            err << "tarvo-cli: cannot write " << path << ": " << summary.Reason() << "\n";
            return kExitMessage;
        }
        published = !previous.empty;
    }

    const RowContext context{SummarySettings(meter, opt.limits), meter.operatorName};
    std::vector<std::string> todo, reportNames;
    for (size_t i = 0; i < files.size(); ++i)
        if (!done.count(keys[i])) {
            todo.push_back(files[i]);
            if (!reportTargets.empty())
                reportNames.push_back(reportTargets[i]);
        }

    size_t jobs = opt.jobs > 0 ? static_cast<size_t>(opt.jobs) : std::max(1u, std::thread::hardware_concurrency());
    jobs = std::max<size_t>(1, std::min(jobs, todo.size()));

    MeterRequest request = meter;
    request.limits = opt.limits;
    request.keepForReport = !opt.reportDir.empty();
    std::deque<ReportJob> reports;
    std::condition_variable reportReady, reportTaken;
    bool reportsFailed = false;
    // The batch's report covers the files a summary resumed has too.
    std::vector<BatchReportRow> batchRows = std::move(resumedRows);
    const std::string startedAt = meter::NowIso8601();

    std::mutex lock;
    std::atomic<size_t> next{0};
    size_t finished = 0;
    bool summaryFailed = false;
    size_t passed = 0, failed = 0, errors = 0;
    // With --ordered, the reports that wait for those before them.
    std::map<size_t, FileReport> waiting;
    size_t nextOut = 0;
    const auto started = std::chrono::steady_clock::now();
    Progress progress(err, todo.size());
    progress.Draw(0);
    // Prints a report and writes its rows; under the lock.
    auto deliver = [&](const FileReport& r) {
        out << r.printed << std::flush;
        if (summaryOpen && !summaryFailed &&
            !(summary.Write(r.rows) && (published || (published = summary.Publish())))) {
            err << "tarvo-cli: cannot write " << opt.summaryCsv << ": " << summary.Reason() << "\n";
            summaryFailed = true;
        }
    };
    auto worker = [&] {
        for (size_t i; (i = next++) < todo.size();) {
            MeterOutcome o;
            struct stat st {};
            try {
                // Only regular files: a FIFO or a device would hold its job for
                // ever. A file that is not there is said here, with its reason.
                const std::string name = std::filesystem::path(todo[i]).filename().string();
                if (::stat(todo[i].c_str(), &st) != 0)
                    o.messages.emplace_back(kMeterCaption,
                                            "The meter cannot read " + name + ": " + std::strerror(errno) + ".");
                else if (!S_ISREG(st.st_mode))
                    o.messages.emplace_back(kMeterCaption,
                                            "The meter reads only regular files; " + name + " is not one.");
                else
                    o = RunMeterCommand(todo[i], request);
            } catch (const std::exception& e) {
                o = MeterOutcome();
                o.messages.emplace_back(kMeterCaption, "The meter could not measure " + todo[i] + ": " + e.what());
            }
            ReportJob job;
            if (request.keepForReport) {
                // A file the meter could not read still gets its record: what, when and why.
                if (!o.result) {
                    auto unread = std::make_shared<meter::MeterResult>();
                    unread->file = std::filesystem::path(todo[i]).filename().string();
                    unread->message = MessageText(o);
                    o.result = unread;
                    o.reportInfo = ReportInfoFor(
                        todo[i], request, meter::Provenance{meter::NowIso8601(), meter.operatorName, meter.deck, meter.deckDescription},
                        nullptr, unread->message);
                }
                job = ReportJob{std::move(o.result), std::move(o.reportInfo), reportNames[i]};
            }
            FileReport r = Report(todo[i], o, opt.limits, context, json);
            std::unique_lock<std::mutex> hold(lock);
            if (request.keepForReport) {
                reportTaken.wait(hold, [&] { return reports.size() < jobs; });
                reports.push_back(std::move(job));
                reportReady.notify_all();
            }
            if (!opt.batchReport.empty())
                batchRows.push_back(r.row);
            anyError = anyError || r.error;
            anyFail = anyFail || r.fail;
            ++(r.error ? errors : r.fail ? failed : passed);
            progress.Clear();
            if (!opt.ordered) {
                deliver(r);
            } else {
                waiting.emplace(i, std::move(r));
                for (auto at = waiting.find(nextOut); at != waiting.end(); at = waiting.find(++nextOut)) {
                    deliver(at->second);
                    waiting.erase(at);
                }
            }
            progress.Draw(++finished);
        }
    };
    std::vector<std::thread> threads;
    if (opt.reportDir.empty()) {
        for (size_t j = 1; j < jobs; ++j)
            threads.emplace_back(worker);
        worker();
    } else {
        // The reports are drawn here, on the starting thread, as the
        // workers hand them over; a worker waits while `jobs` are waiting.
        size_t running = jobs;
        for (size_t j = 0; j < jobs; ++j)
            threads.emplace_back([&] {
                worker();
                const std::lock_guard<std::mutex> hold(lock);
                --running;
                reportReady.notify_all();
            });
        std::string why;
        const QtModule* qt = LoadQtModule(why);
        for (;;) {
            std::unique_lock<std::mutex> hold(lock);
            reportReady.wait(hold, [&] { return !reports.empty() || running == 0; });
            if (reports.empty())
                break;
            ReportJob job = std::move(reports.front());
            reports.pop_front();
            reportTaken.notify_all();
            hold.unlock();
            std::string error = why;
            const bool written = qt && qt->writeMeterReport(*job.result, job.info, job.target, error);
            const std::string file = job.info.file;
            job = ReportJob();  // its tracks freed before the next
            if (!written) {
                hold.lock();
                progress.Clear();
                err << "tarvo-cli: the report of " << file << " was not written: " << error << "\n";
                reportsFailed = true;
            }
        }
    }
    for (std::thread& t : threads)
        t.join();
    progress.End();
    if (summaryOpen && !summary.Commit() && !summaryFailed) {
        err << "tarvo-cli: cannot write " << opt.summaryCsv << ": " << summary.Reason() << "\n";
        summaryFailed = true;
    }
    // The tally of the files this run measured.
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // The batch's own report: the files this run measured and those of the
    // summary it resumed.
    if (!opt.batchReport.empty()) {
        BatchReportInfo info;
        info.settings = BatchSettingsLines(meter, startedAt);
        info.limits = opt.limits;
        info.rows = std::move(batchRows);
        info.seconds = seconds;
        info.paper = meter.paper;
        info.operatorName = meter.operatorName;
        info.inputs = files;
        std::string why;
        const QtModule* qt = LoadQtModule(why);
        if (!(qt && qt->writeBatchReport(info, opt.batchReport, why))) {
            err << "tarvo-cli: the batch's report was not written: " << why << "\n";
            reportsFailed = true;
        }
    }
    const size_t measured = passed + failed + errors;
    err << measured << (measured == 1 ? " file: " : " files: ") << passed << " pass, " << failed << " fail, "
        << errors << " error in " << meter::FixedText(seconds, 1) << " s\n";
    if (json)
        out << Json{{"summary",
                     {{"files", measured}, {"pass", passed}, {"fail", failed}, {"error", errors},
                      {"seconds", std::round(seconds * 1000) / 1000}}}}
                   .dump()
            << "\n"
            << std::flush;
    return BatchStatus(anyError || summaryFailed || reportsFailed, anyFail);
}

}  // namespace tarvo
