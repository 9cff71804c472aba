#include "meter/Demodulator.h"

#include "meter/Dsp.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarvo::meter {

namespace {

constexpr double kTrackRate = 2000;   // aimed-at rate of the frequency track
constexpr double kPassHz = 250;       // the tone's sidebands that must pass untouched
constexpr double kStopDb = 80;
constexpr size_t kLanes = 8;  // the taps are padded to a multiple of it (see ComplexDots)

// atan(t) for |t| <= 1/8: the series to the ninth term leaves less than
// 1e-17 of the angle, as close as atan2 and several times faster.
inline double AtanSmall(double t)
{
    constexpr double c[] = {1.0, -1.0 / 3, 1.0 / 5, -1.0 / 7, 1.0 / 9, -1.0 / 11, 1.0 / 13, -1.0 / 15, 1.0 / 17};
    const double t2 = t * t;
    double sum = c[8];
    for (int k = 7; k >= 0; --k)
        sum = c[k] + t2 * sum;
    return t * sum;
}

inline bool IsSmall(double y, double x) { return x > 0 && std::abs(y) <= 0.125 * x; }

}  // namespace

// x / 32768 into w, and the sum of the squares of x (a second build for
// processors with AVX2, chosen when loaded).
static __attribute__((target_clones("avx2", "default"))) int64_t ScaleShorts(const int16_t* x, size_t n, float* w)
{
    for (size_t i = 0; i < n; ++i)
        w[i] = static_cast<float>(x[i]) * (1.0f / 32768);
    int64_t squares = 0;
    for (size_t i = 0; i < n; ++i)
        squares += static_cast<int32_t>(x[i]) * x[i];
    return squares;
}

double SmallAngle(double y, double x) { return IsSmall(y, x) ? AtanSmall(y / x) : std::atan2(y, x); }

Demodulator::Demodulator(double rate, double carrierHz) : rate_(rate), carrier_(carrierHz)
{
    decimation_ = std::max(1, static_cast<int>(std::lround(rate / kTrackRate)));
    outRate_ = rate / decimation_;
    // Passed: the band the meter reads (200 Hz, or a quarter of a low
    // carrier) with a quarter to spare. Stopped: whatever would fold into
    // the passband after decimation, and the tone's own image, its
    // harmonics and any offset, which land at multiples of the carrier
    // after mixing (the image at -2 fc, mirrored at the sample rate), each
    // with the band's sidebands.
    const double band = std::min(kPassHz / 1.25, carrierHz / 4);
    const double pass = 1.25 * band;
    const double image = std::min(2 * carrierHz, rate - 2 * carrierHz);
    const double stop = std::max(std::min({outRate_ - pass, carrierHz - band, image - band}), pass + 10);
    const std::vector<double> h = KaiserLowPass((pass + stop) / 2, stop - pass, kStopDb, rate);
    taps_ = h.size();
    for (double v : h)
        noiseGain_ += v * v;
    padded_ = (taps_ + kLanes - 1) / kLanes * kLanes;
    tapsRe_.assign(padded_, 0.f);
    tapsIm_.assign(padded_, 0.f);
    // u[m] = sum h[k] e^{jwk} x[mD-k]; the mixed signal is e^{-jwmD} u[m].
    const double w = 2 * std::numbers::pi * carrierHz / rate;
    for (size_t k = 0; k < taps_; ++k) {
        const size_t j = padded_ - 1 - k;
        tapsRe_[j] = static_cast<float>(h[k] * std::cos(w * static_cast<double>(k)));
        tapsIm_[j] = static_cast<float>(h[k] * std::sin(w * static_cast<double>(k)));
    }
    stepPhase_ = std::remainder(w * decimation_, 2 * std::numbers::pi);
    stepCos_ = std::cos(stepPhase_);
    stepSin_ = std::sin(stepPhase_);
    window_.assign(padded_ - 1, 0.f);
    used_ = padded_ - 1;
    next_ = padded_ - 1 + (taps_ - 1);  // the first output with every tap on real samples
}

float* Demodulator::Grow(size_t n)
{
    // The storage only grows (and is filled with zeros) when a larger block
    // than before comes.
    const size_t old = used_;
    if (window_.size() < old + n)
        window_.resize(old + n);
    used_ = old + n;
    return window_.data() + old;
}

void Demodulator::Push(const float* x, size_t n, size_t stride, std::vector<Sample>& out)
{
    float* w = Grow(n);
    if (stride == 1)
        std::copy(x, x + n, w);
    else
        for (size_t i = 0; i < n; ++i)
            w[i] = x[i * stride];
    double power = 0;  // double: a float tone of amplitude 1e19 squares past float's range
    for (size_t i = 0; i < n; ++i)
        power += static_cast<double>(w[i]) * w[i];
    Demodulate(n, power, out);
}

void Demodulator::Push(const int16_t* x, size_t n, size_t stride, std::vector<Sample>& out)
{
    constexpr float kScale = 1.0f / 32768;
    float* w = Grow(n);
    // The sum of the squares in integers: (x / 32768)^2 and every partial
    // sum of a block are exact in double, so this is the very sum the
    // floats give, in a fraction of the time.
    int64_t squares = 0;
    if (stride == 1) {
        squares = ScaleShorts(x, n, w);
    } else {
        for (size_t i = 0; i < n; ++i) {
            const int32_t v = x[i * stride];
            w[i] = static_cast<float>(v) * kScale;
            squares += v * v;
        }
    }
    Demodulate(n, std::ldexp(static_cast<double>(squares), -30), out);
}

void Demodulator::Demodulate(size_t n, double power, std::vector<Sample>& out)
{
    inputPower_ += power;
    inputCount_ += n;

    // The mixed-down outputs first, then their phase advances in a second
    // loop the compiler can run several lanes at a time.
    const float* tr = tapsRe_.data();
    const float* ti = tapsIm_.data();
    mixed_.clear();
    if (havePrev_)
        mixed_.push_back({prevRe_, prevIm_});
    const size_t step = static_cast<size_t>(decimation_);
    const size_t count = next_ < used_ ? (used_ - next_ + step - 1) / step : 0;
    dotsRe_.resize(count);
    dotsIm_.resize(count);
    ComplexDots(tr, ti, padded_, window_.data() + next_ + 1 - padded_, step, count, dotsRe_.data(), dotsIm_.data());
    next_ += count * step;
    for (size_t k = 0; k < count; ++k)
        mixed_.push_back({dotsRe_[k], dotsIm_[k]});
    if (mixed_.empty())
        return Keep();
    const size_t m = mixed_.size() - 1;
    angles_.resize(m);
    // arg(u[k] conj u[k-1]) less the carrier's own advance: the product
    // turned back by that advance, whose angle is small.
    ys_.resize(m);
    xs_.resize(m);
    for (size_t k = 0; k < m; ++k) {
        const double pr = mixed_[k].re, pi = mixed_[k].im, re = mixed_[k + 1].re, im = mixed_[k + 1].im;
        const double dot = re * pr + im * pi, cross = im * pr - re * pi;
        ys_[k] = cross * stepCos_ - dot * stepSin_;
        xs_[k] = dot * stepCos_ + cross * stepSin_;
        angles_[k] = AtanSmall(ys_[k] / xs_[k]);
    }
    // The few that are not small (noise, a dropout) by atan2.
    for (size_t k = 0; k < m; ++k)
        if (!IsSmall(ys_[k], xs_[k]))
            angles_[k] = std::atan2(ys_[k], xs_[k]);
    const double toHz = outRate_ / (2 * std::numbers::pi);
    for (size_t k = 0; k < m; ++k) {
        const double re = mixed_[k + 1].re, im = mixed_[k + 1].im;
        out.push_back({carrier_ + angles_[k] * toHz, re * re + im * im});
    }
    prevRe_ = mixed_.back().re;
    prevIm_ = mixed_.back().im;
    havePrev_ = true;
    Keep();
}

void Demodulator::Keep()
{
    // Keep the samples the next outputs still reach back to.
    const size_t keep = padded_ - 1;
    const size_t drop = used_ - keep;
    std::copy(window_.begin() + static_cast<std::ptrdiff_t>(drop), window_.begin() + static_cast<std::ptrdiff_t>(used_),
              window_.begin());
    used_ = keep;
    next_ -= drop;
}

}  // namespace tarvo::meter
