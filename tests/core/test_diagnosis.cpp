// Which rotating part causes the flutter: the transport's part rates and the
// lines' labels, AM beside FM, the polar view, the axis ticks, and a file
// that is neither sound nor speed log.
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "meter/AmFm.h"
#include "meter/Meter.h"
#include "meter/PlotScale.h"
#include "meter/Transport.h"
#include "meter/Views.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numbers>

using namespace tarvo;
using namespace tarvo::test;

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;
constexpr double kPlatterHz = 33.333 / 60;

meter::Transport Turntable()
{
    meter::Transport t;
    t.rpm = 33.333;
    t.driveRatio = 7.5;
    t.motorPoles = 24;
    return t;
}

meter::Transport TapeDeck()
{
    meter::Transport t;
    t.tapeSpeedCmS = 4.76;
    t.capstanMm = 2.4;
    t.pinchRollerMm = 12;
    t.reelMinMm = 50;
    t.reelMaxMm = 250;
    return t;
}

double RateOf(const std::vector<meter::PartRate>& parts, const std::string& name)
{
    for (const meter::PartRate& p : parts)
        if (p.name == name)
            return p.hz;
    return -1;
}

TEST(Transport, PartRatesFollowFromTheMachine)
{
    const auto tt = meter::PartRates(Turntable());
    EXPECT_NEAR(RateOf(tt, "platter"), 0.55555, 1e-4);
    EXPECT_NEAR(RateOf(tt, "motor"), 4.16663, 1e-4);
    EXPECT_NEAR(RateOf(tt, "motor electrical"), 49.9995, 1e-3);     // 12 pole pairs
    EXPECT_NEAR(RateOf(tt, "motor torque ripple"), 149.9985, 1e-3);  // 3 x electrical
    const auto tape = meter::PartRates(TapeDeck());
    EXPECT_NEAR(RateOf(tape, "capstan"), 47.6 / (std::numbers::pi * 2.4), 1e-9);  // 6.313 Hz
    EXPECT_NEAR(RateOf(tape, "pinch roller"), 47.6 / (std::numbers::pi * 12), 1e-9);
    EXPECT_NEAR(meter::RevolutionHz(tape), 47.6 / (std::numbers::pi * 12), 1e-9);  // the reel's range is no revolution
    EXPECT_TRUE(meter::PartRates({}).empty());
    // A reel turns fastest at its hub: a line between its two rates is its
    // turn, one above the hub's its second harmonic, one below neither.
    const auto reel = std::find_if(tape.begin(), tape.end(), [](const meter::PartRate& p) { return p.name == "reel"; });
    ASSERT_NE(reel, tape.end());
    EXPECT_NEAR(reel->hz, 47.6 / (std::numbers::pi * 250), 1e-12);
    EXPECT_NEAR(reel->hzHigh, 47.6 / (std::numbers::pi * 50), 1e-12);
    EXPECT_EQ(meter::LabelLine(0.25, 0.01, {*reel}).value_or("none"), "reel x1");
    EXPECT_EQ(meter::LabelLine(0.35, 0.01, {*reel}).value_or("none"), "reel x2");
    EXPECT_FALSE(meter::LabelLine(0.045, 0.01, {*reel}));
}

// Each figure of a transport just below, at and just beyond the ends of its range.
TEST(Transport, FiguresOutsideTheirRangesAreFaults)
{
    using T = meter::Transport;
    struct Case {
        const char* what;
        double T::*field;  // null: motorPoles when `poles`, else motorSlots
        bool poles;
        double below, lo, hi, beyond;
    };
    const Case cases[] = {
        {"platter speed", &T::rpm, false, 0.99, 1, 100, 100.01},
        {"motor's turns per platter turn", &T::driveRatio, false, 0.49, 0.5, 500, 501},
        {"tape speed", &T::tapeSpeedCmS, false, 0.49, 0.5, 800, 801},
        {"capstan diameter", &T::capstanMm, false, 0.49, 0.5, 100, 101},
        {"pinch roller diameter", &T::pinchRollerMm, false, 0.99, 1, 100, 101},
        {"motor's turns per capstan turn", &T::motorRatio, false, 0.099, 0.1, 100, 101},
        {"reel's hub diameter", &T::reelMinMm, false, 4.9, 5, 5, 4.9},
        {"reel's full-pack diameter", &T::reelMaxMm, false, 801, 800, 800, 801},
        {"number of motor poles", nullptr, true, -2, 2, 200, 202},
        {"number of motor slots", nullptr, false, -1, 1, 300, 301},
        // Negative, NaN and vanishing figures.
        {"platter speed", &T::rpm, false, -33.333, 1, 1, NAN},
        {"capstan diameter", &T::capstanMm, false, 1e-300, 0.5, 0.5, 1e-300},
    };
    for (const Case& c : cases)
        for (const double value : {c.below, c.lo, c.hi, c.beyond}) {
            // The rest of the machine in range: a reel's other end lies on
            // the right side of this one.
            T t;
            t.reelMinMm = 5;
            t.reelMaxMm = 800;
            if (c.field)
                t.*c.field = value;
            else
                (c.poles ? t.motorPoles : t.motorSlots) = static_cast<int>(value);
            const std::string fault = meter::TransportFault(t);
            if (value == c.lo || value == c.hi) {
                EXPECT_EQ(fault, "") << c.what << " " << value;
            } else {
                EXPECT_NE(fault.find(std::string("The ") + c.what + " given, "), std::string::npos) << value << ": " << fault;
                EXPECT_NE(fault.find("lies outside"), std::string::npos) << fault;
            }
        }
    T odd;
    odd.motorPoles = 7;
    EXPECT_EQ(meter::TransportFault(odd), "A motor has an even number of poles, not 7.");
    for (const auto& [hub, full] : {std::pair{250.0, 50.0}, std::pair{100.0, 100.0}}) {
        T reels;
        reels.reelMinMm = hub;
        reels.reelMaxMm = full;
        EXPECT_NE(meter::TransportFault(reels).find("hub"), std::string::npos) << hub << "," << full;
    }
    EXPECT_EQ(meter::TransportFault(T{}), "");
    EXPECT_EQ(meter::TransportFault(TapeDeck()), "");
    EXPECT_EQ(meter::TransportFault(Turntable()), "");
}

// The transport in words, as the report prints it beside the figures.
TEST(Transport, DescribedInWords)
{
    meter::Transport direct;
    direct.rpm = 45;
    direct.driveRatio = 1;
    direct.motorPoles = 12;
    direct.motorSlots = 18;
    meter::Transport capstanMotor = TapeDeck();
    capstanMotor.motorRatio = 3;
    capstanMotor.reelMinMm = capstanMotor.reelMaxMm = 0;
    const std::pair<meter::Transport, const char*> cases[] = {
        {{}, "not given"},
        {Turntable(), "turntable 33.33 rpm, motor 7.5 turns per platter turn, 24 poles"},
        {direct, "turntable 45 rpm, direct drive, 12 poles, 18 slots"},
        {TapeDeck(), "tape 4.76 cm/s, capstan 2.4 mm, pinch roller 12 mm, reels 50 to 250 mm"},
        {capstanMotor, "tape 4.76 cm/s, capstan 2.4 mm, pinch roller 12 mm, motor 3 turns per capstan turn"},
    };
    for (const auto& [t, words] : cases)
        EXPECT_EQ(meter::DescribeTransport(t), words);
}

TEST(Transport, LinesAreLabelledByTheMostSpecificPart)
{
    struct Case {
        const char* machine;
        double hz;
        const char* label;  // nullptr: nothing explains it
    };
    const double capstan = 47.6 / (std::numbers::pi * 2.4), pinch = 47.6 / (std::numbers::pi * 12);
    const Case cases[] = {
        {"tt", kPlatterHz, "platter x1"},
        {"tt", 2 * kPlatterHz + 0.1, "platter x2"},
        {"tt", 4.1666, "motor x1"},
        {"tt", 8.3333, "motor x2"},  // the platter's 15th harmonic is beyond the 10th
        {"tt", 50.0, "motor electrical"},
        {"tt", 150.0, "motor torque ripple"},
        {"tt", 33.0, nullptr},
        {"tt", 90.0, nullptr},
        {"tape", capstan, "capstan x1"},  // also the pinch roller's 5th: the lower harmonic wins
        {"tape", 2 * capstan, "capstan x2"},
        {"tape", pinch, "pinch roller x1"},
        {"tape", 0.2, "reel x1"},  // within the reel's range from full pack to hub
        {"tape", 17.0, nullptr},
    };
    const auto tt = meter::PartRates(Turntable()), tape = meter::PartRates(TapeDeck());
    for (const Case& c : cases) {
        const auto label = meter::LabelLine(c.hz, 0.25, std::string(c.machine) == "tt" ? tt : tape);
        if (c.label)
            EXPECT_EQ(label.value_or("none"), c.label) << c.machine << " " << c.hz;
        else
            EXPECT_FALSE(label) << c.machine << " " << c.hz << ": " << label.value_or("");
    }
}

class Diagnosis : public ::testing::Test {
protected:
    // A tone whose frequency follows `mods` and whose amplitude is
    // modulated by `am` (peak fraction) at amHz.
    std::string Write(const std::string& name, const std::vector<Modulation>& mods, double amHz, double am,
                      double seconds = 30, int rate = 16000)
    {
        const std::string path = (dir.Path() / name).string();
        SF_INFO info{};
        info.samplerate = rate;
        info.channels = 1;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
        EXPECT_TRUE(f);
        Tone tone;
        tone.mods = mods;
        std::vector<double> x(static_cast<size_t>(seconds * rate));
        for (size_t i = 0; i < x.size(); ++i) {
            const double t = static_cast<double>(i) / rate;
            x[i] = 0.4 * (1 + am * std::cos(kTwoPi * amHz * t)) * std::sin(tone.Phase(t, seconds));
        }
        sf_writef_double(f, x.data(), static_cast<sf_count_t>(x.size()));
        sf_close(f);
        return path;
    }
    TempDir dir;
};

const meter::ModulationLine* LineNear(const meter::ChannelFigures& c, double hz, double within = 0.2)
{
    for (const meter::ModulationLine& m : c.modulation)
        if (std::abs(m.hz - hz) < within)
            return &m;
    return nullptr;
}

TEST_F(Diagnosis, TurntableToneIsLabelledPartByPart)
{
    const double motor = kPlatterHz * 7.5;
    const std::string path =
        Write("turntable.wav", {{kPlatterHz, 0.0008}, {motor, 0.0003}, {motor * 12, 0.0002}, {33, 0.00015}}, 0, 0);
    meter::MeterSettings s;
    s.transport = Turntable();
    const meter::MeterResult r = meter::RunMeter(path, s);
    ASSERT_TRUE(r.ok) << r.message;
    const meter::ChannelFigures& c = r.channels[0];
    EXPECT_EQ(c.source, "audio");
    EXPECT_EQ(c.parts.size(), 4u);
    struct Expected {
        double hz;
        const char* label;
    };
    for (const Expected& e : {Expected{kPlatterHz, "platter x1"}, Expected{motor, "motor x1"},
                              Expected{motor * 12, "motor electrical"}, Expected{33, nullptr}}) {
        const meter::ModulationLine* m = LineNear(c, e.hz);
        ASSERT_TRUE(m) << e.hz;
        if (e.label)
            EXPECT_EQ(m->label.value_or("none"), e.label) << e.hz;
        else
            EXPECT_FALSE(m->label) << e.hz << ": " << m->label.value_or("");
    }
}

// The window's dialog hands the meter its transport directly: the meter
// itself refuses one out of range, before reading the file.
TEST_F(Diagnosis, MeterRefusesATransportOutOfRange)
{
    const std::string path = Write("tone.wav", {{4, 0.001}}, 0, 0, 3);
    meter::MeterSettings s;
    s.transport.tapeSpeedCmS = 4.76;
    s.transport.capstanMm = 1e-300;
    meter::MeterResult r = meter::RunMeter(path, s);
    EXPECT_FALSE(r.ok);
    EXPECT_TRUE(r.channels.empty());
    EXPECT_EQ(r.message, "The capstan diameter given, 1e-300 mm, lies outside 0.5 to 100 mm.");
    s.transport = TapeDeck();
    r = meter::RunMeter(path, s);
    EXPECT_TRUE(r.ok) << r.message;
}

// FM alone has no AM at its line; AM alone, at 4 Hz or the platter's rate, no FM line.
TEST_F(Diagnosis, AmplitudeBesideFrequency)
{
    meter::MeterResult r = meter::RunMeter(Write("fm.wav", {{4, 0.001}}, 0, 0, 20), {});
    ASSERT_TRUE(r.ok) << r.message;
    const meter::ModulationLine* m = LineNear(r.channels[0], 4);
    ASSERT_TRUE(m);
    EXPECT_LT(m->amPercent, 0.05);
    for (double hz : {4.0, kPlatterHz}) {
        r = meter::RunMeter(Write("am.wav", {}, hz, 0.05, 20), {});
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_FALSE(LineNear(r.channels[0], hz)) << hz;
    }
}

// The analyser on tracks at the platter's rate: AM in step with the FM reads its
// level and coheres; AM at another rate reads none at the FM line.
TEST(AmFm, CoherenceAtThePlatterRate)
{
    const double rate = 2000, seconds = 40;
    for (const double amHz : {kPlatterHz, 3.1}) {
        meter::AmFmAnalyser a(rate, seconds);
        for (int i = 0; i < static_cast<int>(rate * seconds); ++i) {
            const double t = i / rate, level = 0.3 * (1 + 0.04 * std::cos(kTwoPi * amHz * t));
            a.Add(3150 * (1 + 0.0008 * std::sin(kTwoPi * kPlatterHz * t)), level * level);
        }
        std::vector<meter::ModulationLine> lines{{kPlatterHz, 0.08}};
        a.Annotate(lines, 0);
        if (amHz == kPlatterHz) {
            EXPECT_NEAR(lines[0].amPercent, 4, 0.2);
            EXPECT_GT(lines[0].amFmCoherence.value_or(0), 0.95);
        } else {
            EXPECT_LT(lines[0].amPercent, 0.1);
        }
    }
}

TEST(MeterViews, OncePerRevolutionDeviationDrawsAnOffCentreCircle)
{
    meter::ChannelFigures c;
    c.revolutionHz = kPlatterHz;
    const double a = 0.05, phase = 0.7;
    for (double t = 0; t < meter::ZoomSeconds(kPlatterHz); t += 0.002) {
        c.trackSeconds.push_back(t);
        c.trackDeviation.push_back(a * std::cos(kTwoPi * kPlatterHz * t - phase));
    }
    const meter::PolarView v = meter::MakePolar(c);
    ASSERT_EQ(v.angle.size(), 4u);  // four revolutions overlaid
    ASSERT_GT(v.base, 2 * a);
    EXPECT_LE(a, 2 * v.ringStep);
    double nearest = 1e9, farthest = 0;
    for (size_t t = 0; t < v.angle.size(); ++t)
        for (size_t k = 0; k < v.angle[t].size(); ++k) {
            const double th = v.angle[t][k] * std::numbers::pi / 180, r = v.radius[t][k];
            const double x = r * std::cos(th), y = r * std::sin(th);
            // Every point lies on the circle of radius base around (a, phase).
            EXPECT_NEAR(std::hypot(x - a * std::cos(phase), y - a * std::sin(phase)), v.base, a * a / v.base + 1e-4);
            nearest = std::min(nearest, r);
            farthest = std::max(farthest, r);
        }
    EXPECT_NEAR(farthest - nearest, 2 * a, 1e-3);  // off the centre by a
}

TEST(PlotScale, TicksForShortAndLongFiles)
{
    struct Case {
        double seconds;
        std::vector<std::string> labels;
    };
    const Case cases[] = {
        {3, {"0.0", "0.5", "1.0", "1.5", "2.0", "2.5", "3.0"}},
        {600, {"0:00", "2:00", "4:00", "6:00", "8:00", "10:00"}},
        {3600, {"0:00", "10:00", "20:00", "30:00", "40:00", "50:00", "60:00"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(meter::TimeAxis(c.seconds).labels, c.labels) << c.seconds;
}

TEST(PlotScale, CleanToneKeepsTheNarrowestDeviationAxis)
{
    const meter::Axis clean = meter::DeviationAxis(-0.0004, 0.0006);
    EXPECT_DOUBLE_EQ(clean.lo, -0.01);
    EXPECT_DOUBLE_EQ(clean.hi, 0.01);
    EXPECT_EQ(clean.labels, (std::vector<std::string>{"-0.010", "-0.005", "0.000", "0.005", "0.010"}));
    const meter::Axis wide = meter::DeviationAxis(-0.13, 0.14);
    EXPECT_EQ(wide.labels, (std::vector<std::string>{"-0.15", "-0.10", "-0.05", "0.00", "0.05", "0.10", "0.15"}));
    EXPECT_EQ(meter::LinearAxis(0, 1.5e-6, 5).labels.back(), "0.0000015");  // no exponent
    EXPECT_EQ(meter::LogAxis(0.2, 200).labels, (std::vector<std::string>{"0.2", "0.5", "1", "2", "5", "10", "20",
                                                                          "50", "100", "200"}));
    // Where that is too many: the decades and both ends, each once.
    EXPECT_EQ(meter::LogAxis(0.2, 200, meter::LogTicks::Decades).labels,
              (std::vector<std::string>{"0.2", "1", "10", "100", "200"}));
    EXPECT_EQ(meter::LogAxis(1, 1000, meter::LogTicks::Decades).labels,
              (std::vector<std::string>{"1", "10", "100", "1000"}));
}

TEST(SpeedLog, NeitherAudioNorLogIsOneMessage)
{
    TempDir dir;
    const std::string path = (dir.Path() / "notes.txt").string();
    std::ofstream(path) << "shopping list\nmilk\n";
    const meter::MeterResult r = meter::RunMeter(path, {});
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("notes.txt"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("Nor is it a speed log"), std::string::npos) << r.message;
}

}  // namespace
