// What the meter does with one channel's frequency track: the weighting and
// the bands, the quasi-peak detector, the two-sigma statistics, drift and
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
// The unweighted path: flat from 0.5 to 200 Hz (-3 dB at both edges).
Cascade UnweightedFilter(double rate);

// The meter's quasi-peak detector: the positive and the negative peaks each
// charge a hold with a short time constant and leak away with a long one;
// the reading is half their difference, so a steady sinusoidal deviation
// reads its peak whatever its frequency in the band.
class PeakDetector {
public:
    static constexpr double kChargeSeconds = 0.002;
    static constexpr double kDecaySeconds = 15.0;

    explicit PeakDetector(double rate);
    double Process(double x)
    {
        pos_ = x > pos_ ? pos_ + (x - pos_) * charge_ : pos_ * decay_;
        neg_ = x < neg_ ? neg_ + (x - neg_) * charge_ : neg_ * decay_;
        return (pos_ - neg_) / 2;
    }

private:
    double charge_, decay_;
    double pos_ = 0, neg_ = 0;
};

// The level a non-negative reading exceeds a given fraction of the time,
// kept as a histogram of log-spaced bins at most 0.2 % wide, over thirty
// octaves from the full scale down.
class LevelHistogram {
public:
    explicit LevelHistogram(double fullScale);
    void Add(double v);
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
    // The figures, in percent of the mean carrier.
    ChannelFigures Finish() const;

    // Every point of the slow track (about 2 kHz), deviation and weighted
    // deviation in Hz from the reference.
    using Sink = std::function<void(double seconds, double deviationHz, double weightedHz)>;
    void SetSink(Sink sink) { sink_ = std::move(sink); }
    double SlowRate() const { return slowRate_; }

    static constexpr double kSettleSeconds = 1.0;  // filters and detector settle before statistics start
    static constexpr double kDriftSegmentSeconds = 2.0;

private:
    void AddSlow(double y);
    void FoldSpectrum();

    double trackRate_, slowRate_, reference_, seconds_;
    int slowStep_;
    int64_t n_ = 0, nSlow_ = 0;
    double sumHz_ = 0;

    Cascade antiAlias_, weighting_, unweighted_, wow_, flutter_;
    PeakDetector detWeighted_, detUnweighted_;
    LevelHistogram histWeighted_, histUnweighted_;
    double sumW2_ = 0, sumU2_ = 0, sumWow2_ = 0, sumFl2_ = 0;
    int64_t nStats_ = 0;

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
