// Max Freqs and Wow&Flutter on synthesised recordings.
#include "ViewFixture.h"

#include <cmath>
#include <set>

using namespace tarvo;
using namespace tarvo::test;

namespace {

class MaxFreqs : public ViewTest {
protected:
    // Opens the file, sets the chunk size and band, and runs Max Freqs.
    void Run(const Bytes& file, int chunkId = IDC_CHUNK256, const char* low = "20", const char* high = "8000")
    {
        Open(file);
        form.Click(chunkId);
        form.Type(IDC_LOWFREQ, low);
        form.Type(IDC_HIGHFREQ, high);
        view.OnCmdMsg(IDC_MAXFREQS);
    }
    Surface& S() { return form.ClientSurface(); }
};

// A tone whose frequency swings sinusoidally: depth is the peak deviation
// as a fraction of the carrier.
Bytes FmTone(std::size_t n, double carrier, double depth, double rate, std::uint32_t fs)
{
    Bytes s(n);
    double phase = 0;
    for (std::size_t i = 0; i < n; ++i) {
        double f = carrier * (1 + depth * std::sin(2 * M_PI * rate * static_cast<double>(i) / fs));
        phase += 2 * M_PI * f / fs;
        s[i] = static_cast<std::uint8_t>(std::lround(128 + 100 * std::sin(phase)));
    }
    return s;
}

TEST_F(MaxFreqs, ToneGivesAnAverageWithinOneBinAndOneRowOfOrangePoints)
{
    Run(Wave8(22050, Sine(22050 * 3, 3000, 22050)));
    EXPECT_TRUE(form.Messages().empty());
    EXPECT_EQ(Field(IDC_DELTAFREQ), "86.133 Hz");
    EXPECT_EQ(Field(IDC_CHUNKS), "258");
    EXPECT_EQ(Field(IDC_CHUNK), "258");
    // The sum of all 258 chunk frequencies over 258, to five digits.
    EXPECT_EQ(Field(IDC_AVERFREQ), "3008.6 Hz");
    EXPECT_TRUE(view.m_bFreqsValid);
    EXPECT_EQ(view.m_nHighBin, 93u);  // elements 1..92 searched
    // Every chunk's point, in orange, on the row of its frequency.
    std::set<int> rows;
    for (int c = 1; c <= view.m_nChunks; ++c) {
        int y = view.FreqToY(view.m_pFreqs[static_cast<size_t>(c)]);
        rows.insert(y);
        EXPECT_EQ(S().GetPixel(view.ChunkToX(c), y), RGB(255, 128, 64)) << c;
    }
    EXPECT_EQ(rows.size(), 1u);
    // The grid stands behind the points: the 1000 Hz line at row 259.
    EXPECT_EQ(S().GetPixel(25, 259), CTarvoView::kGridColor);
}

TEST_F(MaxFreqs, PointColourFollowsTheChunkSize)
{
    const std::pair<int, COLORREF> sizes[] = {
        {IDC_CHUNK512, RGB(0, 255, 0)}, {IDC_CHUNK1024, RGB(0, 0, 255)}, {IDC_CHUNK2048, RGB(255, 0, 255)}};
    for (auto [id, colour] : sizes) {
        view.OnClear();
        Run(Wave8(22050, Sine(2048 * 3, 1000, 22050)), id);
        EXPECT_EQ(S().GetPixel(440, view.FreqToY(view.m_pFreqs[3])), colour);
    }
}

TEST_F(MaxFreqs, FiveHundredChunksAtMost)
{
    Run(Wave8(8000, Sine(600 * 256, 1000, 8000)));
    EXPECT_EQ(view.m_nChunks, 500);
    EXPECT_EQ(Field(IDC_DISPLAYED), "16. sec");
    EXPECT_EQ(Field(IDC_DURATION), "19.2 sec");
    EXPECT_EQ(Field(IDC_CHUNK), "500");
    EXPECT_EQ(view.ChunkToX(500), 440);
    EXPECT_EQ(S().GetPixel(440, view.FreqToY(view.m_pFreqs[500])), RGB(255, 128, 64));
}

TEST_F(MaxFreqs, ShorterThanOneChunkDrawsNothing)
{
    Run(Wave8(8000, Sine(255, 1000, 8000)));
    EXPECT_TRUE(form.Messages().empty());
    EXPECT_EQ(view.m_nChunks, 0);
    EXPECT_EQ(Field(IDC_AVERFREQ), "n/a Hz");
    EXPECT_TRUE(view.m_bFreqsValid);
    for (int y = 37; y <= 290; ++y)
        for (int x = 25; x <= 440; ++x)
            ASSERT_NE(S().GetPixel(x, y), RGB(255, 128, 64));
}

TEST_F(MaxFreqs, FileEndingEarlyKeepsTheChunksDone)
{
    Bytes samples = Sine(256 * 10 + 100, 1000, 8000);
    Run(Riff({Chunk("fmt ", FmtData(8000)), Chunk("data", samples, 256 * 20)}));
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Cannot read input WAVE file"});
    EXPECT_EQ(Field(IDC_CHUNKS), "20");
    EXPECT_EQ(Field(IDC_CHUNK), "10");
    EXPECT_EQ(Field(IDC_AVERFREQ), "calculating");
    EXPECT_EQ(S().GetPixel(view.ChunkToX(10), view.FreqToY(view.m_pFreqs[10])), RGB(255, 128, 64));
    EXPECT_EQ(view.m_pFreqs[11], 0.0f);
    // The ten chunks never read make no figure: the track is not valid.
    EXPECT_FALSE(view.m_bFreqsValid);
    view.OnWowFlutter();
    EXPECT_EQ(Field(IDC_WOWFLUTTER_TEXT), "n/a %rms");
}

TEST_F(MaxFreqs, FailureBeforeTheSamplesLeavesCalculating)
{
    Run(Riff({Chunk("fmt ", FmtData(8000, 2)), Chunk("data", Silence(1000))}));
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Input file must be an 8-bit mono PCM WAVE file"});
    EXPECT_EQ(Field(IDC_AVERFREQ), "calculating");
    EXPECT_FALSE(view.m_bFreqsValid);
}

TEST_F(MaxFreqs, BandsOutsideTheChunkStayInsideTheArrays)
{
    // Low Freq at the top of its range with a low rate: the low bin would
    // lie far beyond the chunk.
    Run(Wave8(8000, Sine(2048 * 2, 1000, 8000)), IDC_CHUNK2048, "10000", "12000");
    EXPECT_EQ(view.m_nHighBin, 127u);
    for (int c = 1; c <= 2; ++c)
        EXPECT_TRUE(std::isfinite(view.m_pFreqs[static_cast<size_t>(c)]));
    // A negative Low Freq, refused by its range but stored: the search
    // starts at element 1.
    form.ClearMessages();
    Run(Wave8(8000, Sine(256 * 2, 1000, 8000)), IDC_CHUNK256, "-5000", "3000");
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Please enter a number between 0 and 10000."});
    EXPECT_NEAR(view.m_pFreqs[1], 1000, 31.25);
}

TEST_F(MaxFreqs, BandLimitsOfThePeakSearch)
{
    // 8000 Hz, N = 256: element k stands for (k - 1) x 31.25 Hz. A strong
    // tone just outside the band must lose to a weak 1000 Hz tone inside.
    auto mix = [](double strong) {
        Bytes a = Sine(256 * 2, strong, 8000, 90), b = Sine(256 * 2, 1000, 8000, 30);
        for (size_t i = 0; i < a.size(); ++i)
            a[i] = static_cast<std::uint8_t>(a[i] + b[i] - 128);
        return a;
    };
    struct Row {
        double strong;
        const char *low, *high;
        double want;
    } rows[] = {
        // High Freq 3000: high bin 97, element 97 (3000 Hz) is not searched.
        {3000, "20", "3000", 1000},
        // Low Freq 100: low bin trunc(100 / 31.25 + 1) = 4, so element 3
        // (62.5 Hz) is not searched while element 4 (93.75 Hz) is.
        {62.5, "100", "3000", 1000},
        {93.75, "100", "3000", 93.75},
        {2968.75, "20", "3000", 2968.75},
    };
    for (const Row& r : rows) {
        Run(Wave8(8000, mix(r.strong)), IDC_CHUNK256, r.low, r.high);
        EXPECT_NEAR(view.m_pFreqs[1], r.want, 0.5) << r.strong;
        EXPECT_NEAR(view.m_pFreqs[2], r.want, 0.5) << r.strong;
    }
}

TEST_F(MaxFreqs, ANarrowBandKeepsTheRefinedFrequencyWithinABinOfThePeak)
{
    // Chunk 256, band 2900 to 3100 Hz on a 3000 Hz tone: at 22050 Hz (bins
    // of 86.13 Hz) the band holds two bins, and the 3014.6 Hz bin just above
    // it exceeds the peak in it. The refined frequency stays within one bin
    // either side of the peak bin, so the track and its spread stay near the
    // tone (it read 3723.8 Hz and 9 %rms).
    struct Row {
        std::uint32_t rate;
        double hz;
    } rows[] = {{22050, 3000}, {11025, 3000}, {11025, 2930}, {11025, 3090}};
    for (const auto& [rate, hz] : rows) {
        const double delta = rate / 256.0;
        Run(Wave8(rate, Sine(256 * 40, hz, rate)), IDC_CHUNK256, "2900", "3100");
        ASSERT_TRUE(form.Messages().empty());
        ASSERT_EQ(view.m_nChunks, 40);
        for (int c = 1; c <= 40; ++c) {
            const double f = view.m_pFreqs[static_cast<size_t>(c)];
            EXPECT_GE(f, 2900 - 2 * delta) << hz << " Hz, chunk " << c;
            EXPECT_LE(f, 3100 + delta) << hz << " Hz, chunk " << c;
            EXPECT_NEAR(f, hz, 2 * delta) << hz << " Hz, chunk " << c;
        }
        view.OnWowFlutter();
        EXPECT_LT(std::stod(Field(IDC_WOWFLUTTER_TEXT)), 1.0) << hz << " Hz: " << Field(IDC_WOWFLUTTER_TEXT);
    }
}

TEST_F(MaxFreqs, HighBinFromALargerChunkIsBounded)
{
    Open(Wave8(22050, Sine(22050, 1000, 22050)));
    form.Click(IDC_CHUNK2048);
    view.OnGetHeader();
    EXPECT_EQ(view.m_nHighBin, 1015u);
    form.Click(IDC_CHUNK256);
    form.Type(IDC_HIGHFREQ, "12000");  // 140 bins: not below 128, so not taken
    view.OnMaxFreqs();
    EXPECT_EQ(view.m_nHighBin, 128u);
    EXPECT_NEAR(view.m_pFreqs[1], 1000, 86.1328125);
}

class WowFlutter : public ViewTest {
protected:
    std::string Wow(std::initializer_list<float> track)
    {
        int c = 0;
        for (float f : track)
            view.m_pFreqs[static_cast<size_t>(++c)] = f;
        view.m_nChunks = c;
        view.m_bFreqsValid = true;
        view.OnCmdMsg(IDC_WOWFLUTTER);
        return Field(IDC_WOWFLUTTER_TEXT);
    }
};

TEST_F(WowFlutter, WorkedTexts)
{
    EXPECT_EQ(Wow({1000, 1000, 1000}), "0. %rms");
    EXPECT_EQ(Wow({1000, 1010, 990}), "1. %rms");
    EXPECT_EQ(Wow({1000, 1000.05f, 999.95f}), "0.00500 %rms");
    EXPECT_EQ(Wow({1000.369815f, 999.630185f}), "5.23e-002 %rms");
    EXPECT_EQ(Wow({1000, 1000.00005f}), "4.316e-006 %rms");  // no digit at 5 places: the _gcvt form
    EXPECT_EQ(Wow({1000, 1000.07402f}), "0.00523 %rms");
}

TEST_F(WowFlutter, NoTrackReadsAsNotANumber)
{
    view.OnWowFlutter();  // fresh view: no track
    EXPECT_EQ(Field(IDC_WOWFLUTTER_TEXT), "n/a %rms");
    EXPECT_EQ(Wow({}), "n/a %rms");
    EXPECT_EQ(Wow({1000}), "n/a %rms");
    EXPECT_EQ(Wow({0, 0}), "n/a %rms");
}

TEST_F(WowFlutter, GetHeaderAfterMaxFreqsLeavesNoTrack)
{
    Open(Wave8(8000, Sine(256 * 4, 1000, 8000)));
    view.OnMaxFreqs();
    view.OnWowFlutter();
    EXPECT_EQ(Field(IDC_WOWFLUTTER_TEXT), "0. %rms");
    view.OnGetHeader();
    view.OnWowFlutter();
    EXPECT_EQ(Field(IDC_WOWFLUTTER_TEXT), "n/a %rms");
}

TEST_F(WowFlutter, FrequencyModulatedToneMeasuresItsDeviation)
{
    // 1 % peak deviation is 0.707 % rms.
    Open(Wave8(22050, FmTone(1024 * 200, 3000, 0.01, 0.5, 22050)));
    form.Click(IDC_CHUNK1024);
    view.OnMaxFreqs();
    view.OnWowFlutter();
    double w = std::stod(Field(IDC_WOWFLUTTER_TEXT));
    EXPECT_NEAR(w, 0.707, 0.15);
}

}  // namespace
