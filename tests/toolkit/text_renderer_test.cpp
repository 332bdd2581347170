// Tests of font lookup, glyph rasterisation and text block layout.
#include "toolkit/text_renderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <tuple>

namespace quill::toolkit {
namespace {

FontRequest request(const std::string& family, int height,
                    FontQuality quality = FontQuality::Antialiased, std::uint32_t styleBits = 0) {
    return FontRequest::fromStyleBits(family, height, styleBits, quality);
}

Font openOrDie(const FontRequest& r) {
    std::optional<Font> font = Font::open(r);
    if (!font) std::abort(); // the faces the tests use come with the build machine's fonts
    return std::move(*font);
}

/// One line on a transparent canvas that fits it, 2 pixels in from the left.
Image renderLine(const Font& font, std::string_view text, Rgba colour) {
    Image canvas(font.lineWidth(text) + 4, font.lineHeight(), PixelFormat::Bgra32);
    EXPECT_TRUE(font.drawLine(canvas, 2, 0, text, colour));
    return canvas;
}

std::set<int> alphaValues(const Image& image) {
    std::set<int> values;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            values.insert(image.row(y)[x * 4 + 3]);
    return values;
}

TEST(FontLookup, MetricAliasesReachTheInstalledCloneAndMissingFacesFail) {
    // Microsoft and PostScript names reach the installed clone through the chain of metric
    // aliases; names compare without case.
    for (const auto& [family, face] :
         {std::pair{"arial", "Liberation Sans"}, {"Courier", "Liberation Mono"}}) {
        const std::optional<Font> font =
            Font::open(request(family, 20, FontQuality::Antialiased, kFontStyleBold));
        ASSERT_TRUE(font) << family;
        EXPECT_EQ(font->faceFamily(), face) << family;
    }
    // Style bits select the bold and italic faces.
    const Font regular = openOrDie(request("Arial", 20));
    const Font bold = openOrDie(request("Arial", 20, FontQuality::Antialiased, kFontStyleBold));
    const Font italic = openOrDie(request("Arial", 20, FontQuality::Antialiased, kFontStyleItalic));
    EXPECT_EQ(
        std::set<std::string>({regular.faceFile(), bold.faceFile(), italic.faceFile()}).size(), 3U);
    // fontconfig always offers some fallback face; an unrelated one counts as missing (an unknown
    // family is also refused by the overlay preparation).
    EXPECT_FALSE(Font::open(request("Quillmere Missing Face", 20)));
    EXPECT_FALSE(Font::open(request("", 28)));
    EXPECT_FALSE(Font::open(request("Arial", 0)));
    EXPECT_FALSE(Font::open(request("Arial", kMaxFontPixelHeight + 1)));
}

TEST(FontFallback, MissingCharactersComeFromFacesThatHaveThem) {
    // U+10FFFD is in no installed face: it draws the requested face's missing-glyph box.
    const Rgba black{0xFF000000};
    const Font font = openOrDie(request("Arial", 32, FontQuality::Antialiased, kFontStyleItalic));
    const Image box = renderLine(font, "\U0010FFFD", black);
    EXPECT_EQ(font.drawingFamily(U'A'), font.faceFamily());
    for (const auto& [text, codePoint, family] :
         {std::tuple{"\u2605", U'\u2605', "DejaVu Sans"},      // black star
          std::tuple{"\u4E2D", U'\u4E2D', "Noto Sans CJK"}}) { // CJK ideograph
        EXPECT_TRUE(font.drawingFamily(codePoint).starts_with(family))
            << text << " from " << font.drawingFamily(codePoint);
        const Image glyph = renderLine(font, text, black);
        EXPECT_GT(alphaValues(glyph).size(), 2U) << text;
        const bool sameAsBox =
            glyph.width() == box.width() && glyph.height() == box.height() &&
            std::equal(glyph.data(), glyph.data() + glyph.sizeInBytes(), box.data());
        EXPECT_FALSE(sameAsBox) << text << " drew the missing-glyph box";
    }
}

TEST(TextRaster, AntialiasingGivesIntermediateAlphaAndMonochromeNone) {
    const Rgba colour = Rgba::fromChannels(10, 20, 30, 200);
    const Font smooth = openOrDie(request("Arial", 24, FontQuality::Antialiased));
    const Font sharp = openOrDie(request("Arial", 24, FontQuality::NonAntialiased));
    const Image smoothLine = renderLine(smooth, "Rounded & slanted 8", colour);
    const std::set<int> smoothAlpha = alphaValues(smoothLine);
    EXPECT_GT(smoothAlpha.size(), 10U);
    EXPECT_TRUE(smoothAlpha.count(200)) << "full coverage takes the colour's alpha";
    EXPECT_EQ(alphaValues(renderLine(sharp, "Rounded & slanted 8", colour)),
              (std::set<int>{0, 200}));
    std::set<int> inkColours; // every drawn pixel has the colour itself
    for (int y = 0; y < smoothLine.height(); ++y)
        for (int x = 0; x < smoothLine.width(); ++x)
            if (const std::uint8_t* p = smoothLine.row(y) + x * 4; p[3] != 0)
                inkColours.insert(p[0] | p[1] << 8 | p[2] << 16);
    EXPECT_EQ(inkColours, (std::set<int>{0x0A141E}));
}

TEST(TextRaster, DrawingIsClippedAndNeedsAlpha) {
    const Font font = openOrDie(request("Arial", 30));
    Image small(10, 8, PixelFormat::Bgra32);
    for (int offset : {-15, 5, 1 << 29, -(1 << 29)}) {
        EXPECT_TRUE(font.drawLine(small, offset, offset, "Clipped WWW", Rgba{0xFF0000FF}));
    }
    EXPECT_GT(alphaValues(small).size(), 1U);
    Image rgb(40, 40, PixelFormat::Bgr24);
    EXPECT_FALSE(font.drawLine(rgb, 0, 0, "x", Rgba{0xFF0000FF}));
}

TEST(TextLayoutTest, LinesSpacingAlignmentAndWrapping) {
    const Font font = openOrDie(request("Arial", 20));
    const int lh = font.lineHeight();
    const TextLayout three = layoutText(font, "short\na much longer line\nmid", 7);
    ASSERT_EQ(three.lines.size(), 3U);
    EXPECT_EQ(three.width, font.lineWidth("a much longer line"));
    EXPECT_EQ(three.height, 3 * lh + 2 * 7);
    // Spacing below -lh would start a line above the previous one: it is raised to -lh.
    EXPECT_EQ(layoutText(font, "a\nb\nc", -100).height, lh);
    EXPECT_EQ(layoutText(font, "a\nb\nc", 1 - lh).height, lh + 2);

    EXPECT_EQ(lineOffset(LineAlign::Centre, 100, 45), 28) << "27.5 rounds up";

    const int limit = font.lineWidth("word word");
    const TextLayout wrapped = layoutText(font, "word word word word\nnext", 0, limit);
    EXPECT_EQ(wrapped.lines, (std::vector<std::string>{"word word", "word word", "next"}));
    // A word wider than the limit stays whole on its own line.
    EXPECT_EQ(layoutText(font, "a incomprehensibilities b", 0, 10).lines[1],
              "incomprehensibilities");
}

} // namespace
} // namespace quill::toolkit
