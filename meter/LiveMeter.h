// The standards meter on a live input: fed blocks of samples as they
// arrive, it gives ten times a second the mean carrier of the last second
// and its speed error against a nominal tone, the weighted two-sigma, wow
// and flutter over a sliding window and over the whole run, and the last
// ten seconds of the deviation for a scrolling plot.
//
// Every figure comes from the file meter's own chain: each channel's tone is
// followed by a Demodulator and measured by ChannelAnalysers. The whole run
// is one analyser since the tone was locked (or the meter reset); the
// sliding window is an analyser started every update or every few (no more
// than 32 at once): the one that has just measured exactly the window's
// length gives its figures, what the file meter would read on those seconds.
//
// A tone is locked once it has held for a second (or at once when the
// carrier is given): the file meter's tests on every twentieth of that
// second, a tone over the spectrum around it and over the noise in the
// demodulator's band. That second is the filters' settling, so the
// statistics, the window and the plot's reference start at the lock with
// the filters at rest on the tone, and nothing heard before it (silence,
// noise, another tone) is measured. The tests go on while it is locked: a
// tone that gives way to noise or silence is lost within a fraction of a
// second, and one that moves out of the band followed is looked for afresh;
// either way the statistics start again at the next lock and the update
// says so. Without a tone a channel shows no figures.
#pragma once

#include "meter/Demodulator.h"
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
    Searching,  // the first half second of the channel, or a tone found that has not yet held for a second
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
    // Over the sliding window once a window's length of the tone has been
    // measured since the lock (the latest window measured, which ended at
    // most a stagger ago), and over the whole run once its statistics have a
    // second; every figure in percent of its mean carrier.
    std::optional<ChannelFigures> window, run;
    double windowSpan = 0;  // seconds the window's statistics cover: the window's length
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
    static constexpr double kSearchSeconds = 0.5;  // the newest input looked at for a tone
    static constexpr double kLockSeconds = 1;      // a tone held this long is locked: the filters' settling
    static constexpr double kTrackSeconds = 10;
    static constexpr double kShortestWindow = 1;
    static constexpr double kLongestWindow = 60;
    static constexpr double kFollowPercent = 3;   // a carrier further from the reference is looked for afresh
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

    // Interleaved frames, any number at a time. A block holding a sample
    // that is not a finite number is refused (false): it is not measured,
    // and each channel looks for its tone afresh after it.
    bool Push(const float* frames, size_t count);

    // The latest update (empty channels before the first).
    const LiveUpdate& Latest() const { return latest_; }
    double Seconds() const;

    // Starts the statistics, the carrier's mean and the plot again; the
    // locked tones stay locked (their filters settle for a second again).
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
    void ScheduleWindows(Channel& c) const;
    bool TryLock(Channel& c, double carrierHz);
    void Drop(Channel& c, LiveState state);
    void Feed(Channel& c, const float* x, size_t n, size_t stride);
    void AddPoint(Channel& c, const Demodulator::Sample& s);
    void EndUnit(Channel& c);
    void TakeUnit(Channel& c);
    double Follow(double hz) const;
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
