// The sound core: WAVE files for playback and recording, the conversion of
// captured audio, the test sounds, where a sound file is looked for, and
// the recorder's command strings on a fake capture device.
#include "FakeSound.h"
#include "ViewFixture.h"
#include "sound/Mci.h"
#include "sound/PcmWave.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

namespace tarvo::test {
namespace {

Bytes ReadAll(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------- WAVE files

TEST(PcmWave, ParsesThePlayableFormatsAndRefusesTheRest)
{
    const Bytes frames(8, 0x40);
    struct Case {
        const char* what;
        Bytes bytes;
        bool ok;
        int rate, channels, bits;
        size_t dataBytes;
    } cases[] = {
        {"8-bit mono", Riff({Chunk("fmt ", FmtData(22050, 1, 8)), Chunk("data", frames)}), true, 22050, 1, 8, 8},
        {"16-bit stereo", Riff({Chunk("fmt ", FmtData(44100, 2, 16)), Chunk("data", frames)}), true, 44100, 2, 16,
         8},
        {"a list chunk between", Riff({Chunk("fmt ", FmtData(8000, 1, 16)), Chunk("LIST", Bytes(3, 1)),
                                       Chunk("data", frames)}),
         true, 8000, 1, 16, 8},
        {"data cut to whole frames", Riff({Chunk("fmt ", FmtData(8000, 2, 16)), Chunk("data", Bytes(7, 1))}), true,
         8000, 2, 16, 4},
        {"data larger than the file", Riff({Chunk("fmt ", FmtData(8000, 1, 8)), Chunk("data", frames, 100000)}),
         true, 8000, 1, 8, 8},
        {"24 bits", Riff({Chunk("fmt ", FmtData(8000, 1, 24)), Chunk("data", frames)}), false, 0, 0, 0, 0},
        {"three channels", Riff({Chunk("fmt ", FmtData(8000, 3, 8)), Chunk("data", frames)}), false, 0, 0, 0, 0},
        {"not PCM", Riff({Chunk("fmt ", FmtData(8000, 1, 8, 3)), Chunk("data", frames)}), false, 0, 0, 0, 0},
        {"rate 0", Riff({Chunk("fmt ", FmtData(0, 1, 8)), Chunk("data", frames)}), false, 0, 0, 0, 0},
        {"data before fmt", Riff({Chunk("data", frames), Chunk("fmt ", FmtData(8000, 1, 8))}), false, 0, 0, 0, 0},
        {"no data", Riff({Chunk("fmt ", FmtData(8000, 1, 8))}), false, 0, 0, 0, 0},
        {"not RIFF", Riff({Chunk("fmt ", FmtData(8000, 1, 8)), Chunk("data", frames)}, "RIFX"), false, 0, 0, 0, 0},
        {"empty", Bytes(), false, 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        auto pcm = ParsePcmWave(c.bytes);
        ASSERT_EQ(pcm.has_value(), c.ok) << c.what;
        if (!pcm)
            continue;
        EXPECT_EQ(pcm->rate, c.rate) << c.what;
        EXPECT_EQ(pcm->channels, c.channels) << c.what;
        EXPECT_EQ(pcm->bits, c.bits) << c.what;
        EXPECT_EQ(pcm->data.size(), c.dataBytes) << c.what;
    }
}

TEST(PcmWave, WrittenRecordingIsTheHeaderCommandsFormat)
{
    TempDir dir;
    const std::vector<unsigned char> samples{1, 2, 3};  // odd: a pad byte follows
    const std::string path = (dir.Path() / "rec.wav").string();
    ASSERT_TRUE(WriteWave8MonoFile(path, 22050, samples));
    const Bytes bytes = ReadAll(path);
    EXPECT_EQ(bytes, Riff({Chunk("fmt ", FmtData(22050, 1, 8)), Chunk("data", samples)}));
    EXPECT_FALSE(WriteWave8MonoFile((dir.Path() / "no such folder" / "rec.wav").string(), 22050, samples));
    EXPECT_FALSE(WriteWave8MonoFile("", 22050, samples));
}

// ----------------------------------------------------------------- conversion

// Frequency of a run of 8-bit samples from its rising zero crossings.
double CrossingFrequency(const std::vector<unsigned char>& s, int rate)
{
    int first = -1, last = -1, count = 0;
    for (size_t i = 1; i < s.size(); ++i) {
        if (s[i - 1] < 128 && s[i] >= 128) {
            if (first < 0)
                first = static_cast<int>(i);
            last = static_cast<int>(i);
            ++count;
        }
    }
    return count > 1 ? (count - 1) * static_cast<double>(rate) / (last - first) : 0;
}

TEST(Conversion, AnyCapturedFormatBecomes8BitMonoAtTheRateSet)
{
    const CaptureFormat formats[] = {
        {22050, 1, SampleKind::UInt8}, {48000, 2, SampleKind::Int16}, {44100, 1, SampleKind::Int32},
        {44100, 2, SampleKind::Float}, {11025, 1, SampleKind::Int16}, {96000, 6, SampleKind::Float},
    };
    for (const CaptureFormat& f : formats) {
        SCOPED_TRACE(std::to_string(f.rate) + " Hz, " + std::to_string(f.channels) + " channels");
        const auto bytes = ToneBytes(f, 1000, f.rate);  // one second
        const auto out = ConvertToMono8(bytes, f, 22050);
        EXPECT_NEAR(static_cast<double>(out.size()), 22050, 1);
        EXPECT_NEAR(CrossingFrequency(out, 22050), 1000, 2);
        const auto [lo, hi] = std::minmax_element(out.begin(), out.end());
        EXPECT_NEAR(*hi, 128 + 64, 2);  // half of full scale stays half
        EXPECT_NEAR(*lo, 128 - 64, 2);
    }
}

TEST(Conversion, KeepsSamplesAtTheSameRateAndClipsWhatIsOutOfRange)
{
    const std::vector<unsigned char> u8{0, 128, 255, 7};
    EXPECT_EQ(ConvertToMono8(u8, {22050, 1, SampleKind::UInt8}, 22050), u8);
    // Two channels in opposition cancel; a partial frame at the end is dropped.
    EXPECT_EQ(ConvertToMono8({0, 255, 255, 0, 9}, {8000, 2, SampleKind::UInt8}, 8000),
              (std::vector<unsigned char>{128, 128}));
    // Floats beyond full scale (and a NaN) stay within the byte's range.
    const float big[] = {4.0f, -4.0f, std::nanf("")};
    std::vector<unsigned char> fb(sizeof big);
    std::memcpy(fb.data(), big, sizeof big);
    EXPECT_EQ(ConvertToMono8(fb, {8000, 1, SampleKind::Float}, 8000), (std::vector<unsigned char>{255, 0, 128}));
    EXPECT_TRUE(ConvertToMono8({}, {8000, 1, SampleKind::Int16}, 8000).empty());
    EXPECT_TRUE(ConvertToMono8({1, 2}, {8000, 0, SampleKind::UInt8}, 8000).empty());
}

// ------------------------------------------------------------ the test sounds

TEST(TestSounds, ToneIsOneSecondOfWholePeriodsSoItsLoopHasNoClick)
{
    const auto tone = ToneSamples(3000, 3000);
    ASSERT_EQ(tone.size(), 22050u);
    EXPECT_NEAR(CrossingFrequency(tone, 22050), 3000, 1);
    // The step from the last sample back to the first is no larger than
    // the steps inside the tone.
    int largest = 0;
    for (size_t i = 1; i < tone.size(); ++i)
        largest = std::max(largest, std::abs(tone[i] - tone[i - 1]));
    EXPECT_LE(std::abs(tone.front() - tone.back()), largest);
    EXPECT_EQ(tone.front(), 128);
}

TEST(TestSounds, NoiseIsRepeatableAndUnclipped)
{
    const auto a = WhiteNoiseSamples(44100), b = WhiteNoiseSamples(44100);
    EXPECT_EQ(a, b);
    std::set<unsigned char> values(a.begin(), a.end());
    EXPECT_GT(values.size(), 100u);
    EXPECT_GE(*values.begin(), 1);
    EXPECT_LE(*values.rbegin(), 254);
}

TEST(SoundNames, BuiltInSoundsAndTheDefault)
{
    for (const char* name : {"SystemDefault", "systemasterisk", "SYSTEMEXCLAMATION", "SystemHand", "SystemQuestion"})
        EXPECT_TRUE(BuiltInSound(name).has_value()) << name;
    for (const char* name : {"", "Untitled", "3khz.wav", "SystemDefault "})
        EXPECT_FALSE(BuiltInSound(name).has_value()) << name;
    const PcmSound& d = DefaultSound();
    ASSERT_GT(d.data.size(), 0u);
    EXPECT_LT(d.data.size(), static_cast<size_t>(d.rate));  // short: under a second
}

TEST(SoundNames, FileIsLookedForHereThenBesideTheProgramThenInTheDataFolder)
{
    struct Case {
        const char* name;
        std::set<std::string> present;
        const char* found;
    } cases[] = {
        {"3khz.wav", {"3khz.wav", "/prog/3khz.wav", "/data/3khz.wav"}, "3khz.wav"},
        {"3khz.wav", {"/prog/3khz.wav", "/data/3khz.wav"}, "/prog/3khz.wav"},
        {"3khz.wav", {"/data/3khz.wav"}, "/data/3khz.wav"},
        {"3khz.wav", {}, ""},
        {"/abs/x.wav", {"/prog//abs/x.wav", "/prog/abs/x.wav"}, ""},  // an absolute name is only itself
        {"/abs/x.wav", {"/abs/x.wav"}, "/abs/x.wav"},
        {"", {"/prog/"}, ""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> asked;
        std::string got = ResolveSoundFile(c.name, "/prog", "/data/", [&](const std::string& p) {
            asked.push_back(p);
            return c.present.count(p) > 0;
        });
        EXPECT_EQ(got, c.found) << c.name << " with " << c.present.size() << " present";
    }
}

// ------------------------------------------------------------------ recorder

class Recorder : public ViewTest {
protected:
    FakeCaptureLog log;
    CommandRecorder recorder{FakeCaptureFactory(log)};
    unsigned Send(const std::string& s) { return recorder.SendString(s); }
};

TEST_F(Recorder, AcceptsExactlyTheDialogsStrings)
{
    const char* refused[] = {
        "",
        "open new type waveaudio alias Capture",
        "open new type waveaudio alias capture wait",
        " record capture",
        "record capture ",
        "play capture",
        "save capture",
        "save capture ",
        "set capture samplespersec to  wait",
        "set capture samplespersec to 22050",
        "set capture samplespersec to 22.05 wait",
        "set capture samplespersec to -1 wait",
        "close capture",
    };
    ASSERT_EQ(Send("open new type waveaudio alias capture"), MCI_OK);
    for (const char* s : refused)
        EXPECT_EQ(Send(s), MCIERR_UNRECOGNIZED_COMMAND) << '"' << s << '"';
    std::string reply;
    EXPECT_EQ(recorder.SendString("status capture mode", &reply), MCIERR_UNRECOGNIZED_COMMAND);
    EXPECT_EQ(reply, "The command is not recognized.");
    EXPECT_TRUE(log.startedAt.empty());
}

TEST_F(Recorder, CommandsOutOfTurnFailWithoutTouchingTheDevice)
{
    EXPECT_EQ(Send("record capture"), MCIERR_DEVICE_NOT_OPEN);
    EXPECT_EQ(Send("set capture samplespersec to 22050 wait"), MCIERR_DEVICE_NOT_OPEN);
    EXPECT_EQ(Send("save capture x.wav"), MCIERR_DEVICE_NOT_OPEN);
    EXPECT_EQ(Send("close capture wait"), MCIERR_DEVICE_NOT_OPEN);
    EXPECT_EQ(Send("open new type waveaudio alias capture"), MCI_OK);
    EXPECT_EQ(Send("open new type waveaudio alias capture"), MCIERR_DEVICE_OPEN);
    EXPECT_EQ(Send("set capture samplespersec to 999 wait"), MCIERR_OUTOFRANGE);
    EXPECT_EQ(Send("set capture samplespersec to 192001 wait"), MCIERR_OUTOFRANGE);
    EXPECT_EQ(recorder.Rate(), CommandRecorder::kDefaultRate);
    // Saved before anything was recorded: no file.
    EXPECT_EQ(Send("save capture " + (dir.Path() / "none.wav").string()), MCIERR_FILE_NOT_SAVED);
    EXPECT_FALSE(std::filesystem::exists(dir.Path() / "none.wav"));
    EXPECT_EQ(log.live, 1);
    EXPECT_EQ(Send("close capture wait"), MCI_OK);
    EXPECT_EQ(log.live, 0);
    EXPECT_TRUE(log.startedAt.empty());
}

TEST_F(Recorder, WithoutAnInputDeviceNothingOpensAndNothingIsWritten)
{
    CommandRecorder none([] { return std::unique_ptr<CaptureSource>(); });
    const std::string path = (dir.Path() / "temp.wav").string();
    EXPECT_EQ(none.SendString("open new type waveaudio alias capture"), MCIERR_NO_DEVICE);
    EXPECT_EQ(none.SendString("set capture samplespersec to 22050 wait"), MCIERR_DEVICE_NOT_OPEN);
    EXPECT_EQ(none.SendString("record capture"), MCIERR_DEVICE_NOT_OPEN);
    EXPECT_EQ(none.SendString("save capture " + path), MCIERR_DEVICE_NOT_OPEN);
    EXPECT_EQ(none.SendString("close capture wait"), MCIERR_DEVICE_NOT_OPEN);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST_F(Recorder, RecordingFromAStereo48kDeviceReadsAsA22050HzToneOf3kHz)
{
    const std::string path = (dir.Path() / "my take.wav").string();  // a blank, unquoted
    EXPECT_EQ(Send("open new type waveaudio alias capture"), MCI_OK);
    EXPECT_EQ(Send("set capture samplespersec to 22050 wait"), MCI_OK);
    EXPECT_EQ(Send("record capture"), MCI_OK);
    EXPECT_TRUE(recorder.IsRecording());
    EXPECT_EQ(Send("save capture " + path), MCI_OK);
    EXPECT_FALSE(recorder.IsRecording());
    EXPECT_EQ(Send("close capture wait"), MCI_OK);
    EXPECT_EQ(log.startedAt, std::vector<int>{22050});
    EXPECT_EQ(log.stops, 1);
    EXPECT_EQ(log.live, 0);

    ASSERT_TRUE(docTemplate.OpenDocumentFile(path));
    view.OnCmdMsg(IDC_GETHEADER);
    EXPECT_EQ(Field(IDC_SAMPLERATE), "22050");
    EXPECT_EQ(Field(IDC_BITSPERSAMPLE), "8");
    EXPECT_EQ(Field(IDC_DATASIZE), "44100");
    view.OnCmdMsg(IDC_MAXFREQS);
    EXPECT_TRUE(form.Messages().empty());
    const double aver = std::stod(Field(IDC_AVERFREQ));
    EXPECT_NEAR(aver, 3000, 22050.0 / 256);  // within one bin
}

TEST_F(Recorder, SaveToAFolderThatIsNotThereFailsAndCloseStopsARunningTake)
{
    Send("open new type waveaudio alias capture");
    Send("record capture");
    EXPECT_EQ(Send("save capture " + (dir.Path() / "missing" / "t.wav").string()), MCIERR_FILE_NOT_SAVED);
    Send("record capture");
    EXPECT_EQ(Send("close capture wait"), MCI_OK);
    EXPECT_EQ(log.stops, 2);
    EXPECT_EQ(log.live, 0);
    // The device of a recorder that goes away while recording is stopped.
    {
        CommandRecorder other(FakeCaptureFactory(log));
        other.SendString("open new type waveaudio alias capture");
        other.SendString("record capture");
    }
    EXPECT_EQ(log.stops, 3);
    EXPECT_EQ(log.live, 0);
}

}  // namespace
}  // namespace tarvo::test
