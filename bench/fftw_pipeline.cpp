// tarvo-fftw-pipeline FILE REPEATS [--spectrogram]: the yardstick of the
// timing script, the plain FFTW pipeline run REPEATS times over FILE with
// chunks of 2048 and the band 20 to 8000 Hz, as tarvo-cli runs its commands.
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
    const bool spectrogram = argc > 3 && std::strcmp(argv[3], "--spectrogram") == 0;
    // Planned by estimate: the process is timed whole, planning included.
    tarvo::bench::FftwPipeline pipeline(2048, FFTW_ESTIMATE);
    double r = 0;
    for (int i = 0, repeats = std::atoi(argv[2]); i < repeats; ++i)
        r = spectrogram ? pipeline.Spectrogram(argv[1], 20, 8000, 5) : pipeline.Freqs(argv[1], 20, 8000);
    std::printf("%.5g\n", r);
    return r == r ? 0 : 1;
}
