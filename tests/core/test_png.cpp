// The picture tarvo-cli writes: decoded again, it is the client raster of
// the same commands pixel for pixel.
#include "CliRunner.h"
#include "ViewFixture.h"
#include "cli/Png.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <vector>

namespace tarvo::test {
namespace {

class PngOutput : public ViewTest {};

// The file at path decoded to RGB bytes, row by row.
std::vector<std::uint8_t> Decode(const std::string& path, std::uint8_t& colourType)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    std::uint8_t head[26] = {};
    if (f) {
        colourType = std::fread(head, 1, sizeof head, f) == sizeof head ? head[25] : 0xFF;
        std::fclose(f);
    }
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str()) || image.width != Surface::kWidth ||
        image.height != Surface::kHeight)
        return {};
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr))
        return {};
    return rgb;
}

TEST_F(PngOutput, FewColoursGoAsAPaletteManyAsRgbBothExact)
{
    // 256 colours fit a palette; one more needs RGB.
    for (int colours : {256, 257}) {
        SCOPED_TRACE(colours);
        Surface s;
        s.ClearPicture();  // one colour, the outside grey, everywhere
        for (int k = 0; k < colours - 1; ++k)
            s.SetPixel(k % 600, 10 + k / 600, RGB(k & 0xFF, k >> 8, 7));
        const std::string path = (dir.Path() / "direct.png").string();
        ASSERT_TRUE(WritePng(s, path));
        std::uint8_t colourType = 0;
        const std::vector<std::uint8_t> rgb = Decode(path, colourType);
        ASSERT_FALSE(rgb.empty());
        EXPECT_EQ(colourType, colours <= 256 ? 3 : 2);  // palette, else truecolour
        int mismatches = 0;
        for (int y = 0; y < Surface::kHeight; ++y)
            for (int x = 0; x < Surface::kWidth; ++x) {
                const std::uint8_t* p = &rgb[3 * (static_cast<size_t>(y) * Surface::kWidth + x)];
                mismatches += RGB(p[0], p[1], p[2]) != s.GetPixel(x, y);
            }
        EXPECT_EQ(mismatches, 0);
    }
    EXPECT_FALSE(WritePng(Surface(), (dir.Path() / "no" / "such.png").string()));
}

TEST_F(PngOutput, DecodesToTheRasterOfTheSameCommands)
{
    // A tone with a slow wobble over 40 chunks of 256: the spectrogram puts
    // coloured pixels of every step of the scale on the grid and the picture.
    Bytes samples = Sine(40 * 256, 2000, 11025, 120);
    for (size_t i = 0; i < samples.size(); i += 7)
        samples[i] = static_cast<std::uint8_t>(samples[i] ^ 0x0F);
    const std::string file = Open(Wave8(11025, samples));

    for (const char* chunk : {"256", "2048"}) {
        SCOPED_TRACE(chunk);
        const std::string out = (dir.Path() / (std::string("out") + chunk + ".png")).string();
        CliResult r = RunCli({"--chunk", chunk, "--high-amp", "2", "--spectrogram", "--png", out, file},
                             dir.Path().string());
        ASSERT_EQ(r.status, 0) << r.err;

        std::uint8_t colourType = 0;
        const std::vector<std::uint8_t> rgb = Decode(out, colourType);
        ASSERT_FALSE(rgb.empty());

        form.Click(std::string(chunk) == "256" ? IDC_CHUNK256 : IDC_CHUNK2048);
        form.Type(IDC_HIGHAMP, "2");
        view.OnSpectrogram();
        const Surface& s = form.ClientSurface();
        int mismatches = 0, coloured = 0;
        for (int y = 0; y < Surface::kHeight; ++y)
            for (int x = 0; x < Surface::kWidth; ++x) {
                const std::uint8_t* p = &rgb[3 * (static_cast<size_t>(y) * Surface::kWidth + x)];
                const COLORREF c = s.GetPixel(x, y);
                mismatches += RGB(p[0], p[1], p[2]) != c;
                coloured += c == RGB(255, 0, 0);
            }
        EXPECT_EQ(mismatches, 0);
        EXPECT_GT(coloured, 0);
        view.OnClear();  // each run of tarvo-cli starts on an empty plot
    }
}

}  // namespace
}  // namespace tarvo::test
