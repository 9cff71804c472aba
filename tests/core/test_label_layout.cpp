// The spectrum's line labels laid out: every shown label wholly inside the
// plot, none over another nor over any point's marker, a leader line where
// a label moved off its point, and numbers with a key when the texts find
// no room.
#include "meter/LabelLayout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace tarvo::meter;

namespace {

constexpr double kMarker = 3, kGap = 2;

struct LayoutCase {
    std::string name;
    Box plot;
    std::vector<LabelRequest> labels;
    bool numbered;    // the texts cannot all fit: numbers and a key
    size_t hidden;    // labels left without even a number
};

// n points from x0, dx apart, at heights alternating between y and y + dy.
std::vector<LabelRequest> Row(size_t n, double x0, double dx, double y, double dy, double width)
{
    std::vector<LabelRequest> r;
    for (size_t i = 0; i < n; ++i)
        r.push_back({x0 + static_cast<double>(i) * dx, y + (i % 2 ? dy : 0), width, 12, 10});
    return r;
}

std::vector<LayoutCase> Cases()
{
    const Box plot{50, 20, 600, 300};
    return {
        {"one line with room", plot, {{300, 200, 110, 12, 10}}, false, 0},
        // The deck's turntable: x1 strong, x2 weak just to its right, both
        // labels wider than the space between the points.
        {"platter x1 and x2", plot, {{120, 40, 130, 12, 10}, {165, 290, 130, 12, 10}}, false, 0},
        {"many close lines", plot, Row(10, 200, 6, 150, 3, 120), false, 0},
        {"lines at one point", plot, Row(6, 400, 0, 200, 0, 90), false, 0},
        {"line at the right edge", plot, {{plot.Right(), 100, 160, 12, 10}}, false, 0},
        {"line at the left edge, high", plot, {{plot.left, plot.top, 160, 12, 10}}, false, 0},
        {"line in the top right corner", plot, {{plot.Right() - 1, plot.top + 1, 160, 12, 10}}, false, 0},
        {"label wider than the plot", plot, {{300, 200, 700, 12, 10}}, true, 0},
        {"tiny plot", Box{0, 0, 80, 60}, Row(4, 10, 15, 40, 0, 110), true, 0},
        {"nowhere to put anything", Box{0, 0, 12, 12}, Row(3, 4, 2, 6, 0, 50), true, 3},
        {"point outside the plot", plot, {{10, 100, 50, 12, 10}, {300, 100, 50, 12, 10}}, false, 1},
        {"no labels", plot, {}, false, 0},
    };
}

class LabelLayoutTable : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LabelLayoutTable, NoLabelOverlapsLeavesThePlotOrCoversAMarker)
{
    const LayoutCase& c = GetParam();
    const LabelLayout layout = LayOutLabels(c.labels, c.plot, kMarker, kGap);
    ASSERT_EQ(layout.places.size(), c.labels.size());
    EXPECT_EQ(layout.numbered, c.numbered);
    size_t hidden = 0;
    for (size_t i = 0; i < c.labels.size(); ++i) {
        const LabelPlace& p = layout.places[i];
        const LabelRequest& l = c.labels[i];
        if (!p.shown) {
            ++hidden;
            continue;
        }
        EXPECT_DOUBLE_EQ(p.box.width, c.numbered ? l.numberWidth : l.width) << i;
        EXPECT_DOUBLE_EQ(p.box.height, l.height) << i;
        EXPECT_TRUE(c.plot.Holds(p.box)) << i;
        for (size_t j = 0; j < c.labels.size(); ++j) {
            const Box m{c.labels[j].x - kMarker, c.labels[j].y - kMarker, 2 * kMarker, 2 * kMarker};
            EXPECT_FALSE(p.box.Overlaps(m)) << i << " over marker " << j;
            if (j != i && layout.places[j].shown) {
                EXPECT_FALSE(p.box.Overlaps(layout.places[j].box)) << i << " over " << j;
            }
        }
        // Near its point, or a leader ends on the box.
        const double nx = std::clamp(l.x, p.box.left, p.box.Right()), ny = std::clamp(l.y, p.box.top, p.box.Bottom());
        const double distance = std::hypot(nx - l.x, ny - l.y);
        if (p.leader) {
            EXPECT_DOUBLE_EQ(p.leaderX, nx) << i;
            EXPECT_DOUBLE_EQ(p.leaderY, ny) << i;
        } else {
            EXPECT_LE(distance, kMarker + kGap + 0.5) << i;
        }
    }
    EXPECT_EQ(hidden, c.hidden);
}

INSTANTIATE_TEST_SUITE_P(Cases, LabelLayoutTable, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<LayoutCase>& info) {
                             std::string n;
                             for (char ch : info.param.name)
                                 n += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                             return n;
                         });

// A label with room all round goes just above its point, centred.
TEST(LabelLayout, ALabelWithRoomSitsAboveItsPoint)
{
    const LabelLayout layout = LayOutLabels({{300, 200, 110, 12, 10}}, Box{0, 0, 600, 400}, kMarker, kGap);
    ASSERT_TRUE(layout.places[0].shown);
    EXPECT_FALSE(layout.places[0].leader);
    EXPECT_DOUBLE_EQ(layout.places[0].box.left, 300 - 55);
    EXPECT_DOUBLE_EQ(layout.places[0].box.Bottom(), 200 - kMarker - kGap);
}

// The first request (the strongest line) keeps the place by its point; the
// next, whose place that was, moves.
TEST(LabelLayout, TheFirstLabelKeepsItsPlace)
{
    const std::vector<LabelRequest> two = {{300, 200, 110, 12, 10}, {305, 200, 110, 12, 10}};
    const LabelLayout layout = LayOutLabels(two, Box{0, 0, 600, 400}, kMarker, kGap);
    ASSERT_TRUE(layout.places[0].shown && layout.places[1].shown);
    EXPECT_FALSE(layout.places[0].leader);
    EXPECT_FALSE(layout.places[0].box.Overlaps(layout.places[1].box));
}

// No label goes over a box kept clear (the key), and the key's place
// covers no marker: the top right corner when it is free, else the top
// left, else lower down; none when it cannot fit at all.
TEST(LabelLayout, TheKeyTakesAFreeCornerAndTheLabelsKeepClearOfIt)
{
    const Box plot{0, 0, 400, 300};
    struct Row {
        const char* what;
        std::vector<Box> markers;
        double width, height;
        bool found;
        Box where;
    };
    const Row rows[] = {
        {"free top right", {{100, 100, 6, 6}}, 120, 60, true, {400 - 120 - 2, 2, 120, 60}},
        {"a line in the top right", {{350, 20, 6, 6}}, 120, 60, true, {2, 2, 120, 60}},
        {"lines in both top corners", {{350, 20, 6, 6}, {40, 20, 6, 6}}, 120, 60, true, {}},
        {"wider than the plot", {}, 401, 10, false, {}},
        {"taller than the plot", {}, 10, 301, false, {}},
        {"no room between markers", {{0, 0, 400, 300}}, 10, 10, false, {}},
    };
    for (const Row& r : rows) {
        Box key;
        ASSERT_EQ(FreePlace(plot, r.width, r.height, r.markers, 2, key), r.found) << r.what;
        if (!r.found)
            continue;
        EXPECT_TRUE(plot.Holds(key)) << r.what;
        EXPECT_DOUBLE_EQ(key.width, r.width) << r.what;
        EXPECT_DOUBLE_EQ(key.height, r.height) << r.what;
        for (const Box& m : r.markers)
            EXPECT_FALSE(key.Overlaps({m.left - 2, m.top - 2, m.width + 4, m.height + 4})) << r.what;
        if (r.where.width > 0) {
            EXPECT_DOUBLE_EQ(key.left, r.where.left) << r.what;
            EXPECT_DOUBLE_EQ(key.top, r.where.top) << r.what;
        }
    }
    const Box key{200, 100, 200, 120};
    const LabelLayout layout = LayOutLabels({{300, 240, 110, 12, 10}, {300, 90, 110, 12, 10}}, plot, kMarker, kGap, {key});
    for (const LabelPlace& p : layout.places) {
        ASSERT_TRUE(p.shown);
        EXPECT_FALSE(p.box.Overlaps(key));
    }
}

struct KeyCase {
    std::vector<double> widths;
    double lineHeight, height;
    size_t columns;
    double width, keyHeight;
};

TEST(LabelLayout, AKeyFillsColumnsNoTallerThanItsRoom)
{
    const KeyCase cases[] = {
        {{40, 60, 50}, 10, 100, 1, 60, 30},
        {{40, 60, 50, 70, 20}, 10, 30, 2, 60 + 8 + 70, 30},
        {{40, 60}, 10, 5, 2, 40 + 8 + 60, 10},  // not even one line's room: one line a column
        {{}, 10, 100, 0, 0, 0},
    };
    for (const KeyCase& k : cases) {
        const KeyLayout key = LayOutKey(k.widths, k.lineHeight, k.height, 8);
        ASSERT_EQ(key.lines.size(), k.widths.size());
        size_t columns = 0;
        for (size_t i = 0; i < key.lines.size(); ++i) {
            EXPECT_LE(key.lines[i].Bottom(), std::max(k.height, k.lineHeight));
            EXPECT_LE(key.lines[i].Right(), key.width);
            columns += key.lines[i].top == 0;
            for (size_t j = 0; j < i; ++j)
                EXPECT_FALSE(key.lines[i].Overlaps(key.lines[j]));
        }
        EXPECT_EQ(columns, k.columns);
        EXPECT_DOUBLE_EQ(key.width, k.width);
        EXPECT_DOUBLE_EQ(key.height, k.keyHeight);
    }
}

}  // namespace
