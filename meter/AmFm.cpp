#include "meter/AmFm.h"

#include <algorithm>
#include <cmath>

namespace tarvo::meter {

namespace {

constexpr double kRate = 1000;           // aimed-at rate of the tracks compared
constexpr double kSettleSeconds = 1.0;   // as the meter's statistics
constexpr double kLongestSegment = 8.0;  // seconds: about 0.12 Hz resolution
constexpr double kSegmentsWanted = 6;    // at half overlap, so that the coherence means something
constexpr int kLobe = 2;                 // bins each side of a line (the Hann window's main lobe)
// AM under this many times what the noise alone reads has no coherence:
// noise's AM reading over the lobe, a chi-squared of about five degrees of
// freedom even from one segment, exceeds 3 times its rms level (9 times
// in power) less than once in a million.
constexpr double kAmOverNoise = 3;

}  // namespace

AmFmAnalyser::AmFmAnalyser(double trackRate, double seconds)
{
    step_ = std::max(1, static_cast<int>(std::lround(trackRate / kRate)));
    rate_ = trackRate / step_;
    skip_ = static_cast<int64_t>(kSettleSeconds * trackRate);
    const double usable = std::max(0.0, seconds - kSettleSeconds) * rate_;
    size_t len = 64;
    while (static_cast<double>(len * 2) * (kSegmentsWanted + 1) / 2 <= usable &&
           static_cast<double>(len * 2) <= kLongestSegment * rate_)
        len *= 2;
    length_ = len;
    plan_ = &SharedFftPlan(len);
    hann_ = SharedHannWindow(len);
    bufHz_.reserve(len);
    bufLevel_.reserve(len);
    powHz_.assign(len / 2 + 1, 0.0);
    powLevel_.assign(len / 2 + 1, 0.0);
    cross_.assign(len / 2 + 1, 0.0);
}

void AmFmAnalyser::Add(double hz, double power)
{
    if (n_++ < skip_)
        return;
    accHz_ += hz;
    accLevel_ += std::sqrt(std::max(0.0, power));
    if (++acc_ < step_)
        return;
    const double level = accLevel_ / acc_;
    bufHz_.push_back(accHz_ / acc_);
    bufLevel_.push_back(level);
    sumLevel_ += level;
    ++levels_;
    accHz_ = accLevel_ = 0;
    acc_ = 0;
    if (bufHz_.size() == length_)
        Fold();
}

void AmFmAnalyser::Fold()
{
    // Both tracks less their means, under the window, in one transform.
    auto windowed = [this](const std::vector<double>& v, std::vector<double>& out) {
        double mean = 0;
        for (double x : v)
            mean += x;
        mean /= static_cast<double>(v.size());
        out.resize(length_);
        for (size_t i = 0; i < length_; ++i)
            out[i] = (v[i] - mean) * hann_[i];
    };
    windowed(bufHz_, winHz_);
    windowed(bufLevel_, winLevel_);
    TransformPair(*plan_, winHz_.data(), winLevel_.data(), work_, specHz_, specLevel_);
    for (size_t k = 0; k < powHz_.size(); ++k) {
        powHz_[k] += std::norm(specHz_[k]);
        powLevel_[k] += std::norm(specLevel_[k]);
        cross_[k] += specLevel_[k] * std::conj(specHz_[k]);
    }
    ++segments_;
    const auto half = static_cast<std::ptrdiff_t>(length_ / 2);
    bufHz_.erase(bufHz_.begin(), bufHz_.begin() + half);
    bufLevel_.erase(bufLevel_.begin(), bufLevel_.begin() + half);
}

void AmFmAnalyser::Annotate(std::vector<ModulationLine>& lines, double n0OverP) const
{
    if (segments_ == 0 || levels_ == 0)
        return;
    double w2 = 0;
    for (double v : hann_)
        w2 += v * v;
    const double norm = static_cast<double>(segments_) * static_cast<double>(length_) * w2 / 4;
    const double meanLevel = sumLevel_ / static_cast<double>(levels_);
    const double bin = BinHz();
    // Additive noise of one-sided density N0 on a tone of power P moves its
    // relative amplitude with the one-sided density N0 / P; over the lobe's
    // width B (2 kLobe + 1 bins) a line of it reads a peak of
    // sqrt(2 (N0 / P) B).
    const double noiseAm = std::sqrt(2 * std::max(0.0, n0OverP) * (2 * kLobe + 1) * bin);
    const long last = static_cast<long>(powHz_.size()) - 1;
    for (ModulationLine& m : lines) {
        const long k = std::lround(m.hz / bin);
        if (k < 1 || k > last)
            continue;
        double sf = 0, sa = 0;
        std::complex<double> sx = 0;
        for (long j = std::max(1L, k - kLobe); j <= std::min(last, k + kLobe); ++j) {
            sf += powHz_[static_cast<size_t>(j)];
            sa += powLevel_[static_cast<size_t>(j)];
            sx += cross_[static_cast<size_t>(j)];
        }
        const double am = meanLevel > 0 ? std::sqrt(sa / norm) / meanLevel : 0;
        m.amPercent = am * 100;
        m.amFmCoherence.reset();
        if (sf > 0 && sa > 0 && am > kAmOverNoise * noiseAm)
            m.amFmCoherence = std::min(1.0, std::norm(sx) / (sf * sa));
    }
}

}  // namespace tarvo::meter
