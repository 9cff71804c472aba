// The meter's modulation lines: none from noise, every real line at its
// level, and AM-FM coherence only where the AM is more than noise gives.
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "meter/AmFm.h"
#include "meter/Analyser.h"
#include "meter/Dsp.h"
#include "meter/Lines.h"
#include "meter/Meter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

using namespace tarvo;
using namespace tarvo::test;

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kCarrier = 3150;

using Shape = std::function<double(double hz)>;  // a power density's shape

// Gaussian noise of exactly the density's shape (made in the frequency
// domain), n points at `rate`, of rms `rms`; with a carrier, the phase
// (radians) of a tone whose relative deviation is that noise.
std::vector<double> ShapedNoise(size_t n, double rate, const Shape& shape, double rms, unsigned seed,
                                double carrier = 0)
{
    size_t size = 1;
    while (size < n)
        size *= 2;
    std::mt19937 rng(seed);
    std::normal_distribution<double> gauss(0, 1);
    std::vector<std::complex<double>> d(size), phase(size);
    for (size_t j = 1; j < size / 2; ++j) {
        const double hz = static_cast<double>(j) * rate / static_cast<double>(size);
        const double a = std::sqrt(shape(hz));
        const std::complex<double> x(a * gauss(rng), a * gauss(rng));
        d[j] = x;
        d[size - j] = std::conj(x);
        // The phase's derivative is 2 pi carrier d.
        const std::complex<double> p = carrier * x / std::complex<double>(0, hz);
        phase[j] = p;
        phase[size - j] = std::conj(p);
    }
    meter::Fft(d);
    meter::Fft(phase);
    double sum2 = 0;
    for (size_t i = 0; i < n; ++i)
        sum2 += d[i].real() * d[i].real();
    const double scale = rms / std::sqrt(sum2 / static_cast<double>(n));
    std::vector<double> out(n);
    for (size_t i = 0; i < n; ++i)
        out[i] = scale * (carrier > 0 ? phase[i].real() : d[i].real());
    return out;
}

struct Signal {
    double carrier = kCarrier;
    std::vector<Modulation> lines;  // sinusoidal deviations
    Shape flutter;                  // a Gaussian deviation of this density's shape...
    double flutterRms = 0;          // ...and this rms (fraction); none when 0
    unsigned seed = 1;
    double am = 0, amHz = 0;  // amplitude modulation, peak fraction, in phase with cos
    double noise = 0;         // rms of white noise added to the tone
};

// A tone at amplitude 0.5 carrying the signal (8-bit with triangular dither).
std::string Write(const TempDir& dir, const Signal& s, int rate, double seconds,
                  int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT)
{
    const std::string path = (dir.Path() / "lines.wav").string();
    const auto n = static_cast<size_t>(std::lround(seconds * rate));
    std::vector<double> phase;
    if (s.flutterRms > 0)
        phase = ShapedNoise(n, rate, s.flutter, s.flutterRms, s.seed, s.carrier);
    std::mt19937 rng(s.seed + 100);
    std::normal_distribution<double> gauss(0, 1);
    std::uniform_real_distribution<double> dither(-0.5, 0.5);
    const bool eightBit = (format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_U8;
    Tone tone;
    tone.carrier = s.carrier;
    tone.mods = s.lines;
    std::vector<double> x(n);
    for (size_t i = 0; i < n; ++i) {
        const double t = static_cast<double>(i) / rate;
        double v = 0.5 * (1 + s.am * std::cos(kTwoPi * s.amHz * t)) *
                   std::sin(tone.Phase(t, seconds) + (phase.empty() ? 0 : phase[i]));
        if (s.noise > 0)
            v += s.noise * gauss(rng);
        if (eightBit)
            v = std::round(v * 128 + dither(rng) + dither(rng)) / 128;
        x[i] = v;
    }
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_TRUE(f);
    if (f) {
        sf_writef_double(f, x.data(), static_cast<sf_count_t>(n));
        sf_close(f);
    }
    return path;
}

std::string Listed(const meter::ChannelFigures& c)
{
    std::string s;
    for (const meter::ModulationLine& m : c.modulation)
        s += " " + std::to_string(m.hz) + " Hz " + std::to_string(m.percent) + " %;";
    return s.empty() ? " none" : s;
}

const meter::ModulationLine* LineNear(const meter::ChannelFigures& c, double hz, double within)
{
    for (const meter::ModulationLine& m : c.modulation)
        if (std::abs(m.hz - hz) < within)
            return &m;
    return nullptr;
}

Shape Band(double lo, double hi)
{
    return [lo, hi](double hz) { return hz >= lo && hz <= hi ? 1.0 : 0.0; };
}
Shape Falling(double scaleHz)
{
    return [scaleHz](double hz) { return std::exp(-hz / scaleHz); };
}

// Noise deviations through the whole meter (a cliff at 50 Hz, flutter past
// a 500 Hz carrier's band top, falling spectra, an 8-bit tone's rounding):
// no draw lists a line, and the flutter reads its rms.
TEST(MeterLines, NoiseListsNoLine)
{
    struct Case {
        const char* what;
        Shape shape;
        double rms;  // fraction; 0: a clean tone
        double carrier;
        int format;
        int rate;
        double seconds;
    };
    const int kFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT, k8Bit = SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
    const Case cases[] = {
        {"broadband 0.5 to 50 Hz", Band(0.5, 50), 0.0005, kCarrier, kFloat, 16000, 40},
        {"broadband 0.5 to 50 Hz, short", Band(0.5, 50), 0.0005, kCarrier, kFloat, 16000, 9.5},
        {"0.5 to 400 Hz on a 500 Hz carrier", Band(0.5, 400), 0.0005, 500, kFloat, 16000, 20},
        {"falling by e every 20 Hz", Falling(20), 0.0005, kCarrier, kFloat, 16000, 20},
        {"8-bit tone", {}, 0, kCarrier, k8Bit, 22050, 20},
        {"8-bit tone, short", {}, 0, kCarrier, k8Bit, 22050, 9.5},
    };
    TempDir dir;
    for (const Case& k : cases)
        for (unsigned seed : {1u, 2u, 3u}) {
            Signal s;
            s.flutter = k.shape;
            s.flutterRms = k.rms;
            s.carrier = k.carrier;
            s.seed = seed;
            const meter::MeterResult r = meter::RunMeter(Write(dir, s, k.rate, k.seconds, k.format), {});
            ASSERT_TRUE(r.ok) << k.what << ": " << r.message;
            const meter::ChannelFigures& c = r.channels[0];
            EXPECT_TRUE(c.modulation.empty()) << k.what << ", draw " << seed << ":" << Listed(c);
            // The band-limited flutter lies within the band: it reads its rms.
            if (k.rms > 0 && k.seconds > 20) {
                EXPECT_NEAR(c.unweighted.rmsPercent / (100 * k.rms), 1, 0.05) << k.what;
            }
        }
}

// A hundred draws of each noise straight into the analyser, short and long:
// a false line in one at most (the chance set is one file in a hundred).
TEST(MeterLines, NoiseListsAFalseLineInLessThanOneFileInAHundred)
{
    struct Case {
        const char* what;
        Shape shape;
    };
    const Case cases[] = {
        {"white", [](double) { return 1.0; }},
        {"0.5 to 50 Hz", Band(0.5, 50)},
        {"falling by e every 10 Hz", Falling(10)},
        {"rising as f^2 (a tone's noise)", [](double hz) { return hz * hz; }},
    };
    const double rate = 2000;
    for (const Case& k : cases)
        for (double seconds : {9.5, 30.0}) {
            int listing = 0;
            for (unsigned draw = 0; draw < 100; ++draw) {
                const auto n = static_cast<size_t>(seconds * rate);
                const std::vector<double> d = ShapedNoise(n, rate, k.shape, 1e-3, 7000 + draw);
                meter::ChannelAnalyser a(rate, kCarrier, seconds);
                for (double v : d)
                    a.Add(kCarrier * (1 + v));
                listing += !a.Finish().modulation.empty();
            }
            EXPECT_LE(listing, 1) << k.what << ", " << seconds << " s";
        }
}

// A line whose peak bin stands 14 dB over the noise beside it is found in
// a 40 s track (three segments of 16 s: the noise's spread allows about
// 9 dB). White deviation noise of variance s^2 at rate r has the one-sided
// density D = 2 s^2 / r; a bin of the Hann window (L points at 1 kHz)
// holds D / 2 * 1000 * 3L/8 of it, and a line of peak A on a bin puts
// (A/2)^2 (L/2)^2 in it: their ratio is A^2 L / (3000 D).
TEST(MeterLines, ALineFourteenDecibelsOverTheNoiseIsFound)
{
    const double rate = 2000, seconds = 40, sigma = 0.5, length = 16384;
    const double density = 2 * sigma * sigma / rate;
    const double ratio = std::pow(10, 1.4);
    const double peak = std::sqrt(ratio * 3000 * density / length);
    const double hz = 320 * 1000 / length;  // on a bin
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        std::normal_distribution<double> gauss(0, sigma);
        meter::ChannelAnalyser a(rate, kCarrier, seconds);
        for (int i = 0; i < static_cast<int>(rate * seconds); ++i)
            a.Add(kCarrier + peak * std::sin(kTwoPi * hz * i / rate) + gauss(rng));
        const meter::ChannelFigures c = a.Finish();
        EXPECT_TRUE(LineNear(c, hz, 0.05)) << seed << ":" << Listed(c);
    }
}

// Real lines at their level on long and short files, also over weaker flutter.
TEST(MeterLines, RealLinesAreListedAtTheirLevel)
{
    const double platter = 33.333 / 60, motor = platter * 7.5;
    struct Case {
        const char* what;
        std::vector<Modulation> lines;
        double flutterRms;
    };
    const Case cases[] = {
        {"turntable mix", {{0.556, 0.0008}, {10, 0.0002}, {33, 0.0001}}, 0},
        {"motor lines", {{platter, 0.0008}, {motor, 0.0003}, {motor * 12, 0.0002}, {33, 0.00015}}, 0},
        {"over broadband flutter", {{1.2, 0.001}, {17, 0.0003}, {120, 0.0002}}, 0.00002},
    };
    TempDir dir;
    for (const Case& k : cases)
        for (double seconds : {12.0, 40.0}) {
            Signal s;
            s.lines = k.lines;
            s.flutter = Band(0.5, 50);
            s.flutterRms = k.flutterRms;
            const meter::MeterResult r = meter::RunMeter(Write(dir, s, 16000, seconds), {});
            ASSERT_TRUE(r.ok) << r.message;
            const meter::ChannelFigures& c = r.channels[0];
            EXPECT_EQ(c.modulation.size(), k.lines.size()) << k.what << ", " << seconds << " s:" << Listed(c);
            for (const Modulation& m : k.lines) {
                const meter::ModulationLine* got = LineNear(c, m.hz, 0.05);
                ASSERT_TRUE(got) << k.what << ", " << seconds << " s: " << m.hz << " Hz;" << Listed(c);
                EXPECT_NEAR(got->percent / (100 * m.peak), 1, 0.03) << k.what << ", " << seconds << " s: " << m.hz;
            }
        }
}

// A file shorter than the spectrum's 16 s segment has one segment of all
// it measures: a 9.5 s transfer (7.6 s measured after its settling) lists
// its strongest line, at 0.6 Hz, first and at its level, at every sample
// rate; so do files from 8 s (whose measured part T lists lines from 3/T,
// 0.5 Hz) to 19.5 s.
TEST(MeterLines, AShortFileListsItsSlowestLine)
{
    struct Case {
        double seconds;
        int rate;
    };
    const Case cases[] = {{9.5, 44100}, {9.5, 8000}, {9.5, 96000}, {8, 48000}, {12, 44100}, {19.5, 22050}};
    TempDir dir;
    for (const Case& k : cases) {
        Signal s;
        s.lines = {{0.6, 0.00187}, {26.8, 0.00037}};
        const meter::MeterResult r = meter::RunMeter(Write(dir, s, k.rate, k.seconds, SF_FORMAT_WAV | SF_FORMAT_PCM_16), {});
        ASSERT_TRUE(r.ok) << r.message;
        const meter::ChannelFigures& c = r.channels[0];
        const std::string at = std::to_string(k.seconds) + " s at " + std::to_string(k.rate) + ":" + Listed(c);
        ASSERT_EQ(c.modulation.size(), 2u) << at;
        EXPECT_NEAR(c.modulation[0].hz, 0.6, 0.01) << at;
        EXPECT_NEAR(c.modulation[0].percent / 0.187, 1, 0.03) << at;
        EXPECT_NEAR(c.modulation[1].hz, 26.8, 0.01) << at;
        EXPECT_NEAR(c.modulation[1].percent / 0.037, 1, 0.03) << at;
        // The plot's peak over the slow line reads the list's level.
        double peak = 0;
        for (size_t i = 0; i < c.spectrumHz.size(); ++i)
            if (std::abs(c.spectrumHz[i] - 0.6) < 0.2)
                peak = std::max(peak, c.spectrumPercent[i]);
        EXPECT_NEAR(peak / c.modulation[0].percent, 1, 0.03) << at;
    }
}

// The averaged spectrum's degrees of freedom and the distributions the
// line search reads its threshold from, against their closed forms.
TEST(MeterLines, TheNoiseStatisticsFollowTheirClosedForms)
{
    // Hann at half overlap: rho(1) = sum w_t w_t+L/2 / sum w^2 = 1/6, and
    // nu = 2K / (1 + 2 (1 - 1/K) / 36) = 36 K^2 / (19 K - 1).
    const std::vector<double> hann = meter::HannWindow(1024);
    for (int k : {1, 2, 5, 30}) {
        const double want = 36.0 * k * k / (19.0 * k - 1);
        EXPECT_NEAR(meter::AveragedDegreesOfFreedom(hann, 512, k), want, 1e-3 * want) << k;
    }
    // Chi-squared of 2 degrees of freedom is exponential: P(a=1, x) = 1 - e^-x,
    // its median over 2 is ln 2.
    for (double x : {0.1, 1.0, 5.0})
        EXPECT_NEAR(meter::GammaP(1, x), 1 - std::exp(-x), 1e-12) << x;
    EXPECT_NEAR(meter::ChiSquaredMedian(2), std::log(2.0), 1e-9);
    // The median of exponential samples, scaled to their mean, is as spread
    // as the mean of (ln 2)^2 as many; of normal ones, 2/pi as many.
    EXPECT_NEAR(meter::MedianEfficiency(2), std::log(2.0) * std::log(2.0), 1e-9);
    EXPECT_NEAR(meter::MedianEfficiency(20000), 2 / std::numbers::pi, 1e-3);
    // For whole a and b, I_x(a, b) is the chance of at least a successes in
    // a + b - 1 trials of chance x; F(2, d) exceeds x with the chance
    // (1 + 2x/d)^(-d/2).
    auto binomial = [](int a, int b, double x) {
        const int n = a + b - 1;
        double sum = 0;
        for (int j = a; j <= n; ++j)
            sum += std::exp(std::lgamma(n + 1.0) - std::lgamma(j + 1.0) - std::lgamma(n - j + 1.0)) * std::pow(x, j) *
                   std::pow(1 - x, n - j);
        return sum;
    };
    for (const auto& [a, b] : {std::pair{3, 1}, std::pair{2, 3}, std::pair{5, 7}, std::pair{12, 4}})
        for (double x : {0.05, 0.4, 0.7, 0.95})
            EXPECT_NEAR(meter::BetaI(a, b, x), binomial(a, b, x), 1e-12) << a << " " << b << " " << x;
    for (double d : {4.0, 16.0, 60.0}) {
        const double chance = 1e-6;
        const double x = d / 2 * (std::pow(chance, -2 / d) - 1);
        EXPECT_NEAR(meter::FExceeded(2, d, chance) / x, 1, 1e-6) << d;
    }
}

// AM beside FM: the coherence is none where the tone's AM is within what
// its noise gives (a clean tone, whose noise the meter takes at 70 dB under
// it; a tone with white noise 40 dB under it), and present, near 1, for AM
// that moves with the FM.
TEST(MeterLines, CoherenceOnlyWhereTheAmIsReal)
{
    struct Case {
        const char* what;
        double am, noise;
        int format;
        bool coherent;
    };
    const double noise40 = 0.5 / std::sqrt(2) / 100;  // tone power over noise power: 10^4
    const int kFloat = SF_FORMAT_WAV | SF_FORMAT_FLOAT, k16 = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    const Case cases[] = {
        {"clean, float", 0, 0, kFloat, false},
        {"clean, 16-bit", 0, 0, k16, false},
        {"40 dB of noise", 0, noise40, kFloat, false},
        {"5 % AM with the FM", 0.05, 0, k16, true},
        {"1 % AM with the FM over 40 dB of noise", 0.01, noise40, kFloat, true},
    };
    TempDir dir;
    for (const Case& k : cases) {
        Signal s;
        s.lines = {{4, 0.001}};
        s.am = k.am;
        s.amHz = 4;
        s.noise = k.noise;
        // The AM (cos) lies a quarter turn from the FM (sin); coherence is a magnitude.
        const meter::MeterResult r = meter::RunMeter(Write(dir, s, 44100, 20, k.format), {});
        ASSERT_TRUE(r.ok) << r.message;
        const meter::ModulationLine* m = LineNear(r.channels[0], 4, 0.1);
        ASSERT_TRUE(m) << k.what;
        EXPECT_EQ(m->amFmCoherence.has_value(), k.coherent) << k.what << ": AM " << m->amPercent << " %";
        if (k.coherent) {
            EXPECT_NEAR(m->amPercent / (100 * k.am), 1, 0.05) << k.what;
            EXPECT_GT(*m->amFmCoherence, 0.9) << k.what;
        }
        const auto lines = meter::FigureLines(r.channels[0]);
        const auto it = std::find_if(lines.begin(), lines.end(),
                                     [](const auto& l) { return l.first == "modulation (peak deviation)"; });
        ASSERT_NE(it, lines.end());
        EXPECT_EQ(it->second.find("coherence none") != std::string::npos, !k.coherent) << it->second;
    }
}

// The AM analyser on its own: a level with relative noise of one-sided
// density D and no AM reads about sqrt(2 D B) over a line's lobe (B its
// width, five bins) and has no coherence; AM ten times that has one.
TEST(MeterLines, NoiseAmHasNoCoherence)
{
    const double rate = 1000, seconds = 30;
    const double sigma = 1e-3;                // rms of the relative level's noise
    const double density = 2 * sigma * sigma / rate;  // one-sided, 1/Hz
    for (const double amOverNoise : {0.0, 10.0}) {
        meter::AmFmAnalyser a(rate, seconds);
        const double noiseAm = std::sqrt(2 * density * 5 * a.BinHz());
        std::mt19937 rng(5);
        std::normal_distribution<double> gauss(0, sigma);
        for (int i = 0; i < static_cast<int>(rate * seconds); ++i) {
            const double t = i / rate;
            const double level = 0.5 * (1 + amOverNoise * noiseAm * std::sin(kTwoPi * 7 * t) + gauss(rng));
            a.Add(kCarrier * (1 + 0.001 * std::sin(kTwoPi * 7 * t)), level * level);
        }
        std::vector<meter::ModulationLine> lines{{7, 0.1}};
        a.Annotate(lines, density);
        if (amOverNoise == 0) {
            EXPECT_GT(lines[0].amPercent, 0.3 * 100 * noiseAm);
            EXPECT_LT(lines[0].amPercent, 2.0 * 100 * noiseAm);
            EXPECT_FALSE(lines[0].amFmCoherence.has_value()) << lines[0].amPercent;
        } else {
            EXPECT_NEAR(lines[0].amPercent / (100 * amOverNoise * noiseAm), 1, 0.15);
            ASSERT_TRUE(lines[0].amFmCoherence.has_value());
            EXPECT_GT(*lines[0].amFmCoherence, 0.9);
        }
    }
}

}  // namespace
