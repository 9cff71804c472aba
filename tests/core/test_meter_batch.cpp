// tarvo-cli --meter over many files: the summary, exit status, JSON Lines,
// --resume, --files-from, reports, and the GNU parallel recipe.
#include "CliRunner.h"
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "cli/MeterBatch.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <fstream>
#include <sstream>
#include <utility>
#include <thread>

using namespace tarvo::test;
using tarvo::ParseCsv;

namespace {

using Rows = std::vector<std::vector<std::string>>;

Rows CsvRows(const std::string& text)
{
    size_t complete = 0;
    Rows rows = ParseCsv(text, complete);
    EXPECT_EQ(complete, text.size());
    return rows;
}

// The summary's rows by path (each path once), the header checked.
std::map<std::string, std::vector<std::string>> ByPath(const std::string& text)
{
    const Rows rows = CsvRows(text);
    std::map<std::string, std::vector<std::string>> by;
    EXPECT_FALSE(rows.empty());
    if (rows.empty())
        return by;
    EXPECT_EQ(rows.front(), tarvo::SummaryColumns());
    for (size_t i = 1; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].size(), tarvo::SummaryColumns().size());
        EXPECT_TRUE(by.emplace(rows[i].front(), rows[i]).second) << rows[i].front() << " twice";
    }
    return by;
}

size_t Column(const std::string& name)
{
    const auto& c = tarvo::SummaryColumns();
    return static_cast<size_t>(std::find(c.begin(), c.end(), name) - c.begin());
}

class MeterBatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        Tone good, fast, fluttery, silent;
        fast.carrier = 3150 * 1.02;
        fluttery.mods = {{4, 0.003}};
        silent.amplitude = 0;
        const int wav = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        ASSERT_TRUE(WriteTone(Path("good.wav"), wav, 44100, 4, good));
        ASSERT_TRUE(WriteTone(Path("fast.wav"), wav, 44100, 4, fast));
        ASSERT_TRUE(WriteTone(Path("fluttery.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 48000, 4, fluttery));
        ASSERT_TRUE(WriteTone(Path("silent.wav"), wav, 44100, 4, silent));
        ASSERT_TRUE(WriteTone(Path("short.wav"), wav, 44100, 1, good));
        dir.Write("notes.wav", std::string("not a sound, only text\n"));
        ASSERT_EQ(::mkfifo(Path("pipe.wav").c_str(), 0600), 0);
    }
    std::string Path(const std::string& name) const { return (dir.Path() / name).string(); }
    CliResult Run(const std::vector<std::string>& args) { return RunCli(args, dir.Path().string()); }
    CliResult Shell(const std::string& cmd) { return RunShell(cmd, dir.Path().string()); }
    const std::vector<std::string> measured = {"good.wav", "fast.wav", "fluttery.flac"};
    const std::vector<std::string> unmeasured = {"silent.wav", "short.wav", "notes.wav", "pipe.wav", "missing.wav"};
    TempDir dir;
};

TEST(MeterBatchCsv, FieldsAreQuotedAsRfc4180Says)
{
    struct Case {
        std::string text, field;
    };
    for (const Case& c : std::vector<Case>{{"plain.wav", "plain.wav"},
                                           {"", ""},
                                           {"a,b.wav", "\"a,b.wav\""},
                                           {"say \"hi\".wav", "\"say \"\"hi\"\".wav\""},
                                           {"two\nlines", "\"two\nlines\""},
                                           {"cr\r", "\"cr\r\""}})
        EXPECT_EQ(tarvo::CsvField(c.text), c.field) << c.text;

    const std::vector<std::string> awkward = {"a,b", "q\"uote", "line\r\nbreak", "", "x"};
    const std::string text = tarvo::CsvRecord(awkward) + tarvo::CsvRecord({"1", "2"});
    size_t complete = 0;
    EXPECT_EQ(ParseCsv(text, complete), (Rows{awkward, {"1", "2"}}));
    EXPECT_EQ(complete, text.size());
    // A record cut off is not a record: a resumed run keeps the text up to the last whole one.
    for (const std::string& cut : {std::string("good.wav,1,4.0"), std::string("\"open, quote\r\n")}) {
        EXPECT_EQ(ParseCsv(text + cut, complete), (Rows{awkward, {"1", "2"}})) << cut;
        EXPECT_EQ(complete, text.size()) << cut;
    }
}

TEST_F(MeterBatch, EveryFileGetsItsRowVerdictAndMessage)
{
    std::vector<std::string> args = {"--meter", "--nominal", "3150", "--limit-weighted", "0.1", "--limit-speed",
                                     "1", "--summary-csv", "out.csv", "--jobs", "2"};
    args.insert(args.end(), measured.begin(), measured.end());
    args.insert(args.end(), unmeasured.begin(), unmeasured.end());
    CliResult r = Run(args);
    EXPECT_EQ(r.status, 1) << r.err;  // files that could not be measured outweigh a failed limit
    // Nothing on standard error but the tally (the progress line is for a terminal).
    EXPECT_TRUE(std::regex_match(r.err, std::regex(R"(8 files: 1 pass, 2 fail, 5 error in \d+\.\d s\n)"))) << r.err;

    auto rows = ByPath(dir.Read("out.csv"));
    ASSERT_EQ(rows.size(), 8u);
    struct Expect {
        std::string path, verdict, failed, message;
    };
    for (const Expect& e : std::vector<Expect>{
             {"good.wav", "pass", "", ""},
             {"fast.wav", "fail", "speed", ""},
             {"fluttery.flac", "fail", "weighted", ""},
             {"silent.wav", "error", "", "No tone between"},
             {"short.wav", "error", "", "The meter needs at least 2 seconds of sound; short.wav lasts 1.00 s."},
             {"notes.wav", "error", "", "notes.wav"},
             {"pipe.wav", "error", "", "regular file"},
             {"missing.wav", "error", "", "missing.wav"}}) {
        const auto& row = rows[e.path];
        ASSERT_EQ(row.size(), tarvo::SummaryColumns().size()) << e.path;
        EXPECT_EQ(row[Column("verdict")], e.verdict) << e.path;
        EXPECT_EQ(row[Column("failed_limits")], e.failed) << e.path;
        if (e.verdict == "error") {
            EXPECT_NE(row[Column("message")].find(e.message), std::string::npos) << row[Column("message")];
            EXPECT_EQ(row[Column("channel")], "") << e.path;
            EXPECT_EQ(row[Column("carrier_hz")], "") << e.path;
        } else {
            EXPECT_EQ(row[Column("channel")], "1");
            EXPECT_EQ(row[Column("seconds")], "4");
        }
    }
    EXPECT_NEAR(std::stod(rows["fast.wav"][Column("speed_error_percent")]), 2.0, 0.01);
    EXPECT_NEAR(std::stod(rows["fast.wav"][Column("carrier_hz")]), 3213.0, 0.05);
    EXPECT_NEAR(std::stod(rows["fluttery.flac"][Column("weighted_two_sigma_percent")]), 0.3, 0.01);
    EXPECT_NEAR(std::stod(rows["fluttery.flac"][Column("strongest_line_hz")]), 4.0, 0.1);
    EXPECT_LT(std::stod(rows["good.wav"][Column("weighted_two_sigma_percent")]), 0.01);

    // One line per file and channel on standard output.
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 8);
    EXPECT_NE(r.out.find("fluttery.flac\tchannel 1\tcarrier 3150.0"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\tfail (weighted)\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("pipe.wav\t-\terror: "), std::string::npos) << r.out;
}

TEST_F(MeterBatch, ExitStatusSaysPassFailOrError)
{
    struct Case {
        std::vector<std::string> args;
        int status;
    };
    for (const Case& c : std::vector<Case>{
             {{"--meter", "good.wav", "fluttery.flac"}, 0},
             {{"--meter", "--limit-weighted", "0.1", "good.wav", "fast.wav"}, 0},
             {{"--meter", "--limit-weighted", "0.1", "good.wav", "fluttery.flac"}, 3},
             {{"--meter", "--nominal", "3150", "--limit-speed", "1", "good.wav", "fast.wav"}, 3},
             {{"--meter", "--nominal", "3150", "--limit-speed", "2.5", "good.wav", "fast.wav"}, 0},
             {{"--meter", "--limit-weighted", "0.1", "fluttery.flac", "silent.wav"}, 1},
             {{"--meter", "good.wav", "notes.wav"}, 1},
         }) {
        CliResult r = Run(c.args);
        EXPECT_EQ(r.status, c.status) << ::testing::PrintToString(c.args) << r.err;
    }
}

// A figure equal to its limit passes, the next number under it fails (the
// figure taken from the JSON: the rule is about equality).
TEST_F(MeterBatch, AFigureEqualToItsLimitPasses)
{
    Tone slow;
    slow.carrier = 3150 * 0.98;
    ASSERT_TRUE(WriteTone(Path("slow.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 4, slow));
    struct Case {
        std::string file;
        std::vector<std::string> settings;
        std::string limit, failed;
        std::function<double(const nlohmann::ordered_json&)> figure;  // of the channel
    };
    const Case cases[] = {
        {"fluttery.flac", {}, "--limit-weighted", "weighted",
         [](const auto& ch) { return ch.at("weighted").at("two_sigma_percent").template get<double>(); }},
        {"fluttery.flac", {}, "--limit-unweighted", "unweighted",
         [](const auto& ch) { return ch.at("unweighted").at("two_sigma_percent").template get<double>(); }},
        {"fast.wav", {"--nominal", "3150"}, "--limit-speed", "speed",
         [](const auto& ch) { return ch.at("speed_error_percent").template get<double>(); }},
        {"slow.wav", {"--nominal", "3150"}, "--limit-speed", "speed",
         [](const auto& ch) { return -ch.at("speed_error_percent").template get<double>(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file + " " + c.limit);
        std::vector<std::string> args = {"--json", "--meter"};
        args.insert(args.end(), c.settings.begin(), c.settings.end());
        std::vector<std::string> a = args;
        a.push_back(c.file);
        const CliResult plain = Run(a);
        ASSERT_EQ(plain.status, 0) << plain.err;
        const double figure = c.figure(nlohmann::ordered_json::parse(plain.out)["meter"]["channels"][0]);
        ASSERT_GT(figure, 0.1);
        for (const double limit : {figure, std::nextafter(figure, 0.0)}) {
            const std::string text = nlohmann::json(limit).dump();  // the shortest text that reads back as limit
            a = args;
            a.insert(a.end(), {c.limit, text, c.file});
            const CliResult r = Run(a);
            const bool at = limit == figure;
            EXPECT_EQ(r.status, at ? 0 : 3) << text;
            const auto ch = nlohmann::ordered_json::parse(r.out)["meter"]["channels"][0];
            EXPECT_EQ(ch["verdict"], at ? "pass" : "fail") << text;
            EXPECT_EQ(ch["failed_limits"], at ? nlohmann::json::array() : nlohmann::json::array({c.failed})) << text;
        }
    }
}

// No speed error (carrier too far from the nominal) fails any speed limit.
TEST_F(MeterBatch, NoSpeedErrorFailsTheSpeedLimit)
{
    for (const char* nominal : {"2800", "3600"}) {
        SCOPED_TRACE(nominal);
        const CliResult r = Run({"--json", "--meter", "--nominal", nominal, "--limit-speed", "1000", "--summary-csv",
                                 "s.csv", "good.wav"});
        EXPECT_EQ(r.status, 3) << r.err;
        const auto ch = nlohmann::ordered_json::parse(r.out.substr(0, r.out.find('\n')))["meter"]["channels"][0];
        EXPECT_TRUE(ch["speed_error_percent"].is_null());
        EXPECT_EQ(ch["verdict"], "fail");
        EXPECT_EQ(ch["failed_limits"], nlohmann::json::array({"speed"}));
        auto rows = ByPath(dir.Read("s.csv"));
        EXPECT_EQ(rows["good.wav"][Column("verdict")], "fail");
        EXPECT_EQ(rows["good.wav"][Column("failed_limits")], "speed");
        EXPECT_EQ(rows["good.wav"][Column("speed_error_percent")], "");
    }
}

// --resume: rows already in the summary count for the exit status (error over fail).
TEST_F(MeterBatch, ResumedRowsCountForTheExitStatus)
{
    struct Case {
        std::vector<std::string> first, resumed;
        int firstStatus, resumedStatus;
    };
    for (const Case& c : std::vector<Case>{
             {{"fluttery.flac"}, {"fluttery.flac"}, 3, 3},
             {{"silent.wav"}, {"silent.wav", "good.wav"}, 1, 1},
             {{"silent.wav", "fluttery.flac"}, {"silent.wav", "fluttery.flac", "good.wav"}, 1, 1},
             {{"good.wav"}, {"good.wav", "fluttery.flac"}, 0, 3},
         }) {
        SCOPED_TRACE(::testing::PrintToString(c.resumed));
        std::filesystem::remove(Path("s.csv"));
        std::vector<std::string> args = {"--meter", "--limit-weighted", "0.1", "--summary-csv", "s.csv"};
        std::vector<std::string> first = args;
        first.insert(first.end(), c.first.begin(), c.first.end());
        EXPECT_EQ(Run(first).status, c.firstStatus);
        std::vector<std::string> resumed = args;
        resumed.push_back("--resume");
        resumed.insert(resumed.end(), c.resumed.begin(), c.resumed.end());
        const CliResult r = Run(resumed);
        EXPECT_EQ(r.status, c.resumedStatus) << r.err;
        EXPECT_EQ(ByPath(dir.Read("s.csv")).size(), c.resumed.size());
    }
}

// JSON Lines, each parsing, the last counting the batch; with --ordered the
// results and the summary's rows in the list's order, however the jobs finish.
TEST_F(MeterBatch, JsonLinesEachParseInTheListsOrder)
{
    std::vector<std::string> files = unmeasured;
    files.insert(files.end(), measured.rbegin(), measured.rend());
    std::vector<std::string> args = {"--json", "--meter", "--nominal", "3150", "--limit-weighted", "0.1",
                                     "--ordered", "--jobs", "3", "--summary-csv", "o.csv"};
    args.insert(args.end(), files.begin(), files.end());
    const CliResult r = Run(args);
    EXPECT_EQ(r.status, 1) << r.err;
    std::map<std::string, nlohmann::ordered_json> byFile;
    std::vector<std::string> printed, rows;
    size_t start = 0;
    nlohmann::ordered_json last;
    for (size_t end; (end = r.out.find('\n', start)) != std::string::npos; start = end + 1) {
        last = nlohmann::ordered_json::parse(r.out.substr(start, end - start));
        if (last.contains("file")) {
            printed.push_back(last.at("file").get<std::string>());
            byFile[printed.back()] = last;
        }
    }
    EXPECT_EQ(start, r.out.size());
    EXPECT_EQ(printed, files);
    for (const auto& row : CsvRows(dir.Read("o.csv")))
        if (rows.empty() || rows.back() != row.front())
            rows.push_back(row.front());
    rows.erase(rows.begin());  // the header
    EXPECT_EQ(rows, files);
    ASSERT_EQ(byFile.size(), 8u);
    ASSERT_TRUE(last.contains("summary")) << last.dump();
    EXPECT_EQ(last["summary"]["files"], 8);
    EXPECT_EQ(last["summary"]["pass"], 2);
    EXPECT_EQ(last["summary"]["fail"], 1);
    EXPECT_EQ(last["summary"]["error"], 5);
    EXPECT_GE(last["summary"]["seconds"].get<double>(), 0);
    for (const std::string& f : measured) {
        const auto& m = byFile[f]["meter"];
        ASSERT_TRUE(m.is_object()) << f;
        const auto& ch = m["channels"][0];
        EXPECT_TRUE(ch.contains("speed_error_percent")) << f;
        EXPECT_EQ(ch["verdict"], f == "fluttery.flac" ? "fail" : "pass") << f;
        EXPECT_EQ(ch["failed_limits"], f == "fluttery.flac" ? nlohmann::json::array({"weighted"})
                                                            : nlohmann::json::array())
            << f;
    }
    for (const std::string& f : unmeasured) {
        EXPECT_FALSE(byFile[f].contains("meter")) << f;
        ASSERT_EQ(byFile[f]["messages"].size(), 1u) << f;
        EXPECT_EQ(byFile[f]["messages"][0]["caption"], "Standards W&F");
    }
}

TEST_F(MeterBatch, FilesFromStandardInputAndEachPathOnce)
{
    dir.Write("stdin.txt", "fast.wav\r\n\nfluttery.flac\ngood.wav\nfast.wav\n");
    CliResult r = Shell(ShellQuote(TARVO_CLI_PATH) + " --meter --files-from - --summary-csv s.csv good.wav <stdin.txt");
    EXPECT_EQ(r.status, 0) << r.err;
    const auto rows = ByPath(dir.Read("s.csv"));
    EXPECT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows.count("fast.wav") + rows.count("fluttery.flac") + rows.count("good.wav"), 3u);

    EXPECT_EQ(Run({"--meter", "--files-from", "missing-list.txt"}).status, 1);
}

TEST_F(MeterBatch, ResumeAfterARunKilledPartWay)
{
    // Enough files that a run can be caught part-way.
    std::vector<std::string> files;
    for (int i = 0; i < 32; ++i) {
        Tone t;
        t.mods = {{4, 0.0001 * (i + 1)}};
        files.push_back("take" + std::to_string(i) + ".wav");
        ASSERT_TRUE(WriteTone(Path(files.back()), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 20, t));
    }
    std::string list;
    for (const auto& f : files)
        list += f + "\n";
    dir.Write("list.txt", list);

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (::chdir(dir.Path().c_str()) == 0 && null >= 0 && ::dup2(null, STDOUT_FILENO) >= 0)
            ::execl(TARVO_CLI_PATH, TARVO_CLI_PATH, "--meter", "--jobs", "1", "--files-from", "list.txt",
                    "--summary-csv", "s.csv", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Killed (as by a power failure) once a few rows are in.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    size_t rowsIn = 0;
    while (rowsIn < 3 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        size_t complete = 0;
        rowsIn = ParseCsv(dir.Read("s.csv"), complete).size();
    }
    ::kill(pid, SIGKILL);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const size_t before = ByPath(dir.Read("s.csv")).size();
    EXPECT_GE(before, 2u);
    EXPECT_LT(before, files.size()) << "the run ended before it was killed";

    // And a row a cut-off write left half-written.
    {
        std::ofstream s(Path("s.csv"), std::ios::app | std::ios::binary);
        s << "take31.wav,1,20,3150.0";
    }
    CliResult r = Run({"--meter", "--resume", "--files-from", "list.txt", "--summary-csv", "s.csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), static_cast<std::ptrdiff_t>(files.size() - before));
    const auto rows = ByPath(dir.Read("s.csv"));
    EXPECT_EQ(rows.size(), files.size());
    for (const auto& f : files)
        EXPECT_EQ(rows.count(f), 1u) << f;

    // Nothing left to do: the summary stays as it is.
    const std::string whole = dir.Read("s.csv");
    EXPECT_EQ(Run({"--meter", "--resume", "--files-from", "list.txt", "--summary-csv", "s.csv"}).status, 0);
    EXPECT_EQ(dir.Read("s.csv"), whole);
}

TEST_F(MeterBatch, UsageErrors)
{
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--header", "good.wav", "fast.wav"},
             {"--meter", "--wow", "good.wav", "fast.wav"},
             {"--meter", "--header", "--files-from", "list.txt"},
             {"--meter", "--limit-speed", "1", "good.wav", "fast.wav"},
             {"--meter", "--limit-speed", "1", "good.wav"},
             {"--meter", "--jobs", "0", "good.wav", "fast.wav"},
             {"--meter", "--jobs", "1.5", "good.wav"},
             {"--meter", "--limit-weighted", "-1", "good.wav"},
             {"--meter", "--resume", "good.wav", "fast.wav"},
             {"--meter", "--meter-csv", "t.csv", "good.wav", "fast.wav"},
             {"--jobs", "2", "good.wav"},
             {"--limit-weighted", "0.1", "good.wav"},
             {"--meter", "--jobs", "2"},
         }) {
        CliResult r = Run(args);
        EXPECT_EQ(r.status, 2) << ::testing::PrintToString(args);
        EXPECT_NE(r.err.find("usage: tarvo-cli"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// A stream that removes a file the first time anything is written to it.
class RemovingBuf : public std::stringbuf {
public:
    explicit RemovingBuf(std::string path) : path_(std::move(path)) {}

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        if (!path_.empty())
            std::filesystem::remove(std::exchange(path_, std::string()));
        return std::stringbuf::xsputn(s, n);
    }

private:
    std::string path_;
};

TEST_F(MeterBatch, AFileDeletedMidRunGetsItsErrorRow)
{
    ASSERT_TRUE(WriteTone(Path("gone.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 4, Tone()));
    // One job: the first file's line is printed before the second file is
    // opened, and printing it deletes the second.
    RemovingBuf buf(Path("gone.wav"));
    std::ostream out(&buf);
    std::ostringstream err;
    tarvo::MeterRequest req;
    req.on = true;
    tarvo::BatchOptions opt;
    opt.jobs = 1;
    opt.summaryCsv = Path("s.csv");
    EXPECT_EQ(tarvo::RunMeterBatch({Path("good.wav"), Path("gone.wav")}, req, opt, false, out, err), 1);
    EXPECT_FALSE(std::filesystem::exists(Path("gone.wav")));
    auto rows = ByPath(dir.Read("s.csv"));
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[Path("good.wav")][Column("verdict")], "pass");
    EXPECT_EQ(rows[Path("gone.wav")][Column("verdict")], "error");
    EXPECT_NE(rows[Path("gone.wav")][Column("message")].find("gone.wav"), std::string::npos);
}

TEST_F(MeterBatch, HelpGivesEveryBatchOptionAndTheExitStatus)
{
    CliResult help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* opt : {"--files-from", "--jobs", "--summary-csv", "--resume", "--limit-weighted",
                            "--limit-unweighted", "--limit-speed"}) {
        const std::string line = "\n  " + std::string(opt) + " ";
        const size_t at = help.out.find(line);
        EXPECT_NE(at, std::string::npos) << opt;
        EXPECT_EQ(help.out.find(line, at + 1), std::string::npos) << opt;
    }
    EXPECT_NE(help.out.find("3 when a file failed a --limit"), std::string::npos);
}

// The README's several-machine recipe, on this machine alone: GNU parallel
// with two job slots here, each share its own summary, then joined.
TEST_F(MeterBatch, ParallelRecipeJoinsToTheSingleRunsRows)
{
    if (std::system("command -v parallel >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "GNU parallel is not installed";
    std::string list;
    for (int i = 0; i < 9; ++i) {
        Tone t;
        t.mods = {{4.0 + i, 0.0004 * (i + 1)}};
        t.carrier = 3150 * (1 + 0.004 * (i - 4));
        const std::string name = "part " + std::to_string(i) + (i == 4 ? ",\"odd\".wav" : ".wav");
        ASSERT_TRUE(WriteTone(Path(name), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 3, t));
        list += name + "\n";
    }
    list += "notes.wav\nshort.wav\n";
    dir.Write("list.txt", list);
    dir.Write("hosts.txt", std::string("2/:\n"));

    const std::string cli = ShellQuote(TARVO_CLI_PATH);
    CliResult one = Shell(cli + " --meter --nominal 3150 --limit-weighted 0.1 --files-from list.txt "
                                "--summary-csv single.csv > /dev/null");
    EXPECT_EQ(one.status, 1) << one.err;
    CliResult shares = Shell("HOME=" + ShellQuote(dir.Path().string()) +
                             " parallel --sshloginfile hosts.txt --workdir . --pipepart -a list.txt --block -1 '" +
                             std::string(TARVO_CLI_PATH) +
                             " --meter --nominal 3150 --limit-weighted 0.1 --files-from - --summary-csv "
                             "summary-{#}.csv --resume > /dev/null'");
    EXPECT_NE(shares.status, 0);  // the shares with the unmeasurable files
    EXPECT_TRUE(std::filesystem::exists(Path("summary-1.csv")));
    EXPECT_TRUE(std::filesystem::exists(Path("summary-2.csv")));
    CliResult join = Shell(ShellQuote(std::string(TARVO_SOURCE_DIR) + "/scripts/join-summaries") +
                           " joined.csv summary-*.csv");
    ASSERT_EQ(join.status, 0) << join.err;

    Rows single = CsvRows(dir.Read("single.csv")), joined = CsvRows(dir.Read("joined.csv"));
    ASSERT_EQ(single.size(), 12u);
    EXPECT_EQ(joined.front(), tarvo::SummaryColumns());  // the record's columns kept
    // The same rows, but for the time each was measured at.
    const size_t when = tarvo::SummaryColumn("measured_at");
    for (Rows* rows : {&single, &joined})
        for (size_t r = 1; r < rows->size(); ++r) {
            ASSERT_EQ((*rows)[r].size(), tarvo::SummaryColumns().size());
            EXPECT_EQ((*rows)[r][when].size(), std::string("2026-12-08T05:52:31+00:00").size()) << (*rows)[r][0];
            (*rows)[r][when].clear();
        }
    std::sort(single.begin() + 1, single.end());
    std::sort(joined.begin() + 1, joined.end());
    EXPECT_EQ(joined, single);
}

}  // namespace

// A summary --resume cannot read as its own is refused and left untouched.
TEST_F(MeterBatch, ResumeRefusesASummaryItCannotReadAndLeavesItWhole)
{
    // A name with a comma and a quote makes a quoted field.
    std::filesystem::copy_file(Path("good.wav"), Path("with, a \"comma\".wav"));
    ASSERT_EQ(Run({"--meter", "--jobs", "1", "--summary-csv", "s.csv", "good.wav", "fast.wav", "with, a \"comma\".wav",
                   "short.wav"})
                  .status,
              1);
    const std::string whole = dir.Read("s.csv");
    const size_t firstRowEnd = whole.find("\r\n") + 2, secondRowEnd = whole.find("\r\n", firstRowEnd) + 2;
    auto withAt = [&](size_t at, const std::string& text) { return whole.substr(0, at) + text + whole.substr(at); };
    const struct {
        const char* what;
        std::string text;
    } cases[] = {
        {"a stray quote opening a field of the first row", withAt(firstRowEnd, "\"")},
        {"a stray quote inside a field", withAt(firstRowEnd + 3, "\"")},
        {"text after a closing quote", withAt(secondRowEnd, "\"x\"y,")},
        {"no line break at all", "some notes of the user's, not a summary"},
        {"other columns", "a,b,c\r\n1,2,3\r\n"},
        {"a row short of columns", withAt(secondRowEnd, "x.wav,1,2\r\n")},
        {"a row without a verdict", withAt(secondRowEnd, std::string(tarvo::SummaryColumns().size() - 1, ',') + "\r\n")},
        {"a row whose verdict is none of the three", withAt(secondRowEnd, [] {
             std::vector<std::string> row(tarvo::SummaryColumns().size());
             row[0] = "x.wav";
             row[tarvo::SummaryColumn("verdict")] = "maybe";
             return tarvo::CsvRecord(row);
         }())},
        {"a bare CR", withAt(secondRowEnd - 2, "\r")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        dir.Write("s.csv", c.text);
        const CliResult r = Run({"--meter", "--resume", "--summary-csv", "s.csv", "good.wav", "silent.wav"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("cannot resume s.csv"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(dir.Read("s.csv"), c.text);
    }
    // The summary as the batch wrote it resumes, and its failing rows still
    // count: exit 1 for short.wav, measured in the first run.
    dir.Write("s.csv", whole);
    const CliResult r = Run({"--meter", "--resume", "--summary-csv", "s.csv", "good.wav", "silent.wav"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out.find("comma"), std::string::npos) << r.out;
    EXPECT_EQ(ByPath(dir.Read("s.csv")).size(), 5u);
    // An empty file is a new summary.
    dir.Write("e.csv", std::string());
    EXPECT_EQ(Run({"--meter", "--resume", "--summary-csv", "e.csv", "good.wav"}).status, 0);
    EXPECT_EQ(ByPath(dir.Read("e.csv")).size(), 1u);
}

// Every row carries the file's SHA-256 and format, the settings, who, when and by what.
TEST_F(MeterBatch, RowsCarryTheirRecordAndSettings)
{
    const CliResult r = Run({"--meter", "--nominal", "3150", "--limit-weighted", "0.05", "--limit-speed", "0.5",
                             "--rpm", "45", "--operator", "A. Archivist", "--summary-csv", "s.csv", "good.wav",
                             "fluttery.flac", "missing.wav"});
    EXPECT_EQ(r.status, 1) << r.err;
    const CliResult version = Run({"--version"});
    auto rows = ByPath(dir.Read("s.csv"));
    ASSERT_EQ(rows.size(), 3u);
    const struct {
        const char* file;
        const char* format;
        const char* rate;
        const char* channels;
    } files[] = {{"good.wav", "WAV (Microsoft), Signed 16 bit PCM", "44100", "1"},
                 {"fluttery.flac", "FLAC (Free Lossless Audio Codec), Signed 16 bit PCM", "48000", "1"},
                 {"missing.wav", "", "", ""}};
    for (const auto& f : files) {
        SCOPED_TRACE(f.file);
        const std::vector<std::string>& row = rows[f.file];
        ASSERT_EQ(row.size(), tarvo::SummaryColumns().size());
        std::string sum;
        if (std::filesystem::exists(Path(f.file)))
            sum = RunShell("sha256sum " + ShellQuote(Path(f.file)), dir.Path().string()).out.substr(0, 64);
        EXPECT_EQ(row[Column("sha256")], sum);
        EXPECT_EQ(row[Column("format")], f.format);
        EXPECT_EQ(row[Column("sample_rate")], f.rate);
        EXPECT_EQ(row[Column("bits")], *f.rate ? "16" : "");
        EXPECT_EQ(row[Column("channels")], f.channels);
        EXPECT_EQ(row[Column("nominal_hz")], "3150");
        EXPECT_EQ(row[Column("limit_weighted")], "0.05");
        EXPECT_EQ(row[Column("limit_unweighted")], "");
        EXPECT_EQ(row[Column("limit_speed")], "0.5");
        EXPECT_EQ(row[Column("transport")], "Turntable 45 rpm");
        EXPECT_EQ(row[Column("operator")], "A. Archivist");
        EXPECT_EQ(row[Column("deck")], "");
        EXPECT_TRUE(std::regex_match(row[Column("measured_at")],
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d([+-]\d\d:\d\d|Z))")))
            << row[Column("measured_at")];
        EXPECT_NE(version.out.find(" " + row[Column("program_version")]), std::string::npos) << version.out;
        EXPECT_FALSE(row[Column("program_version")].empty());
    }
}

// --resume with other settings is refused, the summary untouched; another operator adds to it.
TEST_F(MeterBatch, ResumeRefusesOtherSettings)
{
    const std::vector<std::string> first = {"--meter", "--nominal", "3150", "--limit-weighted", "0.05", "--rpm", "45",
                                            "--summary-csv", "s.csv"};
    // The first run's options with one changed ("": left out), resuming with fast.wav.
    auto with = [&](const std::string& option, const std::string& value) {
        std::vector<std::string> args = first;
        const auto at = std::find(args.begin(), args.end(), option);
        if (at == args.end())
            args.insert(args.begin() + 1, {option, value});
        else if (value.empty())
            args.erase(at, at + 2);
        else
            at[1] = value;
        args.insert(args.end(), {"--resume", "fast.wav"});
        return args;
    };
    std::vector<std::string> firstRun = first;
    firstRun.push_back("good.wav");
    ASSERT_EQ(Run(firstRun).status, 0);
    const std::string whole = dir.Read("s.csv");
    const struct {
        const char *option, *value, *column;
    } cases[] = {
        {"--nominal", "3000", "nominal_hz"},
        {"--nominal", "", "nominal_hz"},
        {"--limit-weighted", "0.1", "limit_weighted"},
        {"--limit-unweighted", "0.2", "limit_unweighted"},
        {"--limit-speed", "1", "limit_speed"},
        {"--rpm", "33.333", "transport"},
        {"--rpm", "", "transport"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.column);
        const CliResult r = Run(with(c.option, c.value));
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("cannot resume s.csv: it was measured with other settings"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.column), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(dir.Read("s.csv"), whole);
    }
    EXPECT_EQ(Run(with("--operator", "Someone else")).status, 0);
    EXPECT_EQ(ByPath(dir.Read("s.csv")).size(), 2u);
    // A summary of an earlier version, without the record's columns, is
    // said to be one.
    const std::vector<std::string> older(tarvo::SummaryColumns().begin(),
                                         tarvo::SummaryColumns().begin() + tarvo::SummaryColumn("message") + 1);
    dir.Write("old.csv", tarvo::CsvRecord(older));
    const CliResult r = Run({"--meter", "--resume", "--summary-csv", "old.csv", "good.wav"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("the columns of an earlier version"), std::string::npos) << r.err;
}

// --report-dir: a report for every file, measured or not; shared names made unique in list order.
TEST_F(MeterBatch, ReportDirGivesEveryFileItsRecord)
{
    std::filesystem::create_directories(Path("second"));
    std::filesystem::copy_file(Path("fluttery.flac"), Path("second/good.wav"));
    std::filesystem::create_directories(Path("reports"));
    const CliResult r = Run({"--meter", "--jobs", "3", "--limit-weighted", "0.1", "--operator", "Ann",
                             "--report-dir", "reports", "good.wav", "fluttery.flac", "second/good.wav", "silent.wav",
                             "notes.wav", "pipe.wav", "missing.wav"});
    EXPECT_EQ(r.status, 1) << r.err;
    const struct {
        const char* report;
        std::vector<std::string> texts;
    } cases[] = {
        {"good.pdf", {"File: " + Path("good.wav"), "Channel 1 verdict: PASS", "Operator: Ann"}},
        {"fluttery.pdf", {"File: " + Path("fluttery.flac"), "Channel 1 verdict: FAIL (weighted"}},
        {"good (2).pdf", {"File: " + Path("second/good.wav"), "Channel 1 verdict: FAIL (weighted"}},
        {"silent.pdf", {"silent.wav could not be measured", "File: " + Path("silent.wav"), "SHA-256: ", "Why: ",
                        "Verdict: ERROR (not measured)", "Limits: weighted 0.1 %", "Operator: Ann"}},
        {"notes.pdf",
         {"notes.wav could not be measured", "Format: not a sound file libsndfile reads Operator: Ann", "Why: "}},
        {"pipe.pdf", {"pipe.wav could not be measured", "Not read: ", "not one"}},
        {"missing.pdf", {"missing.wav could not be measured", "Not read: ", "No such file or directory",
                         "Verdict: ERROR (not measured)"}},
    };
    std::set<std::string> written;
    for (const auto& e : std::filesystem::directory_iterator(Path("reports")))
        written.insert(e.path().filename().string());
    EXPECT_EQ(written.size(), std::size(cases));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.report);
        ASSERT_TRUE(written.count(c.report));
        const std::string text = PdfText(Path("reports/") + c.report, dir.Path().string());
        for (const std::string& t : c.texts)
            EXPECT_NE(text.find(t), std::string::npos) << t << "\n" << text;
        EXPECT_NE(text.find("Measured 20"), std::string::npos) << text;
    }
    EXPECT_EQ(tarvo::ReportNames({"a/take.wav", "b/take.flac", "take (2).wav", "c/take.wav", ".wav", "x"}, "r"),
              (std::vector<std::string>{"r/take.pdf", "r/take (2).pdf", "r/take (2) (2).pdf", "r/take (3).pdf",
                                        "r/.wav.pdf", "r/x.pdf"}));
}

// A --report-dir that is no folder or would overwrite an input is refused up
// front; a report that cannot be written is said (exit 1), the others written.
TEST_F(MeterBatch, ReportDirThatCannotBeWritten)
{
    std::filesystem::create_directories(Path("r"));
    ASSERT_EQ(::symlink(Path("good.wav").c_str(), Path("r/good.pdf").c_str()), 0);
    const struct {
        std::vector<std::string> args;
        int status;
        const char* said;
        bool measured;
    } cases[] = {
        {{"--report-dir", "no such folder"}, 1, "cannot write reports in no such folder: No such file", false},
        {{"--report-dir", "notes.wav"}, 1, "cannot write reports in notes.wav: it is not a folder", false},
        {{"--report-dir", "r"}, 2, "would be one of the inputs", false},
        {{"--report-dir", "."}, 1, "", true},  // good.pdf and fast.pdf beside them
        {{"--meter-report", "x.pdf"}, 2, "--report-dir DIR", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        std::vector<std::string> args = {"--meter"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        args.insert(args.end(), {"good.wav", "fast.wav", "missing.wav"});
        const CliResult r = Run(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        EXPECT_EQ(r.out.find("good.wav\tchannel") != std::string::npos, c.measured) << r.out;
    }
    EXPECT_TRUE(std::filesystem::exists(Path("good.pdf")));
    EXPECT_TRUE(std::filesystem::exists(Path("missing.pdf")));
    EXPECT_TRUE(std::filesystem::is_symlink(Path("r/good.pdf")));
    EXPECT_FALSE(std::filesystem::exists(Path("x.pdf")));
    // A folder the reports cannot be written in: each said, the run goes on.
    if (::geteuid() != 0) {
        std::filesystem::create_directories(Path("locked"));
        ::chmod(Path("locked").c_str(), 0555);
        const CliResult r = Run({"--meter", "--report-dir", "locked", "good.wav", "fast.wav"});
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.err.find("the report of good.wav was not written"), std::string::npos) << r.err;
        EXPECT_NE(r.out.find("fast.wav\tchannel"), std::string::npos) << r.out;
    }
    // /dev/full at a report's name: the disk full said, never a success.
    ASSERT_EQ(::symlink("/dev/full", Path("r/fast.pdf").c_str()), 0);
    const CliResult full = Run({"--meter", "--report-dir", "r", "fast.wav"});
    EXPECT_EQ(full.status, 1);
    EXPECT_NE(full.err.find("No space left on device"), std::string::npos) << full.err;
}

// --batch-report: counts and settings, resumed rows included (its table's
// order is BatchReport.MixedBatchReadsBack's).
TEST_F(MeterBatch, BatchReportCountsEveryFileResumedOnesToo)
{
    const CliResult first = Run({"--meter", "--limit-weighted", "0.1", "--summary-csv", "s.csv", "--operator", "Ann",
                                 "fluttery.flac", "silent.wav"});
    EXPECT_EQ(first.status, 1) << first.err;
    const CliResult r = Run({"--meter", "--limit-weighted", "0.1", "--summary-csv", "s.csv", "--resume",
                             "--operator", "Ann", "--batch-report", "batch.pdf", "fluttery.flac", "silent.wav",
                             "good.wav", "fast.wav", "missing.wav"});
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string text = PdfText(Path("batch.pdf"), dir.Path().string());
    for (const std::string t : {"5 files: 2 pass, 1 fail, 2 error", "Limits: weighted 0.1 %", "Operator: Ann",
                                "Page 1 of 1"})
        EXPECT_NE(text.find(t), std::string::npos) << t << "\n" << text;
}

TEST_F(MeterBatch, ResumeMeasuresAStereoFileCutBetweenItsRowsWhole)
{
    Tone left, right;
    right.mods = {{4, 0.002}};
    ASSERT_TRUE(WriteTones(Path("stereo.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 4, {left, right}));
    // One job: the rows come in the order of the files (with more, in the
    // order the files are done, which the cut below must know).
    ASSERT_EQ(Run({"--meter", "--jobs", "1", "--summary-csv", "s.csv", "good.wav", "stereo.wav"}).status, 0);
    const std::string whole = dir.Read("s.csv");
    const Rows rows = CsvRows(whole);
    ASSERT_EQ(rows.size(), 4u);
    ASSERT_EQ(rows[1][0], "good.wav");
    // Cut after the stereo file's first row, at a row's end.
    const size_t cut = whole.rfind("stereo.wav,2");
    ASSERT_NE(cut, std::string::npos);
    dir.Write("s.csv", whole.substr(0, cut));
    const CliResult r = Run({"--meter", "--resume", "--summary-csv", "s.csv", "good.wav", "stereo.wav"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("stereo.wav\tchannel 1"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("stereo.wav\tchannel 2"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("good.wav"), std::string::npos) << r.out;
    EXPECT_EQ(CsvRows(dir.Read("s.csv")), rows);
}

TEST_F(MeterBatch, NoOutputIsAnInputTheListAndStandardInputIncluded)
{
    const std::string goodBytes = dir.Read("good.wav"), fastBytes = dir.Read("fast.wav");
    dir.Write("l.txt", "good.wav\nfast.wav\n");
    const struct {
        const char* what;
        std::string cmd;
    } cases[] = {
        {"a report for each of several files", ShellQuote(TARVO_CLI_PATH) + " --meter --meter-report r.pdf good.wav fast.wav"},
        {"the summary over the list", ShellQuote(TARVO_CLI_PATH) + " --meter --summary-csv l.txt --files-from l.txt"},
        {"the summary over the list read through standard input",
         ShellQuote(TARVO_CLI_PATH) + " --meter --summary-csv l.txt --files-from - <l.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CliResult r = Shell(c.cmd);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(dir.Read("good.wav"), goodBytes);
        EXPECT_EQ(dir.Read("fast.wav"), fastBytes);
        EXPECT_EQ(dir.Read("l.txt"), "good.wav\nfast.wav\n");
        EXPECT_FALSE(std::filesystem::exists(Path("r.pdf")));
    }
}

TEST_F(MeterBatch, EachFileOnceHoweverSpeltAndAnyNameListed)
{
    ASSERT_EQ(::link(Path("good.wav").c_str(), Path("good-again.wav").c_str()), 0);
    const CliResult once = Run({"--meter", "good.wav", "./good.wav", "good-again.wav", "fast.wav"});
    EXPECT_EQ(once.status, 0) << once.err;
    EXPECT_EQ(std::count(once.out.begin(), once.out.end(), '\n'), 2) << once.out;

    // Names with a line break, a CR at the end and bytes that are not UTF-8.
    const std::string odd[] = {"line\nbreak.wav", "ends in cr.wav\r", "latin1 \xe9t\xe9.wav"};
    std::string nulList;
    for (const std::string& name : odd) {
        // Copies, not links, so that each is measured.
        ASSERT_TRUE(std::filesystem::copy_file(Path("good.wav"), Path(name)));
        nulList += name + '\0';
    }
    dir.Write("nul.list", nulList);
    const CliResult r = Run({"--json", "--meter", "--files-from", "nul.list"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::set<std::string> files;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);) {
        const auto j = nlohmann::json::parse(line);
        if (!j.contains("file"))
            continue;
        std::string bytes = j["file"].get<std::string>();
        if (j.contains("file_hex")) {
            // The path's bytes, two hexadecimal digits a byte.
            const std::string hex = j["file_hex"].get<std::string>();
            bytes.clear();
            for (size_t i = 0; i + 1 < hex.size(); i += 2)
                bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        }
        files.insert(bytes);
    }
    EXPECT_EQ(files, std::set<std::string>(std::begin(odd), std::end(odd)));

    // A line list: the CR is the name's own only where no name without it is there.
    dir.Write("cr.list", "ends in cr.wav\r\ngood.wav\r\n");
    const CliResult crs = Run({"--meter", "--files-from", "cr.list"});
    EXPECT_EQ(crs.status, 0) << crs.err;
    EXPECT_NE(crs.out.find("ends in cr.wav\r\tchannel 1"), std::string::npos) << crs.out;
}

// Lists from FIFOs and pipes (outputs to a FIFO are rows of the
// hostile-target table).
TEST_F(MeterBatch, ListsFromFifosAndPipesNeverHang)
{
    ASSERT_EQ(::mkfifo(Path("fifo").c_str(), 0600), 0);
    // Nothing writes it: an empty list at once (a run still going after a
    // minute has hung).
    const CliResult r = Shell("timeout 60 " + ShellQuote(TARVO_CLI_PATH) + " --meter --files-from fifo");
    EXPECT_EQ(r.status, 0) << r.err;
    // A list through a pipe, as from a shell's process substitution.
    const CliResult piped = Shell("printf 'good.wav\\nfast.wav\\n' | " + ShellQuote(TARVO_CLI_PATH) +
                                  " --meter --files-from /dev/stdin");
    EXPECT_EQ(piped.status, 0) << piped.err;
    EXPECT_EQ(std::count(piped.out.begin(), piped.out.end(), '\n'), 2) << piped.out;
}

// A speed log has no carrier: the line a file gives says so and the batch
// goes on, with and without --resume.
TEST_F(MeterBatch, TextLinesOfASpeedLogGiveNoCarrier)
{
    {
        std::ofstream log(Path("speed.csv"));
        log << "Time (s),Speed (rpm)\n";
        for (int i = 0; i < 3000; ++i)
            log << i / 500.0 << "," << 33.333 * (1 + 0.002 * std::sin(2 * 3.14159265358979 * 1.5 * i / 500.0)) << "\n";
    }
    for (bool resume : {false, true}) {
        SCOPED_TRACE(resume ? "resumed" : "first run");
        std::vector<std::string> args = {"--meter", "--summary-csv", "s.csv", "speed.csv", "good.wav"};
        if (resume) {
            dir.Write("s.csv", dir.Read("s.csv").substr(0, dir.Read("s.csv").find("good.wav")));
            args.push_back("--resume");
        }
        const CliResult r = Run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        // Hz to three decimals, percentages to four.
        EXPECT_TRUE(std::regex_search(r.out, std::regex("good.wav\tchannel 1\tcarrier 3150\\.[0-9]{3} Hz\tspeed -\t"
                                                        "weighted 0\\.[0-9]{4} %\twow 0\\.[0-9]{4} %\tflutter "
                                                        "0\\.[0-9]{4} %\tpass\n")))
            << r.out;
        if (!resume) {
            EXPECT_NE(r.out.find("speed.csv\tchannel 1\tcarrier -\tspeed -\tweighted 0."), std::string::npos) << r.out;
        }
        EXPECT_EQ(ByPath(dir.Read("s.csv")).size(), 2u);
    }
}

// Channel verdicts: equal passes, missing or not a number is an error; the file takes the worst.
TEST(MeterBatchLimits, VerdictsOfChannelsAndTheFile)
{
    using Json = nlohmann::ordered_json;
    auto channel = [](Json weighted, Json speed) {
        return Json{{"weighted", {{"two_sigma_percent", weighted}}},
                    {"unweighted", {{"two_sigma_percent", 0.01}}},
                    {"speed_error_percent", speed}};
    };
    const double nan = std::nan("");
    const struct {
        const char* what;
        std::vector<Json> channels;
        std::vector<const char*> verdicts;
        tarvo::Verdict file;
    } cases[] = {
        {"under", {channel(0.05, 0.1)}, {"pass"}, tarvo::Verdict::Pass},
        {"at the limit", {channel(0.1, 0.5)}, {"pass"}, tarvo::Verdict::Pass},
        {"over", {channel(0.1001, 0.1)}, {"fail"}, tarvo::Verdict::Fail},
        {"speed over", {channel(0.05, -0.5001)}, {"fail"}, tarvo::Verdict::Fail},
        {"no speed error: too far from the nominal", {channel(0.05, nullptr)}, {"fail"}, tarvo::Verdict::Fail},
        {"no weighted figure", {channel(nullptr, 0.1)}, {"error"}, tarvo::Verdict::Error},
        {"a weighted figure that is no number", {channel(nan, 0.1)}, {"error"}, tarvo::Verdict::Error},
        {"a weighted figure of text", {channel("0.05", 0.1)}, {"error"}, tarvo::Verdict::Error},
        {"error then fail", {channel(nullptr, 0.1), channel(0.2, 0.1)}, {"error", "fail"}, tarvo::Verdict::Error},
        {"fail then error", {channel(0.2, 0.1), channel(nullptr, 0.1)}, {"fail", "error"}, tarvo::Verdict::Error},
        {"pass then fail", {channel(0.05, 0.1), channel(0.2, 0.1)}, {"pass", "fail"}, tarvo::Verdict::Fail},
        {"fail then pass", {channel(0.2, 0.1), channel(0.05, 0.1)}, {"fail", "pass"}, tarvo::Verdict::Fail},
    };
    tarvo::MeterLimits limits;
    limits.weighted = 0.1;
    limits.speed = 0.5;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Json meter = {{"channels", c.channels}};
        EXPECT_EQ(tarvo::ApplyLimits(limits, meter), c.file);
        for (size_t i = 0; i < c.verdicts.size(); ++i)
            EXPECT_EQ(meter["channels"][i]["verdict"], c.verdicts[i]) << i;
    }
}
