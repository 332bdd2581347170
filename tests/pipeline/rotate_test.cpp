// Rotation and mirroring: every mode against its pixel mapping, sizes, compositions that give
// the identity, and alpha.
#include "pipeline/rotate.h"

#include <gtest/gtest.h>

#include "ops_test_images.h"

namespace quill::pipeline {
namespace {

using test::Bgra;
using test::makeImage;
using test::pixelAt;
using toolkit::Image;
using toolkit::PixelFormat;

/// The source coordinate that destination (x, y) reads, straight from the mode table.
void sourceOf(RotateMode mode, int w, int h, int x, int y, int& sx, int& sy) {
    switch (mode) {
    case RotateMode::CounterClockwise90: sx = w - 1 - y; sy = x; break;
    case RotateMode::Clockwise90: sx = y; sy = h - 1 - x; break;
    case RotateMode::Rotate180: sx = w - 1 - x; sy = h - 1 - y; break;
    case RotateMode::MirrorLeftRight: sx = w - 1 - x; sy = y; break;
    case RotateMode::MirrorTopBottom: sx = x; sy = h - 1 - y; break;
    case RotateMode::Transpose: sx = y; sy = x; break;
    case RotateMode::Transverse: sx = w - 1 - y; sy = h - 1 - x; break;
    }
}

constexpr RotateMode kAllModes[] = {
    RotateMode::CounterClockwise90, RotateMode::Clockwise90,     RotateMode::Rotate180,
    RotateMode::MirrorLeftRight,    RotateMode::MirrorTopBottom, RotateMode::Transpose,
    RotateMode::Transverse};

class RotateFormats : public ::testing::TestWithParam<PixelFormat> {};

// Odd sizes larger than the copy tiles, so partial tiles and both axes are exercised; every
// pixel (alpha included) must come from where the table says.
TEST_P(RotateFormats, EveryModeFollowsItsPixelMapping) {
    const int w = 71, h = 38;
    const Image src = makeImage(w, h, GetParam(), test::uniquePixel);
    for (RotateMode mode : kAllModes) {
        SCOPED_TRACE(int(mode));
        const Image dst = rotateImage(src, mode);
        ASSERT_FALSE(dst.empty());
        EXPECT_EQ(dst.format(), src.format());
        const bool swaps = dst.width() == h;
        EXPECT_EQ(dst.width(), swaps ? h : w);
        EXPECT_EQ(dst.height(), swaps ? w : h);
        int mismatches = 0;
        for (int y = 0; y < dst.height(); ++y)
            for (int x = 0; x < dst.width(); ++x) {
                int sx = 0, sy = 0;
                sourceOf(mode, w, h, x, y, sx, sy);
                mismatches += pixelAt(dst, x, y) != pixelAt(src, sx, sy);
            }
        EXPECT_EQ(mismatches, 0);
    }
}

TEST_P(RotateFormats, CompositionsGiveBackTheStartingPixels) {
    const Image src = makeImage(640, 480, GetParam(), test::uniquePixel);
    auto apply = [](const Image& image, std::initializer_list<RotateMode> modes) {
        Image current = image.clone();
        for (RotateMode m : modes) current = rotateImage(current, m);
        return current;
    };
    using M = RotateMode;
    EXPECT_TRUE(test::samePixels(apply(src, {M::CounterClockwise90, M::Clockwise90}), src));
    EXPECT_TRUE(test::samePixels(apply(src, {M::Clockwise90, M::CounterClockwise90}), src));
    EXPECT_TRUE(test::samePixels(apply(src, {M::Rotate180, M::Rotate180}), src));
    EXPECT_TRUE(test::samePixels(apply(src, {M::MirrorLeftRight, M::MirrorLeftRight}), src));
    EXPECT_TRUE(test::samePixels(apply(src, {M::MirrorTopBottom, M::MirrorTopBottom}), src));
    EXPECT_TRUE(test::samePixels(apply(src, {M::Transpose, M::Transpose}), src));
    EXPECT_TRUE(test::samePixels(apply(src, {M::Transverse, M::Transverse}), src));
    EXPECT_TRUE(test::samePixels(
        apply(src, {M::Clockwise90, M::Clockwise90, M::Clockwise90, M::Clockwise90}), src));
    // Mirroring both ways is the half turn; a transpose after a left-right mirror is a quarter.
    EXPECT_TRUE(test::samePixels(apply(src, {M::MirrorLeftRight, M::MirrorTopBottom}),
                                 rotateImage(src, M::Rotate180)));
    EXPECT_TRUE(test::samePixels(apply(src, {M::MirrorLeftRight, M::Transpose}),
                                 rotateImage(src, M::CounterClockwise90)));
}

INSTANTIATE_TEST_SUITE_P(Formats, RotateFormats,
                         ::testing::Values(PixelFormat::Bgr24, PixelFormat::Bgra32));

TEST(RotateImage, QuarterTurnsAndDiagonalMirrorsSwapTheSides) {
    const Image src(640, 480, PixelFormat::Bgr24);
    for (RotateMode mode : {RotateMode::Transpose, RotateMode::Transverse}) {
        const Image dst = rotateImage(src, mode);
        EXPECT_EQ(dst.width(), 480);
        EXPECT_EQ(dst.height(), 640);
    }
}

TEST(RotateImage, TopLeftPixelLandsInTheRightCorner) {
    Image src = test::solidImage(640, 480, PixelFormat::Bgr24, {0, 0, 0, 255});
    src.row(0)[0] = 200;
    const Image ccw = rotateImage(src, RotateMode::CounterClockwise90);
    EXPECT_EQ(pixelAt(ccw, 0, ccw.height() - 1)[0], 200); // bottom-left
    const Image cw = rotateImage(src, RotateMode::Clockwise90);
    EXPECT_EQ(pixelAt(cw, cw.width() - 1, 0)[0], 200); // top-right
    const Image half = rotateImage(src, RotateMode::Rotate180);
    EXPECT_EQ(pixelAt(half, half.width() - 1, half.height() - 1)[0], 200); // bottom-right
}

TEST(RotateImage, RefusesAnEmptyImageAndUnknownModes) {
    EXPECT_TRUE(rotateImage(Image(), RotateMode::Rotate180).empty());
    const Image src(4, 4, PixelFormat::Bgr24);
    EXPECT_TRUE(rotateImage(src, RotateMode(7)).empty());
    EXPECT_TRUE(rotateImage(src, RotateMode(-1)).empty());
}

TEST(RotateImage, SinglePixelRowsAndColumns) {
    const Image row = makeImage(9, 1, PixelFormat::Bgr24, test::uniquePixel);
    const Image col = rotateImage(row, RotateMode::Clockwise90);
    ASSERT_EQ(col.width(), 1);
    ASSERT_EQ(col.height(), 9);
    for (int y = 0; y < 9; ++y) EXPECT_EQ(pixelAt(col, 0, y), pixelAt(row, y, 0));
}

} // namespace
} // namespace quill::pipeline
