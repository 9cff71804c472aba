// The chunk spectrum: the in-place complex transform of one chunk and the
// refinement of a peak's frequency from its two neighbours.
//
// The transform's output is fixed to the last bit: every butterfly works in
// double and rounds each store to float, and the twiddle of every J is
// evaluated afresh as cos/sin of J*pi/LE2 (no recurrence, no table), so the
// order of those roundings must not change. What is tuned is only the
// bookkeeping around them: loop bounds computed once, operands kept in
// locals, the butterflies of neighbouring J done side by side, and no twiddle
// evaluated that would go unused.
#include "form/TarvoView.h"

#include <cmath>

namespace tarvo {

namespace {

constexpr double kPi = 3.141592653589793;

// Number of stages for n points: floor(ln(n + 1) / ln 2 + 0.5), which is
// log2(n) for every power of two from 4 up. For n = 2 the rounding gives 2,
// a stage of 4-point butterflies that would reach elements 3 and 4; the
// stage count is held to 2^stages <= n so nothing past element n is touched.
int StageCount(int n)
{
    int stages = static_cast<int>(std::floor(std::log(static_cast<double>(n) + 1.0) / std::log(2.0) + 0.5));
    while (stages > 0 && (1 << stages) > n)
        --stages;
    return stages;
}

// Bit-reversal permutation of elements 1..n (n a power of two). The running
// index j is the 1-based bit-reverse of i; k walks down the carry chain.
void BitReverse(int n, float* re, float* im)
{
    const int half = n >> 1;
    int j = 1;
    for (int i = 1; i < n; ++i) {
        if (j > i) {
            const float tr = re[j];
            re[j] = re[i];
            re[i] = tr;
            const float ti = im[j];
            im[j] = im[i];
            im[i] = ti;
        }
        int k = half;
        while (j > k) {
            j -= k;
            k >>= 1;
        }
        j += k;
    }
}

// One butterfly on elements i and i + le2 with the twiddle (ur, ui).
inline void Butterfly(float* re, float* im, int i, int le2, double ur, double ui)
{
    const double xr = re[i + le2];
    const double xi = im[i + le2];
    const double tr = xr * ur - xi * ui;
    const double ti = xi * ur + xr * ui;
    const double ar = re[i];
    const double ai = im[i];
    re[i + le2] = static_cast<float>(ar - tr);
    im[i + le2] = static_cast<float>(ai - ti);
    re[i] = static_cast<float>(ar + tr);
    im[i] = static_cast<float>(ai + ti);
}

}  // namespace

// n is a power of two; direction is 1 (forward) or -1 (inverse, scaled by
// 1/n). Only elements 1..n are read or written.
void CTarvoView::ComputeFFT(int direction, int n, float* re, float* im)
{
    // One point is its own transform; below that there is nothing to do.
    if (n < 2)
        return;

    BitReverse(n, re, im);

    const int stages = StageCount(n);
    const double sign = -direction;  // the sign of the twiddle's sine

    // Stage 1: LE2 = 1, a single J whose twiddle is (1, 0).
    for (int i = 1; i < n; i += 2)
        Butterfly(re, im, i, 1, 1.0, 0.0);

    // Later stages: LE2 is even, so the J run in pairs (J, J + 1). The two
    // butterflies of a pair sit on neighbouring elements and are written
    // side by side so the compiler can do them in one pair of lanes; each
    // keeps its own twiddle and its own roundings.
    for (int stage = 2; stage <= stages; ++stage) {
        const int le = 1 << stage;
        const int le2 = le >> 1;
        const double le2d = le2;
        const int last = n - le2;     // i <= n and i + le2 <= n
        float* const hr = re + le2;   // hr[i] is re[i + le2]
        float* const hi = im + le2;
        double ur0 = 1.0;             // twiddle of J
        double ui0 = 0.0;
        for (int j = 1; j < le2; j += 2) {
            const double angle1 = j * kPi / le2d;  // twiddle of J + 1
            const double ur1 = std::cos(angle1);
            const double ui1 = sign * std::sin(angle1);
            for (int i = j; i <= last; i += le) {
                const double xr0 = hr[i];
                const double xr1 = hr[i + 1];
                const double xi0 = hi[i];
                const double xi1 = hi[i + 1];
                const double ar0 = re[i];
                const double ar1 = re[i + 1];
                const double ai0 = im[i];
                const double ai1 = im[i + 1];
                const double tr0 = xr0 * ur0 - xi0 * ui0;
                const double tr1 = xr1 * ur1 - xi1 * ui1;
                const double ti0 = xi0 * ur0 + xr0 * ui0;
                const double ti1 = xi1 * ur1 + xr1 * ui1;
                hr[i] = static_cast<float>(ar0 - tr0);
                hr[i + 1] = static_cast<float>(ar1 - tr1);
                hi[i] = static_cast<float>(ai0 - ti0);
                hi[i + 1] = static_cast<float>(ai1 - ti1);
                re[i] = static_cast<float>(ar0 + tr0);
                re[i + 1] = static_cast<float>(ar1 + tr1);
                im[i] = static_cast<float>(ai0 + ti0);
                im[i + 1] = static_cast<float>(ai1 + ti1);
            }
            if (j + 1 == le2)
                break;  // the twiddle after the last J would go unused
            const double angle0 = (j + 1) * kPi / le2d;  // twiddle of J + 2
            ur0 = std::cos(angle0);
            ui0 = sign * std::sin(angle0);
        }
    }

    if (direction == -1) {
        const double scale = n;
        for (int i = 1; i <= n; ++i) {
            re[i] = static_cast<float>(re[i] / scale);
            im[i] = static_cast<float>(im[i] / scale);
        }
    }
}

double CTarvoView::InterpolatePeak(double left, double peak, double right, double peakFreq, double deltaFreq)
{
    double sign = 1.0;
    if (right < left) {
        const double t = left;
        left = right;
        right = t;
        sign = -1.0;
    }
    return peakFreq + sign * deltaFreq * (right - left) / (peak - left);
}

}  // namespace tarvo
