// Which butterfly code the chunk transform runs. Every path gives the same
// bits; the choice exists so that each can be exercised and timed.
#pragma once

namespace tarvo {

enum class FftPath {
    Auto,       // Avx2Fused where the processor has AVX2, else Portable
    Portable,   // the exchanges, then one butterfly at a time
    Avx2,       // the exchanges, then four neighbouring butterflies per step
    Avx2Fused,  // as Avx2, with the exchanges and the first two stages in one pass
};

// Process-wide; meant for tests and benchmarks. The AVX2 paths are only
// honoured where the processor has AVX2.
void SetFftPath(FftPath path);
bool FftPathAvailable(FftPath path);

}  // namespace tarvo
