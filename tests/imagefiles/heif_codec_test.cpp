// HEIF reading checked against libheif's own heif-convert: pixels, the rounding of 10-bit
// samples, the applied rotation, metadata against the JPEG the file was made from, and damaged
// files.
#include "imagefiles/heif_codec.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image_oracle.h"
#include "imagefiles/png_decoder.h"
#include "test_support.h"

namespace {

using quill::imagefiles::decodeHeif;
using quill::imagefiles::heifDeclaredSize;
using quill::imagefiles::looksLikeHeif;
using quill::imagefiles::readHeifMetadata;
using quill::toolkit::Image;
using quill::toolkit::PixelFormat;
namespace test = quill::test;

const quill::imagefiles::DecodeRequest kFull{};

std::vector<std::uint8_t> heifFile(const std::string& name) {
    return test::readBytes(test::fixture("heif/" + name));
}

// An ftyp box with these brands (major first), padded by a few bytes of a following box.
std::vector<std::uint8_t> ftyp(const std::string& major, const std::vector<std::string>& brands) {
    std::vector<std::uint8_t> box(16 + 4 * brands.size());
    box[3] = std::uint8_t(box.size());
    std::memcpy(box.data() + 4, "ftyp", 4);
    std::memcpy(box.data() + 8, major.data(), 4);
    for (std::size_t i = 0; i < brands.size(); ++i)
        std::memcpy(box.data() + 16 + 4 * i, brands[i].data(), 4);
    box.insert(box.end(), {0, 0, 0, 8, 'm', 'e', 't', 'a'});
    return box;
}

// heif-convert's decode of a file to PNG, as raw bytes.
std::vector<std::uint8_t> heifConvert(const std::string& path, const test::TempDir& dir) {
    const std::string png = dir.file("out.png");
    if (test::runCommand("/usr/bin/heif-convert " + test::shellQuote(path) + " " +
                         test::shellQuote(png) + " >/dev/null 2>&1") != 0)
        return {};
    return test::readBytes(png);
}

TEST(HeifCodec, SignatureTakesHevcBrandsAndLeavesAvifAlone) {
    EXPECT_TRUE(looksLikeHeif(ftyp("heic", {"mif1", "heic"})));
    EXPECT_TRUE(looksLikeHeif(ftyp("mif1", {"heix"})));
    EXPECT_TRUE(looksLikeHeif(ftyp("msf1", {"hevc"})));
    EXPECT_TRUE(looksLikeHeif(ftyp("heis", {})));
    // A file that is both keeps the HEVC reader: it has a HEVC brand.
    EXPECT_TRUE(looksLikeHeif(ftyp("mif1", {"avif", "heic"})));
    EXPECT_FALSE(looksLikeHeif(ftyp("avif", {"mif1", "heic"})));
    EXPECT_FALSE(looksLikeHeif(ftyp("avis", {"msf1"})));
    EXPECT_FALSE(looksLikeHeif(ftyp("mif1", {"avif", "miaf"})));
    EXPECT_FALSE(looksLikeHeif(ftyp("mp42", {"isom", "mp41"})));
    EXPECT_FALSE(looksLikeHeif(std::vector<std::uint8_t>{0, 0, 0, 24, 'f', 't', 'y', 'p'}));
    const auto jpeg = test::readBytes(test::testdata("jpeg/cat.jpg"));
    EXPECT_FALSE(looksLikeHeif(jpeg));
    EXPECT_TRUE(decodeHeif(jpeg, kFull).empty());
}

TEST(HeifCodec, DecodesLikeHeifConvertWithRotationApplied) {
    if (!test::haveTool("/usr/bin/heif-convert")) QUILL_SKIP_WITHOUT_TOOL() << "heif-convert";
    struct Case {
        const char* name;
        int width, height;
        PixelFormat format;
        bool viaImageMagick = false;
    };
    const Case cases[] = {
        {"cat_exif_icc.heic", 320, 240, PixelFormat::Bgr24},
        // libpng refuses this file's ICC profile, so heif-convert cannot write it as PNG;
        // ImageMagick converts from YCbCr with its own rounding, hence the PSNR.
        {"nikon_xmp.heic", 100, 66, PixelFormat::Bgr24, true},
        {"hopper_lossless.heic", 128, 128, PixelFormat::Bgr24},
        {"transparent_alpha.heic", 200, 150, PixelFormat::Bgra32},
        // 128 x 96 stored, turned a quarter anticlockwise by its irot property.
        {"goldenears_rot90.heic", 96, 128, PixelFormat::Bgr24},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto bytes = heifFile(c.name);
        const Image ours = decodeHeif(bytes, kFull);
        ASSERT_FALSE(ours.empty());
        EXPECT_EQ(ours.width(), c.width);
        EXPECT_EQ(ours.height(), c.height);
        EXPECT_EQ(ours.format(), c.format);
        const auto declared = heifDeclaredSize(bytes);
        EXPECT_EQ(declared.width, c.width);
        EXPECT_EQ(declared.height, c.height);
        const std::string path = test::fixture(std::string("heif/") + c.name);
        if (c.viaImageMagick) {
            if (!test::haveImageMagick()) continue;
            EXPECT_GE(test::psnr(ours, test::decodeWithImageMagick(path, false)), 45.0);
            continue;
        }
        test::TempDir dir;
        const Image reference = quill::imagefiles::decodePng(heifConvert(path, dir));
        EXPECT_TRUE(test::samePixels(ours, reference));
    }
}

TEST(HeifCodec, TenBitSamplesAreRoundedNotTruncated) {
    if (!test::haveTool("/usr/bin/heif-convert") || !test::haveTool("/usr/bin/convert"))
        QUILL_SKIP_WITHOUT_TOOL() << "heif-convert or convert";
    const Image ours = decodeHeif(heifFile("cat_10bit.heic"), kFull);
    ASSERT_EQ(ours.format(), PixelFormat::Bgr24);
    // heif-convert writes the 10-bit samples into a 16-bit PNG shifted up by 6 bits.
    test::TempDir dir;
    ASSERT_FALSE(heifConvert(test::fixture("heif/cat_10bit.heic"), dir).empty());
    std::string raw;
    ASSERT_EQ(test::runCommand("/usr/bin/convert " + test::shellQuote(dir.file("out.png")) +
                                   " -endian MSB -depth 16 rgb:-",
                               &raw),
              0);
    ASSERT_EQ(raw.size(), std::size_t(ours.width()) * std::size_t(ours.height()) * 6);
    int roundedUp = 0;
    for (int y = 0; y < ours.height(); ++y)
        for (int x = 0; x < ours.width(); ++x)
            for (int c = 0; c < 3; ++c) {
                const std::size_t at =
                    ((std::size_t(y) * std::size_t(ours.width()) + x) * 3 + c) * 2;
                const unsigned v10 =
                    (unsigned(std::uint8_t(raw[at])) << 8 | std::uint8_t(raw[at + 1])) >> 6;
                const unsigned expected = (v10 * 255 + 511) / 1023;
                ASSERT_EQ(ours.row(y)[x * 3 + 2 - c], expected)
                    << x << "," << y << " channel " << c;
                roundedUp += expected != v10 >> 2;
            }
    // The file has enough samples where rounding and truncation differ for this to tell them apart.
    EXPECT_GT(roundedUp, 1000);
}

TEST(HeifCodec, MetadataMatchesTheSourceJpeg) {
    const auto jpeg = test::readBytes(test::testdata("jpeg/cat.jpg"));
    const auto meta = readHeifMetadata(heifFile("cat_exif_icc.heic"));
    const auto exif = test::jpegSegment(jpeg, 0xE1, std::string("Exif\0\0", 6));
    ASSERT_FALSE(exif.empty());
    EXPECT_EQ(meta.exif, exif);
    const auto icc = test::jpegSegment(jpeg, 0xE2, std::string("ICC_PROFILE\0", 12));
    ASSERT_GT(icc.size(), 2u);
    // After the chunk number and count.
    EXPECT_EQ(meta.icc, std::vector<std::uint8_t>(icc.begin() + 2, icc.end()));
    EXPECT_TRUE(meta.xmp.empty());

    const auto nikonJpeg = test::readBytes(test::testdata("exif/Nikon_D70.jpg"));
    const auto nikon = readHeifMetadata(heifFile("nikon_xmp.heic"));
    EXPECT_EQ(nikon.exif, test::jpegSegment(nikonJpeg, 0xE1, std::string("Exif\0\0", 6)));
    const auto xmp =
        test::jpegSegment(nikonJpeg, 0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29));
    ASSERT_FALSE(xmp.empty());
    EXPECT_EQ(nikon.xmp, xmp);
    EXPECT_EQ(nikon.icc.size(), 3144u);

    const auto none = readHeifMetadata(heifFile("hopper_lossless.heic"));
    EXPECT_TRUE(none.exif.empty() && none.xmp.empty() && none.icc.empty());
}

TEST(HeifCodec, DamagedAndOversizedFilesFailCleanly) {
    // Files cut short (the fuzzer covers other damage): whatever comes out has the declared size.
    const auto good = heifFile("transparent_alpha.heic");
    for (std::size_t cut = 0; cut < good.size(); cut += 397) {
        const std::span<const std::uint8_t> part(good.data(), cut);
        const Image image = decodeHeif(part, kFull);
        (void)readHeifMetadata(part);
        if (!image.empty()) {
            EXPECT_EQ(image.width(), heifDeclaredSize(part).width);
        }
    }
    // An ispe property declaring 40000 x 40000 is refused before anything is decoded.
    auto huge = heifFile("hopper_lossless.heic");
    const std::string ispe = "ispe";
    const auto it = std::search(huge.begin(), huge.end(), ispe.begin(), ispe.end());
    ASSERT_NE(it, huge.end());
    const std::size_t at = std::size_t(it - huge.begin()) + 8;
    for (std::size_t i : {at, at + 4}) {
        huge[i] = 0;
        huge[i + 1] = 0;
        huge[i + 2] = 0x9C;
        huge[i + 3] = 0x40;
    }
    EXPECT_TRUE(decodeHeif(huge, kFull).empty());
    const auto declared = heifDeclaredSize(huge);
    EXPECT_TRUE(declared.width == 0 || declared.width == 40000);
}

} // namespace
