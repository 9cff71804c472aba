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
constexpr size_t kLanes = 8;  // the taps are padded to a multiple of it

}  // namespace

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
    window_.assign(padded_ - 1, 0.f);
    next_ = padded_ - 1 + (taps_ - 1);  // the first output with every tap on real samples
}

void Demodulator::Push(const float* x, size_t n, size_t stride, std::vector<Sample>& out)
{
    const size_t old = window_.size();
    window_.resize(old + n);
    float* w = window_.data() + old;
    for (size_t i = 0; i < n; ++i)
        w[i] = x[i * stride];
    double power = 0;  // double: a float tone of amplitude 1e19 squares past float's range
    for (size_t i = 0; i < n; ++i)
        power += static_cast<double>(w[i]) * w[i];
    inputPower_ += power;
    inputCount_ += n;

    const float* tr = tapsRe_.data();
    const float* ti = tapsIm_.data();
    for (; next_ < window_.size(); next_ += static_cast<size_t>(decimation_)) {
        const float* s = window_.data() + next_ + 1 - padded_;
        // Built with reassociation allowed (see CMakeLists.txt), so that
        // the two sums vectorise.
        float sumRe = 0, sumIm = 0;
        for (size_t j = 0; j < padded_; ++j) {
            sumRe += tr[j] * s[j];
            sumIm += ti[j] * s[j];
        }
        const double re = sumRe, im = sumIm;
        if (havePrev_) {
            // arg(u[m] conj u[m-1]) less the carrier's own advance.
            double dphi = std::atan2(im * prevRe_ - re * prevIm_, re * prevRe_ + im * prevIm_) - stepPhase_;
            if (dphi > std::numbers::pi)
                dphi -= 2 * std::numbers::pi;
            else if (dphi < -std::numbers::pi)
                dphi += 2 * std::numbers::pi;
            out.push_back({carrier_ + dphi * outRate_ / (2 * std::numbers::pi), re * re + im * im});
        }
        prevRe_ = re;
        prevIm_ = im;
        havePrev_ = true;
    }
    // Keep the samples the next outputs still reach back to.
    const size_t keep = padded_ - 1;
    const size_t drop = window_.size() - keep;
    std::copy(window_.end() - static_cast<std::ptrdiff_t>(keep), window_.end(), window_.begin());
    window_.resize(keep);
    next_ -= drop;
}

}  // namespace tarvo::meter
