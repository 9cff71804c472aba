// tarvo-fftw-pipeline FILE REPEATS [--spectrogram] [--measure]: the
// yardstick of the timing script, the plain FFTW pipeline run REPEATS times
// over FILE with chunks of 2048 and the band 20 to 8000 Hz, as tarvo-cli
// runs its commands. The plan is made by estimate, or with --measure by
// measuring (slower to plan, faster to run); either way inside the timing.
#include "FftwPipeline.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: tarvo-fftw-pipeline FILE REPEATS [--spectrogram]\n");
        return 2;
    }
    bool spectrogram = false, measure = false;
    for (int i = 3; i < argc; ++i)
        spectrogram |= std::strcmp(argv[i], "--spectrogram") == 0, measure |= std::strcmp(argv[i], "--measure") == 0;
    tarvo::bench::FftwPipeline pipeline(2048, measure ? FFTW_MEASURE : FFTW_ESTIMATE);
    double r = 0;
    for (int i = 0, repeats = std::atoi(argv[2]); i < repeats; ++i)
        r = spectrogram ? pipeline.Spectrogram(argv[1], 20, 8000, 5) : pipeline.Freqs(argv[1], 20, 8000);
    std::printf("%.5g\n", r);
    return r == r ? 0 : 1;
}
