// Tests of the overlay step: text blocks and their outline, anchoring, opacity, image overlays
// with frames, and the once-per-run preparation.
#include "pipeline/overlay.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <filesystem>
#include <set>

namespace quill::pipeline {
namespace {

using toolkit::Font;
using toolkit::FontQuality;
using toolkit::FontRequest;
using toolkit::Image;
using toolkit::PixelFormat;
using toolkit::Rgba;

Font openFont(int height, FontQuality quality, std::uint32_t styleBits = 0) {
    std::optional<Font> font =
        Font::open(FontRequest::fromStyleBits("Arial", height, styleBits, quality));
    if (!font) {
        ADD_FAILURE() << "Arial is not available";
        std::abort();
    }
    return std::move(*font);
}

Image filled(int width, int height, PixelFormat format, Rgba colour) {
    Image image(width, height, format);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = image.row(y) + x * image.bytesPerPixel();
            p[0] = colour.blue();
            p[1] = colour.green();
            p[2] = colour.red();
            if (image.hasAlpha()) p[3] = colour.alpha();
        }
    }
    return image;
}

Rgba pixelAt(const Image& image, int x, int y) {
    const std::uint8_t* p = image.row(y) + x * image.bytesPerPixel();
    return Rgba::fromChannels(p[2], p[1], p[0], image.hasAlpha() ? p[3] : 0);
}

std::set<std::uint32_t> colours(const Image& image) {
    std::set<std::uint32_t> values;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) values.insert(pixelAt(image, x, y).value);
    }
    return values;
}

TextStyle styleFor(const Font& font, const std::string& text, Rgba colour) {
    TextStyle style;
    style.text = text;
    style.colour = colour;
    style.font = &font;
    return style;
}

// libpng's simplified API keeps the golden image helpers free of setjmp.
bool writePng(const std::string& path, const Image& image) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = png_uint_32(image.width());
    png.height = png_uint_32(image.height());
    png.format = PNG_FORMAT_BGRA;
    return png_image_write_to_file(&png, path.c_str(), 0, image.data(),
                                   png_int_32(image.stride()), nullptr) != 0;
}

Image readPng(const std::string& path) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) return {};
    png.format = PNG_FORMAT_BGRA;
    Image image(int(png.width), int(png.height), PixelFormat::Bgra32);
    if (image.empty() || !png_image_finish_read(&png, nullptr, image.data(),
                                                png_int_32(image.stride()), nullptr)) {
        png_image_free(&png);
        return {};
    }
    return image;
}

TEST(OverlayRules, OpacityOffsetsAndAnchorPositions) {
    EXPECT_EQ(opacityAlpha(50), 127) << "50 x 2.55 lies just below 127.5";
    EXPECT_EQ(opacityAlpha(99), 252);
    EXPECT_EQ(opacityAlpha(100), 255);
    EXPECT_EQ(opacityAlpha(1), 2);
    EXPECT_EQ(opacityAlpha(0), 0);
    EXPECT_EQ(overlayOffset(0, 15), 15);
    EXPECT_EQ(overlayOffset(1, 15), 0);
    EXPECT_EQ(overlayOffset(2, 15), -15);
    EXPECT_EQ(textAlignCode(0), 1);
    EXPECT_EQ(textAlignCode(1), 3);
    EXPECT_EQ(textAlignCode(2), 2);
    // Right and bottom with margins 10: a 100 x 20 block on 640 x 480.
    EXPECT_EQ(textBlockPosition(640, 100, overlayOffset(2, 10)), 530);
    EXPECT_EQ(textBlockPosition(480, 20, overlayOffset(2, 10)), 450);
    // Centred with an odd difference truncates, toward zero when the block is the larger.
    EXPECT_EQ(textBlockPosition(641, 100, 0), 270);
    EXPECT_EQ(textBlockPosition(100, 141, 0), -20);
    // The image overlay keeps room for its frame.
    EXPECT_EQ(overlayImagePosition(640, 50, 10, 5), 15);
    EXPECT_EQ(overlayImagePosition(640, 50, -10, 5), 575);
    EXPECT_EQ(overlayImagePosition(641, 50, 0, 5), 295);
}

TEST(RenderText, FailuresAndEmptyText) {
    const Font font = openFont(16, FontQuality::Antialiased);
    TextStyle rotated = styleFor(font, "x", Rgba{0xFF000000});
    rotated.angle = 90.0F;
    EXPECT_TRUE(renderText(rotated).empty());
    EXPECT_EQ(rotated.height, 0);

    TextStyle empty = styleFor(font, "", Rgba{0xFF000000});
    EXPECT_TRUE(renderText(empty).empty());
    EXPECT_EQ(empty.width, 0);
    EXPECT_GT(empty.height, 0) << "nothing to draw is not a failure";

    Image image = filled(64, 48, PixelFormat::Bgr24, Rgba{0xFFFFFF});
    EXPECT_TRUE(drawTextOverlay(image, "", Rgba{0}, -5, -5, 1, 0, &font, 100, -1, 2, Rgba{0}));
    EXPECT_TRUE(drawTextOverlay(image, "", Rgba{0}, -5, -5, 1, 0, &font, 100, 1, 2, Rgba{0}));
    EXPECT_EQ(colours(image), std::set<std::uint32_t>{0xFFFFFF});
    EXPECT_FALSE(drawTextOverlay(image, "x", Rgba{0}, 5, 5, 1, 0, nullptr, 100, -1, 2, Rgba{0}));
    Image none;
    EXPECT_FALSE(drawTextOverlay(none, "x", Rgba{0}, 5, 5, 1, 0, &font, 100, -1, 2, Rgba{0}));
}

TEST(RenderText, OutlineMarksExactlyTheSquareAroundTextPixels) {
    const Font font = openFont(18, FontQuality::NonAntialiased);
    const Rgba text = Rgba::fromChannels(200, 30, 40, 255);
    const Rgba outline = Rgba::fromChannels(10, 250, 90, 255);
    TextStyle plainStyle = styleFor(font, "Wig\n g.", text);
    plainStyle.lineSpacing = 4;
    const Image plain = renderText(plainStyle);
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(plainStyle.width, toolkit::layoutText(font, "Wig\n g.", 4).width);
    EXPECT_EQ(plainStyle.height, 2 * font.lineHeight() + 4);

    for (int width : {1, 2, 4}) {
        TextStyle style = plainStyle;
        style.outline = 1;
        style.outlineWidth = width;
        style.outlineColour = outline;
        const Image block = renderText(style);
        ASSERT_EQ(block.width(), plain.width() + 2 * width);
        ASSERT_EQ(style.height, plain.height() + 2 * width);
        auto isText = [&](int x, int y) {
            return x >= 0 && y >= 0 && x < plain.width() && y < plain.height() &&
                   pixelAt(plain, x, y) == text;
        };
        for (int y = 0; y < block.height(); ++y) {
            for (int x = 0; x < block.width(); ++x) {
                const int px = x - width;
                const int py = y - width;
                bool nearText = false;
                for (int dy = -width; dy <= width && !nearText; ++dy) {
                    for (int dx = -width; dx <= width && !nearText; ++dx) {
                        nearText = isText(px + dx, py + dy);
                    }
                }
                const Rgba expected = isText(px, py) ? text : nearText ? outline : Rgba{0};
                ASSERT_EQ(pixelAt(block, x, y).value, expected.value)
                    << "width " << width << " at " << x << "," << y;
            }
        }
    }
}

TEST(RenderText, SameTextAndOutlineColourStayOneAlphaStepApart) {
    const Font font = openFont(20, FontQuality::NonAntialiased);
    Image image = filled(200, 60, PixelFormat::Bgra32, Rgba{0});
    ASSERT_TRUE(drawTextOverlay(image, "Same", Rgba{0xFFFFFF}, 5, 5, 1, 0, &font, 100, 1, 2,
                                Rgba{0xFFFFFF}));
    EXPECT_EQ(colours(image), (std::set<std::uint32_t>{0, 0xFEFFFFFF, 0xFFFFFFFF}));

    // Text alpha 0 is raised to 1; an outline colour of 0 means opaque white.
    TextStyle style = styleFor(font, "A", Rgba{0x00123456});
    style.outline = 1;
    style.outlineColour = Rgba{0};
    ASSERT_FALSE(renderText(style).empty());
    EXPECT_EQ(style.colour.value, 0x01123456U);
    EXPECT_EQ(style.outlineColour.value, 0xFFFFFFFFU);
    TextStyle lowAlpha = styleFor(font, "A", Rgba{0x02ABCDEF});
    lowAlpha.outline = 1;
    lowAlpha.outlineColour = Rgba{0x02ABCDEF};
    ASSERT_FALSE(renderText(lowAlpha).empty());
    EXPECT_EQ(lowAlpha.outlineColour.value, 0x01ABCDEFU);
}

TEST(TextOverlay, BottomRightPlacementOnA640x480Image) {
    const Font font = openFont(24, FontQuality::NonAntialiased);
    const Rgba text{0x0000C0};
    const Rgba outline{0xFFFF00};
    TextStyle style = styleFor(font, "Corner\ntext", Rgba{text.value | 0xFF000000});
    style.align = 2;
    style.outline = 1;
    style.outlineWidth = 2;
    style.outlineColour = Rgba{outline.value | 0xFF000000};
    const Image block = renderText(style);
    ASSERT_FALSE(block.empty());

    Image image = filled(640, 480, PixelFormat::Bgr24, Rgba{0x808080});
    const int offset = overlayOffset(2, 10);
    ASSERT_TRUE(drawTextOverlay(image, "Corner\ntext", text, offset, offset, 2, 0, &font, 100, 1,
                                2, outline));
    // Opaque block pixels land with the block's top-left corner at (640 - w - 10, 480 - h - 10);
    // every other pixel keeps its grey.
    const int left = 640 - style.width - 10;
    const int top = 480 - style.height - 10;
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            Rgba expected{0x808080};
            if (x >= left && y >= top && x < left + block.width() && y < top + block.height()) {
                const Rgba b = pixelAt(block, x - left, y - top);
                if (b.alpha() == 255) expected = Rgba{b.value & 0xFFFFFF};
            }
            ASSERT_EQ(pixelAt(image, x, y).value, expected.value) << x << "," << y;
        }
    }
}

TEST(TextOverlay, OpacityBlendsAndTransparentCanvasKeepsTheColour) {
    const Font font = openFont(30, FontQuality::NonAntialiased);
    Image grey = filled(120, 50, PixelFormat::Bgr24, Rgba{0xFFFFFF});
    ASSERT_TRUE(drawTextOverlay(grey, "III", Rgba{0}, 1, 1, 1, 0, &font, 50, -1, 1, Rgba{0}));
    // Black at alpha 127 over white: 255 * 128 / 255 = 128.
    EXPECT_EQ(colours(grey), (std::set<std::uint32_t>{0xFFFFFF, 0x808080}));

    Image clear = filled(120, 50, PixelFormat::Bgra32, Rgba{0});
    ASSERT_TRUE(drawTextOverlay(clear, "III", Rgba{0x3366CC}, 1, 1, 1, 0, &font, 50, -1, 1,
                                Rgba{0}));
    EXPECT_EQ(colours(clear), (std::set<std::uint32_t>{0, 0x7F3366CC}));
}

TEST(TextOverlay, MatchesTheGoldenRendering) {
    const Font font = openFont(18, FontQuality::NonAntialiased, toolkit::kFontStyleBold);
    TextStyle style = styleFor(font, "Quillmere\n4.6 Ag", Rgba{0xFFC04020});
    style.align = 3;
    style.lineSpacing = -2;
    style.outline = 1;
    style.outlineWidth = 2;
    style.outlineColour = Rgba{0xFFFFFFFF};
    const Image block = renderText(style);
    ASSERT_FALSE(block.empty());

    const std::string golden = test::fixture("overlay/text_block.png");
    if (std::getenv("QUILL_UPDATE_GOLDEN")) {
        std::filesystem::create_directories(std::filesystem::path(golden).parent_path());
        ASSERT_TRUE(writePng(golden, block));
    }
    const Image expected = readPng(golden);
    ASSERT_FALSE(expected.empty()) << golden;
    ASSERT_EQ(block.width(), expected.width());
    ASSERT_EQ(block.height(), expected.height());
    // A newer FreeType may move a few edge pixels; a change in layout, outline or colours moves
    // far more.
    int differing = 0;
    for (int y = 0; y < block.height(); ++y) {
        for (int x = 0; x < block.width(); ++x) {
            differing += pixelAt(block, x, y) != pixelAt(expected, x, y);
        }
    }
    EXPECT_LE(differing, block.width() * block.height() / 50);
}

TEST(ImageOverlay, FrameBarsSurroundTheOverlayWithoutOverlap) {
    const Image overlay = filled(40, 30, PixelFormat::Bgr24, Rgba{0x0000FF});
    Image image = filled(200, 150, PixelFormat::Bgr24, Rgba{0});
    ASSERT_TRUE(drawImageOverlay(image, overlay, overlayOffset(0, 10), overlayOffset(0, 10), 50, 1,
                                 5, Rgba{0x00FF00}));
    // The overlay starts at (15, 15); the frame covers (10, 10) up to (15 + 40 + 5, 15 + 30 + 5).
    for (int y = 0; y < 150; ++y) {
        for (int x = 0; x < 200; ++x) {
            const bool inOverlay = x >= 15 && x < 55 && y >= 15 && y < 45;
            const bool inFrame = !inOverlay && x >= 10 && x < 60 && y >= 10 && y < 50;
            const std::uint32_t expected = inOverlay ? 0x00007F : inFrame ? 0x007F00 : 0;
            ASSERT_EQ(pixelAt(image, x, y).value, expected) << x << "," << y;
        }
    }
}

TEST(ImageOverlay, BottomRightAnchorKeepsRoomForTheFrame) {
    const Image overlay = filled(40, 30, PixelFormat::Bgr24, Rgba{0x0000FF});
    Image image = filled(200, 150, PixelFormat::Bgr24, Rgba{0});
    ASSERT_TRUE(drawImageOverlay(image, overlay, -10, -10, 100, 1, 5, Rgba{0x00FF00}));
    // Overlay at (200 - 40 - 10 - 5, 150 - 30 - 10 - 5); the frame ends 10 pixels from the edges.
    EXPECT_EQ(pixelAt(image, 145, 105).value, 0x0000FFU);
    EXPECT_EQ(pixelAt(image, 144, 105).value, 0x00FF00U);
    EXPECT_EQ(pixelAt(image, 189, 139).value, 0x00FF00U);
    EXPECT_EQ(pixelAt(image, 190, 139).value, 0U);
    EXPECT_EQ(pixelAt(image, 189, 140).value, 0U);

    // Overlays reaching past any edge are clipped; a missing image is a failure.
    for (int offset : {-500, -1, 0, 1, 500}) {
        const Image big = filled(300, 300, PixelFormat::Bgr24, Rgba{0x112233});
        ASSERT_TRUE(drawImageOverlay(image, big, offset, offset, 100, 1, 20, Rgba{0xFFFFFF}));
    }
    EXPECT_EQ(colours(image), (std::set<std::uint32_t>{0x112233, 0xFFFFFF}));
    Image none;
    EXPECT_FALSE(drawImageOverlay(none, overlay, 0, 0, 100, 0, 0, Rgba{0}));
    EXPECT_FALSE(drawImageOverlay(image, Image{}, 0, 0, 100, 0, 0, Rgba{0}));
}

TEST(ImageOverlay, OwnAlphaIsScaledByTheOpacity) {
    const Image overlay = filled(10, 10, PixelFormat::Bgra32, Rgba::fromChannels(0, 0, 0, 128));
    Image white = filled(20, 20, PixelFormat::Bgr24, Rgba{0xFFFFFF});
    ASSERT_TRUE(drawImageOverlay(white, overlay, 1, 1, 50, 0, 0, Rgba{0}));
    // 128 * 127 / 255 gives 64 of 255: white keeps 191.
    EXPECT_EQ(pixelAt(white, 5, 5).value, 0xBFBFBFU);
    EXPECT_EQ(pixelAt(white, 0, 0).value, 0xFFFFFFU);

    Image clear = filled(20, 20, PixelFormat::Bgra32, Rgba{0});
    const Image red = filled(4, 4, PixelFormat::Bgra32, Rgba::fromChannels(255, 0, 0, 255));
    ASSERT_TRUE(drawImageOverlay(clear, red, 2, 2, 70, 0, 0, Rgba{0}));
    EXPECT_EQ(pixelAt(clear, 3, 3).value, Rgba::fromChannels(255, 0, 0, 178).value);
    EXPECT_EQ(pixelAt(clear, 10, 10).value, 0U);
}

TEST(PrepareOverlay, TextKindOpensTheFontOncePerRun) {
    OverlaySettings settings;
    settings.overlayFontName = "Arial";
    settings.overlayFontSize = 28;
    settings.overlayFontStyle = toolkit::kFontStyleItalic | toolkit::kFontStyleUnderline;
    settings.overlayOutline = 1;
    settings.overlayHorizontalAlign = 0;
    settings.overlayHorizontalMargin = 12;
    settings.overlayVerticalAlign = 1;
    const PreparedOverlay prepared = prepareOverlay(settings, "");
    ASSERT_TRUE(prepared.ready());
    EXPECT_EQ(prepared.offsetX, 12);
    EXPECT_EQ(prepared.offsetY, 0);
    const FontRequest& request = prepared.font->request();
    EXPECT_EQ(request.quality, FontQuality::NonAntialiased) << "the outline needs exact pixels";
    EXPECT_TRUE(request.pixelHeight == 28 && request.italic && request.underline);
    EXPECT_FALSE(request.strikeOut || request.weight != 400);

    settings.overlayOutline = 0;
    EXPECT_EQ(prepareOverlay(settings, "").font->request().quality, FontQuality::Antialiased);

    Image image = filled(300, 100, PixelFormat::Bgr24, Rgba{0xFFFFFF});
    ASSERT_TRUE(applyOverlay(image, settings, prepared, "12.03.2026  10:00:00"));
    EXPECT_GT(colours(image).size(), 1U);
}

TEST(PrepareOverlay, MissingFontOrImageFailsEveryImage) {
    OverlaySettings settings;
    settings.overlayFontName = "Quillmere Missing Face";
    const PreparedOverlay noFont = prepareOverlay(settings, "");
    EXPECT_FALSE(noFont.ready());
    Image image = filled(40, 40, PixelFormat::Bgr24, Rgba{0});
    EXPECT_FALSE(applyOverlay(image, settings, noFont, "text"));

    settings.overlayKind = 1;
    test::TempDir dir;
    const PreparedOverlay noImage = prepareOverlay(settings, dir.file("missing.png"));
    EXPECT_FALSE(noImage.ready());
    EXPECT_FALSE(applyOverlay(image, settings, noImage, ""));
}

TEST(PrepareOverlay, ImageKindScalesTheOverlay) {
    OverlaySettings settings;
    settings.overlayKind = 1;
    settings.overlayImageScale = 50;
    settings.overlayOpacity = 100;
    settings.overlayHorizontalAlign = 0;
    settings.overlayHorizontalMargin = 4;
    settings.overlayVerticalAlign = 0;
    settings.overlayVerticalMargin = 6;
    PreparedOverlay prepared = prepareOverlayWithImage(
        settings, filled(101, 60, PixelFormat::Bgr24, Rgba{0x0000FF}));
    ASSERT_TRUE(prepared.ready());
    EXPECT_EQ(prepared.image.width(), 51);
    EXPECT_EQ(prepared.image.height(), 30);

    Image image = filled(100, 100, PixelFormat::Bgr24, Rgba{0});
    ASSERT_TRUE(applyOverlay(image, settings, prepared, ""));
    EXPECT_EQ(pixelAt(image, 4, 6).value, 0x0000FFU);
    EXPECT_EQ(pixelAt(image, 3, 6).value, 0U);
    EXPECT_EQ(pixelAt(image, 54, 35).value, 0x0000FFU);
    EXPECT_EQ(pixelAt(image, 55, 35).value, 0U);

    // Read from a file of any loadable format.
    test::TempDir dir;
    const std::string path = dir.file("logo.png");
    ASSERT_TRUE(writePng(path, filled(20, 10, PixelFormat::Bgra32, Rgba{0x80FF0000})));
    settings.overlayImageScale = 100;
    prepared = prepareOverlay(settings, path);
    ASSERT_TRUE(prepared.ready());
    EXPECT_EQ(prepared.image.width(), 20);
    EXPECT_EQ(prepared.image.height(), 10);
}

} // namespace
} // namespace quill::pipeline
