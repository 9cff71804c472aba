#include "display/Bitmap.h"

#include <algorithm>
#include <cstddef>

namespace tarvo {

namespace {

constexpr std::int64_t kMaxSide = 16384;
// A run-length stream of a few bytes can describe a huge picture; the pixel
// count is held to what a picture of this program could ever need.
constexpr std::int64_t kMaxPixels = std::int64_t{1} << 26;

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;

// Bounds-checked little-endian reads from the file image.
class Reader {
public:
    explicit Reader(const std::vector<std::uint8_t>& b) : b_(b) {}
    bool Has(std::size_t pos, std::size_t n) const { return pos <= b_.size() && n <= b_.size() - pos; }
    std::uint8_t U8(std::size_t pos) const { return b_[pos]; }
    std::uint32_t U16(std::size_t pos) const { return b_[pos] | static_cast<std::uint32_t>(b_[pos + 1]) << 8; }
    std::uint32_t U32(std::size_t pos) const { return U16(pos) | U16(pos + 2) << 16; }
    std::int32_t S32(std::size_t pos) const { return static_cast<std::int32_t>(U32(pos)); }
    std::int32_t S16(std::size_t pos) const { return static_cast<std::int16_t>(U16(pos)); }

private:
    const std::vector<std::uint8_t>& b_;
};

struct Header {
    std::int64_t width = 0;
    std::int64_t height = 0;  // positive: rows bottom-up
    bool topDown = false;
    std::uint32_t bitCount = 0;
    std::uint32_t compression = BI_RGB;
    std::vector<COLORREF> palette;  // always 256 entries, black beyond the file's
};

// The decoded pixels, addressed by the row's position in the file's order.
class Target {
public:
    Target(const Header& h, std::vector<COLORREF>& pixels) : h_(h), pixels_(pixels) {}
    void Set(std::int64_t x, std::int64_t fileRow, COLORREF c)
    {
        if (x < 0 || fileRow < 0 || x >= h_.width || fileRow >= h_.height)
            return;
        std::int64_t y = h_.topDown ? fileRow : h_.height - 1 - fileRow;
        pixels_[static_cast<std::size_t>(y * h_.width + x)] = c;
    }

private:
    const Header& h_;
    std::vector<COLORREF>& pixels_;
};

bool ReadHeader(const Reader& r, Header& h, std::size_t& paletteEnd)
{
    if (!r.Has(0, 14 + 4))
        return false;
    std::uint32_t infoSize = r.U32(14);
    std::size_t paletteAt = 14 + static_cast<std::size_t>(infoSize);
    std::size_t entrySize = 4;
    std::uint32_t colorsUsed = 0;
    if (infoSize == 12) {  // the old core header
        if (!r.Has(14, 12))
            return false;
        h.width = r.U16(18);
        h.height = r.S16(20);
        h.bitCount = r.U16(24);
        entrySize = 3;
    } else if (infoSize >= 40 && infoSize <= 1024) {
        if (!r.Has(14, infoSize))
            return false;
        h.width = r.S32(18);
        h.height = r.S32(22);
        h.bitCount = r.U16(28);
        h.compression = r.U32(30);
        colorsUsed = r.U32(46);
    } else {
        return false;
    }
    if (h.height < 0) {
        h.topDown = true;
        h.height = -h.height;  // held in 64 bits, so even the most negative value is safe
    }
    if (h.width <= 0 || h.height <= 0 || h.width > kMaxSide || h.height > kMaxSide ||
        h.width * h.height > kMaxPixels)
        return false;

    switch (h.compression) {
    case BI_RGB:
        if (h.bitCount != 1 && h.bitCount != 4 && h.bitCount != 8 && h.bitCount != 24 && h.bitCount != 32)
            return false;
        break;
    case BI_RLE8:
        if (h.bitCount != 8)
            return false;
        break;
    case BI_RLE4:
        if (h.bitCount != 4)
            return false;
        break;
    default:
        return false;
    }

    h.palette.assign(256, RGB(0, 0, 0));
    paletteEnd = paletteAt;
    if (h.bitCount <= 8) {
        std::uint32_t maxColors = 1u << h.bitCount;
        std::uint32_t n = colorsUsed == 0 || colorsUsed > maxColors ? maxColors : colorsUsed;
        if (!r.Has(paletteAt, n * entrySize))
            return false;
        for (std::uint32_t i = 0; i < n; ++i) {
            std::size_t p = paletteAt + i * entrySize;  // blue, green, red
            h.palette[i] = RGB(r.U8(p + 2), r.U8(p + 1), r.U8(p));
        }
        paletteEnd = paletteAt + n * entrySize;
    }
    return true;
}

bool DecodeUncompressed(const std::vector<std::uint8_t>& b, std::size_t at, const Header& h, Target& t)
{
    std::size_t stride = static_cast<std::size_t>((h.width * h.bitCount + 31) / 32 * 4);
    std::size_t rows = static_cast<std::size_t>(h.height);
    if (at > b.size() || (b.size() - at) / stride < rows)
        return false;
    for (std::int64_t row = 0; row < h.height; ++row) {
        const std::uint8_t* p = b.data() + at + static_cast<std::size_t>(row) * stride;
        for (std::int64_t x = 0; x < h.width; ++x) {
            COLORREF c;
            switch (h.bitCount) {
            case 1:
                c = h.palette[(p[x / 8] >> (7 - x % 8)) & 1];
                break;
            case 4:
                c = h.palette[x % 2 ? p[x / 2] & 0x0F : p[x / 2] >> 4];
                break;
            case 8:
                c = h.palette[p[x]];
                break;
            case 24:
                c = RGB(p[3 * x + 2], p[3 * x + 1], p[3 * x]);
                break;
            default:  // 32
                c = RGB(p[4 * x + 2], p[4 * x + 1], p[4 * x]);
                break;
            }
            t.Set(x, row, c);
        }
    }
    return true;
}

// Runs, end of line, end of bitmap, delta and absolute mode of BI_RLE4 and
// BI_RLE8. Pixels past a row's end are dropped; a stream that ends early
// keeps what it described.
void DecodeRle(const std::vector<std::uint8_t>& b, std::size_t at, const Header& h, Target& t)
{
    const bool four = h.compression == BI_RLE4;
    std::size_t i = std::min(at, b.size());
    const std::size_t end = b.size();
    std::int64_t x = 0, y = 0;
    while (y < h.height && end - i >= 2) {
        std::uint8_t count = b[i], value = b[i + 1];
        i += 2;
        if (count > 0) {
            for (int k = 0; k < count && x < h.width; ++k, ++x) {
                std::uint8_t index = four ? (k % 2 ? value & 0x0F : value >> 4) : value;
                t.Set(x, y, h.palette[index]);
            }
            continue;
        }
        switch (value) {
        case 0:  // end of line
            x = 0;
            ++y;
            break;
        case 1:  // end of bitmap
            return;
        case 2:  // delta
            if (end - i < 2)
                return;
            x = std::min<std::int64_t>(x + b[i], h.width);
            y += b[i + 1];
            i += 2;
            break;
        default: {  // absolute mode: value pixels, padded to a 16-bit word
            std::size_t bytes = four ? (value + 1u) / 2 : value;
            std::size_t padded = bytes + (bytes % 2);
            std::size_t avail = std::min(bytes, end - i);
            for (int k = 0; k < value; ++k, ++x) {
                std::size_t byte = four ? static_cast<std::size_t>(k / 2) : static_cast<std::size_t>(k);
                if (byte >= avail)
                    return;
                std::uint8_t v = b[i + byte];
                std::uint8_t index = four ? (k % 2 ? v & 0x0F : v >> 4) : v;
                t.Set(x, y, h.palette[index]);
            }
            x = std::min<std::int64_t>(x, h.width);
            i += std::min(padded, end - i);
            break;
        }
        }
    }
}

}  // namespace

bool CBitmap::LoadBitmap(const std::vector<std::uint8_t>& file)
{
    width_ = height_ = 0;
    pixels_.clear();

    Reader r(file);
    if (!r.Has(0, 14) || file[0] != 'B' || file[1] != 'M')
        return false;
    Header h;
    std::size_t paletteEnd = 0;
    if (!ReadHeader(r, h, paletteEnd))
        return false;
    std::size_t at = r.U32(10);
    if (at == 0)
        at = paletteEnd;  // no offset given: the bits follow the palette
    if (at > file.size())
        return false;

    std::vector<COLORREF> pixels(static_cast<std::size_t>(h.width * h.height), h.palette[0]);
    Target t(h, pixels);
    if (h.compression == BI_RGB) {
        if (!DecodeUncompressed(file, at, h, t))
            return false;
    } else {
        DecodeRle(file, at, h, t);
    }
    width_ = static_cast<int>(h.width);
    height_ = static_cast<int>(h.height);
    pixels_ = std::move(pixels);
    return true;
}

}  // namespace tarvo
