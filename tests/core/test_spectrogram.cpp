// SPECTROGRAM: the colour column of silence and of a tone, and what the
// command leaves alone.
#include "ViewFixture.h"

using namespace tarvo;
using namespace tarvo::test;

namespace {

constexpr COLORREF kRed = RGB(255, 0, 0), kOrange = RGB(255, 128, 0), kYellow = RGB(255, 255, 0),
                   kGreen = RGB(0, 255, 0), kBlue = RGB(0, 0, 255), kMagenta = RGB(255, 0, 255),
                   kBlack = RGB(0, 0, 0);

class Spectrogram : public ViewTest {
protected:
    // 10 chunks of 256 at 8000 Hz, band 20 to 3900 Hz.
    void Run(const Bytes& samples, const char* highAmp = "5")
    {
        Open(Wave8(8000, samples));
        form.Type(IDC_LOWFREQ, "20");
        form.Type(IDC_HIGHFREQ, "3900");
        form.Type(IDC_HIGHAMP, highAmp);
        view.OnCmdMsg(IDC_SPECTROGRAM);
    }
    COLORREF At(int chunk, double freq) { return form.ClientSurface().GetPixel(view.ChunkToX(chunk), view.FreqToY(freq)); }
};

TEST_F(Spectrogram, ColourScaleAgainstHighAmp)
{
    EXPECT_EQ(CTarvoView::SpectrogramColour(5.0001, 5), kRed);
    EXPECT_EQ(CTarvoView::SpectrogramColour(5, 5), kOrange);  // equal takes the lower colour
    EXPECT_EQ(CTarvoView::SpectrogramColour(2.5, 5), kYellow);
    EXPECT_EQ(CTarvoView::SpectrogramColour(1.25, 5), kGreen);
    EXPECT_EQ(CTarvoView::SpectrogramColour(0.625, 5), kBlue);
    EXPECT_EQ(CTarvoView::SpectrogramColour(0.3125, 5), kMagenta);
    EXPECT_EQ(CTarvoView::SpectrogramColour(5.0 / 32, 5), kBlack);
    EXPECT_EQ(CTarvoView::SpectrogramColour(127, 50), kRed);
}

TEST_F(Spectrogram, SilenceShowsTheTimeRamp)
{
    Run(Silence(256 * 10));
    EXPECT_TRUE(form.Messages().empty());
    EXPECT_EQ(Field(IDC_AVERFREQ), "");
    EXPECT_EQ(Field(IDC_CHUNK), "10");
    for (int c = 1; c <= 10; ++c) {
        EXPECT_EQ(At(c, 0), kOrange) << c;
        EXPECT_EQ(At(c, 31.25), kYellow);
        EXPECT_EQ(At(c, 62.5), kGreen);
        EXPECT_EQ(At(c, 93.75), kBlue);
        EXPECT_EQ(At(c, 125), kBlue);
        for (double f = 156.25; f <= 250; f += 31.25)
            EXPECT_EQ(At(c, f), kMagenta) << f;
        EXPECT_EQ(At(c, 281.25), kBlack);
        EXPECT_EQ(At(c, 1500), kBlack);
    }
    // Columns between the chunk columns stay untouched.
    EXPECT_EQ(form.ClientSurface().GetPixel(view.ChunkToX(1) + 1, 290), kBlack);
}

TEST_F(Spectrogram, FullScaleToneIsRedAtItsBin)
{
    Run(Sine(256 * 10, 625, 8000, 127));
    for (int c = 1; c <= 10; ++c)
        EXPECT_EQ(At(c, 625), kRed);
    Run(Silence(256 * 10), "1");
    EXPECT_EQ(At(1, 0), kRed);
    EXPECT_EQ(At(1, 31.25), kRed);
    EXPECT_EQ(At(1, 62.5), kOrange);
    // 128 is the zero level: silence adds nothing to the time ramp's 0 Hz
    // element (4.112), which stays below High Amp 4.5; a zero level of 127
    // or 129 would lift it to 4.573.
    Run(Silence(256 * 10), "4.5");
    EXPECT_EQ(At(1, 0), kOrange);
    EXPECT_EQ(At(10, 0), kOrange);
}

TEST_F(Spectrogram, LeavesTheTrackButMarksItStale)
{
    Open(Wave8(8000, Sine(256 * 4, 1000, 8000)));
    view.OnMaxFreqs();
    float first = view.m_pFreqs[1];
    form.Click(IDC_CHUNK512);
    form.Type(IDC_HIGHFREQ, "3000");
    form.Type(IDC_LOWFREQ, "100");
    view.OnSpectrogram();
    EXPECT_EQ(view.m_pFreqs[1], first);
    EXPECT_FALSE(view.m_bFreqsValid);
    EXPECT_EQ(view.m_nChunks, 2);
    EXPECT_EQ(view.m_dHighFreq, 3000);
    EXPECT_EQ(view.m_dLowFreq, 100);
}

TEST_F(Spectrogram, EmptyBandDrawsNothingAndShortFileShowsNoMessage)
{
    Run(Silence(100));
    EXPECT_TRUE(form.Messages().empty());
    EXPECT_EQ(Field(IDC_CHUNKS), "0");
    EXPECT_EQ(Field(IDC_DISPLAYED), "0. sec");
    // The frequency lines are drawn; no time line, no point.
    EXPECT_EQ(form.ClientSurface().GetPixel(25, view.FreqToY(1000) - 0), CTarvoView::kGridColor);
    for (int x = 26; x < 440; ++x)
        EXPECT_NE(form.ClientSurface().GetPixel(x, 289), kOrange);
}

}  // namespace
