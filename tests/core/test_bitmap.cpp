// The BMP decoder, and the background picture file and its generator.
#include "display/Bitmap.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

using namespace tarvo;

namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(BitmapRle4, HandMadeStreamsDecodeBottomUp)
{
    struct Case {
        const char* what;
        int width, height;
        Bytes stream;
        std::vector<int> want;  // palette indices, rows top-down
    };
    const Case cases[] = {
        {"encoded runs alternate nibbles; end of line; end of bitmap", 8, 2,
         {5, 0x12, 3, 0x33, 0, 0, 2, 0x55, 0, 1}, {5, 5, 0, 0, 0, 0, 0, 0, /**/ 1, 2, 1, 2, 1, 3, 3, 3}},
        {"absolute mode skips its word padding (the run after it is no escape)", 10, 1,
         {0, 5, 0x12, 0x34, 0x50, 0x00, 2, 0x77, 0, 3, 0xAB, 0xC0, 0, 1}, {1, 2, 3, 4, 5, 7, 7, 10, 11, 12}},
        {"delta right 2 and up 1; end of line; what is skipped stays index 0", 5, 3,
         {1, 0x40, 0, 2, 2, 1, 1, 0x60, 0, 0, 1, 0x90, 0, 1}, {9, 0, 0, 0, 0, /**/ 0, 0, 0, 6, 0, /**/ 4, 0, 0, 0, 0}},
        {"runs past the row end are dropped, not wrapped", 4, 2, {9, 0x88, 0, 0, 1, 0x20, 0, 1},
         {2, 0, 0, 0, /**/ 8, 8, 8, 8}},
        {"no end of bitmap keeps what was drawn", 3, 2, {2, 0x11}, {0, 0, 0, /**/ 1, 1, 0}},
        {"absolute mode cut short in its data", 6, 1, {0, 6, 0x34}, {3, 4, 0, 0, 0, 0}},
    };
    auto pal = [](int i) { return RGB(i, 10 + i, 20 + i); };  // every index its own colour
    for (const Case& c : cases) {
        // The headers after "BM" as little-endian words (planes 1 and 4 bits share one), then the palette.
        const auto size = static_cast<std::uint32_t>(c.stream.size());
        std::vector<std::uint32_t> words{118 + size, 0, 118, 40, static_cast<std::uint32_t>(c.width),
                                         static_cast<std::uint32_t>(c.height), 1 | 4 << 16, 2, size, 0, 0, 0, 0};
        for (int i = 0; i < 16; ++i)
            words.push_back(pal(i) >> 16 | (pal(i) & 0xFF00) | (pal(i) & 0xFF) << 16);  // blue, green, red, 0
        Bytes b{'B', 'M'};
        for (std::uint32_t w : words)
            for (int shift = 0; shift < 32; shift += 8)
                b.push_back(static_cast<std::uint8_t>(w >> shift));
        b.insert(b.end(), c.stream.begin(), c.stream.end());
        std::vector<COLORREF> want(c.want.size());
        std::transform(c.want.begin(), c.want.end(), want.begin(), pal);
        CBitmap bmp;
        EXPECT_TRUE(bmp.LoadBitmap(b) && bmp.Width() == c.width) << c.what;
        EXPECT_EQ(bmp.Pixels(), want) << c.what;
    }
}

TEST(BitmapRobustness, EveryPrefixAndCorruptionOfThePictureIsSafe)
{
    const Bytes& file = BackgroundBitmap();
    CBitmap bmp;
    auto check = [&](const Bytes& b) {  // a sane size, or nothing at all
        const bool ok = bmp.LoadBitmap(b);
        ASSERT_EQ(bmp.Pixels().size(), static_cast<size_t>(bmp.Width()) * bmp.Height());
        ASSERT_TRUE(ok ? bmp.Width() > 0 && bmp.Width() <= 16384 && bmp.Height() > 0 && bmp.Height() <= 16384
                       : bmp.Empty() && bmp.Pixels().empty());
    };
    for (size_t n = 0; n < file.size(); n += (n < 200 ? 1 : 37))
        ASSERT_NO_FATAL_FAILURE(check(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n)))) << n;
    std::uint32_t seed = 12345;  // deterministic corruptions of the headers (odd rounds) or anywhere
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    for (int round = 0; round < 300; ++round) {
        Bytes b = file;
        for (int k = 0; k < 8; ++k)
            b[next() % (round % 2 ? 140 : b.size())] = static_cast<std::uint8_t>(next() >> 24);
        ASSERT_NO_FATAL_FAILURE(check(b)) << "round " << round;
    }
}

TEST(BackgroundFile, DecodesToTheFormsLayout)
{
    CBitmap bmp;
    ASSERT_TRUE(bmp.LoadBitmap(BackgroundBitmap()) && bmp.Width() == 640 && bmp.Height() == 400);
    auto at = [&](int x, int y) { return bmp.Pixels()[static_cast<size_t>(y) * 640 + x]; };
    const COLORREF black = RGB(0, 0, 0), grey = RGB(128, 128, 128), dark = RGB(91, 91, 91),
                   white = RGB(255, 255, 255);
    for (int y = 37; y <= 290; ++y)  // the whole plot rectangle is black
        for (int x = 25; x <= 440; ++x)
            ASSERT_EQ(at(x, y), black) << x << "," << y;
    const std::tuple<int, int, COLORREF> samples[] = {
        // the screen's edges, and its rounded corners showing the panel
        {441, 150, black}, {200, 291, black}, {22, 165, black}, {443, 165, black}, {200, 30, black},
        {200, 301, black}, {22, 30, dark}, {443, 301, dark},
        // the square-cornered panel on the card
        {14, 25, dark}, {450, 311, dark}, {13, 150, grey}, {451, 150, grey}, {200, 24, grey}, {200, 312, grey},
        {550, 200, grey},
        // the card's outline, and white outside its rounded corners
        {0, 200, black}, {639, 200, black}, {320, 0, black}, {320, 399, black}, {1, 200, grey}, {0, 0, white},
        {2, 2, white}, {639, 0, white}, {637, 397, white}};
    for (auto [x, y, color] : samples)
        EXPECT_EQ(at(x, y), color) << x << "," << y;
}

TEST(BackgroundFile, GeneratorReproducesTheStoredFileByteForByte)
{
    auto read = [](const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    };
    const std::string out = testing::TempDir() + "tarvo_background_check.bmp";
    ASSERT_EQ(std::system(("\"" + std::string(TARVO_MAKE_BACKGROUND_PATH) + "\" \"" + out + "\"").c_str()), 0);
    const Bytes made = read(out);
    std::remove(out.c_str());
    const Bytes stored = read(std::string(TARVO_SOURCE_DIR) + "/resources/background.bmp");
    EXPECT_TRUE(made == stored);
    EXPECT_TRUE(stored == BackgroundBitmap());  // and the program carries the same bytes
}

}  // namespace
