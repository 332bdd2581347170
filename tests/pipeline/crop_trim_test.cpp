// Fixed margins and the automatic trim: the documented results, the fallback walk over the
// remembered counts, the minimum size and the clamping of the rectangle.
#include "pipeline/crop_trim.h"

#include <gtest/gtest.h>

#include "ops_test_images.h"

namespace quill::pipeline {
namespace {

using test::Bgra;
using test::pixelAt;
using toolkit::Image;
using toolkit::PixelFormat;

constexpr Bgra kWhite{255, 255, 255, 255};

/// Number of pixels of `result` that differ from the w x h region of `src` at (x0, y0).
int regionMismatches(const Image& result, const Image& src, int x0, int y0, int w, int h) {
    return test::countMismatches(result, w, h,
                                 [&](int x, int y) { return pixelAt(src, x0 + x, y0 + y); });
}

TEST(CropMargins, CutsTheMarginsWhenSomethingRemains) {
    EXPECT_TRUE(cropMargins(Image(20, 20, PixelFormat::Bgr24), 10, 10, 10, 10).empty());
    const Image square = test::makeImage(21, 21, PixelFormat::Bgr24, test::uniquePixel);
    EXPECT_EQ(regionMismatches(cropMargins(square, 10, 10, 10, 10), square, 10, 10, 1, 1), 0);
    const Image src = test::makeImage(30, 20, PixelFormat::Bgra32, test::uniquePixel);
    EXPECT_EQ(regionMismatches(cropMargins(src, 3, 2, 5, 7), src, 3, 2, 22, 11), 0);
    EXPECT_TRUE(cropMargins(src, -5, 0, 0, 0).empty()); // would read outside the image
}

TrimOptions trim(double colour = 0.10) {
    TrimOptions o;
    o.colorTolerance = colour;
    o.outlierShare = 0.05;
    return o;
}

TEST(AutoTrim, RemovesABorderWithinToleranceAndOutlierAllowance) {
    // Near-white noise (within 10 % of the background) and three dark specks per column of 60
    // (the allowance is 3) still count as border around the 40 x 30 block.
    Image src = test::makeImage(80, 60, PixelFormat::Bgr24, [](int x, int y) {
        if (x >= 20 && x < 60 && y >= 15 && y < 45) return Bgra{10, 120, 10, 255};
        const std::uint8_t v = std::uint8_t(255 - (x * 13 + y * 7) % 26);
        return Bgra{v, v, v, 255};
    });
    for (int y : {2, 30, 55})
        src.row(y)[5 * 3] = 0;
    EXPECT_EQ(regionMismatches(autoTrim(src, trim()), src, 20, 15, 40, 30), 0);
    EXPECT_EQ(autoTrim(src, trim(0.0)).width(), 80); // without tolerance the noise is content
    // A transparent border around opaque pixels of the same colour channels is a border too.
    const Image clear = test::makeImage(50, 50, PixelFormat::Bgra32, [](int x, int y) {
        return Bgra{255, 255, 255, std::uint8_t(x >= 5 && x < 45 && y >= 8 && y < 42 ? 255 : 0)};
    });
    EXPECT_EQ(regionMismatches(autoTrim(clear, trim()), clear, 5, 8, 40, 34), 0);
}

TEST(AutoTrim, NeverSmallerThanAThirdOfEachSideNorOfSixPixels) {
    const Image dot = test::makeImage(100, 100, PixelFormat::Bgr24, [](int x, int y) {
        return x >= 45 && x < 55 && y >= 45 && y < 55 ? Bgra{20, 20, 20, 255} : kWhite;
    });
    EXPECT_EQ(regionMismatches(autoTrim(dot, trim()), dot, 34, 34, 33, 33), 0);
    // A uniform image: no side finds an edge (each counts as -1), so the empty rectangle at -1 is
    // widened to 10 x 20 and moved inside the image.
    const Image uniform =
        test::makeImage(30, 60, PixelFormat::Bgr24, [](int, int) { return kWhite; });
    EXPECT_EQ(regionMismatches(autoTrim(uniform, trim()), uniform, 0, 0, 10, 20), 0);
    TrimOptions noMinimum = trim();
    noMinimum.minimumShare = 0.0;
    EXPECT_TRUE(autoTrim(uniform, noMinimum).empty());
    // Images under six pixels on a side, or no side to trim, give nothing.
    const Image six(6, 6, PixelFormat::Bgr24);
    EXPECT_FALSE(autoTrim(six, trim()).empty());
    EXPECT_TRUE(autoTrim(Image(5, 100, PixelFormat::Bgr24), trim()).empty());
    EXPECT_TRUE(autoTrim(Image(100, 5, PixelFormat::Bgr24), trim()).empty());
    noMinimum.left = noMinimum.right = noMinimum.top = noMinimum.bottom = false;
    EXPECT_TRUE(autoTrim(six, noMinimum).empty());
}

TEST(AutoTrim, ARectangleWiderThanTheImageStaysInside) {
    // The last column alternates between two greys, both within the tolerance of the left
    // background but not of each other: R = 30 (the border itself) while L = -1, 31 columns.
    const Image src = test::makeImage(30, 30, PixelFormat::Bgr24, [](int x, int y) {
        if (x < 29) return Bgra{128, 128, 128, 255};
        return y < 16 ? Bgra{110, 110, 110, 255} : Bgra{145, 145, 145, 255};
    });
    EXPECT_EQ(regionMismatches(autoTrim(src, trim()), src, 0, 0, 30, 10), 0);
}

} // namespace
} // namespace quill::pipeline
