// The TIFF encoder: files read back by our TIFF decoder, by libtiff's tiffinfo and by ImageMagick.
#include "imagefiles/tiff_encoder.h"

#include <atomic>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "image_oracle.h"
#include "imagefiles/tiff_decoder.h"
#include "test_support.h"
#include "toolkit/stop_request.h"

namespace {

using quill::imagefiles::PaletteColor;
using quill::imagefiles::PalettedImage;
using quill::toolkit::Image;
using quill::toolkit::PixelFormat;
namespace test = quill::test;
namespace files = quill::imagefiles;

// Noise over a gradient (so the predictor and several strips have work), with an alpha channel
// that reaches 0 and 255 in 32 bits.
Image noisy(int width, int height, PixelFormat format) {
    Image image(width, height, format);
    std::mt19937 random{unsigned(width + height)};
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = image.row(y);
        for (int x = 0; x < width; ++x, p += image.bytesPerPixel()) {
            p[0] = std::uint8_t(x + random() % 4);
            p[1] = std::uint8_t(y * 3);
            p[2] = std::uint8_t(random());
            if (image.hasAlpha()) p[3] = std::uint8_t(x % 3 == 0 ? 0 : x % 3 == 1 ? 255 : y);
        }
    }
    return image;
}

// A paletted image with `colours` entries used in a pattern that crosses byte boundaries.
PalettedImage paletted(int width, int height, int colours) {
    PalettedImage image{width, height, {}, {}};
    for (int i = 0; i < colours; ++i)
        image.palette.push_back(
            PaletteColor{std::uint8_t(i * 37), std::uint8_t(255 - i), std::uint8_t(i * i % 256)});
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.indices.push_back(std::uint8_t((x * 5 + y * 3) % colours));
    return image;
}

std::string tiffinfo(const std::string& path) {
    std::string output;
    test::runCommand("/usr/bin/tiffinfo " + test::shellQuote(path) + " 2>&1", &output);
    return output;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// RGB and RGBA files come back pixel for pixel through our decoder, also when written after
// other bytes in the output and when they span many strips; tiffinfo sees Deflate with the
// horizontal predictor and unassociated alpha, and ImageMagick decodes the same pixels.
TEST(TiffEncoder, TrueColourRoundTrips) {
    const bool tools = test::haveTool("/usr/bin/tiffinfo") && test::haveImageMagick();
    test::TempDir dir;
    for (const PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        const bool alpha = format == PixelFormat::Bgra32;
        SCOPED_TRACE(alpha ? "RGBA" : "RGB");
        const Image source = noisy(301, 1300, format); // two 1 MiB strips, the second short
        std::vector<std::uint8_t> out{'x', 'y', 'z'};
        ASSERT_TRUE(files::encodeTiff(source.view(), 5, out));
        const std::vector<std::uint8_t> file(out.begin() + 3, out.end());
        EXPECT_TRUE(test::samePixels(files::decodeTiff(file), source));

        if (!tools) continue;
        const std::string path = dir.file(alpha ? "a.tif" : "b.tif");
        test::writeBytes(path, file);
        const std::string info = tiffinfo(path);
        EXPECT_TRUE(contains(info, "Image Width: 301 Image Length: 1300")) << info;
        EXPECT_TRUE(contains(info, "Compression Scheme: AdobeDeflate")) << info;
        EXPECT_TRUE(contains(info, "Predictor: horizontal differencing")) << info;
        EXPECT_TRUE(contains(info, "Samples/Pixel: " + std::string(alpha ? "4" : "3"))) << info;
        EXPECT_EQ(contains(info, "Extra Samples: 1<unassoc-alpha>"), alpha) << info;
        EXPECT_FALSE(contains(info, "rror")) << info;
        EXPECT_TRUE(test::samePixels(test::decodeWithImageMagick(path, alpha), source));
    }
}

// 1-, 4- and 8-bit palette files at widths that do not fill their last byte read back as the
// palette's colours through our decoder and ImageMagick; tiffinfo sees a palette file of that
// depth.
TEST(TiffEncoder, PaletteDepthsRoundTrip) {
    const bool tools = test::haveTool("/usr/bin/tiffinfo") && test::haveImageMagick();
    test::TempDir dir;
    for (const int depth : {1, 4, 8}) {
        SCOPED_TRACE(depth);
        const PalettedImage image = paletted(37, 23, depth == 8 ? 200 : 1 << depth);
        Image expected(image.width, image.height, PixelFormat::Bgr24);
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) {
                const PaletteColor c = image.palette[image.indices[y * image.width + x]];
                std::uint8_t* p = expected.row(y) + 3 * x;
                p[0] = c.blue, p[1] = c.green, p[2] = c.red;
            }
        std::vector<std::uint8_t> out;
        ASSERT_TRUE(files::encodeTiffPalette(image, depth, out));
        EXPECT_TRUE(test::samePixels(files::decodeTiff(out).toBgr24(), expected));

        if (!tools) continue;
        const std::string path = dir.file("p" + std::to_string(depth) + ".tif");
        test::writeBytes(path, out);
        const std::string info = tiffinfo(path);
        EXPECT_TRUE(contains(info, "Photometric Interpretation: palette color")) << info;
        EXPECT_TRUE(contains(info, "Bits/Sample: " + std::to_string(depth))) << info;
        EXPECT_TRUE(contains(info, "Compression Scheme: AdobeDeflate")) << info;
        EXPECT_TRUE(test::samePixels(test::decodeWithImageMagick(path, false), expected));
    }
}

// Bad arguments are refused, and a stop request abandons the file; the output keeps what it held.
TEST(TiffEncoder, RefusalsAndStopLeaveOutputAlone) {
    std::vector<std::uint8_t> out{7, 7};
    const std::vector<std::uint8_t> before = out;
    EXPECT_FALSE(files::encodeTiff(Image().view(), 5, out));
    EXPECT_FALSE(files::encodeTiffPalette(paletted(8, 8, 4), 2, out));  // no 2-bit files
    EXPECT_FALSE(files::encodeTiffPalette(paletted(8, 8, 17), 4, out)); // palette too large
    PalettedImage broken = paletted(8, 8, 2);
    broken.indices.pop_back(); // one index short
    EXPECT_FALSE(files::encodeTiffPalette(broken, 1, out));
    EXPECT_EQ(out, before);

    std::atomic<std::int32_t> stop{1};
    const quill::toolkit::StopScope scope(&stop);
    EXPECT_FALSE(files::encodeTiff(noisy(20, 20, PixelFormat::Bgr24).view(), 5, out));
    EXPECT_FALSE(files::encodeTiffPalette(paletted(20, 20, 16), 4, out));
    EXPECT_EQ(out, before);
}

} // namespace
