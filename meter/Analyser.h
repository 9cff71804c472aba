// What the meter does with one channel's frequency track: the weighting and
// the bands, the two-sigma statistics of the deviation itself, drift and
// the modulation spectrum, all streamed with fixed memory.
#pragma once

#include "meter/Dsp.h"
#include "meter/Meter.h"

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

// The weighted two-sigma, in Hz, that white noise at the given tone-to-noise
// power ratio (over the whole band up to half the sample rate) gives a
// frequency-demodulated tone: its frequency noise has the density
// f^2 N0 / P (one-sided), taken through the weighting up to the band's top,
// and a Gaussian reading exceeds 1.96 sigma 5 % of the time.
double NoiseFloorHz(double snr, double sampleRate, double bandHighHz);

// The level a non-negative reading exceeds a given fraction of the time,
// kept as a histogram of log-spaced bins at most 0.2 % wide, over thirty
// octaves from the full scale down.
class LevelHistogram {
public:
    explicit LevelHistogram(double fullScale);
    void Add(double v, int64_t times = 1);
    double Exceeded(double fraction) const;
    int64_t Count() const { return count_; }

private:
    double lowest_;
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
    void Run(double y);
    void StartFilters();
    void FoldSpectrum();
    void AddLevels(std::vector<double>& past, int64_t& count, double& largest, double v, LevelHistogram& hist);

    double trackRate_, slowRate_, reference_, seconds_, bandHigh_;
    int slowStep_;
    int64_t n_ = 0, nSlow_ = 0;
    double sumHz_ = 0;

    std::vector<double> lead_;  // the held first points
    bool started_ = false;

    Cascade antiAlias_, weighting_, unweighted_, wow_, flutter_;
    LevelHistogram histWeighted_, histUnweighted_;
    double sumW2_ = 0, sumU2_ = 0, sumWow2_ = 0, sumFl2_ = 0, sumWeight_ = 0;
    int64_t nStats_ = 0;
    double settle_, taper_;
    // The phase-difference demodulator's sin(x)/x droop, undone by a 3-tap
    // filter (one point of delay).
    double prev1_ = 0, prev2_ = 0;
    // The last points of the two paths, for the oversampled statistics.
    std::vector<double> histW_, histU_;
    int64_t nLevelsW_ = 0, nLevelsU_ = 0;
    double largestW_ = 0, largestU_ = 0;
    std::vector<std::vector<double>> interp_;  // kOversample - 1 phases of a windowed-sinc interpolator

    // Drift: means of consecutive segments.
    int64_t segLength_, segCount_ = 0;
    double segSum_ = 0, segMin_ = 0, segMax_ = 0;
    int segments_ = 0;

    // The modulation spectrum: Hann segments at half overlap.
    size_t specLength_;
    int specStep_;  // the spectrum takes every specStep_-th point of the band
    std::unique_ptr<FftPlan> plan_;
    std::vector<double> specBuf_, specPower_, hann_;
    int specSegments_ = 0;

    // The plot's envelope buckets.
    std::vector<double> envMin_, envMax_;
    std::vector<char> envSet_;

    Sink sink_;
};

}  // namespace tarvo::meter
