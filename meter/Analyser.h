// What the meter does with one channel's frequency track: the weighting and
// the bands, the two-sigma statistics of the deviation itself, drift and
// the modulation spectrum, all streamed with fixed memory.
#pragma once

#include "meter/Dsp.h"
#include "meter/Meter.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace tarvo::meter {

// The weighting curve's analogue prototype: peak at 4 Hz, unit gain there.
AnaloguePrototype WeightingPrototype();
Cascade WeightingFilter(double rate);
// The weighted path: the weighting, ended at the band's top like the
// unweighted path.
Cascade WeightedPath(double rate, double bandHighHz = 200);
// The unweighted path: flat within 1 % from 0.2 Hz to bandHighHz (200 Hz, or
// a quarter of a low carrier), falling steeply outside.
Cascade UnweightedFilter(double rate, double bandHighHz = 200);
// The split between wow and flutter at 6 Hz: 12th-order Butterworth low- and
// high-pass sections, so that 4 Hz gives flutter under 1 % of its wow and
// 10 Hz wow under 1 % of its flutter.
Cascade WowFilter(double rate);
Cascade FlutterFilter(double rate);
// The top of the band a carrier supports: 200 Hz, or a quarter of the carrier.
double BandHigh(double carrierHz);

// What noise alone reads, in Hz: additive noise of one-sided density N0
// beside a tone of power P gives the demodulated frequency the one-sided
// density f^2 N0 / P (the ideal demodulator's), taken here through each
// path as the meter runs it (the phase step's droop and its correction,
// the weighting or the band, the flutter's split) at its track rate. A
// Gaussian reading exceeds 1.96 sigma 5 % of the time.
struct NoiseFloors {
    double weightedTwoSigma = 0, unweightedTwoSigma = 0, flutterRms = 0;
};
NoiseFloors NoiseFloorsHz(double noiseToTone, double bandHighHz);
// The weighted two-sigma of white noise at the given tone-to-noise power
// ratio over the whole band up to half the sample rate (N0 / P = 2 / (fs snr)).
double NoiseFloorHz(double snr, double sampleRate, double bandHighHz);

// The level a non-negative reading exceeds a given fraction of the time,
// kept as a histogram of log-spaced bins at most 0.2 % wide, over thirty
// octaves from the full scale down.
class LevelHistogram {
public:
    explicit LevelHistogram(double fullScale);
    // Inline: it runs up to eight times a point on each path.
    void Add(double v, int64_t times = 1)
    {
        count_ += times;
        if (!(v > lowest_)) {
            below_ += times;
            return;
        }
        bins_[BinIndex(Quotient(v))] += times;
    }
    // n magnitudes at once, those under `floor` (a level that cannot
    // matter, see SafeFloor) only counted; without a branch on either test,
    // which noise would make a guess.
    void AddAbove(const double* v, size_t n, double floor)
    {
        count_ += static_cast<int64_t>(n);
        int64_t under = 0;
        int64_t* bins = bins_.data();
        for (size_t i = 0; i < n; ++i) {
            const double m = std::abs(v[i]);
            const bool placed = m >= floor && m > lowest_;
            // Under lowest_ the bin is the last one, which gets nothing.
            bins[placed ? BinIndex(Quotient(m)) : bins_.size() - 1] += placed;
            under += !placed;
        }
        below_ += under;
    }
    // n readings known to lie under a level that cannot matter: counted,
    // and nothing else.
    void AddBelow(int64_t n)
    {
        count_ += n;
        below_ += n;
    }
    double Exceeded(double fraction) const;
    int64_t Count() const { return count_; }
    // The lowest level that still matters once the count will end at no
    // more than `finalCount`: while `fraction` of that count already lie at
    // or above the edge of the bin returned, the level exceeded that
    // fraction of the time lies in that bin or above, whatever comes. Starts
    // the search at `from`, the largest reading so far; 0 while none does.
    double SafeFloor(double fraction, int64_t finalCount, double from) const;

private:
    // v / lowest_, as the division gives it. A product by the reciprocal
    // (much quicker) is within an ulp of it, so it can only fall in another
    // bin when it lies within an ulp of a bin's edge: the division then.
    double Checked(double v, double product) const
    {
        constexpr uint64_t kLow = (uint64_t{1} << 43) - 1;  // the bits under a bin's
        const uint64_t low = std::bit_cast<uint64_t>(product) & kLow;
        return low <= 1 || low >= kLow - 1 ? v / lowest_ : product;
    }
    double Quotient(double v) const { return Checked(v, v * inverse_); }
    // The bin of q = v / lowest: q = 1.f 2^e gives the octave e, and f's
    // place in it on a linear scale its leading bits (read from the
    // number's own bits: frexp is a call).
    size_t BinIndex(double q) const
    {
        const uint64_t bits = std::bit_cast<uint64_t>(q);
        const uint64_t e = (bits >> 52) - 1023;
        const size_t i = static_cast<size_t>(e) * kBinsPerOctave + static_cast<size_t>((bits >> 43) & (kBinsPerOctave - 1));
        return std::min(bins_.size() - 1, i);
    }
    static constexpr int kOctaves = 30;
    static constexpr size_t kBinsPerOctave = 512;
    double lowest_, inverse_;
    std::vector<int64_t> bins_;
    double Edge(size_t i) const;
    int64_t below_ = 0, count_ = 0;
};

// One channel: fed the instantaneous frequency at the track rate.
class ChannelAnalyser {
public:
    // referenceHz: the carrier the deviation is taken from; seconds: the
    // file's length, for the plot's time buckets.
    ChannelAnalyser(double trackRate, double referenceHz, double seconds);

    void Add(double hz);
    // Promises no more than this many points in all (a file of known
    // length): the two-sigma statistics may then count the points far
    // under the level that decides them without placing them exactly, which
    // gives the same figures to the bit in a fraction of the time.
    void ExpectAtMost(int64_t points);
    // Ends the band at a quarter of the carrier measured (its mean over the
    // points held before the filters start) rather than of the reference
    // the search gave: asked before the first point.
    void BandFollowsCarrier() { bandFollows_ = true; }
    // The figures, in percent of the mean carrier. May be called again after
    // more points (a live meter's updates).
    ChannelFigures Finish();

    // Every point of the slow track (about 2 kHz), deviation and weighted
    // deviation in Hz from the reference.
    using Sink = std::function<void(double seconds, double deviationHz, double weightedHz)>;
    void SetSink(Sink sink) { sink_ = std::move(sink); }
    double SlowRate() const { return slowRate_; }

    // The filters settle before the statistics start: a fifth of the file,
    // from 1 s to 4 s (the weighting's slow poles need about 4 s to forget
    // how a slow modulation began).
    static constexpr double kSettleSeconds = 1.0, kLongestSettleSeconds = 4.0;
    // The rms sums fade in and out over up to this long, so that a slow
    // modulation's part cycle at either end hardly moves them.
    static constexpr double kTaperSeconds = 4.0;
    // Points between two of the track that the two-sigma statistics read, so
    // that a fast modulation's peaks are not missed between samples.
    static constexpr int kOversample = 8;
    static constexpr double kDriftSegmentSeconds = 2.0;
    // The first points are held this long, so that the filters can start
    // at rest on their mean rather than on the first point.
    static constexpr double kLeadSeconds = 10.0;
    double BandHighHz() const { return bandHigh_; }

private:
    void AddSlow(double y);
    // y: a point of the slow track; w, u, wo, fl: the weighted, unweighted,
    // wow and flutter paths' outputs for it.
    void Run(double y, double w, double u, double wo, double fl);
    void RunPending();
    void RunLast();
    void StartFilters();
    void FoldSpectrum();
    struct LevelPath;
    void AddLevels();
    void AddLevels(LevelPath& path);

    double slowRate_, reference_, seconds_, bandHigh_;
    int slowStep_;
    int64_t n_ = 0, nSlow_ = 0;
    double sumHz_ = 0;

    std::vector<double> lead_;  // the held first points
    // Points waiting to be run through the filters as one block.
    static constexpr size_t kBlock = 256;
    std::vector<double> pending_, blockW_, blockU_, blockWow_, blockFlutter_;
    bool started_ = false;
    bool bandFollows_ = false;

    Cascade antiAlias_, weighting_, unweighted_, wow_, flutter_;
    // Once started: the weighted and unweighted paths side by side, and
    // the wow and flutter filters on the unweighted path.
    FilterChain chain_;
    // The last kLag points run through it (y, w, u), by point number
    // modulo kLag: their statistics wait for their wow and flutter. And the
    // number of points whose statistics are in.
    std::array<std::array<double, 3>, FilterChain::kLag> awaiting_{};
    int64_t ranUpTo_ = 0;
    LevelHistogram histWeighted_, histUnweighted_;
    double sumW2_ = 0, sumU2_ = 0, sumWow2_ = 0, sumFl2_ = 0, sumWeight_ = 0;
    int64_t nStats_ = 0;
    double settle_, taper_;
    double fullFrom_ = 0, fullTo_ = 0;  // between these the rms weight is 1
    // The phase-difference demodulator's sin(x)/x droop, undone by a 3-tap
    // filter (one point of delay).
    double prev1_ = 0, prev2_ = 0;
    // The last points of each path, for the oversampled statistics, and
    // the level under which its points no longer matter.
    struct LevelPath {
        explicit LevelPath(LevelHistogram& h) : hist(h) {}
        LevelHistogram& hist;
        std::vector<double> queue;   // points not yet added
        std::vector<double> window;  // the points before them that their windows reach
        std::vector<size_t> quiet, straight, turns;  // intervals of each kind, while adding
        int64_t count = 0;
        double largest = 0;
        double floor = 0;
    };
    LevelPath levelsW_{histWeighted_}, levelsU_{histUnweighted_};
    int64_t expected_ = 0;  // points promised at most; 0: not known
    int64_t floorsAt_ = 0;  // the slow point at which the floors were last raised
    // The interpolator's largest sum of |taps|: no point between exceeds
    // the largest of the window's by more.
    double interpGain_ = 1;
    // The same for its two middle taps (at least 1, a point's own weight)
    // and for the others.
    double interpMid_ = 1, interpOuter_ = 0;
    void RaiseFloors();
    // kOversample - 1 phases of a windowed-sinc interpolator, tap by tap:
    // interp_[k * kOversample + p - 1] is phase p's tap k (the last lane 0),
    // so that the phases are worked out together, lane by lane.
    std::vector<double> interp_;

    // Drift: means of consecutive segments.
    int64_t segLength_, segCount_ = 0;
    double segSum_ = 0, segMin_ = 0, segMax_ = 0;
    int segments_ = 0;

    // The modulation spectrum: Hann segments of specData_ points at half
    // overlap, each zero-padded to specLength_ (a power of two) for the
    // transform.
    size_t specLength_, specData_;
    int specStep_;  // the spectrum takes every specStep_-th point of the band
    int specCountdown_;  // points until the next it takes
    const RealFftPlan* plan_ = nullptr;  // shared
    std::vector<double> specBuf_, specPower_, hann_, specWin_;
    std::vector<std::complex<double>> specOut_;
    int specSegments_ = 0;

    // The plot's envelope buckets.
    std::vector<double> envMin_, envMax_;
    std::vector<char> envSet_;
    size_t envBucket_ = 0;
    double envNext_ = 0;  // from this time on the bucket is worked out again

    Sink sink_;
};

}  // namespace tarvo::meter
