// The plot area: picture, mappings, lines, grid and Clear, checked on the
// pixels of the client area.
#include "app/TarvoDoc.h"
#include "form/TarvoView.h"
#include "framework/VirtualForm.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <set>
#include <vector>

using namespace tarvo;

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);
constexpr COLORREF kGrid = RGB(100, 100, 0);
constexpr COLORREF kGrey = RGB(128, 128, 128);
constexpr COLORREF kDarkGrey = RGB(91, 91, 91);
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class PlotArea : public testing::Test {
protected:
    void SetUp() override { view.LoadPicture(); }
    Surface& S() { return form.ClientSurface(); }
    COLORREF At(int x, int y) { return S().GetPixel(x, y); }
    std::vector<COLORREF> Raster()
    {
        std::vector<COLORREF> r;
        for (int y = 0; y < Surface::kHeight; ++y)
            for (int x = 0; x < Surface::kWidth; ++x)
                r.push_back(At(x, y));
        return r;
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
    std::set<int> GridRows() { return GridLines(true); }
    std::set<int> GridColumns() { return GridLines(false); }
    // Whether positions first..last of a line show 3 on, 3 off from first.
    void ExpectDotted(int first, int last, COLORREF color, auto pixel)
    {
        int step = last >= first ? 1 : -1;
        for (int p = first, k = 0; p != last + step; p += step, ++k)
            ASSERT_EQ(pixel(p), (k / 3) % 2 == 0 ? color : kBlack) << "position " << p;
    }

    VirtualForm form{FormTemplate()};
    CTarvoDoc doc;
    CTarvoView view{form, doc};
};

}  // namespace

TEST_F(PlotArea, PictureIsLoadedWithItsLayout)
{
    ASSERT_TRUE(view.m_pBitmap);
    EXPECT_EQ(view.m_pBitmap->Width(), 640);
    EXPECT_EQ(view.m_pBitmap->Height(), 400);

    // The whole plot rectangle, and the screen around it, is black.
    for (int y = 37; y <= 290; ++y)
        for (int x = 25; x <= 440; ++x)
            ASSERT_EQ(At(x, y), kBlack) << x << "," << y;
    struct Sample {
        int x, y;
        COLORREF color;
    };
    for (Sample p : {
             // the screen's edges and its rounded corners showing the panel
             Sample{441, 150, kBlack}, {200, 291, kBlack}, {22, 165, kBlack}, {443, 165, kBlack},
             {200, 30, kBlack}, {200, 301, kBlack}, {22, 30, kDarkGrey}, {443, 301, kDarkGrey},
             // the square-cornered panel on the card
             {14, 25, kDarkGrey}, {450, 311, kDarkGrey}, {13, 150, kGrey}, {451, 150, kGrey},
             {200, 24, kGrey}, {200, 312, kGrey}, {550, 200, kGrey},
             // the card's outline, and white outside its rounded corners
             {0, 200, kBlack}, {639, 200, kBlack}, {320, 0, kBlack}, {320, 399, kBlack},
             {1, 200, kGrey}, {0, 0, kWhite}, {2, 2, kWhite}, {639, 0, kWhite}, {637, 397, kWhite},
             // below the picture, the dialog grey
             {320, 400, Surface::kOutside}})
        EXPECT_EQ(At(p.x, p.y), p.color) << p.x << "," << p.y;

    // Red only in the emblem; black lettering only in the title's box.
    int red = 0, lettering = 0;
    for (int y = 312; y < 399; ++y)
        for (int x = 12; x < 628; ++x) {  // clear of the card's rounded corners
            COLORREF c = At(x, y);
            bool inEmblem = x >= 25 && x <= 104 && y >= 323 && y <= 385;
            if (c == RGB(255, 0, 0) || c == RGB(128, 0, 0)) {
                EXPECT_TRUE(inEmblem) << x << "," << y;
                red += c == RGB(255, 0, 0);
            }
            if (c == kBlack && !inEmblem) {
                EXPECT_TRUE(x >= 150 && x <= 385 && y >= 369 && y <= 388) << x << "," << y;
                ++lettering;
            }
        }
    EXPECT_GT(red, 200);
    EXPECT_GT(lettering, 200);
}

TEST_F(PlotArea, Mappings)
{
    view.m_nChunks = 500;
    EXPECT_EQ(view.ChunkToX(1), 25);
    EXPECT_EQ(view.ChunkToX(500), 440);
    view.m_nChunks = 10;
    EXPECT_EQ(view.ChunkToX(1), 66);
    EXPECT_EQ(view.ChunkToX(10), 440);
    view.m_nChunks = 3;
    EXPECT_EQ(view.ChunkToX(1), 163);  // 415 * 1 first, then / 3
    EXPECT_EQ(view.ChunkToX(2), 301);
    // Clamped, without overflow or a division by zero.
    EXPECT_EQ(view.ChunkToX(4), 440);
    EXPECT_EQ(view.ChunkToX(INT_MAX), 440);
    EXPECT_EQ(view.ChunkToX(-7), 25);
    EXPECT_EQ(view.ChunkToX(INT_MIN), 25);
    view.m_nChunks = 0;
    EXPECT_EQ(view.ChunkToX(1), 25);

    view.m_dLowFreq = 20;
    view.m_dHighFreq = 8000;
    EXPECT_EQ(view.FreqToY(20), 290);
    EXPECT_EQ(view.FreqToY(8000), 37);
    EXPECT_EQ(view.FreqToY(0), 290);     // 290.63
    EXPECT_EQ(view.FreqToY(9000), 37);   // 5.8
    EXPECT_EQ(view.FreqToY(1000), 258);  // 258.93, truncated
    EXPECT_EQ(view.FreqToY(1e300), 37);
    EXPECT_EQ(view.FreqToY(-1e300), 290);
    EXPECT_EQ(view.FreqToY(kNaN), 37);
    EXPECT_EQ(view.FreqToY(kInf), 37);
    EXPECT_EQ(view.FreqToY(-kInf), 37);
    view.m_dHighFreq = view.m_dLowFreq = 3000;  // an empty band
    for (double f : {0.0, 3000.0, 5000.0})
        EXPECT_EQ(view.FreqToY(f), 37) << f;
}

TEST_F(PlotArea, DottedLinesStopShortOfTheEndAndPaintTheGapsBlack)
{
    const COLORREF c = RGB(0, 255, 0);
    S().FillRect(Rect{0, 0, 640, 420}, kWhite);

    view.DrawHorzLine(25, 440, 100, c, CTarvoView::PS_DOT);
    ExpectDotted(25, 439, c, [&](int x) { return At(x, 100); });
    EXPECT_EQ(At(440, 100), kWhite);
    EXPECT_EQ(At(24, 100), kWhite);

    view.DrawHorzLine(440, 25, 200, c, CTarvoView::PS_DOT);  // right to left
    ExpectDotted(440, 26, c, [&](int x) { return At(x, 200); });
    EXPECT_EQ(At(25, 200), kWhite);

    view.DrawVertLine(300, 37, 290, c, CTarvoView::PS_DOT);
    ExpectDotted(37, 289, c, [&](int y) { return At(300, y); });
    EXPECT_EQ(At(300, 290), kWhite);
    EXPECT_EQ(At(300, 36), kWhite);

    view.DrawVertLine(310, 290, 37, c, CTarvoView::PS_DOT);  // bottom to top
    ExpectDotted(290, 38, c, [&](int y) { return At(310, y); });
    EXPECT_EQ(At(310, 37), kWhite);
}

TEST_F(PlotArea, PointsSolidPensAndDegenerateLines)
{
    view.PlotPoint(100, 100, RGB(255, 0, 255));
    EXPECT_EQ(At(100, 100), RGB(255, 0, 255));
    EXPECT_EQ(At(101, 100), kBlack);
    EXPECT_EQ(At(100, 101), kBlack);

    S().FillRect(Rect{0, 0, 640, 420}, kWhite);
    view.DrawHorzLine(10, 20, 5, RGB(1, 2, 3), 0);
    for (int x = 10; x < 20; ++x)
        ASSERT_EQ(At(x, 5), RGB(1, 2, 3));
    EXPECT_EQ(At(20, 5), kWhite);

    const std::vector<COLORREF> before = Raster();
    view.DrawHorzLine(50, 50, 50, RGB(1, 2, 3), CTarvoView::PS_DOT);  // no length: nothing
    view.DrawVertLine(50, 60, 60, RGB(1, 2, 3), CTarvoView::PS_DOT);
    view.DrawHorzLine(0, 640, -1, RGB(1, 2, 3), 0);  // off the client area
    view.DrawVertLine(640, 0, 420, RGB(1, 2, 3), 0);
    view.PlotPoint(-1, 5, RGB(1, 2, 3));
    EXPECT_TRUE(Raster() == before);

    // Huge extents finish at once and cover the visible part.
    view.DrawHorzLine(INT_MIN, INT_MAX, 7, RGB(1, 2, 3), 0);
    view.DrawVertLine(7, INT_MAX, INT_MIN, RGB(1, 2, 3), CTarvoView::PS_DOT);
    EXPECT_EQ(At(0, 7), RGB(1, 2, 3));
    EXPECT_EQ(At(639, 7), RGB(1, 2, 3));
    EXPECT_NE(At(7, 0), kWhite);
    EXPECT_NE(At(7, 419), kWhite);
}

TEST_F(PlotArea, GridFrequencyLines)
{
    view.m_dLowFreq = 20;
    view.m_dHighFreq = 8000;
    view.m_dDisplayed = 0;  // no time lines
    S().FillRect(Rect{0, 0, 640, 420}, kWhite);
    view.DrawGrid();
    EXPECT_EQ(GridRows(), (std::set<int>{69, 100, 132, 164, 196, 227, 259}));
    EXPECT_TRUE(GridColumns().empty());
    ExpectDotted(25, 439, kGrid, [&](int x) { return At(x, 259); });
    EXPECT_EQ(At(440, 259), kWhite);
    EXPECT_EQ(At(24, 259), kWhite);

    // A band from 0 to 12000 Hz: 1000 to 11000 Hz land on rows 269 to 58.
    view.OnClear();
    view.m_dLowFreq = 0;
    view.m_dHighFreq = 12000;
    view.DrawGrid();
    EXPECT_EQ(GridRows().size(), 11u);

    // A band of one frequency: no frequency line at all.
    view.OnClear();
    view.m_dHighFreq = view.m_dLowFreq = 4000;
    view.DrawGrid();
    EXPECT_TRUE(GridRows().empty());
}

TEST_F(PlotArea, GridTimeLines)
{
    view.m_dLowFreq = view.m_dHighFreq = 8000;  // no frequency lines

    view.m_dDisplayed = 2.5;
    S().FillRect(Rect{0, 0, 640, 420}, kWhite);
    view.DrawGrid();
    EXPECT_EQ(GridColumns(), (std::set<int>{191, 357}));
    ExpectDotted(37, 289, kGrid, [&](int y) { return At(191, y); });
    EXPECT_EQ(At(191, 290), kWhite);
    EXPECT_EQ(At(191, 36), kWhite);

    view.OnClear();
    view.m_dDisplayed = 1.0;
    view.DrawGrid();
    EXPECT_EQ(GridColumns(), (std::set<int>{66, 108, 149, 191, 232, 274, 315, 357, 398}));

    struct Case {
        double displayed;
        size_t lines;
    };
    // Exactly 2 s still counts tenths; over 2 s whole seconds, at most 49.
    for (Case k : {Case{2.0, 19}, Case{100.0, 49}, Case{0.0, 0}, Case{-3.0, 0}, Case{kNaN, 0},
                   Case{kInf, 0}, Case{1e-300, 0}}) {
        view.OnClear();
        view.m_dDisplayed = k.displayed;
        view.DrawGrid();
        EXPECT_EQ(GridColumns().size(), k.lines) << k.displayed;
    }
}

TEST_F(PlotArea, ClearBlanksExactlyThePlotRectangle)
{
    view.m_dLowFreq = 20;
    view.m_dHighFreq = 8000;
    view.m_dDisplayed = 2.5;
    view.DrawGrid();
    const COLORREF c = RGB(0, 255, 255);
    for (int y = 30; y <= 300; y += 3)
        for (int x = 20; x <= 445; x += 3)
            view.PlotPoint(x, y, c);
    const std::pair<int, int> outside[] = {{441, 100}, {100, 291}, {24, 100}, {100, 36}};
    for (auto [x, y] : outside)
        view.PlotPoint(x, y, c);
    view.m_nChunks = 7;
    view.m_bFreqsValid = true;

    view.OnClear();
    for (int y = 37; y <= 290; ++y)
        for (int x = 25; x <= 440; ++x)
            ASSERT_EQ(At(x, y), kBlack) << x << "," << y;
    for (auto [x, y] : outside)
        EXPECT_EQ(At(x, y), c) << x << "," << y;
    EXPECT_EQ(At(441, 101), kBlack);  // the picture's screen beside the rectangle
    EXPECT_EQ(At(102, 291), kBlack);
    EXPECT_EQ(view.m_nChunks, 7);
    EXPECT_TRUE(view.m_bFreqsValid);

    const std::vector<COLORREF> once = Raster();
    view.OnClear();
    EXPECT_TRUE(Raster() == once);
}
