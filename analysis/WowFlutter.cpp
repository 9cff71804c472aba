// Wow&Flutter: the spread of the frequency track in percent rms of its mean.
#include "framework/NumberText.h"
#include "form/TarvoView.h"

#include <cmath>

namespace tarvo {

namespace {

// The figure's text: five fixed decimals from 0.00001 up to 0.01, the _gcvt
// form with 4 digits otherwise.
std::string WowFlutterText(double w)
{
    int pos = 0;
    std::string digits = FcvtDigits(w, 5, &pos);
    if (std::isfinite(w) && pos >= -4 && pos <= -2)
        return "0." + std::string(static_cast<size_t>(-pos), '0') + digits + " %rms";
    return GcvtText(w, 4) + " %rms";
}

}  // namespace

void CTarvoView::OnWowFlutter()
{
    const int n = m_nChunks;
    double w = std::nan("");
    // Without a track of this file there is nothing to measure: the figure
    // then reads as not a number rather than one made of stale values.
    if (m_bFreqsValid) {
        double s = 0.0;
        for (int i = 1; i <= n; ++i)
            s += m_pFreqs[static_cast<size_t>(i)];
        const double mean = n > 0 ? s / n : 0.0;
        double q = 0.0;
        for (int i = 1; i <= n; ++i) {
            const double d = m_pFreqs[static_cast<size_t>(i)] - mean;
            q += d * d;
        }
        const double variance = q / (n - 1);  // 0 or 1 chunks: not a number
        w = std::sqrt(variance) / mean * 100.0;
    }
    m_strWowFlutter = WowFlutterText(w);
    UpdateData(false);
}

}  // namespace tarvo
