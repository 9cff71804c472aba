// A bitmap object holding a decoded device-independent bitmap.
#pragma once

#include "display/Surface.h"

#include <cstdint>
#include <vector>

namespace tarvo {

class CBitmap {
public:
    // Decodes a BMP file image (BITMAPFILEHEADER onward): 4-bit run-length
    // encoded, 4-bit and 8-bit palettised, bottom-up or top-down. Returns
    // false, leaving the bitmap empty, for anything it cannot decode; it
    // never reads outside `file`.
    bool LoadBitmap(const std::vector<std::uint8_t>& file);

    bool Empty() const { return width_ == 0 || height_ == 0; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    // Rows top-down.
    const std::vector<COLORREF>& Pixels() const { return pixels_; }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<COLORREF> pixels_;
};

}  // namespace tarvo
