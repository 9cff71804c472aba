// The WAVE reader: every layout it accepts, every failure with its one
// message, and the fields a failure leaves written.
#include "ViewFixture.h"

using namespace tarvo;
using namespace tarvo::test;

namespace {

class WaveReader : public ViewTest {
protected:
    // Runs Get Header on bytes and returns the messages shown.
    std::vector<std::string> Header(const Bytes& bytes)
    {
        Open(bytes);
        form.ClearMessages();
        view.OnGetHeader();
        return MessageTexts();
    }
    const std::string kRead = "Cannot read input WAVE file";
    const std::string kFormat = "Input file must be an 8-bit mono PCM WAVE file";
};

Bytes List(size_t n) { return Chunk("LIST", Bytes(n, 'i')); }

TEST_F(WaveReader, AcceptsEveryWellFormedLayout)
{
    const Bytes data = Silence(1000);
    struct Case {
        const char* name;
        Bytes file;
        const char* dataSize;
    } cases[] = {
        {"44-byte header", Wave8(8000, data), "1000"},
        {"LIST before fmt", Riff({List(26), Chunk("fmt ", FmtData(8000)), Chunk("data", data)}), "1000"},
        {"LIST between fmt and data", Riff({Chunk("fmt ", FmtData(8000)), List(4), Chunk("data", data)}), "1000"},
        {"odd LIST with pad", Riff({List(7), Chunk("fmt ", FmtData(8000)), List(3), Chunk("data", data)}), "1000"},
        {"fmt of 18", Riff({Chunk("fmt ", FmtData(8000, 1, 8, 1, {0, 0})), Chunk("data", data)}), "1000"},
        {"fmt of 17", Riff({Chunk("fmt ", FmtData(8000, 1, 8, 1, {7})), Chunk("data", data)}), "1000"},
        {"odd data", Wave8(8000, Silence(1001)), "1001"},
        {"data larger than the file", Riff({Chunk("fmt ", FmtData(8000)), Chunk("data", data, 900000)}), "900000"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(Header(c.file).empty()) << c.name;
        EXPECT_EQ(Field(IDC_SAMPLERATE), "8000") << c.name;
        EXPECT_EQ(Field(IDC_BITSPERSAMPLE), "8") << c.name;
        EXPECT_EQ(Field(IDC_DATASIZE), c.dataSize) << c.name;
    }
}

TEST_F(WaveReader, EachFailureShowsOneMessageInItsWords)
{
    const Bytes data = Silence(1000);
    struct Case {
        const char* name;
        Bytes file;
        std::string message;
    } cases[] = {
        {"empty file", {}, kRead},
        {"fewer than 8 bytes", Bytes{'R', 'I', 'F', 'F', 0, 0, 0}, kRead},
        {"RIFF without form type", Bytes{'R', 'I', 'F', 'F', 4, 0, 0, 0}, kRead},
        {"text file", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'}, kFormat},
        {"RIFX", Riff({Chunk("fmt ", FmtData(8000)), Chunk("data", data)}, "RIFX"), kFormat},
        {"not WAVE", Riff({Chunk("fmt ", FmtData(8000)), Chunk("data", data)}, "RIFF", "AVI "), kFormat},
        {"no fmt", Riff({Chunk("data", data)}), kFormat},
        {"fmt of 14", [&] {
             Bytes fmt = FmtData(8000);
             fmt.resize(14);
             return Riff({Chunk("fmt ", fmt), Chunk("data", data)});
         }(), kFormat},
        {"fmt cut short", [] {
             Bytes b = Riff({Chunk("fmt ", FmtData(8000))});
             b.resize(b.size() - 4);
             return b;
         }(), kRead},
        {"stereo", Riff({Chunk("fmt ", FmtData(8000, 2)), Chunk("data", data)}), kFormat},
        {"16-bit", Riff({Chunk("fmt ", FmtData(8000, 1, 16)), Chunk("data", data)}), kFormat},
        {"not PCM", Riff({Chunk("fmt ", FmtData(8000, 1, 8, 3)), Chunk("data", data)}), kFormat},
        {"no data", Riff({Chunk("fmt ", FmtData(8000))}), kFormat},
        {"data before fmt", Riff({Chunk("data", data), Chunk("fmt ", FmtData(8000))}), kFormat},
    };
    for (const Case& c : cases) {
        auto messages = Header(c.file);
        ASSERT_EQ(messages.size(), 1u) << c.name;
        EXPECT_EQ(messages[0], c.message) << c.name;
        EXPECT_EQ(form.Messages()[0].caption, "Error") << c.name;
        EXPECT_EQ(form.Messages()[0].type, 0u) << c.name;  // OK button, no icon
        EXPECT_FALSE(view.m_bFreqsValid);
    }
}

TEST_F(WaveReader, MissingFileAndUntitledDocument)
{
    Open(Wave8(8000, Silence(10)));
    std::filesystem::remove(doc.GetPathName());
    view.OnGetHeader();
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{kRead});

    // A new document reads the file named "Untitled" in the current folder.
    docTemplate.OnFileNew();
    auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    dir.Write("Untitled", Wave8(11025, Silence(512)));
    form.ClearMessages();
    view.OnGetHeader();
    std::filesystem::current_path(cwd);
    EXPECT_TRUE(form.Messages().empty());
    EXPECT_EQ(view.m_szWavePath, "Untitled");
    EXPECT_EQ(Field(IDC_SAMPLERATE), "11025");
}

TEST_F(WaveReader, FormatFailureLeavesEarlierFiguresAlone)
{
    Header(Wave8(11025, Silence(55125)));
    view.m_strAverFreq = "1000. Hz";
    view.UpdateData(false);
    // Stereo fails before the rate is written: nothing changes.
    doc.SetPathName(dir.Write("stereo.wav", Riff({Chunk("fmt ", FmtData(22050, 2)), Chunk("data", Silence(100))})));
    view.OnGetHeader();
    view.UpdateData(false);
    EXPECT_EQ(Field(IDC_SAMPLERATE), "11025");
    EXPECT_EQ(Field(IDC_DELTAFREQ), "43.066 Hz");
    EXPECT_EQ(Field(IDC_CHUNKS), "215");
    EXPECT_EQ(Field(IDC_AVERFREQ), "1000. Hz");
    // No data chunk fails after the rate and bits are written.
    doc.SetPathName(dir.Write("nodata.wav", Riff({Chunk("fmt ", FmtData(8000))})));
    view.OnGetHeader();
    EXPECT_EQ(view.m_strSampleRate, "8000");
    EXPECT_EQ(view.m_strBitsPerSample, "8");
    EXPECT_EQ(view.m_strDataSize, "55125");
    EXPECT_EQ(view.m_strAverFreq, "");  // cleared at the command's point before the data search
}

TEST_F(WaveReader, LongAndStrangePathsWork)
{
    // A path far beyond 200 characters, with spaces, quotes and UTF-8.
    std::filesystem::path deep = dir.Path();
    for (int i = 0; i < 6; ++i)
        deep /= std::string(60, static_cast<char>('a' + i)) + " \"é\"";
    std::filesystem::create_directories(deep);
    std::string path = (deep / "tone 1.wav").string();
    ASSERT_GT(path.size(), 300u);
    {
        std::ofstream f(path, std::ios::binary);
        Bytes b = Wave8(8000, Silence(2048));
        f.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    ASSERT_TRUE(docTemplate.OpenDocumentFile(path));
    view.OnGetHeader();
    EXPECT_TRUE(form.Messages().empty());
    EXPECT_EQ(view.m_szWavePath, path);
    EXPECT_EQ(Field(IDC_CHUNKS), "8");
}

TEST(WaveFile, SamplesArriveInOrderAcrossBufferRefills)
{
    TempDir dir;
    Bytes samples(3 * WaveFile::kBufferSize + 77);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::uint8_t>(i * 7 + (i >> 8));
    std::string path = dir.Write("long.wav", Riff({List(5), Chunk("fmt ", FmtData(8000)), Chunk("data", samples)}));
    VirtualForm form(FormTemplate());
    CTarvoDoc doc;
    CTarvoView view(form, doc);
    doc.SetPathName(path, false);
    view.ResolveWavePath();
    WaveInput in;
    ASSERT_EQ(view.OpenWaveInput(in), WaveReadError::None);
    EXPECT_EQ(in.dataSize, samples.size());
    ASSERT_EQ(view.BeginSampleRead(in), WaveReadError::None);
    for (size_t i = 0; i < samples.size(); ++i) {
        unsigned s = 999;
        ASSERT_EQ(view.NextSampleByte(in, s), WaveReadError::None) << i;
        ASSERT_EQ(s, samples[i]) << i;
    }
    // The reading is counted, not bounded by the chunk: the pad byte comes
    // next, then the end of the file.
    unsigned s;
    EXPECT_EQ(view.NextSampleByte(in, s), WaveReadError::None);
    EXPECT_EQ(s, 0u);
    EXPECT_EQ(view.NextSampleByte(in, s), WaveReadError::WaveReadFailed);
    EXPECT_EQ(view.NextSampleByte(in, s), WaveReadError::WaveReadFailed);
    EXPECT_EQ(view.EndSampleRead(in), WaveReadError::None);
    view.CloseWaveInput(in);
    view.CloseWaveInput(in);  // closing twice is harmless
}

}  // namespace
