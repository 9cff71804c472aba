// The chunk spectrum: the in-place transform (bit-exact against a plain
// transcription of its arithmetic, correct against a direct DFT, element 0
// and the tail left alone) and the peak refinement.
#include "form/TarvoView.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace {

using tarvo::CTarvoView;

// The transform's arithmetic written out step by step, with nothing tuned:
// 1-based arrays, k held as a real number in the bit reversal, a twiddle
// evaluated after every J (the last one included), double butterflies and
// float stores.
void ReferenceFFT(int direction, int n, float* re, float* im)
{
    const double pi = 3.141592653589793;
    const int m = static_cast<int>(std::floor(std::log(n + 1.0) / std::log(2.0) + 0.5));

    double j = 1;
    for (int i = 1; i <= n - 1; ++i) {
        const int ji = static_cast<int>(j);
        if (ji > i) {
            const float tr = re[ji];
            re[ji] = re[i];
            re[i] = tr;
            const float ti = im[ji];
            im[ji] = im[i];
            im[i] = ti;
        }
        double k = n / 2;
        while (j > k) {
            j = std::nearbyint(j - k);
            k = k / 2;
        }
        j = std::nearbyint(j + k);
    }

    for (int l = 1; l <= m; ++l) {
        int le = 1;
        for (int p = 0; p < l; ++p)
            le *= 2;
        const int le2 = le / 2;
        double ur = 1;
        double ui = 0;
        for (int jj = 1; jj <= le2; ++jj) {
            for (int i = jj; i <= n; i += le) {
                const int ip = i + le2;
                const double tr = static_cast<double>(re[ip]) * ur - static_cast<double>(im[ip]) * ui;
                const double ti = static_cast<double>(im[ip]) * ur + static_cast<double>(re[ip]) * ui;
                re[ip] = static_cast<float>(re[i] - tr);
                im[ip] = static_cast<float>(im[i] - ti);
                re[i] = static_cast<float>(re[i] + tr);
                im[i] = static_cast<float>(im[i] + ti);
            }
            ur = std::cos(jj * pi / le2);
            ui = -direction * std::sin(jj * pi / le2);
        }
    }

    if (direction == -1) {
        for (int i = 1; i <= n; ++i) {
            re[i] = static_cast<float>(re[i] / static_cast<double>(n));
            im[i] = static_cast<float>(im[i] / static_cast<double>(n));
        }
    }
}

constexpr int kArraySize = 2049;  // the view's work arrays
constexpr int kSizes[] = {256, 512, 1024, 2048};

// Random values spread over several binary orders of magnitude, so that the
// float roundings of the butterflies really happen.
void FillRandom(std::mt19937& gen, int n, std::vector<float>& re, std::vector<float>& im)
{
    std::uniform_real_distribution<float> mant(-1.0f, 1.0f);
    std::uniform_int_distribution<int> expo(-8, 8);
    for (int i = 1; i <= n; ++i) {
        re[i] = std::ldexp(mant(gen), expo(gen));
        im[i] = std::ldexp(mant(gen), expo(gen));
    }
}

// One chunk as the analysis commands lay it out: the time ramp n/fs in the
// real parts and (s - 128)/(N/2) in the imaginary parts.
void LayOutChunk(int n, unsigned fs, const std::vector<unsigned>& samples, std::vector<float>& re,
                 std::vector<float>& im)
{
    const int half = n / 2;
    for (int i = 1; i <= n; ++i) {
        re[i] = static_cast<float>(static_cast<double>(i) / fs);
        im[i] = static_cast<float>((static_cast<int>(samples[i - 1]) - 128) / static_cast<double>(half));
    }
    re[0] = 0;
}

std::uint32_t Bits(float f) { return std::bit_cast<std::uint32_t>(f); }

double Magnitude(const std::vector<float>& re, const std::vector<float>& im, int k)
{
    const double r = re[k];
    const double i = im[k];
    return std::sqrt(r * r + i * i);
}

// --- Bit-exactness ---------------------------------------------------------

TEST(ComputeFFT, MatchesTheReferenceArithmeticBitForBit)
{
    std::mt19937 gen(20240611);
    // From 4 up the rounded stage count is log2(n); n = 2 is checked below.
    for (int n = 4; n <= 2048; n *= 2) {
        for (int direction : {1, -1}) {
            for (int trial = 0; trial < 3; ++trial) {
                std::vector<float> re(kArraySize + 1, 0.0f), im(kArraySize + 1, 0.0f);
                FillRandom(gen, n, re, im);
                std::vector<float> wantRe = re, wantIm = im;

                CTarvoView::ComputeFFT(direction, n, re.data(), im.data());
                ReferenceFFT(direction, n, wantRe.data(), wantIm.data());

                int mismatches = 0;
                for (int i = 1; i <= n; ++i) {
                    if (Bits(re[i]) != Bits(wantRe[i]) || Bits(im[i]) != Bits(wantIm[i])) {
                        if (++mismatches <= 3)
                            ADD_FAILURE() << "n=" << n << " direction=" << direction << " element " << i
                                          << ": got (" << re[i] << ", " << im[i] << ") want (" << wantRe[i]
                                          << ", " << wantIm[i] << ")";
                    }
                }
                ASSERT_EQ(mismatches, 0) << "n=" << n << " direction=" << direction;
            }
        }
    }
}

TEST(ComputeFFT, MatchesTheReferenceBitForBitOnLaidOutChunks)
{
    std::mt19937 gen(7);
    std::uniform_int_distribution<unsigned> byte(0, 255);
    for (int n : kSizes) {
        std::vector<unsigned> samples(n);
        for (auto& s : samples)
            s = byte(gen);
        std::vector<float> re(kArraySize + 1), im(kArraySize + 1);
        LayOutChunk(n, 22050, samples, re, im);
        std::vector<float> wantRe = re, wantIm = im;

        CTarvoView::ComputeFFT(1, n, re.data(), im.data());
        ReferenceFFT(1, n, wantRe.data(), wantIm.data());
        for (int i = 1; i <= n; ++i) {
            ASSERT_EQ(Bits(re[i]), Bits(wantRe[i])) << "n=" << n << " element " << i;
            ASSERT_EQ(Bits(im[i]), Bits(wantIm[i])) << "n=" << n << " element " << i;
        }
    }
}

TEST(ComputeFFT, TwoPointsTakeOneStage)
{
    // The rounded stage count says 2 for n = 2; one stage of sums and
    // differences is the whole transform, with no element past 2 involved.
    std::mt19937 gen(17);
    for (int direction : {1, -1}) {
        std::vector<float> re(8, 0.0f), im(8, 0.0f);
        FillRandom(gen, 2, re, im);
        const double a = re[1], b = re[2], c = im[1], d = im[2];
        const double scale = direction == -1 ? 2.0 : 1.0;
        CTarvoView::ComputeFFT(direction, 2, re.data(), im.data());
        EXPECT_EQ(Bits(re[1]), Bits(static_cast<float>(static_cast<float>(a + b) / scale)));
        EXPECT_EQ(Bits(im[1]), Bits(static_cast<float>(static_cast<float>(c + d) / scale)));
        EXPECT_EQ(Bits(re[2]), Bits(static_cast<float>(static_cast<float>(a - b) / scale)));
        EXPECT_EQ(Bits(im[2]), Bits(static_cast<float>(static_cast<float>(c - d) / scale)));
    }
}

// --- Correctness of the transform -------------------------------------------

// Checks one direction against the direct sum in long double. The error of
// every element is measured against the RMS of the whole spectrum: float
// rounding of the inputs and of each stage's stores leaves a few units of
// 2^-24 per stage.
void CheckAgainstDirectDft(int direction, int n, std::mt19937& gen)
{
    std::vector<float> re(kArraySize + 1, 0.0f), im(kArraySize + 1, 0.0f);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int i = 1; i <= n; ++i) {
        re[i] = dist(gen);
        im[i] = dist(gen);
    }
    const std::vector<float> inRe = re, inIm = im;
    CTarvoView::ComputeFFT(direction, n, re.data(), im.data());

    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<long double> cosT(n), sinT(n);
    for (int t = 0; t < n; ++t) {
        cosT[t] = std::cos(2 * pi * t / n);
        sinT[t] = std::sin(2 * pi * t / n);
    }
    double sumSq = 0;
    double worst = 0;
    for (int k = 0; k < n; ++k) {
        long double sr = 0, si = 0;
        for (int m = 0; m < n; ++m) {
            const int t = static_cast<int>((static_cast<long long>(k) * m) % n);
            const long double c = cosT[t];
            const long double s = -direction * sinT[t];  // kernel e^(-direction*2*pi*i*k*m/n)
            sr += inRe[m + 1] * c - inIm[m + 1] * s;
            si += inIm[m + 1] * c + inRe[m + 1] * s;
        }
        if (direction == -1) {
            sr /= n;
            si /= n;
        }
        sumSq += static_cast<double>(sr * sr + si * si);
        const double err = std::hypot(static_cast<double>(re[k + 1] - sr), static_cast<double>(im[k + 1] - si));
        worst = std::max(worst, err);
    }
    const double rms = std::sqrt(sumSq / n);
    EXPECT_LT(worst / rms, 2e-6) << "n=" << n << " direction=" << direction;
}

TEST(ComputeFFT, AgreesWithDirectDftInBothDirections)
{
    std::mt19937 gen(99);
    for (int n : kSizes) {
        CheckAgainstDirectDft(1, n, gen);
        CheckAgainstDirectDft(-1, n, gen);
    }
}

TEST(ComputeFFT, ForwardThenInverseReturnsTheInput)
{
    std::mt19937 gen(5);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int n : kSizes) {
        std::vector<float> re(kArraySize + 1, 0.0f), im(kArraySize + 1, 0.0f);
        for (int i = 1; i <= n; ++i) {
            re[i] = dist(gen);
            im[i] = dist(gen);
        }
        const std::vector<float> inRe = re, inIm = im;
        CTarvoView::ComputeFFT(1, n, re.data(), im.data());
        CTarvoView::ComputeFFT(-1, n, re.data(), im.data());
        for (int i = 1; i <= n; ++i) {
            ASSERT_NEAR(re[i], inRe[i], 2e-6) << "n=" << n << " element " << i;
            ASSERT_NEAR(im[i], inIm[i], 2e-6) << "n=" << n << " element " << i;
        }
    }
}

TEST(ComputeFFT, UnitImpulseGivesAFlatSpectrum)
{
    for (int n : kSizes) {
        std::vector<float> re(kArraySize + 1, 0.0f), im(kArraySize + 1, 0.0f);
        re[1] = 1.0f;
        CTarvoView::ComputeFFT(1, n, re.data(), im.data());
        for (int k = 1; k <= n; ++k) {
            ASSERT_EQ(re[k], 1.0f) << "n=" << n << " element " << k;
            ASSERT_EQ(im[k], 0.0f) << "n=" << n << " element " << k;
        }
    }
}

// --- What lies outside elements 1..n -----------------------------------------

TEST(ComputeFFT, LeavesElementZeroAndTheTailAlone)
{
    const float sentinel0 = 12345.678f;
    const float sentinelTail = -98765.4f;
    std::mt19937 gen(3);
    for (int n = 2; n <= 2048; n *= 2) {
        for (int direction : {1, -1}) {
            // Room past element n, whatever n is, all filled with a sentinel.
            std::vector<float> re(n + 9, sentinelTail), im(n + 9, sentinelTail);
            re[0] = sentinel0;
            im[0] = -sentinel0;
            FillRandom(gen, n, re, im);
            CTarvoView::ComputeFFT(direction, n, re.data(), im.data());
            EXPECT_EQ(Bits(re[0]), Bits(sentinel0)) << "n=" << n;
            EXPECT_EQ(Bits(im[0]), Bits(-sentinel0)) << "n=" << n;
            for (int i = n + 1; i < n + 9; ++i) {
                ASSERT_EQ(Bits(re[i]), Bits(sentinelTail)) << "n=" << n << " element " << i;
                ASSERT_EQ(Bits(im[i]), Bits(sentinelTail)) << "n=" << n << " element " << i;
            }
        }
    }
}

TEST(ComputeFFT, NeverReadsElementZero)
{
    // A NaN in element 0 would spread through any butterfly that read it.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::mt19937 gen(11);
    for (int n : kSizes) {
        std::vector<float> re(kArraySize + 1, 0.0f), im(kArraySize + 1, 0.0f);
        FillRandom(gen, n, re, im);
        std::vector<float> re2 = re, im2 = im;
        re[0] = 0.0f;
        im[0] = 0.0f;
        re2[0] = nan;
        im2[0] = nan;
        CTarvoView::ComputeFFT(1, n, re.data(), im.data());
        CTarvoView::ComputeFFT(1, n, re2.data(), im2.data());
        for (int i = 1; i <= n; ++i) {
            ASSERT_EQ(Bits(re[i]), Bits(re2[i])) << "n=" << n << " element " << i;
            ASSERT_EQ(Bits(im[i]), Bits(im2[i])) << "n=" << n << " element " << i;
        }
    }
}

// --- A tone laid out as the analysis commands do -----------------------------

TEST(ComputeFFT, SineOnBinTwentyPeaksAtElement21AndItsMirror)
{
    const int n = 256;
    const unsigned fs = 22050;
    const double twoPi = 2 * 3.141592653589793;
    std::vector<unsigned> samples(n);
    for (int i = 0; i < n; ++i) {
        // 20 whole periods in the chunk: 20 * 22050 / 256 Hz at 22050 samples/s.
        const double v = 128.0 + 100.0 * std::sin(twoPi * 20.0 * i / n);
        samples[i] = static_cast<unsigned>(std::lround(v));
    }
    std::vector<float> re(kArraySize + 1), im(kArraySize + 1);
    LayOutChunk(n, fs, samples, re, im);
    CTarvoView::ComputeFFT(1, n, re.data(), im.data());

    int best = 2;
    double bestMag = Magnitude(re, im, 2);
    double runnerUp = 0;
    for (int k = 3; k <= 128; ++k) {
        const double m = Magnitude(re, im, k);
        if (m > bestMag) {
            runnerUp = bestMag;
            bestMag = m;
            best = k;
        } else if (m > runnerUp) {
            runnerUp = m;
        }
    }
    EXPECT_EQ(best, 21);
    EXPECT_NEAR(bestMag, 100.0, 0.5);
    EXPECT_LT(runnerUp, 1.0);  // nothing else in the lower half comes close

    const double mirror = Magnitude(re, im, 237);
    EXPECT_NEAR(mirror, bestMag, 0.1);
}

// --- Peak refinement ------------------------------------------------------------

TEST(InterpolatePeak, MovesByTheFullQuotientTowardTheLargerNeighbour)
{
    EXPECT_EQ(CTarvoView::InterpolatePeak(10, 20, 10, 1000, 50), 1000.0);  // equal neighbours
    EXPECT_EQ(CTarvoView::InterpolatePeak(10, 20, 20, 1000, 50), 1050.0);  // right equals the peak
    EXPECT_EQ(CTarvoView::InterpolatePeak(20, 20, 10, 1000, 50), 950.0);   // left equals the peak
    EXPECT_EQ(CTarvoView::InterpolatePeak(0, 20, 10, 1000, 50), 1025.0);   // not the half quotient
}

TEST(InterpolatePeak, PeakEqualToTheSmallerNeighbourIsNotTrapped)
{
    const double inf = CTarvoView::InterpolatePeak(5, 5, 8, 1000, 50);
    EXPECT_TRUE(std::isinf(inf) && inf > 0) << inf;
    // All three equal: zero over zero.
    EXPECT_TRUE(std::isnan(CTarvoView::InterpolatePeak(5, 5, 5, 1000, 50)));
}

}  // namespace
