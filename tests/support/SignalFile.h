// Test signals for the meter's measurements on real recordings: a carrier
// with sinusoidal deviations, amplitude modulation, harmonics, more tones
// and white noise of a known level, written as 32-bit float by libsndfile.
#pragma once

#include "WaveBuilder.h"

#include "meter/Meter.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace tarvo::test {

struct Line {
    double hz, peak, phase = 0;  // peak deviation as a fraction; phase of the deviation at t = 0
};

// A carrier with sinusoidal deviations d sin(2 pi f t + phase), optional
// amplitude modulation and white noise, written as 32-bit float.
struct Signal {
    double carrier = 1000;
    std::vector<Line> lines;
    double amplitude = 0.5;
    double am = 0, amHz = 0;  // amplitude modulation depth and rate
    double noise = 0;         // rms of added white noise
    std::vector<double> extraTones;  // more tones, steady, of the same amplitude times extraLevel
    double extraLevel = 1;
    double lateFrom = 0, latePeak = 0;  // from lateFrom s on, the first line's peak becomes latePeak
    double nanAt = -1;                  // a sample that is not a number at this time
    // Harmonics of the tone (its phase times the order), each's amplitude
    // a fraction of the tone's.
    std::vector<std::pair<int, double>> harmonics;
    unsigned seed = 11;  // of the noise
};

// The rms of white noise that many decibels under a tone of peak amplitude a.
inline double NoiseUnder(double a, double db) { return a / std::sqrt(2.0) * std::pow(10, -db / 20); }

inline bool Write(const std::string& path, const Signal& s, int rate, double seconds, int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    std::mt19937 rng(s.seed);
    std::normal_distribution<double> gauss(0, 1);
    const long frames = std::lround(seconds * rate);
    std::vector<double> block;
    for (long start = 0; start < frames; start += 4096) {
        const long n = std::min(4096L, frames - start);
        block.resize(static_cast<size_t>(n));
        for (long i = 0; i < n; ++i) {
            const double t = static_cast<double>(start + i) / rate;
            double phi = 2 * std::numbers::pi * s.carrier * t;
            // The integral of d fc sin(2 pi f t + p), times 2 pi.
            for (size_t j = 0; j < s.lines.size(); ++j) {
                const Line& l = s.lines[j];
                const double peak = j == 0 && s.lateFrom > 0 && t >= s.lateFrom ? s.latePeak : l.peak;
                phi += s.carrier * peak / l.hz * (std::cos(l.phase) - std::cos(2 * std::numbers::pi * l.hz * t + l.phase));
            }
            double v = s.amplitude * (1 + s.am * std::sin(2 * std::numbers::pi * s.amHz * t)) * std::sin(phi);
            for (const auto& [order, share] : s.harmonics)
                v += s.amplitude * share * std::sin(order * phi);
            for (double hz : s.extraTones)
                v += s.amplitude * s.extraLevel * std::sin(2 * std::numbers::pi * hz * t);
            if (s.noise > 0)
                v += s.noise * gauss(rng);
            if (s.nanAt >= 0 && start + i == std::lround(s.nanAt * rate))
                v = std::nan("");
            block[static_cast<size_t>(i)] = v;
        }
        sf_writef_double(f, block.data(), n);
    }
    return sf_close(f) == 0;
}

// A test that writes signals into a folder of its own and meters them.
class SignalTest : public ::testing::Test {
protected:
    meter::MeterResult Measure(const Signal& s, int rate, double seconds, const meter::MeterSettings& settings = {})
    {
        const std::string path = (dir.Path() / "signal.wav").string();
        EXPECT_TRUE(Write(path, s, rate, seconds));
        return meter::RunMeter(path, settings);
    }
    TempDir dir;
};

}  // namespace tarvo::test
