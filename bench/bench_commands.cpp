// Whole commands on the windowless form: reading, transforms, search and
// drawing, on a file of 500 chunks of 2048 samples, each beside the plain
// FFTW pipeline doing the same reads, transforms and search or colouring.
#include "FftwPipeline.h"
#include "support/ViewFixture.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

using namespace tarvo;
using namespace tarvo::test;

namespace {

struct Setup {
    Setup()
        : path(dir.Write("bench.wav", Wave8(22050, Sine(500 * 2048, 3000, 22050)))), view(form, doc),
          docTemplate(doc, view, form)
    {
        docTemplate.OnFileNew();
        docTemplate.OpenDocumentFile(path);
        form.Click(IDC_CHUNK2048);
        form.Type(IDC_LOWFREQ, "20");
        form.Type(IDC_HIGHFREQ, "10000");
    }
    TempDir dir;
    std::string path;
    VirtualForm form{FormTemplate()};
    CTarvoDoc doc;
    CTarvoView view;
    CSingleDocTemplate docTemplate;
};

void BM_MaxFreqs(benchmark::State& state)
{
    Setup s;
    for (auto _ : state) {
        s.view.OnMaxFreqs();
        benchmark::DoNotOptimize(s.view.m_pFreqs[500]);
    }
    if (s.view.m_nChunks != 500 || !s.form.Messages().empty())
        state.SkipWithError("the command did not read 500 chunks");
}
BENCHMARK(BM_MaxFreqs)->Unit(benchmark::kMillisecond);

void BM_FftwMaxFreqs(benchmark::State& state)
{
    Setup s;
    tarvo::bench::FftwPipeline pipeline(2048);
    for (auto _ : state)
        benchmark::DoNotOptimize(pipeline.Freqs(s.path, 20, 10000));
    s.view.OnMaxFreqs();
    const double ours = std::stod(s.form.GetDlgItemText(IDC_AVERFREQ));
    if (std::abs(pipeline.Freqs(s.path, 20, 10000) - ours) > 0.01)
        state.SkipWithError("the pipeline does not find the same track");
}
BENCHMARK(BM_FftwMaxFreqs)->Unit(benchmark::kMillisecond);

void BM_Spectrogram(benchmark::State& state)
{
    Setup s;
    for (auto _ : state) {
        s.view.OnSpectrogram();
        benchmark::DoNotOptimize(s.form.ClientSurface().GetPixel(440, 200));
    }
    if (s.view.m_nChunks != 500 || !s.form.Messages().empty())
        state.SkipWithError("the command did not read 500 chunks");
}
BENCHMARK(BM_Spectrogram)->Unit(benchmark::kMillisecond);

void BM_FftwSpectrogram(benchmark::State& state)
{
    Setup s;
    tarvo::bench::FftwPipeline pipeline(2048);
    for (auto _ : state)
        benchmark::DoNotOptimize(pipeline.Spectrogram(s.path, 20, 10000, 5));
    benchmark::DoNotOptimize(pipeline.Raster()[200 * 640 + 440]);
}
BENCHMARK(BM_FftwSpectrogram)->Unit(benchmark::kMillisecond);

}  // namespace
