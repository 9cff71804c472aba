// The live meter on a real sound server: an FM test tone made here is played
// into the null sink while tarvo-cli --meter-live measures what the source
// remapped from its monitor hears, and what it does when that input goes
// away under it.
#include "CliRunner.h"
#include "PulseServer.h"
#include "ToneFile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <sstream>
#include <thread>

extern char** environ;

namespace tarvo::test {
namespace {

// Runs tarvo-cli in a shell after `before` (which may start something
// whose process id it leaves in $p, killed when the program ends).
CliResult RunInShell(const std::string& before, const std::vector<std::string>& args, const TempDir& dir)
{
    const std::string out = (dir.Path() / "o").string(), err = (dir.Path() / "e").string();
    std::string cmd = "cd " + ShellQuote(dir.Path().string()) + " && { p=; " + before + " " + ShellQuote(TARVO_CLI_PATH);
    for (const auto& a : args)
        cmd += " " + ShellQuote(a);
    cmd += " >" + ShellQuote(out) + " 2>" + ShellQuote(err) + " </dev/null; rc=$?; [ -n \"$p\" ] && kill $p 2>/dev/null; exit $rc; }";
    CliResult r;
    const int rc = std::system(cmd.c_str());
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    std::ifstream o(out), e(err);
    r.out.assign(std::istreambuf_iterator<char>(o), std::istreambuf_iterator<char>());
    r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
    return r;
}

// An FM tone (3150 Hz, 0.1 % at 4 Hz) played into the null sink while
// tarvo-cli --json --meter-live 8 --nominal 3150 and `more` runs: the
// updates are there, the last one locked with no speed error, and the whole
// run reads 0.1 % x 0.99692 weighted.
void ExpectTheToneMeasured(const std::vector<std::string>& more)
{
    TempDir dir;
    Tone tone;  // 3150 Hz, 0.1 % at 4 Hz
    tone.mods = {{4, 0.001}};
    const std::string wav = (dir.Path() / "fm.wav").string();
    ASSERT_TRUE(WriteTone(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 14, tone));

    // paplay starts half a second ahead, so that the meter's first half second holds the tone.
    std::vector<std::string> args{"--json", "--meter-live", "8", "--nominal", "3150"};
    args.insert(args.end(), more.begin(), more.end());
    CliResult r = RunInShell("paplay --device=tarvo_test " + ShellQuote(wav) + " >/dev/null 2>&1 & p=$!; sleep 0.5;", args, dir);
    ASSERT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(r.err, "");

    std::istringstream lines(r.out);
    std::vector<nlohmann::json> updates;
    nlohmann::json last;
    for (std::string line; std::getline(lines, line);) {
        nlohmann::json j = nlohmann::json::parse(line);
        if (j.contains("live"))
            updates.push_back(j["live"]);
        else
            last = j;
    }
    EXPECT_GE(updates.size(), 5u * 8);
    ASSERT_FALSE(updates.empty());
    const nlohmann::json& u = updates.back()["channels"][0];
    EXPECT_EQ(u["state"], "locked");
    ASSERT_TRUE(u["speed_error_percent"].is_number()) << u;
    EXPECT_NEAR(u["speed_error_percent"].get<double>(), 0, 0.05);
    ASSERT_TRUE(u["weighted"]["two_sigma_percent"].is_number()) << u;

    ASSERT_TRUE(last.contains("meter")) << r.out;
    const nlohmann::json& c = last["meter"]["channels"][0];
    EXPECT_NEAR(c["weighted"]["two_sigma_percent"].get<double>(), 0.0997, 0.0997 * 0.03) << c;
    EXPECT_NEAR(c["carrier_hz"].get<double>(), 3150, 3150 * 0.0005) << c;
    EXPECT_TRUE(last["messages"].empty()) << last;
}

TEST(LiveLoopback, FmToneReadsLiveAndAsAWholeRun)
{
    PulseServer server;
    ASSERT_TRUE(server.Running()) << server.Why();
    ExpectTheToneMeasured({});
}

TEST(LiveLoopback, EveryInputIsListedAndReadByItsName)
{
    // The remapped source is the default; the sink's monitor, which Qt
    // leaves out, is listed and read too.
    PulseServer server;
    ASSERT_TRUE(server.Running()) << server.Why();
    TempDir dir;
    CliResult r = RunCli({"--list-inputs"}, dir.Path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(r.out.starts_with("tarvo_mic\t")) << r.out;
    EXPECT_NE(r.out.find("\ntarvo_test.monitor\t"), std::string::npos) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 2) << r.out;
    for (const char* input : {"tarvo_test.monitor", "tarvo_mic"}) {
        SCOPED_TRACE(input);
        ExpectTheToneMeasured({"--input", input});
    }
}

TEST(LiveLoopback, AMonitorAloneIsListedAndMeasured)
{
    // The null sink's monitor is the only source, and the default: Qt lists
    // no input at all.
    PulseServer server(PulseServer::kMonitorOnly);
    ASSERT_TRUE(server.Running()) << server.Why();
    TempDir dir;
    CliResult r = RunCli({"--list-inputs"}, dir.Path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    ASSERT_TRUE(r.out.starts_with("tarvo_test.monitor\t")) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
    EXPECT_GT(r.out.size(), std::string("tarvo_test.monitor\t\n").size()) << "a description follows the name";

    r = RunCli({"--json", "--list-inputs"}, dir.Path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json j = nlohmann::json::parse(r.out);
    ASSERT_EQ(j["inputs"].size(), 1u) << j;
    EXPECT_EQ(j["inputs"][0]["name"], "tarvo_test.monitor");
    EXPECT_EQ(j["inputs"][0]["default"], true);

    const std::vector<std::string> ways[] = {{}, {"--input", "tarvo_test.monitor"}};
    for (const auto& more : ways) {
        SCOPED_TRACE(more.empty() ? "the default" : "by its name");
        ExpectTheToneMeasured(more);
    }
}

TEST(LiveLoopback, AnInputThatIsNotThereIsSaidByItsName)
{
    PulseServer server(PulseServer::kMonitorOnly);
    ASSERT_TRUE(server.Running()) << server.Why();
    TempDir dir;
    const std::vector<std::string> runs[] = {
        {"--meter-live", "2", "--input", "tarvo_mic"},
        {"--json", "--meter-live", "2", "--input", "tarvo_mic"},
        {"--input", "tarvo_mic", "--rec", "1", "--header"},
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(args[0] + " " + args[1]);
        CliResult r = RunCli(args, dir.Path().string());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "tarvo-cli: there is no sound input named \"tarvo_mic\" (tarvo-cli --list-inputs lists them)\n");
        EXPECT_EQ(r.out.find("\"live\""), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("Sample Rate: 2"), std::string::npos) << "no take was read: " << r.out;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "temp.wav"));
}

std::string Slurp(const std::filesystem::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// tarvo-cli started in the background, its output going to files in dir.
class Background {
public:
    Background(const std::vector<std::string>& args, const TempDir& dir) : out_(dir.Path() / "o"), err_(dir.Path() / "e")
    {
        std::vector<std::string> all{TARVO_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t files;
        posix_spawn_file_actions_init(&files);
        posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&files, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&files, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, argv[0], &files, nullptr, argv.data(), environ) != 0)
            pid_ = 0;
        posix_spawn_file_actions_destroy(&files);
    }
    ~Background()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool Started() const { return pid_ > 0; }
    std::string Out() const { return Slurp(out_); }
    std::string Err() const { return Slurp(err_); }

    // Waits until `done` holds or the program has ended, for at most
    // `seconds` (a guard against a hang, not a measure of speed).
    bool WaitFor(const std::function<bool()>& done, double seconds) const
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
        while (!done() && std::chrono::steady_clock::now() < until) {
            if (Ended())
                return done();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return done();
    }
    // The exit status once the program has ended within `seconds`; -1 if it
    // has not (it is killed then), -2 if it died of a signal.
    int Wait(double seconds)
    {
        WaitFor([this] { return Ended(); }, seconds);
        if (!Ended())
            return -1;
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : -2;
    }

private:
    bool Ended() const
    {
        if (pid_ > 0 && ::waitpid(pid_, &status_, WNOHANG) == pid_)
            pid_ = 0;
        return pid_ == 0;
    }

    std::filesystem::path out_, err_;
    mutable pid_t pid_ = 0;
    mutable int status_ = 0;
};

TEST(LiveLoopback, InputThatGoesAwayEndsTheRunWithOneMessageAndTheFiguresMeasured)
{
    // The meter listens to an FM tone for a minute; once it has measured
    // six seconds its input is taken away (the whole run lets its filters
    // settle for 4 s, then needs a second of statistics). It ends, says so once, gives
    // the figures of what it measured (0.1 % at 4 Hz reads 0.0997 %
    // weighted) and exits 1; the audio backend's complaints stay off the
    // standard error.
    // A monitor alone is read beside Qt, from the sound server itself.
    const struct {
        const char* name;
        std::function<bool(PulseServer&)> takeAway;
        bool monitorOnly = false;
    } cases[] = {
        {"sound server terminated", [](PulseServer& s) { s.Signal(SIGTERM); return true; }},
        {"sound server killed", [](PulseServer& s) { s.Signal(SIGKILL); return true; }},
        {"capture stream killed, the server staying", [](PulseServer& s) { return s.KillCaptureStreams(); }},
        {"monitor alone, sound server killed", [](PulseServer& s) { s.Signal(SIGKILL); return true; }, true},
        {"monitor alone, capture stream killed", [](PulseServer& s) { return s.KillCaptureStreams(); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PulseServer server(c.monitorOnly);
        ASSERT_TRUE(server.Running()) << server.Why();
        TempDir dir;
        Tone tone;
        tone.mods = {{4, 0.001}};
        const std::string wav = (dir.Path() / "fm.wav").string();
        ASSERT_TRUE(WriteTone(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 70, tone));
        // paplay starts half a second ahead, so that the meter's first half second holds the tone.
        const std::string pidFile = (dir.Path() / "paplay.pid").string();
        ASSERT_EQ(std::system(("paplay --device=tarvo_test " + ShellQuote(wav) + " >/dev/null 2>&1 & echo $! >" +
                               ShellQuote(pidFile) + "; sleep 0.5").c_str()),
                  0);
        Background cli({"--json", "--meter-live", "60", "--nominal", "3150"}, dir);
        ASSERT_TRUE(cli.Started());
        auto lines = [&] {
            const std::string out = cli.Out();
            return std::count(out.begin(), out.end(), '\n');
        };
        const bool measuring = cli.WaitFor([&] { return lines() >= 60; }, 30);
        const bool takenAway = measuring && c.takeAway(server);
        const int status = cli.Wait(10);
        std::ifstream pid(pidFile);
        if (int p = 0; pid >> p)
            ::kill(p, SIGTERM);
        ASSERT_TRUE(measuring) << cli.Err() << cli.Out();
        ASSERT_TRUE(takenAway);
        ASSERT_NE(status, -1) << "still running ten seconds after its input went away";
        EXPECT_EQ(status, 1) << cli.Err();

        const std::string err = cli.Err();
        EXPECT_EQ(err.find("pa_stream_peek"), std::string::npos) << err;
        EXPECT_EQ(err.find("Stream error"), std::string::npos) << err;
        std::istringstream in(cli.Out());
        double lastUpdate = 0;
        nlohmann::json last;
        for (std::string line; std::getline(in, line);) {
            nlohmann::json j = nlohmann::json::parse(line);
            if (j.contains("live"))
                lastUpdate = j["live"]["seconds"].get<double>();
            else
                last = j;
        }
        ASSERT_TRUE(last.contains("messages")) << cli.Out();
        ASSERT_EQ(last["messages"].size(), 1u) << last["messages"];
        const std::string text = last["messages"][0]["text"];
        const std::string head = "The sound input went away after ";
        ASSERT_TRUE(text.starts_with(head)) << text;
        const double measured = std::stod(text.substr(head.size()));
        // The reason in the message's own words: the server's text unquoted, in a sentence.
        const size_t reason = text.find(" s: ") + 4;
        ASSERT_LT(reason, text.size()) << text;
        EXPECT_TRUE(std::islower(static_cast<unsigned char>(text[reason]))) << text;
        EXPECT_EQ(text.find('"'), std::string::npos) << text;
        EXPECT_TRUE(text.ends_with(".")) << text;
        EXPECT_GE(measured, 6.0) << text;
        // Every update measured was written: one every 0.1 s, the message's
        // seconds to one decimal.
        EXPECT_NEAR(measured, lastUpdate, 0.15) << text;
        ASSERT_TRUE(last.contains("meter")) << last;
        const nlohmann::json& ch = last["meter"]["channels"][0];
        EXPECT_NEAR(ch["seconds"].get<double>(), measured, 0.1) << ch;
        EXPECT_NEAR(ch["weighted"]["two_sigma_percent"].get<double>(), 0.0997, 0.0997 * 0.03) << ch;
        EXPECT_NEAR(ch["carrier_hz"].get<double>(), 3150, 3150 * 0.0005) << ch;
    }
}

TEST(LiveLoopback, WithoutASoundServerItSaysSoOnce)
{
    TempDir dir;
    const std::string conf = dir.Write("client.conf", std::string("autospawn = no\n"));
    const std::string env = "export PULSE_SERVER=" + ShellQuote("unix:" + (dir.Path() / "none").string()) +
                            " PULSE_CLIENTCONFIG=" + ShellQuote(conf) + ";";
    for (const bool json : {false, true}) {
        std::vector<std::string> args{"--meter-live", "2"};
        if (json)
            args.insert(args.begin(), "--json");
        CliResult r = RunInShell(env, args, dir);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "tarvo-cli: no audio device was found\n");
        EXPECT_EQ(r.out.find("\"live\""), std::string::npos) << r.out;
    }
}

}  // namespace
}  // namespace tarvo::test
