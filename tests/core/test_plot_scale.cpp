// The plots' axes, bins and polar plot for any numbers at all (a saved
// result may hold figures the meter refuses): finite, bounded, in order.
#include "meter/PlotScale.h"
#include "meter/Views.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <string>
#include <vector>

using namespace tarvo;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kDenormal = std::numeric_limits<double>::denorm_min();

struct Span {
    double lo, hi;
};

const Span kSpans[] = {
    {kNaN, kNaN},     {kNaN, 1},           {-1, kNaN},        {0, kInf},       {-kInf, kInf},  {-kInf, 0},
    {kInf, kInf},     {-kInf, -kInf},      {kInf, -kInf},     {0, 0},          {-0.0, 0.0},    {0, kDenormal},
    {-kDenormal, 0},  {kDenormal, kDenormal}, {0, 1e308},     {-1e308, 1e308}, {-1e308, 0},    {1e308, 1e308},
    {DBL_MAX, -DBL_MAX}, {5, 1},           {3, 3},            {-7, -7},        {1e12, 1e12 + 1e-3}, {0.2, 200},
    {-0.13, 0.14},    {1e-300, 2e-300},    {1e6, 1e6 + 1e-4}, {60, 160},
};

std::string Text(const Span& s) { return std::to_string(s.lo) + " .. " + std::to_string(s.hi); }

// Finite ends in order, ticks rising within them, one label each of a
// readable length, and at most `most` ticks.
void ExpectBounded(const meter::Axis& a, size_t most, const std::string& what)
{
    ASSERT_TRUE(std::isfinite(a.lo) && std::isfinite(a.hi)) << what;
    EXPECT_LT(a.lo, a.hi) << what;
    // Never narrower than kNarrowestAxis nor than a billionth of its ends.
    EXPECT_GE(a.hi - a.lo, meter::kNarrowestAxis * (1 - 1e-6)) << what;
    EXPECT_GE(a.hi - a.lo, 1e-9 * std::max(std::abs(a.lo), std::abs(a.hi)) * (1 - 1e-6)) << what;
    EXPECT_LE(a.ticks.size(), most) << what;
    ASSERT_EQ(a.labels.size(), a.ticks.size()) << what;
    const double slack = (a.hi - a.lo) * 1e-6;
    for (size_t i = 0; i < a.ticks.size(); ++i) {
        EXPECT_TRUE(std::isfinite(a.ticks[i])) << what;
        EXPECT_GE(a.ticks[i], a.lo - slack) << what;
        EXPECT_LE(a.ticks[i], a.hi + slack) << what;
        if (i > 0) {
            EXPECT_GT(a.ticks[i], a.ticks[i - 1]) << what;
        }
        EXPECT_LE(a.labels[i].size(), 32u) << what << ": " << a.labels[i];
        EXPECT_EQ(a.labels[i].find_first_of("eE"), std::string::npos) << what << ": " << a.labels[i];
    }
}

TEST(PlotScale, AnyEndsGiveFiniteAxesWithFewTicks)
{
    for (const Span& s : kSpans) {
        for (int steps : {1, 2, 4, 6, 1000, INT_MAX}) {
            const size_t most = static_cast<size_t>(std::min(steps, meter::kMostSteps)) + 1;
            const std::string what = Text(s) + " in " + std::to_string(steps) + " steps";
            ExpectBounded(meter::LinearAxis(s.lo, s.hi, steps), most, "linear " + what);
            ExpectBounded(meter::DeviationAxis(s.lo, s.hi, steps), most, "deviation " + what);
            ExpectBounded(meter::TimeAxis(s.lo, s.hi, steps), most, "time " + what);
        }
        ExpectBounded(meter::TimeAxis(s.hi), 8, "time to " + Text(s));
        // A log axis: a tick at most at 1, 2 and 5 of each decade from 1e-9 to 1e12, and the ends.
        for (meter::LogTicks which : {meter::LogTicks::OneTwoFive, meter::LogTicks::Decades}) {
            const meter::Axis a = meter::LogAxis(s.lo, s.hi, which);
            ExpectBounded(a, 3 * 23 + 2, "log " + Text(s));
            EXPECT_GT(a.lo, 0) << Text(s);
        }
    }
}

// Linear axes a reader can use: two ticks at least, and the axis covers
// the ends that lie within its reach (to a millionth of its width).
TEST(PlotScale, EveryAxisHasTicksAndCoversItsEnds)
{
    for (const Span& s : kSpans) {
        const meter::Axis a = meter::LinearAxis(s.lo, s.hi);
        EXPECT_GE(a.ticks.size(), 2u) << Text(s);
        const double slack = (a.hi - a.lo) * 1e-6;
        for (double end : {s.lo, s.hi})
            if (std::abs(end) <= meter::kAxisReach) {
                EXPECT_LE(a.lo, end + slack) << Text(s);
                EXPECT_GE(a.hi, end - slack) << Text(s);
            }
    }
}

// The step is the smallest of 1, 2, 5 times a power of ten that divides
// the span into maxSteps steps at most, found here by trying them all;
// spans that are no number or beyond the axes' reach still give a step.
TEST(PlotScale, StepIsTheSmallestRoundOneThatFits)
{
    for (double span : {1e-9, 0.0137, 0.02, 1.0, 7.0, 10.0, 1234.5, 3e11, 2e12})
        for (int steps : {1, 2, 5, 6, 7}) {
            double best = kInf;
            for (int e = -12; e <= 13; ++e)
                for (double m : {1.0, 2.0, 5.0}) {
                    const double candidate = m * std::pow(10.0, e);
                    if (span / candidate <= steps * (1 + 1e-12))
                        best = std::min(best, candidate);
                }
            EXPECT_NEAR(meter::AxisStep(span, steps) / best, 1, 1e-12) << span << " in " << steps;
        }
    for (double span : {kNaN, kInf, -kInf, 0.0, -1.0, kDenormal, 1e308, DBL_MAX})
        for (int steps : {INT_MIN, 0, 1, 6, INT_MAX}) {
            const double step = meter::AxisStep(span, steps);
            EXPECT_TRUE(std::isfinite(step) && step > 0) << span << " in " << steps;
        }
    // Wider than the axes reach: as the widest axis, in 50 steps at most.
    EXPECT_DOUBLE_EQ(meter::AxisStep(kInf, INT_MAX), meter::AxisStep(2 * meter::kAxisReach, meter::kMostSteps));
    EXPECT_DOUBLE_EQ(meter::AxisStep(kDenormal, 6), meter::AxisStep(meter::kNarrowestAxis, 6));
}

// A label keeps the decimals its step needs, 15 at most; a step that is no
// positive number gives none.
TEST(PlotScale, LabelsOfAnyStep)
{
    const struct {
        double step;
        const char* label;
    } cases[] = {{0.5, "0.2"}, {0.05, "0.25"}, {1e-15, "0.250000000000000"}, {kDenormal, "0.250000000000000"},
                 {1, "0"},     {kNaN, "0"},     {kInf, "0"},                 {0, "0"},
                 {-0.1, "0"},  {1e308, "0"}};
    for (const auto& c : cases)
        EXPECT_EQ(meter::TickLabel(0.25, c.step), c.label) << c.step;
}

// A time axis of no length is one second long from its start.
TEST(PlotScale, TimeWithoutLengthIsOneSecond)
{
    for (double to : {5.0, 4.0, kNaN}) {
        const meter::Axis a = meter::TimeAxis(5, to, 6);
        EXPECT_EQ(a.lo, 5) << to;
        EXPECT_EQ(a.hi, 6) << to;
    }
}

TEST(PlotScale, PointsComeOntoTheAxes)
{
    const struct {
        double v, onAxis;
    } cases[] = {{kNaN, 0}, {kInf, meter::kAxisReach}, {-kInf, -meter::kAxisReach}, {1e308, meter::kAxisReach},
                 {-1e308, -meter::kAxisReach}, {0.25, 0.25}, {-3e11, -3e11}, {kDenormal, kDenormal}};
    for (const auto& c : cases)
        EXPECT_EQ(meter::OnAxis(c.v), c.onAxis) << c.v;
}

// The polar plot of any track: finite rings, bounded turns, only numbers.
TEST(MeterViews, PolarPlotOfAnyTrackIsBounded)
{
    const struct Case {
        const char* what;
        double revolutionHz;
        std::vector<double> seconds, deviation;
        size_t turns;  // expected
    } cases[] = {
        {"NaN rate", kNaN, {0, 1, 2}, {0.1, 0.2, 0.3}, 0},
        {"infinite rate", kInf, {0, 1, 2}, {0.1, 0.2, 0.3}, 0},
        {"rate of 1e308", 1e308, {0, 1, 2}, {0.1, 0.2, 0.3}, 0},
        {"denormal rate", kDenormal, {0, 1, 2}, {0.1, 0.2, 0.3}, 1},
        {"NaN deviation", 1, {0, 0.5, 1.5}, {kNaN, 0.2, 0.3}, 2},
        {"infinite deviations", 1, {0, 0.5, 1.5}, {-kInf, kInf, 0.3}, 1},
        {"deviations of 1e308", 1, {0, 0.5, 1.5, 2.5}, {1e308, -1e308, 0, 0}, 2},
        {"NaN and infinite times", 1, {kNaN, kInf, -kInf, 3.5}, {0.1, 0.1, 0.1, 0.1}, 1},
        {"times before the start", 1, {-2.5, -1.5, 0.5}, {0.1, 0.2, 0.3}, 3},
        {"fewer deviations than times", 1, {0, 1, 2, 3}, {0.1, 0.2}, 2},
        {"a thousand turns", 1000, {}, {}, 2},  // four take 4 ms: two points
    };
    for (const Case& k : cases) {
        meter::ChannelFigures c;
        c.revolutionHz = k.revolutionHz;
        c.trackSeconds = k.seconds;
        c.trackDeviation = k.deviation;
        if (c.trackSeconds.empty())
            for (int i = 0; i < 5000; ++i) {
                c.trackSeconds.push_back(i * 0.002);
                c.trackDeviation.push_back(0.05);
            }
        const meter::PolarView v = meter::MakePolar(c);
        EXPECT_EQ(v.angle.size(), k.turns) << k.what;
        ASSERT_EQ(v.radius.size(), v.angle.size()) << k.what;
        if (k.turns == 0)
            continue;
        EXPECT_TRUE(std::isfinite(v.base) && v.base > 0) << k.what;
        EXPECT_TRUE(std::isfinite(v.ringStep) && v.ringStep > 0) << k.what;
        for (size_t t = 0; t < v.angle.size(); ++t) {
            ASSERT_EQ(v.radius[t].size(), v.angle[t].size()) << k.what;
            for (size_t i = 0; i < v.angle[t].size(); ++i) {
                EXPECT_GE(v.angle[t][i], 0) << k.what;
                EXPECT_LT(v.angle[t][i], 360) << k.what;
                EXPECT_TRUE(std::isfinite(v.radius[t][i])) << k.what;
            }
        }
    }
}

// The collector takes deviations in Hz from the filters' reference and
// gives them in percent of the mean carrier the run found: a deck whose
// tone runs 10 Hz over the 1000 Hz reference and moves +-1.01 Hz about its
// 1010 Hz mean moves +-0.1 %, half the time at each end.
TEST(MeterViews, TrackAndHistogramInPercentOfTheMeanCarrier)
{
    meter::TrackCollector collector(1000, 500, 10, 0);
    for (int i = 0; i < 1000; ++i)
        collector.Add(i * 0.002, i % 2 ? 11.01 : 8.99, 0);
    meter::ChannelFigures c;
    c.carrierHz = 1010;
    collector.Finish(c);
    ASSERT_EQ(c.trackDeviation.size(), 1000u);
    for (size_t i = 0; i < c.trackDeviation.size(); ++i)
        EXPECT_NEAR(c.trackDeviation[i], i % 2 ? 0.1 : -0.1, 1e-9) << i;
    ASSERT_EQ(c.histogramShare.size(), 41u);
    EXPECT_DOUBLE_EQ(c.histogramShare.front(), 0.5);
    EXPECT_DOUBLE_EQ(c.histogramShare.back(), 0.5);
    const double width = 0.2 / 41;
    EXPECT_NEAR(c.histogramPercent.front(), -0.1, width);
    EXPECT_NEAR(c.histogramPercent.back(), 0.1, width);
}

// The whole track in buckets: 10 ms each while they fit, pairs merged into
// buckets twice as long when a long run would pass the most; each keeps the
// least, greatest and mean deviation and the mean weighted deviation. A
// ramp of t Hz (0.1 t % of 1000 Hz) read every 5 ms, halfway between the
// buckets' edges, gives each bucket of w seconds from k w: least
// 0.1 (k w + 0.0025), greatest 0.1 (k w + w - 0.0025), mean halfway.
TEST(MeterViews, WholeTrackInBucketsAtAnyLength)
{
    const struct Case {
        double seconds, bucket;
    } cases[] = {{3, 0.01}, {1999.99, 0.01}, {2500, 0.02}, {4500, 0.04}};
    for (const Case& k : cases) {
        meter::TrackCollector collector(1000, 200, 10, 0);
        const auto n = static_cast<int64_t>(std::llround(k.seconds / 0.005));
        for (int64_t i = 0; i < n; ++i) {
            const double t = (static_cast<double>(i) + 0.5) * 0.005;
            collector.Add(t, t, -t);
        }
        meter::ChannelFigures c;
        c.carrierHz = 1000;
        collector.Finish(c);
        EXPECT_DOUBLE_EQ(c.fineSeconds, k.bucket) << k.seconds;
        const auto buckets = static_cast<size_t>(std::ceil(static_cast<double>(n) * 0.005 / k.bucket - 1e-9));
        ASSERT_EQ(c.fineMin.size(), buckets) << k.seconds;
        ASSERT_EQ(c.fineMax.size(), buckets);
        ASSERT_EQ(c.fineMean.size(), buckets);
        ASSERT_EQ(c.fineWeighted.size(), buckets);
        EXPECT_LE(buckets, meter::kMostTrackBuckets);
        for (size_t b = 0; b + 1 < buckets; b += buckets / 50 + 1) {
            const double from = static_cast<double>(b) * k.bucket + 0.0025, to = from + k.bucket - 0.005;
            const double tolerance = 1e-6 * (1 + to);  // floats
            EXPECT_NEAR(c.fineMin[b], 0.1 * from, tolerance) << k.seconds << " bucket " << b;
            EXPECT_NEAR(c.fineMax[b], 0.1 * to, tolerance) << k.seconds << " bucket " << b;
            EXPECT_NEAR(c.fineMean[b], 0.05 * (from + to), tolerance) << k.seconds << " bucket " << b;
            EXPECT_NEAR(c.fineWeighted[b], -0.05 * (from + to), tolerance) << k.seconds << " bucket " << b;
        }
    }
}

// A span of the track: the stretch's own points where finer than the
// buckets, else every bucket, else columns of whole buckets.
TEST(MeterViews, SpanTakesTheFinestTrackThatCoversIt)
{
    meter::ChannelFigures c;
    c.fineSeconds = 0.01;
    for (int b = 0; b < 1000; ++b) {  // 10 s; bucket b's deviation runs from b to b + 1 %
        c.fineMin.push_back(static_cast<float>(b));
        c.fineMax.push_back(static_cast<float>(b + 1));
        c.fineMean.push_back(static_cast<float>(b + 0.5));
        c.fineWeighted.push_back(static_cast<float>(-b));
    }
    for (int i = 0; i <= 2000; ++i) {  // the first 4 s at 500 points a second
        c.trackSeconds.push_back(i * 0.002);
        c.trackDeviation.push_back(i);
        c.trackWeighted.push_back(-i);
    }
    const struct Case {
        double from, to;
        size_t columns;
        bool detail;
        size_t points;
        double firstMin, firstMax;
    } cases[] = {
        {1, 2, 800, true, 503, 499, 499},        // the stretch's 501 points and one each side
        {0, 10, 800, false, 1000, 0, 1},         // 1000 buckets for 800 columns: each its own
        {5, 6, 800, false, 100, 500, 501},       // beyond the stretch
        {0, 10, 100, false, 100, 0, 10},         // ten buckets a column
        {9.5, 20, 800, false, 50, 950, 951},     // past the end: what there is
        {2, 3, 200, true, 168, 999, 999},        // every third of the stretch's 503 points
    };
    for (const Case& k : cases) {
        const meter::TrackColumns s = meter::TrackSpan(c, k.from, k.to, k.columns);
        SCOPED_TRACE(std::to_string(k.from) + " to " + std::to_string(k.to));
        EXPECT_EQ(s.detail, k.detail);
        if (k.detail)
            EXPECT_NEAR(static_cast<double>(s.seconds.size()), static_cast<double>(k.points), 2);
        else
            EXPECT_EQ(s.seconds.size(), k.points);
        ASSERT_FALSE(s.min.empty());
        EXPECT_DOUBLE_EQ(s.min.front(), k.firstMin);
        EXPECT_DOUBLE_EQ(s.max.front(), k.firstMax);
        EXPECT_EQ(s.mean.size(), s.seconds.size());
        EXPECT_EQ(s.weighted.size(), s.seconds.size());
    }
    // The readout's bucket: none before the start or past the end.
    EXPECT_EQ(meter::BucketAt(c, 0.015), std::optional<size_t>(1));
    EXPECT_FALSE(meter::BucketAt(c, 10.5));
    EXPECT_FALSE(meter::BucketAt(c, -1));
}

// A gap in the track (no point for a while) repeats the bucket before it;
// a point that is not a number is left out.
TEST(MeterViews, WholeTrackBridgesGapsAndSkipsNaN)
{
    meter::TrackCollector collector(1000, 200, 10, 0);
    collector.Add(0.001, 1, 2);
    collector.Add(0.002, kNaN, 2);
    collector.Add(0.051, 3, 4);
    meter::ChannelFigures c;
    c.carrierHz = 1000;
    collector.Finish(c);
    ASSERT_EQ(c.fineMin.size(), 6u);
    for (size_t b = 0; b < 5; ++b) {
        EXPECT_FLOAT_EQ(c.fineMin[b], 0.1f) << b;
        EXPECT_FLOAT_EQ(c.fineWeighted[b], 0.2f) << b;
    }
    EXPECT_FLOAT_EQ(c.fineMax[5], 0.3f);
}

// Any deviations and references: the histogram's shares add up to the whole.
TEST(MeterViews, HistogramOfAnyDeviationsHoldsEveryPoint)
{
    const struct Case {
        const char* what;
        double reference, slowRate, carrier;
        std::vector<double> deviations;
    } cases[] = {
        {"NaN deviations", 1000, 2000, 1000, {kNaN, 0.1, kNaN}},
        {"infinite deviations", 1000, 2000, 1000, {kInf, -kInf, 0.1}},
        {"deviations of 1e308", 1000, 2000, 1000, {1e308, -1e308, 0}},
        {"a carrier far from the reference", 1000, 2000, 1e151, {0.1, 0.2, 0.3}},
        {"a reference of 0", 0, 2000, 1000, {0.1, -0.1, 0}},
        {"a NaN reference", kNaN, 2000, 1000, {0.1, -0.1, 0}},
        {"an infinite reference", kInf, 2000, 1000, {0.1, -0.1, 0}},
        {"a NaN rate", 1000, kNaN, 1000, {0.1, -0.1, 0}},
        {"an infinite rate", 1000, kInf, 1000, {0.1, -0.1, 0}},
        {"a denormal deviation", 1000, 2000, 1000, {kDenormal, -kDenormal, 0}},
    };
    for (const Case& k : cases) {
        meter::TrackCollector collector(k.reference, k.slowRate, 10, 0);
        for (size_t i = 0; i < 300; ++i)
            collector.Add(static_cast<double>(i) * 0.01, k.deviations[i % k.deviations.size()], 0);
        meter::ChannelFigures c;
        c.carrierHz = k.carrier;
        collector.Finish(c);
        ASSERT_EQ(c.histogramPercent.size(), 41u) << k.what;
        ASSERT_EQ(c.histogramShare.size(), 41u) << k.what;
        EXPECT_NEAR(std::accumulate(c.histogramShare.begin(), c.histogramShare.end(), 0.0), 1, 1e-9) << k.what;
        EXPECT_LE(c.trackSeconds.size(), 300u) << k.what;
        EXPECT_GE(c.trackSeconds.size(), 1u) << k.what;
    }
}

}  // namespace

// A batch's figures in bins: widths of 1, 2, 5 from 0, about twice the cube
// root of the count of bins, past the highest figure and the limit (a bin
// more where one ends on an edge); a bin holds its upper edge, so a figure
// equal to the limit counts below it.
TEST(BatchFigureBins, CountsEachFigureOnceInItsBin)
{
    const struct Case {
        const char* name;
        std::vector<double> figures;
        std::optional<double> limit;
        double width;
        std::vector<int> counts;
    } cases[] = {
        // 5 figures: 5 bins at most over 0.05, so 0.01 wide; 0.01 and 0.05 on edges.
        {"on the edges", {0.005, 0.01, 0.015, 0.04, 0.05}, 0.05, 0.01, {2, 1, 0, 1, 1, 0}},
        {"without a limit", {0.1, 0.2, 0.3}, std::nullopt, 0.1, {1, 1, 1, 0}},
        // 0.02 over at most 5 bins: 0.005 wide; below 0 counts in the first.
        {"not numbers", {kNaN, kInf, -kInf, -0.01, 0.02}, std::nullopt, 0.005, {1, 0, 0, 1, 0}},
        // The limit sets the span: 0.5 over 5 bins.
        {"limit above all", {0.01}, 0.5, 0.1, {1, 0, 0, 0, 0, 0}},
        // 1000 figures: at most 20 bins over 0.07, so 0.005 wide; 0.07 ends the 14th.
        {"many equal", std::vector<double>(1000, 0.07), 0.05, 0.005,
         {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1000, 0}},
        // Beyond the axes' reach: 1e12 over 5 bins, the figure in the last.
        {"beyond reach", {1e300}, std::nullopt, 2e11, {0, 0, 0, 0, 0, 1}},
        // None: an axis of 0.001 % in 5 bins and one past.
        {"none", {}, std::nullopt, 0.0002, {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const meter::FigureBins b = meter::CountFigures(c.figures, c.limit);
        EXPECT_NEAR(b.width, c.width, c.width * 1e-12);
        EXPECT_EQ(b.counts, c.counts);
        int finite = 0;
        for (double v : c.figures)
            finite += std::isfinite(v) ? 1 : 0;
        EXPECT_EQ(b.figures, finite);
        EXPECT_EQ(b.most, c.counts.empty() ? 0 : *std::max_element(c.counts.begin(), c.counts.end()));
    }
}
