// Get Header: the worked figures and what the command does around them.
#include "ViewFixture.h"

#include "framework/NumberText.h"

using namespace tarvo;
using namespace tarvo::test;

namespace {

class GetHeader : public ViewTest {
protected:
    void Header(std::uint32_t rate, std::uint32_t dataBytes, int chunkId)
    {
        Open(Wave8(rate, Silence(dataBytes)));
        form.Click(chunkId);
        view.OnCmdMsg(IDC_GETHEADER);
    }
};

TEST_F(GetHeader, WorkedFigures)
{
    struct Row {
        std::uint32_t rate, bytes;
        int chunk;
        const char *sampleRate, *deltaFreq, *highFreq;
        unsigned highBin;
        const char *chunks, *duration, *deltaT, *displayed;
    } rows[] = {
        {11025, 55125, IDC_CHUNK256, "11025", "43.066 Hz", "5412.5", 126, "215", "5. sec", "23.2 msec", "4.99 sec"},
        // A duration that is not a whole number of milliseconds.
        {11025, 55000, IDC_CHUNK256, "11025", "43.066 Hz", "5412.5", 126, "214", "4.99 sec", "23.2 msec", "4.97 sec"},
        {8000, 24000, IDC_CHUNK1024, "8000", "7.8125 Hz", "3900", 500, "23", "3. sec", "128 msec", "2.94 sec"},
        {22050, 661500, IDC_CHUNK2048, "22050", "10.767 Hz", "10925", 1015, "322", "30. sec", "92.9 msec", "29.9 sec"},
        // The candidate 128 is not below 128: the high bin stays as it was.
        {44100, 441000, IDC_CHUNK256, "44100", "172.27 Hz", "21950", 1015, "500", "10. sec", "5.8 msec", "2.9 sec"},
    };
    for (const Row& r : rows) {
        Header(r.rate, r.bytes, r.chunk);
        EXPECT_TRUE(form.Messages().empty());
        EXPECT_EQ(Field(IDC_SAMPLERATE), r.sampleRate);
        EXPECT_EQ(Field(IDC_BITSPERSAMPLE), "8");
        EXPECT_EQ(Field(IDC_DATASIZE), DecimalText(r.bytes));
        EXPECT_EQ(Field(IDC_DELTAFREQ), r.deltaFreq);
        EXPECT_EQ(Field(IDC_HIGHFREQ), r.highFreq);
        EXPECT_EQ(view.m_nHighBin, r.highBin) << r.rate;
        EXPECT_EQ(Field(IDC_CHUNKS), r.chunks);
        EXPECT_EQ(Field(IDC_DURATION), r.duration);
        EXPECT_EQ(Field(IDC_DELTAT), r.deltaT);
        EXPECT_EQ(Field(IDC_DISPLAYED), r.displayed);
        EXPECT_EQ(Field(IDC_AVERFREQ), "");
        EXPECT_EQ(Field(IDC_CHUNK), "");
        EXPECT_FALSE(view.m_bFreqsValid);
    }
}

TEST_F(GetHeader, ShortAndLongDataChunks)
{
    Header(8000, 255, IDC_CHUNK256);
    EXPECT_EQ(Field(IDC_CHUNKS), "0");
    EXPECT_EQ(Field(IDC_DISPLAYED), "0. sec");
    Header(8000, 600 * 256, IDC_CHUNK256);
    EXPECT_EQ(Field(IDC_CHUNKS), "500");
    EXPECT_EQ(Field(IDC_DURATION), "19.2 sec");  // the whole data chunk
    EXPECT_EQ(Field(IDC_DISPLAYED), "16. sec");
}

TEST_F(GetHeader, ChunkChoiceTakesEffectAtTheNextHeader)
{
    Header(8000, 24000, IDC_CHUNK1024);
    form.Click(IDC_CHUNK256);
    EXPECT_EQ(view.m_nChunkSize, 1024u);
    EXPECT_EQ(Field(IDC_CHUNKS), "23");
    view.OnGetHeader();
    EXPECT_EQ(view.m_nChunkSize, 256u);
    EXPECT_EQ(Field(IDC_CHUNKS), "93");
}

TEST_F(GetHeader, OutOfRangeHighFreqIsShownThenPromptedLater)
{
    Header(44100, 44100, IDC_CHUNK256);
    EXPECT_EQ(Field(IDC_HIGHFREQ), "21950");
    EXPECT_TRUE(form.Messages().empty());
    view.OnGetHeader();  // reads the form first: the range prompt, then carries on
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Please enter a number between 2000 and 12000."});
    EXPECT_EQ(Field(IDC_SAMPLERATE), "44100");
}

TEST_F(GetHeader, SampleRateZeroEndsNormallyWithReadableFields)
{
    Open(Riff({Chunk("fmt ", FmtData(0)), Chunk("data", Silence(1000))}));
    view.OnGetHeader();
    EXPECT_TRUE(form.Messages().empty());
    EXPECT_EQ(Field(IDC_SAMPLERATE), "0");
    EXPECT_EQ(Field(IDC_DELTAFREQ), "0. Hz");
    EXPECT_EQ(Field(IDC_HIGHFREQ), "-100");
    EXPECT_EQ(view.m_nHighBin, 127u);
    EXPECT_EQ(Field(IDC_CHUNKS), "3");
    EXPECT_EQ(Field(IDC_DURATION), "n/a sec");
    EXPECT_EQ(Field(IDC_DELTAT), "n/a msec");
    EXPECT_EQ(Field(IDC_DISPLAYED), "n/a sec");
}

}  // namespace
