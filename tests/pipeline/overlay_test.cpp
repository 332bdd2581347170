// Tests of the overlay step: text blocks and their outline, anchoring, opacity, image overlays
// with frames, and the once-per-run preparation.
#include "pipeline/overlay.h"

#include "ops_test_images.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

namespace quill::pipeline {
namespace {

using toolkit::Font;
using toolkit::FontQuality;
using toolkit::Image;
using toolkit::PixelFormat;
using toolkit::Rgba;

Font openFont(int height, FontQuality quality, std::uint32_t styleBits = 0) {
    std::optional<Font> font =
        Font::open(toolkit::FontRequest::fromStyleBits("Arial", height, styleBits, quality));
    if (!font) {
        ADD_FAILURE() << "Arial is not available";
        std::abort();
    }
    return std::move(*font);
}

Image filled(int width, int height, PixelFormat format, Rgba c) {
    return test::makeImage(width, height, format, [c](int, int) {
        return test::Bgra{c.blue(), c.green(), c.red(), c.alpha()};
    });
}

Rgba pixelAt(const Image& image, int x, int y) {
    const std::uint8_t* p = image.row(y) + x * image.bytesPerPixel();
    return Rgba::fromChannels(p[2], p[1], p[0], image.hasAlpha() ? p[3] : 0);
}

std::set<std::uint32_t> colours(const Image& image) {
    std::set<std::uint32_t> values;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            values.insert(pixelAt(image, x, y).value);
    }
    return values;
}

/// Box of the pixels with alpha (32-bit) or not `background` (24-bit); right/bottom exclusive.
toolkit::InkBox scanInk(const Image& image, Rgba background = Rgba{0}) {
    toolkit::InkBox box;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const Rgba p = pixelAt(image, x, y);
            if (image.hasAlpha() ? p.alpha() == 0 : p == background) continue;
            box = box.united(toolkit::InkBox{x, y, x + 1, y + 1});
        }
    }
    return box;
}

TextStyle styleFor(const Font& font, std::string text, Rgba colour = Rgba{0xFF000000}) {
    TextStyle style;
    style.text = std::move(text);
    style.colour = colour;
    style.font = &font;
    return style;
}

TEST(RenderText, OutlineMarksExactlyTheSquareAroundTextPixels) {
    // Italic letters reach past their advance: their outline must not be cut either.
    const Font font = openFont(30, FontQuality::NonAntialiased, toolkit::kFontStyleItalic);
    const Rgba text = Rgba::fromChannels(200, 30, 40, 255), outline{0xFF00FF00};
    TextStyle style = styleFor(font, "jWf\n g.", text);
    const Image plain = renderText(style);
    style.outline = 1;
    style.outlineColour = outline;
    style.outlineWidth = 3;
    const Image block = renderText(style);
    ASSERT_EQ(std::pair(block.width(), block.height()),
              std::pair(plain.width() + 6, plain.height() + 6));
    auto isText = [&](int x, int y) {
        return x >= 3 && y >= 3 && x < plain.width() + 3 && y < plain.height() + 3 &&
               pixelAt(plain, x - 3, y - 3) == text;
    };
    for (int y = 0; y < block.height(); ++y) {
        for (int x = 0; x < block.width(); ++x) {
            bool nearText = false;
            for (int d = 0; d < 49; ++d)
                nearText |= isText(x + d % 7 - 3, y + d / 7 - 3);
            const Rgba expected = isText(x, y) ? text : nearText ? outline : Rgba{0};
            ASSERT_EQ(pixelAt(block, x, y).value, expected.value) << x << "," << y;
        }
    }
}

TEST(RenderText, NoInkIsCutAndTheBlockKeepsItsAnchor) {
    // Bold italic "j", "J" and "f" reach past their advance on both sides.
    const Font font = openFont(120, FontQuality::Antialiased,
                               toolkit::kFontStyleItalic | toolkit::kFontStyleBold);
    TextStyle style = styleFor(font, "jJf\nfd");
    style.align = 3;
    ASSERT_FALSE(renderText(style).empty());
    const toolkit::TextLayout layout = toolkit::layoutText(font, style.text, 0);
    EXPECT_EQ(std::pair(style.width, style.height), std::pair(layout.width, layout.height));

    // Reference: the same lines drawn with a wide margin around the block.
    const int margin = 120;
    Image wide(layout.width + 2 * margin, layout.height + 2 * margin, PixelFormat::Bgra32);
    ASSERT_TRUE(toolkit::drawTextBlock(wide, margin, margin, font, layout,
                                       toolkit::LineAlign::Centre, style.colour));
    const toolkit::InkBox expected = scanInk(wide);
    // On the image the block is anchored as asked and the overhang lands around it.
    for (const int offset : {40, -40}) {
        Image image = filled(900, 500, PixelFormat::Bgr24, Rgba{0xFFFFFF});
        ASSERT_TRUE(drawTextOverlay(
            image,
            {.text = style.text, .font = &font, .offsetX = offset, .offsetY = offset, .align = 3}));
        const long long x = textBlockPosition(900, style.width, offset) - margin;
        const long long y = textBlockPosition(500, style.height, offset) - margin;
        const toolkit::InkBox drawn = scanInk(image, Rgba{0xFFFFFF});
        EXPECT_EQ(drawn.left - x, expected.left) << offset;
        EXPECT_EQ(drawn.right - x, expected.right) << offset;
        EXPECT_EQ(drawn.top - y, expected.top) << offset;
        EXPECT_EQ(drawn.bottom - y, expected.bottom) << offset;
    }
}

// Regression: a line spacing of minus a line height or less used to cut lines off.
TEST(TextOverlay, VeryNegativeSpacingKeepsEveryLine) {
    const Font font = openFont(20, FontQuality::Antialiased);
    const int lh = font.lineHeight();
    TextStyle tightest = styleFor(font, "a\nbbbbbbbb");
    tightest.lineSpacing = -lh;
    const Image reference = renderText(tightest);
    TextStyle secondOnly = styleFor(font, "bbbbbbbb");
    const int secondLineInk = scanInk(renderText(secondOnly)).right;
    for (int spacing : {-lh, -lh - 1, -100}) {
        TextStyle style = styleFor(font, "a\nbbbbbbbb");
        style.lineSpacing = spacing;
        const Image block = renderText(style);
        EXPECT_EQ(style.height, lh) << spacing;
        EXPECT_EQ(scanInk(block).right, secondLineInk) << spacing;
        EXPECT_EQ(test::countMismatches(block, reference), 0) << spacing;
    }
}

TEST(TextOverlay, OpacityBlendsAndTransparentCanvasKeepsTheColour) {
    const Font font = openFont(30, FontQuality::NonAntialiased);
    Image grey = filled(120, 50, PixelFormat::Bgr24, Rgba{0xFFFFFF});
    const TextOverlayOptions half{
        .text = "III", .font = &font, .offsetX = 1, .offsetY = 1, .opacity = 50};
    ASSERT_TRUE(drawTextOverlay(grey, half));
    // Black at alpha 127 over white: 255 * 128 / 255 = 128.
    EXPECT_EQ(colours(grey), (std::set<std::uint32_t>{0xFFFFFF, 0x808080}));

    Image clear = filled(120, 50, PixelFormat::Bgra32, Rgba{0});
    TextOverlayOptions blue = half;
    blue.colour = Rgba{0x3366CC};
    ASSERT_TRUE(drawTextOverlay(clear, blue));
    EXPECT_EQ(colours(clear), (std::set<std::uint32_t>{0, 0x7F3366CC}));
}

TEST(ImageOverlay, FrameOpacityOwnAlphaAndClipping) {
    const Image overlay = filled(40, 30, PixelFormat::Bgr24, Rgba{0x0000FF});
    Image image = filled(200, 150, PixelFormat::Bgr24, Rgba{0});
    // Bottom right with margins 10: the overlay at (200 - 40 - 10 - 5, 150 - 30 - 10 - 5), its
    // frame ending 10 from the edges; at half opacity.
    ASSERT_TRUE(drawImageOverlay(image, overlay,
                                 {.offsetX = -10,
                                  .offsetY = -10,
                                  .opacity = 50,
                                  .frame = true,
                                  .frameWidth = 5,
                                  .frameColour = Rgba{0x00FF00}}));
    const int wrong = test::countMismatches(image, 200, 150, [](int x, int y) {
        const int ox = x - 145, oy = y - 105;
        const bool inOverlay = ox >= 0 && ox < 40 && oy >= 0 && oy < 30;
        const bool inFrame = ox >= -5 && ox < 45 && oy >= -5 && oy < 35;
        return test::Bgra{0, std::uint8_t(inFrame && !inOverlay ? 0x7F : 0),
                          std::uint8_t(inOverlay ? 0x7F : 0), 255};
    });
    EXPECT_EQ(wrong, 0);
    // The overlay's own alpha is scaled too: 128 * 127 / 255 gives 64 of 255, white keeps 191.
    Image white = filled(20, 20, PixelFormat::Bgr24, Rgba{0xFFFFFF});
    const Image grey = filled(10, 10, PixelFormat::Bgra32, Rgba::fromChannels(0, 0, 0, 128));
    ASSERT_TRUE(drawImageOverlay(white, grey, {.offsetX = 1, .offsetY = 1, .opacity = 50}));
    EXPECT_EQ(colours(white), (std::set<std::uint32_t>{0xBFBFBF, 0xFFFFFF}));
    // Overlays reaching past any edge are clipped; a missing image is a failure.
    for (int offset : {-500, -1, 0, 1, 500}) {
        const Image big = filled(300, 300, PixelFormat::Bgr24, Rgba{0x112233});
        ASSERT_TRUE(drawImageOverlay(image, big,
                                     {.offsetX = offset,
                                      .offsetY = offset,
                                      .frame = true,
                                      .frameWidth = 20,
                                      .frameColour = Rgba{0xFFFFFF}}));
    }
    EXPECT_EQ(colours(image), (std::set<std::uint32_t>{0x112233, 0xFFFFFF}));
    Image none;
    EXPECT_FALSE(drawImageOverlay(none, overlay, {}));
    EXPECT_FALSE(drawImageOverlay(image, Image{}, {}));
}

TEST(PrepareOverlay, OutlinedTextIsDrawnWithoutAntialiasingAndMissingPartsFail) {
    OverlaySettings settings;
    settings.overlayOutline = 1;
    EXPECT_EQ(prepareOverlay(settings, "").fontRequest().quality, FontQuality::NonAntialiased)
        << "the outline rule needs exact text pixels";
    settings.overlayFontName = "Quillmere Missing Face";
    const PreparedOverlay noFont = prepareOverlay(settings, "");
    EXPECT_FALSE(openOverlayFont(noFont));
    Image image = filled(30, 10, PixelFormat::Bgr24, Rgba{0xFFFFFF});
    EXPECT_FALSE(applyOverlay(image, noFont, nullptr, "text"));
    settings.overlayKind = settings::OverlayKind::Image;
    test::TempDir dir;
    EXPECT_FALSE(
        applyOverlay(image, prepareOverlay(settings, dir.file("missing.png")), nullptr, ""));
}

} // namespace
} // namespace quill::pipeline
