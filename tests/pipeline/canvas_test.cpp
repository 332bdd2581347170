// Canvas enlargement: sizes and offsets, the three margin modes, the depth of the result and the
// cases that leave the image alone.
#include "pipeline/canvas.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "ops_test_images.h"

namespace quill::pipeline {
namespace {

using test::Bgra;
using test::pixelAt;
using toolkit::Image;
using toolkit::PixelFormat;
using toolkit::Rgba;

CanvasRequest requestFor(Image& image, int w, int h, CanvasMode mode,
                         Rgba colour = Rgba::fromChannels(10, 20, 30)) {
    CanvasRequest r;
    r.image = &image;
    r.width = w;
    r.height = h;
    r.mode = std::uint8_t(mode);
    r.colour = colour;
    return r;
}

TEST(ExtendCanvas, GrowsOnlyTheSidesThatAreTooSmallAndCentresTheImage) {
    Image image = test::makeImage(1200, 500, PixelFormat::Bgr24, test::uniquePixel);
    const Image original = image.clone();
    CanvasRequest r = requestFor(image, 1024, 768, CanvasMode::Colour);
    ASSERT_TRUE(extendCanvas(r));
    EXPECT_EQ(r.newWidth, 1200);
    EXPECT_EQ(r.newHeight, 768);
    ASSERT_EQ(image.width(), 1200);
    ASSERT_EQ(image.height(), 768);
    EXPECT_EQ(image.format(), PixelFormat::Bgr24);
    const Bgra colour{30, 20, 10, 255}; // red 10, green 20, blue 30
    EXPECT_EQ(pixelAt(image, 0, 133), colour);
    EXPECT_EQ(pixelAt(image, 0, 134), pixelAt(original, 0, 0)); // y0 = (768 - 500) / 2
    EXPECT_EQ(pixelAt(image, 1199, 633), pixelAt(original, 1199, 499));
    EXPECT_EQ(pixelAt(image, 600, 634), colour);
    EXPECT_EQ(pixelAt(image, 1199, 767), colour);
}

TEST(ExtendCanvas, ColourMarginsOnA32BitImageAreOpaque) {
    Image image = test::solidImage(4, 4, PixelFormat::Bgra32, {1, 2, 3, 40});
    CanvasRequest r = requestFor(image, 8, 6, CanvasMode::Colour, Rgba::fromChannels(200, 100, 50));
    ASSERT_TRUE(extendCanvas(r));
    ASSERT_EQ(image.format(), PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(image, 0, 0), (Bgra{50, 100, 200, 255}));
    EXPECT_EQ(pixelAt(image, 7, 3), (Bgra{50, 100, 200, 255}));
    EXPECT_EQ(pixelAt(image, 2, 1), (Bgra{1, 2, 3, 40})); // the image keeps its own alpha
    EXPECT_EQ(pixelAt(image, 5, 4), (Bgra{1, 2, 3, 40}));
}

TEST(ExtendCanvas, TransparentModeMakesA32BitCanvas) {
    Image image = test::solidImage(3, 3, PixelFormat::Bgr24, {9, 8, 7, 255});
    CanvasRequest r = requestFor(image, 7, 5, CanvasMode::Transparent);
    ASSERT_TRUE(extendCanvas(r));
    ASSERT_EQ(image.format(), PixelFormat::Bgra32);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            const bool inside = x >= 2 && x < 5 && y >= 1 && y < 4;
            EXPECT_EQ(pixelAt(image, x, y), (inside ? Bgra{9, 8, 7, 255} : Bgra{0, 0, 0, 0}))
                << x << "," << y;
        }
}

TEST(ExtendCanvas, EdgeExtensionRepeatsTheNearestImagePixel) {
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        Image image = test::makeImage(3, 2, format, test::uniquePixel);
        const Image original = image.clone();
        CanvasRequest r = requestFor(image, 8, 7, CanvasMode::EdgeExtension);
        ASSERT_TRUE(extendCanvas(r));
        ASSERT_EQ(image.format(), format);
        const int x0 = (8 - 3) / 2, y0 = (7 - 2) / 2; // 2, 2
        int mismatches = 0;
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 8; ++x) {
                const int sx = std::clamp(x - x0, 0, 2);
                const int sy = std::clamp(y - y0, 0, 1);
                mismatches += pixelAt(image, x, y) != pixelAt(original, sx, sy);
            }
        EXPECT_EQ(mismatches, 0);
        // Spot checks: a corner, a column above, a row to the right.
        EXPECT_EQ(pixelAt(image, 0, 0), pixelAt(original, 0, 0));
        EXPECT_EQ(pixelAt(image, 3, 0), pixelAt(original, 1, 0));
        EXPECT_EQ(pixelAt(image, 7, 3), pixelAt(original, 2, 1));
    }
}

TEST(ExtendCanvas, TopLeftPositionPutsTheImageAtTheOrigin) {
    Image image = test::solidImage(2, 2, PixelFormat::Bgr24, {5, 5, 5, 255});
    CanvasRequest r = requestFor(image, 5, 4, CanvasMode::Colour, Rgba::fromChannels(0, 0, 0));
    r.position = kCanvasTopLeft;
    ASSERT_TRUE(extendCanvas(r));
    EXPECT_EQ(pixelAt(image, 0, 0), (Bgra{5, 5, 5, 255}));
    EXPECT_EQ(pixelAt(image, 1, 1), (Bgra{5, 5, 5, 255}));
    EXPECT_EQ(pixelAt(image, 2, 0), (Bgra{0, 0, 0, 255}));
}

TEST(ExtendCanvas, NothingToGrowLeavesTheImageAlone) {
    Image image = test::solidImage(50, 40, PixelFormat::Bgr24, {1, 1, 1, 255});
    const std::uint8_t* pixels = image.data();
    CanvasRequest r = requestFor(image, 30, 40, CanvasMode::Transparent);
    ASSERT_TRUE(extendCanvas(r));
    EXPECT_EQ(image.data(), pixels);
    EXPECT_EQ(image.format(), PixelFormat::Bgr24);
    EXPECT_EQ(r.newWidth, 50);
    EXPECT_EQ(r.newHeight, 40);
}

TEST(ExtendCanvas, MeasuringComputesTheSizeWithoutAnImage) {
    CanvasRequest r;
    r.measureOnly = 1;
    r.knownWidth = 1200;
    r.knownHeight = 500;
    r.width = 1024;
    r.height = 768;
    ASSERT_TRUE(extendCanvas(r));
    EXPECT_EQ(r.newWidth, 1200);
    EXPECT_EQ(r.newHeight, 768);
}

TEST(ExtendCanvas, ExactSizeModeMayCutTheImage) {
    Image image = test::makeImage(10, 10, PixelFormat::Bgr24, test::uniquePixel);
    const Image original = image.clone();
    CanvasRequest r = requestFor(image, 4, 12, CanvasMode::EdgeExtension);
    r.sizeMode = 1;
    ASSERT_TRUE(extendCanvas(r));
    ASSERT_EQ(image.width(), 4);
    ASSERT_EQ(image.height(), 12);
    EXPECT_EQ(pixelAt(image, 0, 1), pixelAt(original, 3, 0)); // x0 = -3, y0 = 1
    EXPECT_EQ(pixelAt(image, 3, 11), pixelAt(original, 6, 9));
    EXPECT_EQ(pixelAt(image, 2, 0), pixelAt(original, 5, 0));
}

TEST(ExtendCanvas, FailuresLeaveTheImageUnchanged) {
    Image image = test::solidImage(4, 4, PixelFormat::Bgr24, {1, 1, 1, 255});
    CanvasRequest unknown = requestFor(image, 8, 8, CanvasMode(3));
    EXPECT_FALSE(extendCanvas(unknown));
    CanvasRequest huge = requestFor(image, 1 << 30, 1 << 30, CanvasMode::Colour);
    EXPECT_FALSE(extendCanvas(huge));
    EXPECT_EQ(image.width(), 4);
    CanvasRequest none;
    none.width = 10;
    none.height = 10;
    EXPECT_FALSE(extendCanvas(none));
}

} // namespace
} // namespace quill::pipeline
