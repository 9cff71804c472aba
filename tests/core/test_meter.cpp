// The standards meter on synthesised tones: the weighting table, the
// two-sigma reading, the bands, drift, the modulation lines, the inputs it
// takes and the files it refuses.
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "meter/Analyser.h"
#include "meter/Dsp.h"
#include "meter/Meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

using namespace tarvo;
using namespace tarvo::test;

namespace {

double Db(double ratio) { return 20 * std::log10(ratio); }

class Meter : public ::testing::Test {
protected:
    meter::MeterResult Measure(const Tone& tone, int format = SF_FORMAT_WAV | SF_FORMAT_PCM_16, int rate = 44100,
                               double seconds = 6, const meter::MeterSettings& settings = {})
    {
        const std::string path = (dir.Path() / "tone.wav").string();
        EXPECT_TRUE(WriteTone(path, format, rate, seconds, tone));
        return meter::RunMeter(path, settings);
    }
    TempDir dir;
};

// The weighting curve relative to 4 Hz and the tolerance of each point.
struct WeightingPoint {
    double hz, db, plus, minus;
};
const WeightingPoint kWeighting[] = {
    {0.1, -48.0, 10, 4}, {0.2, -30.6, 10, 4}, {0.315, -19.7, 4, 4}, {0.4, -15.0, 4, 4}, {0.63, -8.4, 2, 2},
    {0.8, -6.0, 2, 2},   {1, -4.2, 2, 2},     {1.6, -1.8, 2, 2},    {2, -0.9, 2, 2},    {4, 0.0, 0, 0},
    {6.3, -0.9, 2, 2},   {10, -2.1, 2, 2},    {20, -5.9, 2, 2},     {40, -10.4, 2, 2},  {63, -14.2, 4, 4},
    {100, -17.3, 4, 4},  {200, -23.0, 4, 4},
};

TEST(MeterWeighting, FilterFollowsTheTableWellInsideItsTolerances)
{
    for (double rate : {2000.0, 2004.5454, 2205.0}) {
        const meter::Cascade w = meter::WeightingFilter(rate);
        const double ref = std::abs(w.Response(4, rate));
        EXPECT_NEAR(ref, 1.0, 1e-9);
        for (const WeightingPoint& p : kWeighting) {
            const double db = Db(std::abs(w.Response(p.hz, rate)) / ref);
            EXPECT_LE(db, p.db + p.plus) << p.hz << " Hz at " << rate;
            EXPECT_GE(db, p.db - p.minus) << p.hz << " Hz at " << rate;
            EXPECT_NEAR(db, p.db, p.hz > 150 ? 0.5 : 0.35) << p.hz << " Hz at " << rate;
        }
        // The peak stands at 4 Hz: nothing in the band rises above it.
        for (double hz = 0.1; hz < 250; hz *= 1.02)
            EXPECT_LT(Db(std::abs(w.Response(hz, rate)) / ref), 0.05) << hz;
    }
}

TEST(MeterWeighting, UnweightedPathIsFlatFromPointTwoToTwoHundredHz)
{
    const double rate = 2004.5454;
    const meter::Cascade u = meter::UnweightedFilter(rate);
    for (double hz = 0.2; hz <= 200; hz *= 1.05)
        EXPECT_NEAR(std::abs(u.Response(hz, rate)), 1, 0.01) << hz;
    EXPECT_LT(std::abs(u.Response(0.05, rate)), 0.25);
    EXPECT_LT(std::abs(u.Response(0.02, rate)), 0.02);
    EXPECT_LT(std::abs(u.Response(500, rate)), 0.1);
    // A low carrier's band ends at a quarter of it.
    const meter::Cascade low = meter::UnweightedFilter(rate, 25);
    EXPECT_NEAR(std::abs(low.Response(25, rate)), 1, 0.01);
    EXPECT_LT(std::abs(low.Response(60, rate)), 0.1);
}

TEST(MeterWeighting, WowAndFlutterSplitAtSixHertz)
{
    const double rate = 2004.5454;
    const meter::Cascade wow = meter::WowFilter(rate), flutter = meter::FlutterFilter(rate);
    EXPECT_LT(std::abs(flutter.Response(4, rate)), 0.01);
    EXPECT_LT(std::abs(wow.Response(10, rate)), 0.01);
    for (double hz : {0.2, 1.0, 4.0})
        EXPECT_NEAR(std::abs(wow.Response(hz, rate)), 1, 0.01) << hz;
    for (double hz : {10.0, 50.0, 200.0})
        EXPECT_NEAR(std::abs(flutter.Response(hz, rate)), 1, 0.01) << hz;
}

TEST(MeterStatistics, LevelExceededFivePercentOfTheTime)
{
    meter::LevelHistogram h(1.0);
    for (int i = 1; i <= 100000; ++i)
        h.Add(i / 100000.0);
    EXPECT_NEAR(h.Exceeded(0.05), 0.95, 0.002);
    EXPECT_NEAR(h.Exceeded(0.5), 0.5, 0.002);
    meter::LevelHistogram empty(1.0);
    EXPECT_EQ(empty.Exceeded(0.05), 0);
}

// 3150 Hz, 0.1 % at 4 Hz: weighted 2-sigma 0.100 % and unweighted rms
// 0.0707 %, each within 2 %, whatever the rate and the sample format.
TEST_F(Meter, FourHertzReadsAtEveryRateAndDepth)
{
    const std::pair<int, const char*> formats[] = {{SF_FORMAT_PCM_U8, "8-bit"},
                                                   {SF_FORMAT_PCM_16, "16-bit"},
                                                   {SF_FORMAT_PCM_24, "24-bit"},
                                                   {SF_FORMAT_FLOAT, "float"}};
    Tone tone;
    tone.mods = {{4, 0.001}};
    for (int rate : {22050, 44100, 48000})
        for (const auto& [format, name] : formats) {
            const meter::MeterResult r = Measure(tone, SF_FORMAT_WAV | format, rate);
            ASSERT_TRUE(r.ok) << r.message;
            ASSERT_EQ(r.channels.size(), 1u);
            const meter::ChannelFigures& c = r.channels[0];
            EXPECT_NEAR(c.weighted.twoSigmaPercent, 0.100, 0.002) << rate << " " << name;
            EXPECT_NEAR(c.unweighted.rmsPercent, 0.0707, 0.0707 * 0.02) << rate << " " << name;
            EXPECT_NEAR(c.weighted.rmsPercent, 0.0707, 0.0707 * 0.02) << rate << " " << name;
            EXPECT_NEAR(c.wowRmsPercent, 0.0707, 0.0707 * 0.02) << rate << " " << name;
            EXPECT_NEAR(c.carrierHz, 3150, 0.01) << rate << " " << name;
            EXPECT_DOUBLE_EQ(c.seconds, 6.0);
        }
}

// The weighted reading of 0.1 % at other rates follows the table within 0.5 dB.
TEST_F(Meter, WeightedReadingFollowsTheTable)
{
    const std::pair<double, double> points[] = {{0.8, -6.0}, {1.6, -1.8}, {10, -2.1}, {20, -5.9}, {100, -17.3}};
    for (const auto& [hz, db] : points) {
        Tone tone;
        tone.mods = {{hz, 0.001}};
        const meter::MeterResult r = Measure(tone, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 8);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_NEAR(Db(r.channels[0].weighted.twoSigmaPercent / 0.1), db, 0.5) << hz << " Hz";
    }
}

TEST_F(Meter, CleanToneReadsNothing)
{
    const meter::MeterResult r = Measure(Tone{}, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 6);
    ASSERT_TRUE(r.ok) << r.message;
    const meter::ChannelFigures& c = r.channels[0];
    for (double v : {c.weighted.twoSigmaPercent, c.weighted.rmsPercent, c.unweighted.twoSigmaPercent,
                     c.unweighted.rmsPercent, c.wowRmsPercent, c.flutterRmsPercent, c.driftPercent})
        EXPECT_LT(v, 0.002);
    for (const meter::ModulationLine& m : c.modulation)
        EXPECT_LT(m.percent, 0.002);
    EXPECT_NEAR(c.carrierHz, 3150, 0.001);
}

TEST_F(Meter, ModulationLinesNameBothSources)
{
    Tone tone;
    tone.carrier = 3000;
    tone.mods = {{4, 0.0005}, {33, 0.0002}};
    const meter::MeterResult r = Measure(tone, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 8);
    ASSERT_TRUE(r.ok) << r.message;
    const auto& lines = r.channels[0].modulation;
    ASSERT_GE(lines.size(), 2u);
    EXPECT_NEAR(lines[0].hz, 4, 0.1);
    EXPECT_NEAR(lines[0].percent, 0.05, 0.05 * 0.05);
    EXPECT_NEAR(lines[1].hz, 33, 0.1);
    EXPECT_NEAR(lines[1].percent, 0.02, 0.02 * 0.05);
    EXPECT_NEAR(r.channels[0].carrierHz, 3000, 0.01);
    // Wow carries the 4 Hz line, flutter the 33 Hz one (rms = peak / sqrt 2).
    EXPECT_NEAR(r.channels[0].wowRmsPercent, 0.05 / std::sqrt(2), 0.002);
    EXPECT_NEAR(r.channels[0].flutterRmsPercent, 0.02 / std::sqrt(2), 0.002);
}

TEST_F(Meter, SlowDriftShowsAsDriftAndNotAsFlutter)
{
    Tone tone;
    tone.ramp = 0.002;
    const meter::MeterResult r = Measure(tone, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 30);
    ASSERT_TRUE(r.ok) << r.message;
    const meter::ChannelFigures& c = r.channels[0];
    // The 2-second means of a ramp rising 0.2 % over 30 s span 28/30 of it.
    EXPECT_NEAR(c.driftPercent, 0.2 * 28 / 30, 0.002);
    EXPECT_NEAR(c.carrierHz, 3150 * 1.001, 0.05);
    for (double v : {c.weighted.twoSigmaPercent, c.weighted.rmsPercent, c.flutterRmsPercent})
        EXPECT_LT(v, 0.002);
    // The band reaches down to 0.2 Hz: the ramp's start passes a little.
    for (double v : {c.unweighted.twoSigmaPercent, c.wowRmsPercent})
        EXPECT_LT(v, 0.02);
}

TEST_F(Meter, EachChannelOfAStereoFileHasItsOwnFigures)
{
    Tone left, right;
    left.mods = {{4, 0.001}};
    right.carrier = 1000;
    right.mods = {{20, 0.0005}};
    const std::string path = (dir.Path() / "stereo.wav").string();
    ASSERT_TRUE(WriteTones(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 48000, 6, {left, right}));
    const meter::MeterResult r = meter::RunMeter(path, {});
    ASSERT_TRUE(r.ok) << r.message;
    ASSERT_EQ(r.channels.size(), 2u);
    EXPECT_EQ(r.channels[0].channel, 1);
    EXPECT_EQ(r.channels[1].channel, 2);
    EXPECT_NEAR(r.channels[0].carrierHz, 3150, 0.01);
    EXPECT_NEAR(r.channels[1].carrierHz, 1000, 0.01);
    EXPECT_NEAR(r.channels[0].weighted.twoSigmaPercent, 0.100, 0.002);
    EXPECT_NEAR(Db(r.channels[1].weighted.twoSigmaPercent / 0.05), -5.9, 0.5);
    EXPECT_NEAR(r.channels[0].flutterRmsPercent, 0, 0.005);
    EXPECT_NEAR(r.channels[1].flutterRmsPercent, 0.05 / std::sqrt(2), 0.001);
    EXPECT_NEAR(r.channels[1].modulation.at(0).hz, 20, 0.1);

    meter::MeterSettings second;
    second.channels = {2};
    const meter::MeterResult only = meter::RunMeter(path, second);
    ASSERT_TRUE(only.ok) << only.message;
    ASSERT_EQ(only.channels.size(), 1u);
    EXPECT_EQ(only.channels[0].channel, 2);
    EXPECT_DOUBLE_EQ(only.channels[0].weighted.twoSigmaPercent, r.channels[1].weighted.twoSigmaPercent);
}

TEST_F(Meter, ContainersAndLayoutsLibsndfileReads)
{
    Tone tone;
    tone.mods = {{4, 0.001}};
    const std::pair<int, const char*> kinds[] = {{SF_FORMAT_FLAC | SF_FORMAT_PCM_16, "t.flac"},
                                                 {SF_FORMAT_RF64 | SF_FORMAT_FLOAT, "t.rf64"},
                                                 {SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, "tx.wav"},
                                                 {SF_FORMAT_WAV | SF_FORMAT_PCM_32, "t32.wav"}};
    for (const auto& [format, name] : kinds) {
        const std::string path = (dir.Path() / name).string();
        ASSERT_TRUE(WriteTone(path, format, 44100, 6, tone)) << name;
        const meter::MeterResult r = meter::RunMeter(path, {});
        ASSERT_TRUE(r.ok) << name << ": " << r.message;
        EXPECT_NEAR(r.channels[0].weighted.twoSigmaPercent, 0.100, 0.002) << name;
    }
}

TEST_F(Meter, GivenCarrierIsFollowedAndRateOf8000Works)
{
    Tone tone;
    tone.carrier = 1000;
    tone.mods = {{4, 0.001}};
    meter::MeterSettings s;
    s.carrierHz = 1003;  // a little off: the mean is measured, not assumed
    const meter::MeterResult r = Measure(tone, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 6, s);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_NEAR(r.channels[0].carrierHz, 1000, 0.01);
    EXPECT_NEAR(r.channels[0].weighted.twoSigmaPercent, 0.100, 0.002);
}

// Files the meter cannot use: one clear message and no figures.
TEST_F(Meter, UnusableFilesGiveOneMessage)
{
    struct Case {
        const char* what;
        std::function<std::string()> make;
        meter::MeterSettings settings;
        const char* message;
    };
    auto tone = [&](const char* name, double carrier, double seconds, double amplitude) {
        Tone t;
        t.carrier = carrier;
        t.amplitude = amplitude;
        const std::string p = (dir.Path() / name).string();
        WriteTone(p, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, seconds, t);
        return p;
    };
    auto noise = [&] {
        const std::string p = (dir.Path() / "noise.wav").string();
        SF_INFO info{};
        info.samplerate = 44100;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(p.c_str(), SFM_WRITE, &info);
        std::mt19937 rng(7);
        std::normal_distribution<float> n(0, 0.2f);
        std::vector<float> v(44100 * 4);
        for (float& x : v)
            x = n(rng);
        sf_writef_float(f, v.data(), static_cast<sf_count_t>(v.size()));
        sf_close(f);
        return p;
    };
    auto broken = [&] {
        Tone t;
        const std::string p = (dir.Path() / "broken.flac").string();
        WriteTone(p, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 6, t);
        std::filesystem::resize_file(p, std::filesystem::file_size(p) / 2);
        return p;
    };
    meter::MeterSettings third;
    third.channels = {3};
    meter::MeterSettings wrongCarrier;
    wrongCarrier.carrierHz = 6000;
    const Case cases[] = {
        {"not audio", [&] { return dir.Write("text.wav", std::string("not a sound file at all\n")); }, {},
         "The meter cannot read text.wav: "},
        {"missing", [&] { return (dir.Path() / "absent.wav").string(); }, {}, "Cannot open the file \""},
        {"short", [&] { return tone("short.wav", 3150, 1.5, 0.5); }, {},
         "The meter needs at least 2 seconds of sound; short.wav lasts 1.50 s."},
        {"too low", [&] { return tone("low.wav", 30, 4, 0.5); }, {},
         "No tone between 50 and 20000 Hz in channel 1 of low.wav."},
        {"silence", [&] { return tone("silence.wav", 3150, 4, 0); }, {},
         "No tone between 50 and 20000 Hz in channel 1 of silence.wav."},
        {"noise", noise, {}, "No tone between 50 and 20000 Hz in channel 1 of noise.wav."},
        {"channel", [&] { return tone("mono.wav", 3150, 4, 0.5); }, third, "mono.wav has no channel 3; it has 1."},
        {"broken off", broken, {}, "The meter could not read all of broken.flac: the file breaks off before the 6.00 s its header gives."},
        {"carrier", [&] { return tone("other.wav", 3150, 4, 0.5); }, wrongCarrier,
         "No tone near 6000.0 Hz in channel 1 of other.wav."},
    };
    for (const Case& c : cases) {
        const meter::MeterResult r = meter::RunMeter(c.make(), c.settings);
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_TRUE(r.channels.empty()) << c.what;
        EXPECT_EQ(r.message.substr(0, std::string(c.message).size()), c.message) << c.what << ": " << r.message;
    }
}

TEST_F(Meter, ProgressRunsToTheEndAndCancelStops)
{
    Tone tone;
    tone.mods = {{4, 0.001}};
    const std::string path = (dir.Path() / "tone.wav").string();
    ASSERT_TRUE(WriteTone(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 6, tone));
    std::vector<double> seen;
    meter::MeterResult r = meter::RunMeter(path, {}, [&](double f) {
        seen.push_back(f);
        return true;
    });
    ASSERT_TRUE(r.ok);
    ASSERT_GT(seen.size(), 10u);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_DOUBLE_EQ(seen.back(), 1.0);

    int calls = 0;
    r = meter::RunMeter(path, {}, [&](double) { return ++calls < 3; });
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.cancelled);
    EXPECT_TRUE(r.channels.empty());
    EXPECT_EQ(calls, 3);
}

TEST_F(Meter, CsvTrackCarriesTheDeviation)
{
    Tone tone;
    tone.mods = {{4, 0.001}};
    const std::string path = (dir.Path() / "tone.wav").string();
    ASSERT_TRUE(WriteTone(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 4, tone));
    const meter::MeterResult r = meter::RunMeter(path, {});
    ASSERT_TRUE(r.ok);
    const std::string csv = (dir.Path() / "track.csv").string();
    std::string error;
    ASSERT_TRUE(meter::WriteMeterCsv(path, {}, r, csv, error)) << error;
    std::ifstream in(csv);
    std::string line, header;
    int rows = 0;
    double peak = 0, lastTime = -1;
    bool ordered = true;
    while (std::getline(in, line)) {
        if (line.starts_with("#"))
            continue;
        if (header.empty()) {
            header = line;
            continue;
        }
        double t = 0, dev = 0, w = 0;
        ASSERT_EQ(std::sscanf(line.c_str(), "%lf,%lf,%lf", &t, &dev, &w), 3) << line;
        ordered = ordered && t > lastTime;
        lastTime = t;
        if (t > 1)
            peak = std::max(peak, std::abs(dev));
        ++rows;
    }
    EXPECT_EQ(header, "time_s,ch1_deviation_percent,ch1_weighted_percent");
    EXPECT_TRUE(ordered);
    EXPECT_NEAR(rows, 4 * 2004.5, 20);
    EXPECT_NEAR(peak, 0.1, 0.002);
    EXPECT_NEAR(lastTime, 4, 0.05);
}

}  // namespace
