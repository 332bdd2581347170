// The own ICO/CUR, PCX and PNM decoders and the packed bitmap conversion, on small files built
// here and on third-party samples.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imagefiles/ico_decoder.h"
#include "imagefiles/packed_dib.h"
#include "imagefiles/pcx_decoder.h"
#include "imagefiles/pnm_decoder.h"
#include "test_support.h"

namespace quill::imagefiles {
namespace {

using Bytes = std::vector<std::uint8_t>;
using toolkit::PixelFormat;

void putU16(Bytes& out, std::size_t at, int v) {
    out[at] = std::uint8_t(v);
    out[at + 1] = std::uint8_t(v >> 8);
}

void putU32(Bytes& out, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = std::uint8_t(v >> (8 * i));
}

std::vector<int> pixelAt(const toolkit::Image& image, int x, int y) {
    const std::uint8_t* p = image.row(y) + std::size_t(x) * image.bytesPerPixel();
    return {p[2], p[1], p[0], image.hasAlpha() ? p[3] : 255};
}

std::vector<int> rgba(int r, int g, int b, int a = 255) { return {r, g, b, a}; }

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ---------------------------------------------------------------------------------------------
// Packed bitmap

TEST(PackedDib, ConvertsEveryDepthTopRowFirst) {
    // 1 bit: a two-row image with a palette; row 0 of the image is the last stored row.
    auto mono = PackedDib::create(9, 2, 1);
    ASSERT_TRUE(mono);
    mono->setPaletteEntry(0, {10, 20, 30});
    mono->setPaletteEntry(1, {200, 210, 220});
    mono->imageRow(0)[0] = 0x80; // first pixel set
    mono->imageRow(1)[1] = 0x80; // ninth pixel of the bottom row
    EXPECT_EQ(mono->bytes().size(), 40u + 8 + 2 * 4);
    const toolkit::Image a = packedDibToImage(std::move(*mono));
    ASSERT_EQ(a.format(), PixelFormat::Bgr24);
    EXPECT_EQ(pixelAt(a, 0, 0), rgba(200, 210, 220));
    EXPECT_EQ(pixelAt(a, 1, 0), rgba(10, 20, 30));
    EXPECT_EQ(pixelAt(a, 8, 1), rgba(200, 210, 220));

    // 4 bits, first pixel in the high nibble; an index beyond the palette gives black.
    auto nibbles = PackedDib::create(3, 1, 4, 2);
    ASSERT_TRUE(nibbles);
    EXPECT_EQ(nibbles->paletteSize(), 2);
    nibbles->setPaletteEntry(1, {1, 2, 3});
    nibbles->imageRow(0)[0] = 0x1F;
    nibbles->imageRow(0)[1] = 0x10;
    const toolkit::Image b = packedDibToImage(std::move(*nibbles));
    EXPECT_EQ(pixelAt(b, 0, 0), rgba(1, 2, 3));
    EXPECT_EQ(pixelAt(b, 1, 0), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(b, 2, 0), rgba(1, 2, 3));

    // 16 bits: 5 bits a channel, widened to the full 0..255 range.
    auto high = PackedDib::create(1, 1, 16);
    ASSERT_TRUE(high);
    high->imageRow(0)[0] = 0x1F;                       // blue 31
    high->imageRow(0)[1] = std::uint8_t(0x10 << 2);    // red 16
    EXPECT_EQ(pixelAt(packedDibToImage(std::move(*high)), 0, 0), rgba(132, 0, 255));

    // 32 bits keep their alpha.
    auto deep = PackedDib::create(1, 1, 32);
    ASSERT_TRUE(deep);
    const std::uint8_t px[4] = {1, 2, 3, 4};
    std::memcpy(deep->imageRow(0).data(), px, 4);
    const toolkit::Image d = packedDibToImage(std::move(*deep));
    ASSERT_EQ(d.format(), PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(d, 0, 0), rgba(3, 2, 1, 4));
}

TEST(PackedDib, RefusesBadHeadersAndSizes) {
    EXPECT_FALSE(PackedDib::create(0, 1, 8));
    EXPECT_FALSE(PackedDib::create(1, -1, 8));
    EXPECT_FALSE(PackedDib::create(4, 4, 2));
    EXPECT_FALSE(PackedDib::create(4, 4, 8, 257));
    EXPECT_FALSE(PackedDib::create(65535, 65535, 24)) << "beyond the 1 GiB limit";

    auto dib = PackedDib::create(2, 2, 24);
    ASSERT_TRUE(dib);
    const Bytes good(dib->bytes().begin(), dib->bytes().end());
    EXPECT_FALSE(packedDibToImage(PackedDib::adopt(good)).empty());
    const auto broken = [&](std::size_t at, std::uint8_t value) {
        Bytes block = good;
        block[at] = value;
        return packedDibToImage(PackedDib::adopt(block)).empty();
    };
    EXPECT_TRUE(broken(0, 12)) << "header size";
    EXPECT_TRUE(broken(12, 2)) << "planes";
    EXPECT_TRUE(broken(14, 7)) << "bits";
    EXPECT_TRUE(broken(16, 1)) << "compression";
    Bytes shortBlock = good;
    shortBlock.pop_back();
    EXPECT_TRUE(packedDibToImage(PackedDib::adopt(shortBlock)).empty());
    EXPECT_TRUE(packedDibToImage(PackedDib::adopt(Bytes(10, 0))).empty());
}

TEST(PackedDib, TransparentColourGivesAlphaZeroByColour) {
    toolkit::Image image(2, 1, PixelFormat::Bgr24);
    image.row(0)[0] = 3; // blue
    image.row(0)[1] = 2;
    image.row(0)[2] = 1; // red
    ASSERT_TRUE(applyTransparentColor(image, {1, 2, 3}));
    ASSERT_EQ(image.format(), PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(image, 0, 0), rgba(1, 2, 3, 0));
    EXPECT_EQ(pixelAt(image, 1, 0), rgba(0, 0, 0, 255));
}

// ---------------------------------------------------------------------------------------------
// ICO and CUR

struct IconEntry {
    int width = 2;
    int height = 2;
    int bits = 24;
    Bytes palette;   // 4 bytes an entry
    Bytes colour;    // stored rows, bottom first
    Bytes mask;      // stored rows, bottom first
    int extraBytes = 0; // padding that makes the entry "bigger" in the directory
};

Bytes buildIcon(const std::vector<IconEntry>& entries, int type = 1) {
    Bytes out(6 + 16 * entries.size(), 0);
    putU16(out, 2, type);
    putU16(out, 4, int(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const IconEntry& e = entries[i];
        Bytes image(40, 0);
        putU32(image, 0, 40);
        putU32(image, 4, std::uint32_t(e.width));
        putU32(image, 8, std::uint32_t(2 * e.height));
        putU16(image, 12, 1);
        putU16(image, 14, e.bits);
        image.insert(image.end(), e.palette.begin(), e.palette.end());
        image.insert(image.end(), e.colour.begin(), e.colour.end());
        image.insert(image.end(), e.mask.begin(), e.mask.end());
        image.resize(image.size() + std::size_t(e.extraBytes), 0);
        out[6 + 16 * i] = std::uint8_t(e.width);
        out[6 + 16 * i + 1] = std::uint8_t(e.height);
        putU32(out, 6 + 16 * i + 8, std::uint32_t(image.size()));
        putU32(out, 6 + 16 * i + 12, std::uint32_t(out.size()));
        out.insert(out.end(), image.begin(), image.end());
    }
    return out;
}

// A 2x2 24-bit entry: bottom row blue, white; top row red, black. The mask hides the top-left
// pixel (red) and the top-right one (black).
IconEntry masked24() {
    IconEntry e;
    e.colour = {255, 0, 0, 255, 255, 255, 0, 0,  // bottom row, padded to 8 bytes
                0, 0, 255, 0, 0, 0, 0, 0};       // top row
    e.mask = {0, 0, 0, 0, 0xC0, 0, 0, 0};
    return e;
}

TEST(IcoDecoder, MaskedPixelsBecomeBlackOrPaletteEntryZero) {
    const toolkit::Image image = decodeIco(buildIcon({masked24()}));
    ASSERT_FALSE(image.empty());
    ASSERT_EQ(image.format(), PixelFormat::Bgr24);
    EXPECT_EQ(pixelAt(image, 0, 0), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(image, 1, 0), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(image, 0, 1), rgba(0, 0, 255));
    EXPECT_EQ(pixelAt(image, 1, 1), rgba(255, 255, 255));

    // Other mask colours: zero pixels get the first, all others the second.
    auto dib = decodeIconBitmap(buildIcon({masked24()}), -1, toolkit::Rgba::fromChannels(1, 2, 3),
                                toolkit::Rgba::fromChannels(7, 8, 9));
    ASSERT_TRUE(dib);
    const toolkit::Image coloured = packedDibToImage(std::move(*dib));
    EXPECT_EQ(pixelAt(coloured, 0, 0), rgba(7, 8, 9));
    EXPECT_EQ(pixelAt(coloured, 1, 0), rgba(1, 2, 3));

    // A 4-bit entry: masked pixels take palette entry 0, whatever its colour.
    IconEntry paletted;
    paletted.bits = 4;
    paletted.palette.assign(64, 0);
    paletted.palette[0] = 50;                      // entry 0: blue 50
    paletted.palette[4 * 3 + 2] = 99;              // entry 3: red 99
    paletted.colour = {0x33, 0, 0, 0, 0x33, 0, 0, 0};
    paletted.mask = {0, 0, 0, 0, 0x80, 0, 0, 0};
    const toolkit::Image four = decodeIco(buildIcon({paletted}));
    ASSERT_FALSE(four.empty());
    EXPECT_EQ(pixelAt(four, 0, 0), rgba(0, 0, 50));
    EXPECT_EQ(pixelAt(four, 1, 0), rgba(99, 0, 0));
}

TEST(IcoDecoder, ThirtyTwoBitEntryKeepsItsAlpha) {
    IconEntry e;
    e.width = 1;
    e.height = 1;
    e.bits = 32;
    e.colour = {10, 20, 30, 128};
    e.mask = {0x80, 0, 0, 0};
    const toolkit::Image image = decodeIco(buildIcon({e}));
    ASSERT_EQ(image.format(), PixelFormat::Bgra32);
    EXPECT_EQ(pixelAt(image, 0, 0), rgba(0, 0, 0, 128)) << "colour masked, alpha kept";
}

TEST(IcoDecoder, PicksTheEntryWithTheMostBytes) {
    IconEntry small = masked24();
    IconEntry wide = masked24();
    wide.width = 1;
    wide.colour = {0, 255, 0, 0, 0, 255, 0, 0};
    wide.mask.assign(8, 0);
    wide.extraBytes = 100;
    EXPECT_EQ(decodeIco(buildIcon({small, wide})).width(), 1);
    EXPECT_EQ(decodeIco(buildIcon({wide, small})).width(), 1);
    wide.extraBytes = 0;
    wide.colour.resize(16, 0); // 1 pixel wide, but as many bytes as the 2x2 entry: first wins
    wide.mask.resize(8, 0);
    EXPECT_EQ(decodeIco(buildIcon({small, wide})).width(), 2);

    auto chosen = decodeIconBitmap(buildIcon({small, wide}), 1, {}, {});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->width(), 1);
    chosen = decodeIconBitmap(buildIcon({wide, small}), 9, {}, {});
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->width(), 1) << "an index out of range picks the first entry";

    const toolkit::Image sample = decodeIco(
        test::readBytes(test::testdata("ico/multiple_entries_with_different_bit_depth.ico")));
    EXPECT_EQ(sample.width(), 48);
    EXPECT_EQ(sample.format(), PixelFormat::Bgra32);
}

TEST(IcoDecoder, CursorDecodesLikeIconAndBadHeadersFail) {
    const Bytes icon = buildIcon({masked24()});
    const Bytes cursor = buildIcon({masked24()}, 2);
    const toolkit::Image a = decodeIco(icon);
    const toolkit::Image b = decodeIco(cursor);
    ASSERT_FALSE(b.empty());
    EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.sizeInBytes()));

    EXPECT_TRUE(decodeIco(buildIcon({masked24()}, 3)).empty());
    EXPECT_TRUE(decodeIco(buildIcon({})).empty()) << "no entries";
    Bytes reserved = icon;
    reserved[0] = 1;
    EXPECT_TRUE(decodeIco(reserved).empty());
    Bytes badOffset = icon;
    putU32(badOffset, 6 + 12, 0xFFFFFFF0u);
    EXPECT_TRUE(decodeIco(badOffset).empty());
    Bytes badDepth = icon;
    putU16(badDepth, 22 + 14, 2);
    EXPECT_TRUE(decodeIco(badDepth).empty());
    Bytes directoryCut = icon;
    putU16(directoryCut, 4, 500);
    EXPECT_TRUE(decodeIco(directoryCut).empty());
}

TEST(IcoDecoder, TruncatedEntryKeepsItsStoredRows) {
    Bytes icon = buildIcon({masked24()});
    icon.resize(icon.size() - 8 - 8); // the mask and the top colour row are gone
    const toolkit::Image image = decodeIco(icon);
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(pixelAt(image, 0, 1), rgba(0, 0, 255));
    EXPECT_EQ(pixelAt(image, 0, 0), rgba(0, 0, 0));
}

TEST(IcoDecoder, PngEntryGoesToThePngDecoder) {
    const toolkit::Image image = decodeIco(test::readBytes(test::testdata("ico/png-32bpp-alpha.ico")));
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(image.width(), 32);
    EXPECT_EQ(image.format(), PixelFormat::Bgra32);
    EXPECT_FALSE(decodeIconBitmap(test::readBytes(test::testdata("ico/png-32bpp-alpha.ico")), -1,
                                  {}, {}));
}

// ---------------------------------------------------------------------------------------------
// PCX

struct PcxFile {
    int version = 5;
    int bitsPerPlane = 8;
    int planes = 1;
    int width = 4;
    int height = 2;
    int bytesPerLine = 4;
    Bytes headerPalette; // up to 48 bytes
    Bytes data;          // run-length coded scan lines
    Bytes vgaPalette;    // 768 bytes appended after a 12, when not empty

    Bytes build() const {
        Bytes out(128, 0);
        out[0] = 10;
        out[1] = std::uint8_t(version);
        out[2] = 1;
        out[3] = std::uint8_t(bitsPerPlane);
        putU16(out, 4, 10);
        putU16(out, 6, 20);
        putU16(out, 8, 10 + width - 1);
        putU16(out, 10, 20 + height - 1);
        std::copy(headerPalette.begin(), headerPalette.end(), out.begin() + 16);
        out[65] = std::uint8_t(planes);
        putU16(out, 66, bytesPerLine);
        out.insert(out.end(), data.begin(), data.end());
        if (!vgaPalette.empty()) {
            out.push_back(12);
            out.insert(out.end(), vgaPalette.begin(), vgaPalette.end());
        }
        return out;
    }
};

TEST(PcxDecoder, EightBitPaletteComesFromTheEndOnlyInVersionFive) {
    PcxFile pcx;
    pcx.data = {0xC4, 1, 0, 1, 2, 3}; // a run of four 1s, then 0 1 2 3
    pcx.headerPalette.assign(48, 0);
    pcx.headerPalette[3] = 11; // header entry 1: red 11
    pcx.vgaPalette.assign(768, 0);
    pcx.vgaPalette[3 + 1] = 77; // end entry 1: green 77
    const toolkit::Image v5 = decodePcx(pcx.build());
    ASSERT_FALSE(v5.empty());
    EXPECT_EQ(v5.width(), 4);
    EXPECT_EQ(pixelAt(v5, 0, 0), rgba(0, 77, 0));
    EXPECT_EQ(pixelAt(v5, 1, 1), rgba(0, 77, 0));
    pcx.version = 3;
    const toolkit::Image v3 = decodePcx(pcx.build());
    ASSERT_FALSE(v3.empty());
    EXPECT_EQ(pixelAt(v3, 0, 0), rgba(11, 0, 0));

    pcx.version = 6;
    EXPECT_TRUE(decodePcx(pcx.build()).empty());
    Bytes wrongMaker = PcxFile{}.build();
    wrongMaker[0] = 11;
    EXPECT_TRUE(decodePcx(wrongMaker).empty());
    EXPECT_TRUE(decodePcx(Bytes(127, 10)).empty());
}

TEST(PcxDecoder, RunsCrossScanLinesAndPaddingIsSkipped) {
    PcxFile pcx;
    pcx.width = 3;
    pcx.bytesPerLine = 4;
    pcx.headerPalette = {0, 0, 0, 255, 0, 0, 0, 255, 0};
    pcx.data = {1, 1, 1, 0xC2, 2, 2, 2, 0}; // line 1: 1 1 1 2 | line 2: 2 2 2 0
    const toolkit::Image image = decodePcx(pcx.build());
    ASSERT_FALSE(image.empty());
    EXPECT_EQ(pixelAt(image, 2, 0), rgba(255, 0, 0));
    EXPECT_EQ(pixelAt(image, 0, 1), rgba(0, 255, 0));
    EXPECT_EQ(pixelAt(image, 2, 1), rgba(0, 255, 0));

    // Data that ends early leaves the remaining rows at palette entry 0.
    pcx.data = {1, 1, 1, 1, 2};
    const toolkit::Image cut = decodePcx(pcx.build());
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(pixelAt(cut, 0, 0), rgba(255, 0, 0));
    EXPECT_EQ(pixelAt(cut, 0, 1), rgba(0, 0, 0));
}

TEST(PcxDecoder, TrueColourAndSixteenColourPlanes) {
    PcxFile rgb;
    rgb.planes = 3;
    rgb.width = 2;
    rgb.height = 1;
    rgb.bytesPerLine = 2;
    rgb.data = {10, 11, 20, 21, 30, 31};
    const toolkit::Image colour = decodePcx(rgb.build());
    ASSERT_FALSE(colour.empty());
    EXPECT_EQ(pixelAt(colour, 0, 0), rgba(10, 20, 30));
    EXPECT_EQ(pixelAt(colour, 1, 0), rgba(11, 21, 31));

    PcxFile planar;
    planar.planes = 4;
    planar.bitsPerPlane = 1;
    planar.width = 2;
    planar.height = 1;
    planar.bytesPerLine = 1;
    planar.headerPalette.assign(48, 0);
    planar.headerPalette[3 * 5] = 55;  // entry 5 = planes 0 and 2
    planar.headerPalette[3 * 10] = 66; // entry 10 = planes 1 and 3
    planar.data = {0x80, 0x40, 0x80, 0x40};
    const toolkit::Image sixteen = decodePcx(planar.build());
    ASSERT_FALSE(sixteen.empty());
    EXPECT_EQ(pixelAt(sixteen, 0, 0), rgba(55, 0, 0));
    EXPECT_EQ(pixelAt(sixteen, 1, 0), rgba(66, 0, 0));
}

TEST(PcxDecoder, OtherLayoutsCarryNoPixels) {
    PcxFile mono;
    mono.bitsPerPlane = 1;
    mono.width = 8;
    mono.bytesPerLine = 1;
    mono.headerPalette = {1, 2, 3, 4, 5, 6};
    mono.data = {0xAA, 0x55};
    const toolkit::Image image = decodePcx(mono.build());
    ASSERT_FALSE(image.empty());
    for (int x = 0; x < 8; ++x) EXPECT_EQ(pixelAt(image, x, 0), rgba(1, 2, 3)) << x;

    PcxFile cga = mono;
    cga.bitsPerPlane = 2;
    EXPECT_TRUE(decodePcx(cga.build()).empty()) << "2 bits a pixel";
    PcxFile noLine;
    noLine.bytesPerLine = 0;
    noLine.data = {1, 2, 3};
    EXPECT_FALSE(decodePcx(noLine.build()).empty());
}

// ---------------------------------------------------------------------------------------------
// PNM

TEST(PnmDecoder, GreyMapsScaleByTheirMaximum) {
    const toolkit::Image p2 = decodePnm(text("P2 3 1 15\n15 7 0\n"));
    ASSERT_FALSE(p2.empty());
    EXPECT_EQ(pixelAt(p2, 0, 0), rgba(255, 255, 255));
    EXPECT_EQ(pixelAt(p2, 1, 0), rgba(119, 119, 119));
    EXPECT_EQ(pixelAt(p2, 2, 0), rgba(0, 0, 0));

    Bytes p5 = text("P5\n2 1\n65535\n");
    p5.insert(p5.end(), {0x80, 0x00, 0xFF, 0xFF});
    const toolkit::Image wide = decodePnm(p5);
    ASSERT_FALSE(wide.empty());
    EXPECT_EQ(pixelAt(wide, 0, 0), rgba(127, 127, 127));
    EXPECT_EQ(pixelAt(wide, 1, 0), rgba(255, 255, 255));

    EXPECT_EQ(pixelAt(decodePnm(text("P2 1 1 3 9")), 0, 0), rgba(255, 255, 255))
        << "a sample above the maximum is clamped";
    EXPECT_TRUE(decodePnm(text("P2 1 1 0 0")).empty());
    EXPECT_TRUE(decodePnm(text("P2 1 1 65536 0")).empty());
}

TEST(PnmDecoder, BitmapsWithCommentsAndWithoutSeparators) {
    const toolkit::Image plain = decodePnm(text("P1\n4 2\n1 0 1 0\n0 0 1 1\n"));
    const toolkit::Image commented =
        decodePnm(text("P1 # a comment 9 9\n4 # width\n2\n1 0 # row\n1 0\n0 0 1 1"));
    const toolkit::Image packed = decodePnm(text("P1\n4 2\n1010\n0011\n"));
    ASSERT_FALSE(plain.empty());
    EXPECT_EQ(pixelAt(plain, 0, 0), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(plain, 1, 0), rgba(255, 255, 255));
    EXPECT_EQ(pixelAt(plain, 3, 1), rgba(0, 0, 0));
    for (const auto* other : {&commented, &packed}) {
        ASSERT_FALSE(other->empty());
        EXPECT_EQ(0, std::memcmp(plain.data(), other->data(), plain.sizeInBytes()));
    }

    // P4 of width 10: two bytes a row, the last 6 bits ignored.
    Bytes p4 = text("P4 10 1\n");
    p4.insert(p4.end(), {0x80, 0x7F});
    const toolkit::Image raw = decodePnm(p4);
    ASSERT_FALSE(raw.empty());
    EXPECT_EQ(pixelAt(raw, 0, 0), rgba(0, 0, 0));
    EXPECT_EQ(pixelAt(raw, 1, 0), rgba(255, 255, 255));
    EXPECT_EQ(pixelAt(raw, 8, 0), rgba(255, 255, 255));
    EXPECT_EQ(pixelAt(raw, 9, 0), rgba(0, 0, 0));
}

TEST(PnmDecoder, PixMapsAtEightAndSixteenBitsAgree) {
    Bytes p6 = text("P6 2 1 255\n");
    p6.insert(p6.end(), {10, 20, 30, 200, 100, 0});
    Bytes p6wide = text("P6 2 1 65535\n");
    for (const int v : {10, 20, 30, 200, 100, 0}) {
        p6wide.push_back(std::uint8_t(v));
        p6wide.push_back(std::uint8_t(v));
    }
    const toolkit::Image a = decodePnm(p6);
    const toolkit::Image b = decodePnm(p6wide);
    const toolkit::Image c = decodePnm(text("P3 2 1 255 10 20 30 200 100 0"));
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(pixelAt(a, 0, 0), rgba(10, 20, 30));
    for (const auto* other : {&b, &c}) {
        ASSERT_FALSE(other->empty());
        EXPECT_EQ(0, std::memcmp(a.data(), other->data(), a.sizeInBytes()));
    }
}

TEST(PnmDecoder, SignatureAndHeaderQuirks) {
    EXPECT_TRUE(decodePnm(text("P7 1 1 255 0")).empty());
    EXPECT_TRUE(decodePnm(text("P0 1 1 255 0")).empty());
    EXPECT_TRUE(decodePnm(text("Q6 1 1 255 0")).empty());
    EXPECT_TRUE(decodePnm(text("P6 0 1 255 ")).empty());
    EXPECT_TRUE(decodePnm(text("P6")).empty());
    // Junk and minus signs before a number are skipped.
    const toolkit::Image negative = decodePnm(text("P2 -2 x1 255 7 8"));
    ASSERT_FALSE(negative.empty());
    EXPECT_EQ(negative.width(), 2);
    EXPECT_EQ(pixelAt(negative, 1, 0), rgba(8, 8, 8));
}

TEST(PnmDecoder, TruncatedFileLeavesTheRestBlack) {
    const toolkit::Image text2 = decodePnm(text("P2 2 2 255 50 60 70"));
    ASSERT_FALSE(text2.empty());
    EXPECT_EQ(pixelAt(text2, 0, 1), rgba(70, 70, 70));
    EXPECT_EQ(pixelAt(text2, 1, 1), rgba(0, 0, 0));
    const toolkit::Image bitmap = decodePnm(text("P1 2 2 0 0 0"));
    ASSERT_FALSE(bitmap.empty());
    EXPECT_EQ(pixelAt(bitmap, 0, 1), rgba(255, 255, 255));
    EXPECT_EQ(pixelAt(bitmap, 1, 1), rgba(0, 0, 0));
    Bytes raw = text("P6 2 1 255\n");
    raw.insert(raw.end(), {1, 2, 3, 4});
    const toolkit::Image cut = decodePnm(raw);
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(pixelAt(cut, 0, 0), rgba(1, 2, 3));
    EXPECT_EQ(pixelAt(cut, 1, 0), rgba(0, 0, 0));

    // A huge declared size in a tiny file ends quickly.
    EXPECT_FALSE(decodePnm(text("P2 1000 1000 255 1")).empty());
    EXPECT_TRUE(decodePnm(text("P6 99999999 99999999 255 1")).empty());
}

} // namespace
} // namespace quill::imagefiles
