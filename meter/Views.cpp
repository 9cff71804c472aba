#include "meter/Views.h"

#include "meter/PlotScale.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarvo::meter {

namespace {

constexpr double kViewRate = 500;           // points a second kept of the stretch
constexpr double kFineRangePercent = 5;     // the fine histogram covers +-5 % of the reference
constexpr size_t kFineBins = 20000;
constexpr size_t kHistogramBins = 41;
constexpr double kMostRevolutionHz = 1000;  // far above any platter or capstan; a faster rate draws no polar plot

// The bin of x among n, the ends taking what lies beyond them (a NaN the first).
size_t BinOf(double x, size_t n)
{
    if (!(x >= 0))
        return 0;
    return x < static_cast<double>(n - 1) ? static_cast<size_t>(x) : n - 1;
}

// A second-order Butterworth low-pass (the bilinear transform, its corner
// prewarped) run forwards then backwards, each pass starting settled at
// its first input, so that a steady start does not ring. A corner at or
// above half the rate leaves x as it is (false).
bool LowPassBothWays(std::vector<double>& x, double rate, double cutHz)
{
    if (x.empty() || !(cutHz > 0) || !(cutHz < rate / 2))
        return false;
    const double k = std::tan(std::numbers::pi * cutHz / rate), root2 = std::numbers::sqrt2;
    const double norm = 1 / (1 + root2 * k + k * k);
    const double b0 = k * k * norm, b1 = 2 * b0, b2 = b0;
    const double a1 = 2 * (k * k - 1) * norm, a2 = (1 - root2 * k + k * k) * norm;
    auto pass = [&](auto first, auto last) {
        double z1 = (1 - b0) * *first, z2 = (b2 - a2) * *first;
        for (auto it = first; it != last; ++it) {
            const double in = *it, out = b0 * in + z1;
            z1 = b1 * in - a1 * out + z2;
            z2 = b2 * in - a2 * out;
            *it = out;
        }
    };
    pass(x.begin(), x.end());
    pass(x.rbegin(), x.rend());
    return true;
}

}  // namespace

double ZoomSeconds(double revolutionHz)
{
    if (revolutionHz > 0)
        return std::min(kLongestZoomSeconds, kZoomRevolutions / revolutionHz);
    return kZoomSeconds;
}

double TrackSeconds(double revolutionHz)
{
    // Ten revolutions are never shorter than the zoom's four, nor their
    // bound shorter than the zoom's.
    if (revolutionHz > 0)
        return std::min(kLongestTrackSeconds, kMostPolarRevolutions / revolutionHz);
    return kZoomSeconds;
}

TrackCollector::TrackCollector(double referenceHz, double slowRate, double stretchSeconds, double settleSeconds)
    : reference_(referenceHz), stretch_(stretchSeconds), settle_(settleSeconds), bucket_(kTrackBucketSeconds)
{
    const double every = slowRate / kViewRate;
    step_ = every >= 1 && every < 1e6 ? static_cast<int>(std::lround(every)) : 1;
    fineStep_ = 2 * kFineRangePercent / 100 * referenceHz / kFineBins;
    fineInverse_ = 1 / fineStep_;
    fine_.assign(kFineBins, 0);
}

void TrackCollector::Add(double seconds, double deviationHz, double weightedHz)
{
    if (seconds <= stretch_ && n_++ % step_ == 0) {
        t_.push_back(seconds);
        dev_.push_back(deviationHz);
        weighted_.push_back(weightedHz);
    }
    if (seconds >= 0 && seconds < 1e9 && std::isfinite(deviationHz) && std::isfinite(weightedHz)) {
        auto index = static_cast<size_t>(seconds / bucket_);
        if (bucketCount_ > 0 && index != bucketIndex_)
            CloseBucket();
        // Every bucket before the point's is closed: past the most, pairs
        // merge (an even number of them, gaps filled).
        while (index >= kMostTrackBuckets) {
            bucketIndex_ = kMostTrackBuckets;
            PadBuckets();
            Halve();
            index = static_cast<size_t>(seconds / bucket_);
        }
        if (bucketCount_ == 0) {
            bucketIndex_ = index;
            bucketMin_ = bucketMax_ = deviationHz;
        }
        bucketMin_ = std::min(bucketMin_, deviationHz);
        bucketMax_ = std::max(bucketMax_, deviationHz);
        bucketSum_ += deviationHz;
        bucketWeightedSum_ += weightedHz;
        ++bucketCount_;
    }
    if (seconds < settle_)
        return;
    const double at = FineQuotient(deviationHz + kFineRangePercent / 100 * reference_);
    // The bin floor(at) gives, clamped to the range, without a call to floor:
    // from 0 up, truncation is the floor.
    fine_[BinOf(at, kFineBins)]++;
    ++count_;
}

void TrackCollector::PadBuckets()
{
    // A bucket the track skipped (no point fell in it) repeats the last.
    while (min_.size() < bucketIndex_ && !min_.empty()) {
        min_.push_back(min_.back());
        max_.push_back(max_.back());
        mean_.push_back(mean_.back());
        weightedMean_.push_back(weightedMean_.back());
        counts_.push_back(0);
    }
}

void TrackCollector::CloseBucket()
{
    PadBuckets();
    const double n = bucketCount_;
    min_.push_back(static_cast<float>(bucketMin_));
    max_.push_back(static_cast<float>(bucketMax_));
    mean_.push_back(static_cast<float>(bucketSum_ / n));
    weightedMean_.push_back(static_cast<float>(bucketWeightedSum_ / n));
    counts_.push_back(bucketCount_);
    bucketSum_ = bucketWeightedSum_ = 0;
    bucketCount_ = 0;
}

void TrackCollector::Halve()
{
    const size_t half = min_.size() / 2;
    for (size_t i = 0; i < half; ++i) {
        const size_t a = 2 * i, b = a + 1;
        const double na = counts_[a], nb = counts_[b], both = na + nb;
        min_[i] = std::min(min_[a], min_[b]);
        max_[i] = std::max(max_[a], max_[b]);
        mean_[i] = static_cast<float>(both > 0 ? (mean_[a] * na + mean_[b] * nb) / both : mean_[a]);
        weightedMean_[i] =
            static_cast<float>(both > 0 ? (weightedMean_[a] * na + weightedMean_[b] * nb) / both : weightedMean_[a]);
        counts_[i] = counts_[a] + counts_[b];
    }
    for (auto* v : {&min_, &max_, &mean_, &weightedMean_})
        v->resize(half);
    counts_.resize(half);
    bucket_ *= 2;
}

void TrackCollector::Finish(ChannelFigures& c)
{
    if (!(c.carrierHz > 0))
        return;
    const double pct = 100 / c.carrierHz, offset = reference_ - c.carrierHz;
    if (bucketCount_ > 0)
        CloseBucket();
    c.fineSeconds = bucket_;
    c.fineMin.clear();
    c.fineMax.clear();
    c.fineMean.clear();
    c.fineWeighted.clear();
    for (size_t i = 0; i < min_.size(); ++i) {
        c.fineMin.push_back(static_cast<float>((min_[i] + offset) * pct));
        c.fineMax.push_back(static_cast<float>((max_[i] + offset) * pct));
        c.fineMean.push_back(static_cast<float>((mean_[i] + offset) * pct));
        c.fineWeighted.push_back(static_cast<float>(weightedMean_[i] * pct));
    }
    c.trackSeconds = t_;
    c.trackDeviation.clear();
    c.trackWeighted.clear();
    for (size_t i = 0; i < t_.size(); ++i) {
        c.trackDeviation.push_back((dev_[i] + offset) * pct);
        c.trackWeighted.push_back(weighted_[i] * pct);
    }
    if (count_ == 0)
        return;
    // The occupied span of the fine bins, regrouped into the view's bins.
    size_t first = 0, last = kFineBins - 1;
    while (fine_[first] == 0)
        ++first;
    while (fine_[last] == 0)
        --last;
    auto percentAt = [&](double bin) { return (bin * fineStep_ - kFineRangePercent / 100 * reference_ + offset) * pct; };
    const double lo = percentAt(static_cast<double>(first)), hi = percentAt(static_cast<double>(last + 1));
    const double width = (hi - lo) / kHistogramBins;
    c.histogramPercent.assign(kHistogramBins, 0.0);
    c.histogramShare.assign(kHistogramBins, 0.0);
    for (size_t b = 0; b < kHistogramBins; ++b)
        c.histogramPercent[b] = lo + (static_cast<double>(b) + 0.5) * width;
    for (size_t i = first; i <= last; ++i) {
        const double centre = percentAt(static_cast<double>(i) + 0.5);
        c.histogramShare[BinOf((centre - lo) / width, kHistogramBins)] +=
            static_cast<double>(fine_[i]) / static_cast<double>(count_);
    }
}

TrackColumns BucketSpan(const std::vector<float>& min, const std::vector<float>& max, const std::vector<float>& mean,
                        const std::vector<float>& weighted, double bucketSeconds, double from, double to,
                        size_t columns)
{
    TrackColumns out;
    const size_t n = std::min(min.size(), max.size());
    if (!(bucketSeconds > 0) || !(to > from) || n == 0 || columns == 0)
        return out;
    const bool withMean = mean.size() >= n, withWeighted = weighted.size() >= n;
    // The buckets the span touches, whole.
    const double first = std::clamp(std::floor(from / bucketSeconds), 0.0, static_cast<double>(n));
    const double last = std::clamp(std::ceil(to / bucketSeconds), 0.0, static_cast<double>(n));
    const auto a = static_cast<size_t>(first), b = static_cast<size_t>(last);
    if (b <= a)
        return out;
    // Each bucket its own point while they are few beside the columns (a
    // column's mean of a fast swing would alias into a slow one); past
    // that, columns of whole buckets.
    const size_t per = b - a <= 4 * columns ? 1 : (b - a + columns - 1) / columns;
    for (size_t k = a; k < b; k += per) {
        const size_t end = std::min(b, k + per);
        double lo = min[k], hi = max[k], sum = 0, weightedSum = 0;
        for (size_t j = k; j < end; ++j) {
            lo = std::min(lo, static_cast<double>(min[j]));
            hi = std::max(hi, static_cast<double>(max[j]));
            if (withMean)
                sum += mean[j];
            if (withWeighted)
                weightedSum += weighted[j];
        }
        const double count = static_cast<double>(end - k);
        out.seconds.push_back((static_cast<double>(k) + count / 2) * bucketSeconds);
        out.min.push_back(lo);
        out.max.push_back(hi);
        if (withMean)
            out.mean.push_back(sum / count);
        if (withWeighted)
            out.weighted.push_back(weightedSum / count);
    }
    return out;
}

TrackColumns TrackSpan(const ChannelFigures& c, double from, double to, size_t columns)
{
    const size_t n = std::min({c.trackSeconds.size(), c.trackDeviation.size(), c.trackWeighted.size()});
    const double buckets = c.fineSeconds > 0 ? (to - from) / c.fineSeconds : 0;
    if (n > 1 && to <= c.trackSeconds[n - 1] && from >= c.trackSeconds[0] && columns > 0) {
        const auto a = static_cast<size_t>(std::lower_bound(c.trackSeconds.begin(), c.trackSeconds.begin() + static_cast<long>(n), from) - c.trackSeconds.begin());
        const auto b = static_cast<size_t>(std::upper_bound(c.trackSeconds.begin(), c.trackSeconds.begin() + static_cast<long>(n), to) - c.trackSeconds.begin());
        const size_t points = b - a;
        if (static_cast<double>(points) > buckets) {
            TrackColumns out;
            out.detail = true;
            // Every point when they fit, else every k-th.
            const size_t step = std::max<size_t>(1, (points + columns - 1) / columns);
            for (size_t i = std::max<size_t>(a, 1) - 1; i < std::min(n, b + 1); i += step) {
                out.seconds.push_back(c.trackSeconds[i]);
                out.min.push_back(c.trackDeviation[i]);
                out.max.push_back(c.trackDeviation[i]);
                out.mean.push_back(c.trackDeviation[i]);
                out.weighted.push_back(c.trackWeighted[i]);
            }
            return out;
        }
    }
    return BucketSpan(c.fineMin, c.fineMax, c.fineMean, c.fineWeighted, c.fineSeconds, from, to, columns);
}

std::optional<size_t> BucketAt(const ChannelFigures& c, double seconds)
{
    if (!(c.fineSeconds > 0) || !(seconds >= 0))
        return std::nullopt;
    const double k = std::floor(seconds / c.fineSeconds);
    if (k >= static_cast<double>(c.fineMean.size()) || c.fineWeighted.size() != c.fineMean.size())
        return std::nullopt;
    return static_cast<size_t>(k);
}

PolarView MakePolar(const ChannelFigures& c, int revolutions, double lowPassHz)
{
    PolarView v;
    if (!(c.revolutionHz > 0 && c.revolutionHz <= kMostRevolutionHz))
        return v;
    // Points that are not finite numbers have no place on the plot.
    const size_t n = std::min(c.trackSeconds.size(), c.trackDeviation.size());
    std::vector<double> t, d;
    for (size_t i = 0; i < n; ++i)
        if (std::abs(c.trackSeconds[i]) <= kAxisReach && std::abs(c.trackDeviation[i]) <= kAxisReach) {
            t.push_back(c.trackSeconds[i]);
            d.push_back(c.trackDeviation[i]);
        }
    if (t.empty())
        return v;
    // In revolutions from the start of the first one the stretch reaches.
    const double first = std::floor(t.front() * c.revolutionHz);
    const double step = t.size() > 1 ? (t.back() - t.front()) / static_cast<double>(t.size() - 1) : 0;
    // The revolutions that end within the stretch (its last point stands
    // for the interval up to the next), or the part of one it holds.
    const double whole = std::floor((t.back() + 1.5 * step) * c.revolutionHz) - first;
    const double end = first + std::clamp(std::min(whole, static_cast<double>(revolutions)), 1.0,
                                          static_cast<double>(kMostPolarRevolutions));
    if (step > 0 && LowPassBothWays(d, 1 / step, lowPassHz))
        v.lowPassHz = lowPassHz;
    size_t shown = 0;
    double mean = 0;
    while (shown < t.size() && t[shown] * c.revolutionHz < end)
        mean += d[shown++];
    mean /= static_cast<double>(shown);
    double reach = 0;
    for (size_t i = 0; i < shown; ++i)
        reach = std::max(reach, std::abs(d[i] - mean));
    v.ringStep = AxisStep(std::max(reach, kNarrowestDeviation), 2);
    v.base = 4 * v.ringStep;  // the deviation's reach is two rings at most
    double turn = first - 1;
    for (size_t i = 0; i < shown; ++i) {
        const double revolution = t[i] * c.revolutionHz;
        const double k = std::floor(revolution);
        if (k != turn) {
            v.angle.emplace_back();
            v.radius.emplace_back();
            turn = k;
        }
        v.angle.back().push_back(std::min(360 * (revolution - k), std::nextafter(360.0, 0.0)));
        v.radius.back().push_back(v.base + (d[i] - mean));
    }
    v.revolutions = static_cast<int>(v.angle.size());
    return v;
}

}  // namespace tarvo::meter
