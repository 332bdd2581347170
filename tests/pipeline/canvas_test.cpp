// Canvas enlargement: size and offset, the three margin modes, the depth of the result, and the
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

CanvasRequest requestFor(int w, int h, CanvasMode mode) {
    return {
        .width = w, .height = h, .mode = mode, .colour = toolkit::Rgba::fromChannels(10, 20, 30)};
}

/// Expected canvas pixel: the image at (x0, y0), `margin` elsewhere.
std::function<Bgra(int, int)> placed(const Image& image, int x0, int y0, Bgra margin) {
    return [&image, x0, y0, margin](int x, int y) {
        const bool inside = x >= x0 && x < x0 + image.width() && y >= y0 && y < y0 + image.height();
        return inside ? pixelAt(image, x - x0, y - y0) : margin;
    };
}

TEST(ExtendCanvas, ColourAndTransparentMargins) {
    Image image = test::makeImage(1200, 500, PixelFormat::Bgr24, test::uniquePixel);
    const Image original = image.clone();
    ASSERT_TRUE(extendCanvas(image, requestFor(1024, 768, CanvasMode::Colour)));
    EXPECT_EQ(std::pair(image.width(), image.height()), std::pair(1200, 768)); // never cuts
    EXPECT_EQ(image.format(), PixelFormat::Bgr24);
    EXPECT_EQ(test::countMismatches(image, 1200, 768, placed(original, 0, 134, {30, 20, 10, 255})),
              0);
    // On a 32-bit image the margins are opaque and the image keeps its alpha.
    Image rgba = test::makeImage(4, 4, PixelFormat::Bgra32, test::uniquePixel);
    const Image rgbaOriginal = rgba.clone();
    CanvasRequest top = requestFor(8, 6, CanvasMode::Colour);
    top.position = CanvasPosition::TopLeft;
    ASSERT_TRUE(extendCanvas(rgba, top));
    EXPECT_EQ(test::countMismatches(rgba, 8, 6, placed(rgbaOriginal, 0, 0, {30, 20, 10, 255})), 0);
    // Transparent margins make a 32-bit canvas.
    Image rgb = test::makeImage(3, 3, PixelFormat::Bgr24, test::uniquePixel);
    const Image rgbOriginal = rgb.toBgra32();
    ASSERT_TRUE(extendCanvas(rgb, requestFor(7, 6, CanvasMode::Transparent)));
    EXPECT_EQ(rgb.format(), PixelFormat::Bgra32);
    EXPECT_EQ(test::countMismatches(rgb, 7, 6, placed(rgbOriginal, 2, 1, Bgra{})), 0);
}

TEST(ExtendCanvas, EdgeExtensionRepeatsTheNearestImagePixel) {
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        Image image = test::makeImage(3, 2, format, test::uniquePixel);
        const Image original = image.clone();
        ASSERT_TRUE(extendCanvas(image, requestFor(8, 7, CanvasMode::EdgeExtension)));
        EXPECT_EQ(image.format(), format);
        EXPECT_EQ(test::countMismatches(image, 8, 7,
                                        [&](int x, int y) {
                                            return pixelAt(original, std::clamp(x - 2, 0, 2),
                                                           std::clamp(y - 2, 0, 1));
                                        }),
                  0);
    }
}

TEST(ExtendCanvas, NothingToDoMeasuringAndFailuresLeaveTheImage) {
    Image image = test::makeImage(50, 40, PixelFormat::Bgr24, test::uniquePixel);
    const std::uint8_t* pixels = image.data();
    ASSERT_TRUE(extendCanvas(image, requestFor(30, 40, CanvasMode::Transparent)));
    CanvasRequest exact = requestFor(60, 30, CanvasMode::Colour);
    exact.sizing = CanvasSizing::Exact;
    const auto measured = measureCanvas(exact, 50, 40);
    ASSERT_TRUE(measured);
    EXPECT_EQ(std::pair(measured->width, measured->height), std::pair(60, 30));
    EXPECT_FALSE(extendCanvas(image, requestFor(80, 80, CanvasMode(3))));
    EXPECT_FALSE(extendCanvas(image, requestFor(1 << 30, 1 << 30, CanvasMode::Colour)));
    EXPECT_EQ(image.data(), pixels);
    EXPECT_EQ(image.format(), PixelFormat::Bgr24);
    EXPECT_EQ(image.width(), 50);
}

} // namespace
} // namespace quill::pipeline
