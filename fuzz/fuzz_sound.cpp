// Arbitrary bytes through the sound layer. The first byte picks the part:
//   0  captured bytes of any format (rate, channels, kind from the next four
//      bytes) mixed down to 8-bit mono at another rate;
//   1  the WAVE writer against the reader: what is written reads back the same;
//   2  the WAVE reader over the bytes as a file;
//   3  command strings, one a line, to a recorder whose capture source
//      delivers the bytes after the first blank line (and fails to start
//      when the second byte is odd). Saved names stay in a folder of its own.
#include "sound/Mci.h"
#include "sound/PcmWave.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using namespace tarvo;

namespace {

[[noreturn]] void Fail(const char* what)
{
    std::fprintf(stderr, "fuzz_sound: %s\n", what);
    std::abort();
}

using Bytes = std::vector<unsigned char>;

int RateOf(const std::uint8_t* p) { return 1000 + (p[0] | (p[1] << 8)) * 3 % 191001; }

CaptureFormat FormatOf(const std::uint8_t* p)
{
    return {RateOf(p), 1 + p[2] % 8, static_cast<SampleKind>(p[3] % 4)};
}

void CheckConvert(const std::uint8_t* data, size_t size)
{
    if (size < 7)
        return;
    const CaptureFormat format = FormatOf(data);
    const int outRate = RateOf(data + 4);
    const Bytes captured(data + 6, data + size);
    const Bytes mono = ConvertToMono8(captured, format, outRate);
    const size_t frames = captured.size() / (static_cast<size_t>(BytesPerSample(format.kind)) * format.channels);
    const double expected = static_cast<double>(frames) * outRate / format.rate;
    if (static_cast<double>(mono.size()) > expected + 2)
        Fail("the conversion made more samples than the rates allow");
}

void CheckWriterAgainstReader(const std::uint8_t* data, size_t size)
{
    if (size < 2)
        return;
    const int rate = RateOf(data);
    const Bytes samples(data + 2, data + size);
    const std::optional<PcmSound> back = ParsePcmWave(Wave8MonoBytes(rate, samples));
    if (!back || back->rate != rate || back->channels != 1 || back->bits != 8 || back->data != samples)
        Fail("a written WAVE does not read back as written");
}

void CheckReader(const std::uint8_t* data, size_t size)
{
    const std::optional<PcmSound> s = ParsePcmWave(Bytes(data, data + size));
    if (!s)
        return;
    if (s->rate < 1000 || s->rate > 192000 || s->channels < 1 || s->channels > 2 || (s->bits != 8 && s->bits != 16))
        Fail("the reader accepted a layout it does not know");
    if (s->data.size() % static_cast<size_t>(s->FrameBytes()) != 0 || s->data.size() > size)
        Fail("the reader's samples are not whole frames of the file");
}

class BytesCapture : public CaptureSource {
public:
    BytesCapture(Bytes bytes, CaptureFormat format, bool fails) : bytes_(std::move(bytes)), format_(format), fails_(fails) {}
    bool Start(int) override { return !fails_; }
    CaptureFormat Format() const override { return format_; }
    Bytes Stop() override { return bytes_; }

private:
    Bytes bytes_;
    CaptureFormat format_;
    bool fails_;
};

struct Folder {
    std::filesystem::path path;
    Folder()
    {
        char tmpl[] = "/tmp/tarvo-fuzz-sound-XXXXXX";
        if (!::mkdtemp(tmpl))
            Fail("no temporary folder");
        path = tmpl;
    }
    ~Folder() { std::filesystem::remove_all(path); }
};

void CheckCommands(const std::uint8_t* data, size_t size)
{
    static Folder folder;
    if (size < 6)
        return;
    const CaptureFormat format = FormatOf(data + 1);
    const bool fails = data[0] & 1;
    const std::string text(reinterpret_cast<const char*>(data + 5), size - 5);
    const size_t blank = text.find("\n\n");
    const std::string script = text.substr(0, blank);
    const Bytes captured = blank == std::string::npos ? Bytes() : Bytes(text.begin() + static_cast<long>(blank) + 2, text.end());
    CommandRecorder recorder([&]() -> std::unique_ptr<CaptureSource> {
        return std::make_unique<BytesCapture>(captured, format, fails);
    });
    bool tookOk = false;  // a take started since the last open
    for (size_t start = 0; start <= script.size();) {
        size_t end = script.find('\n', start);
        if (end == std::string::npos)
            end = script.size();
        std::string command = script.substr(start, end - start);
        start = end + 1;
        std::string name;
        const std::string save = "save capture ";
        if (command.rfind(save, 0) == 0 && command.size() > save.size()) {
            // Only a plain name, inside the folder.
            name = command.substr(save.size());
            for (char& c : name)
                if (c == '/' || c == '\0')
                    c = '_';
            name = (folder.path / ("s" + name.substr(0, 40))).string();
            command = save + name;
        }
        const bool wasOpen = recorder.IsOpen();
        std::string reply;
        const unsigned result = recorder.SendString(command, &reply);
        if ((result == MCI_OK) != reply.empty())
            Fail("a reply that does not match the result");
        if (command == "record capture" && wasOpen)
            tookOk = result == MCI_OK;
        if (command.rfind("open ", 0) == 0 && result == MCI_OK)
            tookOk = false;
        if (!name.empty() && result == MCI_OK) {
            if (!tookOk)
                Fail("a save without a take answered 0");
            std::error_code ec;
            if (std::filesystem::file_size(name, ec) < 44 || ec)
                Fail("a take saved with 0 left no WAVE file");
        }
        if (!name.empty())
            std::filesystem::remove(name);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    switch (data[0] % 4) {
    case 0: CheckConvert(data + 1, size - 1); break;
    case 1: CheckWriterAgainstReader(data + 1, size - 1); break;
    case 2: CheckReader(data + 1, size - 1); break;
    default: CheckCommands(data + 1, size - 1); break;
    }
    return 0;
}
