#include "meter/Meter.h"

#include "meter/Machines.h"

#include "meter/AmFm.h"
#include "meter/Analyser.h"
#include "meter/Demodulator.h"
#include "meter/Dsp.h"
#include "meter/SoundReader.h"
#include "meter/SpeedLog.h"
#include "meter/Views.h"
#include "framework/SafeOutput.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <memory>
#include <utility>

namespace tarvo::meter {

namespace {

constexpr int64_t kBlockFrames = 16384;
constexpr int kLowestRate = 8000;
constexpr int kCarrierLooks = 8;       // spectra spread over the file to find the carrier
constexpr double kToneOverFloor = 1000;  // the tone's lobe over the median bin (30 dB)
constexpr double kCarrierShare = 0.1;  // least share of the spectrum's power in the tone found
constexpr double kToneShare = 0.05;    // least share of the signal's power in the tone followed

std::string NameOf(const std::string& path) { return std::filesystem::path(path).filename().string(); }

constexpr size_t kLongestSearch = 65536;  // the carrier search's transform, whatever the rate
constexpr double kSecondToneShare = 0.01;  // a second tone within 20 dB makes the reading meaningless
constexpr double kQuietestTone = 0.25e-12;  // -120 dBFS (a full-scale tone gives 0.25)
constexpr double kBestSnr = 1e7;  // 70 dB

std::string RangeText(int rate)
{
    return "between 50 and " + FixedText(HighestCarrier(rate), 0) + " Hz";
}

std::string NotFiniteMessage(const std::string& name)
{
    return "The meter cannot read " + name + ": it holds samples that are not finite numbers (NaN or infinity).";
}

struct Found {
    bool notFinite = false;  // a sample looked at was NaN or infinite
    double hz = 0;        // 0: no tone
    // From the spectrum: the noise's share of the signal's power (the
    // smooth floor under every line: the tone, its sidebands and harmonics,
    // hum), and its one-sided density beside the tone over the tone's power
    // (N0 / P, per Hz).
    double noiseShare = 0, noiseToTone = 0;
};

// The level a fraction q of the bins of a spectrum averaged over m looks
// lie under, where the signal is noise: the mean of m exponential values
// (chi-squared with 2m degrees of freedom over 2m), as a share of its mean.
double AveragedBinQuantile(int m, double q)
{
    auto cdf = [m](double x) {
        double term = 1, sum = 1;
        for (int j = 1; j < m; ++j) {
            term *= m * x / j;
            sum += term;
        }
        return 1 - std::exp(-m * x) * sum;
    };
    double lo = 0, hi = 20;
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (cdf(mid) < q ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

// The mean noise of the bins from..to (not the bins skipFrom..skipTo): their
// median, which a line, a swing or harmonics filling less than half of them
// hardly moves, over a noise-only bin's median share of its mean.
double NoiseOfBins(const std::vector<double>& p, size_t from, size_t to, size_t skipFrom, size_t skipTo,
                   double medianShare, std::vector<double>& work)
{
    work.clear();
    for (size_t k = from; k < std::min(to, p.size()); ++k)
        if (k < skipFrom || k > skipTo)
            work.push_back(p[k]);
    if (work.empty())
        return 0;
    auto mid = work.begin() + static_cast<std::ptrdiff_t>(work.size() / 2);
    std::nth_element(work.begin(), mid, work.end());
    return *mid / medianShare;
}

// A spectrum averaged over looks spread through a channel, and what it
// says of the tone.
struct Spectrum {
    std::vector<double> power;  // bins 0..n/2
    double binHz = 0;
    int looks = 0;
};

// Where the carrier's tone lies in a spectrum: its frequency (the centroid
// of its main lobe, or of its whole swing when it swings wider than that),
// the bins its swing and sidebands fill, and their power over the noise.
struct ToneSpan {
    double hz = 0;
    size_t from = 0, to = 0;
    double power = 0;
};

// The tone's swing reaches 10 % either side of its mean, and its sidebands
// the demodulator's band beyond.
constexpr double kWidestSwing = 0.1;

// Only the bins lo..hi count: a tone outside the carrier's limits is not
// the carrier, however near.
ToneSpan SpanOfTone(const std::vector<double>& p, double binHz, double centreHz, double swing, double noisePerBin,
                    size_t lo, size_t hi)
{
    ToneSpan t;
    const double pass = 1.25 * BandHigh(centreHz);
    t.from = std::max(lo, static_cast<size_t>(std::max(1.0, (centreHz * (1 - swing) - pass) / binHz)));
    t.to = std::min(hi, static_cast<size_t>((centreHz * (1 + swing) + pass) / binHz));
    double moment = 0;
    for (size_t k = t.from; k <= t.to; ++k) {
        const double over = std::max(0.0, p[k] - noisePerBin);
        t.power += over;
        moment += over * static_cast<double>(k);
    }
    t.hz = t.power > 0 ? moment / t.power * binHz : centreHz;
    return t;
}

// Hann power spectra of n frames at a time, read at evenly spread places of
// a file: what the carrier search and the second-tone test look at.
class Looks {
public:
    Looks(SoundReader& in, size_t n)
        : in_(in), n_(n), hann_(SharedHannWindow(n)), plan_(SharedRealFftPlan(n)),
          block_(n * static_cast<size_t>(in.Channels())), x_(n)
    {
    }
    // Reads look l of `count` spread evenly over the file; false where the
    // file cannot be sought there.
    bool Read(int64_t l, int64_t count)
    {
        const int64_t at = count > 1 ? l * (in_.Frames() - static_cast<int64_t>(n_)) / (count - 1) : 0;
        if (!in_.Seek(at))
            return false;
        got_ = in_.Read(block_.data(), static_cast<int64_t>(n_));
        return true;
    }
    // Adds channel ch's (0-based) power spectrum of the look read to power
    // (bins 0..n/2); false when a sample was not finite (taken as 0).
    bool AddPower(size_t ch, std::vector<double>& power)
    {
        const size_t nch = static_cast<size_t>(in_.Channels());
        bool finite = true;
        for (size_t i = 0; i < n_; ++i) {
            const double v = static_cast<int64_t>(i) < got_ ? block_[i * nch + ch] : 0.0;
            finite = finite && std::isfinite(v);
            x_[i] = std::isfinite(v) ? v * hann_[i] : 0.0;
        }
        plan_.Forward(x_.data(), spectrum_);
        for (size_t k = 0; k <= n_ / 2; ++k)
            power[k] += std::norm(spectrum_[k]);
        return finite;
    }

private:
    SoundReader& in_;
    size_t n_;
    const std::vector<double>& hann_;
    const RealFftPlan& plan_;
    std::vector<float> block_;
    std::vector<double> x_;
    std::vector<std::complex<double>> spectrum_;
    int64_t got_ = 0;
};

// The strongest tone between the carrier limits in each selected channel
// (near `near` when it is given: the tone a given carrier stands for), from
// Hann spectra spread evenly over the file, and the noise beside it.
std::vector<Found> FindCarriers(SoundReader& in, const std::vector<int>& channels, double near = 0)
{
    const int rate = in.Rate();
    size_t n = 4096;
    // Bins of a quarter hertz where the length allows: a low carrier's
    // sidebands and the noise beside it are then well apart from its lobe.
    while (static_cast<double>(n) < 4.0 * rate && n < kLongestSearch)
        n *= 2;
    while (n > 1024 && static_cast<int64_t>(n) > in.Frames())
        n /= 2;
    const int64_t looks = std::max<int64_t>(1, std::min<int64_t>(kCarrierLooks, in.Frames() / static_cast<int64_t>(n)));
    std::vector<std::vector<double>> power(channels.size(), std::vector<double>(n / 2 + 1, 0.0));
    std::vector<Found> carriers(channels.size());
    Looks reader(in, n);
    int made = 0;
    for (int64_t l = 0; l < looks && reader.Read(l, looks); ++l, ++made)
        for (size_t c = 0; c < channels.size(); ++c)
            if (!reader.AddPower(static_cast<size_t>(channels[c] - 1), power[c]))
                carriers[c].notFinite = true;
    in.Seek(0);
    if (made == 0)
        return carriers;

    const double bin = static_cast<double>(rate) / static_cast<double>(n);
    const double loHz = near > 0 ? near * 0.9 : kLowestCarrier, hiHz = near > 0 ? near * 1.1 : HighestCarrier(rate);
    const size_t lo = std::max<size_t>(4, static_cast<size_t>(std::ceil(loHz / bin)));
    const size_t hi = std::min(n / 2 - 4, static_cast<size_t>(hiHz / bin));
    if (lo + 8 >= hi)
        return carriers;
    const double medianShare = AveragedBinQuantile(made, 0.5);
    std::vector<double> work;
    for (size_t c = 0; c < channels.size(); ++c) {
        const std::vector<double>& p = power[c];
        const size_t peak = static_cast<size_t>(std::max_element(p.begin() + static_cast<std::ptrdiff_t>(lo),
                                                                 p.begin() + static_cast<std::ptrdiff_t>(hi) + 1) -
                                                p.begin());
        double lobe = 0, moment = 0;
        for (size_t k = peak - 3; k <= peak + 3; ++k) {
            lobe += p[k];
            moment += p[k] * static_cast<double>(k);
        }
        if (!(lobe > 0 && OverMedian(p.data() + lo, hi + 1 - lo, nullptr, 0, lobe, kToneOverFloor)))
            continue;
        // The tone where it swings (the peak may be one end of a wide
        // swing: the first look reaches twice as far), the noise just
        // beside it, then the tone again about its centre.
        const double peakHz = moment / lobe * bin;
        const double near0 = NoiseOfBins(p, peak / 2, 2 * peak, peak, peak, medianShare, work);
        // The search's limits cut no tone's main lobe in two.
        const size_t from = std::min(lo, peak - 3), to = std::max(hi, peak + 3);
        const ToneSpan first = SpanOfTone(p, bin, peakHz, 2 * kWidestSwing, near0, from, to);
        const double beside = NoiseOfBins(p, first.from / 2, 2 * first.to, first.from, first.to, medianShare, work);
        const ToneSpan tone = SpanOfTone(p, bin, first.hz, kWidestSwing, beside, from, to);
        // The noise: in each octave of bins, their median taken for the
        // mean of noise (the tone's own bins left out: the noise beside it
        // stands for theirs); the lines over it are the tone's.
        double total = 0, noise = 0;
        for (size_t a = 1; a <= n / 2; a *= 2) {
            const size_t b = std::min(n / 2 + 1, 2 * a);
            const size_t inside = tone.to >= a && tone.from < b ? std::min(b, tone.to + 1) - std::max(a, tone.from) : 0;
            const size_t outside = b - a - inside;
            if (outside >= 8)
                noise += NoiseOfBins(p, a, b, tone.from, tone.to, medianShare, work) * static_cast<double>(outside);
            else
                noise += beside * static_cast<double>(outside);
            noise += beside * static_cast<double>(inside);
            for (size_t k = a; k < b; ++k)
                total += p[k];
        }
        if (!(tone.power > kCarrierShare * total))
            continue;
        // A steady tone's main lobe holds it: its centroid, as fine as the
        // search gets. A tone that swings wider is centred on its swing.
        carriers[c].hz = lobe >= 0.9 * tone.power ? peakHz : tone.hz;
        carriers[c].noiseShare = total > 0 ? std::min(1.0, noise / total) : 1;
        carriers[c].noiseToTone = tone.power > 0 ? beside / (tone.power * bin) : 0;
    }
    return carriers;
}

// A second tone inside the demodulator's band pulls the frequency the meter
// follows. A tone that swings wide fills the long spectrum with its own
// sidebands and swing, so the test looks at short spans, where a tone
// swinging at a few hertz is one peak: the strongest other peak within
// the band around that one, within 20 dB of it, is a second tone when it
// stays at one frequency through the file (the carrier's own ends and
// sidebands move with it, or come in pairs mirrored about it). Returns its
// frequency and the carrier's beside it (the louder tone's, the median of
// the spans' peaks), or zeros.
std::pair<double, double> FindSecondTone(SoundReader& in, int channel, double carrierHz)
{
    constexpr int kSpans = 32;
    const int rate = in.Rate();
    const double band = BandHigh(carrierHz), pass = 1.25 * band;
    // Bins of an eighth of the band at most: two tones a tenth of the band
    // apart are two peaks.
    size_t n = 256;
    while (static_cast<double>(rate) / static_cast<double>(n) > band / 8 && n < kLongestSearch)
        n *= 2;
    while (n > 256 && static_cast<int64_t>(n) > in.Frames())
        n /= 2;
    const int64_t spans = std::clamp<int64_t>(2 * in.Frames() / static_cast<int64_t>(n), 1, kSpans);
    const double bin = static_cast<double>(rate) / static_cast<double>(n);
    Looks reader(in, n);
    std::vector<double> q(n / 2 + 1);
    // Each span's peaks: its carrier and its second tone (-1: none).
    std::vector<std::pair<double, double>> peaks;
    const size_t lo = static_cast<size_t>(std::max(3.0, (carrierHz * (1 - 2 * kWidestSwing) - pass) / bin));
    const size_t hi = std::min(n / 2 - 3, static_cast<size_t>((carrierHz * (1 + 2 * kWidestSwing) + pass) / bin));
    if (lo + 4 >= hi)
        return {};
    const auto lobeOf = [&](size_t k) {
        double s = 0;
        for (size_t j = k - 2; j <= k + 2; ++j)
            s += q[j];
        return s;
    };
    for (int64_t s = 0; s < spans && reader.Read(s, spans); ++s) {
        std::fill(q.begin(), q.end(), 0.0);
        reader.AddPower(static_cast<size_t>(channel - 1), q);
        const size_t m = static_cast<size_t>(std::max_element(q.begin() + static_cast<std::ptrdiff_t>(lo),
                                                              q.begin() + static_cast<std::ptrdiff_t>(hi) + 1) -
                                             q.begin());
        if (!(q[m] > 0))
            continue;
        // The carrier's peak: the bins around it within 20 dB of it, then
        // its main lobe's two bins more.
        size_t a = m, b = m;
        while (a > lo && q[a - 1] > kSecondToneShare * q[m])
            --a;
        while (b < hi && q[b + 1] > kSecondToneShare * q[m])
            ++b;
        a = std::max(lo, a - 2);
        b = std::min(hi, b + 2);
        double main = 0, moment = 0;
        for (size_t k = a; k <= b; ++k) {
            main += q[k];
            moment += q[k] * static_cast<double>(k);
        }
        const double centre = moment / main;
        const size_t reach = static_cast<size_t>(pass / bin) + 1;
        const size_t from = std::max(lo, a > reach ? a - reach : 0), to = std::min(hi, b + reach);
        double strongest = 0, second = -1;  // the second tone's lobe and centroid (in bins)
        for (size_t k = from; k <= to; ++k) {
            if ((k >= a && k <= b) || k < 2 || k + 2 >= q.size() || !(q[k] > q[k - 1] && q[k] >= q[k + 1]))
                continue;
            const double other = lobeOf(k);
            if (!(other > kSecondToneShare * main && other > strongest))
                continue;
            // A sideband has its mirror about the carrier.
            const double mirror = 2 * centre - static_cast<double>(k);
            if (mirror >= 3 && mirror + 3 < static_cast<double>(q.size()) &&
                lobeOf(static_cast<size_t>(std::lround(mirror))) >= 0.25 * other)
                continue;
            strongest = other;
            double at = 0;
            for (size_t j = k - 2; j <= k + 2; ++j)
                at += q[j] * static_cast<double>(j);
            second = at / other;
        }
        peaks.emplace_back(centre, second);
    }
    in.Seek(0);
    // The second tones that stay: a frequency where at least half the spans
    // have a peak (the carrier's or a second one) within a bin and a half.
    const size_t needed = (peaks.size() + 1) / 2;
    if (peaks.size() < 2)
        return {};
    for (const auto& [c, g] : peaks) {
        if (g < 0)
            continue;
        size_t count = 0;
        double sum = 0;
        for (const auto& [c2, g2] : peaks) {
            if (g2 >= 0 && std::abs(g2 - g) <= 1.5) {
                ++count;
                sum += g2;
            } else if (std::abs(c2 - g) <= 1.5) {
                ++count;
                sum += c2;
            }
        }
        if (count >= needed) {
            std::vector<double> mains;
            for (const auto& p : peaks)
                mains.push_back(p.first);
            std::nth_element(mains.begin(), mains.begin() + static_cast<std::ptrdiff_t>(mains.size() / 2), mains.end());
            return {sum / static_cast<double>(count) * bin, mains[mains.size() / 2] * bin};
        }
    }
    return {};
}

struct Channel {
    int number;
    std::unique_ptr<Demodulator> demod;
    std::unique_ptr<ChannelAnalyser> analyser;
    std::unique_ptr<AmFmAnalyser> amfm;
    std::unique_ptr<TrackCollector> views;
    double tonePower = 0;
    int64_t toneCount = 0;
};

// Opens the file and checks what every run needs; the message when it fails.
std::string OpenChecked(SoundReader& in, const std::string& path, const MeterSettings& settings,
                        std::vector<int>& channels)
{
    const std::string name = NameOf(path);
    if (!in.Open(path))
        return in.Unopenable() ? in.Error() : "The meter cannot read " + name + ": " + in.Error();
    if (in.Rate() <= 0)
        return "The meter cannot read " + name + ": its header gives no sample rate.";
    if (in.Rate() > kHighestRate)
        return "The meter takes sample rates up to 768000 Hz; " + name + " gives " + std::to_string(in.Rate()) + " Hz.";
    if (in.Rate() < kLowestRate)
        return "The meter needs a sample rate of at least 8000 Hz; " + name + " has " + std::to_string(in.Rate()) +
               " Hz.";
    if (settings.Stretch()) {
        const double whole = static_cast<double>(in.Frames()) / in.Rate();
        const double to = settings.toSeconds > 0 ? settings.toSeconds : whole;
        if (!(settings.fromSeconds >= 0 && to > settings.fromSeconds && to <= whole + 0.5 / in.Rate()))
            return "The stretch from " + FixedText(settings.fromSeconds, 3) + " s to " + FixedText(to, 3) + " s lies outside " +
                   name + ", which lasts " + FixedText(whole, 3) + " s.";
        const int64_t first = static_cast<int64_t>(std::llround(settings.fromSeconds * in.Rate()));
        const int64_t last = std::min(in.Frames(), static_cast<int64_t>(std::llround(to * in.Rate())));
        if (!in.Limit(first, last - first))
            return "The meter cannot read the stretch of " + name + " from " + FixedText(settings.fromSeconds, 3) + " s.";
        if (last - first < static_cast<int64_t>(kShortestSeconds * in.Rate()))
            return "The meter needs a stretch of at least 2 seconds; " + FixedText(settings.fromSeconds, 3) + " s to " +
                   FixedText(to, 3) + " s of " + name + " lasts " + FixedText(static_cast<double>(last - first) / in.Rate(), 2) +
                   " s.";
    }
    const double seconds = static_cast<double>(in.Frames()) / in.Rate();
    if (seconds < kShortestSeconds)
        return "The meter needs at least 2 seconds of sound; " + name + " lasts " + FixedText(seconds, 2) + " s.";
    channels = settings.channels;
    if (channels.empty())
        for (int c = 1; c <= in.Channels(); ++c)
            channels.push_back(c);
    for (int c : channels)
        if (c < 1 || c > in.Channels())
            return name + " has no channel " + std::to_string(c) + "; it has " + std::to_string(in.Channels()) + ".";
    if (settings.carrierHz != 0 && !(settings.carrierHz >= kLowestCarrier && settings.carrierHz <= HighestCarrier(in.Rate())))
        return "The carrier must lie " + RangeText(in.Rate()) + " for " + name + ".";
    return {};
}

enum class Streamed { Whole, Cancelled, Short, NotFinite };

// Streams the file through the channels: 16-bit files as they are stored
// (the demodulator scales them as a float read would), others as floats,
// checked for NaN and infinity unless they are stored as integers.
Streamed Stream(SoundReader& in, std::vector<Channel>& chans, const MeterProgress& progress,
                const std::function<void()>& afterBlock = {})
{
    const int nch = in.Channels();
    const bool shorts = in.Holds16Bit(), finite = in.HoldsIntegers();
    std::vector<float> block(shorts ? 0 : static_cast<size_t>(kBlockFrames * nch));
    std::vector<int16_t> block16(shorts ? static_cast<size_t>(kBlockFrames * nch) : 0);
    std::vector<Demodulator::Sample> track;
    int64_t done = 0;
    for (;;) {
        const int64_t got = shorts ? in.Read(block16.data(), kBlockFrames) : in.Read(block.data(), kBlockFrames);
        if (got <= 0)
            break;
        const size_t values = static_cast<size_t>(got) * static_cast<size_t>(nch);
        if (!finite && !std::all_of(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(values),
                                    [](float v) { return std::isfinite(v); }))
            return Streamed::NotFinite;
        for (Channel& c : chans) {
            const size_t first = static_cast<size_t>(c.number - 1);
            track.clear();
            if (shorts)
                c.demod->Push(block16.data() + first, static_cast<size_t>(got), static_cast<size_t>(nch), track);
            else
                c.demod->Push(block.data() + first, static_cast<size_t>(got), static_cast<size_t>(nch), track);
            for (const Demodulator::Sample& s : track) {
                c.analyser->Add(s.hz);
                if (c.amfm)
                    c.amfm->Add(s.hz, s.power);
                c.tonePower += s.power;
                ++c.toneCount;
            }
        }
        if (afterBlock)
            afterBlock();
        done += got;
        if (progress && !progress(in.Frames() > 0 ? static_cast<double>(done) / static_cast<double>(in.Frames()) : 0))
            return Streamed::Cancelled;
    }
    // A file that breaks off before the length its header gives would
    // otherwise be measured as if it were whole.
    return done < in.Frames() ? Streamed::Short : Streamed::Whole;
}

// The collector of the views' data for an analyser, fed by its sink.
std::unique_ptr<TrackCollector> CollectViews(ChannelAnalyser& a, double referenceHz, const MeterSettings& settings)
{
    const double stretch = TrackSeconds(RevolutionHz(PartRates(settings.transport)));
    auto views = std::make_unique<TrackCollector>(referenceHz, a.SlowRate(), stretch, ChannelAnalyser::kSettleSeconds);
    a.SetSink([v = views.get()](double t, double dev, double weighted) { v->Add(t, dev, weighted); });
    return views;
}

// The transport's parts and the lines' labels: a line takes a part's name
// when it lies within its own frequency uncertainty of the part's harmonic,
// and a line no part explains at a platter speed's rate suggests that speed.
void LabelLines(ChannelFigures& f, const Transport& t)
{
    f.parts = PartRates(t);
    f.revolutionHz = RevolutionHz(f.parts);
    for (ModulationLine& m : f.modulation) {
        const std::optional<LineMatch> match = MatchLine(m.hz, m.hzUncertainty, f.parts);
        m.label = match ? std::optional(match->label) : std::nullopt;
        m.labelErrorHz = match ? std::optional(match->errorHz) : std::nullopt;
        m.suggestion = match ? std::string() : SuggestSpeed(m.hz, m.hzUncertainty).value_or("");
    }
}

// A speed log's deviation through the same chain, as the frequency of a
// virtual carrier. A log of R rows a second carries a band as a carrier of
// R Hz does, to a quarter of R (200 Hz from 800 rows a second on): the
// virtual carrier lies at R, up to 1 kHz, so that the analyser ends the band
// there and lists no line above it (the interpolation's images lie from
// 3R/4 up). The interpolated points are 2000 a second: for each row read,
// at most kWidestSpeedLogStep x 2000 / kLowestCarrier of them.
MeterResult RunSpeedLog(SpeedLogReader& log, const std::string& name, const MeterSettings& settings,
                        const MeterProgress& progress)
{
    constexpr double kRate = 2000, kHighestReference = 1000;
    MeterResult r;
    const SpeedLogShape& shape = log.Shape();
    const double seconds = shape.Seconds(), rowsPerSecond = shape.RowsPerSecond();
    if (seconds < kShortestSeconds) {
        r.message = "The meter needs at least 2 seconds of speed log; " + name + " spans " + FixedText(seconds, 2) + " s.";
        return r;
    }
    if (rowsPerSecond < kLowestCarrier) {
        r.message = "The meter needs a speed log of at least " + FixedText(kLowestCarrier, 0) +
                    " rows a second, which carries the band to " + FixedText(BandHigh(kLowestCarrier), 1) + " Hz; " +
                    name + " has " + FixedText(rowsPerSecond, 2) + " rows a second.";
        return r;
    }
    // A log longer than its rows can span without a gap has one: the reading
    // that finds it names it, before any work goes by the length it claims.
    if (seconds > static_cast<double>(shape.rows - 1) * kWidestSpeedLogStep * shape.period &&
        !log.Rows([](double, double) { return true; })) {
        r.message = "The meter cannot measure the speed log " + name + ": " + log.Error() + ".";
        return r;
    }
    const double reference = std::min(kHighestReference, rowsPerSecond);
    ChannelAnalyser analyser(kRate, reference, seconds);
    const auto total = static_cast<int64_t>(seconds * kRate) + 1;
    analyser.ExpectAtMost(total);
    const std::unique_ptr<TrackCollector> views = CollectViews(analyser, reference, settings);
    int64_t done = 0;
    bool cancelled = false;
    const bool read = log.Resample(kRate, [&](double percent) {
        analyser.Add(reference * (1 + percent / 100));
        if (++done % 65536 == 0 && progress && !progress(static_cast<double>(done) / static_cast<double>(total)))
            cancelled = true;
        return !cancelled;
    });
    if (cancelled) {
        r.cancelled = true;
        r.message = "The measurement of " + name + " was cancelled.";
        return r;
    }
    if (!read) {
        r.message = "The meter cannot measure the speed log " + name + ": " + log.Error() + ".";
        return r;
    }
    ChannelFigures f = analyser.Finish();
    views->Finish(f);
    f.channel = 1;
    f.source = "speed log";
    LabelLines(f, settings.transport);
    r.channels.push_back(std::move(f));
    r.ok = true;
    return r;
}

}  // namespace

// The run itself, which RunMeter names with the file.
static MeterResult RunFile(const std::string& path, const MeterSettings& settings, const MeterProgress& progress);

MeterResult RunMeter(const std::string& path, const MeterSettings& settings, const MeterProgress& progress)
{
    MeterResult r = RunFile(path, settings, progress);
    r.file = NameOf(path);
    r.transport = TransportLine(settings.transport);
    // Whatever the input, no figure leaves the meter unchecked.
    for (const ChannelFigures& c : r.channels)
        if (std::string fault = CheckFigures(c, r.file); r.ok && !fault.empty()) {
            r.ok = false;
            r.message = std::move(fault);
            r.channels.clear();
            break;
        }
    return r;
}

static MeterResult RunFile(const std::string& path, const MeterSettings& settings, const MeterProgress& progress)
{
    MeterResult r;
    // The window's dialog reaches here without the CLI's checks.
    r.message = TransportFault(settings.transport);
    if (!r.message.empty())
        return r;
    {
        // A speed log first: text never reaches libsndfile, whose decoders
        // would try it and say so on standard error.
        SpeedLogReader log;
        if (log.Open(path) && log.Survey()) {
            if (settings.Stretch()) {
                r.message = "A stretch is measured on a sound file; " + NameOf(path) + " is a speed log.";
                return r;
            }
            return RunSpeedLog(log, NameOf(path), settings, progress);
        }
        if (log.Recognised()) {
            r.message = "The meter cannot measure the speed log " + NameOf(path) + ": " + log.Error() + ".";
            return r;
        }
        SoundReader probe;
        if (!probe.Open(path) && !probe.Unopenable()) {
            r.message = "The meter cannot read " + NameOf(path) + ": " + probe.Error() + " Nor is it a speed log: " +
                        log.Error() + ".";
            return r;
        }
    }
    SoundReader in;
    std::vector<int> channels;
    r.message = OpenChecked(in, path, settings, channels);
    if (!r.message.empty())
        return r;
    r.rate = in.Rate();
    if (settings.Stretch())
        r.stretch = {settings.fromSeconds, settings.fromSeconds + static_cast<double>(in.Frames()) / in.Rate()};
    const std::string name = NameOf(path);
    const double seconds = static_cast<double>(in.Frames()) / in.Rate();

    // A given carrier stands for the tone near it, whose frequency is found
    // as closely as the automatic search finds it: the filters start on the
    // deviation from it.
    std::vector<Found> found = FindCarriers(in, channels, settings.carrierHz);
    std::vector<double> carriers(channels.size(), settings.carrierHz);
    for (size_t i = 0; i < channels.size(); ++i) {
        if (found[i].notFinite) {
            r.message = NotFiniteMessage(name);
            return r;
        }
        if (found[i].hz == 0 && settings.carrierHz == 0) {
            r.message = "No tone " + RangeText(in.Rate()) + " in channel " + std::to_string(channels[i]) + " of " +
                        name + ".";
            return r;
        }
        if (found[i].hz != 0)
            carriers[i] = found[i].hz;
        const auto [secondHz, louderHz] = FindSecondTone(in, channels[i], carriers[i]);
        if (secondHz != 0) {
            r.message = "A second tone at " + FixedText(secondHz, 0) + " Hz, within 20 dB of the carrier at " +
                        FixedText(louderHz, 0) + " Hz, pulls the frequency the meter follows in channel " +
                        std::to_string(channels[i]) + " of " + name + ": no figures.";
            return r;
        }
    }

    std::vector<Channel> chans;
    for (size_t i = 0; i < channels.size(); ++i) {
        Channel c;
        c.number = channels[i];
        c.demod = std::make_unique<Demodulator>(in.Rate(), carriers[i]);
        c.analyser = std::make_unique<ChannelAnalyser>(c.demod->OutputRate(), carriers[i], seconds);
        c.analyser->BandFollowsCarrier();
        c.analyser->ExpectAtMost(in.Frames() / c.demod->Decimation() + 1);
        c.amfm = std::make_unique<AmFmAnalyser>(c.demod->OutputRate(), seconds);
        c.views = CollectViews(*c.analyser, carriers[i], settings);
        chans.push_back(std::move(c));
    }
    // Under the demodulator's threshold the noise breaks into clicks and
    // the figures no longer follow the noise floor: none.
    for (size_t i = 0; i < chans.size(); ++i) {
        if (!(found[i].noiseToTone > 0))
            continue;
        const double bandSnr = 1 / (chans[i].demod->NoiseGain() * in.Rate() * found[i].noiseToTone);
        if (10 * std::log10(bandSnr) < kThresholdSnrDb) {
            r.message = "The tone in channel " + std::to_string(chans[i].number) + " of " + name + " stands " +
                        FixedText(10 * std::log10(bandSnr), 1) +
                        " dB over the noise in the demodulator's band, under the 10 dB the demodulator needs: "
                        "no figures.";
            return r;
        }
    }
    switch (Stream(in, chans, progress)) {
    case Streamed::Cancelled:
        r.cancelled = true;
        r.message = "The measurement of " + name + " was cancelled.";
        return r;
    case Streamed::Short:
        r.message = "The meter could not read all of " + name + ": the file breaks off before the " +
                    FixedText(seconds, 2) + " s its header gives.";
        return r;
    case Streamed::NotFinite:
        r.message = NotFiniteMessage(name);
        return r;
    case Streamed::Whole:
        break;
    }

    for (Channel& c : chans) {
        // Most of the signal's power must be in the tone the meter follows.
        const double input = c.demod->InputPower();
        const double tone = c.tonePower / static_cast<double>(std::max<int64_t>(1, c.toneCount));
        if (c.toneCount == 0 || !(tone > kToneShare * input)) {
            r.message = "No tone near " + FixedText(c.demod->Carrier(), 1) + " Hz in channel " + std::to_string(c.number) +
                        " of " + name + ".";
            return r;
        }
        if (!(tone > kQuietestTone)) {
            r.message = "The tone in channel " + std::to_string(c.number) + " of " + name +
                        " lies below -120 dBFS: too quiet to measure.";
            return r;
        }
        ChannelFigures f = c.analyser->Finish();
        f.channel = c.number;
        c.views->Finish(f);
        LabelLines(f, settings.transport);
        const Found& heard = found[static_cast<size_t>(&c - chans.data())];
        // The noise's density beside the tone over the tone's power, N0 / P.
        double noiseToTone = 0;
        if (heard.hz != 0) {
            ApplyNoise(f, heard.noiseShare > 0 ? (1 - heard.noiseShare) / heard.noiseShare : kBestSnr,
                       heard.noiseToTone, in.Rate());
            noiseToTone = std::max(heard.noiseToTone, 2 / (in.Rate() * kBestSnr));
        } else {  // a given carrier the search did not find a tone at
            ApplyToneAndNoise(f, tone, input, c.demod->NoiseGain(), in.Rate());
            noiseToTone = 2 / (in.Rate() * std::pow(10, *f.snrDb / 10));
        }
        c.amfm->Annotate(f.modulation, noiseToTone);
        if (MostlyNoise(f))
            f.warnings.push_back("In channel " + std::to_string(c.number) + " of " + name +
                                 " the weighted figure is less than twice the noise floor (" +
                                 FixedText(*f.noiseFloorPercent, 4) + " %): it is mostly noise.");
        ApplyNominal(f, settings.nominalHz);
        r.channels.push_back(std::move(f));
    }
    r.ok = true;
    return r;
}

bool ReplayDeviation(const std::string& path, const MeterSettings& settings, const MeterResult& result,
                     const std::function<void(const ReplayStart&)>& start, const TrackSink& sink, std::string& error,
                     const MeterProgress& progress)
{
    if (!result.ok) {
        error = result.message;
        return false;
    }
    // A speed log's rows are its track already: nothing is read again.
    if (!result.channels.empty() && result.channels.front().source != "audio") {
        error = NameOf(path) + " is a speed log, whose own rows are its track";
        return false;
    }
    SoundReader in;
    std::vector<int> channels;
    MeterSettings again = settings;
    again.carrierHz = 0;
    error = OpenChecked(in, path, again, channels);
    if (!error.empty())
        return false;

    const double seconds = static_cast<double>(in.Frames()) / in.Rate();
    std::vector<Channel> chans;
    std::vector<std::deque<std::pair<double, double>>> queues(result.channels.size());
    double slowRate = 0;
    for (size_t i = 0; i < result.channels.size(); ++i) {
        const ChannelFigures& f = result.channels[i];
        Channel c;
        c.number = f.channel;
        c.demod = std::make_unique<Demodulator>(in.Rate(), f.carrierHz);
        c.analyser = std::make_unique<ChannelAnalyser>(c.demod->OutputRate(), f.carrierHz, seconds);
        const double pct = 100 / f.carrierHz;
        // The analyser's points come one point late (its droop correction
        // is centred on the point before), its first being the track's
        // first point again: the rows start with its second, which stands
        // for the demodulator's first point.
        c.analyser->SetSink([&q = queues[i], pct, first = true](double, double dev, double weighted) mutable {
            if (std::exchange(first, false))
                return;
            q.emplace_back(dev * pct, weighted * pct);
        });
        slowRate = c.analyser->SlowRate();
        chans.push_back(std::move(c));
    }
    if (start)
        start({in.Rate(), slowRate});

    const double delay = chans.empty() ? 0 : chans.front().demod->Delay();
    int64_t row = 0;
    TrackPoint point{0, std::vector<double>(queues.size()), std::vector<double>(queues.size())};
    auto flush = [&] {
        if (queues.empty())
            return;
        size_t ready = queues.front().size();
        for (const auto& q : queues)
            ready = std::min(ready, q.size());
        for (size_t k = 0; k < ready; ++k, ++row) {
            point.seconds = delay + static_cast<double>(row) / slowRate;
            for (size_t i = 0; i < queues.size(); ++i) {
                point.deviation[i] = queues[i].front().first;
                point.weighted[i] = queues[i].front().second;
                queues[i].pop_front();
            }
            if (sink)
                sink(point);
        }
    };
    const Streamed streamed = Stream(in, chans, progress, flush);
    if (streamed == Streamed::Cancelled) {
        error = "cancelled";
        return false;
    }
    for (Channel& c : chans)
        c.analyser->Finish();  // lets out the points held while the filters start
    flush();
    if (streamed != Streamed::Whole) {
        error = "the file breaks off before its end";
        return false;
    }
    return true;
}

bool WriteMeterCsv(const std::string& path, const MeterSettings& settings, const MeterResult& result,
                   const std::string& csvPath, std::string& error)
{
    if (!result.ok) {
        error = result.message;
        return false;
    }
    if (!result.channels.empty() && result.channels.front().source != "audio") {
        error = NameOf(path) + " is a speed log, whose own rows are its track";
        return false;
    }
    // Never over the file measured; written beside csvPath and renamed into
    // place, so a failure leaves an old file whole. The text goes out in
    // pieces of about 64 KiB.
    SafeOutputFile file;
    if (!file.Open(csvPath, {path})) {
        error = "cannot write " + csvPath + ": " + file.Reason();
        return false;
    }
    std::ostringstream out;
    auto drain = [&] {
        if (!file.Failed())
            file.Write(out.str());
        out.str(std::string());
    };
    const auto header = [&](const ReplayStart& s) {
        out << "# Tarvo standards wow-and-flutter meter: deviation track\n";
        out << "# file: " << path << "\n";
        out << "# standard: " << result.standard << "\n";
        out << "# sample rate: " << s.rate << " Hz\n";
        out << "# carrier: "
            << (settings.carrierHz != 0 ? FixedText(settings.carrierHz, 3) + " Hz" : std::string("automatic")) << "\n";
        if (result.stretch)
            out << "# stretch: " << FixedText(result.stretch->first, 3) << " s to "
                << FixedText(result.stretch->second, 3) << " s of the file; time counts from its start\n";
        for (const ChannelFigures& f : result.channels)
            out << "# channel " << f.channel << ": mean carrier " << FixedText(f.carrierHz, 3) << " Hz\n";
        out << "# deviation: percent of the mean carrier, 0 to 400 Hz; weighted: the standard's weighting, percent\n";
        out << "# rate of the track: " << FixedText(s.slowRate, 3) << " points a second\n";
        out << "time_s";
        for (const ChannelFigures& f : result.channels)
            out << ",ch" << f.channel << "_deviation_percent,ch" << f.channel << "_weighted_percent";
        out << "\n";
    };
    const auto row = [&](const TrackPoint& p) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.5f", p.seconds);
        out << buf;
        for (size_t i = 0; i < p.deviation.size(); ++i) {
            std::snprintf(buf, sizeof buf, ",%.6f,%.6f", p.deviation[i], p.weighted[i]);
            out << buf;
        }
        out << "\n";
        if (out.tellp() > (1 << 16))
            drain();
    };
    if (!ReplayDeviation(path, settings, result, header, row, error))
        return false;
    drain();
    if (!file.Commit()) {
        error = "cannot write " + csvPath + ": " + file.Reason();
        return false;
    }
    return true;
}

double HighestCarrier(int rate) { return std::min(kHighestCarrier, (rate - 550) / 2.0); }

std::optional<double> SpeedError(double carrierHz, double nominalHz)
{
    if (!(nominalHz > 0))
        return std::nullopt;
    const double e = (carrierHz - nominalHz) / nominalHz * 100;
    if (!(std::abs(e) <= kFarthestNominalPercent))
        return std::nullopt;
    return e;
}

namespace {
const std::string kFarFromNominal = " Hz: no speed error is given.";
}

void ApplyToneAndNoise(ChannelFigures& c, double mixedPower, double inputPower, double noiseGain, double rate)
{
    // The mixed-down power m holds half the tone's power T and the share
    // g of the noise N that the demodulator's filter passes; the input's
    // mean square I is T + N. So T = (m - g I) / (1/2 - g).
    const double tonePower = std::max(0.0, (mixedPower - noiseGain * inputPower) / (0.5 - noiseGain));
    const double noise = std::max(0.0, inputPower - tonePower);
    const double snr = noise > 0 ? tonePower / noise : kBestSnr;
    ApplyNoise(c, snr, 2 / (rate * snr), rate);
}

void ApplyNoise(ChannelFigures& c, double snr, double noiseToTone, double rate)
{
    // The spectrum and the power sums resolve noise down to about 70 dB
    // under the tone.
    snr = std::min(kBestSnr, snr > 0 ? snr : kBestSnr);
    c.snrDb = 10 * std::log10(snr);
    const NoiseFloors floors = NoiseFloorsHz(std::max(noiseToTone, 2 / (rate * kBestSnr)), c.bandHighHz);
    const double pct = 100 / c.carrierHz;
    c.noiseFloorPercent = floors.weightedTwoSigma * pct;
    c.unweightedFloorPercent = floors.unweightedTwoSigma * pct;
    c.flutterFloorPercent = floors.flutterRms * pct;
}

bool MostlyNoise(const ChannelFigures& c)
{
    return c.noiseFloorPercent && *c.noiseFloorPercent >= kNegligibleFloorPercent &&
           c.weighted.twoSigmaPercent <= 2 * *c.noiseFloorPercent;
}

void ApplyNominal(ChannelFigures& c, double nominalHz)
{
    c.warnings.erase(std::remove_if(c.warnings.begin(), c.warnings.end(),
                                    [](const std::string& w) { return w.ends_with(kFarFromNominal); }),
                     c.warnings.end());
    c.speedErrorPercent = SpeedError(c.carrierHz, nominalHz);
    if (nominalHz > 0 && !c.speedErrorPercent)
        c.warnings.push_back("The tone at " + FixedText(c.carrierHz, 1) + " Hz in channel " + std::to_string(c.channel) +
                             " lies more than 10 % from the nominal " + FixedText(nominalHz, 1) + kFarFromNominal);
}

namespace {

// The bounds of the figures. A deviation of kMostPercent (100 %) of the mean
// speed stops the transport or doubles its speed: no deck that runs reads
// that as a peak, an rms, the spread of its 2-second means, a line or its
// noise floor, so a larger figure is an overflow or a log that is not of
// speeds. A tone found between 50 and 20000 Hz (a speed log's virtual
// carrier is 1000 Hz) moving less than that keeps its mean within half the
// lowest and twice the highest carrier. An envelope never below zero swings
// at any rate by at most twice its mean (200 %); the window's lobe and the
// segments' spread stay far below ten times that.
constexpr double kLeastMeanCarrier = kLowestCarrier / 2, kMostMeanCarrier = 2 * kHighestCarrier;
constexpr double kMostAmPercent = 2000;
constexpr double kWidestBandTop = 200, kLowestBandTop = kLeastMeanCarrier / 4;  // 200 Hz, or a quarter of the carrier

// The first figure of a channel that is not a finite number or lies out of
// its range, as the end of a sentence.
class FigureCheck {
public:
    const std::string& Fault() const { return fault_; }
    void Check(const std::string& what, double v, double lo, double hi, const std::string& unit)
    {
        if (!fault_.empty())
            return;
        if (!std::isfinite(v))
            fault_ = "the " + what + " is not a finite number";
        else if (v < lo)
            fault_ = "the " + what + " is below " + BoundText(lo) + unit;
        else if (v > hi)
            fault_ = "the " + what + " is over " + BoundText(hi) + unit;
    }
    void Fail(const std::string& what)
    {
        if (fault_.empty())
            fault_ = "the " + what;
    }
    void Percent(const std::string& what, double v) { Check(what, v, 0, kMostPercent, " %"); }
    // Points of a plot: as many of each, every one a number.
    template <typename T>
    void Points(const std::string& what, const std::vector<const std::vector<T>*>& series)
    {
        if (!fault_.empty())
            return;
        for (const std::vector<T>* s : series) {
            if (s->size() != series.front()->size()) {
                fault_ = "the " + what + "'s points are not in step";
                return;
            }
            for (T v : *s)
                if (!std::isfinite(v)) {
                    fault_ = "the " + what + " has a point that is not a finite number";
                    return;
                }
        }
    }

private:
    // A bound as short as it is exact: 12.5, 100.
    static std::string BoundText(double v)
    {
        std::string t = FixedText(v, 3);
        t.erase(t.find_last_not_of('0') + 1);
        if (t.back() == '.')
            t.pop_back();
        return t;
    }
    std::string fault_;
};

}  // namespace

std::string CheckFigures(const ChannelFigures& c, const std::string& name)
{
    constexpr double kAny = std::numeric_limits<double>::max();
    FigureCheck f;
    if (c.source == "audio")
        f.Check("mean carrier", c.carrierHz, kLeastMeanCarrier, kMostMeanCarrier, " Hz");
    else if (!(c.carrierHz >= kLeastMeanCarrier && c.carrierHz <= kMostMeanCarrier))  // its virtual carrier
        f.Fail("mean speed lies beyond what the meter follows");
    f.Check("length", c.seconds, 0, kAny, " s");
    f.Percent("weighted peak (2-sigma)", c.weighted.twoSigmaPercent);
    f.Percent("weighted rms", c.weighted.rmsPercent);
    f.Percent("unweighted peak (2-sigma)", c.unweighted.twoSigmaPercent);
    f.Percent("unweighted rms", c.unweighted.rmsPercent);
    f.Percent("wow rms", c.wowRmsPercent);
    f.Percent("flutter rms", c.flutterRmsPercent);
    f.Percent("drift", c.driftPercent);
    if (c.speedErrorPercent)
        f.Check("speed error", *c.speedErrorPercent, -kFarthestNominalPercent, kFarthestNominalPercent, " %");
    f.Check("band top", c.bandHighHz, kLowestBandTop, kWidestBandTop, " Hz");
    // The tone's figures, where there are any (a speed log has none).
    if (c.snrDb)
        f.Check("signal-to-noise", *c.snrDb, -kAny, 10 * std::log10(kBestSnr), " dB");
    if (c.noiseFloorPercent)
        f.Percent("noise floor", *c.noiseFloorPercent);
    if (c.unweightedFloorPercent)
        f.Percent("unweighted noise floor", *c.unweightedFloorPercent);
    if (c.flutterFloorPercent)
        f.Percent("flutter's noise floor", *c.flutterFloorPercent);
    for (size_t i = 0; i < c.modulation.size(); ++i) {
        const ModulationLine& m = c.modulation[i];
        const std::string line = "modulation line " + std::to_string(i + 1) + "'s ";
        f.Check(line + "frequency", m.hz, 0, 2 * c.bandHighHz, " Hz");
        f.Percent(line + "peak", m.percent);
        f.Check(line + "amplitude modulation", m.amPercent, 0, kMostAmPercent, " %");
        if (m.amFmCoherence)
            f.Check(line + "coherence", *m.amFmCoherence, 0, 1, "");
    }
    for (const PartRate& p : c.parts)
        f.Check(p.name + " rate", p.hz, 0, kAny, " Hz");
    f.Check("revolution rate", c.revolutionHz, 0, kAny, " Hz");
    f.Points<double>("envelope", {&c.envelopeSeconds, &c.envelopeMin, &c.envelopeMax});
    f.Points<double>("spectrum", {&c.spectrumHz, &c.spectrumPercent});
    f.Points<double>("track", {&c.trackSeconds, &c.trackDeviation, &c.trackWeighted});
    f.Points<double>("histogram", {&c.histogramPercent, &c.histogramShare});
    f.Points<float>("whole track", {&c.fineMin, &c.fineMax, &c.fineMean, &c.fineWeighted});
    if (f.Fault().empty())
        return {};
    return "In channel " + std::to_string(c.channel) + " of " + name + " " + f.Fault() + ": no figures.";
}

std::string FixedText(double v, int decimals, bool sign)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string text = buf;
    if (text.find_first_not_of("-0.") == std::string::npos) {
        if (text.front() == '-')
            text.erase(0, 1);
    } else if (sign && v > 0) {
        text.insert(0, "+");
    }
    return text;
}

std::vector<std::pair<std::string, std::string>> FigureLines(const ChannelFigures& c)
{
    std::string lines;
    for (const ModulationLine& m : c.modulation) {
        if (!lines.empty())
            lines += ", ";
        lines += FixedText(m.hz, 2) + " Hz " + FixedText(m.percent, 4) + " %";
        lines += " (" + m.label.value_or("no part") +
                 (m.labelErrorHz ? " " + FixedText(*m.labelErrorHz, 4, true) + " Hz" : std::string()) +
                 (m.suggestion.empty() ? std::string() : "; " + m.suggestion) + ", AM " + FixedText(m.amPercent, 3) +
                 " %, coherence " +
                 (m.amFmCoherence ? FixedText(*m.amFmCoherence, 2) : std::string("none")) + ")";
    }
    std::vector<std::pair<std::string, std::string>> out = {
        {"carrier (mean, Hz)", c.source == "audio" ? FixedText(c.carrierHz, 3) : "none (" + c.source + ")"},
        {"length (s)", FixedText(c.seconds, 3)},
        {"weighted peak (2-sigma, +-%)", FixedText(c.weighted.twoSigmaPercent, 4)},
        {"weighted rms (%)", FixedText(c.weighted.rmsPercent, 4)},
        {"unweighted peak (2-sigma, +-%)", FixedText(c.unweighted.twoSigmaPercent, 4)},
        {"unweighted rms (%)", FixedText(c.unweighted.rmsPercent, 4)},
        {"wow rms (0.2-6 Hz, %)", FixedText(c.wowRmsPercent, 4)},
        {"flutter rms (6-" + FixedText(c.bandHighHz, 0) + " Hz, %)", FixedText(c.flutterRmsPercent, 4)},
        {"drift (spread of 2 s means, %)", FixedText(c.driftPercent, 4)},
        {"modulation (peak deviation)", lines.empty() ? std::string("none") : lines},
        {"band top (Hz)", FixedText(c.bandHighHz, 1) + (c.bandHighHz >= 200       ? ""
                                                        : c.source == "audio" ? " (a quarter of the carrier)"
                                                                              : " (a quarter of the log's rate)")},
    };
    if (c.snrDb)
        out.push_back({"signal-to-noise (dB)", *c.snrDb >= 70 ? std::string("70 or more") : FixedText(*c.snrDb, 1)});
    if (c.noiseFloorPercent)
        out.push_back({"noise floor (weighted 2-sigma, +-%)", FixedText(*c.noiseFloorPercent, 4)});
    if (c.unweightedFloorPercent)
        out.push_back({"noise floor (unweighted 2-sigma, +-%)", FixedText(*c.unweightedFloorPercent, 4)});
    if (c.flutterFloorPercent)
        out.push_back({"noise floor (flutter rms, %)", FixedText(*c.flutterFloorPercent, 4)});
    if (c.speedErrorPercent) {
        out.insert(out.begin() + 1, {"speed error (%)", FixedText(*c.speedErrorPercent, 3, true)});
    }
    if (MostlyNoise(c))
        out.push_back({"note", "the weighted figure is less than twice the noise floor: it is mostly noise"});
    for (const std::string& w : c.warnings)
        out.push_back({"warning", w});
    return out;
}

}  // namespace tarvo::meter
