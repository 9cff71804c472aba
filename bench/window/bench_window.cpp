// Max Freqs and SPECTROGRAM in the window (offscreen, repainted after every
// chunk as the user sees it) beside the same commands on the windowless form
// that tarvo-cli runs, on 500 chunks of 2048 samples. Run with
// QT_QPA_PLATFORM=offscreen (set here when unset).
#include "app/MainFrm.h"
#include "app/Tarvo.h"
#include "form/TarvoDoc.h"
#include "form/TarvoView.h"
#include "framework/VirtualForm.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"
#include "support/WaveBuilder.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QLineEdit>
#include <QRadioButton>

#include <cstdlib>
#include <memory>

using namespace tarvo;
using namespace tarvo::test;

namespace {

struct Files {
    Files() : path(dir.Write("bench.wav", Wave8(22050, Sine(500 * 2048, 3000, 22050)))) {}
    TempDir dir;
    std::string path;
};
Files* g_files;

// The desktop program with the file open, 2048 samples a chunk, band 20 to
// 10000 Hz, its window shown.
struct Window {
    Window()
    {
        app.messageBoxHook = [](const std::string&, const std::string&, unsigned) { return IDOK; };
        app.InitInstance({QString::fromStdString(g_files->path)});
        QtFormHost& form = app.MainFrame()->Form();
        qobject_cast<QRadioButton*>(form.Control(IDC_CHUNK2048))->setChecked(true);
        qobject_cast<QLineEdit*>(form.Control(IDC_LOWFREQ))->setText("20");
        qobject_cast<QLineEdit*>(form.Control(IDC_HIGHFREQ))->setText("10000");
        QApplication::processEvents();
    }
    CTarvoView& View() { return *app.View(); }
    CTarvoApp app;
};

struct Form {
    Form() : view(form, doc), docTemplate(doc, view, form)
    {
        docTemplate.OnFileNew();
        docTemplate.OpenDocumentFile(g_files->path);
        form.Click(IDC_CHUNK2048);
        form.Type(IDC_LOWFREQ, "20");
        form.Type(IDC_HIGHFREQ, "10000");
    }
    CTarvoView& View() { return view; }
    VirtualForm form{FormTemplate()};
    CTarvoDoc doc;
    CTarvoView view;
    CSingleDocTemplate docTemplate;
};

template <typename Host, void (CTarvoView::*Command)()>
void BM_Command(benchmark::State& state)
{
    Host host;
    for (auto _ : state) {
        (host.View().*Command)();
        QApplication::processEvents();
    }
    if (host.View().m_nChunks != 500)
        state.SkipWithError("the command did not read 500 chunks");
}

// Interleaved, so that each pair's ratio comes from one stretch of load.
BENCHMARK(BM_Command<Window, &CTarvoView::OnMaxFreqs>)->Name("BM_WindowMaxFreqs")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Command<Form, &CTarvoView::OnMaxFreqs>)->Name("BM_FormMaxFreqs")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Command<Window, &CTarvoView::OnSpectrogram>)->Name("BM_WindowSpectrogram")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Command<Form, &CTarvoView::OnSpectrogram>)->Name("BM_FormSpectrogram")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Files files;
    g_files = &files;
    // The program's profile (its recent files) goes to the scratch folder,
    // not the user's.
    setenv("XDG_CONFIG_HOME", files.dir.Path().c_str(), 1);
    QApplication qapp(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
