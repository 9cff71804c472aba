#include "meter/LiveMeter.h"

#include "meter/Analyser.h"
#include "meter/Demodulator.h"
#include "meter/Dsp.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <deque>

namespace tarvo::meter {

namespace {

constexpr int kLowestRate = 8000;
constexpr double kUnitSeconds = 0.05;   // the carrier's mean is kept in units of this length
constexpr double kMeanSeconds = 1;      // the carrier shown is the mean of this long
constexpr double kToneShare = 0.05;     // least share of the input's power in the tone followed, as the file meter
constexpr int kMissedUnits = 2;         // units without the tone before it counts as lost
constexpr double kToneOverFloor = 1000;  // a tone's lobe over the spectrum's median (30 dB)
constexpr double kCarrierShare = 0.1;    // least share of the spectrum's power in the tone found
constexpr double kPlotRate = 100;        // points a second of the scrolling plot
constexpr double kLeastRunSeconds = 1;   // statistics the whole run needs before it shows

double Stagger(double window) { return std::max(0.5, window / 10); }

// One unit of the carrier's track: its sum and count.
struct Unit {
    double sum = 0;
    int64_t count = 0;
    double Mean() const { return sum / static_cast<double>(count); }
};

}  // namespace

double FindLiveCarrier(const float* x, size_t n, size_t stride, int rate)
{
    size_t len = 1024;
    while (len * 2 <= n)
        len *= 2;
    if (len > n)
        return 0;
    const std::vector<double>& hann = SharedHannWindow(len);
    std::vector<std::complex<double>> z(len);
    const size_t first = n - len;  // the newest samples
    for (size_t i = 0; i < len; ++i)
        z[i] = static_cast<double>(x[(first + i) * stride]) * hann[i];
    SharedFftPlan(len).Forward(z);
    std::vector<double> p(len / 2 + 1);
    double total = 0;
    for (size_t k = 0; k < p.size(); ++k)
        total += p[k] = std::norm(z[k]);
    const double bin = static_cast<double>(rate) / static_cast<double>(len);
    const size_t lo = std::max<size_t>(4, static_cast<size_t>(std::ceil(kLowestCarrier / bin)));
    const size_t hi = std::min(len / 2 - 4, static_cast<size_t>(HighestCarrier(rate) / bin));
    if (lo + 8 >= hi || !(total > 0))
        return 0;
    const auto begin = p.begin() + static_cast<std::ptrdiff_t>(lo), end = p.begin() + static_cast<std::ptrdiff_t>(hi) + 1;
    const size_t peak = static_cast<size_t>(std::max_element(begin, end) - p.begin());
    double lobe = 0, moment = 0;
    for (size_t k = peak - 3; k <= peak + 3; ++k) {
        lobe += p[k];
        moment += p[k] * static_cast<double>(k);
    }
    std::vector<double> band(begin, end);
    std::nth_element(band.begin(), band.begin() + static_cast<std::ptrdiff_t>(band.size() / 2), band.end());
    const double median = band[band.size() / 2];
    if (!(lobe > kToneOverFloor * median && lobe > kCarrierShare * total))
        return 0;
    return moment / lobe * bin;
}

struct LiveMeter::Channel {
    int number = 0;
    LiveState state = LiveState::Searching;
    double reference = 0;
    bool relocked = false, everLocked = false;
    int relocks = 0;

    std::vector<float> search;  // the newest samples while no tone is locked

    std::unique_ptr<Demodulator> demod;
    std::vector<Demodulator::Sample> track;
    double trackRate = 0;
    int64_t points = 0;     // track points since the statistics started
    double startSeconds = 0;  // input time at which they started
    std::unique_ptr<ChannelAnalyser> run;
    struct Window {
        int64_t start;
        std::unique_ptr<ChannelAnalyser> analyser;
    };
    std::deque<Window> windows;
    double runSum = 0;  // of the track since the statistics started, for the plot's zero
    int64_t runCount = 0;
    double runTone = 0, runInput = 0;  // power sums since the statistics started
    int64_t runToneCount = 0, runInputCount = 0;

    // The unit being gathered, and the units of the carrier's mean.
    Unit unit;
    double unitTone = 0, unitInput = 0;
    int64_t unitInputCount = 0;
    std::deque<Unit> units;
    std::deque<double> steps;  // squared differences of consecutive unit means, the last second's
    double lastMean = 0;
    bool freshMean = false;  // the mean started again at the last unit
    int missed = 0;
    bool shifted = false;  // the last unit lay outside the band followed

    // The scrolling plot.
    std::deque<std::pair<double, double>> plot;
    double plotSum = 0;
    int plotCount = 0, plotStep = 1;
};

LiveMeter::LiveMeter(int rate, int channels, LiveSettings settings) : rate_(rate), nch_(channels), settings_(std::move(settings))
{
    if (rate < kLowestRate) {
        error_ = "The meter needs a sample rate of at least 8000 Hz; the input has " + std::to_string(rate) + " Hz.";
        return;
    }
    std::vector<int> numbers = settings_.channels;
    if (numbers.empty())
        for (int c = 1; c <= channels; ++c)
            numbers.push_back(c);
    for (int c : numbers)
        if (c < 1 || c > channels) {
            error_ = "The input has no channel " + std::to_string(c) + "; it has " + std::to_string(channels) + ".";
            return;
        }
    if (settings_.carrierHz != 0 && !(settings_.carrierHz >= kLowestCarrier && settings_.carrierHz <= HighestCarrier(rate))) {
        error_ = "The carrier must lie between " + FixedText(kLowestCarrier, 0) + " Hz and " + FixedText(HighestCarrier(rate), 0) +
                 " Hz at this rate.";
        return;
    }
    SetWindowSeconds(settings_.windowSeconds);
    unitFrames_ = std::max<int64_t>(1, std::llround(kUnitSeconds * rate));
    for (int c : numbers) {
        auto ch = std::make_unique<Channel>();
        ch->number = c;
        chans_.push_back(std::move(ch));
    }
    if (settings_.carrierHz != 0)
        for (auto& ch : chans_) {
            ch->reference = settings_.carrierHz;
            ch->state = LiveState::Locked;
            ch->everLocked = true;
        }
    Reset();
}

LiveMeter::~LiveMeter() = default;

// How long the whole run's analyser lets its filters settle: a fifth of
// the run's expected length, from 1 to 4 s, as for a file of that length.
double LiveMeter::RunSettle() const
{
    return std::clamp(settings_.runSeconds / 5, ChannelAnalyser::kSettleSeconds, ChannelAnalyser::kLongestSettleSeconds);
}

double LiveMeter::Seconds() const { return static_cast<double>(frames_) / rate_; }

void LiveMeter::SetWindowSeconds(double seconds)
{
    settings_.windowSeconds = std::clamp(seconds, kShortestWindow, kLongestWindow);
}

// Starts a channel's statistics, the carrier's mean and the plot again on
// its reference.
void LiveMeter::Restart(Channel& c)
{
    c.run = std::make_unique<ChannelAnalyser>(c.trackRate, c.reference, settings_.runSeconds);
    c.windows.clear();
    c.points = 0;
    c.startSeconds = Seconds() + (c.demod ? c.demod->Delay() : 0);
    c.runTone = c.runInput = 0;
    c.runToneCount = c.runInputCount = 0;
    c.units.clear();
    c.steps.clear();
    c.runSum = 0;
    c.runCount = 0;
    c.unit = {};
    c.unitTone = c.unitInput = 0;
    c.unitInputCount = 0;
    c.missed = 0;
    c.shifted = false;
    c.freshMean = false;
    c.plot.clear();
    c.plotSum = 0;
    c.plotCount = 0;
    c.plotStep = std::max(1, static_cast<int>(std::lround(c.trackRate / kPlotRate)));
}

// Locks the channel on a carrier: a new demodulator, the statistics from the start.
void LiveMeter::Lock(Channel& c, double carrierHz)
{
    if (c.everLocked) {
        c.relocked = true;
        ++c.relocks;
    }
    c.everLocked = true;
    c.state = LiveState::Locked;
    c.reference = carrierHz;
    c.demod = std::make_unique<Demodulator>(rate_, carrierHz);
    c.trackRate = c.demod->OutputRate();
    Restart(c);
}

void LiveMeter::Reset()
{
    for (auto& c : chans_) {
        c->relocks = 0;
        c->relocked = false;
        if (c->state == LiveState::Locked && !c->demod) {
            // Locked on the given carrier before any input.
            c->demod = std::make_unique<Demodulator>(rate_, c->reference);
            c->trackRate = c->demod->OutputRate();
        }
        if (c->demod && c->state == LiveState::Locked)
            Restart(*c);
    }
    latest_ = {};
}

void LiveMeter::Push(const float* frames, size_t count)
{
    if (!Ok())
        return;
    // In pieces that end where a unit of the carrier's mean ends, so that
    // the figures do not depend on how the input was cut into blocks.
    while (count > 0) {
        const int64_t toUnit = unitFrames_ - frames_ % unitFrames_;
        const size_t n = static_cast<size_t>(std::min<int64_t>(toUnit, static_cast<int64_t>(count)));
        PushChunk(frames, n);
        frames += n * static_cast<size_t>(nch_);
        count -= n;
    }
}

void LiveMeter::PushChunk(const float* frames, size_t count)
{
    const size_t stride = static_cast<size_t>(nch_);
    for (auto& c : chans_)
        Feed(*c, frames + (c->number - 1), count, stride);
    frames_ += static_cast<int64_t>(count);
    if (frames_ % unitFrames_ != 0)
        return;
    for (auto& c : chans_)
        EndUnit(*c);
    const int64_t updateFrames = unitFrames_ * std::max<int64_t>(1, std::llround(kUpdateSeconds / kUnitSeconds));
    if (frames_ % updateFrames == 0)
        Update();
}

void LiveMeter::Feed(Channel& c, const float* x, size_t n, size_t stride)
{
    if (c.state != LiveState::Locked) {
        for (size_t i = 0; i < n; ++i)
            c.search.push_back(x[i * stride]);
        return;
    }
    double input = 0;
    for (size_t i = 0; i < n; ++i)
        input += static_cast<double>(x[i * stride]) * x[i * stride];
    c.unitInput += input;
    c.unitInputCount += static_cast<int64_t>(n);

    c.track.clear();
    c.demod->Push(x, n, stride, c.track);
    const double window = settings_.windowSeconds;
    const int64_t stagger = std::max<int64_t>(1, std::llround(Stagger(window) * c.trackRate));
    for (const Demodulator::Sample& s : c.track) {
        if (c.points % stagger == 0)
            c.windows.push_back({c.points, std::make_unique<ChannelAnalyser>(c.trackRate, c.reference, 0.0)});
        c.run->Add(s.hz);
        c.runSum += s.hz;
        ++c.runCount;
        // The plot: means of the track from the mean carrier so far, in percent of it.
        c.plotSum += s.hz;
        if (++c.plotCount == c.plotStep) {
            const double mean = c.runSum / static_cast<double>(c.runCount);
            c.plot.emplace_back(c.startSeconds + static_cast<double>(c.points) / c.trackRate,
                                (c.plotSum / c.plotCount - mean) / mean * 100);
            c.plotSum = 0;
            c.plotCount = 0;
        }
        for (auto& w : c.windows)
            w.analyser->Add(s.hz);
        ++c.points;
        c.unit.sum += s.hz;
        ++c.unit.count;
        c.unitTone += s.power;
    }
    // The windows older than the youngest full one are done with.
    const int64_t full = std::llround((window + ChannelAnalyser::kSettleSeconds) * c.trackRate);
    while (c.windows.size() > 1 && c.points - c.windows[1].start >= full)
        c.windows.pop_front();
}

void LiveMeter::EndUnit(Channel& c)
{
    if (c.state != LiveState::Locked) {
        const size_t need = static_cast<size_t>(kSearchSeconds * rate_);
        if (c.search.size() < need)
            return;
        const double hz = FindLiveCarrier(c.search.data(), c.search.size(), 1, rate_);
        if (hz > 0) {
            Lock(c, hz);
            // The half second searched is measured too, as the file meter measures from the start.
            std::vector<float> again;
            again.swap(c.search);
            c.startSeconds = Seconds() - static_cast<double>(again.size()) / rate_ + c.demod->Delay();
            Feed(c, again.data(), again.size(), 1);
            c.unit = {};
            c.unitTone = c.unitInput = 0;
            c.unitInputCount = 0;
        } else {
            c.state = LiveState::NoTone;
            // Look again a unit later at the newest half second.
            c.search.erase(c.search.begin(), c.search.end() - static_cast<std::ptrdiff_t>(need - static_cast<size_t>(unitFrames_)));
        }
        return;
    }
    const Unit u = c.unit;
    const double tone = u.count ? c.unitTone / static_cast<double>(u.count) : 0;
    const double input = c.unitInputCount ? c.unitInput / static_cast<double>(c.unitInputCount) : 0;
    c.runTone += c.unitTone;
    c.runToneCount += u.count;
    c.runInput += c.unitInput;
    c.runInputCount += c.unitInputCount;
    c.unit = {};
    c.unitTone = c.unitInput = 0;
    c.unitInputCount = 0;
    if (u.count == 0)
        return;  // the demodulator is still filling

    if (!(input > 0 && tone > kToneShare * input)) {
        if (++c.missed >= kMissedUnits) {
            // Lost: no figures until a tone is found again.
            c.state = LiveState::NoTone;
            c.demod.reset();
            c.run.reset();
            c.windows.clear();
            c.units.clear();
            c.plot.clear();
            c.search.clear();
        }
        return;
    }
    c.missed = 0;
    const double m = u.Mean();
    const double follow = std::min(kFollowPercent / 100 * c.reference, kFollowHz);
    if (std::abs(m - c.reference) > follow) {
        // Out of the band followed: once more and the tone is locked
        // again where it now is.
        if (c.shifted)
            Lock(c, m);
        else
            c.shifted = true;
        return;
    }
    c.shifted = false;

    // A step in speed starts the carrier's mean again, so that it follows
    // a turned screw at once rather than over a second. A step is a unit
    // that differs from the mean by more than the units' own spread (from
    // their successive differences, which a step of its own leaves out).
    double sum = 0;
    int64_t count = 0;
    for (const Unit& v : c.units) {
        sum += v.sum;
        count += v.count;
    }
    double spread2 = 0;
    for (double d : c.steps)
        spread2 += d;
    const bool known = c.steps.size() >= 5;
    const double spread = known ? std::sqrt(spread2 / static_cast<double>(c.steps.size()) / 2) : 0;
    const double step = std::max(kSpeedStepPercent / 100 * c.reference, 4 * spread);
    // Just after a step the first unit may straddle it: a second unit that
    // differs by half as much starts the mean once more.
    const bool fresh = c.freshMean;
    c.freshMean = false;
    const double diff = c.units.empty() ? 0 : m - c.lastMean;
    if (known && count > 0 && std::abs(m - sum / static_cast<double>(count)) > (fresh ? step / 2 : step)) {
        c.units.clear();
        count = 0;
        c.freshMean = !fresh;
    } else if (!c.units.empty()) {
        c.steps.push_back(diff * diff);
        if (static_cast<double>(c.steps.size()) > kMeanSeconds / kUnitSeconds)
            c.steps.pop_front();
    }
    c.lastMean = m;
    c.units.push_back(u);
    count += u.count;
    const auto meanPoints = static_cast<int64_t>(kMeanSeconds * c.trackRate);
    while (c.units.size() > 1 && count - c.units.front().count >= meanPoints) {
        count -= c.units.front().count;
        c.units.pop_front();
    }
}

LiveChannel LiveMeter::Describe(Channel& c) const
{
    LiveChannel lc;
    lc.channel = c.number;
    lc.state = c.state;
    lc.relocked = c.relocked;
    c.relocked = false;
    lc.relocks = c.relocks;
    if (c.state != LiveState::Locked || !c.run)
        return lc;
    lc.referenceHz = c.reference;
    // A mean started again on one unit waits for the next to confirm it.
    if (!c.shifted && !c.freshMean && !c.units.empty()) {
        double sum = 0;
        int64_t count = 0;
        for (const Unit& v : c.units) {
            sum += v.sum;
            count += v.count;
        }
        lc.carrierHz = sum / static_cast<double>(count);
        if (settings_.nominalHz > 0) {
            lc.speedErrorPercent = SpeedError(*lc.carrierHz, settings_.nominalHz);
            if (lc.speedErrorPercent)
                lc.speedErrorHz = *lc.carrierHz - settings_.nominalHz;
        }
    }
    const double settle = ChannelAnalyser::kSettleSeconds;
    const int64_t full = std::llround((settings_.windowSeconds + settle) * c.trackRate);
    if (!c.shifted && !c.windows.empty() && c.points - c.windows.front().start >= full) {
        lc.window = c.windows.front().analyser->Finish();
        lc.windowSpan = static_cast<double>(c.points - c.windows.front().start) / c.trackRate - settle;
        lc.window->channel = c.number;
        lc.window->seconds = lc.windowSpan;
    }
    const double age = static_cast<double>(c.points) / c.trackRate;
    if (!c.shifted && age >= RunSettle() + kLeastRunSeconds) {
        lc.run = c.run->Finish();
        lc.run->channel = c.number;
        lc.run->seconds = age;
    }
    // A window or run whose figures fail the meter's check shows none.
    for (std::optional<ChannelFigures>* figures : {&lc.window, &lc.run})
        if (*figures && !CheckFigures(**figures, "the input").empty())
            figures->reset();
    const double from = Seconds() - kTrackSeconds;
    while (!c.plot.empty() && c.plot.front().first < from)
        c.plot.pop_front();
    lc.trackSeconds.reserve(c.plot.size());
    lc.trackPercent.reserve(c.plot.size());
    for (const auto& [t, v] : c.plot) {
        lc.trackSeconds.push_back(t);
        lc.trackPercent.push_back(v);
    }
    return lc;
}

void LiveMeter::Update()
{
    latest_.seconds = Seconds();
    latest_.channels.clear();
    for (auto& c : chans_)
        latest_.channels.push_back(Describe(*c));
    if (sink_)
        sink_(latest_);
}

MeterResult LiveMeter::WholeRun() const
{
    MeterResult r;
    r.rate = rate_;
    if (!Ok()) {
        r.message = error_;
        return r;
    }
    for (const auto& c : chans_) {
        const double age = c->run ? static_cast<double>(c->points) / c->trackRate : 0;
        if (c->state != LiveState::Locked || !c->run) {
            r.message = "No tone between " + FixedText(kLowestCarrier, 0) + " and " + FixedText(HighestCarrier(rate_), 0) +
                        " Hz in channel " + std::to_string(c->number) + " of the input.";
            return r;
        }
        if (age < RunSettle() + kLeastRunSeconds) {
            // Its filters' settling time and a second of statistics.
            r.message = "The meter needs at least " + FixedText(RunSettle() + kLeastRunSeconds, 1) +
                        " seconds of the tone in channel " + std::to_string(c->number) + "; it has " + FixedText(age, 2) +
                        " s since it was locked.";
            return r;
        }
        ChannelFigures f = c->run->Finish();
        f.channel = c->number;
        f.seconds = age;
        // The tone against the rest of the input and the nominal tone, as the
        // file meter works them out.
        const double tone = c->runTone / static_cast<double>(std::max<int64_t>(1, c->runToneCount));
        const double input = c->runInput / static_cast<double>(std::max<int64_t>(1, c->runInputCount));
        ApplyToneAndNoise(f, tone, input, c->demod->NoiseGain(), rate_);
        ApplyNominal(f, settings_.nominalHz);
        r.message = CheckFigures(f, "the input");
        if (!r.message.empty()) {
            r.channels.clear();
            return r;
        }
        r.channels.push_back(std::move(f));
    }
    r.ok = true;
    return r;
}

}  // namespace tarvo::meter
