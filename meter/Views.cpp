#include "meter/Views.h"

#include "meter/PlotScale.h"

#include <algorithm>
#include <cmath>

namespace tarvo::meter {

namespace {

constexpr double kViewRate = 500;           // points a second kept of the stretch
constexpr double kFineRangePercent = 5;     // the fine histogram covers +-5 % of the reference
constexpr size_t kFineBins = 20000;
constexpr size_t kHistogramBins = 41;
constexpr double kMostRevolutionHz = 1000;  // far above any platter or capstan; a faster rate draws no polar plot
constexpr size_t kMostTurns = 16;           // the stretch holds four revolutions and a part

// The bin of x among n, the ends taking what lies beyond them (a NaN the first).
size_t BinOf(double x, size_t n)
{
    if (!(x >= 0))
        return 0;
    return x < static_cast<double>(n - 1) ? static_cast<size_t>(x) : n - 1;
}

}  // namespace

double ZoomSeconds(double revolutionHz)
{
    if (revolutionHz > 0)
        return std::min(kLongestZoomSeconds, kZoomRevolutions / revolutionHz);
    return kZoomSeconds;
}

TrackCollector::TrackCollector(double referenceHz, double slowRate, double stretchSeconds, double settleSeconds)
    : reference_(referenceHz), stretch_(stretchSeconds), settle_(settleSeconds)
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
    if (seconds < settle_)
        return;
    const double at = FineQuotient(deviationHz + kFineRangePercent / 100 * reference_);
    // The bin floor(at) gives, clamped to the range, without a call to floor:
    // from 0 up, truncation is the floor.
    fine_[BinOf(at, kFineBins)]++;
    ++count_;
}

void TrackCollector::Finish(ChannelFigures& c) const
{
    if (!(c.carrierHz > 0))
        return;
    const double pct = 100 / c.carrierHz, offset = reference_ - c.carrierHz;
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

PolarView MakePolar(const ChannelFigures& c)
{
    PolarView v;
    if (!(c.revolutionHz > 0 && c.revolutionHz <= kMostRevolutionHz))
        return v;
    // Points that are not finite numbers have no place on the plot.
    const size_t n = std::min(c.trackSeconds.size(), c.trackDeviation.size());
    std::vector<size_t> points;
    double mean = 0;
    for (size_t i = 0; i < n; ++i)
        if (std::abs(c.trackSeconds[i]) <= kAxisReach && std::abs(c.trackDeviation[i]) <= kAxisReach) {
            points.push_back(i);
            mean += c.trackDeviation[i];
        }
    if (points.empty())
        return v;
    mean /= static_cast<double>(points.size());
    double reach = 0;
    for (size_t i : points)
        reach = std::max(reach, std::abs(c.trackDeviation[i] - mean));
    v.ringStep = AxisStep(std::max(reach, kNarrowestDeviation), 2);
    v.base = 4 * v.ringStep;  // the deviation's reach is two rings at most
    const double period = 1 / c.revolutionHz;
    long turn = 0;
    for (size_t i : points) {
        const double revolutions = c.trackSeconds[i] / period;
        const auto k = static_cast<long>(std::floor(revolutions));
        if (v.angle.empty() || k != turn) {
            if (v.angle.size() == kMostTurns)
                break;
            v.angle.emplace_back();
            v.radius.emplace_back();
            turn = k;
        }
        v.angle.back().push_back(360 * (revolutions - static_cast<double>(k)));
        v.radius.back().push_back(v.base + (c.trackDeviation[i] - mean));
    }
    return v;
}

}  // namespace tarvo::meter
