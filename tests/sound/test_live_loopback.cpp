// The live meter on a real sound server: an FM test tone made here is played
// into the null sink while tarvo-cli --meter-live measures what the source
// remapped from its monitor hears.
#include "CliRunner.h"
#include "PulseServer.h"
#include "ToneFile.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

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

TEST(LiveLoopback, FmToneReadsLiveAndAsAWholeRun)
{
    PulseServer server;
    ASSERT_TRUE(server.Running()) << server.Why();
    TempDir dir;
    Tone tone;  // 3150 Hz, 0.1 % at 4 Hz
    tone.mods = {{4, 0.001}};
    const std::string wav = (dir.Path() / "fm.wav").string();
    ASSERT_TRUE(WriteTone(wav, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 14, tone));

    // paplay starts half a second ahead, so that the meter's first half second holds the tone.
    CliResult r = RunInShell("paplay --device=tarvo_test " + ShellQuote(wav) + " >/dev/null 2>&1 & p=$!; sleep 0.5;",
                             {"--json", "--meter-live", "8", "--nominal", "3150"}, dir);
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
