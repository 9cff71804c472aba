// Arbitrary bytes as the opened file, through every command that reads it.
// The first six bytes choose the chunk size, the band and High Amp; the rest
// is the file. The form, the view and the document are built once per
// process; each input is written over the same file.
#include "form/TarvoDoc.h"
#include "form/TarvoView.h"
#include "framework/VirtualForm.h"
#include "resources/ResourceIds.h"
#include "resources/Resources.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

using namespace tarvo;

namespace {

// The commands each input goes through, in order. A command added to the
// form joins them here.
const std::vector<int> kCommands = {IDC_GETHEADER, IDC_MAXFREQS, ID_SHOWFREQS, ID_SAVEDATA, IDC_WOWFLUTTER,
                                    IDC_SPECTROGRAM};

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_wave: %s\n", what);
    std::abort();
}

bool Known(const RecordedMessage& m)
{
    if (m.caption == "Error")
        return m.text == WaveErrorMessage(WaveReadError::WaveReadFailed) ||
               m.text == WaveErrorMessage(WaveReadError::WaveNotPcm8Mono) ||
               m.text == WaveErrorMessage(WaveReadError::WaveBufferError);
    return m.caption == kAppTitle && (m.text.rfind("Please enter", 0) == 0 || m.text == "No Frequencies in file.");
}

struct Session {
    std::string folder, path, saved;
    VirtualForm form{FormTemplate()};
    CTarvoDoc doc;
    CTarvoView view{form, doc};
    CSingleDocTemplate docTemplate{doc, view, form};

    Session()
    {
        char tmpl[] = "/tmp/tarvo-fuzz-XXXXXX";
        if (!::mkdtemp(tmpl))
            Fail("no temporary folder");
        folder = tmpl;
        path = folder + "/input.wav";
        saved = folder + "/saved.txt";
        std::ofstream(path, std::ios::binary).put('\0');
        docTemplate.OnFileNew();
        if (!docTemplate.OpenDocumentFile(path))
            Fail("cannot open the input file");
    }
    ~Session()
    {
        ::unlink(path.c_str());
        ::unlink(saved.c_str());
        ::rmdir(folder.c_str());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Session s;
    if (size < 6)
        return 0;
    const int chunkId = IDC_CHUNK256 + (data[0] & 3);
    const std::string low = std::to_string((data[1] | (data[2] << 8)) % 10001);
    const std::string high = std::to_string(2000 + (data[3] | (data[4] << 8)) % 10001);
    const std::string amp = std::to_string(1 + data[5] % 50);
    {
        std::ofstream f(s.path, std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char*>(data + 6), static_cast<std::streamsize>(size - 6));
    }
    s.form.Click(chunkId);
    for (int id : kCommands) {
        s.form.ClearMessages();
        // Typed before every command: Get Header may leave a High Freq
        // outside its range, whose prompt is not what is tested here.
        s.form.Type(IDC_LOWFREQ, low);
        s.form.Type(IDC_HIGHFREQ, high);
        s.form.Type(IDC_HIGHAMP, amp);
        if (id == ID_SAVEDATA)
            s.form.QueueSaveFileAnswer(s.saved);
        s.view.OnCmdMsg(id);
        if (s.form.Messages().size() > 1)
            Fail("a command showed more than one message");
        for (const RecordedMessage& m : s.form.Messages())
            if (!Known(m))
                Fail("a message that no failure kind prescribes");
        if (s.view.m_nChunks < 0 || s.view.m_nChunks > CTarvoView::kMaxChunks)
            Fail("chunk count out of range");
    }
    return 0;
}
