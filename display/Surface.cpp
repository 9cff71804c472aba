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

Surface::Surface()
    : picture_(kPixels, ToArgb(kOutside)),
      layer_(kPixels, 0),
      drawn_(kPixels, 0),
      composite_(kPixels, ToArgb(kOutside))
{
    Touch(0, 0, kWidth, kHeight);
}

void Surface::SetPicture(const std::vector<COLORREF>& pixels, int width, int height)
{
    std::fill(picture_.begin(), picture_.end(), ToArgb(kOutside));
    if (width > 0 && height > 0 && pixels.size() >= static_cast<size_t>(width) * height) {
        int w = std::min(width, kWidth), h = std::min(height, kHeight);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                picture_[static_cast<size_t>(y) * kWidth + x] =
                    ToArgb(pixels[static_cast<size_t>(y) * width + x]);
    }
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            Compose(x, y);
    Touch(0, 0, kWidth, kHeight);
}

void Surface::ClearPicture() { SetPicture({}, 0, 0); }

void Surface::Compose(int x, int y)
{
    size_t i = static_cast<size_t>(y) * kWidth + x;
    composite_[i] = drawn_[i] ? layer_[i] : picture_[i];
}

void Surface::SetPixel(int x, int y, COLORREF color)
{
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight)
        return;
    size_t i = static_cast<size_t>(y) * kWidth + x;
    layer_[i] = composite_[i] = ToArgb(color);
    drawn_[i] = 1;
    Touch(x, y, x + 1, y + 1);
}

void Surface::FillRect(const Rect& r, COLORREF color)
{
    int x0 = std::max(r.left, 0), y0 = std::max(r.top, 0);
    int x1 = std::min(r.right, kWidth), y1 = std::min(r.bottom, kHeight);
    if (x1 <= x0 || y1 <= y0)
        return;
    std::uint32_t a = ToArgb(color);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) {
            size_t i = static_cast<size_t>(y) * kWidth + x;
            layer_[i] = composite_[i] = a;
            drawn_[i] = 1;
        }
    Touch(x0, y0, x1, y1);
}

COLORREF Surface::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= kWidth || y >= kHeight)
        return kOutside;
    return FromArgb(composite_[static_cast<size_t>(y) * kWidth + x]);
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
