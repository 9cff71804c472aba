// The chunk spectrum: the in-place complex transform of one chunk and the
// refinement of a peak's frequency from its two neighbours.
//
// The transform's output is fixed to the last bit: every butterfly works in
// double and rounds each store to float, and the twiddle of every J is
// cos/sin of J*pi/LE2 evaluated with exactly that expression. What is tuned
// is only where the work happens:
// - the twiddles of every stage size are evaluated once per process into a
//   fixed table (the same expression, so the same bits), so a transform
//   calls no cos or sin and allocates nothing;
// - the bit reversal runs from a fixed table of the exchanges per size, or,
//   with AVX2, as a gather folded into the first two stages;
// - the butterflies of one stage touch disjoint pairs of elements, so their
//   order within the stage is free: they run across neighbouring J, four
//   lanes at a time with AVX2 where the processor has it (chosen at run
//   time), each lane doing exactly the scalar operations (a multiply, a
//   multiply, an add or subtract, never a fused multiply-add).
#include "analysis/FftKernels.h"
#include "form/TarvoView.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <utility>

#if defined(__x86_64__) || defined(__i386__)
#define TARVO_FFT_X86 1
#include <immintrin.h>
#endif

namespace tarvo {

namespace {

constexpr double kPi = 3.141592653589793;
constexpr int kTableLog = 11;                 // the largest chunk, 2048 points
constexpr int kTableSize = 1 << kTableLog;

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

// The exchanges of the bit-reversal permutation of elements 1..n (n a
// power of two), in order. The running index j is the 1-based bit-reverse
// of i; k walks down the carry chain.
template <class OnExchange>
void ForEachReversalExchange(int n, OnExchange&& exchange)
{
    int j = 1;
    for (int i = 1; i < n; ++i) {
        if (j > i)
            exchange(i, j);
        int k = n >> 1;
        while (j > k) {
            j -= k;
            k >>= 1;
        }
        j += k;
    }
}

inline void Exchange(float* re, float* im, int i, int j)
{
    std::swap(re[i], re[j]);
    std::swap(im[i], im[j]);
}

// The twiddles of every stage up to 2048 points. The stage with half-size
// LE2 keeps the twiddles of its LE2 values of J at [LE2 .. 2*LE2 - 1]: the
// first is (1, 0), the one for J + 1 is cos and -direction * sin of
// J * pi / LE2. Stages of four and more start on a 32-byte boundary.
struct Twiddles {
    alignas(64) double ur[kTableSize];
    alignas(64) double uiForward[kTableSize];  // -sin
    alignas(64) double uiInverse[kTableSize];  // +sin
    // The exchanges of the bit reversal for 2^b points, as pairs of
    // 1-based elements, at [swapStart[b] .. swapStart[b + 1]).
    std::uint16_t swaps[2 * kTableSize][2];
    int swapStart[kTableLog + 2];
    // The same permutation as a gather: after the exchanges, element i of
    // 2^b points holds the element perm[2^b - 1 + (i - 1)] held before.
    std::uint16_t perm[2 * kTableSize];

    Twiddles()
    {
        ur[0] = uiForward[0] = uiInverse[0] = 0.0;
        for (int le2 = 1; le2 < kTableSize; le2 *= 2) {
            const double le2d = le2;
            ur[le2] = 1.0;
            uiForward[le2] = 0.0;
            uiInverse[le2] = 0.0;
            for (int j = 1; j < le2; ++j) {
                const double angle = j * kPi / le2d;
                ur[le2 + j] = std::cos(angle);
                uiForward[le2 + j] = -1 * std::sin(angle);
                uiInverse[le2 + j] = 1 * std::sin(angle);
            }
        }
        int count = 0;
        for (int b = 0; b <= kTableLog; ++b) {
            swapStart[b] = count;
            ForEachReversalExchange(1 << b, [&](int i, int j) {
                swaps[count][0] = static_cast<std::uint16_t>(i);
                swaps[count][1] = static_cast<std::uint16_t>(j);
                ++count;
            });
        }
        swapStart[kTableLog + 1] = count;
        for (int b = 0; b <= kTableLog; ++b) {
            std::uint16_t* p = perm + (1 << b) - 1;  // p[i - 1] for element i
            for (int i = 1; i <= (1 << b); ++i)
                p[i - 1] = static_cast<std::uint16_t>(i);
            for (int e = swapStart[b]; e < swapStart[b + 1]; ++e)
                std::swap(p[swaps[e][0] - 1], p[swaps[e][1] - 1]);
        }
    }
};

const Twiddles& Table()
{
    static const Twiddles table;
    return table;
}

void BitReverse(int n, float* re, float* im)
{
    ForEachReversalExchange(n, [re, im](int i, int j) { Exchange(re, im, i, j); });
}

void BitReverseFromTable(const Twiddles& t, int log2n, float* re, float* im)
{
    const std::uint16_t(*p)[2] = t.swaps + t.swapStart[log2n];
    const std::uint16_t(*end)[2] = t.swaps + t.swapStart[log2n + 1];
    for (; p != end; ++p)
        Exchange(re, im, (*p)[0], (*p)[1]);
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

// Every stage of a power of two n <= 2048, one butterfly at a time, with
// the twiddles from the table.
void StagesPortable(int n, int stages, float* re, float* im, const double* ur, const double* ui)
{
    for (int stage = 1; stage <= stages; ++stage) {
        const int le2 = 1 << (stage - 1);
        const int le = le2 << 1;
        const double* wr = ur + le2;
        const double* wi = ui + le2;
        for (int g = 1; g <= n; g += le)
            for (int j = 0; j < le2; ++j)
                Butterfly(re, im, g + j, le2, wr[j], wi[j]);
    }
}

// Any n outside the table: the twiddles evaluated as the stages go.
void StagesDirect(int n, int stages, int direction, float* re, float* im)
{
    for (int stage = 1; stage <= stages; ++stage) {
        const int le2 = 1 << (stage - 1);
        const int le = le2 << 1;
        const double le2d = le2;
        double ur = 1.0, ui = 0.0;
        for (int j = 1; j <= le2; ++j) {
            for (int i = j; i + le2 <= n; i += le)
                Butterfly(re, im, i, le2, ur, ui);
            ur = std::cos(j * kPi / le2d);
            ui = -direction * std::sin(j * kPi / le2d);
        }
    }
}

#ifdef TARVO_FFT_X86

// Four butterflies side by side: a and b are the upper and lower elements
// (float, as stored), w the four twiddles. Each lane does the scalar
// operations in the scalar order; the conversions round as the stores do.
struct Quad {
    __m128 ar, ai, br, bi;
};

__attribute__((target("avx2"))) inline Quad Butterfly4(Quad q, __m256d wr, __m256d wi)
{
    const __m256d xr = _mm256_cvtps_pd(q.br);
    const __m256d xi = _mm256_cvtps_pd(q.bi);
    const __m256d tr = _mm256_sub_pd(_mm256_mul_pd(xr, wr), _mm256_mul_pd(xi, wi));
    const __m256d ti = _mm256_add_pd(_mm256_mul_pd(xi, wr), _mm256_mul_pd(xr, wi));
    const __m256d ar = _mm256_cvtps_pd(q.ar);
    const __m256d ai = _mm256_cvtps_pd(q.ai);
    return Quad{_mm256_cvtpd_ps(_mm256_add_pd(ar, tr)), _mm256_cvtpd_ps(_mm256_add_pd(ai, ti)),
                _mm256_cvtpd_ps(_mm256_sub_pd(ar, tr)), _mm256_cvtpd_ps(_mm256_sub_pd(ai, ti))};
}

// The bit reversal and the first two stages in one pass, eight elements at
// a time: the elements are gathered in bit-reversed order from a copy of
// the input, stage 1 and stage 2 run in registers (rounded to float in
// between, exactly as a store and a load would), and only stage 2's results
// are stored. n >= 8.
__attribute__((target("avx2"))) void ReverseAndFirstStagesAvx2(int n, const std::uint16_t* perm, float* re,
                                                               float* im, const double* ur, const double* ui)
{
    alignas(32) static thread_local float srcRe[kTableSize + 1], srcIm[kTableSize + 1];
    std::memcpy(srcRe + 1, re + 1, sizeof(float) * static_cast<size_t>(n));
    std::memcpy(srcIm + 1, im + 1, sizeof(float) * static_cast<size_t>(n));
    const __m256d w1r = _mm256_set1_pd(ur[1]), w1i = _mm256_set1_pd(ui[1]);
    // Stage 2 lanes hold the pairs (g, g+2), (g+4, g+6), (g+1, g+3), (g+5, g+7).
    const __m256d w2r = _mm256_setr_pd(ur[2], ur[2], ur[3], ur[3]);
    const __m256d w2i = _mm256_setr_pd(ui[2], ui[2], ui[3], ui[3]);
    for (int g = 1; g <= n; g += 8) {
        const std::uint16_t* p = perm + (g - 1);
        // Stage 1 pairs (g, g+1), (g+2, g+3), (g+4, g+5), (g+6, g+7).
        Quad q{_mm_setr_ps(srcRe[p[0]], srcRe[p[2]], srcRe[p[4]], srcRe[p[6]]),
               _mm_setr_ps(srcIm[p[0]], srcIm[p[2]], srcIm[p[4]], srcIm[p[6]]),
               _mm_setr_ps(srcRe[p[1]], srcRe[p[3]], srcRe[p[5]], srcRe[p[7]]),
               _mm_setr_ps(srcIm[p[1]], srcIm[p[3]], srcIm[p[5]], srcIm[p[7]])};
        q = Butterfly4(q, w1r, w1i);
        // Now a = elements g, g+2, g+4, g+6 and b = g+1, g+3, g+5, g+7.
        Quad r{_mm_shuffle_ps(q.ar, q.br, _MM_SHUFFLE(2, 0, 2, 0)), _mm_shuffle_ps(q.ai, q.bi, _MM_SHUFFLE(2, 0, 2, 0)),
               _mm_shuffle_ps(q.ar, q.br, _MM_SHUFFLE(3, 1, 3, 1)), _mm_shuffle_ps(q.ai, q.bi, _MM_SHUFFLE(3, 1, 3, 1))};
        r = Butterfly4(r, w2r, w2i);
        // a = g, g+4, g+1, g+5 and b = g+2, g+6, g+3, g+7: back to order.
        const __m128 er = _mm_unpacklo_ps(r.ar, r.br), orr = _mm_unpackhi_ps(r.ar, r.br);
        const __m128 ei = _mm_unpacklo_ps(r.ai, r.bi), oi = _mm_unpackhi_ps(r.ai, r.bi);
        _mm_storeu_ps(re + g, _mm_unpacklo_ps(er, orr));
        _mm_storeu_ps(re + g + 4, _mm_unpackhi_ps(er, orr));
        _mm_storeu_ps(im + g, _mm_unpacklo_ps(ei, oi));
        _mm_storeu_ps(im + g + 4, _mm_unpackhi_ps(ei, oi));
    }
}

__attribute__((target("avx2"))) void LaterStagesAvx2(int n, int stages, float* re, float* im, const double* ur,
                                                     const double* ui)
{
    // Stages from 3: LE2 >= 4, four neighbouring J at a time.
    for (int stage = 3; stage <= stages; ++stage) {
        const int le2 = 1 << (stage - 1);
        const int le = le2 << 1;
        const double* wr = ur + le2;
        const double* wi = ui + le2;
        for (int g = 1; g <= n; g += le) {
            float* const ar = re + g;
            float* const ai = im + g;
            float* const br = ar + le2;
            float* const bi = ai + le2;
            for (int j = 0; j < le2; j += 4) {
                Quad q{_mm_loadu_ps(ar + j), _mm_loadu_ps(ai + j), _mm_loadu_ps(br + j), _mm_loadu_ps(bi + j)};
                q = Butterfly4(q, _mm256_load_pd(wr + j), _mm256_load_pd(wi + j));
                _mm_storeu_ps(ar + j, q.ar);
                _mm_storeu_ps(ai + j, q.ai);
                _mm_storeu_ps(br + j, q.br);
                _mm_storeu_ps(bi + j, q.bi);
            }
        }
    }
}

__attribute__((target("avx2"))) void StagesAvx2(int n, int stages, float* re, float* im, const double* ur,
                                                const double* ui)
{
    // n >= 8 here. Stage 1: pairs (i, i + 1), twiddle (1, 0). Four pairs
    // from eight neighbouring elements: the upper ones are the even
    // offsets, the lower ones the odd.
    {
        const __m256d wr = _mm256_set1_pd(ur[1]);
        const __m256d wi = _mm256_set1_pd(ui[1]);
        for (int g = 1; g <= n; g += 8) {
            const __m128 r0 = _mm_loadu_ps(re + g), r1 = _mm_loadu_ps(re + g + 4);
            const __m128 i0 = _mm_loadu_ps(im + g), i1 = _mm_loadu_ps(im + g + 4);
            Quad q{_mm_shuffle_ps(r0, r1, _MM_SHUFFLE(2, 0, 2, 0)), _mm_shuffle_ps(i0, i1, _MM_SHUFFLE(2, 0, 2, 0)),
                   _mm_shuffle_ps(r0, r1, _MM_SHUFFLE(3, 1, 3, 1)), _mm_shuffle_ps(i0, i1, _MM_SHUFFLE(3, 1, 3, 1))};
            q = Butterfly4(q, wr, wi);
            _mm_storeu_ps(re + g, _mm_unpacklo_ps(q.ar, q.br));
            _mm_storeu_ps(re + g + 4, _mm_unpackhi_ps(q.ar, q.br));
            _mm_storeu_ps(im + g, _mm_unpacklo_ps(q.ai, q.bi));
            _mm_storeu_ps(im + g + 4, _mm_unpackhi_ps(q.ai, q.bi));
        }
    }
    // Stage 2: pairs (i, i + 2) and (i + 1, i + 3) with the twiddles of
    // J = 1 and 2; two groups of four elements at a time.
    if (stages >= 2) {
        const __m256d wr = _mm256_setr_pd(ur[2], ur[3], ur[2], ur[3]);
        const __m256d wi = _mm256_setr_pd(ui[2], ui[3], ui[2], ui[3]);
        for (int g = 1; g <= n; g += 8) {
            const __m128 r0 = _mm_loadu_ps(re + g), r1 = _mm_loadu_ps(re + g + 4);
            const __m128 i0 = _mm_loadu_ps(im + g), i1 = _mm_loadu_ps(im + g + 4);
            Quad q{_mm_shuffle_ps(r0, r1, _MM_SHUFFLE(1, 0, 1, 0)), _mm_shuffle_ps(i0, i1, _MM_SHUFFLE(1, 0, 1, 0)),
                   _mm_shuffle_ps(r0, r1, _MM_SHUFFLE(3, 2, 3, 2)), _mm_shuffle_ps(i0, i1, _MM_SHUFFLE(3, 2, 3, 2))};
            q = Butterfly4(q, wr, wi);
            _mm_storeu_ps(re + g, _mm_shuffle_ps(q.ar, q.br, _MM_SHUFFLE(1, 0, 1, 0)));
            _mm_storeu_ps(re + g + 4, _mm_shuffle_ps(q.ar, q.br, _MM_SHUFFLE(3, 2, 3, 2)));
            _mm_storeu_ps(im + g, _mm_shuffle_ps(q.ai, q.bi, _MM_SHUFFLE(1, 0, 1, 0)));
            _mm_storeu_ps(im + g + 4, _mm_shuffle_ps(q.ai, q.bi, _MM_SHUFFLE(3, 2, 3, 2)));
        }
    }
    LaterStagesAvx2(n, stages, re, im, ur, ui);
}

bool HaveAvx2()
{
    static const bool have = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return have;
}

#endif  // TARVO_FFT_X86

std::atomic<FftPath> g_path{FftPath::Auto};

}  // namespace

void SetFftPath(FftPath path) { g_path.store(path, std::memory_order_relaxed); }

bool FftPathAvailable(FftPath path)
{
#ifdef TARVO_FFT_X86
    if (path == FftPath::Avx2 || path == FftPath::Avx2Fused)
        return HaveAvx2();
#else
    if (path == FftPath::Avx2 || path == FftPath::Avx2Fused)
        return false;
#endif
    return true;
}

// n is a power of two; direction is 1 (forward) or -1 (inverse, scaled by
// 1/n). Only elements 1..n are read or written.
void CTarvoView::ComputeFFT(int direction, int n, float* re, float* im)
{
    // One point is its own transform; below that there is nothing to do.
    if (n < 2)
        return;

    const int stages = StageCount(n);
    if (n > kTableSize || (n & (n - 1)) != 0) {
        BitReverse(n, re, im);
        StagesDirect(n, stages, direction, re, im);
    } else {
        const Twiddles& t = Table();
        const double* ui = direction == -1 ? t.uiInverse : t.uiForward;
        const FftPath path = g_path.load(std::memory_order_relaxed);
        bool done = false;
#ifdef TARVO_FFT_X86
        if (n >= 8 && (path == FftPath::Auto || path == FftPath::Avx2Fused) && HaveAvx2()) {
            ReverseAndFirstStagesAvx2(n, t.perm + n - 1, re, im, t.ur, ui);
            LaterStagesAvx2(n, stages, re, im, t.ur, ui);
            done = true;
        } else if (n >= 8 && path == FftPath::Avx2 && HaveAvx2()) {
            BitReverseFromTable(t, stages, re, im);
            StagesAvx2(n, stages, re, im, t.ur, ui);
            done = true;
        }
#endif
        if (!done) {
            BitReverseFromTable(t, stages, re, im);
            StagesPortable(n, stages, re, im, t.ur, ui);
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
