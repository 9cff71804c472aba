// The chunk transform at each chunk size, forward, on a chunk laid out as the
// analysis commands lay it out (time ramp in the real parts, a 1 kHz tone with
// some noise in the imaginary parts, 22050 samples/s), beside FFTW's
// single-precision plan of the same size on the same values.
//
// Both transforms work in place, so every iteration first copies the pristine
// chunk into the work arrays; that copy is part of each timed figure.
// BM_FFTInputCopy times our copy alone.
#include "analysis/FftKernels.h"
#include "form/TarvoView.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

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

template <bool Transform>
void RunOurs(benchmark::State& state, tarvo::FftPath path)
{
    if (!tarvo::FftPathAvailable(path)) {
        state.SkipWithError("this processor lacks the instructions");
        return;
    }
    tarvo::SetFftPath(path);
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
    tarvo::SetFftPath(tarvo::FftPath::Auto);
    if constexpr (Transform)
        state.SetItemsProcessed(state.iterations());
}

void BM_FFTForward(benchmark::State& state) { RunOurs<true>(state, tarvo::FftPath::Auto); }
void BM_FFTForwardPortable(benchmark::State& state) { RunOurs<true>(state, tarvo::FftPath::Portable); }
void BM_FFTForwardAvx2Unfused(benchmark::State& state) { RunOurs<true>(state, tarvo::FftPath::Avx2); }
void BM_FFTInputCopy(benchmark::State& state) { RunOurs<false>(state, tarvo::FftPath::Auto); }

// FFTW's float plan, in place on interleaved complex values, planned with
// FFTW_MEASURE; the same chunk copied in before every run.
void BM_FFTWForward(benchmark::State& state)
{
    const int n = static_cast<int>(state.range(0));
    const Chunk src = MakeChunk(n);
    fftwf_complex* buf = fftwf_alloc_complex(static_cast<size_t>(n));
    std::vector<float> interleaved(2 * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        interleaved[2 * i] = src.re[i + 1], interleaved[2 * i + 1] = src.im[i + 1];
    fftwf_plan plan = fftwf_plan_dft_1d(n, buf, buf, FFTW_FORWARD, FFTW_MEASURE);
    for (auto _ : state) {
        std::copy(interleaved.begin(), interleaved.end(), reinterpret_cast<float*>(buf));
        fftwf_execute(plan);
        benchmark::DoNotOptimize(buf);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
    fftwf_destroy_plan(plan);
    fftwf_free(buf);
}

// Interleaved so that the ratios come from one stretch of machine load.
void Sizes(benchmark::internal::Benchmark* b) { b->Arg(256)->Arg(512)->Arg(1024)->Arg(2048); }
BENCHMARK(BM_FFTForward)->Apply(Sizes);
BENCHMARK(BM_FFTWForward)->Apply(Sizes);
BENCHMARK(BM_FFTForwardAvx2Unfused)->Apply(Sizes);
BENCHMARK(BM_FFTForwardPortable)->Apply(Sizes);
BENCHMARK(BM_FFTInputCopy)->Apply(Sizes);

}  // namespace
