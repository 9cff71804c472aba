// The chunk pass shared by Max Freqs and SPECTROGRAM.
#include "form/TarvoView.h"
#include "framework/NumberText.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

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
    // Every chunk carries the same time ramp k / fs, and a sample byte has
    // one of 256 values (s - 128) / (N/2): both are computed once per
    // command, with the same expressions, and copied or looked up per chunk.
    std::vector<float> ramp(static_cast<size_t>(n) + 1);
    for (int k = 1; k <= n; ++k)
        ramp[static_cast<size_t>(k)] = static_cast<float>(k / fs);
    float level[256];
    for (int v = 0; v < 256; ++v)
        level[v] = static_cast<float>((v - 128) / scale);
    for (int c = 1; c <= m_nChunks; ++c) {
        for (int k = 1; k <= n;) {
            // The reader hands out the first byte (refilling its buffer when
            // it is used up, failing where it fails); the rest of the chunk
            // that the buffer already holds is taken straight from it.
            unsigned s;
            err = NextSampleByte(in, s);
            if (err != WaveReadError::None)
                return err;
            im[k++] = level[s];
            const std::uint8_t* run = in.buffer.next;
            const int take = static_cast<int>(std::min<std::ptrdiff_t>(in.buffer.end - run, n - k + 1));
            for (int t = 0; t < take; ++t)
                im[k + t] = level[run[t]];
            in.buffer.next = run + take;
            k += take;
        }
        std::copy(ramp.begin() + 1, ramp.end(), re + 1);
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
