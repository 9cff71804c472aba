// The client area as a raster: the background picture underneath and a
// retained drawing layer on top. What the commands draw stays until Clear
// blanks it; a repaint shows picture and layer together.
#pragma once

#include <cstdint>
#include <functional>
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

    // The raster comes into being at its first use (a draw, a read, a
    // repaint): a surface nothing draws on costs nothing.
    Surface();

    // Replaces the picture (rows top-down, width x height colours); parts of
    // the client area it does not cover show kOutside. An empty picture
    // leaves the whole area kOutside.
    void SetPicture(const std::vector<COLORREF>& pixels, int width, int height);
    void ClearPicture();
    // Defers the picture: load runs once, when the raster is first needed,
    // and is expected to call SetPicture or ClearPicture. A later
    // SetPicture, ClearPicture or SetPictureLater replaces it unrun.
    using PictureLoader = std::function<void(Surface&)>;
    void SetPictureLater(PictureLoader load);
    // Whether the raster exists yet.
    bool Materialised() const { return !composite_.empty(); }

    // Paints a run of one column, rows y0..y1-1, with one colour per row
    // where colours[y - y0] is not black; black rows are left as they are.
    void SetColumn(int x, int y0, int y1, const COLORREF* colours);

    // The drawing layer. Coordinates outside the client area are ignored.
    void SetPixel(int x, int y, COLORREF color);
    void FillRect(const Rect& r, COLORREF color);

    // What the client area shows at (x, y): the layer where it was drawn,
    // else the picture.
    COLORREF GetPixel(int x, int y) const;

    // The composed raster as 0xFFRRGGBB words, row by row: ready for a host
    // to wrap as an image without conversion.
    const std::uint32_t* Argb() const
    {
        Materialise();
        return composite_.data();
    }

    // The part changed since the last TakeDirty(); the hosts repaint it.
    Rect TakeDirty();

private:
    // Allocates the raster (the outside grey, nothing drawn) and runs a
    // pending picture loader.
    void Materialise() const
    {
        if (composite_.empty() || loader_)
            MaterialiseSlow();
    }
    void MaterialiseSlow() const;
    void Touch(int x0, int y0, int x1, int y1);

    // Logically const: a raster not yet made reads as the one it will be.
    // Drawn pixels as opaque ARGB, 0 where nothing was drawn.
    mutable std::vector<std::uint32_t> layer_;      // kWidth x kHeight
    // What the client area shows: the layer over the picture.
    mutable std::vector<std::uint32_t> composite_;  // ARGB
    mutable PictureLoader loader_;
    Rect dirty_;
};

}  // namespace tarvo
