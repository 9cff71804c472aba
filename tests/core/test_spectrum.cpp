// The chunk spectrum: the in-place transform (bit-exact against a plain
// transcription of its arithmetic, correct against a direct DFT, element 0
// and the tail left alone) and the peak refinement.
#include "analysis/FftKernels.h"
#include "form/TarvoView.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <random>
#include <utility>
#include <vector>

namespace {

using tarvo::CTarvoView;
using Floats = std::vector<float>;

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
        if (ji > i)
            std::swap(re[ji], re[i]), std::swap(im[ji], im[i]);
        double k = n / 2;
        while (j > k) {
            j = std::nearbyint(j - k);
            k = k / 2;
        }
        j = std::nearbyint(j + k);
    }
    for (int l = 1; l <= m; ++l) {
        const int le = 1 << l, le2 = le / 2;
        double ur = 1, ui = 0;
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
    for (int i = 1; direction == -1 && i <= n; ++i) {
        re[i] = static_cast<float>(re[i] / static_cast<double>(n));
        im[i] = static_cast<float>(im[i] / static_cast<double>(n));
    }
}

constexpr int kSizes[] = {256, 512, 1024, 2048};

std::uint32_t Bits(float f) { return std::bit_cast<std::uint32_t>(f); }

// One chunk as the analysis commands lay it out: the time ramp i/fs in the
// real parts and (s - 128)/(N/2) in the imaginary parts.
void LayOutChunk(int n, Floats& re, Floats& im, auto sample)
{
    for (int i = 1; i <= n; ++i) {
        re[i] = static_cast<float>(static_cast<double>(i) / 22050);
        im[i] = static_cast<float>((static_cast<int>(sample(i - 1)) - 128) / static_cast<double>(n / 2));
    }
}

// Every butterfly path this processor can run, each checked on its own.
class ComputeFFTPath : public ::testing::TestWithParam<tarvo::FftPath> {
protected:
    void SetUp() override
    {
        if (!tarvo::FftPathAvailable(GetParam()))
            GTEST_SKIP() << "this processor lacks the instructions";
        tarvo::SetFftPath(GetParam());
    }
    void TearDown() override { tarvo::SetFftPath(tarvo::FftPath::Auto); }
};
INSTANTIATE_TEST_SUITE_P(Paths, ComputeFFTPath,
                         ::testing::Values(tarvo::FftPath::Auto, tarvo::FftPath::Portable, tarvo::FftPath::Avx2,
                                           tarvo::FftPath::Avx2Fused),
                         [](const auto& info) {
                             return std::string(info.param == tarvo::FftPath::Auto       ? "Auto"
                                                : info.param == tarvo::FftPath::Portable ? "Portable"
                                                : info.param == tarvo::FftPath::Avx2     ? "Avx2"
                                                                                          : "Avx2Fused");
                         });

TEST_P(ComputeFFTPath, MatchesTheReferenceBitForBitAndLeavesElementZeroAndTheTailAlone)
{
    // From 4 up the rounded stage count is log2(n). NaNs outside 1..n would
    // spread through any butterfly that read them, and must stay unwritten.
    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::mt19937 gen(20240611);
    std::uniform_int_distribution<unsigned> byte(0, 255);
    std::uniform_real_distribution<float> mant(-1.0f, 1.0f);
    std::uniform_int_distribution<int> expo(-8, 8);
    for (int n = 4; n <= 2048; n *= 2)
        for (int direction : {1, -1})
            for (int trial = 0; trial < 5; ++trial) {
                Floats re(n + 9, nan), im(n + 9, nan);
                if (trial == 0)  // a laid-out chunk of random bytes
                    LayOutChunk(n, re, im, [&](int) { return byte(gen); });
                else if (trial == 4)  // zeros of random signs: the sign of every zero must agree too
                    for (int i = 1; i <= n; ++i)
                        re[i] = byte(gen) & 1 ? 0.0f : -0.0f, im[i] = byte(gen) & 1 ? 0.0f : -0.0f;
                else  // values over several binary orders of magnitude, so that float roundings happen
                    for (int i = 1; i <= n; ++i)
                        re[i] = std::ldexp(mant(gen), expo(gen)), im[i] = std::ldexp(mant(gen), expo(gen));
                Floats wantRe = re, wantIm = im;
                CTarvoView::ComputeFFT(direction, n, re.data(), im.data());
                ReferenceFFT(direction, n, wantRe.data(), wantIm.data());
                for (int i = 0; i < n + 9; ++i)
                    ASSERT_TRUE(Bits(re[i]) == Bits(wantRe[i]) && Bits(im[i]) == Bits(wantIm[i]))
                        << "n=" << n << " direction=" << direction << " trial " << trial << " element " << i
                        << ": got " << re[i] << ", " << im[i] << " want " << wantRe[i] << ", " << wantIm[i];
            }
}

TEST(ComputeFFT, AgreesWithDirectDftRoundTripsAndFlattensAnImpulse)
{
    // Each element's error against the long-double sum, relative to the RMS
    // of the whole spectrum: a few units of 2^-24 per stage.
    const long double pi = std::numbers::pi_v<long double>;
    std::mt19937 gen(99);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int n : kSizes) {
        Floats re(n + 1), im(n + 1);
        std::vector<long double> cosT(n), sinT(n);
        for (int i = 1; i <= n; ++i)
            re[i] = dist(gen), im[i] = dist(gen);
        for (int t = 0; t < n; ++t)
            cosT[t] = std::cos(2 * pi * t / n), sinT[t] = std::sin(2 * pi * t / n);
        const Floats inRe = re, inIm = im;
        for (int direction : {1, -1}) {  // the inverse takes the forward's output
            const Floats xRe = re, xIm = im;
            CTarvoView::ComputeFFT(direction, n, re.data(), im.data());
            double sumSq = 0, worst = 0;
            for (int k = 0; k < n; ++k) {
                long double sr = 0, si = 0;
                for (int m = 0; m < n; ++m) {  // kernel e^(-direction*2*pi*i*k*m/n)
                    const long double c = cosT[(k * m) % n], s = -direction * sinT[(k * m) % n];
                    sr += xRe[m + 1] * c - xIm[m + 1] * s;
                    si += xIm[m + 1] * c + xRe[m + 1] * s;
                }
                if (direction == -1)
                    sr /= n, si /= n;
                sumSq += static_cast<double>(sr * sr + si * si);
                worst = std::max(worst, std::hypot(static_cast<double>(re[k + 1] - sr),
                                                   static_cast<double>(im[k + 1] - si)));
            }
            EXPECT_LT(worst / std::sqrt(sumSq / n), 2e-6) << "n=" << n << " direction=" << direction;
        }
        Floats oneRe(n + 1, 0.0f), oneIm(n + 1, 0.0f);  // a unit impulse: exactly flat
        oneRe[1] = 1.0f;
        CTarvoView::ComputeFFT(1, n, oneRe.data(), oneIm.data());
        for (int i = 1; i <= n; ++i) {
            ASSERT_NEAR(re[i], inRe[i], 2e-6) << "n=" << n << " element " << i;
            ASSERT_NEAR(im[i], inIm[i], 2e-6) << "n=" << n << " element " << i;
            ASSERT_TRUE(oneRe[i] == 1.0f && oneIm[i] == 0.0f) << "impulse, n=" << n << " element " << i;
        }
    }
}

TEST(ComputeFFT, SineOnBinTwentyPeaksAtElement21AndItsMirror)
{
    // 20 whole periods in a chunk of 256 samples at 22050 samples/s.
    const int n = 256;
    Floats re(n + 1), im(n + 1);
    LayOutChunk(n, re, im, [](int i) { return std::lround(128 + 100 * std::sin(2 * std::numbers::pi * 20 * i / n)); });
    CTarvoView::ComputeFFT(1, n, re.data(), im.data());
    auto mag = [&](int k) { return std::hypot(double{re[k]}, double{im[k]}); };
    EXPECT_NEAR(mag(21), 100.0, 0.5);
    for (int k = 2; k <= 128; ++k)  // nothing else in the lower half comes close
        EXPECT_TRUE(k == 21 || mag(k) < 1.0) << k << ": " << mag(k);
    EXPECT_NEAR(mag(237), mag(21), 0.1);
}

TEST(InterpolatePeak, MovesByTheFullQuotientTowardTheLargerNeighbour)
{
    EXPECT_EQ(CTarvoView::InterpolatePeak(10, 20, 10, 1000, 50), 1000.0);  // equal neighbours
    EXPECT_EQ(CTarvoView::InterpolatePeak(10, 20, 20, 1000, 50), 1050.0);  // right equals the peak
    EXPECT_EQ(CTarvoView::InterpolatePeak(20, 20, 10, 1000, 50), 950.0);   // left equals the peak
    EXPECT_EQ(CTarvoView::InterpolatePeak(0, 20, 10, 1000, 50), 1025.0);   // not the half quotient
    // A peak equal to the smaller neighbour is not trapped; all three equal: 0/0.
    EXPECT_EQ(CTarvoView::InterpolatePeak(5, 5, 8, 1000, 50), std::numeric_limits<double>::infinity());
    EXPECT_TRUE(std::isnan(CTarvoView::InterpolatePeak(5, 5, 5, 1000, 50)));
}

}  // namespace
