// Get Header: reads the opened file's header and fills the header figures.
#include "framework/NumberText.h"
#include "form/TarvoView.h"

#include <algorithm>
#include <cmath>

namespace tarvo {

void CTarvoView::ApplyChunkSize()
{
    static constexpr unsigned kSizes[] = {256, 512, 1024, 2048};
    if (m_nChunkSel >= 0 && m_nChunkSel < 4)
        m_nChunkSize = kSizes[m_nChunkSel];
}

void CTarvoView::ApplyHighBin(double highBin)
{
    // The candidate is cut toward zero and compared as an unsigned number,
    // so a negative one counts as too large.
    double h = std::trunc(highBin);
    if (std::isfinite(h) && h >= 0 && h < static_cast<double>(m_nChunkSize / 2))
        m_nHighBin = static_cast<unsigned>(h);
}

void CTarvoView::DeriveHeaderFigures(std::uint32_t sampleRate, std::uint32_t dataSize)
{
    const double r = sampleRate, d = dataSize, n = m_nChunkSize;
    m_dDeltaFreq = r / n;
    m_nChunks = static_cast<int>(std::min<std::uint32_t>(dataSize / m_nChunkSize, kMaxChunks));
    m_strChunks = DecimalText(m_nChunks);
    m_strDeltaFreq = GcvtText(m_dDeltaFreq, 5) + " Hz";
    m_dDuration = d / r;
    m_strDuration = GcvtText(m_dDuration, 3) + " sec";
    m_dDeltaT = n / r * 1000.0;
    m_strDeltaT = GcvtText(m_dDeltaT, 3) + " msec";
    m_dDisplayed = static_cast<double>(m_nChunks) * n / r;
    m_strDisplayed = GcvtText(m_dDisplayed, 3) + " sec";
}

void CTarvoView::OnGetHeader()
{
    UpdateData(true);
    ResolveWavePath();
    WaveInput in;
    WaveReadError err = OpenWaveInput(in, [this] {
        m_strAverFreq.clear();
        m_strChunk.clear();
    });
    if (err == WaveReadError::None) {
        const std::uint32_t r = in.format.nSamplesPerSec;
        ApplyChunkSize();
        m_dDeltaFreq = static_cast<double>(r) / m_nChunkSize;
        m_dHighFreq = static_cast<double>(r) / 2.0 - 100.0;
        UpdateData(false);
        ApplyHighBin(m_dHighFreq / m_dDeltaFreq + 1.0);
        DeriveHeaderFigures(r, in.dataSize);
        UpdateData(false);
        // Only checks that the read buffer can be taken over.
        err = BeginSampleRead(in);
    }
    ReportWaveError(err);
    CloseWaveInput(in);
    m_bFreqsValid = false;
}

}  // namespace tarvo
