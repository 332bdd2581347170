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

CanvasRequest requestFor(Image& image, int w, int h, CanvasMode mode) {
    CanvasRequest r;
    r.image = &image;
    r.width = w;
    r.height = h;
    r.mode = std::uint8_t(mode);
    r.colour = toolkit::Rgba::fromChannels(10, 20, 30);
    return r;
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
    CanvasRequest r = requestFor(image, 1024, 768, CanvasMode::Colour);
    ASSERT_TRUE(extendCanvas(r));
    EXPECT_EQ(std::pair(r.newWidth, r.newHeight), std::pair(1200, 768)); // never cuts the image
    EXPECT_EQ(image.format(), PixelFormat::Bgr24);
    EXPECT_EQ(test::countMismatches(image, 1200, 768, placed(original, 0, 134, {30, 20, 10, 255})),
              0);
    // On a 32-bit image the margins are opaque and the image keeps its alpha.
    Image rgba = test::makeImage(4, 4, PixelFormat::Bgra32, test::uniquePixel);
    const Image rgbaOriginal = rgba.clone();
    CanvasRequest top = requestFor(rgba, 8, 6, CanvasMode::Colour);
    top.position = kCanvasTopLeft;
    ASSERT_TRUE(extendCanvas(top));
    EXPECT_EQ(test::countMismatches(rgba, 8, 6, placed(rgbaOriginal, 0, 0, {30, 20, 10, 255})), 0);
    // Transparent margins make a 32-bit canvas.
    Image rgb = test::makeImage(3, 3, PixelFormat::Bgr24, test::uniquePixel);
    const Image rgbOriginal = rgb.toBgra32();
    CanvasRequest clear = requestFor(rgb, 7, 6, CanvasMode::Transparent);
    ASSERT_TRUE(extendCanvas(clear));
    EXPECT_EQ(rgb.format(), PixelFormat::Bgra32);
    EXPECT_EQ(test::countMismatches(rgb, 7, 6, placed(rgbOriginal, 2, 1, Bgra{})), 0);
}

TEST(ExtendCanvas, EdgeExtensionRepeatsTheNearestImagePixel) {
    for (PixelFormat format : {PixelFormat::Bgr24, PixelFormat::Bgra32}) {
        Image image = test::makeImage(3, 2, format, test::uniquePixel);
        const Image original = image.clone();
        CanvasRequest r = requestFor(image, 8, 7, CanvasMode::EdgeExtension);
        ASSERT_TRUE(extendCanvas(r));
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
    CanvasRequest same = requestFor(image, 30, 40, CanvasMode::Transparent);
    ASSERT_TRUE(extendCanvas(same));
    CanvasRequest measure = requestFor(image, 60, 40, CanvasMode::Colour);
    measure.measureOnly = 1;
    ASSERT_TRUE(extendCanvas(measure));
    EXPECT_EQ(measure.newWidth, 60);
    CanvasRequest unknown = requestFor(image, 80, 80, CanvasMode(3));
    EXPECT_FALSE(extendCanvas(unknown));
    CanvasRequest huge = requestFor(image, 1 << 30, 1 << 30, CanvasMode::Colour);
    EXPECT_FALSE(extendCanvas(huge));
    EXPECT_EQ(image.data(), pixels);
    EXPECT_EQ(image.format(), PixelFormat::Bgr24);
    EXPECT_EQ(image.width(), 50);
}

} // namespace
} // namespace quill::pipeline
