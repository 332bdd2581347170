// Fixed margins and the automatic trim: the documented results, the fallback walk, the minimum
// size and the clamping of the rectangle.
#include "pipeline/crop_trim.h"

#include <gtest/gtest.h>

#include "ops_test_images.h"

namespace quill::pipeline {
namespace {

using test::Bgra;
using test::makeImage;
using test::pixelAt;
using toolkit::Image;
using toolkit::PixelFormat;

constexpr Bgra kWhite{255, 255, 255, 255};

// ----- fixed margins

TEST(CropMargins, MarginsMustLeaveSomething) {
    EXPECT_TRUE(cropMargins(Image(20, 20, PixelFormat::Bgr24), 10, 10, 10, 10).empty());
    const Image src = makeImage(21, 21, PixelFormat::Bgr24, test::uniquePixel);
    const Image one = cropMargins(src, 10, 10, 10, 10);
    ASSERT_EQ(one.width(), 1);
    ASSERT_EQ(one.height(), 1);
    EXPECT_EQ(pixelAt(one, 0, 0), pixelAt(src, 10, 10));
}

TEST(CropMargins, CopiesTheInnerRectangleOfBothFormats) {
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        const Image src = makeImage(30, 20, format, test::uniquePixel);
        const Image dst = cropMargins(src, 3, 2, 5, 7); // left, top, right, bottom
        ASSERT_EQ(dst.width(), 22);
        ASSERT_EQ(dst.height(), 11);
        EXPECT_EQ(dst.format(), format);
        int mismatches = 0;
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 22; ++x) mismatches += pixelAt(dst, x, y) != pixelAt(src, x + 3, y + 2);
        EXPECT_EQ(mismatches, 0);
    }
}

TEST(CropMargins, RefusesNegativeMarginsAndEmptyImages) {
    const Image src(20, 20, PixelFormat::Bgr24);
    EXPECT_TRUE(cropMargins(src, -5, 0, 0, 0).empty());
    EXPECT_TRUE(cropMargins(src, 0, 0, 0, -1).empty());
    EXPECT_TRUE(cropMargins(Image(), 0, 0, 0, 0).empty());
}

// ----- automatic trim

TrimOptions allSides(double colour = 0.10, double outliers = 0.05) {
    TrimOptions o;
    o.colorTolerance = colour;
    o.outlierShare = outliers;
    return o;
}

/// White, with the rectangle [x0, x1) x [y0, y1) filled by `inside`.
Image framed(int w, int h, int x0, int y0, int x1, int y1, PixelFormat format,
             const std::function<Bgra(int, int)>& inside) {
    return makeImage(w, h, format, [&](int x, int y) {
        return x >= x0 && x < x1 && y >= y0 && y < y1 ? inside(x, y) : kWhite;
    });
}

void expectRegion(const Image& result, const Image& src, int x0, int y0, int w, int h) {
    ASSERT_EQ(result.width(), w);
    ASSERT_EQ(result.height(), h);
    int mismatches = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) mismatches += pixelAt(result, x, y) != pixelAt(src, x0 + x, y0 + y);
    EXPECT_EQ(mismatches, 0);
}

TEST(AutoTrim, UniformBorderAroundColouredContentIsRemoved) {
    auto colours = [](int x, int y) {
        return Bgra{std::uint8_t(x * 3 % 200), std::uint8_t(y * 2 % 180), 40, 255};
    };
    const Image src = framed(100, 100, 10, 10, 90, 90, PixelFormat::Bgr24, colours);
    expectRegion(autoTrim(src, allSides()), src, 10, 10, 80, 80);
}

TEST(AutoTrim, ResultIsNeverSmallerThanAThirdOfEachSide) {
    const Image src =
        framed(100, 100, 45, 45, 55, 55, PixelFormat::Bgr24, [](int, int) { return Bgra{20, 20, 20, 255}; });
    expectRegion(autoTrim(src, allSides()), src, 34, 34, 33, 33);
}

TEST(AutoTrim, BackgroundIsTheMostFrequentColourOfEachOutermostLine) {
    // A blue band on the left, red on the right, with content in the middle; a few stray pixels on
    // the outer lines must not change which colour counts as background.
    const Bgra blue{200, 0, 0, 255}, red{0, 0, 200, 255}, grey{90, 90, 90, 255};
    Image src = makeImage(60, 40, PixelFormat::Bgr24, [&](int x, int y) {
        if (x < 12) return blue;
        if (x >= 50) return red;
        return (y % 7 == 0 && x == 20) ? blue : grey;
    });
    src.row(5)[0] = 0; // stray pixel on the left outer line
    TrimOptions o = allSides();
    o.top = o.bottom = false;
    const Image result = autoTrim(src, o);
    expectRegion(result, src, 12, 0, 38, 40);
}

TEST(AutoTrim, PixelsWithinTheToleranceAndTheAllowanceCountAsBackground) {
    // Near-white noise within 10 % of 255 everywhere in the border, plus up to 5 % of a line
    // in clearly different pixels: the trim still finds the 40 x 30 block.
    Image src = makeImage(80, 60, PixelFormat::Bgr24, [](int x, int y) {
        if (x >= 20 && x < 60 && y >= 15 && y < 45) return Bgra{10, 120, 10, 255};
        const std::uint8_t v = std::uint8_t(255 - (x * 13 + y * 7) % 26);
        return Bgra{v, v, v, 255};
    });
    // Three dark specks (allowance for a column of 60 pixels is 3, for a row of 80 it is 4).
    for (int y : {2, 30, 55}) src.row(y)[5 * 3] = 0;
    expectRegion(autoTrim(src, allSides()), src, 20, 15, 40, 30);
    // Without tolerance the noise itself is content and nothing is trimmed away.
    const Image strict = autoTrim(src, allSides(0.0, 0.05));
    EXPECT_EQ(strict.width(), 80);
    EXPECT_EQ(strict.height(), 60);
}

TEST(AutoTrim, SwitchedOffSidesKeepTheirBorder) {
    const Image src =
        framed(100, 100, 10, 10, 90, 90, PixelFormat::Bgr24, [](int, int) { return Bgra{0, 0, 0, 255}; });
    TrimOptions o = allSides();
    o.right = false;
    o.bottom = false;
    expectRegion(autoTrim(src, o), src, 10, 10, 90, 90);
}

TEST(AutoTrim, SparseContentFallsBackToTheRememberedCounts) {
    // One dark pixel in each of the columns 30..39 of a 100 x 100 image: no column exceeds the
    // allowance of 5, so left and right come from the remembered counts. The left walk goes from
    // the right edge; the right side has no edge yet, so the walk runs to the end and keeps the
    // first column whose count beats 0: L = 39. The right walk then starts at column 0, and as the
    // left side now has an edge it stops at once (0 is not greater than 0): R counts as -1.
    Image src = test::solidImage(100, 100, PixelFormat::Bgr24, kWhite);
    for (int x = 30; x < 40; ++x) std::memset(src.row(50) + x * 3, 0, 3);
    TrimOptions o = allSides();
    o.top = o.bottom = false;
    // w = -1 - 39 = -40, below the minimum of 33: x = 39 + (-40 - 33) / 2 = 3, w = 33.
    expectRegion(autoTrim(src, o), src, 3, 0, 33, 100);

    // With a wider spread of counts the walk climbs to the largest one: columns 60..69 hold one
    // dark pixel, 70 holds two, so the left walk from the right ends on column 70.
    for (int x = 60; x < 71; ++x) std::memset(src.row(20) + x * 3, 0, 3);
    std::memset(src.row(80) + 70 * 3, 0, 3);
    // L = 70, R = -1: x = 70 + (-71 - 33) / 2 = 18.
    expectRegion(autoTrim(src, o), src, 18, 0, 33, 100);
}

TEST(AutoTrim, UniformImageShrinksToTheMinimumAtTheTopLeft) {
    const Image src = test::solidImage(30, 60, PixelFormat::Bgr24, kWhite);
    const Image result = autoTrim(src, allSides());
    // No side finds an edge (-1 each): w = h = 0, widened to round(30 x 0.33) = 10 and
    // round(60 x 0.33) = 20 around -1, then moved inside the image.
    expectRegion(result, src, 0, 0, 10, 20);
}

TEST(AutoTrim, RectangleWiderThanTheImageIsKeptInside) {
    // Grey image whose last column alternates between two greys that are both within the
    // tolerance of the left background but not of each other: the right side finds its edge at
    // the image border (R = 30) while the left side finds none (L = -1), a span of 31 columns.
    const Bgra grey{128, 128, 128, 255}, darker{110, 110, 110, 255}, lighter{145, 145, 145, 255};
    const Image src = makeImage(30, 30, PixelFormat::Bgr24, [&](int x, int y) {
        if (x < 29) return grey;
        return y < 16 ? darker : lighter;
    });
    const Image result = autoTrim(src, allSides());
    expectRegion(result, src, 0, 0, 30, 10);
}

TEST(AutoTrim, AlphaTakesPartInThe32BitComparison) {
    // Transparent border around opaque content of the same colour channels.
    const Image src = makeImage(50, 50, PixelFormat::Bgra32, [](int x, int y) {
        const bool inside = x >= 5 && x < 45 && y >= 8 && y < 42;
        return Bgra{255, 255, 255, std::uint8_t(inside ? 255 : 0)};
    });
    const Image result = autoTrim(src, allSides());
    ASSERT_EQ(result.format(), PixelFormat::Bgra32);
    expectRegion(result, src, 5, 8, 40, 34);
}

TEST(AutoTrim, RefusesSmallImagesAndNoSides) {
    const Image src = test::solidImage(100, 100, PixelFormat::Bgr24, kWhite);
    TrimOptions none = allSides();
    none.left = none.right = none.top = none.bottom = false;
    EXPECT_TRUE(autoTrim(src, none).empty());
    EXPECT_TRUE(autoTrim(test::solidImage(5, 100, PixelFormat::Bgr24, kWhite), allSides()).empty());
    EXPECT_TRUE(autoTrim(test::solidImage(100, 5, PixelFormat::Bgr24, kWhite), allSides()).empty());
    EXPECT_FALSE(autoTrim(test::solidImage(6, 6, PixelFormat::Bgr24, kWhite), allSides()).empty());
    EXPECT_TRUE(autoTrim(Image(), allSides()).empty());
}

TEST(AutoTrim, WithoutAMinimumARectangleWithoutAreaFails) {
    const Image src = test::solidImage(40, 40, PixelFormat::Bgr24, kWhite);
    TrimOptions o = allSides();
    o.minimumShare = 0.0;
    EXPECT_TRUE(autoTrim(src, o).empty());
}

} // namespace
} // namespace quill::pipeline
