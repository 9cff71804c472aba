#include "cli/Png.h"

#include <zlib.h>

#include <cstdint>
#include <fstream>
#include <vector>

namespace tarvo {

namespace {

void Put32(std::vector<unsigned char>& v, std::uint32_t x)
{
    v.push_back(static_cast<unsigned char>(x >> 24));
    v.push_back(static_cast<unsigned char>(x >> 16));
    v.push_back(static_cast<unsigned char>(x >> 8));
    v.push_back(static_cast<unsigned char>(x));
}

// Length, type, data and the CRC of type and data.
void PutChunk(std::vector<unsigned char>& out, const char* type, const std::vector<unsigned char>& data)
{
    Put32(out, static_cast<std::uint32_t>(data.size()));
    std::vector<unsigned char> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    Put32(out, static_cast<std::uint32_t>(crc32(0L, body.data(), static_cast<uInt>(body.size()))));
}

}  // namespace

bool WritePng(const Surface& s, const std::string& path)
{
    const int w = Surface::kWidth, h = Surface::kHeight;

    // Each row: filter type 0 (none), then red, green, blue per pixel.
    std::vector<unsigned char> raw;
    raw.reserve(static_cast<size_t>(h) * (1 + 3 * w));
    const std::uint32_t* argb = s.Argb();
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        for (int x = 0; x < w; ++x) {
            std::uint32_t p = argb[static_cast<size_t>(y) * w + x];
            raw.push_back(static_cast<unsigned char>(p >> 16));
            raw.push_back(static_cast<unsigned char>(p >> 8));
            raw.push_back(static_cast<unsigned char>(p));
        }
    }
    uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
    std::vector<unsigned char> packed(packedSize);
    if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()), Z_BEST_COMPRESSION) != Z_OK)
        return false;
    packed.resize(packedSize);

    std::vector<unsigned char> ihdr;
    Put32(ihdr, static_cast<std::uint32_t>(w));
    Put32(ihdr, static_cast<std::uint32_t>(h));
    ihdr.push_back(8);  // bits per channel
    ihdr.push_back(2);  // colour type: RGB
    ihdr.push_back(0);  // deflate
    ihdr.push_back(0);  // adaptive filtering
    ihdr.push_back(0);  // not interlaced

    std::vector<unsigned char> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(png, "IHDR", ihdr);
    PutChunk(png, "IDAT", packed);
    PutChunk(png, "IEND", {});

    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    if (!f)
        return false;
    f.write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
    f.close();
    return !f.fail();
}

}  // namespace tarvo
