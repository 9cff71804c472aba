// Writes a 44.1 kHz 16-bit mono test tone with flutter, for the meter's
// benchmarks: 3150 Hz, frequency-modulated 0.1 % at 4 Hz and 0.02 % at
// 33 Hz, half full scale.
// usage: make-flutter-tone OUT.wav SECONDS
#include <sndfile.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make-flutter-tone OUT.wav SECONDS\n");
        return 2;
    }
    const int rate = 44100;
    const long frames = std::lround(std::atof(argv[2]) * rate);
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(argv[1], SFM_WRITE, &info);
    if (!f) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[1], sf_strerror(nullptr));
        return 1;
    }
    const double carrier = 3150, twoPi = 2 * std::numbers::pi;
    struct Mod {
        double hz, peak;
    };
    const Mod mods[] = {{4, 0.001}, {33, 0.0002}};
    std::vector<short> block(static_cast<size_t>(rate));
    for (long start = 0; start < frames; start += rate) {
        const long n = std::min<long>(rate, frames - start);
        for (long i = 0; i < n; ++i) {
            const double t = static_cast<double>(start + i) / rate;
            double phase = twoPi * carrier * t;
            for (const Mod& m : mods)
                phase += carrier * m.peak / m.hz * (1 - std::cos(twoPi * m.hz * t));
            block[static_cast<size_t>(i)] = static_cast<short>(std::lround(16384 * std::sin(phase)));
        }
        sf_write_short(f, block.data(), n);
    }
    return sf_close(f) == 0 ? 0 : 1;
}
