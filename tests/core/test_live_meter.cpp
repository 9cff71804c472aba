// The live meter fed from a buffer played in blocks: the file meter's figures,
// speed steps, jumps and losses of the tone, Reset and the window, the figures
// from the lock whatever came before, noise read as no tone, and its command line.
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "cli/Cli.h"
#include "cli/MeterLive.h"
#include "meter/LiveMeter.h"
#include "meter/Meter.h"
#include "platform/SoundPlatform.h"
#include "sound/BlockCapture.h"

#include "FakeSound.h"

#include <gtest/gtest.h>

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>
#include <numbers>
#include <random>
#include <sstream>
#include <thread>

using namespace tarvo;
using namespace tarvo::test;
using meter::LiveMeter;
using meter::LiveSettings;
using meter::LiveState;
using meter::LiveUpdate;

namespace {

constexpr int kRate = 48000;

// A mono tone whose frequency at t is hz(t), its phase summed sample by sample.
std::vector<float> Sweep(double seconds, const std::function<double(double)>& hz, double amplitude = 0.5)
{
    std::vector<float> x(static_cast<size_t>(std::lround(seconds * kRate)));
    double phase = 0;
    for (size_t i = 0; i < x.size(); ++i) {
        x[i] = static_cast<float>(amplitude * std::sin(phase));
        phase = std::remainder(phase + 2 * std::numbers::pi * hz(static_cast<double>(i) / kRate) / kRate,
                               2 * std::numbers::pi);
    }
    return x;
}

// 3150 Hz, 0.1 % at 4 Hz, with a step of `step` (a fraction) at `at` seconds.
double FmHz(double t, double step = 0, double at = 1e9)
{
    return 3150 * (1 + 0.001 * std::sin(2 * std::numbers::pi * 4 * t)) * (t >= at ? 1 + step : 1);
}

// Every update of the meter fed the frames through a BufferCapture in blocks.
std::vector<LiveUpdate> Play(LiveMeter& m, std::vector<float> frames, int channels, size_t block)
{
    std::vector<LiveUpdate> updates;
    m.SetUpdateSink([&](const LiveUpdate& u) { updates.push_back(u); });
    BufferCapture source(std::move(frames), kRate, channels, block);
    std::string why;
    EXPECT_TRUE(source.Start([&](const float* x, size_t n) { m.Push(x, n); }, why)) << why;
    source.Play();
    return updates;
}

// The tone written as a float file and read back, so that both meters see the same samples.
std::vector<float> WriteAndRead(const std::string& path, double seconds, int channels)
{
    Tone tone;
    tone.mods = {{4, 0.001}};
    Tone other = tone;
    other.carrier = 1000;
    std::vector<Tone> tones{tone};
    if (channels == 2)
        tones.push_back(other);
    EXPECT_TRUE(WriteTones(path, SF_FORMAT_WAV | SF_FORMAT_FLOAT, kRate, seconds, tones));
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    std::vector<float> x(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(f, x.data(), info.frames);
    sf_close(f);
    return x;
}

void ExpectSameFigures(const meter::ChannelFigures& live, const meter::ChannelFigures& file, const std::string& what)
{
    auto near = [&](double a, double b, const char* name) {
        EXPECT_NEAR(a, b, std::abs(b) * 0.005) << name << " " << what;
    };
    near(live.carrierHz, file.carrierHz, "carrier");
    near(live.weighted.twoSigmaPercent, file.weighted.twoSigmaPercent, "weighted two-sigma");
    near(live.weighted.rmsPercent, file.weighted.rmsPercent, "weighted rms");
    near(live.unweighted.twoSigmaPercent, file.unweighted.twoSigmaPercent, "unweighted two-sigma");
    near(live.unweighted.rmsPercent, file.unweighted.rmsPercent, "unweighted rms");
    near(live.wowRmsPercent, file.wowRmsPercent, "wow");
    EXPECT_NEAR(live.flutterRmsPercent, file.flutterRmsPercent, 0.0005) << "flutter " << what;
}

TEST(LiveMeter, BlocksOfAnySizeReadAsTheFileMeterReads)
{
    TempDir dir;
    const std::string path = (dir.Path() / "fm.wav").string();
    const std::vector<float> x = WriteAndRead(path, 8, 2);
    const meter::MeterResult file = meter::RunMeter(path, {});
    ASSERT_TRUE(file.ok) << file.message;
    ASSERT_EQ(file.channels.size(), 2u);
    EXPECT_NEAR(file.channels[0].weighted.twoSigmaPercent, 0.1, 0.002);

    meter::ChannelFigures first;
    for (size_t block : {1, 7, 480, 1000, 4096}) {
        LiveSettings s;
        s.runSeconds = 8;
        LiveMeter m(kRate, 2, s);
        ASSERT_TRUE(m.Ok()) << m.Error();
        const auto updates = Play(m, x, 2, block);
        EXPECT_EQ(updates.size(), 80u) << block;  // ten a second
        const meter::MeterResult live = m.WholeRun();
        ASSERT_TRUE(live.ok) << live.message;
        ASSERT_EQ(live.channels.size(), 2u);
        for (size_t c = 0; c < 2; ++c)
            ExpectSameFigures(live.channels[c], file.channels[c], "block " + std::to_string(block));
        // Cut differently, the input gives exactly the same figures.
        if (block == 1)
            first = live.channels[0];
        EXPECT_EQ(live.channels[0].weighted.twoSigmaPercent, first.weighted.twoSigmaPercent) << block;
        EXPECT_EQ(live.channels[0].carrierHz, first.carrierHz) << block;
    }
}

TEST(LiveMeter, GivenCarrierLocksAtOnceAndReadsTheSame)
{
    TempDir dir;
    const std::string path = (dir.Path() / "fm.wav").string();
    const std::vector<float> x = WriteAndRead(path, 6, 1);
    meter::MeterSettings fs;
    fs.carrierHz = 3150;
    const meter::MeterResult file = meter::RunMeter(path, fs);
    ASSERT_TRUE(file.ok) << file.message;
    LiveSettings s;
    s.carrierHz = 3150;
    s.runSeconds = 6;
    LiveMeter m(kRate, 1, s);
    const auto updates = Play(m, x, 1, 512);
    ASSERT_FALSE(updates.empty());
    EXPECT_EQ(updates.front().channels[0].state, LiveState::Locked);
    ASSERT_TRUE(updates.front().channels[0].carrierHz.has_value());
    const meter::MeterResult live = m.WholeRun();
    ASSERT_TRUE(live.ok) << live.message;
    ExpectSameFigures(live.channels[0], file.channels[0], "given carrier");
}

// The first update at or after `from` whose speed error lies within tol of want.
double FirstReading(const std::vector<LiveUpdate>& updates, double from, double want, double tol)
{
    for (const LiveUpdate& u : updates) {
        const auto& e = u.channels[0].speedErrorPercent;
        if (u.seconds >= from && e && std::abs(*e - want) <= tol)
            return u.seconds;
    }
    return 1e9;
}

TEST(LiveMeter, SpeedStepShowsWithinThreeHundredMilliseconds)
{
    struct Case {
        const char* name;
        double at;  // the step's time, anywhere in an update
        bool fm;
        double tol;
    } cases[] = {
        {"clean tone", 3.0, false, 0.05},
        {"clean tone, mid-update", 3.037, false, 0.05},
        {"clean tone, late in an update", 3.093, false, 0.05},
        {"0.1 % at 4 Hz, mid-update", 3.061, true, 0.15},
    };
    for (const Case& c : cases) {
        LiveSettings s;
        s.nominalHz = 3150;
        LiveMeter m(kRate, 1, s);
        const auto x = Sweep(5, [&](double t) { return c.fm ? FmHz(t, 0.01, c.at) : t >= c.at ? 3181.5 : 3150.0; });
        const auto updates = Play(m, x, 1, 256);
        const double shown = FirstReading(updates, c.at, 1.0, c.tol);
        EXPECT_LE(shown - c.at, 0.3) << c.name;
        EXPECT_NEAR(*updates[25].channels[0].speedErrorPercent, 0.0, c.tol) << c.name;
        EXPECT_NEAR(*updates.back().channels[0].speedErrorPercent, 1.0, c.fm ? 0.02 : 0.005) << c.name;
        EXPECT_NEAR(*updates.back().channels[0].speedErrorHz, 31.5, c.fm ? 0.6 : 0.15) << c.name;
        // A step of a percent is followed, not locked again.
        EXPECT_EQ(updates.back().channels[0].relocks, 0) << c.name;
    }
}

TEST(LiveMeter, ToneThatJumpsIsLockedAgainAndSaysSo)
{
    struct Case {
        const char* name;
        double to;  // the new frequency
    } cases[] = {
        {"5 % up", 3150 * 1.05},
        {"5 % down", 3150 * 0.95},
        {"out of the demodulator's band", 3150 * 1.3},
    };
    for (const Case& c : cases) {
        LiveMeter m(kRate, 1, {});
        const auto x = Sweep(6, [&](double t) { return t >= 3.02 ? c.to : 3150.0; });
        const auto updates = Play(m, x, 1, 1024);
        int announced = 0;
        for (const LiveUpdate& u : updates) {
            const auto& ch = u.channels[0];
            announced += ch.relocked;
            // Never a figure of neither tone.
            if (ch.carrierHz) {
                EXPECT_TRUE(std::abs(*ch.carrierHz - 3150) < 3 || std::abs(*ch.carrierHz - c.to) < 3)
                    << c.name << " at " << u.seconds << " s: " << *ch.carrierHz;
            }
        }
        EXPECT_EQ(announced, 1) << c.name;
        const auto& last = updates.back().channels[0];
        EXPECT_EQ(last.relocks, 1) << c.name;
        ASSERT_TRUE(last.carrierHz.has_value()) << c.name;
        EXPECT_NEAR(*last.carrierHz, c.to, c.to * 0.0005) << c.name;
        EXPECT_TRUE(last.run.has_value()) << c.name;  // the statistics started again, and have two seconds
        EXPECT_NEAR(last.run->carrierHz, c.to, c.to * 0.0005) << c.name;
    }
}

// The carrier's mean is kept in units of 50 ms, an update every 100 ms: the
// second unit in a row without input loses the tone, and the next update says
// so; a unit only partly silent still holds it. A tone back is locked again.
TEST(LiveMeter, ToneIsLostAtTheEndOfItsSecondUnitWithoutIt)
{
    struct Case {
        const char* name;
        std::vector<std::pair<double, double>> silences;  // from, to
        double shown;  // the first update without the tone
        int relocks;
    } cases[] = {
        {"silence from an update on", {{3.0, 6}}, 3.1, 0},
        {"silence from mid-update", {{2.95, 6}}, 3.1, 0},
        {"silence from within a unit", {{3.02, 6}}, 3.2, 0},
        {"silence from within a unit late in an update", {{3.07, 6}}, 3.2, 0},
        {"a second of silence", {{3.0, 4.0}}, 3.1, 1},
        {"one silent unit", {{3.0, 3.05}}, 1e9, 0},
        {"one silent unit, a unit of tone, one silent unit", {{3.0, 3.05}, {3.1, 3.15}}, 1e9, 0},
    };
    for (const Case& c : cases) {
        LiveMeter m(kRate, 1, {});
        std::vector<float> x = Sweep(6, [](double) { return 3150.0; });
        for (const auto& [from, to] : c.silences)
            std::fill(x.begin() + std::lround(from * kRate), x.begin() + std::lround(to * kRate), 0.f);
        const auto updates = Play(m, x, 1, 1024);
        double shown = 1e9;
        for (const LiveUpdate& u : updates)
            if (u.seconds > 1 && u.channels[0].state != LiveState::Locked) {
                shown = u.seconds;
                break;
            }
        EXPECT_NEAR(shown, c.shown, 1e-6) << c.name;
        EXPECT_EQ(updates.back().channels[0].relocks, c.relocks) << c.name;
        if (c.relocks) {
            EXPECT_EQ(updates.back().channels[0].state, LiveState::Locked) << c.name;
            EXPECT_NEAR(updates.back().channels[0].carrierHz.value_or(0), 3150, 0.05) << c.name;
        }
    }
}

// The first update with window figures, and with whole-run figures, after `from`.
std::pair<double, double> FirstFigures(const std::vector<LiveUpdate>& updates, double from)
{
    double window = 1e9, run = 1e9;
    for (const LiveUpdate& u : updates) {
        if (u.seconds < from)
            continue;
        if (u.channels[0].window && window > 1e8)
            window = u.seconds;
        if (u.channels[0].run && run > 1e8)
            run = u.seconds;
    }
    return {window, run};
}

TEST(LiveMeter, WindowFillsAfterItsLengthAndResetStartsAgain)
{
    const auto x = Sweep(16, [](double t) { return FmHz(t); });
    struct Case {
        double window;
        double full;  // the window's length and the filters' settling second
    } cases[] = {{2, 3}, {5, 6}, {1, 2}};
    for (const Case& c : cases) {
        LiveSettings s;
        s.windowSeconds = c.window;
        LiveMeter m(kRate, 1, s);
        std::vector<LiveUpdate> updates;
        m.SetUpdateSink([&](const LiveUpdate& u) { updates.push_back(u); });
        m.Push(x.data(), 8 * kRate);
        m.Reset();
        m.Push(x.data() + 8 * kRate, 8 * kRate);
        // Locked after a second that settles the filters: the window full a
        // window's length later, the run's second of statistics a second later.
        const auto [window, run] = FirstFigures(updates, 0);
        EXPECT_NEAR(window, c.full, 1e-6) << c.window;
        EXPECT_NEAR(run, 2, 1e-6) << c.window;
        // After a reset the filters settle for a second again.
        const auto [windowAgain, runAgain] = FirstFigures(updates, 8.05);
        EXPECT_NEAR(windowAgain, 8 + c.full, 1e-6) << c.window;
        EXPECT_NEAR(runAgain, 10, 1e-6) << c.window;
        // Every window's figures cover the window's length, and say so.
        for (const LiveUpdate& u : updates)
            EXPECT_EQ(LiveJson(u)["live"]["channels"][0]["window_seconds"],
                      u.channels[0].window ? nlohmann::ordered_json(c.window) : nlohmann::ordered_json()) << u.seconds;
        const auto& last = updates.back().channels[0];
        ASSERT_TRUE(last.window && last.run);
        EXPECT_NEAR(last.window->seconds, c.window, 1e-9);
        EXPECT_NEAR(last.run->seconds, 8, 0.01);  // since the reset
        EXPECT_NEAR(last.window->weighted.twoSigmaPercent, 0.1, 0.004) << c.window;
    }
}

// Stretches of a tone of 0.1 % at 4 Hz (its phase running on), silence, white
// noise, or noise around 3 kHz (through a resonator of Q 1.5) of a given rms.
struct Stretch {
    enum Kind { Tone, Silence, White, Band } kind;
    double seconds;
    double hz = 0;   // the tone's
    double rms = 0;  // the noise's
};

constexpr double kDeviation = 0.1;  // percent, peak
constexpr double kModulationHz = 4;

std::vector<float> Stretches(const std::vector<Stretch>& parts)
{
    std::mt19937 rng(11);
    std::normal_distribution<double> gauss(0, 1);
    std::vector<float> x;
    double phase = 0, t = 0;
    for (const Stretch& p : parts) {
        const size_t n = static_cast<size_t>(std::lround(p.seconds * kRate));
        std::vector<double> v(n, 0.0);
        const double w0 = 2 * std::numbers::pi * 3000 / kRate, alpha = std::sin(w0) / (2 * 1.5);
        double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (size_t i = 0; i < n; ++i, t += 1.0 / kRate) {
            const double hz = p.hz * (1 + kDeviation / 100 * std::sin(2 * std::numbers::pi * kModulationHz * t));
            if (p.kind == Stretch::Tone)
                v[i] = 0.5 * std::sin(phase);
            phase = std::remainder(phase + 2 * std::numbers::pi * hz / kRate, 2 * std::numbers::pi);
            if (p.kind == Stretch::White)
                v[i] = gauss(rng);
            if (p.kind == Stretch::Band) {
                const double in = gauss(rng);
                v[i] = (alpha * in - alpha * x2 + 2 * std::cos(w0) * y1 - (1 - alpha) * y2) / (1 + alpha);
                x2 = x1;
                x1 = in;
                y2 = y1;
                y1 = v[i];
            }
        }
        double square = 0;
        for (double s : v)
            square += s * s;
        const double scale = p.kind == Stretch::White || p.kind == Stretch::Band ? p.rms / std::sqrt(square / static_cast<double>(n)) : 1;
        for (double s : v)
            x.push_back(static_cast<float>(s * scale));
    }
    return x;
}

// The stretch in force at t.
const Stretch& At(const std::vector<Stretch>& parts, double t, double* ends)
{
    double from = 0;
    for (const Stretch& p : parts) {
        if (t < from + p.seconds || &p == &parts.back()) {
            *ends = from + p.seconds;
            return p;
        }
        from += p.seconds;
    }
    return parts.back();
}

// Mean of the plot's points from `from` for `seconds`, and their rms about it.
std::pair<double, double> Trace(const meter::LiveChannel& ch, double from, double seconds)
{
    double sum = 0, square = 0;
    int n = 0;
    for (size_t i = 0; i < ch.trackSeconds.size(); ++i)
        if (ch.trackSeconds[i] >= from && ch.trackSeconds[i] < from + seconds) {
            sum += ch.trackPercent[i];
            square += ch.trackPercent[i] * ch.trackPercent[i];
            ++n;
        }
    const double mean = n ? sum / n : 1e9;
    return {mean, n ? std::sqrt(square / n - mean * mean) : 1e9};
}

TEST(LiveMeter, FiguresAndTraceAreRightFromTheLockWhateverCameBefore)
{
    // 0.1 % at 4 Hz: weighted two-sigma 0.99692 of it, wow its rms; the plot's
    // points (means of 10 ms) the rms times sin(x) / x at x = pi 4 Hz 10 ms.
    const double twoSigma = 0.99692 * kDeviation, rms = kDeviation / std::sqrt(2.0);
    const double x = std::numbers::pi * kModulationHz * 0.01, traceRms = rms * std::sin(x) / x;
    using S = Stretch;
    const struct {
        const char* name;
        std::vector<Stretch> parts;
        int measured;  // locks whose tone lasts a window's length
    } cases[] = {
        {"a tone from the start", {{S::Tone, 8, 3150}}, 1},
        {"a tone after silence", {{S::Silence, 2}, {S::Tone, 8, 3150}}, 1},
        {"a tone after white noise", {{S::White, 2, 0, 0.1}, {S::Tone, 8, 3150}}, 1},
        {"a tone after noise around it", {{S::Band, 2, 0, 0.1}, {S::Tone, 8, 3150}}, 1},
        {"a tone that jumps to a new frequency", {{S::Tone, 3, 3150}, {S::Tone, 8, 3000}}, 1},
        {"a tone back after silence, three times",
         {{S::Silence, 1.5}, {S::Tone, 7, 3150}, {S::Silence, 1}, {S::Tone, 7, 3150}, {S::Silence, 1}, {S::Tone, 7, 3150}}, 3},
    };
    for (const auto& c : cases) {
        LiveMeter m(kRate, 1, {});
        const auto updates = Play(m, Stretches(c.parts), 1, 1000);
        const double window = m.WindowSeconds();
        int measured = 0;
        for (size_t i = 1; i < updates.size(); ++i) {
            if (updates[i].channels[0].state != LiveState::Locked ||
                (updates[i - 1].channels[0].state == LiveState::Locked && !updates[i].channels[0].relocked))
                continue;
            // Locked at the update `lock`: the tone has held a second.
            const double lock = updates[i].seconds;
            double ends = 0;
            const Stretch& tone = At(c.parts, lock, &ends);
            const std::string what = std::string(c.name) + ", locked at " + std::to_string(lock);
            ASSERT_EQ(tone.kind, Stretch::Tone) << what;
            EXPECT_NEAR(updates[i].channels[0].referenceHz, tone.hz, 0.01 * tone.hz / 100) << what;
            if (ends < lock + window + 0.1)
                continue;
            ++measured;
            // A second after the lock: the run's figures and the plot.
            const auto second = std::find_if(updates.begin(), updates.end(), [&](const LiveUpdate& u) {
                return u.seconds > lock + 1 - 1e-6;
            });
            ASSERT_NE(second, updates.end()) << what;
            const auto& early = second->channels[0];
            ASSERT_TRUE(early.run.has_value()) << what;
            EXPECT_NEAR(early.run->weighted.twoSigmaPercent, twoSigma, 0.01 * twoSigma) << what;
            EXPECT_NEAR(early.run->wowRmsPercent, rms, 0.01 * rms) << what;
            // Over whole cycles the points swing as the modulation does, about the
            // run's mean carrier, within 2 d / (2 pi f T) of the centre after T s.
            const auto [earlyMean, earlyRms] = Trace(early, lock - 0.5, 1);
            const double partCycle = 2 * kDeviation / (2 * std::numbers::pi * kModulationHz);
            EXPECT_LE(std::abs(earlyMean), partCycle / early.run->seconds + 0.01 * kDeviation) << what;
            EXPECT_NEAR(earlyRms, traceRms, 0.01 * traceRms) << what;
            // The first window: once a window's length has been measured since the lock.
            const auto first = std::find_if(updates.begin(), updates.end(), [&](const LiveUpdate& u) {
                return u.seconds > lock && u.channels[0].window;
            });
            ASSERT_NE(first, updates.end()) << what;
            EXPECT_NEAR(first->seconds, lock + window, 1e-6) << what;
            const auto& ch = first->channels[0];
            EXPECT_EQ(ch.windowSpan, window) << what;
            ASSERT_TRUE(ch.window && ch.run && ch.carrierHz) << what;
            EXPECT_NEAR(*ch.carrierHz, tone.hz, 0.001 * tone.hz / 100) << what;
            for (const meter::ChannelFigures* f : {&*ch.window, &*ch.run}) {
                EXPECT_NEAR(f->weighted.twoSigmaPercent, twoSigma, 0.01 * twoSigma) << what;
                EXPECT_NEAR(f->wowRmsPercent, rms, 0.01 * rms) << what;
                EXPECT_LT(f->flutterRmsPercent, 0.01 * kDeviation) << what;  // 4 Hz a third of an octave below the flutter band
            }
            const auto [mean, traced] = Trace(ch, lock - 0.5, window);
            EXPECT_LE(std::abs(mean), partCycle / ch.run->seconds + 0.01 * kDeviation) << what;
            EXPECT_NEAR(traced, traceRms, 0.01 * traceRms) << what;
            // No point beyond the modulation's peak: nothing of what came before.
            for (size_t k = 0; k < ch.trackSeconds.size(); ++k) {
                if (ch.trackSeconds[k] >= lock - 1) {
                    ASSERT_LE(std::abs(ch.trackPercent[k] - mean), 1.01 * kDeviation) << what << " at " << ch.trackSeconds[k];
                }
            }
        }
        EXPECT_EQ(measured, c.measured) << c.name;
    }
}

TEST(LiveMeter, NoiseAfterAToneIsNoToneWithinASecond)
{
    using S = Stretch;
    const struct {
        const char* name;
        Stretch noise;
    } cases[] = {
        {"white noise", {S::White, 4, 0, 0.3}},
        {"quiet white noise", {S::White, 4, 0, 0.01}},
        {"noise in a band around the tone", {S::Band, 4, 0, 0.2}},
        {"louder noise in a band around the tone", {S::Band, 4, 0, 1}},
        {"silence", {S::Silence, 4}},
    };
    for (const auto& c : cases) {
        LiveSettings s;
        s.nominalHz = 3000;
        for (bool after : {true, false}) {
            LiveMeter m(kRate, 1, s);
            std::vector<Stretch> parts{c.noise};
            if (after)
                parts.insert(parts.begin(), {S::Tone, 6, 3000});
            const auto updates = Play(m, Stretches(parts), 1, 1000);
            const double from = after ? 6 : 0;
            const std::string what = std::string(c.name) + (after ? " after a tone" : " alone");
            if (after) {
                ASSERT_NEAR(updates[59].seconds, 6, 1e-9);
                const auto& tone = updates[59].channels[0];  // the last before the noise
                EXPECT_EQ(tone.state, LiveState::Locked) << what;
                EXPECT_TRUE(tone.carrierHz && tone.window && tone.run) << what;
            }
            ASSERT_EQ(updates.size(), after ? 100u : 40u) << what;
            for (const LiveUpdate& u : updates) {
                if (!after) {
                    EXPECT_NE(u.channels[0].state, LiveState::Locked) << what << " at " << u.seconds;
                }
                if (u.seconds < from + 1 - 1e-6)
                    continue;
                const auto& ch = u.channels[0];
                EXPECT_EQ(ch.state, LiveState::NoTone) << what << " at " << u.seconds;
                EXPECT_FALSE(ch.carrierHz || ch.speedErrorPercent || ch.window || ch.run) << what << " at " << u.seconds;
                EXPECT_TRUE(ch.trackSeconds.empty()) << what << " at " << u.seconds;
            }
            const meter::MeterResult r = m.WholeRun();
            EXPECT_FALSE(r.ok) << what;
            EXPECT_EQ(r.message, "No tone between 50 and 20000 Hz in channel 1 of the input.") << what;
        }
    }
}

TEST(LiveMeter, BlockWithANonFiniteSampleIsRefused)
{
    const double twoSigma = 0.99692 * kDeviation, rms = kDeviation / std::sqrt(2.0);
    const std::vector<float> x = Stretches({{Stretch::Tone, 12, 3150}});
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        LiveMeter m(kRate, 1, {});
        std::vector<LiveUpdate> updates;
        m.SetUpdateSink([&](const LiveUpdate& u) { updates.push_back(u); });
        constexpr size_t block = 480;
        for (size_t at = 0; at + block <= x.size(); at += block) {
            std::vector<float> b(x.begin() + static_cast<std::ptrdiff_t>(at), x.begin() + static_cast<std::ptrdiff_t>(at + block));
            const bool spoilt = at == 3 * kRate;
            if (spoilt)
                b[100] = bad;
            EXPECT_EQ(m.Push(b.data(), block), !spoilt) << at;
        }
        // Refused, and the tone looked for afresh: locked again a second on,
        // its figures as right as before.
        const auto& last = updates.back().channels[0];
        EXPECT_EQ(last.state, LiveState::Locked);
        EXPECT_EQ(last.relocks, 1);
        EXPECT_NEAR(m.Seconds(), 12 - 0.01, 1e-9);  // the block refused is not counted
        ASSERT_TRUE(last.window && last.run);
        for (const meter::ChannelFigures* f : {&*last.window, &*last.run}) {
            EXPECT_NEAR(f->weighted.twoSigmaPercent, twoSigma, 0.01 * twoSigma);
            EXPECT_NEAR(f->wowRmsPercent, rms, 0.01 * rms);
        }
        for (const LiveUpdate& u : updates)
            for (double v : u.channels[0].trackPercent)
                ASSERT_TRUE(std::isfinite(v)) << u.seconds;
    }
}

TEST(LiveMeter, TrackKeepsTheLastTenSeconds)
{
    LiveMeter m(kRate, 1, {});
    const auto updates = Play(m, Sweep(13, [](double t) { return FmHz(t); }), 1, 2048);
    const auto& ch = updates.back().channels[0];
    ASSERT_GT(ch.trackSeconds.size(), 400u);
    EXPECT_GE(ch.trackSeconds.front(), 3.0);
    EXPECT_LE(ch.trackSeconds.back(), 13.0);
    EXPECT_GT(ch.trackSeconds.back(), 12.95);
    // Each point the mean of its 10 ms: sin(x) / x of the peak at x = pi 4 Hz 10 ms.
    double mean = 0;
    for (double v : ch.trackPercent)
        mean += v / static_cast<double>(ch.trackPercent.size());
    const double x = std::numbers::pi * 4 * 0.01, peak = 0.1 * std::sin(x) / x;
    double worst = 0;
    for (size_t i = 0; i < ch.trackSeconds.size(); ++i)
        worst = std::max(worst, std::abs(ch.trackPercent[i] - mean - peak * std::sin(2 * std::numbers::pi * 4 * ch.trackSeconds[i])));
    EXPECT_LT(worst, 0.002 * 0.1);  // half a point (0.25 ms) off gives 0.6 %
    // A hundred points a second, evenly spaced.
    EXPECT_NEAR(static_cast<double>(ch.trackSeconds.size()), 1000, 20);
    for (size_t i = 1; i < ch.trackSeconds.size(); ++i)
        ASSERT_NEAR(ch.trackSeconds[i] - ch.trackSeconds[i - 1], 0.01, 0.001) << i;
}

TEST(LiveMeter, EachChannelIsMeasuredOnItsOwnTone)
{
    const double hz[3] = {1000, 2000, 3150};
    std::vector<float> x(3 * 3 * kRate);
    for (size_t i = 0; i < x.size() / 3; ++i)
        for (size_t c = 0; c < 3; ++c)
            x[i * 3 + c] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz[c] * static_cast<double>(i) / kRate));
    for (const std::vector<int>& chosen : {std::vector<int>{}, std::vector<int>{3}, std::vector<int>{2}}) {
        LiveSettings s;
        s.channels = chosen;
        LiveMeter m(kRate, 3, s);
        const auto updates = Play(m, x, 3, 1000);
        const auto& last = updates.back().channels;
        ASSERT_EQ(last.size(), chosen.empty() ? 3u : 1u);
        for (const auto& ch : last) {
            ASSERT_TRUE(ch.carrierHz.has_value()) << ch.channel;
            EXPECT_NEAR(*ch.carrierHz, hz[ch.channel - 1], 0.01) << ch.channel;
        }
    }
}

TEST(LiveCarrierSearch, TakesAToneThatStandsOverTheFloorAndHoldsATenthOfThePower)
{
    // The newest 2048 of 4000 samples at 8000 Hz searched: a tone of amplitude a
    // on a bin has a lobe of 1.5 (a 2048 / 4)^2; a click of height h puts h^2 in every bin.
    constexpr int rate = 8000;
    constexpr size_t n = rate / 2, len = 2048, middle = n - len / 2;
    constexpr double hz = 1000;  // on bin 256
    auto tone = [](double a, double f) {
        return [a, f](size_t i) { return a * std::sin(2 * std::numbers::pi * f * static_cast<double>(i) / rate); };
    };
    auto lobe = [](double a) { return 1.5 * std::pow(a * len / 4, 2); };
    // The height of a click whose bins lie `db` under the lobe of a tone of amplitude a.
    auto click = [&](double a, double db) { return std::sqrt(lobe(a) / std::pow(10, db / 10)); };
    const struct {
        const char* name;
        std::function<double(size_t)> x;
        double want;  // 0: no tone
    } cases[] = {
        {"a tone", tone(0.5, hz), hz},
        {"a tone over a hum below the carriers with a twentieth of its power", 
         [&](size_t i) { return tone(0.5, hz)(i) + tone(0.5 / std::sqrt(20.0), 20)(i); }, hz},
        // Far over the floor, but a hum of 25 times its power leaves the tone 4 % of the input.
        {"a tone under a hum below the carriers with 25 times its power",
         [&](size_t i) { return tone(0.1, hz)(i) + tone(0.5, 20)(i); }, 0},
        // The click's bins 40 dB under the lobe: the tone passes both.
        {"a tone over a click 40 dB under it in every bin",
         [&](size_t i) { return tone(0.02, hz)(i) + (i == middle ? click(0.02, 40) : 0); }, hz},
        // 25 dB over the median only, though the tone holds a fifth of the input (its lobe against
        // 1025 bins of the click 25 dB under it).
        {"a tone over a click 25 dB under it in every bin",
         [&](size_t i) { return tone(0.02, hz)(i) + (i == middle ? click(0.02, 25) : 0); }, 0},
    };
    for (const auto& c : cases) {
        std::vector<float> x(n);
        for (size_t i = 0; i < n; ++i)
            x[i] = static_cast<float>(c.x(i));
        const double found = meter::FindLiveCarrier(x.data(), n, 1, rate);
        if (c.want > 0)
            EXPECT_NEAR(found, c.want, 0.5) << c.name;
        else
            EXPECT_EQ(found, 0) << c.name;
    }
    // The click 25 dB under: a fifth of the power in the tone, as said.
    EXPECT_GT(lobe(0.02) / (lobe(0.02) + 1025 * std::pow(click(0.02, 25), 2)), 0.2);
}

// A sound input that plays a tone as time passes, then goes away (a server
// killed) or stalls (gives nothing more).
class FadingInput : public BufferCapture {
public:
    using BufferCapture::BufferCapture;
    void Lose(const std::string& why)
    {
        Stop();
        ReportLoss(why);
    }
};

class FadingSound : public SoundPlatform {
public:
    FadingSound(std::vector<float> tone, double loseAfter, bool stall)
        : tone_(std::move(tone)), loseAt_(std::llround(loseAfter * kRate)), stall_(stall)
    {
    }
    SoundService& Playback() override { return playback_; }
    MciDevice& Recorder() override { return mci_; }
    bool HasOutput() const override { return true; }
    bool HasInput() const override { return true; }
    void RunFor(double seconds) override
    {
        runsAfterLoss += lost;
        if (played_ == loseAt_) {
            std::this_thread::sleep_for(std::chrono::duration<double>(seconds));  // stalled
            return;
        }
        const auto frames = std::min<int64_t>(std::llround(seconds * kRate), loseAt_ - played_);
        input_->Play(static_cast<size_t>(frames));
        played_ += frames;
        if (played_ == loseAt_ && !stall_) {
            lost = true;
            input_->Lose("the test's server is gone");
        }
    }
    void WaitForSound() override {}
    bool IsPlaying() const override { return false; }
    std::unique_ptr<BlockCapture> OpenInputStream() override
    {
        auto input = std::make_unique<FadingInput>(tone_, kRate, 1, 480);
        input_ = input.get();
        return input;
    }

    bool lost = false;
    int runsAfterLoss = 0;

private:
    std::vector<float> tone_;
    int64_t loseAt_, played_ = 0;
    bool stall_;
    FadingInput* input_ = nullptr;
    FakePlayback playback_;
    RecordingMci mci_;
};

TEST(MeterLiveCli, InputThatGoesAwayIsSaidOnceWithTheFiguresMeasured)
{
    // 0.1 % at 4 Hz: the weighted two-sigma reads 0.99692 of it (the
    // weighting's gain is 1 at 4 Hz), over whatever was measured.
    const auto x = Sweep(10, [](double t) { return FmHz(t); });
    const struct {
        double loseAfter;
        bool stall, figures;
        std::string message;
    } cases[] = {
        {4, false, true, "The sound input went away after 4.0 s: the test's server is gone."},
        // Of 8 s asked for, a fifth lets the filters settle; then a second of statistics.
        {1, false, false, "The sound input went away after 1.0 s: the test's server is gone. The meter needs at least 2.6 seconds "
                          "of the tone in channel 1"},
        // Given nothing for 5 s, the run gives up waiting.
        {3, true, true, "The sound input stopped after 3.0 s of the 8.0 s asked for."},
        {20, false, true, ""},  // never, within the 8 s asked for
    };
    for (const auto& c : cases) {
        FadingSound sound(x, c.loseAfter, c.stall);
        std::ostringstream out;
        LiveRequest req;
        req.on = true;
        req.seconds = 8;
        const MeterOutcome o = RunMeterLive(sound, req, {}, true, out);
        EXPECT_EQ(sound.runsAfterLoss, 0) << c.loseAfter;  // it ends at once
        if (c.message.empty()) {
            EXPECT_TRUE(o.messages.empty()) << c.loseAfter;
        } else {
            ASSERT_EQ(o.messages.size(), 1u) << c.loseAfter;
            EXPECT_EQ(o.messages[0].first, kMeterCaption);
            EXPECT_TRUE(o.messages[0].second.starts_with(c.message)) << o.messages[0].second;
        }
        ASSERT_EQ(o.ok, c.figures) << c.loseAfter;
        if (!c.figures)
            continue;
        const auto& ch = o.json["channels"][0];
        const double measured = std::min(c.loseAfter, 8.0);
        // The run counts from the tone's first sample through the demodulator.
        EXPECT_LE(ch["seconds"].get<double>(), measured) << c.loseAfter;
        EXPECT_GT(ch["seconds"].get<double>(), measured - 0.05) << c.loseAfter;
        EXPECT_NEAR(ch["weighted"]["two_sigma_percent"].get<double>(), 0.099692, 0.003) << c.loseAfter;
        // Every update up to the loss was written, ten a second.
        const std::string lines = out.str();
        EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), std::lround(measured * 10)) << c.loseAfter;
    }
}

TEST(LiveMeter, RefusesWhatItCannotMeasure)
{
    LiveSettings one;
    one.channels = {3};
    LiveSettings low;
    low.carrierHz = 20;
    const struct {
        int rate, channels;
        LiveSettings settings;
        const char* error;
    } cases[] = {
        {4000, 1, {}, "The meter needs a sample rate of at least 8000 Hz; the input has 4000 Hz."},
        {kRate, 2, one, "The input has no channel 3; it has 2."},
        {kRate, 1, low, "The carrier must lie between 50 Hz and 20000 Hz at this rate."},
    };
    for (const auto& c : cases) {
        LiveMeter m(c.rate, c.channels, c.settings);
        EXPECT_FALSE(m.Ok());
        EXPECT_EQ(m.Error(), c.error);
    }
}

TEST(BlockCapture, SamplesOfEveryKindBecomeFloats)
{
    const unsigned char u8[] = {0, 128, 255};
    const unsigned char s16[] = {0x00, 0x80, 0x00, 0x00, 0xff, 0x7f, 0x01};  // a trailing half sample
    std::vector<float> out;
    AppendSamples(u8, sizeof u8, SampleKind::UInt8, out);
    AppendSamples(s16, sizeof s16, SampleKind::Int16, out);
    const float f[] = {0.25f, -2.f};
    AppendSamples(reinterpret_cast<const unsigned char*>(f), sizeof f, SampleKind::Float, out);
    EXPECT_EQ(out, (std::vector<float>{-1.f, 0.f, 127 / 128.f, -1.f, 0.f, 32767 / 32768.f, 0.25f, -1.f}));
}

TEST(MeterLiveCli, UsageErrorsNeedNoSound)
{
    const std::string seconds = "--meter-live takes a number of seconds from 0 to 86400",
                      noFile = "--meter-live measures the sound input: it takes no FILE, --meter, --meter-csv or --meter-png",
                      noName = "--input needs the name of a sound input (--list-inputs lists them)",
                      alone = "--input goes with --meter-live or --rec",
                      list = "--list-inputs lists the sound inputs: it takes no FILE, command or other option than --json";
    const struct {
        std::vector<std::string> args;
        std::string why;
    } cases[] = {
        {{"--meter-live"}, seconds},
        {{"--meter-live", "0"}, seconds + ", not \"0\""},
        {{"--meter-live", "ten"}, seconds + ", not \"ten\""},
        {{"--meter-live", "5", "deck.wav"}, noFile},
        {{"--meter-live", "5", "--meter-png", "x.png"}, noFile},
        {{"--meter-live", "5", "--carrier", "20"}, "--carrier takes a frequency from 50 to 20000 Hz, not \"20\""},
        {{"--meter-live", "5", "--input"}, noName},
        {{"--meter-live", "5", "--input", ""}, noName},
        {{"--input", "tarvo_mic"}, alone},
        {{"--input", "tarvo_mic", "--3khz"}, alone},
        {{"--list-inputs", "deck.wav"}, list},
        {{"--list-inputs", "--meter-live", "5"}, list},
        {{"--list-inputs", "--input", "tarvo_mic"}, list},
        {{"--list-inputs", "--rec", "1"}, list},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"tarvo-cli"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        std::ostringstream out, err;
        EXPECT_EQ(RunCli(static_cast<int>(argv.size()), argv.data(), out, err), kExitUsage) << c.args[0];
        EXPECT_EQ(err.str().substr(0, err.str().find('\n')), "tarvo-cli: " + c.why);
        EXPECT_EQ(out.str(), "");
    }
}

TEST(MeterLiveCli, UpdateLinesGiveNullUntilAFigureIsThere)
{
    meter::LiveUpdate u;
    u.seconds = 1.2;
    meter::LiveChannel searching;
    searching.channel = 1;
    meter::LiveChannel locked;
    locked.channel = 2;
    locked.state = LiveState::Locked;
    locked.referenceHz = 3150;
    locked.carrierHz = 3150.23456;
    locked.speedErrorPercent = 0.0074;
    locked.speedErrorHz = 0.23456;
    locked.window = meter::ChannelFigures{};
    locked.window->weighted.twoSigmaPercent = 0.1;
    locked.window->wowRmsPercent = 0.07;
    locked.windowSpan = 5.25;
    u.channels = {searching, locked};
    EXPECT_EQ(LiveJson(u).dump(),
              R"({"live":{"seconds":1.2,"channels":[)"
              R"({"channel":1,"carrier_hz":null,"speed_error_percent":null,"weighted":{"two_sigma_percent":null},)"
              R"("wow_rms_percent":null,"flutter_rms_percent":null,"state":"searching","relocked":false,)"
              R"("speed_error_hz":null,"window_seconds":null,"run":{"seconds":null,"weighted":{"two_sigma_percent":null},)"
              R"("wow_rms_percent":null,"flutter_rms_percent":null}},)"
              R"({"channel":2,"carrier_hz":3150.2346,"speed_error_percent":0.0074,"weighted":{"two_sigma_percent":0.1},)"
              R"("wow_rms_percent":0.07,"flutter_rms_percent":0.0,"state":"locked","relocked":false,)"
              R"("speed_error_hz":0.2346,"window_seconds":5.25,"run":{"seconds":null,"weighted":{"two_sigma_percent":null},)"
              R"("wow_rms_percent":null,"flutter_rms_percent":null}}]}})");
    EXPECT_EQ(LiveText(u), "Live 1.2 s: channel 1 looking for the tone; channel 2 carrier 3150.23 Hz, speed error "
                           "+0.007 % (+0.23 Hz), weighted 2-sigma 0.1000 %, wow 0.0700 %, flutter 0.0000 %");
}

}  // namespace
