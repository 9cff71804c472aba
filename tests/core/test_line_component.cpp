// A line of the deviation alone against time: a tone whose speed wobbles
// by two sinusoids gives, for each line, that sinusoid at its own peak and
// nothing of the other, lined up in time with the deviation.
#include "ToneFile.h"
#include "WaveBuilder.h"

#include "meter/Component.h"
#include "meter/Meter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>

using namespace tarvo;
using namespace tarvo::test;

namespace {

constexpr double kSeconds = 40;
constexpr double kSettle = 10;  // left out at both ends: the filters' and the band-pass's start

// 0.1 % at 0.55 Hz (a platter) and 0.03 % at 4 Hz (a capstan).
class LineComponentTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        dir_ = std::make_unique<TempDir>();
        path_ = (dir_->Path() / "two.wav").string();
        Tone tone;
        tone.mods = {{0.55, 0.001}, {4, 0.0003}};
        ASSERT_TRUE(WriteTone(path_, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, kSeconds, tone));
        result_ = meter::RunMeter(path_, {});
        ASSERT_TRUE(result_.ok) << result_.message;
    }
    static void TearDownTestSuite() { dir_.reset(); }
    static std::unique_ptr<TempDir> dir_;
    static std::string path_;
    static meter::MeterResult result_;
};
std::unique_ptr<TempDir> LineComponentTest::dir_;
std::string LineComponentTest::path_;
meter::MeterResult LineComponentTest::result_;

struct LineCase {
    double hz, peakPercent, bucketSeconds;
};

class LineComponentTable : public LineComponentTest, public ::testing::WithParamInterface<LineCase> {};

// Each bucket holds a whole cycle or more: its max and min are the line's
// peak within a few percent, which the other line (three or ten times
// stronger or weaker) would move by far more were it let through.
TEST_P(LineComponentTable, EachLineAloneAtItsPeak)
{
    const LineCase c = GetParam();
    meter::ComponentTrack track;
    std::string error;
    ASSERT_TRUE(meter::LineComponent(path_, {}, result_, 0, c.hz, c.bucketSeconds, track, error)) << error;
    EXPECT_DOUBLE_EQ(track.bucketSeconds, c.bucketSeconds);
    ASSERT_EQ(track.min.size(), track.max.size());
    EXPECT_NEAR(static_cast<double>(track.min.size()) * c.bucketSeconds, kSeconds, 2 * c.bucketSeconds);
    EXPECT_LT(track.lowHz, c.hz);
    EXPECT_GT(track.highHz, c.hz);
    size_t checked = 0;
    for (size_t b = 0; b < track.min.size(); ++b) {
        const double t = static_cast<double>(b) * c.bucketSeconds;
        if (t < kSettle || t + c.bucketSeconds > kSeconds - kSettle)
            continue;
        EXPECT_NEAR(track.max[b], c.peakPercent, 0.04 * c.peakPercent) << t;
        EXPECT_NEAR(track.min[b], -c.peakPercent, 0.04 * c.peakPercent) << t;
        ++checked;
    }
    EXPECT_GT(checked, 5u);
}

INSTANTIATE_TEST_SUITE_P(Lines, LineComponentTable,
                         ::testing::Values(LineCase{4, 0.03, 0.5}, LineCase{4, 0.03, 0.25},
                                           LineCase{0.55, 0.1, 2}));

// The component lines up with the deviation: the sinusoid's crest falls
// where the tone's modulation puts it (sin(2 pi f t), crest at t = 1/4f +
// k/f), within a fortieth of a cycle.
TEST_F(LineComponentTest, TheComponentIsNotDelayed)
{
    meter::ComponentTrack track;
    std::string error;
    const double bucket = 1 / 160.0;  // 1/40 of a 4 Hz cycle
    ASSERT_TRUE(meter::LineComponent(path_, {}, result_, 0, 4, bucket, track, error)) << error;
    size_t crests = 0;
    for (size_t b = 1; b + 1 < track.max.size(); ++b) {
        const double t = (static_cast<double>(b) + 0.5) * bucket;
        if (t < kSettle || t > kSeconds - kSettle)
            continue;
        if (track.max[b] > track.max[b - 1] && track.max[b] >= track.max[b + 1]) {
            const double cycles = t * 4 - 0.25;
            EXPECT_NEAR(cycles, std::round(cycles), 1 / 40.0 + 0.5 * bucket * 4) << t;
            ++crests;
        }
    }
    EXPECT_GT(crests, 50u);
}

// The band: 2 % of the line, no narrower than the spectrum's lobe, never
// down to half the line.
TEST(LineComponentBand, TwoPercentOrTheLobe)
{
    struct Row {
        double hz, bin, low, high;
    };
    const Row rows[] = {
        {150, 0.0625, 147, 153},
        {4, 0.0625, 3.875, 4.125},
        {0.55, 0.0625, 0.425, 0.675},
        {0.2, 0.0625, 0.1, 0.3},
    };
    for (const Row& r : rows) {
        double low = 0, high = 0;
        meter::ComponentBand(r.hz, r.bin, low, high);
        EXPECT_NEAR(low, r.low, 1e-12) << r.hz;
        EXPECT_NEAR(high, r.high, 1e-12) << r.hz;
    }
}

TEST_F(LineComponentTest, RefusesWhatHasNoComponent)
{
    struct Row {
        const char* what;
        size_t channel;
        double hz, bucket;
    };
    const Row rows[] = {
        {"no such channel", 1, 4, 0.5},
        {"a line at 0 Hz", 0, 0, 0.5},
        {"a line past the band", 0, 500, 0.5},
        {"a line that is no number", 0, std::nan(""), 0.5},
        {"buckets of no length", 0, 4, 0},
        {"buckets too short", 0, 4, 1e-9},
    };
    for (const Row& r : rows) {
        meter::ComponentTrack track;
        std::string error;
        EXPECT_FALSE(meter::LineComponent(path_, {}, result_, r.channel, r.hz, r.bucket, track, error)) << r.what;
        EXPECT_FALSE(error.empty()) << r.what;
        EXPECT_TRUE(track.min.empty()) << r.what;
    }
    meter::ComponentTrack track;
    std::string error;
    EXPECT_FALSE(meter::LineComponent(path_, {}, result_, 0, 4, 0.5, track, error, [](double) { return false; }));
    EXPECT_EQ(error, "cancelled");
}

}  // namespace
