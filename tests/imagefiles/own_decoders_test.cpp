// The own GIF, ICO/CUR, PCX and PNM decoders' deliberate rules and the packed bitmap conversion.
// Pixel decoding itself is compared with ImageMagick in image_loader_oracle_test.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imagefiles/gif_decoder.h"
#include "imagefiles/ico_decoder.h"
#include "imagefiles/packed_dib.h"
#include "imagefiles/pcx_decoder.h"
#include "imagefiles/pnm_decoder.h"
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

// Offset of the LZW minimum code size in a file with a global table and no extensions.
std::size_t codeSizeOffset(const Bytes& gif) {
    return 13 + 3 * (2u << (gif[10] & 7)) + 10;
}

TEST(GifDecoder, SignaturesCodeSizesAndTables) {
    const Bytes gif89 = fixtureBytes("gif/two-colours.gif");
    const toolkit::Image reference = decodeGif(gif89);
    ASSERT_FALSE(reference.empty());

    Bytes gif87 = gif89;
    gif87[4] = '7';
    EXPECT_TRUE(test::samePixels(decodeGif(gif87), reference));

    Bytes lower = gif89;
    lower[0] = 'g';
    EXPECT_TRUE(decodeGif(lower).empty());
    EXPECT_TRUE(decodeGif(Bytes(gif89.begin(), gif89.begin() + 12)).empty());

    for (const int size : {1, 9, 11}) {
        Bytes bad = gif89;
        bad[codeSizeOffset(bad)] = std::uint8_t(size);
        EXPECT_TRUE(decodeGif(bad).empty()) << "minimum code size " << size;
    }
    Bytes noTable = gif89;
    noTable[10] &= 0x7F; // the table's bytes are now skipped as stray bytes before the image
    EXPECT_TRUE(decodeGif(noTable).empty());
    // An extension that runs past the end of the file leaves no image. (Extension contents that
    // hold 0x2C and 0xF9 are in interlaced-comment-with-comma.gif, compared with ImageMagick.)
    Bytes cut(gif89.begin(), gif89.begin() + 13 + 6);
    cut.insert(cut.end(), {0x21, 0xFE, 200, 'x'});
    EXPECT_TRUE(decodeGif(cut).empty());

    // Depth follows the size of the table in use.
    auto bitmap = decodeGifBitmap(gif89);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->dib.bitsPerPixel(), 1);
    bitmap = decodeGifBitmap(fixtureBytes("gif/runs-lzw.gif"));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->dib.bitsPerPixel(), 4) << "4 entries";
    bitmap = decodeGifBitmap(test::readBytes(test::testdata("gif/hopper.gif")));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->dib.bitsPerPixel(), 8);
}

TEST(GifDecoder, TransparencyIsByColourFromTheGlobalTable) {
    // Entries 1 and 3 share a colour; the transparent index is 1.
    const toolkit::Image same = decodeGif(fixtureBytes("gif/transparent-same-colour.gif"));
    ASSERT_EQ(same.format(), PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(same, 0, 0), rgba(0, 0, 0, 255));
    EXPECT_EQ(pixelAt(same, 1, 0), rgba(255, 0, 0, 0));
    EXPECT_EQ(pixelAt(same, 2, 0), rgba(0, 255, 0, 255));
    EXPECT_EQ(pixelAt(same, 3, 0), rgba(255, 0, 0, 0));

    // With a local table the colour still comes from the global one (blue here): the local
    // colour of index 1 stays opaque, the blue pixels turn transparent.
    const toolkit::Image local = decodeGif(fixtureBytes("gif/transparent-local-table.gif"));
    ASSERT_EQ(local.format(), PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(local, 0, 0), rgba(0, 0, 255, 0));
    EXPECT_EQ(pixelAt(local, 1, 0), rgba(255, 255, 0, 255));

    // (transparent-index-200.gif, compared with ImageMagick, has an index above 127.)
    // The flag of the last graphic control block before the image counts.
    Bytes off = fixtureBytes("gif/transparent-same-colour.gif");
    const std::size_t control = 13 + 12;
    ASSERT_EQ(off[control + 1], 0xF9);
    off.insert(off.begin() + std::ptrdiff_t(control + 8), off.begin() + std::ptrdiff_t(control),
               off.begin() + std::ptrdiff_t(control + 8));
    off[control + 8 + 3] = 0;
    EXPECT_EQ(decodeGif(off).format(), PixelFormat::Bgr24);
}

TEST(GifDecoder, MoreThanFiftyTrailingBytesDropTransparency) {
    // 51 bytes follow the image data: its empty block, a 49-byte comment and the trailer.
    const Bytes trailing = fixtureBytes("gif/transparent-trailing-comment.gif");
    EXPECT_EQ(decodeGif(trailing).format(), PixelFormat::Bgr24);
    Bytes fifty = trailing;
    fifty.pop_back();
    EXPECT_EQ(decodeGif(fifty).format(), PixelFormat::Bgra32);

    const toolkit::Image frame =
        decodeGif(test::readBytes(test::testdata("gif/mixed-disposal.gif")));
    EXPECT_EQ(frame.width(), 16) << "the first frame at its own size";
    EXPECT_EQ(frame.format(), PixelFormat::Bgr24);
}

TEST(GifDecoder, DataEndingEarlyKeepsTheRowsDecodedSoFar) {
    // Codes for 1 1 | 2 and then the file ends: no end code, no terminating block.
    const toolkit::Image cut = decodeGif(fixtureBytes("gif/truncated-no-end-code.gif"));
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(pixelAt(cut, 1, 0), rgba(255, 0, 0));
    EXPECT_EQ(pixelAt(cut, 0, 1), rgba(0, 255, 0)) << "a partly filled row is kept";
    EXPECT_EQ(pixelAt(cut, 1, 1), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(cut, 0, 2), rgba(0, 0, 0));

    // A code beyond the next free slot ends the data too.
    const toolkit::Image corrupt = decodeGif(fixtureBytes("gif/code-beyond-table.gif"));
    ASSERT_FALSE(corrupt.empty());
    EXPECT_EQ(pixelAt(corrupt, 0, 0), rgba(255, 0, 0));
    EXPECT_EQ(pixelAt(corrupt, 1, 0), rgba(0, 0, 0));
}

TEST(PackedDib, ConvertsDepthsTheDecodersRarelyProduce) {
    auto high = PackedDib::create(1, 1, 16); // 5 bits a channel, widened to 0..255
    ASSERT_TRUE(high);
    high->imageRow(0)[0] = 0x1F;
    high->imageRow(0)[1] = 0x10 << 2;
    EXPECT_EQ(pixelAt(packedDibToImage(std::move(*high)), 0, 0), rgba(132, 0, 255));

    auto deep = PackedDib::create(1, 1, 32);
    ASSERT_TRUE(deep);
    std::memcpy(deep->imageRow(0).data(), "\x01\x02\x03\x04", 4);
    const toolkit::Image alpha = packedDibToImage(std::move(*deep));
    ASSERT_EQ(alpha.format(), PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(alpha, 0, 0), rgba(3, 2, 1, 4));

    auto small = PackedDib::create(2, 1, 4, 2); // index 15 lies beyond the palette: black
    ASSERT_TRUE(small);
    small->setPaletteEntry(1, {1, 2, 3});
    small->imageRow(0)[0] = 0x1F;
    const toolkit::Image nibbles = packedDibToImage(std::move(*small));
    EXPECT_EQ(pixelAt(nibbles, 0, 0), rgba(1, 2, 3));
    EXPECT_EQ(pixelAt(nibbles, 1, 0), rgba(0, 0, 0));
}

TEST(PackedDib, RefusesBadHeadersAndSizes) {
    EXPECT_FALSE(PackedDib::create(0, 1, 8));
    EXPECT_FALSE(PackedDib::create(4, 4, 2));
    EXPECT_FALSE(PackedDib::create(4, 4, 8, 257));
    EXPECT_FALSE(PackedDib::create(65535, 65535, 24)) << "beyond the 1 GiB limit";

    auto dib = PackedDib::create(2, 2, 24);
    ASSERT_TRUE(dib);
    const Bytes good(dib->bytes().begin(), dib->bytes().end());
    EXPECT_FALSE(packedDibToImage(PackedDib::adopt(good)).empty());
    for (const auto& [at, value] : {std::pair{0, 12}, {12, 2}, {14, 7}, {16, 1}, {32, 9}}) {
        Bytes block = good;
        block[std::size_t(at)] = std::uint8_t(value);
        EXPECT_TRUE(packedDibToImage(PackedDib::adopt(block)).empty()) << "byte " << at;
    }
    EXPECT_TRUE(packedDibToImage(PackedDib::adopt(Bytes(good.begin(), good.end() - 1))).empty());
}

// masked-24bit.ico: 2x2, top row blue and black, both masked; bottom row red and green.
TEST(IcoDecoder, MaskedPixelsBecomeBlackOrPaletteEntryZero) {
    const toolkit::Image image = decodeIco(fixtureBytes("ico/masked-24bit.ico"));
    ASSERT_EQ(image.format(), PixelFormat::Bgr24);
    EXPECT_EQ(pixelAt(image, 0, 0), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(image, 1, 0), rgba(0, 0, 0));

    auto dib = decodeIconBitmap(fixtureBytes("ico/masked-24bit.ico"), -1,
                                toolkit::Rgba::fromChannels(1, 2, 3),
                                toolkit::Rgba::fromChannels(7, 8, 9));
    ASSERT_TRUE(dib);
    const toolkit::Image other = packedDibToImage(std::move(*dib));
    EXPECT_EQ(pixelAt(other, 0, 0), rgba(7, 8, 9)) << "masked colour";
    EXPECT_EQ(pixelAt(other, 1, 0), rgba(1, 2, 3)) << "masked zero";

    // The 4-bit entry (entry i: red 70i, green 50i, blue 30i), indices 4 5 6 over 1 2 3, with
    // 4 and 2 masked: they take palette entry 0, or the given indices.
    const toolkit::Image paletted = decodeIco(fixtureBytes("ico/masked-entries.ico"));
    ASSERT_EQ(paletted.width(), 3);
    EXPECT_EQ(pixelAt(paletted, 0, 0), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(paletted, 1, 1), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(paletted, 0, 1), rgba(70, 50, 30));
    dib = decodeIconBitmap(fixtureBytes("ico/masked-entries.ico"), -1, toolkit::Rgba{1},
                           toolkit::Rgba{3});
    ASSERT_TRUE(dib);
    EXPECT_EQ(pixelAt(packedDibToImage(std::move(*dib)), 0, 0), rgba(210, 150, 90));

    // A 32-bit entry keeps its alpha; its masked pixel is black.
    const toolkit::Image alpha = decodeIco(fixtureBytes("ico/alpha-entry.ico"));
    ASSERT_EQ(alpha.format(), PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(alpha, 1, 0), rgba(0, 0, 0, 0));
}

TEST(IcoDecoder, EntryChoiceAndHeaderChecks) {
    // The 3x2 4-bit entry occupies more bytes than the 2x2 24-bit one that comes first (the
    // decode of the larger one is compared with ImageMagick).
    const Bytes icon = fixtureBytes("ico/masked-entries.ico");
    auto first = decodeIconBitmap(icon, 0, {}, {});
    ASSERT_TRUE(first);
    EXPECT_EQ(first->bitsPerPixel(), 24);
    auto outOfRange = decodeIconBitmap(icon, 7, {}, {});
    ASSERT_TRUE(outOfRange);
    EXPECT_EQ(outOfRange->bitsPerPixel(), 24);
    Bytes tie = icon;
    std::memcpy(tie.data() + 6 + 8, tie.data() + 22 + 8, 4); // equal byte counts: first wins
    EXPECT_EQ(decodeIco(tie).width(), 2);

    EXPECT_TRUE(
        test::samePixels(decodeIco(fixtureBytes("ico/masked-entries.cur")), decodeIco(icon)));
    const auto broken = [&](std::size_t at, std::uint8_t value) {
        Bytes bad = icon;
        bad[at] = value;
        return decodeIco(bad).empty();
    };
    EXPECT_TRUE(broken(2, 3)) << "type 3";
    EXPECT_TRUE(broken(4, 0)) << "no entries";
    EXPECT_TRUE(broken(0, 1)) << "reserved";
    EXPECT_TRUE(broken(4, 200)) << "directory beyond the file";
    EXPECT_TRUE(broken(22 + 15, 0xF0)) << "image offset beyond the file";
    EXPECT_TRUE(broken(102 + 14, 2)) << "2 bits a pixel"; // the second entry's header
}

TEST(IcoDecoder, TruncatedEntryAndPngEntry) {
    Bytes icon = fixtureBytes("ico/masked-24bit.ico");
    icon.resize(icon.size() - 16); // the mask and the top colour row are gone
    const toolkit::Image cut = decodeIco(icon);
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(pixelAt(cut, 0, 1), rgba(255, 0, 0));
    EXPECT_EQ(pixelAt(cut, 0, 0), rgba(0, 0, 0));

    const Bytes png = test::readBytes(test::testdata("ico/png-32bpp-alpha.ico"));
    const toolkit::Image image = decodeIco(png);
    EXPECT_EQ(image.width(), 32);
    EXPECT_EQ(image.format(), PixelFormat::Bgra32);
    EXPECT_FALSE(decodeIconBitmap(png, -1, {}, {})) << "no packed bitmap for PNG data";
}

// indexed-run-across-lines.pcx: 3x2, 8 bits, bytes per line 4, runs 200 200 200 1 | 2 250 250 3.
TEST(PcxDecoder, PaletteAtTheEndOnlyForVersionFive) {
    // Version 5 reads the palette at the end (compared with ImageMagick); version 3 the header's.
    Bytes pcx = fixtureBytes("pcx/indexed-run-across-lines.pcx");
    pcx[1] = 3;
    const toolkit::Image v3 = decodePcx(pcx);
    ASSERT_FALSE(v3.empty());
    EXPECT_EQ(pixelAt(v3, 0, 1), rgba(32, 80, 223)) << "header colour 2";
    EXPECT_EQ(pixelAt(v3, 0, 0), rgba(0, 0, 0)) << "index 200 lies beyond 16 colours";

    pcx[1] = 6;
    EXPECT_TRUE(decodePcx(pcx).empty());
    pcx[1] = 5;
    pcx[0] = 11;
    EXPECT_TRUE(decodePcx(pcx).empty());
    EXPECT_TRUE(decodePcx(Bytes(pcx.begin(), pcx.begin() + 127)).empty());

    // Cut after the first scan line: the second row stays at palette entry 0 (blue).
    Bytes cut = fixtureBytes("pcx/indexed-run-across-lines.pcx");
    cut.resize(128 + 3);
    cut[1] = 3;
    const toolkit::Image partial = decodePcx(cut);
    ASSERT_FALSE(partial.empty());
    EXPECT_EQ(pixelAt(partial, 0, 1), rgba(0, 0, 255));
}

TEST(PcxDecoder, MonochromeAndAlphaDecodeOtherLayoutsFail) {
    // mono-16x2.pcx: 1 plane of 1 bit, row 1 holds AA 55 (its pixels are checked against
    // ImageMagick). An empty header palette means bit 0 black and bit 1 white, not all black.
    Bytes mono = fixtureBytes("pcx/mono-16x2.pcx");
    const auto white = rgba(255, 255, 255);
    const auto black = rgba(0, 0, 0);
    for (int i = 16; i < 22; ++i)
        mono[std::size_t(i)] = 0;
    EXPECT_EQ(pixelAt(decodePcx(mono), 0, 1), white);
    EXPECT_EQ(pixelAt(decodePcx(mono), 1, 1), black);
    mono[3] = 2;
    EXPECT_TRUE(decodePcx(mono).empty()) << "2 bits a pixel";
    mono[3] = 8;
    mono[65] = 4;
    EXPECT_EQ(decodePcx(mono).format(), PixelFormat::Bgra32) << "4 planes of 8 bits";
    mono[65] = 2;
    EXPECT_TRUE(decodePcx(mono).empty()) << "2 planes of 8 bits";
    mono[65] = 1;
    mono[66] = mono[67] = 0;
    EXPECT_FALSE(decodePcx(mono).empty()) << "no bytes per line";
}

TEST(PcxDecoder, OnePlaneOfFourBitsIsSixteenColours) {
    // 3x2 pixels, two a byte (first in the high half), 2 bytes a line; colours from the header.
    Bytes pcx(128, 0);
    pcx[0] = 10;
    pcx[1] = 5;
    pcx[2] = 1;
    pcx[3] = 4;  // bits per plane
    pcx[8] = 2;  // x max
    pcx[10] = 1; // y max
    pcx[65] = 1; // planes
    pcx[66] = 2; // bytes per line
    for (int i = 0; i < 16; ++i) {
        pcx[std::size_t(16 + 3 * i)] = std::uint8_t(16 * i);
        pcx[std::size_t(17 + 3 * i)] = std::uint8_t(255 - 16 * i);
        pcx[std::size_t(18 + 3 * i)] = 7;
    }
    for (std::uint8_t byte : {0x1F, 0x2F, 0xC2, 0x00})
        pcx.push_back(byte); // 1F 2F | 00 00
    const toolkit::Image image = decodePcx(pcx);
    ASSERT_EQ(image.width(), 3);
    ASSERT_EQ(image.height(), 2);
    EXPECT_EQ(pixelAt(image, 0, 0), rgba(16, 239, 7));
    EXPECT_EQ(pixelAt(image, 1, 0), rgba(240, 15, 7));
    EXPECT_EQ(pixelAt(image, 2, 0), rgba(32, 223, 7));
    EXPECT_EQ(pixelAt(image, 2, 1), rgba(0, 255, 7));
}

TEST(PnmDecoder, SignatureAndHeaderRules) {
    for (const char* bad : {"P7 1 1 255 0", "P0 1 1 255 0", "Q6 1 1 255 0", "P6 0 1 255 ", "P6",
                            "P2 1 1 0 0", "P2 1 1 65536 0", "P6 99999999 99999999 255 1"}) {
        EXPECT_TRUE(decodePnm(text(bad)).empty()) << bad;
    }
    const toolkit::Image negative = decodePnm(text("P2 -2 x1 255 7 8"));
    ASSERT_FALSE(negative.empty()) << "junk before a number is skipped";
    EXPECT_EQ(negative.width(), 2);
    EXPECT_EQ(pixelAt(negative, 1, 0), rgba(8, 8, 8));
    EXPECT_TRUE(test::samePixels(decodePnm(text("P1 2 1 0 1")), decodePnm(text("P1 2 1 0 7"))));
    // Scaling by the maximum is compared with ImageMagick on samples; values above it clamp.
    EXPECT_TRUE(test::samePixels(decodePnm(text("P2 1 1 3 3")), decodePnm(text("P2 1 1 3 9"))));
}

} // namespace
} // namespace quill::imagefiles
