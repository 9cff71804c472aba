// The meter on signals the way they come off real machines: hiss at every
// level against the ideal demodulator's noise, wide swings found and
// measured, two tones told from one that swings, the signal-to-noise ratio
// with sidebands and harmonics counted as the tone, the note on a figure
// that is mostly noise, and the band from the carrier measured.
#include "SignalFile.h"
#include "WaveBuilder.h"

#include "meter/Analyser.h"
#include "meter/Meter.h"
#include "meter/SoundReader.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <tuple>

using namespace tarvo;
using namespace tarvo::test;

namespace {

constexpr double kTwoSigmaOfSine = 0.99692;  // sin(0.95 x 90 degrees)
constexpr double kTwoSigmaOfGauss = 1.959964;  // a Gaussian's magnitude exceeds it 5 % of the time

using MeterReal = SignalTest;

// The ideal frequency demodulator's noise. White noise of power N beside a
// tone of power P = snr N, spread evenly from 0 to half the sample rate fs,
// has the one-sided density N0 = 2 N / fs; its quadrature part turns the
// tone's phase with the density N0 / P, so the frequency has the density
// f^2 N0 / P. Over a band f1..f2 cut square its variance is
// (f2^3 - f1^3) / 3 N0 / P; through the weighting W up to the band's top,
// the integral of |W|^2 f^2 N0 / P.
struct Ideal {
    double n0OverP;
    double Band(double f1, double f2) const { return std::sqrt((f2 * f2 * f2 - f1 * f1 * f1) / 3 * n0OverP); }
    double Weighted(double top) const
    {
        const double rate = 8000;  // the weighting curve itself, far under this rate's half
        const meter::Cascade w = meter::WeightingFilter(rate);
        double sum = 0;
        const double df = top / 20000;
        for (double f = df / 2; f < top; f += df)
            sum += std::norm(w.Response(f, rate)) * f * f * df;
        return std::sqrt(sum * n0OverP);
    }
};

// A steady tone in white noise: every figure is the noise's alone, within
// 10 % of the ideal demodulator's, at carriers from 50 Hz to 20 kHz and
// signal-to-noise ratios from 20 to 70 dB; the floors the meter gives say
// the same. Long enough files that the readings' own scatter stays a few
// percent (a low carrier's narrow band needs minutes).
TEST_F(MeterReal, HissReadsTheIdealDemodulatorsNoise)
{
    struct Case {
        double carrier;
        int rate;
        double snrDb, seconds;
    };
    for (const Case& c : {Case{50, 8000, 30, 120}, Case{120, 8000, 20, 60}, Case{400, 8000, 40, 40},
                          Case{1000, 44100, 20, 30}, Case{3150, 48000, 30, 30}, Case{3150, 48000, 40, 30},
                          Case{3150, 44100, 70, 30}, Case{10000, 48000, 50, 30}, Case{20000, 48000, 30, 30}}) {
        const std::string at = std::to_string(c.carrier) + " Hz at " + std::to_string(c.snrDb) + " dB";
        Signal s;
        s.carrier = c.carrier;
        s.noise = NoiseUnder(s.amplitude, c.snrDb);
        const meter::MeterResult r = Measure(s, c.rate, c.seconds);
        ASSERT_TRUE(r.ok) << at << ": " << r.message;
        const meter::ChannelFigures& f = r.channels[0];
        const double top = std::min(200.0, c.carrier / 4);
        const Ideal ideal{2 / (c.rate * std::pow(10, c.snrDb / 10))};
        const double pct = 100 / c.carrier;
        const struct {
            const char* what;
            double read, want;
        } figures[] = {
            {"weighted two-sigma", f.weighted.twoSigmaPercent, kTwoSigmaOfGauss * ideal.Weighted(top) * pct},
            {"weighted rms", f.weighted.rmsPercent, ideal.Weighted(top) * pct},
            {"unweighted two-sigma", f.unweighted.twoSigmaPercent, kTwoSigmaOfGauss * ideal.Band(0.2, top) * pct},
            {"unweighted rms", f.unweighted.rmsPercent, ideal.Band(0.2, top) * pct},
            {"wow", f.wowRmsPercent, ideal.Band(0.2, 6) * pct},
            {"flutter", f.flutterRmsPercent, ideal.Band(6, top) * pct},
            {"weighted floor", f.noiseFloorPercent.value_or(0), kTwoSigmaOfGauss * ideal.Weighted(top) * pct},
            {"unweighted floor", f.unweightedFloorPercent.value_or(0), kTwoSigmaOfGauss * ideal.Band(0.2, top) * pct},
            {"flutter floor", f.flutterFloorPercent.value_or(0), ideal.Band(6, top) * pct},
        };
        for (const auto& x : figures)
            EXPECT_NEAR(x.read / x.want, 1, 0.1) << at << ": " << x.what << " " << x.read << " % against " << x.want;
        EXPECT_NEAR(f.snrDb.value_or(0), std::min(70.0, c.snrDb), 1) << at;
    }
}

// One tone swinging as far as 10 % either way, slowly or fast: found
// without a carrier given and measured within 1 % of its true figures.
TEST_F(MeterReal, WideSwingsAreFoundAndMeasured)
{
    for (double carrier : {1000.0, 3150.0})
        for (double peak : {0.02, 0.05, 0.1})
            for (double hz : {0.556, 4.0, 20.0}) {
                const std::string at = std::to_string(peak * 100) + " % at " + std::to_string(hz) + " Hz on " +
                                       std::to_string(carrier) + " Hz";
                Signal s;
                s.carrier = carrier;
                s.lines = {{hz, peak}};
                const meter::MeterResult r = Measure(s, 48000, 20);
                ASSERT_TRUE(r.ok) << at << ": " << r.message;
                const meter::ChannelFigures& f = r.channels[0];
                const double w = std::abs(meter::WeightedPath(2000).Response(hz, 2000));
                EXPECT_NEAR(f.unweighted.twoSigmaPercent / (kTwoSigmaOfSine * 100 * peak), 1, 0.01) << at;
                EXPECT_NEAR(f.weighted.twoSigmaPercent / (kTwoSigmaOfSine * w * 100 * peak), 1, 0.01) << at;
                EXPECT_NEAR((hz < 6 ? f.wowRmsPercent : f.flutterRmsPercent) / (100 * peak / std::sqrt(2)), 1, 0.01)
                    << at;
                EXPECT_GE(f.snrDb.value_or(0), 70) << at;
            }
}

// A tone under 1 % swings at up to 200 Hz, and a worn transport's slow
// swing of 2 % with the carrier given: within half a percent.
TEST_F(MeterReal, SwingsUpToOnePercentReadWithinHalfAPercent)
{
    struct Case {
        double carrier, hz, peak, given;
    };
    for (const Case& c : {Case{3150, 0.556, 0.02, 3150}, Case{1000, 200, 0.01, 0}, Case{3150, 100, 0.01, 0},
                          Case{3150, 0.556, 0.01, 0}}) {
        const std::string at = std::to_string(c.peak * 100) + " % at " + std::to_string(c.hz) + " Hz";
        Signal s;
        s.carrier = c.carrier;
        s.lines = {{c.hz, c.peak}};
        meter::MeterSettings settings;
        settings.carrierHz = c.given;
        const meter::MeterResult r = Measure(s, 48000, 20, settings);
        ASSERT_TRUE(r.ok) << at << ": " << r.message;
        EXPECT_NEAR(r.channels[0].unweighted.twoSigmaPercent / (kTwoSigmaOfSine * 100 * c.peak), 1,
                    c.peak > 0.01 ? 0.01 : 0.005)
            << at;
    }
}

// Two steady tones within the band, or a swinging tone with a steady one
// beside it within 20 dB: no figures, the second tone named. Further under
// the carrier than 20 dB, a second tone is read as the flutter it makes.
TEST_F(MeterReal, SecondTonesAreToldFromSwings)
{
    struct Case {
        const char* what;
        double carrier, other, level, swing;  // level: the other tone's amplitude, a fraction of the carrier's
        double named;                        // the second tone the message names; 0: measured
        double fade = 0;                     // the carrier's level swings this much either way, at 0.3 Hz
        double louder = 0;                   // the carrier the message names; 0: the carrier
    };
    const Case cases[] = {
        // Now one tone is the louder, now the other: either is the second,
        // the other the carrier.
        {"a tone fading over and under a steady one", 3150, 3300, 1, 0, 3300, 0.5, 3150},
        {"two equal tones 150 Hz apart", 3150, 3300, 1, 0, 3300, 0, 3150},
        {"a tone 15 dB under", 3150, 3000, 0.18, 0, 3000},
        {"under a swinging tone", 3150, 3300, 0.2, 0.02, 3300},
        {"a low carrier's", 1000, 1100, 0.3, 0, 1100},
        {"26 dB under", 3150, 3100, 0.05, 0, 0},
    };
    for (const Case& c : cases) {
        Signal s;
        s.carrier = c.carrier;
        s.amplitude = 0.4;
        if (c.swing > 0)
            s.lines = {{4, c.swing}};
        s.extraTones = {c.other};
        s.extraLevel = c.level;
        s.am = c.fade;
        s.amHz = 0.3;
        const meter::MeterResult r = Measure(s, 48000, 10);
        if (c.named == 0) {
            ASSERT_TRUE(r.ok) << c.what << ": " << r.message;
            // The beat: a deviation of the level times the tones' distance.
            const double beat = c.level * std::abs(c.other - c.carrier) / c.carrier * 100;
            EXPECT_NEAR(r.channels[0].flutterRmsPercent / (beat / std::sqrt(2)), 1, 0.1) << c.what;
            continue;
        }
        EXPECT_FALSE(r.ok) << c.what;
        const std::string want = "A second tone at ";
        ASSERT_EQ(r.message.substr(0, want.size()), want) << c.what << ": " << r.message;
        const double named = std::stod(r.message.substr(want.size()));
        const double louder = std::stod(r.message.substr(r.message.find("of the carrier at ") + 18));
        // A fading carrier may be named either way round.
        const bool swapped = c.louder != 0 && std::abs(named - c.louder) < 2;
        EXPECT_NEAR(named, swapped ? c.louder : c.named, 2) << c.what << ": " << r.message;
        EXPECT_NEAR(louder, swapped ? c.named : c.louder != 0 ? c.louder : c.carrier, 2) << c.what << ": " << r.message;
    }
}

// The tone's power over the noise's: white noise at a known ratio reads
// that ratio within 1 dB; a clean tone with its own sidebands, harmonics or
// a wide swing reads 70 dB or more (what the spectrum resolves).
TEST_F(MeterReal, SignalToNoiseCountsSidebandsAndHarmonicsAsTheTone)
{
    struct Case {
        const char* what;
        Signal s;
        double snrDb;  // the true ratio; 70: a clean tone
    };
    Signal white;
    white.carrier = 3150;
    std::vector<Case> cases;
    for (double db : {20.0, 30.0, 40.0, 50.0, 60.0}) {
        white.noise = NoiseUnder(white.amplitude, db);
        cases.push_back({"white noise", white, db});
    }
    Signal fg;  // a turntable's generator, with its own flutter, some of it beyond the band
    fg.carrier = 60;
    fg.lines = {{15, 1e-4}, {1.2, 3e-4}, {22, 4e-3}};
    cases.push_back({"60 Hz generator", fg, 70});
    Signal low;  // at a low rate, where the spectrum's bins are coarse
    low.carrier = 49.99;
    low.lines = {{2, 5e-4}};
    cases.push_back({"49.99 Hz at 8000 Hz", low, 70});
    Signal distorted;
    distorted.carrier = 3150;
    distorted.harmonics = {{2, 0.01}, {3, 0.03}};
    distorted.lines = {{4, 1e-5}};
    cases.push_back({"3 % harmonics", distorted, 70});
    Signal swing;
    swing.carrier = 1000;
    swing.lines = {{4, 0.05}};
    cases.push_back({"5 % swing", swing, 70});
    for (const Case& c : cases) {
        const meter::MeterResult r = Measure(c.s, c.s.carrier < 50 ? 8000 : 48000, 10);
        ASSERT_TRUE(r.ok) << c.what << ": " << r.message;
        const meter::ChannelFigures& f = r.channels[0];
        if (c.snrDb >= 70)
            EXPECT_GE(f.snrDb.value_or(0), 70) << c.what;
        else
            EXPECT_NEAR(f.snrDb.value_or(0), c.snrDb, 1) << c.what;
        // A clean tone's figure is never called noise; noise is, while its
        // floor is not negligible (at 3150 Hz, 0.0023 % at 30 dB, 0.0007 % at 40 dB).
        EXPECT_EQ(meter::MostlyNoise(f), c.snrDb < 35) << c.what << " " << f.weighted.twoSigmaPercent << " % over "
                                                        << f.noiseFloorPercent.value_or(0);
    }
}

// The note that a figure is mostly noise, one rule for the text and the
// warnings: a floor at least half the weighted figure, and 0.001 % or more.
TEST(MeterNote, MostlyNoiseWhereTheFloorIsHalfTheFigureAndNotNegligible)
{
    struct Case {
        double weighted, floor;
        bool note;
    } cases[] = {
        {0.01, 0, false},        {0.0001, 0.00009, false}, {0.0019, 0.00099, false},
        {0.002, 0.001, true},    {0.03, 0.0149, false},    {0.03, 0.015, true},
        {0.376, 0.181, false},
    };
    for (const Case& c : cases) {
        meter::ChannelFigures f;
        f.carrierHz = 3150;
        f.weighted.twoSigmaPercent = c.weighted;
        f.noiseFloorPercent = c.floor;
        EXPECT_EQ(meter::MostlyNoise(f), c.note) << c.weighted << " over " << c.floor;
        const auto lines = meter::FigureLines(f);
        EXPECT_EQ(std::any_of(lines.begin(), lines.end(), [](const auto& l) { return l.first == "note"; }), c.note)
            << c.weighted << " over " << c.floor;
    }
}

// Under the demodulator's threshold (10 dB in its own band) no figures;
// just over it, the figures and the warning that they are noise; a clean
// tone warns of nothing.
TEST_F(MeterReal, UnderTheThresholdNoFiguresOverItAWarning)
{
    struct Case {
        double snrDb;  // over the whole band
        bool figures, warned;
    };
    for (const Case& c : {Case{-6, false, false}, Case{-2, false, false}, Case{6, true, true}, Case{100, true, false}}) {
        Signal s;
        s.carrier = 3150;
        s.noise = c.snrDb < 100 ? NoiseUnder(s.amplitude, c.snrDb) : 0;
        for (unsigned seed : {1u, 2u}) {
            s.seed = seed;
            const meter::MeterResult r = Measure(s, 44100, 8);
            ASSERT_EQ(r.ok, c.figures) << c.snrDb << " dB: " << r.message;
            if (!r.ok) {
                EXPECT_NE(r.message.find("dB over the noise in the demodulator's band"), std::string::npos) << r.message;
                continue;
            }
            EXPECT_EQ(r.channels[0].warnings.size(), c.warned ? 1u : 0u) << c.snrDb << " dB";
        }
    }
}

// The band ends at a quarter of the carrier measured, whatever the search
// found first: 12.5 Hz for a 49.99 Hz generator, 25 Hz at 100 Hz.
TEST_F(MeterReal, BandTopIsAQuarterOfTheMeasuredCarrier)
{
    for (double carrier : {49.99, 100.0, 120.0, 400.0, 1000.0}) {
        Signal s;
        s.carrier = carrier;
        s.lines = {{2, 5e-4}};
        const meter::MeterResult r = Measure(s, 8000, 12);
        ASSERT_TRUE(r.ok) << carrier << ": " << r.message;
        EXPECT_NEAR(r.channels[0].bandHighHz, std::min(200.0, r.channels[0].carrierHz / 4), 1e-3) << carrier;
    }
}

// A stretch measured alone (a splice and the swing before it left out)
// reads what the file cut to that stretch reads, within 1 %.
TEST_F(MeterReal, AStretchReadsAsTheFileCutToIt)
{
    Signal s;
    s.carrier = 3150;
    s.lines = {{4, 0.01}};
    s.lateFrom = 8;  // a splice: the phase jumps, and the swing drops to 0.1 %
    s.latePeak = 0.001;
    s.noise = NoiseUnder(s.amplitude, 50);
    const int rate = 48000;
    const std::string whole = (dir.Path() / "whole.wav").string(), cut = (dir.Path() / "cut.wav").string();
    ASSERT_TRUE(Write(whole, s, rate, 30));
    {
        SF_INFO in{}, out{};
        SNDFILE* a = sf_open(whole.c_str(), SFM_READ, &in);
        ASSERT_NE(a, nullptr);
        out = in;
        SNDFILE* b = sf_open(cut.c_str(), SFM_WRITE, &out);
        ASSERT_NE(b, nullptr);
        std::vector<float> samples(20 * rate);
        sf_seek(a, 10 * rate, SEEK_SET);
        ASSERT_EQ(sf_readf_float(a, samples.data(), 20 * rate), 20 * rate);
        ASSERT_EQ(sf_writef_float(b, samples.data(), 20 * rate), 20 * rate);
        sf_close(a);
        sf_close(b);
    }
    meter::MeterSettings stretch;
    stretch.fromSeconds = 10;
    const meter::MeterResult r = meter::RunMeter(whole, stretch), want = meter::RunMeter(cut, {});
    ASSERT_TRUE(r.ok && want.ok) << r.message << want.message;
    ASSERT_TRUE(r.stretch);
    EXPECT_EQ(*r.stretch, std::make_pair(10.0, 30.0));
    EXPECT_FALSE(want.stretch);
    const meter::ChannelFigures &a = r.channels[0], &b = want.channels[0];
    EXPECT_DOUBLE_EQ(a.seconds, 20);
    for (const auto& [what, x, y] : {std::tuple{"weighted two-sigma", a.weighted.twoSigmaPercent, b.weighted.twoSigmaPercent},
                                     {"unweighted two-sigma", a.unweighted.twoSigmaPercent, b.unweighted.twoSigmaPercent},
                                     {"weighted rms", a.weighted.rmsPercent, b.weighted.rmsPercent},
                                     {"wow", a.wowRmsPercent, b.wowRmsPercent},
                                     {"flutter", a.flutterRmsPercent, b.flutterRmsPercent},
                                     {"carrier", a.carrierHz, b.carrierHz}})
        EXPECT_NEAR(x / y, 1, 0.01) << what;
    // The swing of 0.1 % alone: the splice and the 1 % before it are out.
    EXPECT_NEAR(a.unweighted.twoSigmaPercent / (kTwoSigmaOfSine * 0.1), 1, 0.01);
}

// A window on a file: its frames alone, read and sought within; a window
// that leaves the file is refused and changes nothing.
TEST(SoundWindow, ReadsAndSeeksOnlyWithinIt)
{
    TempDir dir;
    Signal s;
    const std::string path = (dir.Path() / "tone.wav").string();
    ASSERT_TRUE(Write(path, s, 8000, 3));
    std::vector<float> all(24000);
    {
        meter::SoundReader whole;
        ASSERT_TRUE(whole.Open(path));
        ASSERT_EQ(whole.Read(all.data(), 24000), 24000);
    }
    struct Case {
        int64_t first, count;
        bool ok;
    };
    for (const Case& c : {Case{8000, 4000, true}, Case{0, 24000, true}, Case{23999, 1, true}, Case{20000, 4001, false},
                          Case{-1, 10, false}, Case{10, -1, false}, Case{24001, 0, false}}) {
        meter::SoundReader in;
        ASSERT_TRUE(in.Open(path));
        EXPECT_EQ(in.Limit(c.first, c.count), c.ok) << c.first << " " << c.count;
        if (!c.ok) {
            EXPECT_EQ(in.Frames(), 24000);
            continue;
        }
        EXPECT_EQ(in.Frames(), c.count);
        std::vector<float> got(static_cast<size_t>(c.count) + 100);
        ASSERT_EQ(in.Read(got.data(), c.count + 100), c.count);  // never past the window's end
        EXPECT_EQ(got[0], all[static_cast<size_t>(c.first)]);
        EXPECT_EQ(got[static_cast<size_t>(c.count) - 1], all[static_cast<size_t>(c.first + c.count) - 1]);
        EXPECT_EQ(in.Read(got.data(), 1), 0);
        ASSERT_TRUE(in.Seek(c.count - 1));
        ASSERT_EQ(in.Read(got.data(), 5), 1);
        EXPECT_EQ(got[0], all[static_cast<size_t>(c.first + c.count) - 1]);
        EXPECT_FALSE(in.Seek(c.count + 1));
    }
}

}  // namespace
