#include "meter/Analyser.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tarvo::meter {

namespace {

constexpr double kSlowRate = 2000;      // aimed-at rate of the weighted and band-limited paths
constexpr double kAntiAliasHz = 400;
constexpr double kWowFlutterHz = 6;
constexpr double kBandLowHz = 0.5;
constexpr double kBandHighHz = 200;
constexpr double kSpectrumSeconds = 4;  // segment length: about 0.25 Hz resolution
constexpr int kEnvelopeBuckets = 1000;
constexpr size_t kMaxLines = 5;

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

Cascade UnweightedFilter(double rate)
{
    std::vector<Biquad> s = ButterworthHighPass(2, kBandLowHz, rate).Sections();
    const Cascade low = ButterworthLowPass(4, kBandHighHz, rate);
    s.insert(s.end(), low.Sections().begin(), low.Sections().end());
    return Cascade(std::move(s));
}

PeakDetector::PeakDetector(double rate)
    : charge_(1 - std::exp(-1 / (kChargeSeconds * rate))), decay_(std::exp(-1 / (kDecaySeconds * rate)))
{
}

namespace {
constexpr int kOctaves = 30;
constexpr size_t kBinsPerOctave = 512;
}  // namespace

LevelHistogram::LevelHistogram(double fullScale)
    : lowest_(std::ldexp(fullScale, -kOctaves)), bins_(kOctaves * kBinsPerOctave, 0)
{
}

void LevelHistogram::Add(double v)
{
    ++count_;
    if (!(v > lowest_)) {
        ++below_;
        return;
    }
    // v / lowest = m 2^e with m in [0.5, 1): the octave e - 1, and m's
    // place in it on a linear scale.
    int e = 0;
    const double m = std::frexp(v / lowest_, &e);
    const size_t i = static_cast<size_t>(e - 1) * kBinsPerOctave + static_cast<size_t>((m - 0.5) * 2 * kBinsPerOctave);
    ++bins_[std::min(bins_.size() - 1, i)];
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

ChannelAnalyser::ChannelAnalyser(double trackRate, double referenceHz, double seconds)
    : trackRate_(trackRate),
      reference_(referenceHz),
      seconds_(seconds),
      detWeighted_(1),
      detUnweighted_(1),
      histWeighted_(referenceHz),
      histUnweighted_(referenceHz)
{
    slowStep_ = std::max(1, static_cast<int>(std::lround(trackRate / kSlowRate)));
    slowRate_ = trackRate / slowStep_;
    antiAlias_ = ButterworthLowPass(6, std::min(kAntiAliasHz, 0.2 * trackRate), trackRate);
    weighting_ = WeightingFilter(slowRate_);
    unweighted_ = UnweightedFilter(slowRate_);
    wow_ = ButterworthLowPass(8, kWowFlutterHz, slowRate_);
    flutter_ = ButterworthHighPass(8, kWowFlutterHz, slowRate_);
    detWeighted_ = PeakDetector(slowRate_);
    detUnweighted_ = PeakDetector(slowRate_);
    segLength_ = std::max<int64_t>(1, std::llround(kDriftSegmentSeconds * trackRate));

    // The longest power of two up to the spectrum's segment that the
    // measured part of the file fills.
    // The band ends at 200 Hz: about 1 kHz is enough for its spectrum.
    specStep_ = std::max(1, static_cast<int>(slowRate_ / 1000));
    const double specRate = slowRate_ / specStep_;
    const double usable = std::max(0.0, seconds - kSettleSeconds) * specRate;
    size_t len = 64;
    while (static_cast<double>(len * 2) <= usable && static_cast<double>(len) < kSpectrumSeconds * specRate)
        len *= 2;
    specLength_ = len;
    plan_ = std::make_unique<FftPlan>(len);
    specBuf_.reserve(len);
    specPower_.assign(len / 2 + 1, 0.0);
    hann_ = HannWindow(len);

    envMin_.assign(kEnvelopeBuckets, 0);
    envMax_.assign(kEnvelopeBuckets, 0);
    envSet_.assign(kEnvelopeBuckets, 0);
}

void ChannelAnalyser::Add(double hz)
{
    const double x = hz - reference_;
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

void ChannelAnalyser::AddSlow(double y)
{
    if (nSlow_ == 0) {
        weighting_.SettleOn(y);
        unweighted_.SettleOn(y);
    }
    const double t = static_cast<double>(nSlow_) / slowRate_;
    const double w = weighting_.Process(y);
    const double u = unweighted_.Process(y);
    if (nSlow_ == 0) {
        wow_.SettleOn(u);
        flutter_.SettleOn(u);
    }
    const double wo = wow_.Process(u);
    const double fl = flutter_.Process(u);
    ++nSlow_;

    if (sink_)
        sink_(t, y, w);

    if (seconds_ > 0) {
        const size_t b = std::min<size_t>(kEnvelopeBuckets - 1, static_cast<size_t>(t / seconds_ * kEnvelopeBuckets));
        envMin_[b] = envSet_[b] ? std::min(envMin_[b], y) : y;
        envMax_[b] = envSet_[b] ? std::max(envMax_[b], y) : y;
        envSet_[b] = 1;
    }
    if (t < kSettleSeconds)
        return;
    // The detector starts with the statistics, so that it holds nothing of
    // the filters' start.
    histWeighted_.Add(detWeighted_.Process(w));
    histUnweighted_.Add(detUnweighted_.Process(u));
    sumW2_ += w * w;
    sumU2_ += u * u;
    sumWow2_ += wo * wo;
    sumFl2_ += fl * fl;
    ++nStats_;

    if (nStats_ % specStep_ == 0)
        specBuf_.push_back(u);
    if (specBuf_.size() == specLength_)
        FoldSpectrum();
}

void ChannelAnalyser::FoldSpectrum()
{
    std::vector<std::complex<double>> x(specLength_);
    double mean = 0;
    for (double v : specBuf_)
        mean += v;
    mean /= static_cast<double>(specLength_);
    for (size_t i = 0; i < specLength_; ++i)
        x[i] = (specBuf_[i] - mean) * hann_[i];
    plan_->Forward(x);
    for (size_t k = 0; k < specPower_.size(); ++k)
        specPower_[k] += std::norm(x[k]);
    ++specSegments_;
    // Half overlap: the second half starts the next segment.
    specBuf_.erase(specBuf_.begin(), specBuf_.begin() + static_cast<std::ptrdiff_t>(specLength_ / 2));
}

ChannelFigures ChannelAnalyser::Finish() const
{
    ChannelFigures c;
    c.seconds = seconds_;
    if (n_ == 0)
        return c;
    const double mean = sumHz_ / static_cast<double>(n_);
    c.carrierHz = mean;
    const double pct = 100 / mean;
    const double stats = static_cast<double>(std::max<int64_t>(1, nStats_));
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
    // over its main lobe on the positive side (five bins of the Hann window).
    double w2 = 0;
    for (double v : hann_)
        w2 += v * v;
    const double norm = static_cast<double>(specSegments_) * static_cast<double>(specLength_) * w2 / 4;
    const double binHz = slowRate_ / specStep_ / static_cast<double>(specLength_);
    const size_t top = std::min(specPower_.size() - 1, static_cast<size_t>(kBandHighHz / binHz) + 1);
    for (size_t k = 0; k <= top; ++k) {
        c.spectrumHz.push_back(static_cast<double>(k) * binHz);
        c.spectrumPercent.push_back(std::sqrt(specPower_[k] / norm) * pct);
    }

    // Lines: local maxima between 0.5 and 200 Hz that stand well above the
    // spectrum's median, each measured over its main lobe and corrected for
    // the band's own response.
    const size_t first = std::max<size_t>(2, static_cast<size_t>(std::ceil(kBandLowHz / binHz)));
    const size_t last = std::min(specPower_.size() - 3, static_cast<size_t>(kBandHighHz / binHz));
    if (first >= last)
        return c;
    std::vector<double> band(specPower_.begin() + static_cast<std::ptrdiff_t>(first),
                             specPower_.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    std::nth_element(band.begin(), band.begin() + static_cast<std::ptrdiff_t>(band.size() / 2), band.end());
    const double median = band[band.size() / 2];
    const Cascade path = UnweightedFilter(slowRate_);
    std::vector<ModulationLine> lines;
    for (size_t k = first; k <= last; ++k) {
        const double p = specPower_[k];
        if (!(p > specPower_[k - 1] && p >= specPower_[k + 1] && p > 20 * median))
            continue;
        double sum = 0, moment = 0;
        for (size_t j = k - 2; j <= k + 2; ++j) {
            sum += specPower_[j];
            moment += specPower_[j] * static_cast<double>(j);
        }
        const double hz = moment / sum * binHz;
        const double gain = std::abs(path.Response(hz, slowRate_));
        if (gain < 0.1)
            continue;
        lines.push_back({hz, std::sqrt(sum / norm) / gain * pct});
    }
    std::sort(lines.begin(), lines.end(), [](const ModulationLine& a, const ModulationLine& b) {
        return a.percent > b.percent;
    });
    for (const ModulationLine& l : lines) {
        if (c.modulation.size() == kMaxLines || l.percent < 0.1 * lines.front().percent)
            break;
        const bool near = std::any_of(c.modulation.begin(), c.modulation.end(), [&](const ModulationLine& m) {
            return std::abs(m.hz - l.hz) < 3 * binHz;
        });
        if (!near)
            c.modulation.push_back(l);
    }
    return c;
}

}  // namespace tarvo::meter
