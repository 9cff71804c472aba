// A line's part name holds only within the line's own frequency
// uncertainty, with how far it lies from the part's harmonic; a line at a
// platter speed's once-per-revolution rate suggests that speed; the polar
// view's revolutions and low-pass.
#include "SignalFile.h"

#include "meter/Lines.h"
#include "meter/Meter.h"
#include "meter/Transport.h"
#include "meter/Views.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <optional>
#include <string>

using namespace tarvo;
using namespace tarvo::test;

namespace {

constexpr double kPi = std::numbers::pi;

meter::Transport Turntable(double rpm)
{
    meter::Transport t;
    t.rpm = rpm;
    return t;
}

const meter::ModulationLine* LineNear(const meter::ChannelFigures& c, double hz, double within = 0.05)
{
    for (const meter::ModulationLine& m : c.modulation)
        if (std::abs(m.hz - hz) < within)
            return &m;
    return nullptr;
}

// The uncertainty against the bound written out: a line of peak A (Hz of
// deviation, here as the power the lobe holds) over the noise's mean per
// bin m in segments of Ts s, K of them: 3 sqrt(3 x 1.5 / (rho K)) / (pi Ts)
// with rho = 2 L / m, plus a hundredth of 1 / Ts.
TEST(LineUncertainty, FollowsTheBoundForTheLevelAndTheLength)
{
    struct Case {
        double lineOverNoise, binHz, padding, dof;
    };
    const Case cases[] = {
        {1e4, 1.0 / 16, 1, 2},   {1e4, 1.0 / 16, 1, 20},  {100, 1.0 / 16, 1, 20},
        {1e4, 1.0 / 16, 2, 2},   {1e6, 1.0 / 4, 1, 8},    {10, 1.0 / 8, 1.5, 2},
    };
    for (const Case& c : cases) {
        meter::LineBand band;
        band.binHz = c.binHz;
        band.padding = c.padding;
        band.dof = c.dof;
        const double ts = 1 / (c.binHz * c.padding), rho = 2 * c.lineOverNoise / c.padding, k = c.dof / 2;
        const double expected = 3 * std::sqrt(3 * 1.5 / (rho * k)) / (kPi * ts) + 0.01 / ts;
        EXPECT_NEAR(meter::CentroidUncertainty(c.lineOverNoise, 1, band), expected, 1e-12 * expected)
            << c.lineOverNoise << " " << c.binHz << " " << c.padding << " " << c.dof;
    }
    // No noise measured: the centroid's own bias alone.
    meter::LineBand band;
    band.binHz = 1.0 / 16;
    EXPECT_DOUBLE_EQ(meter::CentroidUncertainty(1, 0, band), 0.01 * band.binHz);
}

// A tone with one line exactly on a part's harmonic and one several of its
// uncertainties off another: the first named, its error near 0, the second
// not.
class LineParts : public SignalTest {};

TEST_F(LineParts, OnlyALineWithinItsUncertaintyIsNamed)
{
    const double platter = 100.0 / 3 / 60;  // 33 1/3 rpm
    struct Case {
        const char* what;
        double hz;
        double seconds;
        double noise;  // rms against a tone of 0.5 peak
        std::optional<std::string> label;
    };
    const Case cases[] = {
        {"on the 3rd harmonic", 3 * platter, 30, 0, "platter x3"},
        {"on the 5th, in noise", 5 * platter, 30, NoiseUnder(0.5, 40), "platter x5"},
        {"0.02 Hz off the 3rd", 3 * platter + 0.02, 30, 0, std::nullopt},
        {"a short file, 0.05 Hz off the 5th", 5 * platter + 0.05, 12, 0, std::nullopt},
    };
    for (const Case& c : cases) {
        Signal s;
        s.carrier = 3150;
        s.lines = {{c.hz, 0.001}};
        s.noise = c.noise;
        meter::MeterSettings settings;
        settings.transport = Turntable(100.0 / 3);
        const meter::MeterResult r = Measure(s, 16000, c.seconds, settings);
        ASSERT_TRUE(r.ok) << r.message;
        const meter::ModulationLine* m = LineNear(r.channels[0], c.hz);
        ASSERT_TRUE(m) << c.what;
        EXPECT_GT(m->hzUncertainty, 0) << c.what;
        EXPECT_LT(m->hzUncertainty, 0.02) << c.what;  // far finer than the old whole bin
        EXPECT_NEAR(m->hz, c.hz, m->hzUncertainty) << c.what;  // the line where the tone put it
        EXPECT_EQ(m->label, c.label) << c.what;
        if (c.label) {
            ASSERT_TRUE(m->labelErrorHz) << c.what;
            EXPECT_NEAR(*m->labelErrorHz, m->hz - c.hz, 1e-12) << c.what;
            EXPECT_LE(std::abs(*m->labelErrorHz), m->hzUncertainty) << c.what;
        } else {
            EXPECT_FALSE(m->labelErrorHz) << c.what;
            EXPECT_GT(std::abs(m->hz - std::round(m->hz / platter) * platter), 3 * m->hzUncertainty) << c.what;
        }
    }
}

// A tape deck's 4.00 Hz flutter measured with a 33 1/3 rpm turntable's
// parts given: 0.111 Hz from the platter's 7th harmonic (3.889 Hz), within
// the 0.122 Hz bin of a 10 s file but far outside the line's uncertainty.
TEST_F(LineParts, TapeFlutterIsNoPlatterHarmonic)
{
    for (double seconds : {10.0, 30.0}) {
        Signal s;
        s.carrier = 3150;
        s.lines = {{4.0, 0.001}};
        meter::MeterSettings settings;
        settings.transport = Turntable(100.0 / 3);
        const meter::MeterResult r = Measure(s, 16000, seconds, settings);
        ASSERT_TRUE(r.ok) << r.message;
        const meter::ModulationLine* m = LineNear(r.channels[0], 4.0);
        ASSERT_TRUE(m) << seconds;
        EXPECT_FALSE(m->label) << seconds << ": " << m->label.value_or("");
        EXPECT_EQ(m->suggestion, "") << seconds;
    }
}

// A once-per-revolution line with no part given suggests the platter speed
// whose rate it is, and nothing more; a line between speeds suggests none.
TEST_F(LineParts, ARevolutionRateSuggestsItsSpeed)
{
    struct Case {
        double rpm;
        const char* suggestion;  // nullptr: none
    };
    const Case cases[] = {
        {100.0 / 3, "0.556 Hz: 33 1/3 rpm?"},
        {45, "0.750 Hz: 45 rpm?"},
        {78, "1.300 Hz: 78 rpm?"},
        {40, nullptr},  // 0.667 Hz
    };
    for (const Case& c : cases) {
        Signal s;
        s.carrier = 3150;
        s.lines = {{c.rpm / 60, 0.002}};
        const meter::MeterResult r = Measure(s, 16000, 40);
        ASSERT_TRUE(r.ok) << r.message;
        const meter::ModulationLine* m = LineNear(r.channels[0], c.rpm / 60);
        ASSERT_TRUE(m) << c.rpm;
        EXPECT_FALSE(m->label) << c.rpm;
        EXPECT_EQ(m->suggestion, c.suggestion ? c.suggestion : "") << c.rpm;
        EXPECT_EQ(r.channels[0].revolutionHz, 0) << c.rpm;  // nothing applied
    }
}

TEST(LineMatch, SpeedSuggestionsAndMatchesByRate)
{
    struct Case {
        double hz, tolerance;
        const char* suggestion;
    };
    const Case cases[] = {
        {50.0 / 3 / 60, 0.001, "0.278 Hz: 16 2/3 rpm?"}, {22.5 / 60, 0.001, "0.375 Hz: 22 1/2 rpm?"},
        {0.5566, 0.002, "0.557 Hz: 33 1/3 rpm?"},        {0.5566, 0.0009, nullptr},
        {0.76, 0.005, nullptr},                          {1.3, 0, "1.300 Hz: 78 rpm?"},
        {0.47, 0.2, "0.470 Hz: 33 1/3 rpm?"},  // the nearest of those within reach
    };
    for (const Case& c : cases) {
        const std::optional<std::string> s = meter::SuggestSpeed(c.hz, c.tolerance);
        if (c.suggestion)
            EXPECT_EQ(s.value_or("none"), c.suggestion) << c.hz;
        else
            EXPECT_FALSE(s) << c.hz << ": " << s.value_or("");
    }
    // The error is the line less the harmonic's rate, signed.
    const meter::PartRate platter{"platter", 0.5, 0.5, true}, reel{"reel", 0.1, 0.3, true};
    const struct {
        double hz, tolerance;
        const meter::PartRate& part;
        const char* label;
        double error;
    } matches[] = {
        {1.503, 0.005, platter, "platter x3", 0.003}, {1.497, 0.005, platter, "platter x3", -0.003},
        {1.506, 0.005, platter, nullptr, 0},          {0.2, 0.001, reel, "reel x1", 0},
        {0.302, 0.003, reel, "reel x1", 0.002},       {0.095, 0.003, reel, nullptr, 0},
        {5.0, 0.005, platter, "platter x10", 0},      {5.5, 0.005, platter, nullptr, 0},  // to the 10th only
    };
    for (const auto& c : matches) {
        const auto m = meter::MatchLine(c.hz, c.tolerance, {c.part});
        if (!c.label) {
            EXPECT_FALSE(m) << c.hz;
            continue;
        }
        ASSERT_TRUE(m) << c.hz;
        EXPECT_EQ(m->label, c.label) << c.hz;
        EXPECT_NEAR(m->errorHz, c.error, 1e-12) << c.hz;
    }
    // A direct drive's motor turns with its platter: the part listed first names the line.
    meter::Transport direct;
    direct.rpm = 33.333;
    direct.driveRatio = 1;
    const auto both = meter::MatchLine(33.333 / 60, 0.001, meter::PartRates(direct));
    ASSERT_TRUE(both);
    EXPECT_EQ(both->label, "platter x1");
    // A reel's hub given without its full pack is no fault: the reel is not given.
    meter::Transport hubOnly;
    hubOnly.tapeSpeedCmS = 4.76;
    hubOnly.reelMinMm = 50;
    EXPECT_EQ(meter::TransportFault(hubOnly), "");
}

// A faint line in noise, over seeds: its frequency scatters about the
// tone's by about the sigma the uncertainty is three of (the bound is
// the centroid's, so the scatter may be smaller, never much larger), and
// never beyond the uncertainty.
TEST_F(LineParts, UncertaintyCoversTheScatterInNoise)
{
    double squares = 0, sigmas = 0;
    int n = 0;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        Signal s;
        s.carrier = 3150;
        s.lines = {{3.3, 0.00002}};
        s.noise = NoiseUnder(0.5, 20);
        s.seed = seed;
        const meter::MeterResult r = Measure(s, 8000, 30);
        ASSERT_TRUE(r.ok) << r.message;
        const meter::ModulationLine* m = LineNear(r.channels[0], 3.3);
        ASSERT_TRUE(m) << seed;
        EXPECT_LE(std::abs(m->hz - 3.3), m->hzUncertainty) << seed;
        squares += (m->hz - 3.3) * (m->hz - 3.3);
        sigmas += m->hzUncertainty / 3;
        ++n;
    }
    const double rms = std::sqrt(squares / n), sigma = sigmas / n;
    EXPECT_GT(rms, 0.3 * sigma);
    EXPECT_LT(rms, 1.5 * sigma);
}

// The polar view's stretch: ten revolutions of a platter, 1 to 10 drawn.
meter::ChannelFigures TrackOf(double revolutionHz, double seconds, const std::vector<std::pair<double, double>>& tones)
{
    meter::ChannelFigures c;
    c.revolutionHz = revolutionHz;
    for (int i = 0; i * 0.002 < seconds; ++i) {
        const double t = i * 0.002;
        c.trackSeconds.push_back(t);
        double d = 0;
        for (const auto& [hz, peak] : tones)
            d += peak * std::cos(2 * kPi * hz * t);
        c.trackDeviation.push_back(d);
    }
    return c;
}

TEST(PolarRevolutions, AsManyAsAskedUpToTheStretch)
{
    const double platter = 100.0 / 3 / 60;
    EXPECT_NEAR(meter::TrackSeconds(platter), 10 / platter, 1e-9);  // ten revolutions, 18 s
    EXPECT_NEAR(meter::TrackSeconds(50.0 / 3 / 60), 36, 1e-9);
    EXPECT_EQ(meter::TrackSeconds(0.1), meter::kLongestTrackSeconds);
    EXPECT_EQ(meter::TrackSeconds(0), meter::kZoomSeconds);
    EXPECT_NEAR(meter::TrackSeconds(100), 0.1, 1e-12);
    EXPECT_NEAR(meter::TrackSeconds(0.2), 50, 1e-9);
    const meter::ChannelFigures full = TrackOf(platter, meter::TrackSeconds(platter), {{platter, 0.05}});
    const meter::ChannelFigures six = TrackOf(platter, 6 / platter, {{platter, 0.05}});
    for (int n = 1; n <= 10; ++n) {
        const meter::PolarView v = meter::MakePolar(full, n);
        EXPECT_EQ(v.revolutions, n);
        ASSERT_EQ(v.angle.size(), static_cast<size_t>(n));
        for (size_t t = 0; t < v.angle.size(); ++t) {
            // Each a whole revolution: from 0 to within a point of 360 degrees.
            EXPECT_LT(v.angle[t].front(), 360 * 0.002 * platter + 1e-9) << n;
            EXPECT_GT(v.angle[t].back(), 360 * (1 - 0.002 * platter) - 1e-9) << n;
        }
        EXPECT_EQ(meter::MakePolar(six, n).revolutions, std::min(n, 6));
    }
    EXPECT_EQ(meter::MakePolar(full, 0).revolutions, 1);
    EXPECT_EQ(meter::MakePolar(full, 11).revolutions, 10);
}

// The low-pass, forwards and backwards through a second-order Butterworth
// from the bilinear transform: a line at f comes out times
// 1 / (1 + (tan(pi f / rate) / tan(pi fc / rate))^4) (the squared
// magnitude: two passes), in phase; a slow line passes whole.
TEST(PolarRevolutions, LowPassAttenuatesAsItsFilterShould)
{
    const double platter = 100.0 / 3 / 60, rate = 500, slowPeak = 0.05, fastPeak = 0.01;
    struct Case {
        double cutHz, fastHz;
    };
    const Case cases[] = {{60, 120}, {100, 180}, {150, 220}, {200, 240}, {100, 50}};
    for (const Case& c : cases) {
        const meter::ChannelFigures track = TrackOf(platter, 10 / platter, {{platter, slowPeak}, {c.fastHz, fastPeak}});
        const meter::PolarView v = meter::MakePolar(track, 10, c.cutHz);
        ASSERT_EQ(v.revolutions, 10);
        EXPECT_EQ(v.lowPassHz, c.cutHz);
        // The radius less the base against time again, revolutions 2 to 9
        // (clear of the ends), projected on both lines.
        double fastCos = 0, fastSin = 0, slowCos = 0, n = 0;
        for (size_t t = 1; t + 1 < v.angle.size(); ++t)
            for (size_t k = 0; k < v.angle[t].size(); ++k) {
                const double time = (static_cast<double>(t) + v.angle[t][k] / 360) / platter;
                const double d = v.radius[t][k] - v.base;
                fastCos += d * std::cos(2 * kPi * c.fastHz * time);
                fastSin += d * std::sin(2 * kPi * c.fastHz * time);
                slowCos += d * std::cos(2 * kPi * platter * time);
                ++n;
            }
        const double ratio = std::tan(kPi * c.fastHz / rate) / std::tan(kPi * c.cutHz / rate);
        const double gain = 1 / (1 + std::pow(ratio, 4));
        EXPECT_NEAR(2 * fastCos / n, fastPeak * gain, 2e-3 * fastPeak) << c.cutHz << " at " << c.fastHz;
        EXPECT_NEAR(2 * fastSin / n, 0, 2e-3 * fastPeak) << c.cutHz << " at " << c.fastHz;
        EXPECT_NEAR(2 * slowCos / n, slowPeak, 1e-3 * slowPeak) << c.cutHz;
    }
    // Off: the track as it is.
    const meter::ChannelFigures track = TrackOf(platter, 10 / platter, {{platter, slowPeak}, {120, fastPeak}});
    const meter::PolarView off = meter::MakePolar(track, 10, 0), on = meter::MakePolar(track, 10, 60);
    EXPECT_EQ(off.lowPassHz, 0);
    double most = 0;
    for (size_t t = 0; t < off.radius.size(); ++t)
        for (size_t k = 0; k < off.radius[t].size(); ++k)
            most = std::max(most, std::abs(off.radius[t][k] - on.radius[t][k] - (off.base - on.base)));
    EXPECT_GT(most, 0.9 * fastPeak);
    // A corner above half the 500 points a second has nothing to remove.
    const meter::PolarView above = meter::MakePolar(track, 10, 300);
    EXPECT_EQ(above.lowPassHz, 0);
    EXPECT_EQ(above.radius, off.radius);
}

}  // namespace
