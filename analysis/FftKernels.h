// Which butterfly code the chunk transform runs. Every path gives the same
// bits; the choice exists so that each can be exercised and timed.
#pragma once

namespace tarvo {

enum class FftPath {
    Auto,      // AVX2 where the processor has it, else portable
    Portable,  // one butterfly at a time
    Avx2,      // four neighbouring butterflies per step (only honoured where available)
};

// Process-wide; meant for tests and benchmarks.
void SetFftPath(FftPath path);
bool FftPathAvailable(FftPath path);

}  // namespace tarvo
