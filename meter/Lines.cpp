#include "meter/Lines.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <numbers>

namespace tarvo::meter {

namespace {

constexpr double kTiny = 1e-300;
constexpr double kEpsilon = 1e-15;
constexpr int kMostTerms = 1000;

// Bins either side of a peak that give its local mean, in the segment's own
// bins: a quarter of the peak's bin, from 8 to 48 (3 Hz at 16 s segments),
// so that a steep slope at the band's low end changes little across them;
// no side of fewer than 8.
constexpr double kSideShare = 0.25, kSideBins = 48, kLeastSideBins = 8;
// Hann's neighbouring bins share 4/9 of their power's spread, the next
// but one 1/36: n bins side by side carry n / (1 + 2 (4/9 + 1/36))
// independent readings.
constexpr double kHannSpread = 1 + 2 * (4.0 / 9 + 1.0 / 36);
// A peak within 3 of the segment's bins of a stronger line is part of it;
// one farther is part of it while it lies under 4 times what the stronger
// line's window leaks there.
constexpr double kSameLineBins = 3, kLeakMargin = 4;
// However many segments narrow the noise's spread, a line's peak stands at
// least 4 times (6 dB) over the mean beside it: a spectrum's own smooth
// shape (a resonance's hump, a slope across the sides) is no line.
constexpr double kLeastOverMean = 4;
// A line's frequency uncertainty (CentroidUncertainty): three standard
// deviations, the Hann window's noise bandwidth in bins, and the least
// uncertainty in segment bins: the centroid of a lone line's five-bin lobe
// lies within 0.002 bins of it (the lobe's power 2.5 bins out, which one
// side leaves out, is 0.04 % of the lobe's), and a neighbour's leakage
// moves it by as much again.
constexpr double kUncertaintySigmas = 3, kHannNoiseBins = 1.5, kLeastUncertaintyBins = 0.01;

// The continued fraction of the incomplete beta function (modified Lentz).
double BetaFraction(double a, double b, double x)
{
    const double qab = a + b, qap = a + 1, qam = a - 1;
    double c = 1, d = 1 - qab * x / qap;
    d = 1 / (std::abs(d) < kTiny ? kTiny : d);
    double h = d;
    for (int m = 1; m <= kMostTerms; ++m) {
        const double m2 = 2.0 * m;
        double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
        d = 1 + aa * d;
        d = 1 / (std::abs(d) < kTiny ? kTiny : d);
        c = 1 + aa / c;
        c = std::abs(c) < kTiny ? kTiny : c;
        h *= d * c;
        aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
        d = 1 + aa * d;
        d = 1 / (std::abs(d) < kTiny ? kTiny : d);
        c = 1 + aa / c;
        c = std::abs(c) < kTiny ? kTiny : c;
        const double step = d * c;
        h *= step;
        if (std::abs(step - 1) < kEpsilon)
            break;
    }
    return h;
}

// What a Hann window of a line leaks x of its bins away (x >= 2), over its
// peak, in power: the envelope of (sin(pi x) / (pi x (1 - x^2)))^2.
double HannLeak(double x)
{
    const double e = 1 / (std::numbers::pi * x * (x * x - 1));
    return e * e;
}

// The median of n values, reordering them.
double Median(std::vector<double>& v)
{
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    return *mid;
}

}  // namespace

double AveragedDegreesOfFreedom(const std::vector<double>& window, size_t step, int segments)
{
    if (segments <= 0 || window.empty())
        return 0;
    double s2 = 0;
    for (double w : window)
        s2 += w * w;
    double sum = 0;
    for (int m = 1; m < segments && step > 0 && static_cast<size_t>(m) * step < window.size(); ++m) {
        const size_t shift = static_cast<size_t>(m) * step;
        double overlap = 0;
        for (size_t t = 0; t + shift < window.size(); ++t)
            overlap += window[t] * window[t + shift];
        const double rho = overlap / s2;
        sum += (1 - static_cast<double>(m) / segments) * rho * rho;
    }
    return 2 * segments / (1 + 2 * sum);
}

double GammaP(double a, double x)
{
    if (!(x > 0))
        return 0;
    const double front = std::exp(-x + a * std::log(x) - std::lgamma(a));
    if (x < a + 1) {
        // The series sum x^n / (a (a+1) ... (a+n)).
        double term = 1 / a, sum = term;
        for (int n = 1; n <= kMostTerms; ++n) {
            term *= x / (a + n);
            sum += term;
            if (std::abs(term) < std::abs(sum) * kEpsilon)
                break;
        }
        return std::min(1.0, sum * front);
    }
    // The continued fraction of the upper part (modified Lentz).
    double b = x + 1 - a, c = 1 / kTiny, d = 1 / b, h = d;
    for (int i = 1; i <= kMostTerms; ++i) {
        const double an = -i * (i - a);
        b += 2;
        d = an * d + b;
        d = 1 / (std::abs(d) < kTiny ? kTiny : d);
        c = b + an / c;
        c = std::abs(c) < kTiny ? kTiny : c;
        const double step = d * c;
        h *= step;
        if (std::abs(step - 1) < kEpsilon)
            break;
    }
    return std::max(0.0, 1 - front * h);
}

double BetaI(double a, double b, double x)
{
    if (!(x > 0))
        return 0;
    if (!(x < 1))
        return 1;
    const double front =
        std::exp(std::lgamma(a + b) - std::lgamma(a) - std::lgamma(b) + a * std::log(x) + b * std::log1p(-x));
    if (x < (a + 1) / (a + b + 2))
        return front * BetaFraction(a, b, x) / a;
    return 1 - front * BetaFraction(b, a, 1 - x) / b;
}

double ChiSquaredMedian(double dof)
{
    double lo = 0, hi = 1;  // the median lies under the mean
    for (int i = 0; i < 100; ++i) {
        const double mid = (lo + hi) / 2;
        (GammaP(dof / 2, dof * mid / 2) < 0.5 ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

double MedianEfficiency(double dof)
{
    // The median's variance is 1 / (4 n f(m)^2), f the density at the
    // median m; the mean's, relative to m as the median is, 2 / (nu n)
    // times m^2.
    const double m = ChiSquaredMedian(dof), half = dof / 2;
    const double f = std::exp(half * std::log(half) + (half - 1) * std::log(m) - half * m - std::lgamma(half));
    return 8 * f * f * m * m / dof;
}

double FExceeded(double dof1, double dof2, double chance)
{
    // P(F > x) = I_{d2 / (d2 + d1 x)}(d2 / 2, d1 / 2), falling with x:
    // bisection on log x.
    double lo = std::log(1e-3), hi = std::log(1e12);
    for (int i = 0; i < 200 && hi - lo > 1e-12; ++i) {
        const double mid = (lo + hi) / 2;
        const double x = std::exp(mid);
        (BetaI(dof2 / 2, dof1 / 2, dof2 / (dof2 + dof1 * x)) > chance ? lo : hi) = mid;
    }
    return std::exp(hi);
}

double CentroidUncertainty(double linePower, double noisePerBin, const LineBand& band)
{
    const double pad = std::max(1.0, band.padding);
    const double segmentBin = band.binHz * pad;  // 1 / Ts
    const double floor = kLeastUncertaintyBins * segmentBin;
    if (!(noisePerBin > 0) || !(linePower > 0) || !(segmentBin > 0))
        return floor;
    const double perSegment = 2 * linePower / noisePerBin / pad;  // rho of one segment: A^2 Ts / N0
    const double segments = std::max(1.0, band.dof / 2);
    const double sigma = std::sqrt(3 * kHannNoiseBins / (perSegment * segments)) / std::numbers::pi * segmentBin;
    return kUncertaintySigmas * sigma + floor;
}

std::vector<ModulationLine> FindLines(const std::vector<double>& power, const LineBand& band, size_t most, double share,
                                      double least, const std::function<double(double power, double hz)>& level)
{
    const double pad = std::max(1.0, band.padding);
    const size_t n = power.size();
    // The main lobe of a line: 2 of the segment's bins either side.
    const size_t h = static_cast<size_t>(std::ceil(2 * pad - 1e-9));
    if (!(band.binHz > 0) || !(band.dof > 0) || n < 2 * h + 3)
        return {};
    const size_t first = std::max({static_cast<size_t>(std::ceil(static_cast<double>(band.lowestBin) * pad - 1e-9)),
                                   static_cast<size_t>(std::ceil(band.lowHz / band.binHz)), h});
    const size_t last = std::min(n - 1 - h, static_cast<size_t>(band.highHz / band.binHz));
    if (first >= last)
        return {};

    // For noise, a bin over its local mean is chi-squared of nu degrees of
    // freedom over nu; the mean is read as the median of the bins beside
    // the peak over the median of that distribution, itself as spread as
    // the mean of (efficiency x independent bins) of them. Their ratio is
    // then Snedecor's F, and every bin tested gets an equal part of the
    // band's chance.
    const double nu = band.dof;
    const double median = ChiSquaredMedian(nu);
    const double efficiency = MedianEfficiency(nu);
    const double chance = kFalseLineChance / static_cast<double>(last - first + 1);
    std::map<size_t, double> thresholds;  // by the reference's count of bins
    auto threshold = [&](size_t count) {
        auto it = thresholds.find(count);
        if (it == thresholds.end()) {
            const double independent = static_cast<double>(count) / pad / kHannSpread;
            const double referenceDof = std::max(1.0, nu * efficiency * independent);
            it = thresholds.emplace(count, std::max(kLeastOverMean, FExceeded(nu, referenceDof, chance))).first;
        }
        return it->second;
    };

    // The sides never reach past the band's edges: beyond its top lies the
    // band's filter, whose slope would pass for a quiet neighbourhood.
    const auto leastSide = static_cast<size_t>(std::lround(kLeastSideBins * pad));
    std::vector<double> left, right;
    struct Peak {
        ModulationLine line;
        double power;
    };
    std::vector<Peak> peaks;
    for (size_t k = first; k <= last; ++k) {
        // The highest bin of its own lobe: no ripple on a stronger line's flank.
        const double p = power[k];
        if (!(p > *std::max_element(power.begin() + static_cast<std::ptrdiff_t>(k - h),
                                   power.begin() + static_cast<std::ptrdiff_t>(k)) &&
              p >= *std::max_element(power.begin() + static_cast<std::ptrdiff_t>(k + 1),
                                     power.begin() + static_cast<std::ptrdiff_t>(k + h + 1))))
            continue;
        const auto side = static_cast<size_t>(
            std::lround(std::clamp(kSideShare * static_cast<double>(k) / pad, kLeastSideBins, kSideBins) * pad));
        // The bins either side of the peak's lobe.
        left.clear();
        right.clear();
        if (k > first + h)
            for (size_t j = k - h - 1; j >= first && left.size() < side; --j) {
                left.push_back(power[j]);
                if (j == 0)
                    break;
            }
        for (size_t j = k + h + 1; j <= last && right.size() < side; ++j)
            right.push_back(power[j]);
        // Near a cliff in the spectrum (an edge of the band, or of the
        // flutter itself) the lower side would understate the peak's own
        // neighbourhood: the higher side's mean stands for it.
        double mean = 0;
        size_t count = 0;
        for (std::vector<double>* s : {&left, &right}) {
            if (s->size() < leastSide)
                continue;
            const size_t c = s->size();
            const double m = Median(*s) / median;
            if (m > mean || count == 0) {
                mean = m;
                count = c;
            }
        }
        if (count == 0) {
            left.insert(left.end(), right.begin(), right.end());
            if (left.size() < 3)
                continue;
            count = left.size();
            mean = Median(left) / median;
        }
        if (!(p > threshold(count) * mean))
            continue;
        double sum = 0, moment = 0;
        for (size_t j = k - h; j <= k + h; ++j) {
            sum += power[j];
            moment += power[j] * static_cast<double>(j);
        }
        const double hz = moment / sum * band.binHz;
        const double percent = level(sum, hz);
        if (percent >= least) {
            peaks.push_back({{hz, percent}, p});
            peaks.back().line.hzUncertainty =
                CentroidUncertainty(sum - static_cast<double>(2 * h + 1) * mean, mean, band);
        }
    }
    std::sort(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) { return a.line.percent > b.line.percent; });

    // A stronger line's own lobe and leakage are no line: with a fine
    // transform (a short file's) its window's side lobes stand as peaks.
    // What lies under the band's first bin leaks into it as much, but is
    // no line: its strongest bin stands for it.
    const double segmentBinHz = band.binHz * pad;
    std::vector<Peak> kept;
    if (first > 1) {
        const auto low = std::max_element(power.begin() + 1, power.begin() + static_cast<std::ptrdiff_t>(first));
        kept.push_back({{static_cast<double>(low - power.begin()) * band.binHz, 0}, *low});
    }
    const size_t sources = kept.size();
    for (const Peak& c : peaks) {
        const bool part = std::any_of(kept.begin(), kept.end(), [&](const Peak& s) {
            const double x = std::abs(c.line.hz - s.line.hz) / segmentBinHz;
            const bool source = &s < kept.data() + sources;
            return (x < kSameLineBins && !source) || c.power < kLeakMargin * s.power * HannLeak(std::max(x, 2.0));
        });
        if (!part)
            kept.push_back(c);
    }
    std::vector<ModulationLine> lines;
    for (size_t i = sources; i < kept.size(); ++i) {
        if (lines.size() == most || kept[i].line.percent < share * kept[sources].line.percent)
            break;
        lines.push_back(kept[i].line);
    }
    return lines;
}

}  // namespace tarvo::meter
