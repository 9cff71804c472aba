// What the meter's views draw, computed without any drawing: the first
// stretch of the deviation track (the zoomed view and the polar plot), the
// histogram of the deviation, and the polar plot's turns.
#pragma once

#include "meter/Meter.h"

#include <cstdint>
#include <cmath>
#include <optional>
#include <vector>

namespace tarvo::meter {

inline constexpr double kZoomRevolutions = 4;
inline constexpr double kZoomSeconds = 10;  // without a revolution rate
inline constexpr double kLongestZoomSeconds = 30;
inline constexpr double kTrackBucketSeconds = 0.01;
inline constexpr size_t kMostTrackBuckets = 200000;

// The stretch the zoomed view shows: four revolutions, or 10 s.
double ZoomSeconds(double revolutionHz);

// The polar view overlays up to ten revolutions, each in its own colour.
inline constexpr int kMostPolarRevolutions = 10;
// The track kept for the polar view: ten revolutions of a 16 2/3 rpm
// platter take 36 s and of a cassette's pinch roller (about 1.3 Hz) 8 s;
// a minute holds every platter and tape part's ten at 500 points a second
// (30,000 points of three numbers a channel).
inline constexpr double kLongestTrackSeconds = 60;
// The first stretch the collector keeps: ten revolutions, up to
// kLongestTrackSeconds (the zoomed view shows the first four of them), or
// the zoom's 10 s without a revolution.
double TrackSeconds(double revolutionHz);

// The polar view's low-pass choices (Hz; 0: none).
inline constexpr double kPolarLowPasses[] = {0, 60, 100, 150, 200};

// Collects, from the analyser's slow track (deviation and weighted deviation
// in Hz from a reference), the first stretch at up to about 500 points a
// second, the whole track in buckets of 10 ms (longer for a long file, at
// most kMostTrackBuckets of them) and a fine histogram of the deviation
// after the settling time.
// Finish puts them into the figures in percent of the mean carrier.
class TrackCollector {
public:
    TrackCollector(double referenceHz, double slowRate, double stretchSeconds, double settleSeconds);
    void Add(double seconds, double deviationHz, double weightedHz);
    void Finish(ChannelFigures& c);

private:
    double reference_, stretch_, settle_;
    int step_;
    int64_t n_ = 0;
    std::vector<double> t_, dev_, weighted_;
    double fineStep_;  // Hz
    double fineInverse_;
    // v / fineStep_ as far as its floor goes: the product by the reciprocal
    // (much quicker) is within an ulp of the quotient, so its floor can
    // only differ next to a whole number, where the division is done.
    double FineQuotient(double v) const
    {
        const double q = v * fineInverse_;
        if (!(std::abs(q) < 1e15))
            return v / fineStep_;
        const double part = std::abs(q - static_cast<double>(static_cast<int64_t>(q)));
        const double near = 1e-9 * (1 + std::abs(q));
        return part < near || part > 1 - near ? v / fineStep_ : q;
    }
    std::vector<int64_t> fine_;
    int64_t count_ = 0;

    // The whole track in buckets of bucket_ seconds; when they reach their
    // most, pairs merge into buckets twice as long.
    void PadBuckets();
    void CloseBucket();
    void Halve();
    double bucket_;
    double bucketSum_ = 0, bucketWeightedSum_ = 0, bucketMin_ = 0, bucketMax_ = 0;
    uint32_t bucketCount_ = 0;
    size_t bucketIndex_ = 0;
    std::vector<float> min_, max_, mean_, weightedMean_;
    std::vector<uint32_t> counts_;
};

// A span of a channel's whole track, from `from` to `to` seconds: each
// bucket while there are no more than four times `columns` of them, else
// at most `columns` columns, each column the least and greatest deviation of
// the buckets in it, their mean deviation and mean weighted deviation, at
// the column's middle time. Where the first stretch's detailed track covers
// the span with more points than the buckets give, `detail` is set and the
// columns are its points themselves (min = max = mean).
struct TrackColumns {
    bool detail = false;
    std::vector<double> seconds, min, max, mean, weighted;
};
TrackColumns TrackSpan(const ChannelFigures& c, double from, double to, size_t columns);
// The same for buckets alone (mean and weighted may be empty: they stay so).
TrackColumns BucketSpan(const std::vector<float>& min, const std::vector<float>& max, const std::vector<float>& mean,
                        const std::vector<float>& weighted, double bucketSeconds, double from, double to,
                        size_t columns);
// The bucket at a time, or none beyond the track.
std::optional<size_t> BucketAt(const ChannelFigures& c, double seconds);

// The deviation around one revolution: one trace for each of the first
// `revolutions` whole revolutions of the stretch (fewer when it holds
// fewer; a part of one when it holds less than one), as angle (degrees, 0
// to 360) and radius. The radius is `base` plus the deviation from the
// revolutions' mean (percent), so a deviation that repeats once a
// revolution draws a circle moved off the centre. With lowPassHz above 0
// the deviation first goes through a second-order Butterworth low-pass
// run forwards and backwards: no delay, and a gain of
// 1 / (1 + (tan(pi f / rate) / tan(pi lowPassHz / rate))^4) at f (rate:
// the track's points a second; a low-pass at or above half of it is none).
struct PolarView {
    double base = 0;      // the radius of 0 %
    double ringStep = 0;  // percent between the rings drawn: the deviation stays within two rings of 0 %
    int revolutions = 0;  // the traces drawn
    double lowPassHz = 0;  // the low-pass applied (0: none)
    std::vector<std::vector<double>> angle, radius;
};
PolarView MakePolar(const ChannelFigures& c, int revolutions = static_cast<int>(kZoomRevolutions),
                    double lowPassHz = 0);

}  // namespace tarvo::meter
