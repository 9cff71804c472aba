// The picture tarvo-cli writes: decoded again, it is the client raster of
// the same commands pixel for pixel.
#include "CliRunner.h"
#include "ViewFixture.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <vector>

namespace tarvo::test {
namespace {

class PngOutput : public ViewTest {};

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

        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&image, out.c_str())) << image.message;
        ASSERT_EQ(image.width, static_cast<unsigned>(Surface::kWidth));
        ASSERT_EQ(image.height, static_cast<unsigned>(Surface::kHeight));
        image.format = PNG_FORMAT_RGB;
        std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << image.message;

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
