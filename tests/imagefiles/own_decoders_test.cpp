// The own GIF, ICO/CUR, PCX, PNM and TGA decoders' deliberate rules and the packed bitmap
// conversion. Pixel decoding itself is compared with ImageMagick in image_loader_oracle_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imagefiles/gif_decoder.h"
#include "imagefiles/ico_decoder.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/packed_dib.h"
#include "imagefiles/pcx_decoder.h"
#include "imagefiles/pnm_decoder.h"
#include "imagefiles/tga_decoder.h"
#include "test_support.h"

namespace quill::imagefiles {
namespace {

using Bytes = std::vector<std::uint8_t>;
using toolkit::PixelFormat;

Bytes fixtureBytes(const std::string& name) {
    return test::readBytes(test::fixture(name));
}
Bytes text(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

std::vector<int> pixelAt(const toolkit::Image& image, int x, int y) {
    const std::uint8_t* p = image.row(y) + std::size_t(x) * image.bytesPerPixel();
    return {p[2], p[1], p[0], image.hasAlpha() ? p[3] : 255};
}

std::vector<int> rgba(int r, int g, int b, int a = 255) {
    return {r, g, b, a};
}

// One byte changed in a valid file makes it undecodable.
TEST(OwnDecoders, BrokenHeadersAreRefused) {
    using Decoder = toolkit::Image (*)(std::span<const std::uint8_t>);
    const struct {
        Decoder decode;
        const char* fixture;
        std::size_t at;
        std::uint8_t value;
        const char* what;
    } cases[] = {
        {decodeGif, "gif/two-colours.gif", 0, 'g', "lower-case signature"},
        {decodeGif, "gif/two-colours.gif", 29, 1, "LZW minimum code size 1"},
        {decodeGif, "gif/two-colours.gif", 29, 9, "LZW minimum code size 9"},
        // Without the flag the table's bytes are skipped as stray bytes before the image.
        {decodeGif, "gif/two-colours.gif", 10, 0, "no colour table"},
        {decodeIco, "ico/masked-entries.ico", 0, 1, "reserved field set"},
        {decodeIco, "ico/masked-entries.ico", 2, 3, "type 3"},
        {decodeIco, "ico/masked-entries.ico", 4, 0, "no entries"},
        {decodeIco, "ico/masked-entries.ico", 4, 200, "directory beyond the file"},
        {decodeIco, "ico/masked-entries.ico", 22 + 15, 0xF0, "image offset beyond the file"},
        {decodeIco, "ico/masked-entries.ico", 102 + 14, 2, "2 bits a pixel in the chosen entry"},
        {decodePcx, "pcx/indexed-run-across-lines.pcx", 0, 11, "manufacturer 11"},
        {decodePcx, "pcx/indexed-run-across-lines.pcx", 1, 6, "version 6"},
        {decodePcx, "pcx/mono-16x2.pcx", 3, 2, "2 bits a pixel"},
        {decodePcx, "pcx/truecolour.pcx", 65, 2, "2 planes of 8 bits"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fixture) + ": " + c.what);
        Bytes bytes = fixtureBytes(c.fixture);
        ASSERT_FALSE(c.decode(bytes).empty());
        bytes.at(c.at) = c.value;
        EXPECT_TRUE(c.decode(bytes).empty());
    }
    const Bytes gif = fixtureBytes("gif/two-colours.gif");
    Bytes gif87 = gif;
    gif87[4] = '7';
    EXPECT_TRUE(test::samePixels(decodeGif(gif87), decodeGif(gif))) << "GIF87a is read alike";
    EXPECT_TRUE(decodeGif(Bytes(gif.begin(), gif.begin() + 12)).empty());
    // An extension that runs past the end of the file leaves no image. (Extension contents that
    // hold 0x2C and 0xF9 are in interlaced-comment-with-comma.gif, compared with ImageMagick.)
    Bytes cut(gif.begin(), gif.begin() + 13 + 6);
    cut.insert(cut.end(), {0x21, 0xFE, 200, 'x'});
    EXPECT_TRUE(decodeGif(cut).empty());
    const Bytes pcx = fixtureBytes("pcx/indexed-run-across-lines.pcx");
    EXPECT_TRUE(decodePcx(Bytes(pcx.begin(), pcx.begin() + 127)).empty());
    for (const char* bad : {"P7 1 1 255 0", "P0 1 1 255 0", "Q6 1 1 255 0", "P6 0 1 255 ", "P6",
                            "P2 1 1 0 0", "P2 1 1 65536 0", "P6 99999999 99999999 255 1"}) {
        EXPECT_TRUE(decodePnm(text(bad)).empty()) << bad;
    }
}

// Pixels that the decoders' own rules decide, where ImageMagick differs or is not asked.
TEST(OwnDecoders, RulesDecideThesePixels) {
    const struct {
        const char* fixture;
        int x, y;
        std::vector<int> pixel;
        const char* rule;
    } cases[] = {
        // Entries 1 and 3 share a colour; the transparent index is 1.
        {"gif/transparent-same-colour.gif", 3, 0, rgba(255, 0, 0, 0), "same colour, transparent"},
        // With a local table the transparent colour is still the global one's (blue here).
        {"gif/transparent-local-table.gif", 0, 0, rgba(0, 0, 255, 0), "global colour"},
        {"gif/transparent-local-table.gif", 1, 0, rgba(255, 255, 0), "local colour of index 1"},
        // More than 50 bytes (a 49-byte comment among them) after the image drop transparency.
        {"gif/transparent-trailing-comment.gif", 1, 0, rgba(255, 0, 0), "transparent index"},
        // Codes for 1 1 | 2 and then the file ends: no end code, no terminating block.
        {"gif/truncated-no-end-code.gif", 0, 1, rgba(0, 255, 0), "a partly filled row is kept"},
        {"gif/truncated-no-end-code.gif", 1, 1, rgba(0, 0, 0), "the rest is black"},
        // A code beyond the next free slot ends the data too.
        {"gif/code-beyond-table.gif", 0, 0, rgba(255, 0, 0), "decoded"},
        {"gif/code-beyond-table.gif", 1, 0, rgba(0, 0, 0), "after the bad code"},
        // 2x2, top row blue and black, both masked; bottom row red and green.
        {"ico/masked-24bit.ico", 0, 0, rgba(0, 0, 0), "masked blue is black"},
        // The 4-bit entry (entry i: red 70i, green 50i, blue 30i), indices 4 5 6 over 1 2 3, with
        // 4 and 2 masked: they take palette entry 0.
        {"ico/masked-entries.ico", 0, 0, rgba(0, 0, 0), "masked index 4"},
        {"ico/alpha-entry.ico", 1, 0, rgba(0, 0, 0, 0), "a 32-bit entry's masked pixel"},
    };
    for (const auto& c : cases) {
        const toolkit::Image image = loadImageFile(test::fixture(c.fixture), FormatKind::None);
        ASSERT_FALSE(image.empty()) << c.fixture;
        EXPECT_EQ(pixelAt(image, c.x, c.y), c.pixel) << c.fixture << ": " << c.rule;
    }
}

// A TGA file: the 18-byte header (no identifier), the colour map of `mapEntryBits` entries
// starting at index `mapFirst`, then the pixel stream.
Bytes tgaFile(int imageType, int width, int height, int pixelBits, int descriptor,
              const Bytes& pixels, const Bytes& map = {}, int mapFirst = 0, int mapEntryBits = 24) {
    const int mapLength = map.empty() ? 0 : int(map.size()) / ((mapEntryBits + 7) / 8);
    Bytes file = {0,
                  std::uint8_t(map.empty() ? 0 : 1),
                  std::uint8_t(imageType),
                  std::uint8_t(mapFirst),
                  std::uint8_t(mapFirst >> 8),
                  std::uint8_t(mapLength),
                  std::uint8_t(mapLength >> 8),
                  std::uint8_t(map.empty() ? 0 : mapEntryBits),
                  0,
                  0,
                  0,
                  0,
                  std::uint8_t(width),
                  std::uint8_t(width >> 8),
                  std::uint8_t(height),
                  std::uint8_t(height >> 8),
                  std::uint8_t(pixelBits),
                  std::uint8_t(descriptor)};
    file.insert(file.end(), map.begin(), map.end());
    file.insert(file.end(), pixels.begin(), pixels.end());
    return file;
}

// The TGA decoder's handling of odd input and of the descriptor's origin and alpha bits, on
// small files made here. Pixels are stored blue, green, red; rows bottom-up unless the
// descriptor says top-down (0x20); 0x10 stores each row right to left.
TEST(TgaDecoder, OriginsAlphaAndOddInputDecideThesePixels) {
    const Bytes red = {0, 0, 255}, green = {0, 255, 0}, blue = {255, 0, 0};
    const auto cat = [](std::initializer_list<Bytes> parts) {
        Bytes all;
        for (const Bytes& p : parts)
            all.insert(all.end(), p.begin(), p.end());
        return all;
    };
    const struct {
        const char* what;
        Bytes file;
        bool alpha;
        int x, y;
        std::vector<int> pixel;
    } cases[] = {
        {"bottom-up: the first pixel is the bottom left",
         tgaFile(2, 2, 2, 24, 0, cat({red, green, blue, blue})), false, 0, 1, rgba(255, 0, 0)},
        {"right to left, top-down: the first pixel is the top right",
         tgaFile(2, 2, 1, 24, 0x30, cat({red, green})), false, 1, 0, rgba(255, 0, 0)},
        // One repeat packet of 3 pixels in a 2-wide image continues on the next row.
        {"a run across the row end", tgaFile(10, 2, 2, 24, 0x20, cat({{0x82}, green, {0x00}, red})),
         false, 0, 1, rgba(0, 255, 0)},
        {"after the run across the row end",
         tgaFile(10, 2, 2, 24, 0x20, cat({{0x82}, green, {0x00}, red})), false, 1, 1,
         rgba(255, 0, 0)},
        {"the stream ends with the file: the rest is zero",
         tgaFile(2, 2, 2, 24, 0x20, cat({red, green, blue})), false, 1, 1, rgba(0, 0, 0)},
        {"a raw packet cut short keeps what it holds",
         tgaFile(10, 2, 1, 24, 0x20, cat({{0x01}, red})), false, 0, 0, rgba(255, 0, 0)},
        {"a map index beyond the map is black", tgaFile(1, 2, 1, 8, 0x20, {0, 7}, green), false, 1,
         0, rgba(0, 0, 0)},
        {"the map starts at its first index", tgaFile(1, 2, 1, 8, 0x20, {0, 2}, blue, 2), false, 1,
         0, rgba(0, 0, 255)},
        {"below the map's first index is black", tgaFile(1, 2, 1, 8, 0x20, {0, 2}, blue, 2), false,
         0, 0, rgba(0, 0, 0)},
        {"a 15-bit map entry widens its five bits",
         tgaFile(1, 1, 1, 8, 0, {0}, {0x1F, 0x7C}, 0, 15), false, 0, 0, rgba(255, 0, 255)},
        // 0x7C1F: red and blue full, green 0; the top bit is the alpha bit.
        {"16 bits with one attribute bit keep it as alpha",
         tgaFile(2, 2, 1, 16, 0x21, {0x1F, 0x7C, 0x1F, 0xFC}), true, 0, 0, rgba(255, 0, 255, 0)},
        {"16 bits with one attribute bit, bit set",
         tgaFile(2, 2, 1, 16, 0x21, {0x1F, 0x7C, 0x1F, 0xFC}), true, 1, 0, rgba(255, 0, 255, 255)},
        {"16 bits without attribute bits are opaque", tgaFile(2, 1, 1, 16, 0x20, {0x1F, 0x7C}),
         false, 0, 0, rgba(255, 0, 255)},
        {"16-bit greyscale is grey and alpha", tgaFile(3, 1, 1, 16, 0x20, {90, 40}), true, 0, 0,
         rgba(90, 90, 90, 40)},
        {"32 bits keep their alpha", tgaFile(2, 1, 1, 32, 0x28, {1, 2, 3, 4}), true, 0, 0,
         rgba(3, 2, 1, 4)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const toolkit::Image image = decodeTga(c.file);
        ASSERT_FALSE(image.empty());
        EXPECT_EQ(image.hasAlpha(), c.alpha);
        EXPECT_EQ(pixelAt(image, c.x, c.y), c.pixel);
    }
    // A file that ends before its first pixel, or within its colour map, is refused.
    EXPECT_TRUE(decodeTga(tgaFile(2, 1, 1, 24, 0, {1, 2})).empty());
    EXPECT_TRUE(decodeTga(tgaFile(10, 1, 1, 24, 0, {0x80, 1, 2})).empty());
    Bytes cutMap = tgaFile(1, 1, 1, 8, 0, {0}, cat({red, green}));
    cutMap.resize(18 + 4);
    EXPECT_TRUE(decodeTga(cutMap).empty());
}

TEST(PackedDib, RefusesBadSizesAndPaintsIndicesBeyondThePaletteBlack) {
    EXPECT_FALSE(PackedDib::create(0, 1, 8));
    EXPECT_FALSE(PackedDib::create(4, 4, 2));
    EXPECT_FALSE(PackedDib::create(4, 4, 8, 257));
    EXPECT_FALSE(PackedDib::create(65535, 65535, 24)) << "beyond the 1 GiB limit";
    auto small = PackedDib::create(2, 1, 4, 2);
    ASSERT_TRUE(small);
    small->setPaletteEntry(1, {1, 2, 3});
    small->imageRow(0)[0] = 0x1F; // indices 1 and 15
    const toolkit::Image nibbles = packedDibToImage(std::move(*small));
    EXPECT_EQ(pixelAt(nibbles, 0, 0), rgba(1, 2, 3));
    EXPECT_EQ(pixelAt(nibbles, 1, 0), rgba(0, 0, 0));
}

TEST(PcxDecoder, MonochromeWithoutPaletteAndFourBitPixels) {
    // mono-16x2.pcx: 1 plane of 1 bit, row 1 holds AA 55 (its pixels are checked against
    // ImageMagick). An empty header palette means bit 0 black and bit 1 white, not all black.
    Bytes mono = fixtureBytes("pcx/mono-16x2.pcx");
    std::fill(mono.begin() + 16, mono.begin() + 22, 0);
    EXPECT_EQ(pixelAt(decodePcx(mono), 0, 1), rgba(255, 255, 255));
    EXPECT_EQ(pixelAt(decodePcx(mono), 1, 1), rgba(0, 0, 0));
    mono[66] = mono[67] = 0;
    EXPECT_FALSE(decodePcx(mono).empty()) << "no bytes per line";

    // Four bits a pixel, the first in a byte's high half: the row 1F 10 takes the header's
    // entries 1 (white), 15 (black) and 1; the second row is a run of zero bytes.
    mono = fixtureBytes("pcx/mono-16x2.pcx");
    mono[3] = 4;
    mono[8] = 5; // x max: 3 pixels a row from x min 3
    mono.resize(128);
    mono.insert(mono.end(), {0x1F, 0x10, 0xC2, 0x00});
    const toolkit::Image four = decodePcx(mono);
    ASSERT_EQ(four.width(), 3);
    EXPECT_EQ(pixelAt(four, 0, 0), rgba(255, 255, 255));
    EXPECT_EQ(pixelAt(four, 1, 0), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(four, 2, 0), rgba(255, 255, 255));
    EXPECT_EQ(pixelAt(four, 2, 1), rgba(0, 0, 0));
}

TEST(PnmDecoder, LenientNumbersAndClampedSamples) {
    const toolkit::Image negative = decodePnm(text("P2 -2 x1 255 7 8"));
    ASSERT_FALSE(negative.empty()) << "junk before a number is skipped";
    EXPECT_EQ(negative.width(), 2);
    EXPECT_EQ(pixelAt(negative, 1, 0), rgba(8, 8, 8));
    EXPECT_TRUE(test::samePixels(decodePnm(text("P1 2 1 0 1")), decodePnm(text("P1 2 1 0 7"))));
    // Scaling by the maximum is compared with ImageMagick on samples; values above it clamp.
    EXPECT_TRUE(test::samePixels(decodePnm(text("P2 1 1 3 3")), decodePnm(text("P2 1 1 3 9"))));
}

// Grey and pix maps are decoded straight into the image; every rule of the packed bitmap they
// used to go through holds: scaling, wide samples, plain numbers, and black for what a short
// file leaves out, down to a pixel that has only some of its samples.
TEST(PnmDecoder, StraightDecodeMatchesThePackedBitmap) {
    const auto raw = [](std::string head, std::vector<std::uint8_t> samples) {
        Bytes bytes = text(head);
        bytes.insert(bytes.end(), samples.begin(), samples.end());
        return bytes;
    };
    const Bytes cases[] = {
        text("P2 3 2 255 0 128 255 7 8 9"),
        text("P3 2 2 15 1 2 3 4 5 6 7 8 9 10 11 12"),
        text("P3 2 2 15 1 2 3 4 5"), // ends within a pixel of the first row
        raw("P5 3 2 255\n", {0, 1, 2, 3, 4, 5}),
        raw("P5 2 2 1000\n", {0x03, 0xE8, 0x01, 0xF4, 0x00, 0x01, 0x04, 0x00}),
        raw("P6 2 2 255\n", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}),
        raw("P6 2 2 255\n", {1, 2, 3, 4, 5, 6, 7, 8}), // ends within the second row's pixel
        raw("P6 3 1 255\n", {}),
        raw("P6 1 2 100\n", {50, 100, 200, 1, 2, 3}),
        raw("P6 2 1 65535\n", {0xFF, 0xFF, 0, 0, 0x80, 0, 1, 2, 3, 4, 5}),
    };
    for (const Bytes& bytes : cases) {
        SCOPED_TRACE(std::string(bytes.begin(),
                                 bytes.begin() + std::min<std::ptrdiff_t>(12, std::ssize(bytes))));
        auto dib = decodePnmBitmap(bytes);
        ASSERT_TRUE(dib.has_value());
        EXPECT_TRUE(test::samePixels(decodePnm(bytes), packedDibToImage(std::move(*dib))));
    }
}

} // namespace
} // namespace quill::imagefiles
