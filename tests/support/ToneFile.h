// Test tones for the meter, synthesised sample by sample and written with
// libsndfile: a carrier frequency-modulated by sinusoids and a slow ramp.
#pragma once

#include <sndfile.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

namespace tarvo::test {

struct Modulation {
    double hz;
    double peak;  // peak deviation as a fraction of the carrier (0.001 = 0.1 %)
};

struct Tone {
    double carrier = 3150;
    std::vector<Modulation> mods;
    double ramp = 0;  // the frequency rises by this fraction over the file
    double amplitude = 0.5;

    // The phase at t of a tone lasting `seconds`.
    double Phase(double t, double seconds) const
    {
        const double twoPi = 2 * std::numbers::pi;
        double phi = twoPi * carrier * (t + ramp * t * t / (2 * seconds));
        for (const Modulation& m : mods)
            phi += carrier * m.peak / m.hz * (1 - std::cos(twoPi * m.hz * t));
        return phi;
    }
};

// Writes one tone a channel; format is libsndfile's (e.g. SF_FORMAT_WAV | SF_FORMAT_PCM_16).
inline bool WriteTones(const std::string& path, int format, int rate, double seconds, const std::vector<Tone>& tones)
{
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = static_cast<int>(tones.size());
    info.format = format;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f)
        return false;
    const long frames = std::lround(seconds * rate);
    std::vector<double> block;
    for (long start = 0; start < frames; start += 4096) {
        const long n = std::min(4096L, frames - start);
        block.resize(static_cast<size_t>(n) * tones.size());
        for (long i = 0; i < n; ++i) {
            const double t = static_cast<double>(start + i) / rate;
            for (size_t c = 0; c < tones.size(); ++c)
                block[static_cast<size_t>(i) * tones.size() + c] =
                    tones[c].amplitude * std::sin(tones[c].Phase(t, seconds));
        }
        sf_writef_double(f, block.data(), n);
    }
    return sf_close(f) == 0;
}

inline bool WriteTone(const std::string& path, int format, int rate, double seconds, const Tone& tone)
{
    return WriteTones(path, format, rate, seconds, {tone});
}

}  // namespace tarvo::test
