// Whole commands on the windowless form: reading, transforms, search and
// drawing, on a file of 500 chunks of 2048 samples.
#include "support/ViewFixture.h"

#include <benchmark/benchmark.h>

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

}  // namespace
