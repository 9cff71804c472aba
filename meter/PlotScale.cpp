#include "meter/PlotScale.h"

#include "meter/Meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarvo::meter {

namespace {

constexpr double kMantissas[] = {1, 2, 5};
constexpr int kMostDecimals = 15;  // a step of 1e-15 and finer: a label keeps 15 decimals

int Decimals(double step)
{
    if (!(step > 0 && step < kAxisReach * 10))
        return 0;
    return std::min(kMostDecimals, std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9))));
}

int Steps(int maxSteps) { return std::clamp(maxSteps, 1, kMostSteps); }

std::string MinutesLabel(double v)
{
    const long total = std::lround(OnAxis(v));
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", total / 60, total % 60);
    return buf;
}

// The ends brought onto the axis's reach and put in order.
void Order(double& lo, double& hi)
{
    lo = OnAxis(lo);
    hi = OnAxis(hi);
    if (lo > hi)
        std::swap(lo, hi);
}

// hi moved up where the ends lie closer than an axis may be narrow.
void Widen(double lo, double& hi)
{
    const double least = std::max(kNarrowestAxis, 1e-9 * std::max(std::abs(lo), std::abs(hi)));
    if (!(hi - lo >= least))
        hi = lo + least;
}

// Ticks at whole steps from lo to hi, at most `most` of them.
std::vector<double> Ticks(double lo, double hi, double step, int most)
{
    std::vector<double> t;
    const double first = std::ceil(lo / step - 1e-9);
    for (int i = 0; i < most; ++i) {
        const double v = (first + i) * step;
        if (!(v <= hi + step * 1e-9))
            break;
        t.push_back(v == 0 ? 0.0 : v);  // no "-0"
    }
    return t;
}

}  // namespace

double OnAxis(double v) { return std::isnan(v) ? 0.0 : std::clamp(v, -kAxisReach, kAxisReach); }

double AxisStep(double span, int maxSteps)
{
    if (!(span > 0) || maxSteps < 1)
        return 1;
    span = std::clamp(span, kNarrowestAxis, 2 * kAxisReach);
    maxSteps = Steps(maxSteps);
    // The first decade's 1, 2 or 5, else the next decade's 1, fits: span /
    // maxSteps lies below ten times the decade. A third try covers rounding.
    double decade = std::pow(10.0, std::floor(std::log10(span / maxSteps)));
    for (int tries = 0; tries < 3; ++tries, decade *= 10)
        for (double m : kMantissas)
            if (span / (m * decade) <= maxSteps + 1e-9)
                return m * decade;
    return span;
}

std::string TickLabel(double v, double step) { return FixedText(v, Decimals(step)); }

Axis LinearAxis(double lo, double hi, int maxSteps)
{
    maxSteps = Steps(maxSteps);
    Order(lo, hi);
    if (!(hi > lo)) {
        const double pad = lo != 0 ? std::abs(lo) * 0.1 : 1;
        lo -= pad;
        hi += pad;
    }
    Widen(lo, hi);
    const double step = AxisStep(hi - lo, maxSteps);
    Axis a;
    a.lo = std::floor(lo / step + 1e-9) * step;
    a.hi = std::ceil(hi / step - 1e-9) * step;
    // Widening may add a step: take the next size up when it does.
    if ((a.hi - a.lo) / step > maxSteps + 1e-9) {
        const double wider = AxisStep((a.hi - a.lo) * 1.0001, maxSteps);
        a.lo = std::floor(lo / wider + 1e-9) * wider;
        a.hi = std::ceil(hi / wider - 1e-9) * wider;
    }
    const double used = AxisStep(a.hi - a.lo, maxSteps);
    a.ticks = Ticks(a.lo, a.hi, used, maxSteps + 1);
    for (double t : a.ticks)
        a.labels.push_back(TickLabel(t, used));
    return a;
}

Axis DeviationAxis(double lo, double hi, int maxSteps)
{
    return LinearAxis(std::min(lo, -kNarrowestDeviation), std::max(hi, kNarrowestDeviation), maxSteps);
}

Axis TimeAxis(double seconds, int maxSteps) { return TimeAxis(0, seconds, maxSteps); }

Axis TimeAxis(double from, double to, int maxSteps)
{
    maxSteps = Steps(maxSteps);
    from = OnAxis(from);
    to = OnAxis(to);
    Axis a;
    a.lo = from;
    a.hi = to > from ? to : from + 1;
    Widen(a.lo, a.hi);
    const double span = a.hi - a.lo;
    const bool minutes = a.hi >= kMinutesFrom;
    double step = AxisStep(span, maxSteps);
    if (minutes) {
        // Whole minutes in 1, 2, 5 steps, or 10, 20 or 30 s for shorter
        // spans (a whole minute where 30 s would make too many steps).
        step = span / 60 >= 2 ? 60 * AxisStep(span / 60, maxSteps) : std::max(10.0, step);
        if (step < 60 && step != 10 && step != 20)
            step = span / 30 <= maxSteps + 1e-9 ? 30 : 60;
    }
    a.ticks = Ticks(a.lo, a.hi, step, maxSteps + 1);
    for (double t : a.ticks)
        a.labels.push_back(minutes ? MinutesLabel(t) : TickLabel(t, step));
    return a;
}

Axis LogAxis(double lo, double hi, LogTicks which)
{
    // Positive ends within reach, in order and apart (a decade at least
    // where they meet): at most 22 decades.
    const auto positive = [](double v) { return std::isnan(v) ? 1.0 : std::clamp(v, kLeastLog, kAxisReach); };
    lo = positive(lo);
    hi = positive(hi);
    if (lo > hi)
        std::swap(lo, hi);
    if (!(hi > lo * (1 + 1e-6)))
        hi = lo * 10;
    Axis a;
    a.lo = lo;
    a.hi = hi;
    const auto inside = [&](double v) { return v >= lo * (1 - 1e-9) && v <= hi * (1 + 1e-9); };
    const auto add = [&](double v, double decade) {
        if (a.ticks.empty() || v > a.ticks.back() * (1 + 1e-9)) {
            a.ticks.push_back(v);
            a.labels.push_back(TickLabel(v, decade));
        }
    };
    const double first = std::pow(10.0, std::floor(std::log10(lo) + 1e-9));
    if (which == LogTicks::Decades)
        add(lo, first);
    for (double decade = first; decade <= hi * (1 + 1e-9); decade *= 10)
        for (double m : kMantissas)
            if ((which == LogTicks::OneTwoFive || m == 1) && inside(m * decade))
                add(m * decade, decade);
    if (which == LogTicks::Decades)
        add(hi, std::pow(10.0, std::floor(std::log10(hi) + 1e-9)));
    return a;
}

FigureBins CountFigures(const std::vector<double>& figures, std::optional<double> also)
{
    FigureBins b;
    double high = 0.001;  // percent: an axis for figures all 0
    for (double v : figures)
        if (std::isfinite(v)) {
            high = std::max(high, std::min(v, kAxisReach));
            ++b.figures;
        }
    if (also && std::isfinite(*also))
        high = std::max(high, std::min(*also, kAxisReach));
    const int target = std::clamp(static_cast<int>(std::ceil(2 * std::cbrt(static_cast<double>(b.figures)))), 5, 25);
    b.width = AxisStep(high, target);
    // At most target + 1 bins (AxisStep's steps fit its span), bounded once more.
    const double edges = std::min(std::floor(high / b.width + 1e-9), 4.0 * kMostSteps);
    b.counts.assign(static_cast<size_t>(edges) + 1, 0);
    for (double v : figures) {
        if (!std::isfinite(v))
            continue;
        const double above = std::clamp(std::ceil(v / b.width - 1e-9) - 1, 0.0, edges);
        b.most = std::max(b.most, ++b.counts[static_cast<size_t>(above)]);
    }
    return b;
}

}  // namespace tarvo::meter
