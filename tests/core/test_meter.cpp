// The standards meter on synthesised tones: the weighting table, the
// two-sigma reading, the bands, drift, the modulation lines, the inputs it
// takes and the files it refuses.
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "meter/Analyser.h"
#include "meter/Demodulator.h"
#include "meter/Dsp.h"
#include "meter/Meter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
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

// The rates the meter's filters run at: the demodulator's track rate for
// files of these sample rates (about 2 kHz, from 1837.5 to 2250).
std::vector<double> TrackRates()
{
    std::vector<double> rates;
    for (int rate : {8000, 9000, 11025, 22050, 44100, 48000, 96000})
        rates.push_back(meter::Demodulator(rate, 3150).OutputRate());
    return rates;
}

// A Butterworth filter passes its corner at 1/sqrt 2 at every corner and rate the
// meter uses; `corner` finds the corner that gives `gain` at `edge`.
TEST(MeterDsp, ButterworthFiltersPassTheirCornersAtMinusThreeDecibels)
{
    auto corner = [](double edge, double gain, int order, bool high) {
        const double k = std::pow(1 / (gain * gain) - 1, 1.0 / (2 * order));
        return high ? edge * k : edge / k;
    };
    struct Design {
        const char* what;
        int order;
        double hz;
        bool high;
    };
    for (double rate : TrackRates()) {
        const Design designs[] = {
            {"wow's low-pass", 12, 6, false},
            {"flutter's high-pass", 12, 6, true},
            {"band top, 0.997 at 200 Hz", 8, corner(200, 0.997, 8, false), false},
            {"band top, 0.997 at 100 Hz (a 400 Hz carrier)", 8, corner(100, 0.997, 8, false), false},
            {"band top, 0.997 at 12.5 Hz (a 50 Hz carrier)", 8, corner(12.5, 0.997, 8, false), false},
            {"band bottom, 0.997 at 0.2 Hz", 3, corner(0.2, 0.997, 3, true), true},
            {"anti-alias", 6, std::min(400.0, 0.2 * rate), false},
        };
        for (const Design& d : designs) {
            const meter::Cascade f = d.high ? meter::ButterworthHighPass(d.order, d.hz, rate)
                                            : meter::ButterworthLowPass(d.order, d.hz, rate);
            EXPECT_NEAR(std::abs(f.Response(d.hz, rate)) * std::sqrt(2.0), 1, 1e-8) << d.what << " at " << rate;
        }
    }
}

// Wow and flutter part at 6 Hz; the unweighted band passes 0.2 Hz at 0.997 and
// ripples within 0.3 % up to its top, then falls.
TEST(MeterDsp, PathsMeetTheirEdgesAtTheirDesignedGains)
{
    for (double rate : TrackRates()) {
        EXPECT_NEAR(std::abs(meter::WowFilter(rate).Response(6, rate)), 1 / std::sqrt(2.0), 1e-8) << rate;
        EXPECT_NEAR(std::abs(meter::FlutterFilter(rate).Response(6, rate)), 1 / std::sqrt(2.0), 1e-8) << rate;
        for (double hz : {0.2, 1.0, 4.0, 10.0, 50.0, 200.0}) {
            const meter::Cascade& pass = hz < 6 ? meter::WowFilter(rate) : meter::FlutterFilter(rate);
            EXPECT_NEAR(std::abs(pass.Response(hz, rate)), 1, 0.01) << hz << " Hz at " << rate;
        }
        EXPECT_LT(std::abs(meter::FlutterFilter(rate).Response(4, rate)), 0.01) << rate;
        EXPECT_LT(std::abs(meter::WowFilter(rate).Response(10, rate)), 0.01) << rate;
        for (double top : {200.0, 100.0, 12.5}) {
            const meter::Cascade u = meter::UnweightedFilter(rate, top);
            EXPECT_NEAR(std::abs(u.Response(top, rate)), 1, 1e-4) << top << " Hz at " << rate;
            for (double f = 1; f < top; f += top / 500) {
                const double g = std::abs(u.Response(f, rate));
                ASSERT_GE(g, 1 - 1e-4) << f << " Hz in a band to " << top << " at " << rate;
                ASSERT_LE(g, 1 / 0.997 + 1e-6) << f << " Hz in a band to " << top << " at " << rate;
            }
            EXPECT_LT(std::abs(u.Response(1.04 * top, rate)), 1 / std::sqrt(2.0)) << top << " Hz at " << rate;
            EXPECT_LT(std::abs(u.Response(1.3 * top, rate)), 1e-3) << top << " Hz at " << rate;
            EXPECT_NEAR(std::abs(u.Response(0.2, rate)), 0.997, 2e-4) << top << " Hz band at " << rate;
            EXPECT_LT(std::abs(u.Response(0.05, rate)), 0.25) << top << " Hz band at " << rate;
            EXPECT_LT(std::abs(u.Response(0.02, rate)), 0.02) << top << " Hz band at " << rate;
        }
    }
}

// The periodic Hann window: its shifts by N/2 add up to 1.
TEST(MeterDsp, HannWindowIsThePeriodicOne)
{
    for (size_t n : {2, 3, 4, 7, 64, 1000, 1024, 4096, 65536}) {
        const std::vector<double> w = meter::HannWindow(n);
        ASSERT_EQ(w.size(), n);
        for (size_t i = 0; i < n; ++i)
            ASSERT_NEAR(w[i], 0.5 - 0.5 * std::cos(2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n)),
                        1e-15)
                << i << " of " << n;
        if (n % 2 == 0) {
            for (size_t i = 0; i < n / 2; ++i)
                ASSERT_NEAR(w[i] + w[i + n / 2], 1, 1e-15) << i << " of " << n;
        }
    }
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

// 0.1 % at 4 Hz: weighted 2-sigma 0.100 % and rms 0.0707 %, each within 2 %,
// whatever the rate, sample format, container and carrier (given or found).
TEST_F(Meter, FourHertzReadsAtEveryRateFormatAndCarrier)
{
    struct Case {
        int format, rate;
        double carrier, given;  // given: 0 to let the meter find it
        std::string name;
    };
    std::vector<Case> cases = {
        {SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, 3150, 0, "t.flac"},
        {SF_FORMAT_RF64 | SF_FORMAT_FLOAT, 44100, 3150, 0, "t.rf64"},
        {SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 44100, 3150, 0, "tx.wav"},
        {SF_FORMAT_WAV | SF_FORMAT_PCM_32, 44100, 3150, 0, "t32.wav"},
        // A little off: the mean is measured, not assumed.
        {SF_FORMAT_WAV | SF_FORMAT_PCM_16, 8000, 1000, 1003, "given.wav"},
    };
    for (int rate : {22050, 44100, 48000})
        for (int format : {SF_FORMAT_PCM_U8, SF_FORMAT_PCM_16, SF_FORMAT_PCM_24, SF_FORMAT_FLOAT})
            cases.push_back({SF_FORMAT_WAV | format, rate, 3150, 0, std::to_string(rate) + "-" + std::to_string(format) + ".wav"});
    for (const Case& k : cases) {
        Tone tone;
        tone.carrier = k.carrier;
        tone.mods = {{4, 0.001}};
        const std::string path = (dir.Path() / k.name).string();
        ASSERT_TRUE(WriteTone(path, k.format, k.rate, 6, tone)) << k.name;
        meter::MeterSettings s;
        s.carrierHz = k.given;
        const meter::MeterResult r = meter::RunMeter(path, s);
        ASSERT_TRUE(r.ok) << k.name << ": " << r.message;
        ASSERT_EQ(r.channels.size(), 1u);
        const meter::ChannelFigures& c = r.channels[0];
        EXPECT_NEAR(c.weighted.twoSigmaPercent, 0.100, 0.002) << k.name;
        for (double rms : {c.unweighted.rmsPercent, c.weighted.rmsPercent, c.wowRmsPercent})
            EXPECT_NEAR(rms, 0.0707, 0.0707 * 0.02) << k.name;
        EXPECT_NEAR(c.carrierHz, k.carrier, 0.01) << k.name;
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
    meter::MeterSettings third, zeroth;
    third.channels = {3};
    zeroth.channels = {0};
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
        // Channels count from 1: the meter itself refuses a 0, whoever asks.
        {"channel 0", [&] { return tone("mono.wav", 3150, 4, 0.5); }, zeroth, "mono.wav has no channel 0; it has 1."},
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

// The track's rows: (time, deviation %) of channel 1.
std::vector<std::pair<double, double>> CsvTrack(const std::string& csv)
{
    std::ifstream in(csv);
    std::vector<std::pair<double, double>> rows;
    std::string line;
    bool header = false;
    while (std::getline(in, line)) {
        if (line.starts_with("#"))
            continue;
        if (!header) {
            header = true;
            continue;
        }
        double t = 0, dev = 0;
        if (std::sscanf(line.c_str(), "%lf,%lf", &t, &dev) == 2)
            rows.push_back({t, dev});
    }
    return rows;
}

// The track's times are the sound's: the first point stands for the middle of the
// linear-phase low-pass ((L - 1) / 2 samples) plus half a step; a frequency step
// crosses half its height at its own time.
TEST_F(Meter, CsvTrackTimesAreTheSoundsOwn)
{
    const double stepAt = 3.0, before = 3150 * (1 - 0.001), after = 3150 * (1 + 0.001), seconds = 6;
    for (int rate : {8000, 44100, 96000}) {
        SCOPED_TRACE(rate);
        const std::string path = (dir.Path() / "step.wav").string();
        {
            SF_INFO info{};
            info.samplerate = rate;
            info.channels = 1;
            info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
            SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
            ASSERT_NE(f, nullptr);
            std::vector<double> v(static_cast<size_t>(seconds * rate));
            for (size_t i = 0; i < v.size(); ++i) {
                // The phase runs on without a jump where the frequency steps.
                const double t = static_cast<double>(i) / rate;
                const double turns = t < stepAt ? before * t : before * stepAt + after * (t - stepAt);
                v[i] = 0.5 * std::sin(2 * std::numbers::pi * (turns - std::floor(turns)));
            }
            sf_writef_double(f, v.data(), static_cast<sf_count_t>(v.size()));
            ASSERT_EQ(sf_close(f), 0);
        }
        const meter::MeterResult r = meter::RunMeter(path, {});
        ASSERT_TRUE(r.ok) << r.message;
        const std::string csv = (dir.Path() / "step.csv").string();
        std::string error;
        ASSERT_TRUE(meter::WriteMeterCsv(path, {}, r, csv, error)) << error;
        const std::vector<std::pair<double, double>> rows = CsvTrack(csv);
        ASSERT_GT(rows.size(), 1000u);
        EXPECT_NEAR(rows.back().first, seconds, 0.05);

        const meter::Demodulator d(rate, r.channels[0].carrierHz);
        const double delay = (static_cast<double>(d.Taps()) - 1) / (2.0 * rate) + 0.5 / d.OutputRate();
        EXPECT_NEAR(rows.front().first, delay, 1e-5);  // the CSV gives five places
        const double step = 1 / d.OutputRate();
        for (size_t i = 1; i < rows.size(); ++i)
            ASSERT_NEAR(rows[i].first - rows[i - 1].first, step, 2e-5) << i;

        // Half way up the step, between the rows either side of it.
        const double pct = 100 / r.channels[0].carrierHz;
        const double middle = ((before + after) / 2 - r.channels[0].carrierHz) * pct;
        const auto up = std::find_if(rows.begin() + 1, rows.end(), [&](const auto& row) {
            return row.first > stepAt - 0.1 && row.second >= middle;
        });
        ASSERT_NE(up, rows.end());
        const auto& [t1, v1] = *(up - 1);
        const auto& [t2, v2] = *up;
        const double crossing = t1 + (middle - v1) / (v2 - v1) * (t2 - t1);
        EXPECT_NEAR(crossing, stepAt, 0.2 * step) << "step " << step;
        // Well before and after it, the two levels.
        for (const auto& [t, dev] : rows) {
            if (std::abs(t - stepAt) > 0.02 && t > 1 && t < seconds - 0.1) {
                ASSERT_NEAR(dev, ((t < stepAt ? before : after) - r.channels[0].carrierHz) * pct, 0.002) << t;
            }
        }
    }
}

}  // namespace
