// Files a hostile user would hand the program: each gives one of the
// reader's messages or a normal result, ends in bounded time, and reads
// nothing outside its buffers (the sanitizer build checks the last part).
#include "ViewFixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

using namespace tarvo;
using namespace tarvo::test;

namespace {

const std::string kRead = "Cannot read input WAVE file";
const std::string kFormat = "Input file must be an 8-bit mono PCM WAVE file";

// The commands every hostile file goes through, in this order. A command
// added to the form joins them here.
const std::vector<int> kCommands = {IDC_GETHEADER, IDC_MAXFREQS, ID_SHOWFREQS, ID_SAVEDATA, IDC_WOWFLUTTER,
                                    IDC_SPECTROGRAM};

void SetU32(Bytes& b, size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

Bytes WithRiffSize(Bytes b, std::uint32_t size)
{
    SetU32(b, 4, size);
    return b;
}

class HostileInput : public ViewTest {
protected:
    // Presses each command with a valid band typed first; returns the
    // message of each command by its id, "" for none.
    std::map<int, std::string> PressAll()
    {
        std::map<int, std::string> shown;
        for (int id : kCommands) {
            form.ClearMessages();
            form.Type(IDC_LOWFREQ, "20");
            form.Type(IDC_HIGHFREQ, "3000");
            if (id == ID_SAVEDATA)
                form.QueueSaveFileAnswer((dir.Path() / "saved.txt").string());
            view.OnCmdMsg(id);
            EXPECT_LE(form.Messages().size(), 1u) << id;
            shown[id] = form.Messages().empty() ? std::string() : form.Messages()[0].text;
            EXPECT_GE(view.m_nChunks, 0);
            EXPECT_LE(view.m_nChunks, CTarvoView::kMaxChunks);
        }
        return shown;
    }
};

TEST_F(HostileInput, FilesGiveTheirMessageOrANormalResult)
{
    const Bytes tone = Sine(256 * 4, 1000, 8000);
    const Bytes good = Wave8(8000, tone);
    Bytes manyChunks;
    for (int i = 0; i < 5000; ++i) {
        const Bytes c = Chunk("junk", Bytes(static_cast<size_t>(i % 3), 'j'));
        manyChunks.insert(manyChunks.end(), c.begin(), c.end());
    }
    Bytes tooManyChunks(70000 * 8, 0);
    struct Row {
        const char* name;
        Bytes file;
        std::string header, freqs;  // the message of Get Header and of Max Freqs, "" for none
        const char* chunks;         // the Chunks field after Max Freqs
        const char* wow;            // Wow&Flutter after Max Freqs
    } rows[] = {
        {"good", good, "", "", "4", "0. %rms"},
        {"RIFF size 0", WithRiffSize(good, 0), "", "", "4", "0. %rms"},
        {"RIFF size smaller than its chunks", WithRiffSize(good, 4 + 24), "", "", "4", "0. %rms"},
        {"RIFF size 0xFFFFFFFF", WithRiffSize(good, 0xFFFFFFFF), "", "", "4", "0. %rms"},
        {"LIST of size 0", Riff({Chunk("LIST", {}), Chunk("fmt ", FmtData(8000)), Chunk("data", tone)}), "", "",
         "4", "0. %rms"},
        {"LIST of size 0xFFFFFFF7", Riff({Chunk("LIST", Bytes(6, 'x'), 0xFFFFFFF7), Chunk("fmt ", FmtData(8000)),
                                          Chunk("data", tone)}), kFormat, kFormat, "4", "n/a %rms"},
        {"LIST of size 0xFFFFFFFF", Riff({Chunk("LIST", Bytes(6, 'x'), 0xFFFFFFFF), Chunk("fmt ", FmtData(8000)),
                                          Chunk("data", tone)}), kFormat, kFormat, "4", "n/a %rms"},
        {"LIST larger than its parent", Riff({Chunk("LIST", Bytes(6, 'x'), 5000), Chunk("fmt ", FmtData(8000)),
                                              Chunk("data", tone)}), kFormat, kFormat, "4", "n/a %rms"},
        {"5000 empty chunks before fmt", Riff({manyChunks, Chunk("fmt ", FmtData(8000)), Chunk("data", tone)}), "",
         "", "4", "0. %rms"},
        {"70000 empty chunks before fmt", Riff({tooManyChunks, Chunk("fmt ", FmtData(8000)), Chunk("data", tone)}),
         kFormat, kFormat, "4", "n/a %rms"},
        {"fmt of 15", [] {
             Bytes fmt = FmtData(8000);
             fmt.resize(15);
             return Riff({Chunk("fmt ", fmt), Chunk("data", Sine(256 * 4, 1000, 8000))});
         }(), kFormat, kFormat, "4", "n/a %rms"},
        {"empty data ending the RIFF", Wave8(8000, {}), "", "", "0", "n/a %rms"},
        {"data larger than the file", Riff({Chunk("fmt ", FmtData(8000)), Chunk("data", tone, 256 * 10)}), "",
         kRead, "10", "n/a %rms"},
        {"data of 0xFFFFFFFF", Riff({Chunk("fmt ", FmtData(8000)), Chunk("data", tone, 0xFFFFFFFF)}), "", kRead,
         "500", "n/a %rms"},
        // No finite bin width: every chunk's frequency is 0, so no figure.
        {"sample rate 0", Wave8(0, tone), "", "", "4", "n/a %rms"},
        {"sample rate 0xFFFFFFFF", Wave8(0xFFFFFFFF, tone), "", "", "4", "n/a %rms"},
        {"ends inside the fmt header", [] {
             Bytes b = Riff({Chunk("fmt ", FmtData(8000))});
             b.resize(12 + 5);
             return b;
         }(), kFormat, kFormat, "4", "n/a %rms"},
        {"ends inside the data header", [] {
             Bytes b = Riff({Chunk("fmt ", FmtData(8000)), Chunk("data", {})});
             b.resize(b.size() - 3);
             return b;
         }(), kFormat, kFormat, "4", "n/a %rms"},
        {"ends inside the RIFF header", Bytes{'R', 'I', 'F', 'F', 0xFF, 0xFF}, kRead, kRead, "4", "n/a %rms"},
    };
    for (const Row& r : rows) {
        // Each row starts from a good run, so what the row leaves is its own.
        Open(good);
        PressAll();
        ASSERT_EQ(Field(IDC_CHUNKS), "4");
        doc.SetPathName(dir.Write("hostile.wav", r.file));
        std::map<int, std::string> shown = PressAll();
        EXPECT_EQ(shown[IDC_GETHEADER], r.header) << r.name;
        EXPECT_EQ(shown[IDC_MAXFREQS], r.freqs) << r.name;
        EXPECT_EQ(shown[IDC_SPECTROGRAM], r.freqs) << r.name;  // the same reading as Max Freqs
        EXPECT_EQ(shown[IDC_WOWFLUTTER], "") << r.name;      // Wow&Flutter shows no message
        // The list and the file carry a track only when Max Freqs read it whole.
        EXPECT_EQ(shown[ID_SHOWFREQS], r.freqs.empty() ? "" : "No Frequencies in file.") << r.name;
        EXPECT_EQ(shown[ID_SAVEDATA], "") << r.name;
        const std::string saved = dir.Read("saved.txt");
        EXPECT_EQ(std::count(saved.begin(), saved.end(), '\n'), 6 + (r.freqs.empty() ? std::stoi(r.chunks) : 0))
            << r.name;
        EXPECT_EQ(Field(IDC_CHUNKS), r.chunks) << r.name;
        // Wow&Flutter once more, right after Max Freqs.
        form.ClearMessages();
        form.Type(IDC_HIGHFREQ, "3000");
        view.OnMaxFreqs();
        view.OnWowFlutter();
        EXPECT_EQ(Field(IDC_WOWFLUTTER_TEXT), r.wow) << r.name;
    }
}

TEST_F(HostileInput, SampleRatesWithoutAFiniteFigure)
{
    Open(Wave8(0, Silence(1000)));
    view.OnGetHeader();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{});
    EXPECT_EQ(Field(IDC_SAMPLERATE), "0");
    EXPECT_EQ(Field(IDC_DELTAFREQ), "0. Hz");
    EXPECT_EQ(Field(IDC_HIGHFREQ), "-100");
    EXPECT_EQ(Field(IDC_DURATION), "n/a sec");
    EXPECT_EQ(Field(IDC_DELTAT), "n/a msec");
    EXPECT_EQ(Field(IDC_DISPLAYED), "n/a sec");
    EXPECT_EQ(view.m_nHighBin, 127u);  // no finite candidate: kept

    // The High Freq of -100 left above meets its range check at the next read.
    Open(Wave8(0xFFFFFFFF, Silence(1000)));
    view.OnGetHeader();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Please enter a number between 2000 and 12000."});
    EXPECT_EQ(Field(IDC_SAMPLERATE), "4294967295");
    EXPECT_EQ(Field(IDC_DELTAFREQ), "1.6777e+007 Hz");
    EXPECT_EQ(Field(IDC_DURATION), "2.33e-007 sec");
}

// A 4 GiB sparse file of "RIFF", 0xFFFFFFFF, "WAVE" and zeros: the chunk
// search gives up after a bounded number of empty headers.
TEST_F(HostileInput, HugeEmptyRiffEndsWithTheFormatMessage)
{
    std::string path = dir.Write("sparse.wav", Bytes{'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E'});
    ASSERT_EQ(::truncate(path.c_str(), 0x100000000LL), 0);
    ASSERT_TRUE(docTemplate.OpenDocumentFile(path));
    std::map<int, std::string> shown = PressAll();
    for (int id : {IDC_GETHEADER, IDC_MAXFREQS, IDC_SPECTROGRAM})
        EXPECT_EQ(shown[id], kFormat) << id;
}

// Only a regular file becomes the document; anything else is refused at
// once with the open message, and a FIFO does not block the open.
TEST_F(HostileInput, OnlyRegularFilesBecomeTheDocument)
{
    std::string fifo = (dir.Path() / "fifo.wav").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {fifo, dir.Path().string(), std::string("/dev/zero"), std::string("/dev/urandom")}) {
        form.ClearMessages();
        EXPECT_FALSE(docTemplate.OpenDocumentFile(path)) << path;
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Cannot open the file \"" + path + "\"."}) << path;
    }
}

// What the document names may have become something else by the time a
// command reads it: the reader, too, reads only a regular file.
TEST_F(HostileInput, TheReaderRefusesWhatIsNotARegularFile)
{
    for (const char* kind : {"fifo", "folder", "/dev/zero", "/dev/urandom"}) {
        std::string path = Open(Wave8(8000, Silence(1000)));
        std::filesystem::remove(path);
        const std::string k = kind;
        if (k == "fifo")
            ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
        else if (k == "folder")
            std::filesystem::create_directory(path);
        else
            std::filesystem::create_symlink(k, path);
        std::map<int, std::string> shown = PressAll();
        for (int id : {IDC_GETHEADER, IDC_MAXFREQS, IDC_SPECTROGRAM})
            EXPECT_EQ(shown[id], kRead) << kind << " " << id;
        std::filesystem::remove(path);
    }
}

}  // namespace
