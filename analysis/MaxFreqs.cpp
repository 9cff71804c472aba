// Max Freqs: the peak frequency of every chunk, plotted as it is found, and
// their average.
#include "framework/NumberText.h"
#include "form/TarvoView.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

namespace {

// Point colour by chunk size.
COLORREF TrackColour(unsigned n)
{
    switch (n) {
    case 256: return RGB(255, 128, 64);
    case 512: return RGB(0, 255, 0);
    case 1024: return RGB(0, 0, 255);
    case 2048: return RGB(255, 0, 255);
    default: return RGB(255, 255, 255);
    }
}

}  // namespace

void CTarvoView::OnMaxFreqs()
{
    UpdateData(true);
    m_strAverFreq = "calculating";
    UpdateData(false);
    m_host.UpdateWindow();

    WaveInput in;
    int lowBin = 1;
    double sum = 0.0;
    const float* re = m_pReal.get();
    const float* im = m_pImag.get();
    auto mag = [re, im](int k) {
        const double r = re[k], i = im[k];
        return std::sqrt(r * r + i * i) / 100000.0;
    };
    WaveReadError err = AnalyseChunks(
        in, lowBin,
        [&](int c) {
            // The element of greatest magnitude, the lowest of equals. The
            // magnitude grows with r*r + i*i, so the band is searched on that
            // sum; only the square root and the scaling can make a lower
            // element equal to the greatest, and those few are checked.
            const int high = static_cast<int>(m_nHighBin);
            double bestSq = 0.0;
            int p = lowBin;
            for (int k = lowBin; k < high; ++k) {
                const double r = re[k], i = im[k];
                const double sq = r * r + i * i;
                if (sq > bestSq) {
                    bestSq = sq;
                    p = k;
                }
            }
            const double best = std::sqrt(bestSq) / 100000.0;
            const double near = bestSq * (1.0 - 1e-12);
            for (int k = lowBin; k < p; ++k) {
                const double r = re[k], i = im[k];
                if (r * r + i * i >= near && mag(k) == best) {
                    p = k;
                    break;
                }
            }
            const double peakFreq = (p - 1) * m_dDeltaFreq;
            double f = InterpolatePeak(mag(p - 1), best, mag(p + 1), peakFreq, m_dDeltaFreq);
            // Within one bin either side of the peak bin: in a band a few
            // bins wide a neighbour outside it may exceed the peak (the
            // quotient then passes 1), and a neighbour equal to the peak makes
            // it infinite. Where the peak is a true maximum nothing changes.
            // A band with no magnitude in it (an empty band) has no peak to
            // stay near, and keeps what the quotient gives.
            if (bestSq > 0 && !std::isnan(f))
                f = std::clamp(f, peakFreq - m_dDeltaFreq, peakFreq + m_dDeltaFreq);
            if (!(f > 0))
                f = peakFreq;
            m_pFreqs[static_cast<size_t>(c)] = static_cast<float>(f);
            sum += f;
            PlotPoint(ChunkToX(c), FreqToY(f), TrackColour(m_nChunkSize));
        },
        [&] {
            // No chunks give 0/0: the average then reads as not a number.
            const double avg = sum / m_nChunks;
            m_strAverFreq = GcvtText(avg, 5) + " Hz";
            UpdateData(false);
        });
    ReportWaveError(err);
    CloseWaveInput(in);
    // Only a run that read every chunk leaves a track: after a failure the
    // chunks it did not read must make no figure.
    m_bFreqsValid = err == WaveReadError::None;
    m_host.UpdateWindow();
}

}  // namespace tarvo
