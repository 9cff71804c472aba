// The plot area of the view: the background picture, the mapping of chunks
// and frequencies to pixels, points, dotted lines, the grid and Clear. All
// drawing goes to the drawing layer of the client area.

#include "form/TarvoView.h"
#include "resources/Resources.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tarvo {

namespace {

constexpr COLORREF kBlack = RGB(0, 0, 0);

// Whether the k-th pixel of a line (0 at its first point) carries the pen's
// colour: a dotted pen draws three pixels and leaves three, starting with a
// drawn one; every other pen is solid.
bool PenOn(int penStyle, std::int64_t k)
{
    return penStyle != CTarvoView::PS_DOT || (k / 3) % 2 == 0;
}

// Draws the pixels of a line along one axis, from `from` towards `to`
// without `to` itself, as a cosmetic pen on an opaque black background. Only
// the positions 0..limit-1 can show, so only those are visited.
template <typename SetAt>
void DrawSpan(int from, int to, int limit, int penStyle, COLORREF color, SetAt set)
{
    const std::int64_t a = from, b = to;
    if (a < b) {
        for (std::int64_t p = std::max<std::int64_t>(a, 0); p < std::min<std::int64_t>(b, limit); ++p)
            set(static_cast<int>(p), PenOn(penStyle, p - a) ? color : kBlack);
    } else {
        for (std::int64_t p = std::min<std::int64_t>(a, limit - 1); p > std::max<std::int64_t>(b, -1); --p)
            set(static_cast<int>(p), PenOn(penStyle, a - p) ? color : kBlack);
    }
}

}  // namespace

void CTarvoView::LoadPicture()
{
    // Releases the picture loaded before. The new one is decoded when the
    // client area is first drawn or shown: a command that draws nothing
    // (a header, a saved file) never pays for it. The loader shares the
    // bitmap, so it stays valid whichever of view and host goes first.
    auto bitmap = std::make_shared<CBitmap>();
    m_pBitmap = bitmap;
    m_host.ClientSurface().SetPictureLater([bitmap](Surface& s) {
        if (bitmap->LoadBitmap(BackgroundBitmap()))
            s.SetPicture(bitmap->Pixels(), bitmap->Width(), bitmap->Height());
        else
            s.ClearPicture();
    });
}

int CTarvoView::ChunkToX(int c) const
{
    if (m_nChunks <= 0)
        return kPlotLeft;
    std::int64_t x = kPlotLeft + std::int64_t{kPlotRight - kPlotLeft} * c / m_nChunks;
    return static_cast<int>(std::clamp<std::int64_t>(x, kPlotLeft, kPlotRight));
}

int CTarvoView::FreqToY(double f) const
{
    double y = kPlotBottom - (f - m_dLowFreq) * (kPlotBottom - kPlotTop) / (m_dHighFreq - m_dLowFreq);
    if (!std::isfinite(y))
        return kPlotTop;
    return static_cast<int>(std::clamp(std::trunc(y), double{kPlotTop}, double{kPlotBottom}));
}

void CTarvoView::PlotPoint(int x, int y, COLORREF color)
{
    m_host.ClientSurface().SetPixel(x, y, color);
}

void CTarvoView::DrawHorzLine(int x1, int x2, int y, COLORREF color, int penStyle)
{
    Surface& s = m_host.ClientSurface();
    if (y < 0 || y >= Surface::kHeight)
        return;
    DrawSpan(x1, x2, Surface::kWidth, penStyle, color, [&](int x, COLORREF c) { s.SetPixel(x, y, c); });
}

void CTarvoView::DrawVertLine(int x, int y1, int y2, COLORREF color, int penStyle)
{
    Surface& s = m_host.ClientSurface();
    if (x < 0 || x >= Surface::kWidth)
        return;
    DrawSpan(y1, y2, Surface::kHeight, penStyle, color, [&](int y, COLORREF c) { s.SetPixel(x, y, c); });
}

void CTarvoView::DrawGrid()
{
    // One line per 1000 Hz, rounded to the nearest row.
    for (int f = 1000; f < 12000; f += 1000) {
        double y = std::trunc(290.5 - (f - m_dLowFreq) * 253 / (m_dHighFreq - m_dLowFreq));
        if (std::isfinite(y) && y > kPlotTop && y < kPlotBottom)
            DrawHorzLine(kPlotLeft, kPlotRight, static_cast<int>(y), kGridColor, PS_DOT);
    }

    // One line per second over more than two seconds, else one per tenth.
    const double d = m_dDisplayed;
    const bool seconds = d > 2.0;
    const int lines = seconds ? 49 : 19;
    for (int i = 1; i <= lines; ++i) {
        double x = seconds ? std::trunc(i / d * 415 + 25 + 0.5) : std::trunc(i / (d * 10) * 415 + 25);
        if (std::isfinite(x) && x > kPlotLeft && x < kPlotRight)
            DrawVertLine(static_cast<int>(x), kPlotTop, kPlotBottom, kGridColor, PS_DOT);
    }
}

void CTarvoView::OnClear()
{
    m_host.ClientSurface().FillRect(Rect{kPlotLeft, kPlotTop, kPlotRight + 1, kPlotBottom + 1}, kBlack);
}

}  // namespace tarvo
