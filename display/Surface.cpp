#include "display/Surface.h"

#include <algorithm>

namespace tarvo {

namespace {
std::uint32_t ToArgb(COLORREF c)
{
    return 0xFF000000u | (static_cast<std::uint32_t>(GetRValue(c)) << 16) |
           (static_cast<std::uint32_t>(GetGValue(c)) << 8) | static_cast<std::uint32_t>(GetBValue(c));
}
COLORREF FromArgb(std::uint32_t a)
{
    return RGB(static_cast<int>((a >> 16) & 0xFF), static_cast<int>((a >> 8) & 0xFF),
               static_cast<int>(a & 0xFF));
}
constexpr size_t kPixels = static_cast<size_t>(Surface::kWidth) * Surface::kHeight;
}  // namespace

Surface::Surface() { Touch(0, 0, kWidth, kHeight); }

void Surface::MaterialiseSlow() const
{
    if (composite_.empty()) {
        layer_.assign(kPixels, 0);
        composite_.assign(kPixels, ToArgb(kOutside));
    }
    if (loader_) {
        // The loader changes the picture, which is what a const reader of a
        // deferred picture is owed. The change was counted as dirty when the
        // picture was deferred; made now (often inside a paint), it adds
        // nothing more to repaint.
        Surface& self = const_cast<Surface&>(*this);
        PictureLoader load = std::move(loader_);
        loader_ = nullptr;
        const Rect dirty = self.dirty_;
        load(self);
        self.dirty_ = dirty;
    }
}

void Surface::SetPictureLater(PictureLoader load)
{
    loader_ = std::move(load);
    Touch(0, 0, kWidth, kHeight);
}

void Surface::SetPicture(const std::vector<COLORREF>& pixels, int width, int height)
{
    loader_ = nullptr;
    Materialise();
    // The picture is not kept: the raster shows it wherever the layer holds
    // nothing, and a new picture is composed under the layer again.
    const bool any = width > 0 && height > 0 && pixels.size() >= static_cast<size_t>(width) * height;
    const int w = any ? std::min(width, kWidth) : 0, h = any ? std::min(height, kHeight) : 0;
    const std::uint32_t outside = ToArgb(kOutside);
    for (int y = 0; y < kHeight; ++y) {
        const size_t row = static_cast<size_t>(y) * kWidth;
        const COLORREF* src = y < h ? pixels.data() + static_cast<size_t>(y) * width : nullptr;
        for (int x = 0; x < kWidth; ++x) {
            const std::uint32_t drawn = layer_[row + x];
            composite_[row + x] = drawn ? drawn : x < w && src ? ToArgb(src[x]) : outside;
        }
    }
    Touch(0, 0, kWidth, kHeight);
}

void Surface::ClearPicture() { SetPicture({}, 0, 0); }

void Surface::SetPixel(int x, int y, COLORREF color)
{
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight)
        return;
    Materialise();
    size_t i = static_cast<size_t>(y) * kWidth + x;
    layer_[i] = composite_[i] = ToArgb(color);
    Touch(x, y, x + 1, y + 1);
}

void Surface::FillRect(const Rect& r, COLORREF color)
{
    int x0 = std::max(r.left, 0), y0 = std::max(r.top, 0);
    int x1 = std::min(r.right, kWidth), y1 = std::min(r.bottom, kHeight);
    if (x1 <= x0 || y1 <= y0)
        return;
    Materialise();
    std::uint32_t a = ToArgb(color);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            size_t i = static_cast<size_t>(y) * kWidth + x;
            layer_[i] = composite_[i] = a;
        }
    Touch(x0, y0, x1, y1);
}

COLORREF Surface::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight)
        return kOutside;
    Materialise();
    return FromArgb(composite_[static_cast<size_t>(y) * kWidth + x]);
}

void Surface::SetColumn(int x, int y0, int y1, const COLORREF* colours)
{
    if (x < 0 || x >= kWidth)
        return;
    const int from = std::max(y0, 0), to = std::min(y1, kHeight);
    if (to <= from)
        return;
    Materialise();
    int top = to, bottom = from;
    for (int y = from; y < to; ++y) {
        const COLORREF c = colours[y - y0];
        if (c == RGB(0, 0, 0))
            continue;
        const size_t i = static_cast<size_t>(y) * kWidth + x;
        layer_[i] = composite_[i] = ToArgb(c);
        top = std::min(top, y);
        bottom = y + 1;
    }
    if (top < bottom)
        Touch(x, top, x + 1, bottom);
}

void Surface::Touch(int x0, int y0, int x1, int y1)
{
    if (dirty_.Empty()) {
        dirty_ = {x0, y0, x1, y1};
        return;
    }
    dirty_.left = std::min(dirty_.left, x0);
    dirty_.top = std::min(dirty_.top, y0);
    dirty_.right = std::max(dirty_.right, x1);
    dirty_.bottom = std::max(dirty_.bottom, y1);
}

Rect Surface::TakeDirty()
{
    Rect r = dirty_;
    dirty_ = {};
    return r;
}

}  // namespace tarvo
