// The chunk pass shared by Max Freqs and SPECTROGRAM.
#include "form/TarvoView.h"
#include "framework/NumberText.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

int CTarvoView::LowBin() const
{
    const double lb = std::trunc(m_dLowFreq / m_dDeltaFreq + 1.0);
    const int last = static_cast<int>(m_nChunkSize) - 1;
    if (!(lb >= 1.0))  // also a not-a-number
        return 1;
    return lb > last ? last : static_cast<int>(lb);
}

WaveReadError CTarvoView::AnalyseChunks(WaveInput& in, int& lowBin, const std::function<void(int)>& onChunk,
                                        const std::function<void()>& afterLast)
{
    ResolveWavePath();
    WaveReadError err = OpenWaveInput(in);
    if (err != WaveReadError::None)
        return err;

    const std::uint32_t rate = in.format.nSamplesPerSec;
    ApplyChunkSize();
    DeriveHeaderFigures(rate, in.dataSize);
    lowBin = LowBin();
    const unsigned half = m_nChunkSize / 2;
    ApplyHighBin(m_dHighFreq / m_dDeltaFreq + 1.0);
    // A high bin left from a larger chunk size must not reach past the
    // first half of this chunk's spectrum.
    m_nHighBin = std::min(m_nHighBin, half);

    DrawGrid();
    UpdateData(false);
    m_host.UpdateWindow();

    err = BeginSampleRead(in);
    if (err != WaveReadError::None)
        return err;

    const int n = static_cast<int>(m_nChunkSize);
    const double fs = rate;
    const double scale = static_cast<double>(half);
    float* re = m_pReal.get();
    float* im = m_pImag.get();
    for (int c = 1; c <= m_nChunks; ++c) {
        for (int k = 1; k <= n; ++k) {
            unsigned s;
            err = NextSampleByte(in, s);
            if (err != WaveReadError::None)
                return err;
            re[k] = static_cast<float>(k / fs);
            im[k] = static_cast<float>((static_cast<int>(s) - 128) / scale);
        }
        re[0] = 0;
        m_strChunk = DecimalText(c);
        UpdateData(false);
        ComputeFFT(1, n, re, im);
        onChunk(c);
        m_host.UpdateWindow();
    }
    if (afterLast)
        afterLast();
    return EndSampleRead(in);
}

}  // namespace tarvo
