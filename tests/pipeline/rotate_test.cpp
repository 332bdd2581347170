// Rotation and mirroring: every mode against its pixel mapping (alpha included), and the
// compositions that give back the original.
#include "pipeline/rotate.h"

#include <gtest/gtest.h>

#include "ops_test_images.h"

namespace quill::pipeline {
namespace {

using test::pixelAt;
using toolkit::Image;
using toolkit::PixelFormat;
using M = RotateMode;

TEST(RotateImage, EveryModeFollowsItsPixelMappingAndOthersAreRefused) {
    // Odd sizes larger than the copy tiles: partial tiles on both axes.
    const int w = 71, h = 38;
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        const Image src = test::makeImage(w, h, format, test::uniquePixel);
        for (int m = 0; m <= 6; ++m) {
            const Image dst = rotateImage(src, M(m));
            const bool swaps = m == 0 || m == 1 || m == 5 || m == 6;
            EXPECT_EQ(dst.format(), format);
            const int wrong =
                test::countMismatches(dst, swaps ? h : w, swaps ? w : h, [&](int x, int y) {
                    const std::pair<int, int> from[7] = {
                        {w - 1 - y, x}, {y, h - 1 - x}, {w - 1 - x, h - 1 - y}, {w - 1 - x, y},
                        {x, h - 1 - y}, {y, x},         {w - 1 - y, h - 1 - x}};
                    return pixelAt(src, from[m].first, from[m].second);
                });
            EXPECT_EQ(wrong, 0) << "mode " << m;
        }
    }
    // Empty images and unknown modes give nothing.
    EXPECT_TRUE(rotateImage(Image(), M::Rotate180).empty());
    EXPECT_TRUE(rotateImage(Image(4, 4, PixelFormat::Bgr24), M(7)).empty());
    EXPECT_TRUE(rotateImage(Image(4, 4, PixelFormat::Bgr24), M(-1)).empty());
}

} // namespace
} // namespace quill::pipeline
