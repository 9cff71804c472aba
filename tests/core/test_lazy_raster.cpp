// The client raster and the background picture come into being only when
// something draws or shows them, and then read exactly as if made at once.
#include "ViewFixture.h"

#include <gtest/gtest.h>

namespace tarvo::test {
namespace {

TEST(LazySurface, PictureLoaderRunsOnceAtFirstUseAndAnExplicitPictureReplacesIt)
{
    // Each first use: a read, a draw, a fill, the raster for a host.
    const std::vector<std::function<void(Surface&)>> firstUses = {
        [](Surface& s) { EXPECT_EQ(s.GetPixel(1, 1), RGB(1, 2, 3)); },
        [](Surface& s) { s.SetPixel(5, 5, RGB(9, 9, 9)); },
        [](Surface& s) { s.FillRect(Rect{0, 0, 2, 2}, RGB(0, 0, 0)); },
        [](Surface& s) { EXPECT_EQ(s.Argb()[Surface::kWidth * 3 + 3], 0xFF010203u); },
    };
    for (const auto& use : firstUses) {
        Surface s;
        int runs = 0;
        s.SetPictureLater([&runs](Surface& t) {
            ++runs;
            t.SetPicture(std::vector<COLORREF>(8 * 8, RGB(1, 2, 3)), 8, 8);
        });
        EXPECT_EQ(s.TakeDirty().right, Surface::kWidth);  // nothing made, all to be painted
        EXPECT_FALSE(s.Materialised());
        EXPECT_EQ(runs, 0);
        use(s);
        EXPECT_TRUE(s.Materialised());
        EXPECT_EQ(runs, 1);
        // Making the picture late (often inside a paint) adds nothing to
        // repaint beyond what the first use drew itself.
        EXPECT_LE(s.TakeDirty().right, 6);
        EXPECT_EQ(s.GetPixel(7, 7), RGB(1, 2, 3));
        EXPECT_EQ(s.GetPixel(8, 8), Surface::kOutside);
        EXPECT_EQ(runs, 1);
    }

    Surface s;
    bool ran = false;
    s.SetPictureLater([&ran](Surface&) { ran = true; });
    s.ClearPicture();
    EXPECT_EQ(s.GetPixel(0, 0), Surface::kOutside);
    EXPECT_FALSE(ran);
}

TEST(LazySurface, ColumnPaintsItsColouredRowsOnlyAndDirtiesJustThem)
{
    Surface s;
    s.SetPicture(std::vector<COLORREF>(640 * 420, RGB(7, 7, 7)), 640, 420);
    s.TakeDirty();
    const COLORREF col[6] = {RGB(0, 0, 0), RGB(255, 0, 0), RGB(0, 0, 0), RGB(0, 255, 0), RGB(0, 0, 0), RGB(0, 0, 0)};
    s.SetColumn(30, 100, 106, col);
    EXPECT_EQ(s.GetPixel(30, 100), RGB(7, 7, 7));
    EXPECT_EQ(s.GetPixel(30, 101), RGB(255, 0, 0));
    EXPECT_EQ(s.GetPixel(30, 102), RGB(7, 7, 7));
    EXPECT_EQ(s.GetPixel(30, 103), RGB(0, 255, 0));
    EXPECT_EQ(s.GetPixel(30, 104), RGB(7, 7, 7));
    const Rect d = s.TakeDirty();
    EXPECT_TRUE(d.left == 30 && d.right == 31 && d.top == 101 && d.bottom == 104);
    // All black, or off the raster: nothing changes, nothing to repaint.
    const COLORREF black[3] = {};
    s.SetColumn(30, 200, 203, black);
    s.SetColumn(-1, 100, 106, col);
    s.SetColumn(640, 100, 106, col);
    EXPECT_TRUE(s.TakeDirty().Empty());
    // Rows beyond the raster are cut off, those inside still drawn.
    s.SetColumn(0, 416, 422, col);
    EXPECT_EQ(s.GetPixel(0, 417), RGB(255, 0, 0));
    EXPECT_EQ(s.GetPixel(0, 419), RGB(0, 255, 0));
}

class LazyView : public ViewTest {};

TEST_F(LazyView, HeaderLeavesTheRasterUnmadeAndADrawShowsTheWholePicture)
{
    Open(Wave8(11025, Sine(20 * 256, 1000, 11025)));
    view.OnGetHeader();
    EXPECT_FALSE(form.ClientSurface().Materialised());
    EXPECT_EQ(Field(IDC_CHUNKS), "20");

    view.OnMaxFreqs();
    const Surface& s = form.ClientSurface();
    EXPECT_TRUE(s.Materialised());
    // The picture under the drawing: the panel, the black screen, the card.
    EXPECT_EQ(s.GetPixel(16, 200), RGB(91, 91, 91));
    EXPECT_EQ(s.GetPixel(200, 295), RGB(0, 0, 0));
    EXPECT_EQ(s.GetPixel(500, 380), RGB(128, 128, 128));
    EXPECT_EQ(s.GetPixel(600, 410), Surface::kOutside);
    // The point of the last chunk: 1000 Hz at column 440.
    EXPECT_EQ(s.GetPixel(440, view.FreqToY(view.m_pFreqs[20])), RGB(255, 128, 64));
}

}  // namespace
}  // namespace tarvo::test
