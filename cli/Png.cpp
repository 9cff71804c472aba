// The client area as a PNG file, through libpng: 8-bit palette indices
// (8-bit RGB should the raster hold more than 256 colours), with the Sub
// row filter, deflated at a moderate level. The picture is flat areas,
// dotted lines and single pixels: Sub turns the flat runs into zeros, and
// trying Up as well (adaptive filtering) costs more for a larger file.
#include "cli/Png.h"

#include "framework/SafeOutput.h"

#include <png.h>

#include <cerrno>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace tarvo {

namespace {

// Deflate level 3: a moderate level; higher ones cost markedly more time
// for a few kilobytes on a picture of this kind.
constexpr int kCompressionLevel = 3;

// The colours of the raster as a palette, when there are at most 256 of
// them (the picture has 16, the drawing adds a dozen): each pixel becomes its
// index, a third of the bytes to filter and deflate.
struct Palette {
    std::vector<std::uint32_t> colours;
    std::vector<std::uint8_t> indices;  // one per pixel

    bool Build(const std::uint32_t* argb, size_t count)
    {
        indices.resize(count);
        std::uint32_t last = 0;
        std::uint8_t lastIndex = 0;
        bool haveLast = false;
        for (size_t i = 0; i < count; ++i) {
            const std::uint32_t c = argb[i] & 0xFFFFFFu;
            if (!haveLast || c != last) {
                size_t k = 0;
                while (k < colours.size() && colours[k] != c)
                    ++k;
                if (k == colours.size()) {
                    if (colours.size() == 256)
                        return false;
                    colours.push_back(c);
                }
                last = c;
                lastIndex = static_cast<std::uint8_t>(k);
                haveLast = true;
            }
            indices[i] = lastIndex;
        }
        return true;
    }
};

// Everything libpng may jump out of lives in here, with no object that
// needs destroying between the setjmp and a longjmp. With a palette, rows
// are its indices; without, 8-bit RGB built in row.
bool Encode(std::FILE* f, const std::uint32_t* argb, const Palette* palette, std::uint8_t* row)
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
    png_set_IHDR(png, info, w, h, 8, palette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (palette) {
        png_color entries[256];
        for (size_t k = 0; k < palette->colours.size(); ++k) {
            const std::uint32_t c = palette->colours[k];
            entries[k] = png_color{static_cast<png_byte>(c >> 16), static_cast<png_byte>(c >> 8), static_cast<png_byte>(c)};
        }
        png_set_PLTE(png, info, entries, static_cast<int>(palette->colours.size()));
    }
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, kCompressionLevel);
    png_write_info(png, info);
    for (int y = 0; y < h; ++y) {
        if (palette) {
            png_write_row(png, palette->indices.data() + static_cast<size_t>(y) * w);
            continue;
        }
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

bool WritePng(const Surface& s, const std::string& path, const std::vector<std::string>& inputs, std::string* reason)
{
    std::vector<std::uint8_t> row(3 * static_cast<size_t>(Surface::kWidth));
    const std::uint32_t* argb = s.Argb();
    Palette palette;
    const bool indexed = palette.Build(argb, static_cast<size_t>(Surface::kWidth) * Surface::kHeight);
    SafeOutputFile out;
    bool ok = out.Open(path, inputs);
    if (ok) {
        std::FILE* f = out.File();
        if (f && !Encode(f, argb, indexed ? &palette : nullptr, row.data()))
            out.Fail(errno);
        // A full disk shows at the flush or the close, not before.
        ok = out.Commit();
    }
    if (!ok && reason)
        *reason = out.Reason();
    return ok;
}

}  // namespace tarvo
