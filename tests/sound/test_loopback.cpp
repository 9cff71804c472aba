// Playback and recording on a real sound server: the 3 kHz test sound
// played into a null sink and recorded back from its monitor.
#include "CliRunner.h"
#include "PulseServer.h"
#include "WaveBuilder.h"
#include "platform/SoundPlatform.h"
#include "sound/PcmWave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>

namespace tarvo::test {
namespace {

std::map<std::string, std::string> Fields(const std::string& out)
{
    std::map<std::string, std::string> f;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        auto at = line.find(": ");
        if (at != std::string::npos)
            f[line.substr(0, at)] = line.substr(at + 2);
    }
    return f;
}

class Loopback : public ::testing::Test {
protected:
    static void SetUpTestSuite() { server = new PulseServer; }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server->Running()) << server->Why(); }

    static PulseServer* server;
    TempDir dir;
};
PulseServer* Loopback::server = nullptr;

TEST_F(Loopback, ToneRecordedWhileItPlaysReadsAs3kHz)
{
    // 3Khz plays while Rec records three seconds; Max Freqs and the meter
    // read the take, as a scripted bench does in one call.
    CliResult r = RunCli({"--3khz", "--rec", "3", "--stop", "--freqs", "--wow", "--meter"}, dir.Path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    auto f = Fields(r.out);
    EXPECT_EQ(f["Sample Rate"], "22050");
    EXPECT_EQ(f["Bits/sample"], "8");
    ASSERT_NE(f["Aver Freq"], "");
    EXPECT_NEAR(std::stod(f["Aver Freq"]), 3000.0, 22050.0 / 256) << f["Aver Freq"];  // within one bin
    EXPECT_TRUE(f["Wow&Flutter"].ends_with(" %rms")) << f["Wow&Flutter"];
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "temp.wav"));
    ASSERT_NE(f["Meter channel 1 carrier (mean, Hz)"], "") << r.out;
    EXPECT_NEAR(std::stod(f["Meter channel 1 carrier (mean, Hz)"]), 3000.0, 1.0);
}

TEST_F(Loopback, TheInputNamedIsRecorded)
{
    // The remapped source (which Qt lists) and the sink's monitor (which Qt
    // leaves out) each record the tone played for the two seconds asked.
    for (const char* input : {"tarvo_mic", "tarvo_test.monitor"}) {
        SCOPED_TRACE(input);
        CliResult r = RunCli({"--3khz", "--input", input, "--rec", "2", "--stop", "--freqs"}, dir.Path().string());
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        auto f = Fields(r.out);
        EXPECT_EQ(f["Sample Rate"], "22050");
        ASSERT_NE(f["Aver Freq"], "") << r.out;
        EXPECT_NEAR(std::stod(f["Aver Freq"]), 3000.0, 22050.0 / 256) << f["Aver Freq"];  // within one bin
        ASSERT_NE(f["Data Size"], "") << r.out;
        EXPECT_NEAR(std::stod(f["Data Size"]), 2 * 22050.0, 600.0) << f["Data Size"];
    }
}

TEST_F(Loopback, RecordingGoesToTheNameTyped)
{
    CliResult r = RunCli({"--rec-file", "take one.wav", "--wn", "--rec", "1", "--header"}, dir.Path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(dir.Path() / "take one.wav"));
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "temp.wav"));
    EXPECT_EQ(Fields(r.out)["Sample Rate"], "22050");
}

TEST_F(Loopback, AOneSecondTakeHoldsOneSecondOfSamples)
{
    // Data Size is the take's byte count: 22050 for one second at 8-bit mono,
    // give or take the few hundred bytes the device starts and stops in.
    CliResult r = RunCli({"--3khz", "--rec", "1", "--stop"}, dir.Path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string size = Fields(r.out)["Data Size"];
    ASSERT_NE(size, "") << r.out;
    EXPECT_NEAR(std::stod(size), 22050.0, 600.0) << size;
}

TEST_F(Loopback, ASixteenBitFilePlayedDuringATakeReadsBackAtItsFrequency)
{
    // Ply plays the document (16-bit stereo at 44100 Hz, 2000 Hz) while Rec
    // records it; the take becomes the document, and Max Freqs reads it.
    Bytes pcm;
    for (int i = 0; i < 44100 * 4; ++i) {
        const auto v = static_cast<std::uint16_t>(
            static_cast<std::int16_t>(std::lround(16000 * std::sin(2 * M_PI * 2000 * i / 44100.0))));
        for (int c = 0; c < 2; ++c)
            PutU16(pcm, v);
    }
    dir.Write("tone16.wav", Riff({Chunk("fmt ", FmtData(44100, 2, 16)), Chunk("data", pcm)}));
    CliResult r = RunCli({"--ply", "--rec", "2", "--stop", "--freqs", "tone16.wav"}, dir.Path().string());
    ASSERT_EQ(r.status, 0) << r.err;
    auto f = Fields(r.out);
    EXPECT_EQ(f["Sample Rate"], "22050");
    ASSERT_NE(f["Aver Freq"], "") << r.out;
    EXPECT_NEAR(std::stod(f["Aver Freq"]), 2000.0, 22050.0 / 256) << f["Aver Freq"];
}

TEST_F(Loopback, AnInstalledCopyFindsItsTestSoundsAndPlaysThemBack)
{
    // Installed under a prefix of its own and run from an empty folder:
    // bin/tarvo-cli finds its Qt module in lib/tarvo and 3khz.wav in
    // share/tarvo, plays it, and records it back at its frequency.
    namespace fs = std::filesystem;
    const fs::path prefix = dir.Path() / "installed";
    const std::string install = ShellQuote(TARVO_CMAKE_COMMAND) + " --install " + ShellQuote(TARVO_BUILD_DIR) +
                                " --prefix " + ShellQuote(prefix.string()) + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(install.c_str()), 0) << install;
    ASSERT_TRUE(fs::exists(prefix / "bin" / "tarvo-cli"));
    ASSERT_TRUE(fs::exists(prefix / "share" / "tarvo" / "3khz.wav"));
    ASSERT_TRUE(fs::is_directory(prefix / "lib" / "tarvo"));
    const fs::path work = dir.Path() / "empty";
    fs::create_directories(work);
    const std::string out = (dir.Path() / "installed.out").string(), err = (dir.Path() / "installed.err").string();
    const std::string run = "cd " + ShellQuote(work.string()) + " && " + ShellQuote((prefix / "bin" / "tarvo-cli").string()) +
                            " --3khz --rec 2 --stop --freqs >" + ShellQuote(out) + " 2>" + ShellQuote(err) + " </dev/null";
    const int rc = std::system(run.c_str());
    std::ifstream o(out), e(err);
    const std::string text((std::istreambuf_iterator<char>(o)), std::istreambuf_iterator<char>());
    const std::string errors((std::istreambuf_iterator<char>(e)), std::istreambuf_iterator<char>());
    ASSERT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << errors;
    EXPECT_EQ(errors, "");
    auto f = Fields(text);
    ASSERT_NE(f["Aver Freq"], "") << text;
    EXPECT_NEAR(std::stod(f["Aver Freq"]), 3000.0, 22050.0 / 256) << f["Aver Freq"];
    EXPECT_FALSE(fs::exists(work / "3khz.wav"));
}

TEST_F(Loopback, PlatformPlaysEveryKindOfNameAndRecords)
{
    auto sound = SoundPlatform::Create();
    ASSERT_TRUE(sound->HasOutput());
    ASSERT_TRUE(sound->HasInput());
    SoundService& play = sound->Playback();

    const std::string stereo16 = dir.Write("s16.wav", Riff({Chunk("fmt ", FmtData(44100, 2, 16)),
                                                            Chunk("data", Bytes(44100 * 4 / 5, 0))}));
    const std::string mono8 = dir.Write("u8.wav", Wave8(8000, Sine(800, 440, 8000)));
    EXPECT_TRUE(play.Play("SystemAsterisk", SND_ASYNC));
    EXPECT_TRUE(sound->IsPlaying());
    EXPECT_FALSE(play.Play((dir.Path() / "no such sound.wav").string(), SND_ASYNC));  // the default sound
    EXPECT_TRUE(sound->IsPlaying());
    // Played without SND_ASYNC the call returns once the sound has ended.
    EXPECT_TRUE(play.Play(stereo16, 0));
    EXPECT_FALSE(sound->IsPlaying());
    EXPECT_TRUE(play.Play(mono8, SND_ASYNC | SND_LOOP));
    sound->WaitForSound();  // a loop is not waited for
    EXPECT_TRUE(sound->IsPlaying());
    sound->RunFor(0.3);
    EXPECT_TRUE(sound->IsPlaying());  // still looping
    EXPECT_TRUE(play.Play(mono8, SND_ASYNC));
    sound->WaitForSound();
    EXPECT_FALSE(sound->IsPlaying());
    EXPECT_TRUE(play.Play("", SND_ASYNC));
    EXPECT_TRUE(play.Play("", SND_ASYNC));  // twice is harmless
    EXPECT_FALSE(sound->IsPlaying());

    MciDevice& mci = sound->Recorder();
    const std::string take = (dir.Path() / "take.wav").string();
    EXPECT_EQ(mci.SendString("open new type waveaudio alias capture"), MCI_OK);
    EXPECT_EQ(mci.SendString("set capture samplespersec to 22050 wait"), MCI_OK);
    EXPECT_EQ(mci.SendString("record capture"), MCI_OK);
    sound->RunFor(1);
    EXPECT_EQ(mci.SendString("save capture " + take), MCI_OK);
    EXPECT_EQ(mci.SendString("close capture wait"), MCI_OK);
    auto pcm = ReadPcmWaveFile(take);
    ASSERT_TRUE(pcm.has_value());
    EXPECT_EQ(pcm->rate, 22050);
    EXPECT_EQ(pcm->channels, 1);
    EXPECT_EQ(pcm->bits, 8);
    EXPECT_GT(pcm->data.size(), 0u);
}

// Runs tarvo-cli pointed at a sound server that is not there.
CliResult RunWithoutServer(const std::vector<std::string>& args, const TempDir& dir)
{
    const std::string conf = dir.Write("client.conf", std::string("autospawn = no\n"));
    const std::string env = "PULSE_SERVER=" + ShellQuote("unix:" + (dir.Path() / "none").string()) +
                            " PULSE_CLIENTCONFIG=" + ShellQuote(conf) + " ";
    // RunCli runs the program by its path; an env prefix goes in front.
    std::string cmd = "cd " + ShellQuote(dir.Path().string()) + " && " + env + ShellQuote(TARVO_CLI_PATH);
    for (const auto& a : args)
        cmd += " " + ShellQuote(a);
    const std::string out = (dir.Path() / "o").string(), err = (dir.Path() / "e").string();
    cmd += " >" + ShellQuote(out) + " 2>" + ShellQuote(err) + " </dev/null";
    CliResult r;
    int rc = std::system(cmd.c_str());
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    std::ifstream o(out), e(err);
    r.out.assign(std::istreambuf_iterator<char>(o), std::istreambuf_iterator<char>());
    r.err.assign(std::istreambuf_iterator<char>(e), std::istreambuf_iterator<char>());
    return r;
}

TEST(NoSoundServer, RecEndsTheRunAndNoLaterCommandReadsAnOldTake)
{
    // A take of an earlier run lies in the folder. --rec 3600 is accepted,
    // and with no device ends the run at once: nothing reads temp.wav, the
    // meter included, and the one line says why.
    TempDir dir;
    dir.Write("temp.wav", Wave8(22050, Sine(22050 * 3, 3000, 22050)));
    CliResult r = RunWithoutServer({"--3khz", "--rec", "3600", "--stop", "--freqs", "--wow", "--meter"}, dir);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "tarvo-cli: no audio device was found\n");
    auto f = Fields(r.out);
    EXPECT_EQ(f["Aver Freq"], "No WAV file");  // as at start-up: nothing was read
    EXPECT_EQ(f["Sample Rate"], "");
    EXPECT_EQ(r.out.find("Meter"), std::string::npos) << r.out;
    EXPECT_EQ(f["Wow&Flutter"], "");
}

TEST(NoSoundServer, SoundCommandsSayOnceThatNoAudioDeviceWasFound)
{
    TempDir dir;
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
        std::string out = {};  // of --list-inputs
    } cases[] = {
        {{"--3khz"}, 1, "tarvo-cli: no audio device was found\n"},
        {{"--wn", "--ply", "--stop", "--stop"}, 1, "tarvo-cli: no audio device was found\n"},
        // No input device: the run ends there, without waiting and without
        // loading any file as if it were the take.
        {{"--rec", "0"}, 1, "tarvo-cli: no audio device was found\n"},
        {{"--input", "tarvo_mic", "--rec", "0"}, 1, "tarvo-cli: no audio device was found\n"},
        {{"--list-inputs"}, 1, "tarvo-cli: no audio device was found\n"},
        {{"--json", "--list-inputs"}, 1, "tarvo-cli: no audio device was found\n", "{\"inputs\":[]}\n"},
        {{"--clear"}, 0, ""},  // no sound command: the server is never asked
    };
    for (const Case& c : cases) {
        CliResult r = RunWithoutServer(c.args, dir);
        EXPECT_EQ(r.status, c.status) << c.args[0];
        EXPECT_EQ(r.err, c.err) << c.args[0];
        if (c.args.back() == "--list-inputs") {
            EXPECT_EQ(r.out, c.out) << c.args[0];
        }
    }
}

}  // namespace
}  // namespace tarvo::test
