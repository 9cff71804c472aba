// The meter right across its range: sinusoidal deviations from 0.2 to 200 Hz
// at two starting phases, the wow/flutter split, low (turntable generator)
// and high carriers, the modulation list and the plot that draws it, the
// noise floor, and the inputs the meter must refuse or name.
#include "SignalFile.h"
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "meter/Analyser.h"
#include "meter/Demodulator.h"
#include "meter/Meter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <numbers>
#include <random>

using namespace tarvo;
using namespace tarvo::test;

namespace {

constexpr double kTwoSigmaOfSine = 0.99692;  // sin(0.95 x 90 degrees)
constexpr double kPi = std::numbers::pi;

using MeterRange = SignalTest;

double Weighting(double hz)
{
    const double rate = 2000;
    return std::abs(meter::WeightedPath(rate).Response(hz, rate));
}

// A sinusoidal deviation of peak d at any rate from 0.2 to 200 Hz reads
// two-sigma 0.99692 W(f) d and rms W(f) d / sqrt 2, whichever phase it
// starts at, on a file of 20 s.
TEST_F(MeterRange, SinusoidsReadTheirTrueFiguresAcrossTheBand)
{
    const double d = 0.001;
    for (double hz : {0.2, 0.5, 0.556, 0.8, 1.6, 4.0, 10.0, 20.0, 50.0, 100.0, 200.0})
        for (double phase : {0.0, kPi / 2}) {
            Signal s;
            s.lines = {{hz, d, phase}};
            const meter::MeterResult r = Measure(s, 8000, 20);
            ASSERT_TRUE(r.ok) << r.message;
            const meter::ChannelFigures& c = r.channels[0];
            const double w = Weighting(hz);
            const std::string at = std::to_string(hz) + " Hz, phase " + std::to_string(phase);
            EXPECT_NEAR(c.unweighted.twoSigmaPercent / (kTwoSigmaOfSine * 100 * d), 1, 0.01) << at;
            EXPECT_NEAR(c.unweighted.rmsPercent / (100 * d / std::sqrt(2)), 1, 0.01) << at;
            if (hz < 0.3) {
                EXPECT_NEAR(20 * std::log10(c.weighted.twoSigmaPercent / (kTwoSigmaOfSine * w * 100 * d)), 0, 0.5) << at;
            } else {
                EXPECT_NEAR(c.weighted.twoSigmaPercent / (kTwoSigmaOfSine * w * 100 * d), 1, 0.01) << at;
                EXPECT_NEAR(c.weighted.rmsPercent / (w * 100 * d / std::sqrt(2)), 1, 0.01) << at;
            }
            // Wow takes what lies below 6 Hz, flutter the rest, each whole.
            const double rms = 100 * d / std::sqrt(2);
            EXPECT_NEAR((hz < 6 ? c.wowRmsPercent : c.flutterRmsPercent) / rms, 1, 0.01) << at;
        }
}

TEST_F(MeterRange, WowAndFlutterKeepToTheirBands)
{
    const struct {
        double hz;
        bool wow;
    } cases[] = {{4, true}, {10, false}};
    for (const auto& k : cases) {
        Signal s;
        s.lines = {{k.hz, 0.001}};
        const meter::MeterResult r = Measure(s, 8000, 8);
        ASSERT_TRUE(r.ok) << r.message;
        const meter::ChannelFigures& c = r.channels[0];
        const double own = k.wow ? c.wowRmsPercent : c.flutterRmsPercent;
        const double other = k.wow ? c.flutterRmsPercent : c.wowRmsPercent;
        EXPECT_LT(other, 0.01 * own) << k.hz;
    }
}

// Turntable frequency generators: 50 to 200 Hz carriers with 4 Hz
// modulation from 0.01 to 1 % read within 2 %; the band ends at a quarter
// of the carrier and says so.
TEST_F(MeterRange, LowCarriersOfFrequencyGenerators)
{
    for (double carrier : {50.0, 100.0, 200.0})
        for (double d : {0.0001, 0.001, 0.01}) {
            Signal s;
            s.carrier = carrier;
            s.lines = {{4, d}};
            const meter::MeterResult r = Measure(s, 8000, 8);
            ASSERT_TRUE(r.ok) << carrier << ": " << r.message;
            const meter::ChannelFigures& c = r.channels[0];
            EXPECT_NEAR(c.carrierHz, carrier, carrier * 1e-5);
            EXPECT_NEAR(c.weighted.twoSigmaPercent / (kTwoSigmaOfSine * 100 * d), 1, 0.02) << carrier << " " << d;
            EXPECT_NEAR(c.bandHighHz, carrier / 4, 0.01);
        }
}

TEST_F(MeterRange, TwentyKilohertzAtNinetySixKilohertz)
{
    Signal s;
    s.carrier = 20000;
    s.lines = {{4, 0.001}};
    const meter::MeterResult r = Measure(s, 96000, 4);
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_NEAR(r.channels[0].weighted.twoSigmaPercent / (kTwoSigmaOfSine * 0.1), 1, 0.01);
    EXPECT_DOUBLE_EQ(r.channels[0].bandHighHz, 200);
}

// Near the top of the carrier range at low sample rates the tone's mirror
// image must stay out of the reading.
TEST_F(MeterRange, HighCarriersAtLowRatesReadTrue)
{
    const std::pair<int, double> cases[] = {{8000, 3250}, {8000, 3500}, {8000, 3600}, {8000, 3650}, {11025, 5000}};
    for (const auto& [rate, carrier] : cases) {
        Signal s;
        s.carrier = carrier;
        s.lines = {{4, 0.001}};
        const meter::MeterResult r = Measure(s, rate, 4);
        ASSERT_TRUE(r.ok) << carrier << ": " << r.message;
        EXPECT_NEAR(r.channels[0].weighted.twoSigmaPercent / (kTwoSigmaOfSine * 0.1), 1, 0.02) << carrier;
    }
    // Above the limit the message names it.
    Signal s;
    s.carrier = 3800;
    const meter::MeterResult r = Measure(s, 8000, 4);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.message, "No tone between 50 and 3725 Hz in channel 1 of signal.wav.");
}

// The modulation list: lines from 0.2 Hz, each clearly above the noise
// floor and above 1 % of the strongest; none for a clean or an AM tone.
TEST_F(MeterRange, ModulationLists)
{
    struct Case {
        const char* what;
        Signal signal;
        std::vector<std::pair<double, double>> lines;  // Hz, percent
    };
    Signal turntable;
    turntable.carrier = 3150;
    turntable.lines = {{0.556, 0.0008}, {10, 0.0002, 1}, {33, 0.0001, 2}};
    Signal clean;
    Signal am;
    am.am = 0.3;
    am.amHz = 4;
    Signal overNoise;  // one 4 Hz line over flutter-band noise well below it
    overNoise.lines = {{4, 0.001}};
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> hz(6, 200), phase(0, 2 * kPi);
    for (int i = 0; i < 60; ++i)
        overNoise.lines.push_back({hz(rng), 0.000005, phase(rng)});
    const Case cases[] = {
        {"turntable", turntable, {{0.556, 0.08}, {10, 0.02}, {33, 0.01}}},
        {"clean", clean, {}},
        {"AM", am, {}},
        {"4 Hz over noise", overNoise, {{4, 0.1}}},
    };
    for (const Case& k : cases) {
        const meter::MeterResult r = Measure(k.signal, 8000, 40);
        ASSERT_TRUE(r.ok) << k.what << ": " << r.message;
        const auto& got = r.channels[0].modulation;
        ASSERT_EQ(got.size(), k.lines.size()) << k.what << (got.empty() ? "" : ": first " + std::to_string(got[0].hz));
        for (size_t i = 0; i < got.size(); ++i) {
            EXPECT_NEAR(got[i].hz, k.lines[i].first, 0.02) << k.what;
            EXPECT_NEAR(got[i].percent / k.lines[i].second, 1, 0.03) << k.what << " " << got[i].hz;
        }
    }
}

// The plot's peak over a line reads the list's level, on a bin or between two.
TEST_F(MeterRange, SpectrumPeaksReadTheListsLevels)
{
    for (double hz : {4.0, 4.03125, 33.0, 33.03}) {
        Signal s;
        s.lines = {{hz, 0.0005}};
        const meter::MeterResult r = Measure(s, 8000, 20);
        ASSERT_TRUE(r.ok) << r.message;
        const meter::ChannelFigures& c = r.channels[0];
        ASSERT_FALSE(c.modulation.empty());
        double peak = 0;
        for (size_t k = 0; k < c.spectrumHz.size(); ++k)
            if (std::abs(c.spectrumHz[k] - hz) < 0.5)
                peak = std::max(peak, c.spectrumPercent[k]);
        EXPECT_NEAR(peak / c.modulation[0].percent, 1, 0.03) << hz;
        EXPECT_NEAR(c.modulation[0].percent / 0.05, 1, 0.03) << hz;
        EXPECT_GE(c.spectrumHz.front(), 0.2);
        EXPECT_LT(c.spectrumHz.front(), 0.3);
    }
}

// A clean tone at 20 dB signal-to-noise: its weighted reading is the
// noise's, and the noise floor says so.
TEST_F(MeterRange, NoiseFloorExplainsANoisyReading)
{
    Signal s;
    s.carrier = 3150;
    s.noise = 0.5 / std::sqrt(2) / 10;  // tone power / noise power = 100
    const meter::MeterResult r = Measure(s, 44100, 8);
    ASSERT_TRUE(r.ok) << r.message;
    const meter::ChannelFigures& c = r.channels[0];
    EXPECT_NEAR(c.snrDb.value_or(0), 20, 0.5);
    EXPECT_NEAR(c.weighted.twoSigmaPercent / c.noiseFloorPercent.value_or(0), 1, 0.2);
    EXPECT_GT(c.noiseFloorPercent.value_or(0), 0.005);
    ASSERT_EQ(c.warnings.size(), 1u);
    EXPECT_NE(c.warnings[0].find("less than twice the noise floor"), std::string::npos);
    const auto lines = meter::FigureLines(c);
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const auto& l) { return l.first == "note"; }));
}

// The noise floor against its theory. White noise of power N beside a tone
// of power P = snr N, spread evenly from 0 to half the sample rate fs, has
// the one-sided density N0 = 2 N / fs. Its quadrature part moves the
// tone's phase by a density N0 / P, so the ideal demodulator's frequency
// noise has the one-sided density f^2 N0 / P. Through the weighted path
// (as the meter runs it, at its track rate) its variance is
// sigma^2 = integral |W(f)|^2 f^2 N0 / P df, and a Gaussian reading's
// magnitude exceeds z sigma 5 % of the time where erfc(z / sqrt 2) = 0.05.
TEST(MeterNoise, NoiseFloorIsTheWeightedIntegralOfTheDemodulatorsNoise)
{
    double lo = 1, hi = 3;  // z by bisection
    for (int i = 0; i < 100; ++i) {
        const double mid = (lo + hi) / 2;
        (std::erfc(mid / std::sqrt(2.0)) > 0.05 ? lo : hi) = mid;
    }
    const double z = (lo + hi) / 2;
    struct Case {
        int rate;
        double carrier, snr;
    };
    for (const Case& c : std::vector<Case>{{44100, 3150, 100},
                                           {48000, 3150, 1e4},
                                           {8000, 3150, 10},
                                           {11025, 1000, 1e3},
                                           {96000, 400, 100},
                                           {44100, 50, 1e5},
                                           {22050, 200, 30}}) {
        SCOPED_TRACE(std::to_string(c.rate) + " Hz, carrier " + std::to_string(c.carrier));
        const double band = meter::BandHigh(c.carrier);
        const double track = meter::Demodulator(c.rate, c.carrier).OutputRate();
        const meter::Cascade w = meter::WeightedPath(track, band);
        // Simpson's rule in log f (df = f du) from 1 mHz to half the track rate.
        const double u0 = std::log(1e-3), u1 = std::log(track / 2);
        const int n = 20000;
        const double h = (u1 - u0) / n;
        double integral = 0;
        for (int i = 0; i <= n; ++i) {
            const double f = std::exp(u0 + i * h);
            integral += (i == 0 || i == n ? 1 : i % 2 ? 4 : 2) * std::norm(w.Response(f, track)) * f * f * f;
        }
        integral *= h / 3;
        const double n0OverP = 2 / (c.rate * c.snr);
        const double want = z * std::sqrt(n0OverP * integral);
        EXPECT_NEAR(meter::NoiseFloorHz(c.snr, c.rate, band) / want, 1, 0.01);
    }
}

TEST_F(MeterRange, SpeedErrorAgainstTheNominal)
{
    Signal s;
    s.carrier = 3150 * 1.005;
    meter::MeterSettings settings;
    settings.nominalHz = 3150;
    meter::MeterResult r = Measure(s, 8000, 4, settings);
    ASSERT_TRUE(r.ok) << r.message;
    ASSERT_TRUE(r.channels[0].speedErrorPercent.has_value());
    EXPECT_NEAR(*r.channels[0].speedErrorPercent, 0.5, 0.001);
    settings.nominalHz = 1000;
    r = Measure(s, 8000, 4, settings);
    EXPECT_FALSE(r.channels[0].speedErrorPercent.has_value());
    EXPECT_EQ(r.channels[0].warnings.size(), 1u);
}

// The speed error's text: a sign on a figure over or under zero, none on
// one that rounds to zero, so an exact deck never reads "-0.000".
TEST(MeterText, SpeedErrorSignOnlyWhereTheFigureShowsOne)
{
    EXPECT_EQ(meter::FixedText(0.5, 3, true), "+0.500");
    EXPECT_EQ(meter::FixedText(-0.0004, 3, true), "0.000");
    EXPECT_EQ(meter::FixedText(0.0004, 3, true), "0.000");
    EXPECT_EQ(meter::FixedText(-0.0, 4, true), "0.0000");
    EXPECT_EQ(meter::FixedText(-0.0006, 3, true), "-0.001");
    EXPECT_EQ(meter::FixedText(-12.25, 1), "-12.2");
    EXPECT_EQ(meter::FixedText(1e-9, 4), "0.0000");
    meter::ChannelFigures c;
    c.carrierHz = 3150;
    c.speedErrorPercent = -1e-9;
    const auto lines = meter::FigureLines(c);
    const auto speed = std::find_if(lines.begin(), lines.end(), [](const auto& l) { return l.first == "speed error (%)"; });
    ASSERT_NE(speed, lines.end());
    EXPECT_EQ(speed->second, "0.000");
}

// The two-sigma value is the level exceeded 5 % of the time: flutter that
// grows near the file's end reads what that fraction gives, not 2.5 %.
TEST_F(MeterRange, TwoSigmaIsTheFivePercentLevel)
{
    Signal s;
    s.lines = {{4, 0.001}};
    s.lateFrom = 18;  // a whole number of cycles: the phase stays continuous
    s.latePeak = 0.003;
    const meter::MeterResult r = Measure(s, 8000, 20);
    ASSERT_TRUE(r.ok) << r.message;
    // The weighted statistics run from 4 s: 2 s of 16 at 0.3 % (12.5 %),
    // 5 % above 0.3 % x sin((1 - 0.4) x 90 deg); 2.5 % would give 0.285 %.
    EXPECT_NEAR(r.channels[0].weighted.twoSigmaPercent, 0.3 * std::cos(0.4 * kPi / 2), 0.008);
    // The unweighted from 1 s: 2 s of 19.
    EXPECT_NEAR(r.channels[0].unweighted.twoSigmaPercent, 0.3 * std::cos(0.05 * 19 / 2 * kPi / 2), 0.008);
}

// Inputs the meter must refuse with a message that names the cause, or read
// where it used to refuse them.
TEST_F(MeterRange, InputsAreRefusedByTheirCauseOrRead)
{
    struct Case {
        const char* what;
        std::function<std::string()> make;
        const char* message;  // empty: measured
    };
    auto signal = [&](const char* name, Signal s, int rate, double seconds, int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT) {
        const std::string p = (dir.Path() / name).string();
        Write(p, s, rate, seconds, format);
        return p;
    };
    auto header = [&](const char* name, uint32_t rate) {
        // A float WAVE whose header declares the rate, with 4 s of data at 8000.
        Bytes samples(8000 * 4 * 4, 0);
        return dir.Write(name, Riff({Chunk("fmt ", FmtData(rate, 1, 32, 3)), Chunk("data", samples)}));
    };
    Signal quiet;
    quiet.amplitude = 2e-7;  // -130 dBFS
    Signal huge;
    huge.amplitude = 5e19;
    huge.lines = {{4, 0.001}};
    Signal nan;
    nan.nanAt = 1.5;
    Signal twoTones;
    twoTones.carrier = 3000;
    twoTones.extraTones = {3150};
    Signal noisy;  // -6 dB signal-to-noise, no flutter at all
    noisy.carrier = 3150;
    noisy.noise = 0.5 / std::sqrt(2) * 2;
    auto noLength = [&] {
        // A FLAC as an encoder writing to a pipe leaves it: no length in its header.
        Signal t;
        t.lines = {{4, 0.001}};
        const std::string p = signal("pipe.flac", t, 8000, 4, SF_FORMAT_FLAC | SF_FORMAT_PCM_16);
        std::fstream f(p, std::ios::in | std::ios::out | std::ios::binary);
        char b[8];
        f.seekg(18);
        f.read(b, 8);
        b[3] = static_cast<char>(b[3] & 0xF0);  // the 36-bit count of samples: zero
        b[4] = b[5] = b[6] = b[7] = 0;
        f.seekp(18);
        f.write(b, 8);
        return p;
    };
    const std::string fifo = (dir.Path() / "fifo.wav").string();
    ::mkfifo(fifo.c_str(), 0600);
    const Case cases[] = {
        {"FIFO", [&] { return fifo; }, "Cannot open the file \""},
        {"dash", [&] { return std::string("-"); }, "Cannot open the file \"-\"."},
        {"folder", [&] { return dir.Path().string(); }, "Cannot open the file \""},
        {"2^27 Hz", [&] { return header("r27.wav", 1u << 27); },
         "The meter takes sample rates up to 768000 Hz; r27.wav gives 134217728 Hz."},
        {"2^30 Hz", [&] { return header("r30.wav", 1u << 30); },
         "The meter takes sample rates up to 768000 Hz; r30.wav gives 1073741824 Hz."},
        {"no rate", [&] { return header("r0.wav", 0); }, "The meter cannot read r0.wav: its header gives no sample rate"},
        {"not audio", [&] { return dir.Write("text.wav", std::string("not a sound file at all\n")); },
         "The meter cannot read text.wav: Format not recognised."},
        {"NaN", [&] { return signal("nan.wav", nan, 8000, 4); },
         "The meter cannot read nan.wav: it holds samples that are not finite numbers (NaN or infinity)."},
        {"-130 dBFS", [&] { return signal("quiet.wav", quiet, 8000, 4); },
         "The tone in channel 1 of quiet.wav lies below -120 dBFS: too quiet to measure."},
        {"two tones", [&] { return signal("two.wav", twoTones, 8000, 4); },
         "A second tone at 3150 Hz, within 20 dB of the carrier at 3000 Hz, pulls the frequency the meter follows in "
         "channel 1 of two.wav: no figures."},
        // Under the demodulator's threshold: clicks, not a floor.
        {"-6 dB", [&] { return signal("noisy.wav", noisy, 44100, 6); }, "The tone in channel 1 of noisy.wav stands "},
        {"5e19", [&] { return signal("huge.wav", huge, 8000, 4); }, ""},
        {"no length", noLength, ""},
    };
    for (const Case& c : cases) {
        const meter::MeterResult r = meter::RunMeter(c.make(), {});
        if (!*c.message) {
            ASSERT_TRUE(r.ok) << c.what << ": " << r.message;
            EXPECT_NEAR(r.channels[0].weighted.twoSigmaPercent / (kTwoSigmaOfSine * 0.1), 1, 0.01) << c.what;
            EXPECT_NEAR(r.channels[0].seconds, 4, 1e-9) << c.what;
            continue;
        }
        EXPECT_FALSE(r.ok) << c.what;
        EXPECT_EQ(r.message.substr(0, std::string(c.message).size()), c.message) << c.what << ": " << r.message;
    }
}

}  // namespace
