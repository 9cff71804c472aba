// The client area as a PNG file, through libpng: 8-bit RGB rows with the
// Sub row filter, deflated at a moderate level. The picture is flat areas,
// dotted lines and single pixels: Sub turns the flat runs into zeros, and
// trying Up as well (adaptive filtering) costs half again as much for a
// larger file.
#include "cli/Png.h"

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace tarvo {

namespace {

// Deflate level 3: a spectrogram comes out about a quarter larger than at
// level 6, in two thirds of the time.
constexpr int kCompressionLevel = 3;

struct FileCloser {
    std::FILE* f;
    ~FileCloser()
    {
        if (f)
            std::fclose(f);
    }
};

// Everything libpng may jump out of lives in here, with no object that
// needs destroying between the setjmp and a longjmp.
bool Encode(std::FILE* f, const std::uint32_t* argb, std::uint8_t* row)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png)
        return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    constexpr int w = Surface::kWidth, h = Surface::kHeight;
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, kCompressionLevel);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) {
        const std::uint32_t* p = argb + static_cast<size_t>(y) * w;
        for (int x = 0; x < w; ++x) {
            row[3 * x] = static_cast<std::uint8_t>(p[x] >> 16);
            row[3 * x + 1] = static_cast<std::uint8_t>(p[x] >> 8);
            row[3 * x + 2] = static_cast<std::uint8_t>(p[x]);
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace

bool WritePng(const Surface& s, const std::string& path)
{
    std::vector<std::uint8_t> row(3 * static_cast<size_t>(Surface::kWidth));
    FileCloser file{std::fopen(path.c_str(), "wb")};
    if (!file.f)
        return false;
    if (!Encode(file.f, s.Argb(), row.data()))
        return false;
    std::FILE* f = file.f;
    file.f = nullptr;
    // A full disk shows at the flush or the close, not before.
    const bool flushed = std::fflush(f) == 0;
    return std::fclose(f) == 0 && flushed;
}

}  // namespace tarvo
