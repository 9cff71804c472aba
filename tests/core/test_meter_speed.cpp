// The meter's faster forms give the same numbers to the bit as the plain
// ones: two cascades side by side against each alone (padding the shorter
// one included), and the histogram's batched additions against one by one.
#include "meter/Analyser.h"
#include "meter/Dsp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace tarvo;

namespace {

TEST(MeterSpeed, CascadePairMatchesEachCascadeAloneToTheBit)
{
    const double rate = 2004.5;
    struct Case {
        const char* name;
        meter::Cascade a, b;
    };
    // The weighted path has a section more than the unweighted one: the
    // pair pads the shorter lane, in either order.
    const Case cases[] = {
        {"paths", meter::WeightedPath(rate), meter::UnweightedFilter(rate)},
        {"paths swapped", meter::UnweightedFilter(rate), meter::WeightedPath(rate)},
        {"wow and flutter", meter::WowFilter(rate), meter::FlutterFilter(rate)},
    };
    std::mt19937 gen(7);
    std::normal_distribution<double> noise(0, 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        meter::Cascade a = c.a, b = c.b;
        a.SettleOn(3150);
        b.SettleOn(3150);
        meter::CascadePair pair(a, b);
        for (int i = 0; i < 20000; ++i) {
            const double x = 3150 + 2 * std::sin(0.02 * i) + noise(gen);
            const meter::CascadePair::Lanes y = pair.Process(meter::CascadePair::Lanes{x, x});
            const double ya = a.Process(x), yb = b.Process(x);
            ASSERT_EQ(y[0], ya) << i;
            ASSERT_EQ(y[1], yb) << i;
        }
    }
}

TEST(MeterSpeed, HistogramAddEachCountsAsAddOneByOne)
{
    meter::LevelHistogram one(3150), batch(3150);
    std::mt19937 gen(11);
    std::normal_distribution<double> noise(0, 5);
    for (int i = 0; i < 5000; ++i) {
        // Negative values count at their magnitude; zero and the tiniest
        // lie below the lowest bin.
        double v[7];
        for (double& x : v)
            x = noise(gen);
        v[i % 7] = i % 3 ? 0.0 : 1e-300;
        for (double x : v)
            one.Add(std::abs(x));
        batch.AddEach<7>(v);
    }
    ASSERT_EQ(one.Count(), batch.Count());
    for (double fraction : {0.01, 0.05, 0.5, 0.9, 0.99})
        EXPECT_EQ(one.Exceeded(fraction), batch.Exceeded(fraction)) << fraction;
}

}  // namespace
