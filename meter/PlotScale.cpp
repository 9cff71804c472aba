#include "meter/PlotScale.h"

#include "meter/Meter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarvo::meter {

namespace {

constexpr double kMantissas[] = {1, 2, 5};

int Decimals(double step) { return std::max(0, static_cast<int>(-std::floor(std::log10(step) + 1e-9))); }

std::string MinutesLabel(double v)
{
    const long total = std::lround(v);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld:%02ld", total / 60, total % 60);
    return buf;
}

// Ticks at whole steps from lo to hi.
std::vector<double> Ticks(double lo, double hi, double step)
{
    std::vector<double> t;
    for (double k = std::ceil(lo / step - 1e-9); k * step <= hi + step * 1e-9; ++k)
        t.push_back(k * step == 0 ? 0.0 : k * step);  // no "-0"
    return t;
}

}  // namespace

double AxisStep(double span, int maxSteps)
{
    if (!(span > 0) || maxSteps < 1)
        return 1;
    double decade = std::pow(10.0, std::floor(std::log10(span / maxSteps)));
    for (;;) {
        for (double m : kMantissas)
            if (span / (m * decade) <= maxSteps + 1e-9)
                return m * decade;
        decade *= 10;
    }
}

std::string TickLabel(double v, double step) { return FixedText(v, Decimals(step)); }

Axis LinearAxis(double lo, double hi, int maxSteps)
{
    if (!(hi > lo)) {
        const double pad = lo != 0 ? std::abs(lo) * 0.1 : 1;
        lo -= pad;
        hi += pad;
    }
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
    a.ticks = Ticks(a.lo, a.hi, used);
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
    Axis a;
    a.lo = from;
    a.hi = to > from ? to : from + 1;
    const double span = a.hi - a.lo;
    const bool minutes = a.hi >= kMinutesFrom;
    double step = AxisStep(span, maxSteps);
    if (minutes) {
        // Whole minutes in 1, 2, 5 steps, or 10, 20 or 30 s for shorter spans.
        step = span / 60 >= 2 ? 60 * AxisStep(span / 60, maxSteps) : std::max(10.0, step);
        if (step < 60 && step != 10 && step != 20)
            step = 30;
    }
    a.ticks = Ticks(a.lo, a.hi, step);
    for (double t : a.ticks)
        a.labels.push_back(minutes ? MinutesLabel(t) : TickLabel(t, step));
    return a;
}

Axis LogAxis(double lo, double hi, LogTicks which)
{
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

}  // namespace tarvo::meter
