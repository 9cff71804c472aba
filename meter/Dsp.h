// Signal-processing building blocks of the meter: second-order sections,
// filter designs by bilinear transform, a Kaiser-windowed low-pass and a
// radix-2 transform. Plain standard C++.
#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace tarvo::meter {

// One second-order section, transposed direct form II, in double precision:
// y = (b0 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2) x.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double s1 = 0, s2 = 0;

    double Process(double x)
    {
        const double y = b0 * x + s1;
        s1 = b1 * x - a1 * y + s2;
        s2 = b2 * x - a2 * y;
        return y;
    }
    double DcGain() const { return (b0 + b1 + b2) / (1 + a1 + a2); }
    // The state a section reaches after a long steady input x.
    void SettleOn(double x);
    std::complex<double> Response(double hz, double rate) const;
};

// A cascade of sections.
class Cascade {
public:
    Cascade() = default;
    explicit Cascade(std::vector<Biquad> sections) : sections_(std::move(sections)) {}

    double Process(double x)
    {
        for (Biquad& s : sections_)
            x = s.Process(x);
        return x;
    }
    // Starts at rest on a steady input x, so that the first samples cause no
    // start-up transient.
    void SettleOn(double x);
    std::complex<double> Response(double hz, double rate) const;
    void Scale(double gain);
    const std::vector<Biquad>& Sections() const { return sections_; }

private:
    std::vector<Biquad> sections_;
};

// Four cascades in the four lanes of one vector, the same sums in the same
// order as each alone (so the same results to the bit): the first two take
// the input, the last two the second one's output kLag points later. Each
// point then costs one pass through the longest cascade, and the points
// overlap each other (nothing waits on the point just before). The shorter
// cascades are padded with sections that pass their input unchanged.
class FilterChain {
public:
    static constexpr size_t kLag = 64;
    FilterChain() = default;
    // Takes the cascades' coefficients and present state.
    FilterChain(const Cascade& a, const Cascade& b, const Cascade& c, const Cascade& d);

    // Runs n points. outA[i], outB[i]: the first two cascades' outputs for
    // x[i]; outC[i], outD[i]: the last two's for the point kLag before it
    // (nothing while Points() - n + i < kLag).
    void Run(const double* x, size_t n, double* outA, double* outB, double* outC, double* outD);
    // The last two cascades' outputs for the last min(kLag, Points())
    // points, oldest first, worked out on a copy of the state, so that the
    // chain goes on as if not asked. Returns how many.
    size_t Flush(double* outC, double* outD) const;
    int64_t Points() const { return count_; }

    // Aligned as a double only: a vector's storage need not be aligned more.
    using Lanes = double __attribute__((vector_size(32), aligned(8)));
    struct Section {
        Lanes b0, b1, b2, a1, a2, s1, s2;
    };

private:
    std::vector<Section> sections_;
    std::vector<double> fifo_;  // the second cascade's last kLag outputs, by point number modulo kLag
    int64_t count_ = 0;
    bool avx_ = false;
};

// The dot products of two rows of n taps (n a multiple of 8) with `count`
// runs of samples, the k-th starting at s + k * step: re[k] = sum tr[j]
// s[k step + j], im[k] likewise with ti. Each sum is taken in eight lanes
// (lane l the taps l, l + 8, ...) and the lanes then added in one fixed
// order, so that every processor gives the same sums; four runs go side by
// side, sharing the taps and not waiting on each other's additions.
void ComplexDots(const float* tr, const float* ti, size_t n, const float* s, size_t step, size_t count, float* re,
                 float* im);

// Whether limit > factor * m, m the median of the na values a and the nb
// values b taken together (the one at half their count, sorted; false when
// there are none). The test is monotone in m, so it holds exactly when more
// than half of the values pass it: a count, with no sort.
bool OverMedian(const double* a, size_t na, const double* b, size_t nb, double limit, double factor);

// An analogue prototype as real poles and zeros (in rad/s, negative real
// parts) and complex pairs, turned into sections by the bilinear transform.
struct AnaloguePrototype {
    std::vector<std::complex<double>> zeros;  // a zero with an imaginary part stands for its pair too
    std::vector<std::complex<double>> poles;  // likewise; no more zeros than poles
};

// Sections of the prototype at the sample rate, scaled to unit magnitude at
// normHz.
Cascade Bilinear(const AnaloguePrototype& proto, double rate, double normHz);

// Butterworth designs by bilinear transform with the corner pre-warped.
Cascade ButterworthLowPass(int order, double cornerHz, double rate);
Cascade ButterworthHighPass(int order, double cornerHz, double rate);

// A Chebyshev (type I) low-pass: unit gain at 0 Hz, rippling within a
// factor edgeGain of it up to edgeHz (above it for an even order, below for
// an odd one), falling steeply beyond.
Cascade ChebyshevLowPass(int order, double edgeHz, double edgeGain, double rate);

// A linear-phase low-pass of odd length: the ideal cut at cutoffHz under a
// Kaiser window whose length meets a transition of widthHz and the given
// stop-band attenuation.
std::vector<double> KaiserLowPass(double cutoffHz, double widthHz, double attenuationDb, double rate);

// In-place radix-2 transform of a power-of-two length (forward, unscaled).
void Fft(std::vector<std::complex<double>>& data);

// The same transform with its twiddle factors and bit reversal computed
// once, for repeated transforms of one length.
class FftPlan {
public:
    explicit FftPlan(size_t n);
    size_t Size() const { return n_; }
    void Forward(std::vector<std::complex<double>>& data) const;

private:
    size_t n_;
    std::vector<std::complex<double>> twiddle_;  // e^{-2 pi i k / n}, k < n/2
    std::vector<size_t> reversed_;
    // Each stage's twiddle factors in a run of their own, real and
    // imaginary parts apart: the stage of length L (half h = L/2) has
    // e^{-2 pi i k / L}, k < h, from h - 1 on.
    std::vector<double> stageRe_, stageIm_;
};

// The transform of n real values (n a power of two, at least 4) through one
// complex transform of half the length: the even values as real parts, the
// odd as imaginary, the halves then parted and joined. Gives bins 0 to n/2.
class RealFftPlan {
public:
    explicit RealFftPlan(size_t n);
    size_t Size() const { return n_; }
    // x: n values; out: resized to n/2 + 1 bins.
    void Forward(const double* x, std::vector<std::complex<double>>& out) const;

private:
    size_t n_;
    FftPlan half_;
    std::vector<std::complex<double>> twiddle_;  // e^{-2 pi i k / n}, k <= n/2
};

// The transforms of two real sequences of the plan's length at once, as the
// real and imaginary parts of one complex transform: bins 0 to n/2 of each.
void TransformPair(const FftPlan& plan, const double* a, const double* b, std::vector<std::complex<double>>& work,
                   std::vector<std::complex<double>>& outA, std::vector<std::complex<double>>& outB);

// The Hann window of length n (periodic form, for spectra).
std::vector<double> HannWindow(size_t n);

// The plans and window of length n, made once and then shared by every
// thread of the process (their tables are only read): a batch of short
// files would otherwise spend much of its time making the same tables.
const FftPlan& SharedFftPlan(size_t n);
const RealFftPlan& SharedRealFftPlan(size_t n);
const std::vector<double>& SharedHannWindow(size_t n);

}  // namespace tarvo::meter
