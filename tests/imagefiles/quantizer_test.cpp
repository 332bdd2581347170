// The palette quantiser: exact small palettes, error bounds on photographs and the effect of
// dithering.
#include "imagefiles/quantizer.h"

#include <algorithm>
#include <set>

#include <gtest/gtest.h>

#include "image_oracle.h"

namespace {

using quill::imagefiles::Dithering;
using quill::imagefiles::PalettedImage;
using quill::imagefiles::quantizeImage;
using quill::toolkit::Image;
using quill::toolkit::PixelFormat;
namespace test = quill::test;

Image expand(const PalettedImage& paletted) {
    Image image(paletted.width, paletted.height, PixelFormat::Bgr24);
    for (int y = 0; y < paletted.height; ++y)
        for (int x = 0; x < paletted.width; ++x) {
            const auto& c = paletted.palette.at(
                paletted.indices[std::size_t(y) * std::size_t(paletted.width) + std::size_t(x)]);
            std::uint8_t* p = image.row(y) + x * 3;
            p[0] = c.blue, p[1] = c.green, p[2] = c.red;
        }
    return image;
}

// Mean absolute difference per channel.
double meanError(const Image& a, const Image& b) {
    double sum = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            for (int c = 0; c < 3; ++c)
                sum += std::abs(int(a.row(y)[x * a.bytesPerPixel() + c]) -
                                int(b.row(y)[x * b.bytesPerPixel() + c]));
    return sum / (double(a.width()) * a.height() * 3);
}

TEST(Quantizer, RefusesBadRequestsAndKeepsFewColoursExactly) {
    Image image(9, 4, PixelFormat::Bgra32);
    EXPECT_FALSE(quantizeImage(image.view(), 1, Dithering::None));
    EXPECT_FALSE(quantizeImage(image.view(), 257, Dithering::None));
    EXPECT_FALSE(quantizeImage(Image().view(), 16, Dithering::None));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x) {
            std::uint8_t* p = image.row(y) + x * 4;
            p[0] = std::uint8_t(x % 3 * 100), p[1] = std::uint8_t(y * 60), p[2] = 9;
            p[3] = std::uint8_t(x * 20); // alpha plays no part
        }
    const auto result = quantizeImage(image.view(), 16, Dithering::FloydSteinberg);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->palette.size(), 12u);
    EXPECT_EQ(meanError(image, expand(*result)), 0.0);
}

TEST(Quantizer, PhotographsStayClose) {
    if (!test::haveImageMagick()) QUILL_SKIP_WITHOUT_TOOL() << "ImageMagick missing";
    // Measured mean errors per channel at 256 colours: 1.4 (Nokia) and 2.8 (noisy Canon) levels;
    // 16 colours stay under 8.
    for (const char* name : {"exif/nokia_n70_iptc.jpg", "exif/Canon_PowerShot_S40.jpg"}) {
        SCOPED_TRACE(name);
        const Image photo = test::decodeWithImageMagick(test::testdata(name), false);
        ASSERT_FALSE(photo.empty());
        const auto q256 = quantizeImage(photo.view(), 256, Dithering::None);
        ASSERT_TRUE(q256);
        EXPECT_EQ(q256->palette.size(), 256u);
        EXPECT_LT(meanError(photo, expand(*q256)), 3.3);
        const auto q16 = quantizeImage(photo.view(), 16, Dithering::None);
        ASSERT_TRUE(q16);
        EXPECT_LT(meanError(photo, expand(*q16)), 9.0);
        // Nearly every palette entry ends up in use.
        std::set<std::uint8_t> used(q256->indices.begin(), q256->indices.end());
        EXPECT_GT(used.size(), 240u);
    }
}

TEST(Quantizer, DitheringKeepsTheLocalAverage) {
    // A grey ramp on two colours: the plain mapping bands, dithering changes only the mapping and
    // inside the palette's range every column keeps its mean grey.
    Image ramp(256, 64, PixelFormat::Bgr24);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 256; ++x)
            std::fill_n(ramp.row(y) + x * 3, 3, std::uint8_t(x));
    const auto plain = quantizeImage(ramp.view(), 2, Dithering::None);
    const auto two = quantizeImage(ramp.view(), 2, Dithering::FloydSteinberg);
    ASSERT_TRUE(plain && two);
    ASSERT_EQ(two->palette.size(), 2u);
    EXPECT_EQ(plain->palette, two->palette);
    const Image back = expand(*two);
    const int low = std::min(two->palette[0].blue, two->palette[1].blue);
    const int high = std::max(two->palette[0].blue, two->palette[1].blue);
    for (int x = low + 16; x + 16 < high; x += 16) {
        double sum = 0;
        for (int y = 0; y < 64; ++y)
            for (int dx = 0; dx < 8; ++dx)
                sum += back.row(y)[(x + dx) * 3];
        EXPECT_NEAR(sum / (64 * 8), x + 3.5, 8.0) << "column " << x;
    }
}

} // namespace
