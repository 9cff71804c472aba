// The plot area: mappings, dotted lines, grid, Clear and the retained
// drawing layer, checked on the pixels of the client area.
#include "form/TarvoDoc.h"
#include "form/TarvoView.h"
#include "framework/VirtualForm.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <limits>
#include <set>
#include <vector>

using namespace tarvo;

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kGrid = RGB(100, 100, 0);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class PlotArea : public testing::Test {
protected:
    void SetUp() override { view.LoadPicture(); }
    COLORREF At(int x, int y) { return form.ClientSurface().GetPixel(x, y); }
    void Whiten() { form.ClientSurface().FillRect(Rect{0, 0, Surface::kWidth, Surface::kHeight}, kWhite); }
    std::vector<std::uint32_t> Raster() { auto* p = form.ClientSurface().Argb(); return {p, p + 640 * 420}; }
    // A dotted line at row (or column) `at` shows 3 on, 3 off from `first`
    // up to, not onto, `last`, with black gaps; the picture beyond both ends.
    void ExpectDotted(bool horizontal, int at, int first, int last, COLORREF color = kGrid)
    {
        auto pixel = [&](int p) { return horizontal ? At(p, at) : At(at, p); };
        const int step = last > first ? 1 : -1;
        for (int p = first, k = 0; p != last; p += step, ++k)
            ASSERT_EQ(pixel(p), (k / 3) % 2 == 0 ? color : kBlack) << at << ": position " << p;
        EXPECT_TRUE(pixel(last) == kWhite && pixel(first - step) == kWhite) << at;
    }
    // Rows (or columns) holding a dash of the grid colour along them.
    std::set<int> GridLines(bool rows)
    {
        std::set<int> found;
        for (int y = 0; y < Surface::kHeight; ++y)
            for (int x = 0; x < Surface::kWidth; ++x)
                if (At(x, y) == kGrid && (rows ? At(x + 1, y) : At(x, y + 1)) == kGrid)
                    found.insert(rows ? y : x);
        return found;
    }

    VirtualForm form{FormTemplate()};
    CTarvoDoc doc;
    CTarvoView view{form, doc};
};

TEST_F(PlotArea, ChunkToXAndFreqToY)
{
    struct {
        int chunks, c, x;
    } const chunks[] = {{500, 1, 25}, {500, 500, 440}, {10, 1, 66}, {10, 10, 440},  // then clamped, without
                        {3, 4, 440}, {3, INT_MAX, 440}, {3, INT_MIN, 25}, {0, 1, 25}};  // overflow or a division by 0
    for (auto k : chunks) {
        view.m_nChunks = k.chunks;
        EXPECT_EQ(view.ChunkToX(k.c), k.x) << k.chunks << " chunks, chunk " << k.c;
    }
    view.m_dLowFreq = 20;
    view.m_dHighFreq = 8000;
    struct {
        double f;
        int y;
    } const freqs[] = {{20, 290}, {8000, 37}, {0, 290}, {9000, 37}, {1000, 258} /* 258.93 truncated */,
                       {-1e300, 290}, {1e300, 37}, {kNaN, 37}, {kInf, 37}, {-kInf, 37}};
    for (auto k : freqs)
        EXPECT_EQ(view.FreqToY(k.f), k.y) << k.f;
    view.m_dHighFreq = view.m_dLowFreq = 3000;  // an empty band
    EXPECT_TRUE(view.FreqToY(0) == 37 && view.FreqToY(3000) == 37 && view.FreqToY(5000) == 37);
}

TEST_F(PlotArea, DottedLinesDrawnBackwardsAndHugeOnes)
{
    // Forward lines are checked on the grid; backwards, the pattern starts at the first point.
    const COLORREF green = RGB(0, 255, 0);
    Whiten();
    view.DrawHorzLine(440, 25, 300, green, CTarvoView::PS_DOT);
    view.DrawVertLine(450, 290, 37, green, CTarvoView::PS_DOT);
    ExpectDotted(true, 300, 440, 25, green);
    ExpectDotted(false, 450, 290, 37, green);
    view.DrawHorzLine(INT_MIN, INT_MAX, 7, green, 0);  // huge extents: the visible part, at once
    view.DrawVertLine(7, INT_MAX, INT_MIN, green, CTarvoView::PS_DOT);
    EXPECT_TRUE(At(0, 7) == green && At(639, 7) == green && At(7, 0) != kWhite && At(7, 419) != kWhite);
}

TEST_F(PlotArea, GridLinesAreDottedAcrossThePlotRectangle)
{
    struct {
        double low, high, displayed;
        size_t nRows, nColumns;
        std::set<int> rows, columns;  // when listed
    } const cases[] = {
        {20, 8000, 0, 7, 0, {69, 100, 132, 164, 196, 227, 259}, {}},  // none at 37 for 8000 Hz
        {8000, 8000, 2.5, 0, 2, {}, {191, 357}},
        {8000, 8000, 1.0, 0, 9, {}, {66, 108, 149, 191, 232, 274, 315, 357, 398}},  // none at 440
        {0, 12000, 0, 11, 0, {}, {}},                                                // 1000 to 11000 Hz
        {8000, 8000, 2.0, 0, 19, {}, {}},  // tenths up to 2 s, over that whole seconds, at most 49
        {8000, 8000, 100, 0, 49, {}, {}},
        {4000, 4000, 0, 0, 0, {}, {}}, {0, 0, -3, 0, 0, {}, {}}, {0, 0, kNaN, 0, 0, {}, {}},
        {0, 0, kInf, 0, 0, {}, {}},    {0, 0, 1e-300, 0, 0, {}, {}},
    };
    for (const auto& k : cases) {
        Whiten();
        view.m_dLowFreq = k.low;
        view.m_dHighFreq = k.high;
        view.m_dDisplayed = k.displayed;
        view.DrawGrid();
        const std::set<int> rows = GridLines(true), columns = GridLines(false);
        EXPECT_TRUE(rows.size() == k.nRows && (k.rows.empty() || rows == k.rows) && columns.size() == k.nColumns &&
                    (k.columns.empty() || columns == k.columns))
            << k.low << ".." << k.high << " Hz, " << k.displayed << " s";
        for (int y : rows)
            ExpectDotted(true, y, 25, 440);
        for (int x : columns)
            ExpectDotted(false, x, 37, 290);
    }
}

TEST_F(PlotArea, ClearBlanksExactlyThePlotRectangleAndDrawingSurvivesARepaint)
{
    const COLORREF c = RGB(0, 255, 255);
    for (int y = 30; y <= 300; y += 3)
        for (int x = 20; x <= 445; x += 3)
            view.PlotPoint(x, y, c);
    for (auto [x, y] : {std::pair{441, 100}, {100, 291}, {24, 100}, {100, 36}})  // just outside
        view.PlotPoint(x, y, c);
    const auto drawn = Raster();
    view.LoadPicture();  // the picture composed afresh, as a repaint does: the drawing stays on top
    EXPECT_TRUE(Raster() == drawn);
    EXPECT_TRUE(At(441, 100) == c && At(100, 291) == c && At(320, 400) == Surface::kOutside);
    view.m_nChunks = 7;
    view.m_bFreqsValid = true;

    view.OnClear();
    const auto cleared = Raster();
    for (int y = 0; y < Surface::kHeight; ++y)
        for (int x = 0; x < Surface::kWidth; ++x)
            ASSERT_EQ(cleared[y * Surface::kWidth + x],
                      x >= 25 && x <= 440 && y >= 37 && y <= 290 ? 0xFF000000u : drawn[y * Surface::kWidth + x])
                << x << "," << y;
    EXPECT_TRUE(view.m_nChunks == 7 && view.m_bFreqsValid);  // Clear only blanks
    view.OnClear();
    EXPECT_TRUE(Raster() == cleared);
}

}  // namespace
