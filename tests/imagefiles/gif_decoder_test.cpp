// The own GIF decoder on small files built here: header rules, block walking, LZW edge cases,
// interlacing, colour tables and the transparent colour.
#include "imagefiles/gif_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "test_support.h"

namespace quill::imagefiles {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Packs codes of given widths least significant bit first into data sub-blocks.
Bytes packCodes(const std::vector<std::pair<int, int>>& codes, bool terminate = true) {
    Bytes packed;
    std::uint32_t bits = 0;
    int count = 0;
    for (const auto& [code, width] : codes) {
        bits |= std::uint32_t(code) << count;
        count += width;
        while (count >= 8) {
            packed.push_back(std::uint8_t(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    if (count > 0) packed.push_back(std::uint8_t(bits));
    Bytes blocks;
    for (std::size_t at = 0; at < packed.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, packed.size() - at);
        blocks.push_back(std::uint8_t(n));
        blocks.insert(blocks.end(), packed.begin() + at, packed.begin() + at + n);
    }
    if (terminate) blocks.push_back(0);
    return blocks;
}

// An LZW stream that never compresses: every pixel is a literal code, and a clear code comes
// before the table would make the codes wider.
std::vector<std::pair<int, int>> literalCodes(const Bytes& pixels, int minCodeSize,
                                              bool withEnd = true) {
    const int clear = 1 << minCodeSize;
    const int width = minCodeSize + 1;
    std::vector<std::pair<int, int>> codes;
    int sinceClear = 0;
    for (const std::uint8_t p : pixels) {
        if (sinceClear == 0 || sinceClear == clear - 2) {
            codes.push_back({clear, width});
            sinceClear = 0;
        }
        codes.push_back({p, width});
        ++sinceClear;
    }
    if (withEnd) codes.push_back({clear + 1, width});
    return codes;
}

void putU16(Bytes& out, int v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}

struct GifFile {
    std::string signature = "GIF89a";
    int width = 4;
    int height = 2;
    std::vector<PaletteColor> global = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
    std::vector<PaletteColor> local;
    Bytes beforeImage; // extension blocks
    bool interlaced = false;
    int minCodeSize = 2;
    Bytes data; // the image's code sub-blocks; built from `pixels` when empty
    Bytes pixels = {0, 1, 2, 3, 3, 2, 1, 0};
    Bytes afterImage = {0x3B};

    Bytes build() const {
        Bytes out(signature.begin(), signature.end());
        putU16(out, width);
        putU16(out, height);
        const auto tableBits = [](std::size_t n) {
            int bits = 0;
            while ((2u << bits) < n) ++bits;
            return bits;
        };
        out.push_back(global.empty() ? 0 : std::uint8_t(0x80 | tableBits(global.size())));
        out.push_back(0);
        out.push_back(0);
        for (const auto& c : global) out.insert(out.end(), {c.red, c.green, c.blue});
        out.insert(out.end(), beforeImage.begin(), beforeImage.end());
        out.push_back(0x2C);
        putU16(out, 0);
        putU16(out, 0);
        putU16(out, width);
        putU16(out, height);
        std::uint8_t flags = interlaced ? 0x40 : 0;
        if (!local.empty()) flags |= std::uint8_t(0x80 | tableBits(local.size()));
        out.push_back(flags);
        for (const auto& c : local) out.insert(out.end(), {c.red, c.green, c.blue});
        out.push_back(std::uint8_t(minCodeSize));
        const Bytes codes = data.empty() ? packCodes(literalCodes(pixels, minCodeSize)) : data;
        out.insert(out.end(), codes.begin(), codes.end());
        out.insert(out.end(), afterImage.begin(), afterImage.end());
        return out;
    }
};

Bytes graphicControl(bool transparent, int index) {
    return {0x21, 0xF9, 4, std::uint8_t(transparent ? 1 : 0), 0, 0, std::uint8_t(index), 0};
}

Bytes comment(const std::string& text) {
    Bytes out = {0x21, 0xFE, std::uint8_t(text.size())};
    out.insert(out.end(), text.begin(), text.end());
    out.push_back(0);
    return out;
}

// Red, green, blue (and alpha, 255 for 24-bit images) of one pixel.
std::vector<int> pixelAt(const toolkit::Image& image, int x, int y) {
    const std::uint8_t* p = image.row(y) + std::size_t(x) * image.bytesPerPixel();
    return {p[2], p[1], p[0], image.hasAlpha() ? p[3] : 255};
}

std::vector<int> rgba(int r, int g, int b, int a = 255) { return {r, g, b, a}; }

TEST(GifDecoder, DecodesBothSignaturesAlikeAndRefusesOthers) {
    GifFile gif;
    const toolkit::Image image89 = decodeGif(gif.build());
    ASSERT_FALSE(image89.empty());
    EXPECT_EQ(image89.width(), 4);
    EXPECT_EQ(image89.height(), 2);
    EXPECT_EQ(image89.format(), toolkit::PixelFormat::Bgr24);
    EXPECT_EQ(pixelAt(image89, 1, 0), rgba(255, 0, 0));
    EXPECT_EQ(pixelAt(image89, 3, 0), rgba(0, 0, 255));
    EXPECT_EQ(pixelAt(image89, 1, 1), rgba(0, 255, 0));

    gif.signature = "GIF87a";
    const toolkit::Image image87 = decodeGif(gif.build());
    ASSERT_FALSE(image87.empty());
    EXPECT_EQ(0, std::memcmp(image87.data(), image89.data(), image89.sizeInBytes()));

    gif.signature = "gif89a";
    EXPECT_TRUE(decodeGif(gif.build()).empty());
    gif.signature = "GIF90a";
    EXPECT_TRUE(decodeGif(gif.build()).empty());
    EXPECT_TRUE(decodeGif(Bytes{'G', 'I', 'F', '8', '9', 'a', 1, 0}).empty());
}

TEST(GifDecoder, RefusesMissingTablesAndBadCodeSizes) {
    GifFile gif;
    gif.global.clear();
    EXPECT_TRUE(decodeGif(gif.build()).empty()) << "no colour table at all";
    gif.local = {{1, 2, 3}, {4, 5, 6}};
    gif.pixels = {0, 1, 1, 0, 1, 0, 0, 1};
    EXPECT_FALSE(decodeGif(gif.build()).empty()) << "a local table alone is enough";

    for (const int size : {1, 9, 11}) {
        GifFile bad;
        bad.minCodeSize = size;
        bad.data = {1, 0, 0};
        EXPECT_TRUE(decodeGif(bad.build()).empty()) << "minimum code size " << size;
    }
    GifFile wide;
    wide.width = 0;
    EXPECT_TRUE(decodeGif(wide.build()).empty()) << "zero width";
}

TEST(GifDecoder, WalksExtensionBlocksByTheirLengths) {
    // A comment holding a comma (0x2C) and the graphic control label (0xF9) must not be taken
    // for an image separator or a transparency block.
    GifFile gif;
    gif.beforeImage = comment("a, b \xF9\x01\x02\x03\x04 ,");
    const Bytes app = {0x21, 0xFF, 11, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0',
                       3, 1, 0x2C, 0, 0};
    gif.beforeImage.insert(gif.beforeImage.end(), app.begin(), app.end());
    const toolkit::Image image = decodeGif(gif.build());
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(image.width(), 4);
    EXPECT_EQ(image.format(), toolkit::PixelFormat::Bgr24);
    EXPECT_EQ(pixelAt(image, 3, 0), rgba(0, 0, 255));

    // Stray bytes between blocks are skipped; a file without image yields nothing.
    GifFile stray;
    stray.beforeImage = {0x00, 0x3B, 0x17};
    EXPECT_FALSE(decodeGif(stray.build()).empty());
    Bytes noImage = GifFile{}.build();
    noImage.resize(13 + 12);
    noImage.push_back(0x3B);
    EXPECT_TRUE(decodeGif(noImage).empty());
    // An extension whose sub-blocks run past the end of the file.
    Bytes cut = GifFile{}.build();
    cut.resize(13 + 12);
    cut.insert(cut.end(), {0x21, 0xFE, 200, 'x'});
    EXPECT_TRUE(decodeGif(cut).empty());
}

TEST(GifDecoder, StillImageMakesItsTransparentColourTransparent) {
    GifFile gif;
    gif.global = {{0, 0, 0}, {255, 0, 0}, {0, 255, 0}, {255, 0, 0}}; // 1 and 3 share a colour
    gif.beforeImage = graphicControl(true, 1);
    const toolkit::Image image = decodeGif(gif.build());
    ASSERT_FALSE(image.empty());
    ASSERT_EQ(image.format(), toolkit::PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(image, 0, 0), rgba(0, 0, 0, 255));
    EXPECT_EQ(pixelAt(image, 1, 0), rgba(255, 0, 0, 0));
    EXPECT_EQ(pixelAt(image, 2, 0), rgba(0, 255, 0, 255));
    EXPECT_EQ(pixelAt(image, 3, 0), rgba(255, 0, 0, 0)) << "same colour, other index";

    // The flag of the last graphic control block before the image counts.
    GifFile off = gif;
    off.beforeImage = graphicControl(true, 1);
    const Bytes second = graphicControl(false, 1);
    off.beforeImage.insert(off.beforeImage.end(), second.begin(), second.end());
    EXPECT_EQ(decodeGif(off.build()).format(), toolkit::PixelFormat::Bgr24);
}

TEST(GifDecoder, TransparentIndexAbove127SelectsThatEntry) {
    GifFile gif;
    gif.global.assign(256, PaletteColor{10, 20, 30});
    gif.global[200] = {200, 100, 50};
    gif.minCodeSize = 8;
    gif.pixels = {0, 200, 0, 200, 200, 0, 200, 0};
    gif.beforeImage = graphicControl(true, 200);
    const toolkit::Image image = decodeGif(gif.build());
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(pixelAt(image, 0, 0), rgba(10, 20, 30, 255));
    EXPECT_EQ(pixelAt(image, 1, 0), rgba(200, 100, 50, 0));
}

TEST(GifDecoder, TransparentColourComesFromTheGlobalTable) {
    // The image uses a local table; index 1 names the global table's colour (blue here), so the
    // local colour at index 1 stays opaque and blue pixels turn transparent.
    GifFile gif;
    gif.global = {{0, 0, 0}, {0, 0, 255}};
    gif.local = {{0, 0, 255}, {255, 255, 0}};
    gif.pixels = {0, 1, 0, 1, 1, 0, 1, 0};
    gif.beforeImage = graphicControl(true, 1);
    const toolkit::Image image = decodeGif(gif.build());
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(pixelAt(image, 0, 0), rgba(0, 0, 255, 0));
    EXPECT_EQ(pixelAt(image, 1, 0), rgba(255, 255, 0, 255));

    // Without a global table the transparent colour is black.
    gif.global.clear();
    gif.local = {{0, 0, 0}, {9, 9, 9}};
    const toolkit::Image noGlobal = decodeGif(gif.build());
    ASSERT_FALSE(noGlobal.empty());
    EXPECT_EQ(pixelAt(noGlobal, 0, 0), rgba(0, 0, 0, 0));
    EXPECT_EQ(pixelAt(noGlobal, 1, 0), rgba(9, 9, 9, 255));
}

TEST(GifDecoder, MoreThanFiftyTrailingBytesDropTransparency) {
    GifFile gif;
    gif.beforeImage = graphicControl(true, 1);
    // After the image data come its empty terminating block, the comment and the trailer.
    gif.afterImage = comment(std::string(45, 'c'));
    gif.afterImage.push_back(0x3B); // 51 bytes follow the data

    EXPECT_EQ(decodeGif(gif.build()).format(), toolkit::PixelFormat::Bgr24);
    gif.afterImage = comment(std::string(44, 'c'));
    gif.afterImage.push_back(0x3B); // exactly 50
    EXPECT_EQ(decodeGif(gif.build()).format(), toolkit::PixelFormat::Bgra32);
}

TEST(GifDecoder, InterlacedImageEqualsItsProgressiveTwin) {
    GifFile plain;
    plain.width = 3;
    plain.height = 11;
    plain.pixels.clear();
    for (int y = 0; y < plain.height; ++y) {
        for (int x = 0; x < plain.width; ++x) plain.pixels.push_back(std::uint8_t((y + x) % 4));
    }
    GifFile interlaced = plain;
    interlaced.interlaced = true;
    interlaced.pixels.clear();
    for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
        for (int y = start; y < plain.height; y += step) {
            for (int x = 0; x < plain.width; ++x) {
                interlaced.pixels.push_back(std::uint8_t((y + x) % 4));
            }
        }
    }
    const toolkit::Image a = decodeGif(plain.build());
    const toolkit::Image b = decodeGif(interlaced.build());
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.sizeInBytes()));

    const toolkit::Image hopper = decodeGif(test::readBytes(test::testdata("gif/hopper_resized.gif")));
    EXPECT_EQ(hopper.width(), 64);
}

TEST(GifDecoder, DepthFollowsTheSizeOfTheTableInUse) {
    GifFile two;
    two.global = {{0, 0, 0}, {255, 255, 255}};
    two.pixels = {0, 1, 3, 0, 1, 1, 0, 2}; // values beyond 1 still set the pixel's bit
    auto bitmap = decodeGifBitmap(two.build());
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->dib.bitsPerPixel(), 1);
    EXPECT_EQ(bitmap->dib.paletteSize(), 2);
    const toolkit::Image mono = packedDibToImage(std::move(bitmap->dib));
    EXPECT_EQ(pixelAt(mono, 2, 0), rgba(255, 255, 255));
    EXPECT_EQ(pixelAt(mono, 3, 1), rgba(255, 255, 255));

    GifFile four;
    bitmap = decodeGifBitmap(four.build());
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->dib.bitsPerPixel(), 4);
    EXPECT_EQ(bitmap->dib.paletteSize(), 4);

    GifFile wide;
    wide.global.assign(32, PaletteColor{1, 2, 3});
    wide.minCodeSize = 5;
    wide.pixels.assign(8, 31);
    bitmap = decodeGifBitmap(wide.build());
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->dib.bitsPerPixel(), 8);
    EXPECT_EQ(bitmap->dib.paletteSize(), 32);
}

TEST(GifDecoder, LzwCodesThatRepeatTheirOwnFirstPixel) {
    // clear, 1, then code 6 (the next free slot: "1 1"), then 7 ("1 1 1"); the table reaches
    // 8 entries, so the end code is 4 bits wide.
    GifFile gif;
    gif.width = 6;
    gif.height = 1;
    gif.data = packCodes({{4, 3}, {1, 3}, {6, 3}, {7, 3}, {5, 4}});
    const toolkit::Image image = decodeGif(gif.build());
    ASSERT_FALSE(image.empty());
    for (int x = 0; x < 6; ++x) EXPECT_EQ(pixelAt(image, x, 0), rgba(255, 0, 0)) << x;

    // Real files: a stream full of clear codes, and one that fills the 4096-entry table.
    const toolkit::Image clears = decodeGif(test::readBytes(test::testdata("gif/many-clears.gif")));
    EXPECT_EQ(clears.width(), 8);
    const toolkit::Image big = decodeGif(test::readBytes(test::testdata("gif/test.colors.gif")));
    EXPECT_EQ(big.width(), 807);
}

TEST(GifDecoder, StreamWithoutLeadingClearCodeDecodes) {
    GifFile gif;
    gif.width = 3;
    gif.height = 1;
    // 2, 3, then code 6 = "2 3"; no clear code first.
    gif.data = packCodes({{2, 3}, {3, 3}, {6, 3}, {5, 4}});
    const toolkit::Image image = decodeGif(gif.build());
    ASSERT_FALSE(image.empty());
    gif.width = 4;
    const toolkit::Image four = decodeGif(gif.build());
    ASSERT_FALSE(four.empty());
    EXPECT_EQ(pixelAt(four, 0, 0), rgba(0, 255, 0));
    EXPECT_EQ(pixelAt(four, 1, 0), rgba(0, 0, 255));
    EXPECT_EQ(pixelAt(four, 2, 0), rgba(0, 255, 0));
    EXPECT_EQ(pixelAt(four, 3, 0), rgba(0, 0, 255));
}

TEST(GifDecoder, DataEndingEarlyKeepsTheRowsDecodedSoFar) {
    GifFile gif;
    gif.width = 2;
    gif.height = 3;
    gif.pixels = {1, 1, 2, 2, 3, 3};
    // No end code and no terminating block: the stream ends with the file.
    gif.data = packCodes(literalCodes({1, 1, 2}, 2, false), false);
    gif.afterImage.clear();
    const toolkit::Image image = decodeGif(gif.build());
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(pixelAt(image, 0, 0), rgba(255, 0, 0));
    EXPECT_EQ(pixelAt(image, 1, 0), rgba(255, 0, 0));
    EXPECT_EQ(pixelAt(image, 0, 1), rgba(0, 255, 0)) << "a partly filled row is kept";
    EXPECT_EQ(pixelAt(image, 1, 1), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(image, 0, 2), rgba(0, 0, 0));

    // An empty sub-block ends the data as well, and so does a code beyond the next free slot.
    gif.data = packCodes(literalCodes({1, 1}, 2, false), true);
    gif.afterImage = {0x3B};
    EXPECT_EQ(pixelAt(decodeGif(gif.build()), 1, 0), rgba(255, 0, 0));
    gif.data = packCodes({{4, 3}, {1, 3}, {7, 3}, {2, 3}, {5, 3}});
    const toolkit::Image corrupt = decodeGif(gif.build());
    ASSERT_FALSE(corrupt.empty());
    EXPECT_EQ(pixelAt(corrupt, 0, 0), rgba(255, 0, 0));
    EXPECT_EQ(pixelAt(corrupt, 1, 0), rgba(0, 0, 0));
}

TEST(GifDecoder, AnimationYieldsItsFirstFrameOpaque) {
    const toolkit::Image frame = decodeGif(test::readBytes(test::testdata("gif/mixed-disposal.gif")));
    ASSERT_FALSE(frame.empty());
    EXPECT_EQ(frame.width(), 16) << "the frame's own size, not the screen's";
    EXPECT_EQ(frame.format(), toolkit::PixelFormat::Bgr24);

    const toolkit::Image still = decodeGif(test::readBytes(test::testdata("gif/transparent.gif")));
    ASSERT_FALSE(still.empty());
    EXPECT_EQ(still.format(), toolkit::PixelFormat::Bgra32);
}

} // namespace
} // namespace quill::imagefiles
