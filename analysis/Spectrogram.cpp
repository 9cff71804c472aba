// SPECTROGRAM: every bin of the band of every chunk, coloured by its
// magnitude on a scale of six steps below High Amp.
#include "form/TarvoView.h"

#include <cmath>
#include <vector>

namespace tarvo {

namespace {
constexpr COLORREF kScale[6] = {
    RGB(255, 0, 0), RGB(255, 128, 0), RGB(255, 255, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 0, 255),
};

// The six thresholds, High Amp divided by 1, 2, 4, 8, 16 and 32.
struct Thresholds {
    explicit Thresholds(double a) : t{a, a / 2, a / 4, a / 8, a / 16, a / 32} {}
    COLORREF Colour(double magnitude) const
    {
        for (int step = 0; step < 6; ++step)
            if (magnitude > t[step])
                return kScale[step];
        return RGB(0, 0, 0);
    }
    double t[6];
};
}  // namespace

COLORREF CTarvoView::SpectrogramColour(double magnitude, double highAmp)
{
    return Thresholds(highAmp).Colour(magnitude);
}

void CTarvoView::OnSpectrogram()
{
    // The header figures are read anew: the track no longer matches them,
    // so the list, the file and Wow&Flutter leave it alone until Max Freqs.
    m_bFreqsValid = false;
    UpdateData(true);
    m_strAverFreq.clear();
    UpdateData(false);
    m_host.UpdateWindow();

    const Thresholds scale(m_dHighAmp);
    const float* re = m_pReal.get();
    const float* im = m_pImag.get();
    std::vector<int> rows;  // plot row of each element of the band

    WaveInput in;
    int lowBin = 1;
    WaveReadError err = AnalyseChunks(
        in, lowBin,
        [&](int c) {
            const int high = static_cast<int>(m_nHighBin);
            if (rows.empty() && high > lowBin)
                for (int k = lowBin; k < high; ++k)
                    rows.push_back(FreqToY((k - 1) * m_dDeltaFreq));
            const int x = ChunkToX(c);
            for (int k = lowBin; k < high; ++k) {
                const double r = re[k], i = im[k];
                const COLORREF colour = scale.Colour(std::sqrt(r * r + i * i));
                if (colour != RGB(0, 0, 0))
                    PlotPoint(x, rows[static_cast<size_t>(k - lowBin)], colour);
            }
        },
        [&] { UpdateData(false); });
    ReportWaveError(err);
    CloseWaveInput(in);
    m_host.UpdateWindow();
}

}  // namespace tarvo
