// The client area as a raster: the background picture underneath and a
// retained drawing layer on top. What the commands draw stays until Clear
// blanks it; a repaint shows picture and layer together.
#pragma once

#include <cstdint>
#include <vector>

namespace tarvo {

// A colour value, red in the low byte as the platform's COLORREF.
using COLORREF = std::uint32_t;
constexpr COLORREF RGB(int r, int g, int b)
{
    return static_cast<COLORREF>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
constexpr int GetRValue(COLORREF c) { return static_cast<int>(c & 0xFF); }
constexpr int GetGValue(COLORREF c) { return static_cast<int>((c >> 8) & 0xFF); }
constexpr int GetBValue(COLORREF c) { return static_cast<int>((c >> 16) & 0xFF); }

struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;  // right and bottom exclusive
    bool Empty() const { return right <= left || bottom <= top; }
};

class Surface {
public:
    static constexpr int kWidth = 640;
    static constexpr int kHeight = 420;
    // Shown where the picture does not reach: the dialog background grey.
    static constexpr COLORREF kOutside = RGB(192, 192, 192);

    Surface();

    // Replaces the picture (rows top-down, width x height colours); parts of
    // the client area it does not cover show kOutside. An empty picture
    // leaves the whole area kOutside.
    void SetPicture(const std::vector<COLORREF>& pixels, int width, int height);
    void ClearPicture();

    // The drawing layer. Coordinates outside the client area are ignored.
    void SetPixel(int x, int y, COLORREF color);
    void FillRect(const Rect& r, COLORREF color);

    // What the client area shows at (x, y): the layer where it was drawn,
    // else the picture.
    COLORREF GetPixel(int x, int y) const;

    // The composed raster as 0xFFRRGGBB words, row by row: ready for a host
    // to wrap as an image without conversion.
    const std::uint32_t* Argb() const { return composite_.data(); }

    // The part changed since the last TakeDirty(); the hosts repaint it.
    Rect TakeDirty();

private:
    void Compose(int x, int y);
    void Touch(int x0, int y0, int x1, int y1);

    std::vector<std::uint32_t> picture_;    // ARGB, kWidth x kHeight
    std::vector<std::uint32_t> layer_;      // ARGB
    std::vector<std::uint8_t> drawn_;       // 1 where the layer holds a pixel
    std::vector<std::uint32_t> composite_;  // ARGB
    Rect dirty_;
};

}  // namespace tarvo
