// JPEG XL reading checked against libjxl's djxl (pixels, orientation, 16-bit rounding), metadata
// against the JPEG a file was recompressed from, and damaged files (format_table_test.cpp reads
// our own files back through djxl).
// The installed ImageMagick has no JPEG XL reader, so djxl is the only outside reader here.
#include "imagefiles/jxl_codec.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image_oracle.h"
#include "imagefiles/png_decoder.h"
#include "test_support.h"

namespace {

using quill::imagefiles::decodeJxl;
using quill::imagefiles::jxlDeclaredSize;
using quill::imagefiles::looksLikeJxl;
using quill::imagefiles::readJxlMetadata;
using quill::toolkit::Image;
using quill::toolkit::PixelFormat;
namespace test = quill::test;

const quill::imagefiles::DecodeRequest kFull{};

std::vector<std::uint8_t> jxlFile(const std::string& name) {
    return test::readBytes(test::fixture("jxl/" + name));
}

// djxl's decode of a file, through a PNG (16-bit PNGs are rounded to 8 bits by decodePng).
Image djxl(const std::string& path) {
    test::TempDir dir;
    const std::string png = dir.file("out.png");
    if (test::runCommand("/usr/bin/djxl " + test::shellQuote(path) + " " + test::shellQuote(png) +
                         " >/dev/null 2>&1") != 0)
        return {};
    return quill::imagefiles::decodePng(test::readBytes(png));
}

TEST(JxlCodec, SignatureAndDeclaredSize) {
    EXPECT_TRUE(looksLikeJxl(std::vector<std::uint8_t>{0xFF, 0x0A}));
    EXPECT_FALSE(looksLikeJxl(std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF}));
    EXPECT_FALSE(looksLikeJxl(std::vector<std::uint8_t>{0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D}));
    EXPECT_EQ(jxlDeclaredSize(std::vector<std::uint8_t>{0xFF, 0x0A}).width, 0);
    // The orientation-6 file stores 113 x 150 and is shown turned.
    const auto turned = jxlFile("landscape_orient6.jxl");
    EXPECT_TRUE(looksLikeJxl(std::span(turned).first(12)));
    EXPECT_EQ(jxlDeclaredSize(turned).width, 150);
    EXPECT_EQ(jxlDeclaredSize(turned).height, 113);
}

TEST(JxlCodec, DecodesLikeDjxl) {
    if (!test::haveTool("/usr/bin/djxl")) QUILL_SKIP_WITHOUT_TOOL() << "djxl";
    struct Case {
        const char* name;
        PixelFormat format;
        bool exact;
    };
    const Case cases[] = {
        {"hopper_lossless.jxl", PixelFormat::Bgr24, true},
        {"transparent_alpha.jxl", PixelFormat::Bgra32, true},
        {"nikon_recompressed.jxl", PixelFormat::Bgr24, true},
        {"landscape_orient6.jxl", PixelFormat::Bgr24, true},
        {"cat_lossy.jxl", PixelFormat::Bgr24, false},
        // 16-bit samples: libjxl's rounding to 8 bits against the PNG decoder's.
        {"basn2c16_16bit.jxl", PixelFormat::Bgr24, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = jxlFile(c.name);
        const Image ours = decodeJxl(bytes, kFull);
        ASSERT_FALSE(ours.empty());
        EXPECT_EQ(ours.format(), c.format);
        EXPECT_EQ(jxlDeclaredSize(bytes).width, ours.width());
        EXPECT_EQ(jxlDeclaredSize(bytes).height, ours.height());
        const Image reference = djxl(test::fixture(std::string("jxl/") + c.name));
        ASSERT_FALSE(reference.empty());
        if (c.exact)
            EXPECT_TRUE(test::samePixels(ours, reference));
        else
            EXPECT_GE(test::psnr(ours, reference), 45.0);
    }
}

TEST(JxlCodec, MetadataOfARecompressedJpeg) {
    const auto jpeg = test::readBytes(test::testdata("exif/Nikon_D70.jpg"));
    const auto meta = readJxlMetadata(jxlFile("nikon_recompressed.jxl"));
    const auto exif = test::jpegSegment(jpeg, 0xE1, std::string("Exif\0\0", 6));
    ASSERT_FALSE(exif.empty());
    EXPECT_EQ(meta.exif, exif);
    EXPECT_EQ(meta.xmp,
              test::jpegSegment(jpeg, 0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29)));
    const auto icc = test::jpegSegment(jpeg, 0xE2, std::string("ICC_PROFILE\0", 12));
    ASSERT_GT(icc.size(), 2u);
    EXPECT_EQ(meta.icc, std::vector<std::uint8_t>(icc.begin() + 2, icc.end()));

    // A file made from a PNG has a profile libjxl describes (sRGB), and no boxes.
    const auto plain = readJxlMetadata(jxlFile("hopper_lossless.jxl"));
    EXPECT_TRUE(plain.exif.empty());
    EXPECT_TRUE(plain.xmp.empty());
    EXPECT_GT(plain.icc.size(), 100u);
}

TEST(JxlCodec, FilesCutShortFailCleanly) {
    // Other damage is left to the fuzzer.
    const auto good = jxlFile("nikon_recompressed.jxl");
    for (std::size_t cut = 0; cut < good.size(); cut += 331) {
        const std::span<const std::uint8_t> part(good.data(), cut);
        EXPECT_TRUE(decodeJxl(part, kFull).empty());
        (void)readJxlMetadata(part);
    }
}

} // namespace
