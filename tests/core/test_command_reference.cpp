// Max Freqs and SPECTROGRAM against a plain transcription of their defined
// steps, done here from the file's bytes: sample by sample, one magnitude
// per element with its square root, one pixel per coloured element. The
// commands must agree to the bit and to the pixel.
#include "ViewFixture.h"

#include <cmath>
#include <cstdint>
#include <random>

using namespace tarvo;
using namespace tarvo::test;

namespace {

class CommandReference : public ViewTest {
protected:
    // Noise over a tone: neighbouring magnitudes of every size, many of them
    // close to each threshold. The data chunk starts at an odd offset and is
    // not a whole number of read blocks, so chunks straddle block edges.
    Bytes MakeSamples(size_t n, unsigned seed)
    {
        std::mt19937 gen(seed);
        std::uniform_int_distribution<int> noise(-40, 40);
        Bytes b = Sine(n, 1234.5, 11025, 60);
        for (auto& v : b)
            v = static_cast<std::uint8_t>(std::clamp(v + noise(gen), 0, 255));
        return b;
    }
    std::string OpenSamples(const Bytes& samples)
    {
        return Open(Riff({Chunk("fmt ", FmtData(11025)), Chunk("junk", Bytes(3, 0)), Chunk("data", samples)}));
    }

    // Chunk c laid out and transformed as defined.
    static void Transform(const Bytes& samples, int c, int n, std::vector<float>& re, std::vector<float>& im)
    {
        for (int k = 1; k <= n; ++k) {
            re[k] = static_cast<float>(k / 11025.0);
            im[k] = static_cast<float>((static_cast<int>(samples[static_cast<size_t>((c - 1) * n + k - 1)]) - 128) /
                                       static_cast<double>(n / 2));
        }
        re[0] = 0;
        CTarvoView::ComputeFFT(1, n, re.data(), im.data());
    }
};

TEST_F(CommandReference, MaxFreqsTrackMatchesThePlainSearch)
{
    const struct {
        const char* chunk;
        int n;
        const char* low;
        const char* high;
    } cases[] = {{"256", 256, "20", "5000"}, {"512", 512, "0", "2000"}, {"1024", 1024, "1000", "5500"},
                 {"2048", 2048, "20", "8000"}};
    for (const auto& t : cases) {
        SCOPED_TRACE(t.chunk);
        const Bytes samples = MakeSamples(static_cast<size_t>(37 * t.n + 5), static_cast<unsigned>(t.n));
        OpenSamples(samples);
        form.Click(t.n == 256 ? IDC_CHUNK256 : t.n == 512 ? IDC_CHUNK512 : t.n == 1024 ? IDC_CHUNK1024 : IDC_CHUNK2048);
        form.Type(IDC_LOWFREQ, t.low);
        form.Type(IDC_HIGHFREQ, t.high);
        view.OnMaxFreqs();
        ASSERT_TRUE(form.Messages().empty());
        ASSERT_EQ(view.m_nChunks, 37);

        const double delta = 11025.0 / t.n;
        const int lowBin = static_cast<int>(std::trunc(view.m_dLowFreq / delta + 1.0));
        const int highBin = static_cast<int>(view.m_nHighBin);
        std::vector<float> re(2049), im(2049);
        auto mag = [&](int k) { return std::sqrt(double{re[k]} * re[k] + double{im[k]} * im[k]) / 100000.0; };
        for (int c = 1; c <= 37; ++c) {
            Transform(samples, c, t.n, re, im);
            double best = 0.0;
            int p = lowBin;
            for (int k = lowBin; k < highBin; ++k)
                if (mag(k) > best)
                    best = mag(k), p = k;
            const double peakFreq = (p - 1) * delta;
            double f = CTarvoView::InterpolatePeak(mag(p - 1), best, mag(p + 1), peakFreq, delta);
            if (!(f > 0))
                f = peakFreq;
            ASSERT_EQ(view.m_pFreqs[static_cast<size_t>(c)], static_cast<float>(f)) << "chunk " << c;
        }
    }
}

TEST_F(CommandReference, SpectrogramRasterMatchesPointByPoint)
{
    // High Amp values: the default, the extremes, and ones the form refuses
    // but leaves in the view (then every element is tested without a
    // shortcut, and a negative scale colours everything red).
    const struct {
        const char* chunk;
        int n;
        const char* highAmp;
    } cases[] = {{"256", 256, "5"}, {"512", 512, "1"}, {"1024", 1024, "50"}, {"2048", 2048, "3.3"},
                 {"256", 256, "0"}, {"512", 512, "-2"}};
    for (const auto& t : cases) {
        SCOPED_TRACE(std::string(t.chunk) + " at " + t.highAmp);
        const Bytes samples = MakeSamples(static_cast<size_t>(23 * t.n + 100), 7u + static_cast<unsigned>(t.n));
        OpenSamples(samples);
        form.Click(t.n == 256 ? IDC_CHUNK256 : t.n == 512 ? IDC_CHUNK512 : t.n == 1024 ? IDC_CHUNK1024 : IDC_CHUNK2048);
        form.Type(IDC_LOWFREQ, "0");
        form.Type(IDC_HIGHFREQ, "5000");
        form.Type(IDC_HIGHAMP, t.highAmp);
        view.OnSpectrogram();  // sets the figures the grid follows
        // The reference draws on a copy of what the command starts from:
        // the cleared plot with this command's grid.
        view.OnClear();
        view.DrawGrid();
        Surface want;
        for (int y = 0; y < Surface::kHeight; ++y)
            for (int x = 0; x < Surface::kWidth; ++x)
                want.SetPixel(x, y, form.ClientSurface().GetPixel(x, y));
        view.OnClear();
        form.ClearMessages();
        view.OnSpectrogram();
        const double delta = 11025.0 / t.n;
        const int highBin = static_cast<int>(view.m_nHighBin);
        std::vector<float> re(2049), im(2049);
        for (int c = 1; c <= 23; ++c) {
            Transform(samples, c, t.n, re, im);
            for (int k = 1; k < highBin; ++k) {
                const COLORREF colour = CTarvoView::SpectrogramColour(
                    std::sqrt(double{re[k]} * re[k] + double{im[k]} * im[k]), view.m_dHighAmp);
                if (colour != RGB(0, 0, 0))
                    want.SetPixel(view.ChunkToX(c), view.FreqToY((k - 1) * delta), colour);
            }
        }
        int mismatches = 0, drawn = 0;
        for (int y = 0; y < Surface::kHeight; ++y)
            for (int x = 0; x < Surface::kWidth; ++x) {
                const COLORREF got = form.ClientSurface().GetPixel(x, y);
                mismatches += got != want.GetPixel(x, y);
                drawn += x >= 25 && x <= 440 && y >= 37 && y <= 290 && got != RGB(0, 0, 0) &&
                         got != CTarvoView::kGridColor;
            }
        EXPECT_EQ(mismatches, 0);
        EXPECT_GT(drawn, 23);
    }
}

}  // namespace
