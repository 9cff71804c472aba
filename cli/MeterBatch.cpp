#include "cli/MeterBatch.h"

#include "cli/Cli.h"
#include "cli/CliArgs.h"
#include "framework/SafeOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
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

// The limits a channel of a meter object fails, in the order of the options.
std::vector<std::string> Failures(const MeterLimits& limits, const Json& ch)
{
    std::vector<std::string> failed;
    auto over = [](const Json& v, double limit) { return v.is_number() && v.get<double>() > limit; };
    if (limits.weighted && over(Member(Member(ch, "weighted"), "two_sigma_percent"), *limits.weighted))
        failed.push_back("weighted");
    if (limits.unweighted && over(Member(Member(ch, "unweighted"), "two_sigma_percent"), *limits.unweighted))
        failed.push_back("unweighted");
    if (limits.speed) {
        const Json& speed = Member(ch, "speed_error_percent");
        // No speed error beside a nominal: the carrier is too far from it.
        if (!speed.is_number() || std::fabs(speed.get<double>()) > *limits.speed)
            failed.push_back("speed");
    }
    return failed;
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
};

FileReport Report(const std::string& path, MeterOutcome& o, const MeterLimits& limits, bool json)
{
    FileReport r;
    Json line;
    line["file"] = path;
    if (!o.ok) {
        r.error = true;
        line["messages"] = Json::array();
        for (const auto& [caption, text] : o.messages)
            line["messages"].push_back({{"caption", caption}, {"text", text}});
        std::vector<std::string> row(SummaryColumns().size());
        row.front() = path;
        row[row.size() - 3] = VerdictName(Verdict::Error);
        row.back() = MessageText(o);
        r.rows = CsvRecord(row);
        r.printed = json ? line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n"
                         : path + "\t-\terror: " + row.back() + "\n";
        return r;
    }
    if (limits.Any())
        r.fail = ApplyLimits(limits, o.json) == Verdict::Fail;
    line["meter"] = o.json;
    if (!o.messages.empty()) {
        line["messages"] = Json::array();
        for (const auto& [caption, text] : o.messages)
            line["messages"].push_back({{"caption", caption}, {"text", text}});
    }
    const std::string message = MessageText(o);
    for (const Json& ch : o.json["channels"]) {
        const std::vector<std::string> failed = Failures(limits, ch);
        const char* verdict = VerdictName(failed.empty() ? Verdict::Pass : Verdict::Fail);
        const Json& strongest = ch["modulation"].empty() ? Json() : ch["modulation"][0];
        r.rows += CsvRecord({path, Cell(ch["channel"]), Cell(ch["seconds"]), Cell(ch["carrier_hz"]),
                             Cell(Member(ch, "speed_error_percent")), Cell(ch["weighted"]["two_sigma_percent"]),
                             Cell(ch["weighted"]["rms_percent"]), Cell(ch["unweighted"]["two_sigma_percent"]),
                             Cell(ch["unweighted"]["rms_percent"]), Cell(ch["wow_rms_percent"]),
                             Cell(ch["flutter_rms_percent"]), Cell(ch["drift_percent"]), Cell(Member(strongest, "hz")),
                             Cell(Member(strongest, "percent")), Cell(Member(strongest, "label")),
                             Cell(Member(ch, "snr_db")), verdict, Joined(failed, " "), message});
        if (!json) {
            const Json& speed = Member(ch, "speed_error_percent");
            auto pct = [](const Json& v) { return meter::FixedText(v.get<double>(), 4) + " %"; };
            r.printed += path + "\tchannel " + Cell(ch["channel"]) + "\tcarrier " +
                         meter::FixedText(ch["carrier_hz"].get<double>(), 3) + " Hz\tspeed " +
                         (speed.is_number() ? meter::FixedText(speed.get<double>(), 4, true) + " %" : std::string("-")) +
                         "\tweighted " + pct(ch["weighted"]["two_sigma_percent"]) + "\twow " +
                         pct(ch["wow_rms_percent"]) + "\tflutter " + pct(ch["flutter_rms_percent"]) + "\t" + verdict +
                         (failed.empty() ? "" : " (" + Joined(failed, ", ") + ")") + "\n";
        }
    }
    if (json)
        r.printed = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    return r;
}

// Writes all of `text` at the end of the file; false with errno set when it cannot.
bool WriteAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
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
    if (a != "--jobs" && a != "--files-from" && a != "--summary-csv" && a != "--limit-weighted" &&
        a != "--limit-unweighted" && a != "--limit-speed")
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
        return "--jobs, --files-from, --summary-csv, --resume and the --limit options go with --meter";
    if (!meter.on && files > 1)
        return "only one FILE may be given without --meter";
    if (batch && formCommands)
        return "the form's commands take one FILE, not a batch";
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

const char* VerdictName(Verdict v) { return v == Verdict::Pass ? "pass" : v == Verdict::Fail ? "fail" : "error"; }

Verdict ApplyLimits(const MeterLimits& limits, nlohmann::ordered_json& meter)
{
    Verdict file = Verdict::Pass;
    for (Json& ch : meter["channels"]) {
        const std::vector<std::string> failed = Failures(limits, ch);
        ch["verdict"] = VerdictName(failed.empty() ? Verdict::Pass : Verdict::Fail);
        ch["failed_limits"] = failed;
        if (!failed.empty())
            file = Verdict::Fail;
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
        "strongest_line_label", "snr_db", "verdict", "failed_limits", "message"};
    return columns;
}

int RunMeterBatch(std::vector<std::string> files, const MeterRequest& meter, const BatchOptions& opt, bool json,
                  std::ostream& out, std::ostream& err)
{
    struct stat listStat {};
    bool haveListStat = false;
    if (opt.filesFrom) {
        std::ifstream listFile;
        std::istream* list = &std::cin;
        if (*opt.filesFrom != "-") {
            listFile.open(*opt.filesFrom, std::ios::binary);
            if (!listFile || ::stat(opt.filesFrom->c_str(), &listStat) != 0 || !S_ISREG(listStat.st_mode)) {
                err << "tarvo-cli: cannot read the list " << *opt.filesFrom << "\n";
                return kExitMessage;
            }
            haveListStat = true;
            list = &listFile;
        }
        for (std::string line; std::getline(*list, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (!line.empty())
                files.push_back(line);
        }
    }
    // Each file once, in the order first given.
    {
        std::set<std::string> seen;
        files.erase(std::remove_if(files.begin(), files.end(), [&](const std::string& f) { return !seen.insert(f).second; }),
                    files.end());
    }

    bool anyError = false, anyFail = false;
    int summary = -1;
    std::set<std::string> done;
    if (!opt.summaryCsv.empty()) {
        const std::string& path = opt.summaryCsv;
        // The summary is an output: never one of the inputs.
        bool input = haveListStat && IsSameFile(path, *opt.filesFrom);
        for (size_t i = 0; i < files.size() && !input; ++i)
            input = IsSameFile(path, files[i]);
        if (input) {
            err << "tarvo-cli: the summary " << path << " is one of the inputs; it is not written over\n";
            return kExitUsage;
        }
        std::string previous;
        if (opt.resume) {
            std::ifstream f(path, std::ios::binary);
            previous.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
        }
        size_t complete = 0;
        const auto records = ParseCsv(previous, complete);
        if (!records.empty() && records.front() != SummaryColumns()) {
            err << "tarvo-cli: " << path << " is not a summary of the meter's batch (its first row differs)\n";
            return kExitMessage;
        }
        const size_t verdictColumn = SummaryColumns().size() - 3;
        for (size_t i = 1; i < records.size(); ++i) {
            if (records[i].size() != SummaryColumns().size())
                continue;
            done.insert(records[i].front());
            anyError = anyError || records[i][verdictColumn] == VerdictName(Verdict::Error);
            anyFail = anyFail || records[i][verdictColumn] == VerdictName(Verdict::Fail);
        }
        summary = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (opt.resume ? 0 : O_TRUNC), 0644);
        // A record a cut-off run left half-written is dropped; the file is
        // measured again.
        if (summary >= 0 && opt.resume && complete < previous.size() && ::ftruncate(summary, static_cast<off_t>(complete)) != 0) {
            ::close(summary);
            summary = -1;
        }
        if (summary < 0 || (records.empty() && !WriteAll(summary, CsvRecord(SummaryColumns())))) {
            err << "tarvo-cli: cannot write " << path << ": " << std::strerror(errno) << "\n";
            if (summary >= 0)
                ::close(summary);
            return kExitMessage;
        }
    }

    std::vector<std::string> todo;
    for (const std::string& f : files)
        if (!done.count(f))
            todo.push_back(f);

    size_t jobs = opt.jobs > 0 ? static_cast<size_t>(opt.jobs) : std::max(1u, std::thread::hardware_concurrency());
    jobs = std::max<size_t>(1, std::min(jobs, todo.size()));

    std::mutex lock;
    std::atomic<size_t> next{0};
    size_t finished = 0;
    bool summaryFailed = false;
    Progress progress(err, todo.size());
    progress.Draw(0);
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
                    o = RunMeterCommand(todo[i], meter);
            } catch (const std::exception& e) {
                o = MeterOutcome();
                o.messages.emplace_back(kMeterCaption, "The meter could not measure " + todo[i] + ": " + e.what());
            }
            const FileReport r = Report(todo[i], o, opt.limits, json);
            const std::lock_guard<std::mutex> hold(lock);
            anyError = anyError || r.error;
            anyFail = anyFail || r.fail;
            progress.Clear();
            out << r.printed << std::flush;
            if (summary >= 0 && !summaryFailed && !WriteAll(summary, r.rows)) {
                err << "tarvo-cli: cannot write " << opt.summaryCsv << ": " << std::strerror(errno) << "\n";
                summaryFailed = true;
            }
            progress.Draw(++finished);
        }
    };
    std::vector<std::thread> threads;
    for (size_t j = 1; j < jobs; ++j)
        threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads)
        t.join();
    progress.End();
    if (summary >= 0 && ::close(summary) != 0 && !summaryFailed) {
        err << "tarvo-cli: cannot write " << opt.summaryCsv << ": " << std::strerror(errno) << "\n";
        summaryFailed = true;
    }
    return BatchStatus(anyError || summaryFailed, anyFail);
}

}  // namespace tarvo
