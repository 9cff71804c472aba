#include "meter/LiveMeter.h"

#include "meter/Analyser.h"
#include "meter/Demodulator.h"
#include "meter/Dsp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdio>
#include <deque>

namespace tarvo::meter {

namespace {

constexpr int kLowestRate = 8000;
constexpr double kUnitSeconds = 0.05;   // the carrier's mean is kept, and the tone tested, in units of this length
constexpr double kMeanSeconds = 1;      // the carrier shown is the mean of this long
constexpr double kToneShare = 0.05;     // least share of the input's power in the tone followed, as the file meter
constexpr double kLeastBandSnr = 10;    // the tone over the noise in the demodulator's band (10 dB): below it clicks set in
constexpr int kMissedUnits = 2;         // units without the tone before it counts as lost
constexpr int kMissedLooks = 2;         // looks at the spectrum without a tone before it counts as lost
constexpr double kToneOverFloor = 1000;  // a tone's lobe over the spectrum's median (30 dB)
constexpr double kCarrierShare = 0.1;    // least share of the spectrum's power in the tone found
constexpr double kPlotRate = 100;        // points a second of the scrolling plot
constexpr double kLeastRunSeconds = 1;   // statistics the whole run needs before it shows
constexpr double kPrimeSeconds = 0.25;   // input kept before the lock's second, for the demodulator's filter to fill on
constexpr int kMostWindows = 32;         // sliding-window analysers at once, at most
constexpr double kSteadyRatio = 2;       // a unit's tone within this factor of the others' for a lock

static_assert(LiveMeter::kLockSeconds == ChannelAnalyser::kSettleSeconds,
              "the lock's second is the analysers' settling: the statistics start at the lock");

// One unit of the carrier's track: its sum and count.
struct Unit {
    double sum = 0;
    int64_t count = 0;
    double Mean() const { return sum / static_cast<double>(count); }
};

// Whether a stretch holds a tone the demodulator follows, by the file
// meter's tests: from the mean mixed-down power m (a tone of power T gives
// T/2, and noise of power N gives gN, g the share of white noise the
// demodulator's filter passes) and the input's mean square I = T + N, most
// of the power in the tone followed, and the tone over the noise in the
// demodulator's band by its threshold.
bool ToneHeld(double mixed, double input, double noiseGain)
{
    if (!(input > 0 && mixed > kToneShare * input))
        return false;
    const double tone = (mixed - noiseGain * input) / (0.5 - noiseGain);
    if (!(tone > 0))
        return false;
    const double noise = input - tone;
    return !(noise > 0) || tone / 2 >= kLeastBandSnr * noiseGain * noise;
}

bool AllFinite(const float* x, size_t n)
{
    // A sum of x - x is NaN when any x is NaN or infinite (and 0 otherwise).
    float sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += x[i] - x[i];
    return sum == 0;
}

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

    // The newest input, whatever the state: the spectrum looked at for a
    // tone, and the second a tone must hold before it is locked.
    std::vector<float> history;
    int missedLooks = 0;

    std::unique_ptr<Demodulator> demod;
    std::vector<Demodulator::Sample> track;
    double trackRate = 0;
    int64_t points = 0;       // track points since the statistics started
    double startSeconds = 0;  // input time the first of them stands for
    int64_t settlePoints = 0;  // the analysers' settling, in points
    std::unique_ptr<ChannelAnalyser> run;
    struct Window {
        int64_t start;
        std::unique_ptr<ChannelAnalyser> analyser;
    };
    std::deque<Window> windows;
    int64_t nextWindow = 0;  // the point the next window's analyser starts at
    int64_t windowPoints = 0, staggerPoints = 1;  // the window's statistics, and between two windows' starts
    std::optional<ChannelFigures> window;  // the latest window measured
    double runSum = 0;  // of the track since the statistics started, for the plot's reference
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

    // The scrolling plot: time and mean frequency of each point, referred
    // to the run's mean carrier when shown.
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
    unitFrames_ = std::max<int64_t>(1, std::llround(kUnitSeconds * rate));
    for (int c : numbers) {
        auto ch = std::make_unique<Channel>();
        ch->number = c;
        chans_.push_back(std::move(ch));
    }
    SetWindowSeconds(settings_.windowSeconds);
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

// The band around the reference a carrier is followed in.
double LiveMeter::Follow(double hz) const { return std::min(kFollowPercent / 100 * hz, kFollowHz); }

void LiveMeter::SetWindowSeconds(double seconds)
{
    settings_.windowSeconds = std::clamp(seconds, kShortestWindow, kLongestWindow);
    for (auto& c : chans_)
        ScheduleWindows(*c);
}

// The windows start again from the next point, on the window's length:
// one starts every update (or every few, so that no more than
// kMostWindows are measuring at once), and each gives its figures when its
// statistics have just covered the window.
void LiveMeter::ScheduleWindows(Channel& c) const
{
    c.windows.clear();
    c.window.reset();
    c.nextWindow = c.points;
    if (!(c.trackRate > 0))
        return;
    const double span = settings_.windowSeconds + ChannelAnalyser::kSettleSeconds;
    const double stagger = kUpdateSeconds * std::ceil(span / kMostWindows / kUpdateSeconds - 1e-9);
    c.windowPoints = std::llround(settings_.windowSeconds * c.trackRate);
    c.staggerPoints = std::max<int64_t>(1, std::llround(stagger * c.trackRate));
}

// Starts a channel's statistics, the carrier's mean and the plot again on
// its reference; the points that follow settle the filters first.
void LiveMeter::Restart(Channel& c)
{
    c.trackRate = c.demod->OutputRate();
    c.run = std::make_unique<ChannelAnalyser>(c.trackRate, c.reference, settings_.runSeconds);
    // The analysers' statistics start at the first slow point a settling
    // time in.
    const double slow = c.run->SlowRate();
    c.settlePoints = static_cast<int64_t>(std::ceil(ChannelAnalyser::kSettleSeconds * slow - 1e-9)) *
                     std::max<int64_t>(1, std::llround(c.trackRate / slow));
    c.points = 0;
    c.startSeconds = Seconds() + c.demod->Delay();
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
    c.missedLooks = 0;
    c.shifted = false;
    c.freshMean = false;
    c.plot.clear();
    c.plotSum = 0;
    c.plotCount = 0;
    c.plotStep = std::max(1, static_cast<int>(std::lround(c.trackRate / kPlotRate)));
    ScheduleWindows(c);
}

// Locks the channel on a tone near carrierHz if the last second of its
// input holds it throughout, tested a unit at a time as when it is
// followed: a new demodulator on the input kept, whose last second settles
// the analysers' filters, so that the statistics start at the lock.
bool LiveMeter::TryLock(Channel& c, double carrierHz)
{
    const size_t unit = static_cast<size_t>(unitFrames_);
    const size_t units = static_cast<size_t>(std::llround(kLockSeconds / kUnitSeconds));
    if (c.history.size() < units * unit)
        return false;
    auto demod = std::make_unique<Demodulator>(rate_, carrierHz);
    const double gain = demod->NoiseGain();
    // Each unit's frequency, mixed power and input sums, and whether it
    // holds the tone followed.
    std::vector<Demodulator::Sample> out;
    auto test = [&](const float* x, std::array<double, 3>& sums) {
        sums = {0, 0, 0};
        for (const Demodulator::Sample& s : out) {
            sums[0] += s.hz;
            sums[1] += s.power;
        }
        for (size_t i = 0; i < unit; ++i)
            sums[2] += static_cast<double>(x[i]) * x[i];
        const double n = static_cast<double>(out.size());
        return ToneHeld(sums[1] / n, sums[2] / static_cast<double>(unit), gain) &&
               std::abs(sums[0] / n - carrierHz) <= Follow(carrierHz);
    };
    // Before the second, the input its first points reach back to (where
    // there is any): the filter fills on it, and it must hold the tone as
    // well, or its start would pass for a swing of the tone.
    const size_t primeUnits = (demod->Taps() + unit - 1) / unit;
    const size_t fed = std::min(c.history.size(), (units + primeUnits) * unit);
    const float* x = c.history.data() + (c.history.size() - fed);
    std::array<double, 3> unitSums{};
    std::vector<std::pair<double, double>> levels;  // each unit's mixed power and its share of the input's
    auto level = [&]() {
        const double mixed = unitSums[1] / static_cast<double>(out.size());
        levels.emplace_back(mixed, mixed / (unitSums[2] / static_cast<double>(unit)));
    };
    size_t primed = 0;
    for (size_t at = 0; at + units * unit < fed; at += unit) {
        out.clear();
        demod->Push(x + at, unit, 1, out);
        primed += out.size();
        if (out.empty())
            continue;
        if (!test(x + at, unitSums))
            return false;
        level();
    }
    const size_t primeLevels = levels.size();
    x += fed - units * unit;
    std::vector<Demodulator::Sample> points;
    std::vector<std::array<double, 3>> sums;
    for (size_t u = 0; u < units; ++u) {
        out.clear();
        demod->Push(x + u * unit, unit, 1, out);
        if (out.empty() || !test(x + u * unit, unitSums))
            return false;
        level();
        sums.push_back(unitSums);
        points.insert(points.end(), out.begin(), out.end());
    }
    // And a steady tone: noise that passes those tests (noise in a narrow
    // band around the carrier does) has neither the tone's level nor its
    // share of the input.
    auto median = [&](auto of) {
        std::vector<double> v;
        for (size_t i = primeLevels; i < levels.size(); ++i)
            v.push_back(of(levels[i]));
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    const double mixed = median([](const auto& l) { return l.first; });
    const double share = median([](const auto& l) { return l.second; });
    for (const auto& [m, sh] : levels)
        if (!(m > mixed / kSteadyRatio && m < mixed * kSteadyRatio && sh > share / kSteadyRatio))
            return false;
    if (c.everLocked) {
        c.relocked = true;
        ++c.relocks;
    }
    c.everLocked = true;
    c.state = LiveState::Locked;
    double sum = 0;
    for (const auto& s : sums)
        sum += s[0];
    c.reference = sum / static_cast<double>(points.size());
    c.demod = std::move(demod);
    Restart(c);
    // The second measured: exactly the analysers' settling. Where the input
    // began within it (the filter still filling), its first point stands for
    // the moments before.
    const size_t produced = primed + points.size();
    const double last = Seconds() - static_cast<double>(fed) / rate_ + c.demod->Delay() +
                        static_cast<double>(produced - 1) / c.trackRate;
    c.startSeconds = last - static_cast<double>(c.settlePoints - 1) / c.trackRate;
    const auto settle = static_cast<size_t>(c.settlePoints);
    if (points.size() > settle)
        points.erase(points.begin(), points.end() - static_cast<std::ptrdiff_t>(settle));
    else
        points.insert(points.begin(), settle - points.size(), points.front());
    // Unit by unit, as they would have come.
    size_t next = 0;
    for (size_t u = 0; u < units; ++u) {
        const size_t end = u + 1 == units ? points.size() : std::min(points.size(), (u + 1) * points.size() / units);
        for (; next < end; ++next)
            AddPoint(c, points[next]);
        c.unitInput = sums[u][2];
        c.unitInputCount = static_cast<int64_t>(unit);
        TakeUnit(c);
    }
    return true;
}

// Gives up the channel's tone: no figures until one is locked again.
void LiveMeter::Drop(Channel& c, LiveState state)
{
    c.state = state;
    c.demod.reset();
    c.run.reset();
    c.windows.clear();
    c.window.reset();
    c.units.clear();
    c.plot.clear();
    c.points = 0;
    c.trackRate = 0;
    c.missed = 0;
    c.missedLooks = 0;
    c.shifted = false;
}

void LiveMeter::Reset()
{
    for (auto& c : chans_) {
        c->relocks = 0;
        c->relocked = false;
        if (c->state == LiveState::Locked && !c->demod)  // locked on the given carrier before any input
            c->demod = std::make_unique<Demodulator>(rate_, c->reference);
        if (c->demod && c->state == LiveState::Locked)
            Restart(*c);
    }
    latest_ = {};
}

bool LiveMeter::Push(const float* frames, size_t count)
{
    if (!Ok())
        return false;
    if (!AllFinite(frames, count * static_cast<size_t>(nch_))) {
        // Not measured: the tone is looked for afresh after it.
        for (auto& c : chans_) {
            if (c->state == LiveState::Locked)
                Drop(*c, LiveState::NoTone);
            c->history.clear();
            c->unit = {};
            c->unitTone = c->unitInput = 0;
            c->unitInputCount = 0;
        }
        return false;
    }
    // In pieces that end where a unit of the carrier's mean ends, so that
    // the figures do not depend on how the input was cut into blocks.
    while (count > 0) {
        const int64_t toUnit = unitFrames_ - frames_ % unitFrames_;
        const size_t n = static_cast<size_t>(std::min<int64_t>(toUnit, static_cast<int64_t>(count)));
        PushChunk(frames, n);
        frames += n * static_cast<size_t>(nch_);
        count -= n;
    }
    return true;
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
    for (size_t i = 0; i < n; ++i)
        c.history.push_back(x[i * stride]);
    if (c.state != LiveState::Locked)
        return;
    double input = 0;
    for (size_t i = 0; i < n; ++i)
        input += static_cast<double>(x[i * stride]) * x[i * stride];
    c.unitInput += input;
    c.unitInputCount += static_cast<int64_t>(n);

    c.track.clear();
    c.demod->Push(x, n, stride, c.track);
    for (const Demodulator::Sample& s : c.track)
        AddPoint(c, s);
}

// One point of the track into the run, the windows, the plot and the unit.
void LiveMeter::AddPoint(Channel& c, const Demodulator::Sample& s)
{
    if (c.points == c.nextWindow) {
        c.windows.push_back({c.points, std::make_unique<ChannelAnalyser>(c.trackRate, c.reference, 0.0)});
        c.nextWindow += c.staggerPoints;
    }
    c.run->Add(s.hz);
    c.runSum += s.hz;
    ++c.runCount;
    c.plotSum += s.hz;
    if (++c.plotCount == c.plotStep) {
        // At the middle of the points it is the mean of.
        c.plot.emplace_back(c.startSeconds + (static_cast<double>(c.points) - (c.plotStep - 1) / 2.0) / c.trackRate,
                            c.plotSum / c.plotCount);
        c.plotSum = 0;
        c.plotCount = 0;
    }
    for (auto& w : c.windows)
        w.analyser->Add(s.hz);
    ++c.points;
    c.unit.sum += s.hz;
    ++c.unit.count;
    c.unitTone += s.power;
    // A window whose statistics have just reached the window's length gives
    // its figures, and is done with.
    if (!c.windows.empty() && c.points - c.windows.front().start == c.settlePoints + c.windowPoints) {
        c.window = c.windows.front().analyser->Finish();
        c.window->channel = c.number;
        c.window->seconds = static_cast<double>(c.windowPoints) / c.trackRate;
        c.windows.pop_front();
    }
}

void LiveMeter::EndUnit(Channel& c)
{
    // The input kept: the lock's second and what its filter fills on.
    const size_t keep = static_cast<size_t>(unitFrames_) *
                        static_cast<size_t>(std::llround((kLockSeconds + kPrimeSeconds) / kUnitSeconds));
    if (c.history.size() > keep)
        c.history.erase(c.history.begin(), c.history.end() - static_cast<std::ptrdiff_t>(keep));
    const size_t look = static_cast<size_t>(kSearchSeconds * rate_);
    if (c.state != LiveState::Locked) {
        if (c.history.size() < look)
            return;
        const double hz = FindLiveCarrier(c.history.data() + (c.history.size() - look), look, 1, rate_);
        if (hz > 0) {
            if (!TryLock(c, hz))
                c.state = LiveState::Searching;  // a tone, not yet held for the lock's second
        } else {
            c.state = LiveState::NoTone;
        }
        return;
    }
    // The tone must still stand over the spectrum around it: at every
    // update, on the newest input.
    const int64_t updateUnits = std::max<int64_t>(1, std::llround(kUpdateSeconds / kUnitSeconds));
    if ((frames_ / unitFrames_) % updateUnits == 0 && c.history.size() >= look) {
        if (FindLiveCarrier(c.history.data() + (c.history.size() - look), look, 1, rate_) > 0)
            c.missedLooks = 0;
        else if (++c.missedLooks >= kMissedLooks)
            return Drop(c, LiveState::NoTone);
    }
    TakeUnit(c);
}

// The unit just gathered: the tests of the tone, the band followed and the
// carrier's mean.
void LiveMeter::TakeUnit(Channel& c)
{
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

    if (!ToneHeld(tone, input, c.demod->NoiseGain())) {
        if (++c.missed >= kMissedUnits)
            Drop(c, LiveState::NoTone);  // lost: no figures until a tone is found again
        return;
    }
    c.missed = 0;
    const double m = u.Mean();
    if (std::abs(m - c.reference) > Follow(c.reference)) {
        // Out of the band followed: once more and the tone is looked for
        // afresh where it now is.
        if (c.shifted)
            Drop(c, LiveState::Searching);
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
    if (!c.shifted && c.window) {
        lc.window = c.window;
        lc.windowSpan = c.window->seconds;
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
    if (!lc.window)
        lc.windowSpan = 0;
    // The plot, in percent of the run's mean carrier.
    const double from = Seconds() - kTrackSeconds;
    while (!c.plot.empty() && c.plot.front().first < from)
        c.plot.pop_front();
    const double mean = c.runCount ? c.runSum / static_cast<double>(c.runCount) : c.reference;
    lc.trackSeconds.reserve(c.plot.size());
    lc.trackPercent.reserve(c.plot.size());
    for (const auto& [t, hz] : c.plot) {
        lc.trackSeconds.push_back(t);
        lc.trackPercent.push_back((hz - mean) / mean * 100);
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
