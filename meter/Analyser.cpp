#include "meter/Analyser.h"

#include "meter/Lines.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <numbers>

namespace tarvo::meter {

namespace {

constexpr double kSlowRate = 2000;      // aimed-at rate of the weighted and band-limited paths
constexpr double kAntiAliasHz = 400;
constexpr double kWowFlutterHz = 6;
constexpr int kSplitOrder = 12;
constexpr double kBandLowHz = 0.2;
constexpr double kBandHighHz = 200;
// The band's edges: a third-order high-pass whose gain at 0.2 Hz is 0.997,
// and a 14th-order Chebyshev low-pass, flat within 0.3 % up to the band's
// top and down 3 dB 3 % over it. The tone's frequency noise rises as f^2: a
// gentler top (an eighth-order Butterworth flat to 200 Hz has its corner at
// 275 Hz) lets in 2.7 times the noise power of the band itself, where this
// one lets in 9 % more (4 % on an rms).
constexpr int kLowOrder = 3, kHighOrder = 14;
constexpr double kEdgeGain = 0.997;
constexpr double kSpectrumSeconds = 16;  // segment length: 1/16 Hz bins, lines from 0.2 Hz
constexpr double kShortSegmentShare = 0.98;  // of a short file's measured part, in its one segment
constexpr int kEnvelopeBuckets = 1000;
constexpr size_t kMaxLines = 5;
constexpr double kLineShare = 0.01;      // a line's level against the strongest
constexpr int kInterpTaps = 12;
// Below this a line would read 0.0000 %: the demodulator's own rounding.
constexpr double kLeastLinePercent = 0.00005;

double TwoPi() { return 2 * std::numbers::pi; }

// Takes one more segment mean into the lowest and highest of the means so far.
void TakeSegmentMean(double mean, int meansSoFar, double& lo, double& hi)
{
    lo = meansSoFar ? std::min(lo, mean) : mean;
    hi = meansSoFar ? std::max(hi, mean) : mean;
}

}  // namespace

AnaloguePrototype WeightingPrototype()
{
    // Fitted to the standard's table (0.1 to 200 Hz) by least squares, within
    // 0.3 dB at every point: a third-order high-pass (a real pole and a
    // pair; the zeros at the origin), a first-order low-pass, and two
    // pole-zero pairs that shape the upper slope. Frequencies in Hz.
    constexpr double kReal = 1.5888141414664312, kPair = 0.43724913469621396, kPairQ = 0.67653698042654409;
    constexpr double kLow = 25.692217249278617;
    constexpr double kZero1 = 130.96470541259851, kPole1 = 148.59523661753383;
    constexpr double kZero2 = 18.529684977670527, kPole2 = 7.9094301787859056;
    const double w = TwoPi();
    AnaloguePrototype p;
    p.zeros = {0.0, 0.0, 0.0, -w * kZero1, -w * kZero2};
    const double wp = w * kPair;
    const double re = -wp / (2 * kPairQ);
    const double im2 = wp * wp - re * re;
    if (im2 > 0) {
        p.poles.push_back({re, std::sqrt(im2)});
    } else {
        p.poles.push_back(re + std::sqrt(-im2));
        p.poles.push_back(re - std::sqrt(-im2));
    }
    p.poles.push_back(-w * kReal);
    p.poles.push_back(-w * kLow);
    p.poles.push_back(-w * kPole1);
    p.poles.push_back(-w * kPole2);
    return p;
}

Cascade WeightingFilter(double rate) { return Bilinear(WeightingPrototype(), rate, 4.0); }

double BandHigh(double carrierHz) { return std::min(kBandHighHz, carrierHz / 4); }

namespace {

// The low-pass that ends both paths at the band's top.
Cascade BandTop(double rate, double bandHighHz)
{
    return ChebyshevLowPass(kHighOrder, std::min(bandHighHz, 0.4 * rate), kEdgeGain, rate);
}

}  // namespace

Cascade UnweightedFilter(double rate, double bandHighHz)
{
    // Butterworth: |H|^2 = 1 / (1 + (fc/f)^2n) at the edge gives the corner.
    const double edge = std::pow(1 / (kEdgeGain * kEdgeGain) - 1, 1.0 / (2 * kLowOrder));
    std::vector<Biquad> s = ButterworthHighPass(kLowOrder, kBandLowHz * edge, rate).Sections();
    const Cascade low = BandTop(rate, bandHighHz);
    s.insert(s.end(), low.Sections().begin(), low.Sections().end());
    return Cascade(std::move(s));
}

Cascade WeightedPath(double rate, double bandHighHz)
{
    std::vector<Biquad> s = WeightingFilter(rate).Sections();
    const Cascade low = BandTop(rate, bandHighHz);
    s.insert(s.end(), low.Sections().begin(), low.Sections().end());
    return Cascade(std::move(s));
}

Cascade WowFilter(double rate) { return ButterworthLowPass(kSplitOrder, kWowFlutterHz, rate); }
Cascade FlutterFilter(double rate) { return ButterworthHighPass(kSplitOrder, kWowFlutterHz, rate); }

NoiseFloors NoiseFloorsHz(double noiseToTone, double bandHighHz)
{
    if (!(noiseToTone > 0))
        return {};
    // The integrals of |H|^2 f^2 by the midpoint rule, the same for every
    // file of one band: worked out once for each (a few dozen kept; most
    // batches hold one band). The steep top leaves nothing past four times
    // the band's top.
    static std::mutex guard;
    static std::map<double, std::array<double, 3>> known;
    std::array<double, 3> integral{-1, 0, 0};
    {
        const std::lock_guard lock(guard);
        if (const auto it = known.find(bandHighHz); it != known.end())
            integral = it->second;
    }
    if (integral[0] < 0) {
        const double rate = kSlowRate;
        const Cascade w = WeightedPath(rate, bandHighHz), u = UnweightedFilter(rate, bandHighHz);
        const Cascade fl = FlutterFilter(rate);
        const double df = bandHighHz / 4000;
        integral = {0, 0, 0};
        for (double f = df / 2; f < std::min(4 * bandHighHz, rate / 2); f += df) {
            // The phase step reads f as sin(x)/x of itself (x = pi f / rate),
            // which the 3-tap correction undoes.
            const double x = std::numbers::pi * f / rate;
            const double droop = std::sin(x) / x * (13.0 / 12 - std::cos(2 * x) / 12);
            const double g = droop * droop * f * f * df;
            const std::complex<double> hu = u.Response(f, rate);
            integral[0] += std::norm(w.Response(f, rate)) * g;
            integral[1] += std::norm(hu) * g;
            integral[2] += std::norm(hu * fl.Response(f, rate)) * g;
        }
        const std::lock_guard lock(guard);
        if (known.size() >= 64)
            known.clear();
        known.emplace(bandHighHz, integral);
    }
    constexpr double kTwoSigma = 1.959964;
    return {kTwoSigma * std::sqrt(noiseToTone * integral[0]), kTwoSigma * std::sqrt(noiseToTone * integral[1]),
            std::sqrt(noiseToTone * integral[2])};
}

double NoiseFloorHz(double snr, double sampleRate, double bandHighHz)
{
    if (!(snr > 0) || !(sampleRate > 0))
        return 0;
    return NoiseFloorsHz(2 / (sampleRate * snr), bandHighHz).weightedTwoSigma;
}

LevelHistogram::LevelHistogram(double fullScale)
    : lowest_(std::ldexp(fullScale, -kOctaves)), inverse_(1 / lowest_), bins_(kOctaves * kBinsPerOctave, 0)
{
}

// The lower edge of bin i.
double LevelHistogram::Edge(size_t i) const
{
    const size_t octave = i / kBinsPerOctave, sub = i % kBinsPerOctave;
    return std::ldexp(lowest_ * (0.5 + static_cast<double>(sub) / (2 * kBinsPerOctave)), static_cast<int>(octave) + 1);
}

double LevelHistogram::Exceeded(double fraction) const
{
    if (count_ == 0)
        return 0;
    const double target = fraction * static_cast<double>(count_);
    double above = 0;
    for (size_t i = bins_.size(); i-- > 0;) {
        const double here = static_cast<double>(bins_[i]);
        if (above + here >= target && here > 0) {
            // Spread evenly over the bin: the point where `target` lie above.
            const double within = (target - above) / here;
            const double lo = Edge(i), hi = i + 1 < bins_.size() ? Edge(i + 1) : 2 * Edge(i) - Edge(i - 1);
            return hi - within * (hi - lo);
        }
        above += here;
    }
    return 0;
}

double LevelHistogram::SafeFloor(double fraction, int64_t finalCount, double from) const
{
    if (!(from > lowest_))
        return 0;
    const double target = fraction * static_cast<double>(finalCount);
    // Bins above `from` are taken as empty: counting fewer only lowers the floor.
    int64_t above = 0;
    for (size_t i = BinIndex(from / lowest_); i > 0; --i) {
        above += bins_[i];
        // One bin lower again: a reading just under an edge may round into
        // the bin above it.
        if (static_cast<double>(above) >= target)
            return Edge(i - 1);
    }
    return 0;
}

ChannelAnalyser::ChannelAnalyser(double trackRate, double referenceHz, double seconds)
    : reference_(referenceHz),
      seconds_(seconds),
      bandHigh_(BandHigh(referenceHz)),
      histWeighted_(referenceHz),
      histUnweighted_(referenceHz)
{
    slowStep_ = std::max(1, static_cast<int>(std::lround(trackRate / kSlowRate)));
    slowRate_ = trackRate / slowStep_;
    antiAlias_ = ButterworthLowPass(6, std::min(kAntiAliasHz, 0.2 * trackRate), trackRate);
    weighting_ = WeightedPath(slowRate_, bandHigh_);
    unweighted_ = UnweightedFilter(slowRate_, bandHigh_);
    wow_ = WowFilter(slowRate_);
    flutter_ = FlutterFilter(slowRate_);
    segLength_ = std::max<int64_t>(1, std::llround(kDriftSegmentSeconds * trackRate));
    settle_ = std::clamp(seconds / 5, kSettleSeconds, kLongestSettleSeconds);
    taper_ = std::min(kTaperSeconds, std::max(0.0, seconds - settle_) / 4);
    // Times well inside both fades' ends, where the weight is surely 1.
    fullFrom_ = settle_ + taper_ * (1 + 1e-9);
    fullTo_ = seconds > 0 ? seconds - taper_ * (1 + 1e-9) : std::numeric_limits<double>::infinity();
    // Windowed-sinc phases at (p / kOversample) between the middle two of
    // kInterpTaps points.
    interp_.assign(kInterpTaps * kOversample, 0.0);
    for (int p = 1; p < kOversample; ++p) {
        std::vector<double> h(kInterpTaps);
        double sum = 0;
        for (int k = 0; k < kInterpTaps; ++k) {
            const double t = k - (kInterpTaps / 2 - 1) - static_cast<double>(p) / kOversample;
            const double x = std::numbers::pi * t;
            const double r = t / (kInterpTaps / 2.0);
            h[static_cast<size_t>(k)] = std::sin(x) / x * std::cos(std::numbers::pi / 2 * r) * std::cos(std::numbers::pi / 2 * r);
            sum += h[static_cast<size_t>(k)];
        }
        double gain = 0, mid = 0;
        for (int k = 0; k < kInterpTaps; ++k) {
            const double tap = h[static_cast<size_t>(k)] / sum;
            interp_[static_cast<size_t>(k * kOversample + p - 1)] = tap;
            gain += std::abs(tap);
            if (k == kInterpTaps / 2 - 1 || k == kInterpTaps / 2)
                mid += std::abs(tap);
        }
        interpGain_ = std::max(interpGain_, gain);
        interpMid_ = std::max(interpMid_, mid);
        interpOuter_ = std::max(interpOuter_, gain - mid);
    }
    // A little over: the sums' own rounding.
    interpGain_ *= 1 + 1e-9;
    interpMid_ *= 1 + 1e-9;
    interpOuter_ *= 1 + 1e-9;
    lead_.reserve(static_cast<size_t>(kLeadSeconds * slowRate_) + 1);

    // The band ends at 200 Hz: about 1 kHz is enough for its spectrum.
    specStep_ = std::max(1, static_cast<int>(slowRate_ / 1000));
    specCountdown_ = specStep_;
    const double specRate = slowRate_ / specStep_;
    const double usable = std::max(0.0, seconds - std::clamp(seconds / 5, kSettleSeconds, kLongestSettleSeconds)) * specRate;
    // A measured part of 16 s or more: segments of the longest power of
    // two up to 16 s that it fills (1/16 Hz bins).
    size_t len = 64;
    while (static_cast<double>(len * 2) <= usable && static_cast<double>(len) < kSpectrumSeconds * specRate)
        len *= 2;
    specLength_ = specData_ = len;
    // A shorter one (a file's length known): one segment of nearly all of
    // it, zero-padded to a power of two, so that a file of T usable
    // seconds resolves 1/T Hz and lists lines from 3/T Hz (0.4 Hz at 7.6 s).
    // A little is left over for the demodulator's last points, which the
    // file's length promises but its filter keeps.
    if (usable > 0 && usable < kSpectrumSeconds * specRate) {
        specData_ = std::max<size_t>(64, static_cast<size_t>(usable * kShortSegmentShare));
        specLength_ = std::bit_ceil(specData_);
    }
    plan_ = &SharedRealFftPlan(specLength_);
    specBuf_.reserve(specData_);
    specPower_.assign(specLength_ / 2 + 1, 0.0);
    hann_ = specData_ == specLength_ ? SharedHannWindow(specData_) : HannWindow(specData_);

    envMin_.assign(kEnvelopeBuckets, 0);
    envMax_.assign(kEnvelopeBuckets, 0);
    envSet_.assign(kEnvelopeBuckets, 0);
}

void ChannelAnalyser::Add(double hz)
{
    // The frequency from the phase advance over one step reads a deviation
    // at f as sin(pi f T) / (pi f T) of itself: [-1/24, 1 + 1/12, -1/24]
    // gives it back within 0.1 % up to 200 Hz at 2 kHz.
    const double raw = hz - reference_;
    if (n_ == 0)
        prev1_ = prev2_ = raw;
    const double x = -prev2_ / 24 + prev1_ * (1 + 1.0 / 12) - raw / 24;
    prev2_ = prev1_;
    prev1_ = raw;
    if (n_ == 0)
        antiAlias_.SettleOn(x);
    sumHz_ += hz;

    segSum_ += hz;
    if (++segCount_ == segLength_) {
        TakeSegmentMean(segSum_ / static_cast<double>(segCount_), segments_, segMin_, segMax_);
        ++segments_;
        segSum_ = 0;
        segCount_ = 0;
    }

    if (slowStep_ == 1) {
        AddSlow(x);
    } else {
        const double y = antiAlias_.Process(x);
        if (n_ % slowStep_ == 0)
            AddSlow(y);
    }
    ++n_;
}

void ChannelAnalyser::ExpectAtMost(int64_t points) { expected_ = std::max<int64_t>(0, points); }

void ChannelAnalyser::AddSlow(double y)
{
    if (started_) {
        pending_.push_back(y);
        if (pending_.size() == kBlock)
            RunPending();
        return;
    }
    lead_.push_back(y);
    if (static_cast<double>(lead_.size()) >= kLeadSeconds * slowRate_)
        StartFilters();
}

// The filters start at rest on the held points' mean, taken under a Hann
// window so that a slow modulation's part cycle hardly moves it: a filter
// that started on the first point would take that point's offset from the
// mean for a step, whose slow decay the statistics would carry for seconds.
void ChannelAnalyser::StartFilters()
{
    if (started_)
        return;
    started_ = true;
    double sum = 0, weight = 0;
    const std::vector<double> w = HannWindow(lead_.size() + 1);
    for (size_t i = 0; i < lead_.size(); ++i) {
        sum += lead_[i] * w[i + 1];
        weight += w[i + 1];
    }
    const double mean = weight > 0 ? sum / weight : 0;
    if (bandFollows_ && BandHigh(reference_ + mean) != bandHigh_) {
        bandHigh_ = BandHigh(reference_ + mean);
        weighting_ = WeightedPath(slowRate_, bandHigh_);
        unweighted_ = UnweightedFilter(slowRate_, bandHigh_);
    }
    weighting_.SettleOn(mean);
    unweighted_.SettleOn(mean);
    wow_.SettleOn(0);
    flutter_.SettleOn(0);
    chain_ = FilterChain(weighting_, unweighted_, wow_, flutter_);
    for (double y : lead_) {
        pending_.push_back(y);
        if (pending_.size() == kBlock)
            RunPending();
    }
    lead_.clear();
    lead_.shrink_to_fit();
}

// The points held: the filters over the whole block first (wow and flutter
// come FilterChain::kLag points behind), then the statistics of every point
// whose four outputs are out, in order.
void ChannelAnalyser::RunPending()
{
    const size_t m = pending_.size();
    if (m == 0)
        return;
    blockW_.resize(m);
    blockU_.resize(m);
    blockWow_.resize(m);
    blockFlutter_.resize(m);
    const int64_t first = chain_.Points();
    chain_.Run(pending_.data(), m, blockW_.data(), blockU_.data(), blockWow_.data(), blockFlutter_.data());
    constexpr size_t kMask = FilterChain::kLag - 1;
    for (size_t i = 0; i < m; ++i) {
        // The wow and flutter out at this point are those of the point kLag
        // before, whose y, w and u this point's slot holds; a point taken
        // by RunLast has had its statistics.
        const int64_t point = first + static_cast<int64_t>(i) - static_cast<int64_t>(FilterChain::kLag);
        std::array<double, 3>& slot = awaiting_[static_cast<size_t>(first + static_cast<int64_t>(i)) & kMask];
        if (point >= ranUpTo_) {
            Run(slot[0], slot[1], slot[2], blockWow_[i], blockFlutter_[i]);
            ranUpTo_ = point + 1;
        }
        slot = {pending_[i], blockW_[i], blockU_[i]};
    }
    pending_.clear();
    AddLevels();
}

// The statistics of the points still waiting for their wow and flutter.
void ChannelAnalyser::RunLast()
{
    double wo[FilterChain::kLag], fl[FilterChain::kLag];
    const size_t owed = chain_.Flush(wo, fl);
    const int64_t first = chain_.Points() - static_cast<int64_t>(owed);
    for (size_t j = 0; j < owed; ++j) {
        const int64_t point = first + static_cast<int64_t>(j);
        if (point < ranUpTo_)
            continue;
        const std::array<double, 3>& p = awaiting_[static_cast<size_t>(point) & (FilterChain::kLag - 1)];
        Run(p[0], p[1], p[2], wo[j], fl[j]);
    }
    ranUpTo_ = chain_.Points();
    AddLevels();
}

void ChannelAnalyser::Run(double y, double w, double u, double wo, double fl)
{
    const double t = static_cast<double>(nSlow_) / slowRate_;
    ++nSlow_;

    if (sink_)
        sink_(t, y, w);

    // The bucket is worked out afresh only where the time may have passed
    // into the next one.
    if (seconds_ > 0 && t >= envNext_) {
        envBucket_ = std::min<size_t>(kEnvelopeBuckets - 1, static_cast<size_t>(t / seconds_ * kEnvelopeBuckets));
        envNext_ = static_cast<double>(envBucket_ + 1) * seconds_ / kEnvelopeBuckets * (1 - 1e-9);
    }
    if (seconds_ > 0) {
        const size_t b = envBucket_;
        envMin_[b] = envSet_[b] ? std::min(envMin_[b], y) : y;
        envMax_[b] = envSet_[b] ? std::max(envMax_[b], y) : y;
        envSet_[b] = 1;
    }
    // The unweighted path's slow high-pass carries a start longest when it
    // starts late: its two-sigma reads from the first second on, the
    // weighting's (whose slow poles need longer) after the settling.
    if (t >= kSettleSeconds)
        levelsU_.queue.push_back(u);
    if (t < settle_)
        return;
    // The two-sigma value is read from the deviation's magnitude itself, the
    // level it exceeds 5 % of the time: a sinusoid of peak d reads
    // d sin(0.95 x 90 deg) = 0.99692 d at any rate, where a quasi-peak
    // detector's leak would let slow rates droop and hold a start transient.
    levelsW_.queue.push_back(w);
    // The rms sums fade in after the settling and out before the end.
    double weight = 1;
    // Between the fades the weight is 1 exactly: nothing to work out.
    if (taper_ > 0 && !(t >= fullFrom_ && t <= fullTo_)) {
        const double in = std::min(1.0, (t - settle_) / taper_);
        const double out = seconds_ > 0 ? std::clamp((seconds_ - t) / taper_, 0.0, 1.0) : 1.0;
        if (in < 1 || out < 1)
            weight = (0.5 - 0.5 * std::cos(std::numbers::pi * in)) * (0.5 - 0.5 * std::cos(std::numbers::pi * out));
    }
    sumW2_ += weight * w * w;
    sumU2_ += weight * u * u;
    sumWow2_ += weight * wo * wo;
    sumFl2_ += weight * fl * fl;
    sumWeight_ += weight;
    ++nStats_;

    if (--specCountdown_ == 0) {
        specCountdown_ = specStep_;
        specBuf_.push_back(u);
        if (specBuf_.size() == specData_)
            FoldSpectrum();
    }
}

// Raises the level under which the paths' points no longer matter (see
// LevelHistogram::SafeFloor): each point adds at most kOversample readings.
void ChannelAnalyser::RaiseFloors()
{
    const int64_t readings = kOversample * (expected_ / slowStep_ + 2);
    for (LevelPath* p : {&levelsW_, &levelsU_})
        p->floor = std::max(p->floor, p->hist.SafeFloor(0.05, readings, interpGain_ * p->largest));
}

void ChannelAnalyser::AddLevels()
{
    for (LevelPath* p : {&levelsU_, &levelsW_})
        if (!p->queue.empty())
            AddLevels(*p);
    // A floor raised every second or so is as good as one raised at every
    // block, at a fraction of the cost.
    if (expected_ > 0 && nSlow_ - floorsAt_ >= 2048) {
        RaiseFloors();
        floorsAt_ = nSlow_;
    }
}

// Adds the magnitudes of the points queued on the path and those
// interpolated between them. Each point's interval (between the middle two
// of the last kInterpTaps points) gives kOversample readings: where both
// its ends lie under a quarter of the largest magnitude so far, all count
// at the first one's level (they lie far under any two-sigma level, which
// the interpolation is for); where the track rises or falls steadily
// through the interval and either side of it, the readings lie on the
// straight line; otherwise (a turn) a windowed sinc gives them. Readings
// under the floor are only counted. The order of additions does not change
// a histogram, so the intervals go by kind, with no guessing which way each
// goes; only the largest magnitude so far must go in order.
void ChannelAnalyser::AddLevels(LevelPath& path)
{
    constexpr size_t n = kInterpTaps;
    std::vector<double>& x = path.window;  // the last n - 1 points before the queue, then the queue
    if (x.empty())
        x.assign(n - 1, 0.0);
    x.insert(x.end(), path.queue.begin(), path.queue.end());
    path.queue.clear();
    LevelHistogram& hist = path.hist;
    const double floor = path.floor;
    // In order: the warm-up's points alone, then for each interval the
    // largest magnitude so far and its kind. An interval's kind and whether
    // it lies under the floor are a guess for the processor with noise, so
    // they are worked out without branches: the quiet intervals and those
    // under the floor are only counted, the others listed by kind.
    // x[j - n + 1 .. j] is point j's window.
    size_t j = n - 1;
    for (; j < x.size() && path.count + 1 < static_cast<int64_t>(n); ++j) {
        ++path.count;
        hist.Add(std::abs(x[j]));
    }
    const size_t rest = x.size() - j;
    path.count += static_cast<int64_t>(rest);
    std::vector<size_t>& quiet = path.quiet;
    std::vector<size_t>& straight = path.straight;
    std::vector<size_t>& turns = path.turns;
    quiet.resize(rest);
    straight.resize(rest);
    turns.resize(rest);
    size_t nq = 0, ns = 0, nt = 0;
    int64_t under = 0;
    double largest = path.largest;
    for (; j < x.size(); ++j) {
        const double* w = x.data() + j + 1 - n;
        const double a = std::abs(w[n / 2 - 1]), b = std::abs(w[n / 2]);
        const double ends = std::max(a, b);
        largest = std::max(largest, ends);
        const double s0 = w[n / 2 - 1] - w[n / 2 - 2], s1 = w[n / 2] - w[n / 2 - 1], s2 = w[n / 2 + 1] - w[n / 2];
        const bool isQuiet = ends < largest / 4;
        const bool isStraight = (s0 * s1 > 0) & (s1 * s2 > 0);
        // Quiet: all count at a. Straight: none exceeds the larger end.
        const bool isUnder = isQuiet ? a < floor : isStraight & (ends < floor);
        under += isUnder;
        quiet[nq] = j;
        nq += isQuiet & !isUnder;
        straight[ns] = j;
        ns += !isQuiet & isStraight & !isUnder;
        turns[nt] = j;
        nt += !isQuiet & !isStraight;
    }
    path.largest = largest;
    hist.AddBelow(under * kOversample);
    double between[kOversample];
    for (size_t q = 0; q < nq; ++q)  // at or over the floor: its readings in one bin
        hist.Add(std::abs(x[quiet[q] + 1 - n + n / 2 - 1]), kOversample);
    for (size_t q = 0; q < ns; ++q) {
        const double* w = x.data() + straight[q] + 1 - n;
        between[0] = w[n / 2 - 1];
        const double s1 = w[n / 2] - w[n / 2 - 1];
        for (int p = 1; p < kOversample; ++p)
            between[p] = w[n / 2 - 1] + s1 * p / kOversample;
        hist.AddAbove(between, kOversample, floor);
    }
    for (size_t q = 0; q < nt; ++q) {
        const double* w = x.data() + turns[q] + 1 - n;
        // A turn's readings are sums of the window's points, the middle two
        // weighing most: where even the sums' bound lies under the floor,
        // they are only counted.
        double outer = 0;
        for (size_t k = 0; k < n; ++k)
            outer = std::max(outer, std::abs(w[k]));
        if (interpMid_ * std::max(std::abs(w[n / 2 - 1]), std::abs(w[n / 2])) + interpOuter_ * outer < floor) {
            hist.AddBelow(kOversample);
            continue;
        }
        // Every phase's sum in the order of its taps, the phases side by
        // side in four pairs of lanes held in registers.
        using Lanes = double __attribute__((vector_size(16)));
        static_assert(kOversample == 8);
        auto load = [](const double* at) {
            Lanes v;
            std::memcpy(&v, at, sizeof v);
            return v;
        };
        Lanes y0 = {0, 0}, y1 = {0, 0}, y2 = {0, 0}, y3 = {0, 0};
        for (size_t k = 0; k < n; ++k) {
            const double* h = interp_.data() + k * kOversample;
            const Lanes v = {w[k], w[k]};
            y0 += load(h) * v;
            y1 += load(h + 2) * v;
            y2 += load(h + 4) * v;
            y3 += load(h + 6) * v;
        }
        between[0] = w[n / 2 - 1];
        std::memcpy(between + 1, &y0, sizeof y0);
        std::memcpy(between + 3, &y1, sizeof y1);
        std::memcpy(between + 5, &y2, sizeof y2);
        between[7] = y3[0];
        hist.AddAbove(between, kOversample, floor);
    }
    // The last n - 1 points stay for the next queue's windows.
    x.erase(x.begin(), x.end() - static_cast<std::ptrdiff_t>(n - 1));
}

void ChannelAnalyser::FoldSpectrum()
{
    double mean = 0;
    for (double v : specBuf_)
        mean += v;
    mean /= static_cast<double>(specData_);
    // The points under the window, then zeros to the transform's length.
    specWin_.assign(specLength_, 0.0);
    for (size_t i = 0; i < specData_; ++i)
        specWin_[i] = (specBuf_[i] - mean) * hann_[i];
    plan_->Forward(specWin_.data(), specOut_);
    for (size_t k = 0; k < specPower_.size(); ++k)
        specPower_[k] += std::norm(specOut_[k]);
    ++specSegments_;
    // Half overlap: the second half starts the next segment.
    specBuf_.erase(specBuf_.begin(), specBuf_.begin() + static_cast<std::ptrdiff_t>(specData_ / 2));
}

ChannelFigures ChannelAnalyser::Finish()
{
    StartFilters();
    RunPending();
    RunLast();
    ChannelFigures c;
    c.seconds = seconds_;
    c.bandHighHz = bandHigh_;
    if (n_ == 0)
        return c;
    const double mean = sumHz_ / static_cast<double>(n_);
    c.carrierHz = mean;
    const double pct = 100 / mean;
    const double stats = sumWeight_ > 0 ? sumWeight_ : 1;
    c.weighted.twoSigmaPercent = histWeighted_.Exceeded(0.05) * pct;
    c.weighted.rmsPercent = std::sqrt(sumW2_ / stats) * pct;
    c.unweighted.twoSigmaPercent = histUnweighted_.Exceeded(0.05) * pct;
    c.unweighted.rmsPercent = std::sqrt(sumU2_ / stats) * pct;
    c.wowRmsPercent = std::sqrt(sumWow2_ / stats) * pct;
    c.flutterRmsPercent = std::sqrt(sumFl2_ / stats) * pct;

    // Drift: the spread of the segment means, a last part of at least half
    // a segment counting as one.
    double lo = segMin_, hi = segMax_;
    int segs = segments_;
    if (segCount_ * 2 >= segLength_) {
        TakeSegmentMean(segSum_ / static_cast<double>(segCount_), segs, lo, hi);
        ++segs;
    }
    c.driftPercent = segs > 1 ? (hi - lo) * pct : 0;

    // The envelope for the plot, percent of the mean carrier.
    const double offset = reference_ - mean;
    for (int b = 0; b < kEnvelopeBuckets; ++b) {
        if (!envSet_[static_cast<size_t>(b)])
            continue;
        c.envelopeSeconds.push_back((b + 0.5) * seconds_ / kEnvelopeBuckets);
        c.envelopeMin.push_back((envMin_[static_cast<size_t>(b)] + offset) * pct);
        c.envelopeMax.push_back((envMax_[static_cast<size_t>(b)] + offset) * pct);
    }

    if (specSegments_ == 0)
        return c;
    // Spectrum: a line of peak deviation A gives the power A^2/4 * N * sum(w^2)
    // over its main lobe on the positive side (N the transform's length;
    // five bins of the Hann window, more where a short segment is padded).
    // Each point of the plot is the power of the lobe's bins around it, so
    // that a line's peak reads its level whether it falls on a bin or
    // between two, exactly as the list measures it; both are corrected for
    // the band's own response.
    double w2 = 0;
    for (double v : hann_)
        w2 += v * v;
    const double norm = static_cast<double>(specSegments_) * static_cast<double>(specLength_) * w2 / 4;
    const double binHz = slowRate_ / specStep_ / static_cast<double>(specLength_);
    const double padding = static_cast<double>(specLength_) / static_cast<double>(specData_);
    const size_t half = static_cast<size_t>(std::ceil(2 * padding - 1e-9));
    const Cascade path = UnweightedFilter(slowRate_, bandHigh_);
    auto lobe = [&](size_t k) {
        double sum = 0;
        for (size_t j = k > half ? k - half : 0; j <= std::min(specPower_.size() - 1, k + half); ++j)
            sum += specPower_[j];
        return sum;
    };
    auto level = [&](double power, double hz) {
        const double gain = std::abs(path.Response(hz, slowRate_));
        return gain < 0.1 ? 0.0 : std::sqrt(power / norm) / gain * pct;
    };
    const size_t top = std::min(specPower_.size() - 1, static_cast<size_t>(bandHigh_ / binHz) + 1);
    for (size_t k = 1; k <= top; ++k) {
        const double hz = static_cast<double>(k) * binHz;
        if (hz < kBandLowHz)
            continue;
        c.spectrumHz.push_back(hz);
        c.spectrumPercent.push_back(level(lobe(k), hz));
    }

    // Lines: peaks between 0.2 Hz and the band's top that stand above the
    // spectrum beside them by more than the averaged noise's spread allows
    // (meter/Lines.h), each measured over its main lobe.
    LineBand band;
    band.binHz = binHz;
    band.padding = padding;
    band.dof = AveragedDegreesOfFreedom(hann_, specData_ / 2, specSegments_);
    band.lowHz = kBandLowHz;
    band.highHz = bandHigh_;
    c.modulation = FindLines(specPower_, band, kMaxLines, kLineShare, kLeastLinePercent, level);
    return c;
}

}  // namespace tarvo::meter
