// The BMP decoder, and the background picture file and its generator.
#include "display/Bitmap.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace tarvo;

namespace {

using Bytes = std::vector<std::uint8_t>;

void Put16(Bytes& b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// Palette entry i is RGB(i, 10 + i, 20 + i): every index has its own colour.
COLORREF Pal(int i) { return RGB(i, 10 + i, 20 + i); }

Bytes MakeBmp(std::int32_t width, std::int32_t height, int bits, int compression, const Bytes& data,
              std::uint32_t colorsUsed = 0)
{
    std::uint32_t colors = bits <= 8 ? (colorsUsed ? colorsUsed : 1u << bits) : 0;
    std::uint32_t off = 14 + 40 + 4 * colors;
    Bytes b{'B', 'M'};
    Put32(b, off + static_cast<std::uint32_t>(data.size()));
    Put32(b, 0);
    Put32(b, off);
    Put32(b, 40);
    Put32(b, static_cast<std::uint32_t>(width));
    Put32(b, static_cast<std::uint32_t>(height));
    Put16(b, 1);
    Put16(b, static_cast<std::uint32_t>(bits));
    Put32(b, static_cast<std::uint32_t>(compression));
    Put32(b, static_cast<std::uint32_t>(data.size()));
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, colorsUsed);
    Put32(b, 0);
    for (std::uint32_t i = 0; i < colors; ++i) {
        b.push_back(static_cast<std::uint8_t>(20 + i));
        b.push_back(static_cast<std::uint8_t>(10 + i));
        b.push_back(static_cast<std::uint8_t>(i));
        b.push_back(0);
    }
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

// The palette indices of a decoded bitmap, rows top-down; -1 for a colour
// not in the test palette.
std::vector<std::vector<int>> Indices(const CBitmap& bmp)
{
    std::vector<std::vector<int>> rows(static_cast<size_t>(bmp.Height()));
    for (int y = 0; y < bmp.Height(); ++y)
        for (int x = 0; x < bmp.Width(); ++x) {
            COLORREF c = bmp.Pixels()[static_cast<size_t>(y) * bmp.Width() + x];
            int i = GetRValue(c);
            rows[static_cast<size_t>(y)].push_back(c == Pal(i) ? i : -1);
        }
    return rows;
}

using Rows = std::vector<std::vector<int>>;

Rows DecodeRle4(int width, int height, const Bytes& stream)
{
    CBitmap bmp;
    EXPECT_TRUE(bmp.LoadBitmap(MakeBmp(width, height, 4, 2, stream)));
    return Indices(bmp);
}

Bytes ReadFile(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(BitmapRle4, EncodedRunsAlternateNibblesAndRowsAreBottomUp)
{
    // Bottom row: 1 2 1 2 1, then three 3s; top row: two 5s and the rest unset.
    Bytes s{5, 0x12, 3, 0x33, 0, 0, 2, 0x55, 0, 1};
    EXPECT_EQ(DecodeRle4(8, 2, s), (Rows{{5, 5, 0, 0, 0, 0, 0, 0}, {1, 2, 1, 2, 1, 3, 3, 3}}));
}

TEST(BitmapRle4, AbsoluteModeSkipsItsWordPadding)
{
    // Five nibbles take three bytes and one pad byte; the run after the pad
    // must not be mistaken for an escape.
    Bytes s{0, 5, 0x12, 0x34, 0x50, 0x00, 2, 0x77, 0, 3, 0xAB, 0xC0, 0, 1};
    EXPECT_EQ(DecodeRle4(10, 1, s), (Rows{{1, 2, 3, 4, 5, 7, 7, 10, 11, 12}}));
}

TEST(BitmapRle4, DeltaAndEndOfLineLeaveIndexZero)
{
    // Row 0 (bottom): one 4, then delta right 2 and up 1 to (3, 1): one 6.
    Bytes s{1, 0x40, 0, 2, 2, 1, 1, 0x60, 0, 0, 1, 0x90, 0, 1};
    EXPECT_EQ(DecodeRle4(5, 3, s), (Rows{{9, 0, 0, 0, 0}, {0, 0, 0, 6, 0}, {4, 0, 0, 0, 0}}));
}

TEST(BitmapRle4, RunsPastTheRowEndAreDroppedNotWrapped)
{
    Bytes s{9, 0x88, 0, 0, 1, 0x20, 0, 1};
    EXPECT_EQ(DecodeRle4(4, 2, s), (Rows{{2, 0, 0, 0}, {8, 8, 8, 8}}));
}

TEST(BitmapRle4, StreamWithoutEndOfBitmapKeepsWhatItDrew)
{
    EXPECT_EQ(DecodeRle4(3, 2, Bytes{2, 0x11}), (Rows{{0, 0, 0}, {1, 1, 0}}));
    // Absolute mode cut short in its data.
    EXPECT_EQ(DecodeRle4(6, 1, Bytes{0, 6, 0x34}), (Rows{{3, 4, 0, 0, 0, 0}}));
}

TEST(BitmapRle8, RunsAndOddAbsoluteRun)
{
    Bytes s{0, 3, 7, 8, 9, 0, 2, 0x20, 0, 0, 0, 1};
    CBitmap bmp;
    ASSERT_TRUE(bmp.LoadBitmap(MakeBmp(5, 2, 8, 1, s)));
    EXPECT_EQ(Indices(bmp), (Rows{{0, 0, 0, 0, 0}, {7, 8, 9, 0x20, 0x20}}));
}

TEST(BitmapUncompressed, FourBitBottomUpEightBitTopDownAndTwentyFourBit)
{
    // 3 pixels of 4 bits take 2 bytes, padded to 4 per row.
    Bytes four{0x12, 0x30, 0xEE, 0xEE, 0x45, 0x60, 0xEE, 0xEE};
    CBitmap a;
    ASSERT_TRUE(a.LoadBitmap(MakeBmp(3, 2, 4, 0, four)));
    EXPECT_EQ(Indices(a), (Rows{{4, 5, 6}, {1, 2, 3}}));

    Bytes eight{1, 2, 3, 0, 4, 5, 6, 0};
    CBitmap b;
    ASSERT_TRUE(b.LoadBitmap(MakeBmp(3, -2, 8, 0, eight)));
    EXPECT_EQ(Indices(b), (Rows{{1, 2, 3}, {4, 5, 6}}));

    CBitmap c;  // 24 bits: blue, green, red per pixel, rows padded
    ASSERT_TRUE(c.LoadBitmap(MakeBmp(2, 1, 24, 0, Bytes{1, 2, 3, 4, 5, 6, 0, 0})));
    EXPECT_EQ(c.Pixels(), (std::vector<COLORREF>{RGB(3, 2, 1), RGB(6, 5, 4)}));
}

TEST(BitmapRefuses, WhatItCannotDecode)
{
    const Bytes rle{0, 1};
    CBitmap bmp;
    EXPECT_FALSE(bmp.LoadBitmap(MakeBmp(16385, 1, 4, 2, rle)));
    EXPECT_FALSE(bmp.LoadBitmap(MakeBmp(1, 16385, 4, 2, rle)));
    EXPECT_FALSE(bmp.LoadBitmap(MakeBmp(16384, 16384, 4, 2, rle)));
    EXPECT_FALSE(bmp.LoadBitmap(MakeBmp(0, 5, 4, 2, rle)));
    EXPECT_FALSE(bmp.LoadBitmap(MakeBmp(5, INT_MIN, 4, 2, rle)));
    EXPECT_FALSE(bmp.LoadBitmap(MakeBmp(4, 4, 4, 1, rle)));  // RLE8 with 4 bits
    EXPECT_FALSE(bmp.LoadBitmap(MakeBmp(4, 4, 8, 0, Bytes(15))));  // one byte short
    Bytes bad = MakeBmp(2, 2, 4, 2, rle);
    bad[0] = 'X';
    EXPECT_FALSE(bmp.LoadBitmap(bad));
    EXPECT_FALSE(bmp.LoadBitmap({}));
    EXPECT_TRUE(bmp.Empty());
    EXPECT_TRUE(bmp.Pixels().empty());

    // A colour count beyond the file is refused; a count beyond the bit
    // depth is held to 16 colours.
    Bytes lying = MakeBmp(2, 1, 4, 2, Bytes{2, 0x1F, 0, 1});
    lying[46] = 0x20;  // 32 colours claimed, 16 present
    ASSERT_TRUE(bmp.LoadBitmap(lying));
    EXPECT_EQ(Indices(bmp), (Rows{{1, 15}}));
    lying[46] = 0xFF;
    lying[47] = 0xFF;
    EXPECT_TRUE(bmp.LoadBitmap(lying));
    Bytes shortPalette = MakeBmp(2, 1, 8, 1, Bytes{0, 1}, 200);
    shortPalette.resize(14 + 40 + 4 * 100);
    EXPECT_FALSE(bmp.LoadBitmap(shortPalette));
}

TEST(BitmapRobustness, EveryPrefixAndCorruptionOfThePictureIsSafe)
{
    const Bytes& file = BackgroundBitmap();
    ASSERT_GT(file.size(), 118u);
    CBitmap bmp;
    for (size_t n = 0; n < file.size(); n += (n < 200 ? 1 : 37))
        bmp.LoadBitmap(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n)));

    // Deterministic corruptions of headers and stream.
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int round = 0; round < 300; ++round) {
        Bytes b = file;
        for (int k = 0; k < 8; ++k) {
            size_t at = next() % (round % 2 ? 140 : b.size());
            b[at] = static_cast<std::uint8_t>(next() >> 24);
        }
        if (bmp.LoadBitmap(b)) {
            EXPECT_EQ(bmp.Pixels().size(), static_cast<size_t>(bmp.Width()) * bmp.Height());
        }
    }
}

TEST(BackgroundFile, IsAWellFormedRle4StreamOfWholeRows)
{
    const Bytes& f = BackgroundBitmap();
    ASSERT_GE(f.size(), 118u);
    auto u16 = [&](size_t i) { return static_cast<unsigned>(f[i] | f[i + 1] << 8); };
    auto u32 = [&](size_t i) { return u16(i) | u16(i + 2) << 16; };
    EXPECT_EQ(u32(2), f.size());
    EXPECT_EQ(u32(10), 118u);
    EXPECT_EQ(u32(14), 40u);
    EXPECT_EQ(u32(18), 640u);
    EXPECT_EQ(u32(22), 400u);
    EXPECT_EQ(u16(28), 4u);
    EXPECT_EQ(u32(30), 2u);
    EXPECT_EQ(u32(34), f.size() - 118);
    const Bytes palette{0, 0, 0,     128, 0, 0,     0, 128, 0,     128, 128, 0,
                        0, 0, 128,   128, 0, 128,   0, 128, 128,   91, 91, 91,
                        128, 128, 128, 255, 0, 0,   0, 255, 0,     255, 128, 64,
                        0, 0, 255,   255, 0, 255,   0, 255, 255,   255, 255, 255};
    for (size_t i = 0; i < 16; ++i)  // stored blue, green, red, 0
        EXPECT_EQ((Bytes{f[56 + 4 * i], f[55 + 4 * i], f[54 + 4 * i], f[57 + 4 * i]}),
                  (Bytes{palette[3 * i], palette[3 * i + 1], palette[3 * i + 2], 0}))
            << i;

    // Every row holds exactly 640 pixels, closed by an end of line; the top
    // row by the end of the bitmap, which is the file's last word.
    size_t i = 118;
    int rows = 0, x = 0;
    bool ended = false;
    while (!ended) {
        ASSERT_LT(i + 1, f.size());
        unsigned count = f[i], value = f[i + 1];
        i += 2;
        if (count > 0) {
            x += static_cast<int>(count);
        } else if (value == 0 || value == 1) {
            ASSERT_EQ(x, 640) << "row " << rows;
            ++rows;
            x = 0;
            ended = value == 1;
        } else {
            ASSERT_GE(value, 3u);  // absolute mode
            x += static_cast<int>(value);
            size_t bytes = (value + 1) / 2;
            i += bytes + bytes % 2;
        }
        ASSERT_LE(x, 640);
    }
    EXPECT_EQ(rows, 400);
    EXPECT_EQ(i, f.size());
}

TEST(BackgroundFile, GeneratorReproducesTheStoredFileByteForByte)
{
    const std::string out = testing::TempDir() + "tarvo_background_check.bmp";
    const std::string cmd = std::string("\"") + TARVO_MAKE_BACKGROUND_PATH + "\" \"" + out + "\"";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    Bytes made = ReadFile(out);
    std::remove(out.c_str());
    Bytes stored = ReadFile(std::string(TARVO_SOURCE_DIR) + "/resources/background.bmp");
    ASSERT_FALSE(stored.empty());
    EXPECT_TRUE(made == stored);
    EXPECT_TRUE(stored == BackgroundBitmap());  // and the program carries the same bytes
}
