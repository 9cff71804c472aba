// Axis ticks a reader takes in at a glance: round values in 1, 2, 5 steps,
// seconds as plain numbers or m:ss for long files, percent without
// exponents, a deviation axis never narrower than +-0.01 %, and a log
// frequency axis labelled at 0.2, 0.5, 1, 2, 5 ... 200 Hz (0.2, 1, 10, 100,
// 200 Hz where it is narrow).
//
// Any ends give an axis: NaN counts as 0 (as 1 on a log axis), ends beyond
// +-kAxisReach are brought in to it, swapped ends are put in order, and an
// axis is never narrower than kNarrowestAxis (nor than a billionth of its
// ends), so that every axis has finite ends and at most maxSteps + 1 ticks
// (a log axis one tick a decade, three with 1, 2, 5).
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace tarvo::meter {

inline constexpr double kNarrowestDeviation = 0.01;  // percent each side of 0
inline constexpr double kMinutesFrom = 120;          // seconds: longer spans are labelled m:ss
// No figure the meter gives comes near these (percent below 100, Hz below
// 20000, hours of sound); a label of 12 digits still reads whole.
inline constexpr double kAxisReach = 1e12;
inline constexpr double kNarrowestAxis = 1e-9;
inline constexpr double kLeastLog = 1e-9;  // the lowest end of a log axis
inline constexpr int kMostSteps = 50;      // a larger maxSteps is taken as this

// v brought within +-kAxisReach, a NaN to 0: a point the plots can place.
double OnAxis(double v);

struct Axis {
    double lo = 0, hi = 1;
    std::vector<double> ticks;
    std::vector<std::string> labels;
};

// The smallest 1, 2, 5 step that divides span into at most maxSteps steps.
double AxisStep(double span, int maxSteps);

// The label of v on an axis whose ticks are `step` apart: as many decimals as
// the step needs, never an exponent.
std::string TickLabel(double v, double step);

// A linear axis from lo to hi widened to whole steps.
Axis LinearAxis(double lo, double hi, int maxSteps = 6);
// The deviation in percent: at least +-kNarrowestDeviation, widened to whole steps.
Axis DeviationAxis(double lo, double hi, int maxSteps = 6);
// Time from 0 to seconds: plain seconds, or m:ss from kMinutesFrom on.
Axis TimeAxis(double seconds, int maxSteps = 7);
// Time from `from` to `to` (a stretch of a file), labelled as TimeAxis would.
Axis TimeAxis(double from, double to, int maxSteps);
// A log axis: ticks at the 1, 2, 5 values between lo and hi, or, where that
// is too many for the width, at the decades and the two ends.
enum class LogTicks { OneTwoFive, Decades };
Axis LogAxis(double lo, double hi, LogTicks which = LogTicks::OneTwoFive);

// A batch's figures (percent, at least 0) counted in bins of one 1, 2, 5
// width from 0: about twice the cube root of their number of bins (5 to
// 25), reaching past the highest figure and `also` (a limit to be drawn),
// a bin more where either ends on an edge. A bin holds its upper edge, not
// its lower, so that a figure equal to a limit, which passes, counts on the
// limit's side. Figures below 0 count in the first bin, NaN and infinities
// not at all.
struct FigureBins {
    double width = 1;
    std::vector<int> counts;  // never empty
    int figures = 0;          // those counted
    int most = 0;             // the fullest bin's count
};
FigureBins CountFigures(const std::vector<double>& figures, std::optional<double> also = std::nullopt);

}  // namespace tarvo::meter
