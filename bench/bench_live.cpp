// The live meter fed from a buffer played in blocks, as the sound input
// hands them over: its load (processor time per second of a stereo 48 kHz
// input, in percent of one core) and its latency (from a step of the
// input's frequency to the first update whose carrier shows it).
#include "meter/LiveMeter.h"
#include "sound/BlockCapture.h"

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr size_t kBlock = 1024;  // about 21 ms, as a sound server hands them over

// Interleaved channels, each a tone whose frequency at t is hz(c, t).
template <typename Hz>
std::vector<float> Tones(double seconds, int channels, Hz hz)
{
    const size_t n = static_cast<size_t>(seconds * kRate);
    std::vector<float> x(n * static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        double phase = 0;
        for (size_t i = 0; i < n; ++i) {
            x[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] = static_cast<float>(0.5 * std::sin(phase));
            phase = std::remainder(phase + 2 * std::numbers::pi * hz(c, static_cast<double>(i) / kRate) / kRate,
                                   2 * std::numbers::pi);
        }
    }
    return x;
}

double ThreadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Twenty seconds of two FM tones (3150 and 3000 Hz, 0.1 % at 4 Hz), the
// default five-second window: processor time per second of input.
void BM_LiveMeterStereo48k(benchmark::State& state)
{
    constexpr double kSeconds = 20;
    const std::vector<float> x = Tones(kSeconds, 2, [](int c, double t) {
        return (c == 0 ? 3150.0 : 3000.0) * (1 + 0.001 * std::sin(2 * std::numbers::pi * 4 * t));
    });
    double cpu = 0;
    int64_t runs = 0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        tarvo::meter::LiveMeter m(kRate, 2, {});
        int updates = 0;
        m.SetUpdateSink([&](const tarvo::meter::LiveUpdate&) { ++updates; });
        tarvo::BufferCapture source(x, kRate, 2, kBlock);
        std::string why;
        source.Start([&](const float* f, size_t n) { m.Push(f, n); }, why);
        source.Play();
        benchmark::DoNotOptimize(updates);
        cpu += ThreadSeconds() - t0;
        ++runs;
    }
    state.counters["load_percent_of_core"] = 100 * cpu / (static_cast<double>(runs) * kSeconds);
}
BENCHMARK(BM_LiveMeterStereo48k)->Unit(benchmark::kMillisecond)->Iterations(3);

// A step of 1 % at ten places within an update: the time from the step to
// the end of the block that brought the first update whose carrier lies
// within a tenth of the step of the new frequency; the longest of the ten.
void BM_LiveMeterLatency(benchmark::State& state)
{
    const double step = state.range(0) / 1000.0;  // the fraction
    double worst = 0, sum = 0;
    int cases = 0;
    for (auto _ : state) {
        worst = 0;
        sum = 0;
        cases = 0;
        for (int k = 0; k < 10; ++k) {
            const double at = 3 + k * 0.0103;
            const double from = 3150, to = 3150 * (1 + step);
            const std::vector<float> x = Tones(4.5, 1, [&](int, double t) { return t >= at ? to : from; });
            tarvo::meter::LiveMeter m(kRate, 1, {});
            size_t blockEnd = 0;
            double shown = -1;
            m.SetUpdateSink([&](const tarvo::meter::LiveUpdate& u) {
                const auto& hz = u.channels[0].carrierHz;
                if (shown < 0 && u.seconds > at && hz && std::abs(*hz - to) < 0.1 * (to - from))
                    shown = static_cast<double>(blockEnd) / kRate;
            });
            tarvo::BufferCapture source(x, kRate, 1, kBlock);
            std::string why;
            source.Start([&](const float* f, size_t n) {
                blockEnd += n;
                m.Push(f, n);
            }, why);
            source.Play();
            const double latency = shown < 0 ? 1e9 : shown - at;
            worst = std::max(worst, latency);
            sum += latency;
            ++cases;
        }
    }
    state.counters["worst_latency_ms"] = worst * 1000;
    state.counters["mean_latency_ms"] = sum / cases * 1000;
}
BENCHMARK(BM_LiveMeterLatency)->Arg(10)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
