// The standards meter on a live input: fed blocks of samples as they
// arrive, it gives ten times a second the mean carrier of the last second
// and its speed error against a nominal tone, the weighted two-sigma, wow
// and flutter over a sliding window and over the whole run, and the last
// ten seconds of the deviation for a scrolling plot.
//
// Every figure comes from the file meter's own chain: each channel's tone is
// followed by a Demodulator and measured by ChannelAnalysers. The whole run
// is one analyser since the tone was locked (or the meter reset); the
// sliding window is an analyser started every tenth of the window (half a
// second at least): the one that has measured for at least the window's
// length reads what the file meter would read on those seconds.
//
// The carrier is found in the first half second of a channel (or given).
// A tone that moves out of the band the meter follows is locked again on
// its new frequency, and a tone that is lost is looked for afresh: either
// way the statistics start again and the update says so. Without a tone a
// channel shows no figures.
#pragma once

#include "meter/Meter.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvo::meter {

struct LiveSettings {
    double carrierHz = 0;       // 0: found in the first half second of each channel
    double nominalHz = 0;       // the test tape's nominal tone; 0: none (no speed error)
    std::vector<int> channels;  // 1-based; empty: every channel
    double windowSeconds = 5;   // the sliding window, from 1 to 60 s
    double runSeconds = 0;      // the run's expected length, when known (for its spectrum and envelope)
};

enum class LiveState {
    Searching,  // the first half second of the channel
    NoTone,     // no tone found, or the tone was lost
    Locked,
};

struct LiveChannel {
    int channel = 0;  // 1-based
    LiveState state = LiveState::Searching;
    bool relocked = false;  // the tone was locked again since the previous update
    int relocks = 0;        // since the start or the last reset
    double referenceHz = 0;  // the frequency the channel is locked to
    std::optional<double> carrierHz;  // mean of the last second, since the speed last changed
    std::optional<double> speedErrorPercent, speedErrorHz;  // against the nominal tone
    // Over the sliding window once it is full, and over the whole run once
    // its statistics have a second; every figure in percent of its mean carrier.
    std::optional<ChannelFigures> window, run;
    double windowSpan = 0;  // seconds the window's statistics cover
    // The last ten seconds of the deviation from the reference, percent,
    // against the time since the start in seconds.
    std::vector<double> trackSeconds, trackPercent;
};

struct LiveUpdate {
    double seconds = 0;  // of input since the start
    std::vector<LiveChannel> channels;
};

class LiveMeter {
public:
    static constexpr double kUpdateSeconds = 0.1;
    static constexpr double kSearchSeconds = 0.5;
    static constexpr double kTrackSeconds = 10;
    static constexpr double kShortestWindow = 1;
    static constexpr double kLongestWindow = 60;
    static constexpr double kFollowPercent = 3;   // a carrier further from the reference is locked again
    static constexpr double kFollowHz = 150;      // ... and never more than this (the demodulator passes 250 Hz)
    static constexpr double kSpeedStepPercent = 0.05;  // the carrier's mean starts again after a larger step (and four times its spread)

    // The meter on `channels` interleaved channels at `rate`; Error() says
    // what is wrong when the rate, a channel or the carrier is out of reach.
    LiveMeter(int rate, int channels, LiveSettings settings);
    ~LiveMeter();
    LiveMeter(const LiveMeter&) = delete;
    LiveMeter& operator=(const LiveMeter&) = delete;

    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }

    // Called at every update, from within Push.
    using UpdateSink = std::function<void(const LiveUpdate&)>;
    void SetUpdateSink(UpdateSink sink) { sink_ = std::move(sink); }

    // Interleaved frames, any number at a time.
    void Push(const float* frames, size_t count);

    // The latest update (empty channels before the first).
    const LiveUpdate& Latest() const { return latest_; }
    double Seconds() const;

    // Starts the statistics, the carrier's mean and the plot again; the
    // locked tones stay locked.
    void Reset();
    void SetWindowSeconds(double seconds);
    double WindowSeconds() const { return settings_.windowSeconds; }
    void SetNominalHz(double hz) { settings_.nominalHz = hz; }
    const LiveSettings& Settings() const { return settings_; }

    // The whole run since the last reset or re-lock, as the file meter
    // gives its figures; not ok, with the reason, when a channel has no tone
    // or not yet enough of the run.
    MeterResult WholeRun() const;

private:
    struct Channel;
    void PushChunk(const float* frames, size_t count);
    void Update();
    double RunSettle() const;
    void Restart(Channel& c);
    void Lock(Channel& c, double carrierHz);
    void Feed(Channel& c, const float* x, size_t n, size_t stride);
    void EndUnit(Channel& c);
    LiveChannel Describe(Channel& c) const;

    int rate_ = 0, nch_ = 0;
    LiveSettings settings_;
    std::string error_;
    std::vector<std::unique_ptr<Channel>> chans_;
    int64_t frames_ = 0, unitFrames_ = 1;
    LiveUpdate latest_;
    UpdateSink sink_;
};

// The strongest tone between the meter's carrier limits in the samples (one
// channel, taken every stride floats), or 0 when no tone stands out.
double FindLiveCarrier(const float* x, size_t n, size_t stride, int rate);

}  // namespace tarvo::meter
