// Writes the two test sounds, "whitenoise.wav" and "3khz.wav" (8-bit mono,
// 22050 samples a second), into every folder named on the command line.
#include "sound/PcmWave.h"

#include <cstdio>
#include <filesystem>
#include <string>

int main(int argc, char** argv)
{
    using namespace tarvo;
    if (argc < 2) {
        std::fprintf(stderr, "usage: make-test-sounds DIR...\n");
        return 2;
    }
    // 3000 periods of 3 kHz are exactly one second: the loop joins without a click.
    const auto tone = ToneSamples(3000.0, 3000);
    const auto noise = WhiteNoiseSamples(2 * kTestSoundRate);
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path dir = argv[i];
        std::error_code ec;
        std::filesystem::create_directories(dir, ec);
        if (!WriteWave8MonoFile((dir / "3khz.wav").string(), kTestSoundRate, tone) ||
            !WriteWave8MonoFile((dir / "whitenoise.wav").string(), kTestSoundRate, noise)) {
            std::fprintf(stderr, "make-test-sounds: cannot write into %s\n", argv[i]);
            return 1;
        }
    }
    return 0;
}
