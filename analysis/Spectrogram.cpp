// SPECTROGRAM: every bin of the band of every chunk, coloured by its
// magnitude on a scale of six steps below High Amp.
#include "form/TarvoView.h"

#include <algorithm>
#include <cmath>
#include <iterator>
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
    // A sum r*r + i*i this far below the square of the lowest threshold has
    // a magnitude at or below it for certain: black, not drawn, no square
    // root needed. Without a positive threshold every element is tested.
    const double lowest = scale.t[5];
    const double blackBelow = lowest > 0 && std::isfinite(lowest) ? lowest * lowest * (1.0 - 1e-9) : -1.0;
    const float* re = m_pReal.get();
    const float* im = m_pImag.get();
    std::vector<int> rows;  // plot row of each element of the band
    // One chunk's column of the plot, drawn at once: bins in order, the last
    // coloured one on a row wins, black ones leave the row as it was.
    COLORREF column[kPlotBottom - kPlotTop + 1];

    WaveInput in;
    int lowBin = 1;
    WaveReadError err = AnalyseChunks(
        in, lowBin,
        [&](int c) {
            const int high = static_cast<int>(m_nHighBin);
            if (rows.empty() && high > lowBin)
                for (int k = lowBin; k < high; ++k)
                    rows.push_back(FreqToY((k - 1) * m_dDeltaFreq));
            std::fill(std::begin(column), std::end(column), RGB(0, 0, 0));
            bool any = false;
            for (int k = lowBin; k < high; ++k) {
                const double r = re[k], i = im[k];
                const double sq = r * r + i * i;
                if (sq <= blackBelow)
                    continue;
                const COLORREF colour = scale.Colour(std::sqrt(sq));
                if (colour != RGB(0, 0, 0)) {
                    column[rows[static_cast<size_t>(k - lowBin)] - kPlotTop] = colour;
                    any = true;
                }
            }
            if (any)
                m_host.ClientSurface().SetColumn(ChunkToX(c), kPlotTop, kPlotBottom + 1, column);
        },
        [&] { UpdateData(false); });
    ReportWaveError(err);
    CloseWaveInput(in);
    m_host.UpdateWindow();
}

}  // namespace tarvo
