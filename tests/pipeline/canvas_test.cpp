// Canvas enlargement: size and offset, the three margin modes, the depth of the result, and the
// cases that leave the image alone.
#include "pipeline/canvas.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "ops_test_images.h"

namespace quill::pipeline {
namespace {

using test::Bgra;
using toolkit::Image;
using toolkit::PixelFormat;

CanvasRequest requestFor(int w, int h, CanvasMode mode) {
    return {
        .width = w, .height = h, .mode = mode, .colour = toolkit::Rgba::fromChannels(10, 20, 30)};
}

TEST(ExtendCanvas, EveryMarginModeAroundTheImageAndFailuresLeaveIt) {
    const struct {
        PixelFormat format;
        int width, height; // asked for; the image is 5 x 4
        CanvasMode mode;
        int x0, y0, resultWidth; // where the image lands; the canvas never cuts
        PixelFormat resultFormat;
    } cases[] = {
        {PixelFormat::Bgr24, 3, 9, CanvasMode::Colour, 0, 2, 5, PixelFormat::Bgr24},
        {PixelFormat::Bgra32, 8, 6, CanvasMode::Colour, 1, 1, 8, PixelFormat::Bgra32},
        {PixelFormat::Bgr24, 8, 7, CanvasMode::Transparent, 1, 1, 8, PixelFormat::Bgra32},
        {PixelFormat::Bgra32, 10, 9, CanvasMode::EdgeExtension, 2, 2, 10, PixelFormat::Bgra32},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.mode) << " " << c.width << "x" << c.height);
        Image image = test::makeImage(5, 4, c.format, test::uniquePixel);
        const Image original = image.clone();
        ASSERT_TRUE(extendCanvas(image, requestFor(c.width, c.height, c.mode)));
        EXPECT_EQ(image.format(), c.resultFormat);
        // Colour margins are opaque, transparent ones clear; the image keeps its own alpha.
        const Bgra margin = c.mode == CanvasMode::Colour ? Bgra{30, 20, 10, 255} : Bgra{};
        EXPECT_EQ(test::countMismatches(image, c.resultWidth, c.height,
                                        [&](int x, int y) {
                                            const int ix = x - c.x0, iy = y - c.y0;
                                            const bool in = ix >= 0 && ix < 5 && iy >= 0 && iy < 4;
                                            if (c.mode == CanvasMode::EdgeExtension || in)
                                                return test::pixelAt(original, std::clamp(ix, 0, 4),
                                                                     std::clamp(iy, 0, 3));
                                            return margin;
                                        }),
                  0);
    }
    // Nothing to do, or an unknown mode or a size beyond the limit: the image stays.
    Image image = test::makeImage(50, 40, PixelFormat::Bgr24, test::uniquePixel);
    const std::uint8_t* pixels = image.data();
    ASSERT_TRUE(extendCanvas(image, requestFor(30, 40, CanvasMode::Transparent)));
    EXPECT_FALSE(extendCanvas(image, requestFor(80, 80, CanvasMode(3))));
    EXPECT_FALSE(extendCanvas(image, requestFor(1 << 30, 1 << 30, CanvasMode::Colour)));
    EXPECT_EQ(image.data(), pixels);
    EXPECT_EQ(image.format(), PixelFormat::Bgr24);
}

} // namespace
} // namespace quill::pipeline
