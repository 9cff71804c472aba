// The chunk transform at each chunk size, forward, on a chunk laid out as the
// analysis commands lay it out (time ramp in the real parts, a 1 kHz tone with
// some noise in the imaginary parts, 22050 samples/s).
//
// The transform works in place, so every iteration first copies the pristine
// chunk into the work arrays; that copy is part of the timed figure.
// BM_FFTInputCopy times the copy alone, for subtracting.
#include "form/TarvoView.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int kArraySize = 2049;
constexpr unsigned kSampleRate = 22050;

struct Chunk {
    std::vector<float> re, im;
};

Chunk MakeChunk(int n)
{
    Chunk c{std::vector<float>(kArraySize, 0.0f), std::vector<float>(kArraySize, 0.0f)};
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> noise(-3.0, 3.0);
    const double twoPi = 2 * 3.141592653589793;
    for (int i = 1; i <= n; ++i) {
        double v = 128.0 + 90.0 * std::sin(twoPi * 1000.0 * i / kSampleRate) + noise(gen);
        const int s = static_cast<int>(std::clamp(std::lround(v), 0L, 255L));
        c.re[i] = static_cast<float>(static_cast<double>(i) / kSampleRate);
        c.im[i] = static_cast<float>((s - 128) / static_cast<double>(n / 2));
    }
    return c;
}

// Each iteration copies a fresh chunk in; the copy alone is measured too,
// to be taken off.
template <bool Transform>
void BM_FFT(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const Chunk src = MakeChunk(n);
    std::vector<float> re(kArraySize), im(kArraySize);
    for (auto _ : state) {
        std::copy_n(src.re.data(), n + 1, re.data());
        std::copy_n(src.im.data(), n + 1, im.data());
        if constexpr (Transform)
            tarvo::CTarvoView::ComputeFFT(1, n, re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::DoNotOptimize(im.data());
        benchmark::ClobberMemory();
    }
    if constexpr (Transform) {
        state.SetItemsProcessed(state.iterations());
        state.SetLabel("includes input copy");
    }
}
BENCHMARK(BM_FFT<true>)->Name("BM_FFTForward")->Arg(256)->Arg(512)->Arg(1024)->Arg(2048);
BENCHMARK(BM_FFT<false>)->Name("BM_FFTInputCopy")->Arg(256)->Arg(512)->Arg(1024)->Arg(2048);

}  // namespace
