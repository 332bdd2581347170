// The AVIF decoder against libavif's own avifdec (and libheif's heif-convert, ImageMagick for the
// transforms): decoded pixels, deep samples, container transforms, metadata blocks and hostile
// bytes (format_table_test.cpp reads our own files back through avifdec).
#include "imagefiles/avif_codec.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "imagefiles/png_decoder.h"
#include "test_support.h"

namespace {

using quill::toolkit::Image;
using quill::toolkit::PixelFormat;
namespace test = quill::test;
namespace files = quill::imagefiles;

const std::string kAvifdec = "/usr/bin/avifdec";
const std::string kConvert = "/usr/bin/convert";
const std::string kHeifConvert = "/usr/bin/heif-convert";

std::string path(const std::string& name) {
    return test::fixture("avif/" + name);
}
std::vector<std::uint8_t> sample(const std::string& name) {
    return test::readBytes(path(name));
}

Image decode(const std::vector<std::uint8_t>& bytes) {
    return files::decodeAvif(bytes, {});
}

// Runs a command that writes the PNG `png` and decodes that PNG; empty when the command fails.
Image pngFrom(const std::string& command, const std::string& png) {
    if (test::runCommand(command + " >/dev/null 2>&1") != 0) return {};
    return files::decodePng(test::readBytes(png));
}

Image avifdec(const test::TempDir& dir, const std::string& avif, const std::string& options = "") {
    const std::string out = dir.file("avifdec.png");
    // Without the ICC profile: libpng refuses an RGB profile on the grey PNG of a monochrome file.
    return pngFrom(kAvifdec + " --ignore-icc " + options + " " + test::shellQuote(avif) + " " + out,
                   out);
}

// The largest difference of any colour or alpha sample, and the mean signed difference a - b.
struct Difference {
    int largest = 0;
    double mean = 0;
};
Difference differenceOf(const Image& a, const Image& b) {
    Difference d{256, 0};
    if (a.width() != b.width() || a.height() != b.height() || a.format() != b.format()) return d;
    d.largest = 0;
    double sum = 0;
    const int samples = a.width() * a.bytesPerPixel();
    for (int y = 0; y < a.height(); ++y)
        for (int i = 0; i < samples; ++i) {
            const int diff = int(a.row(y)[i]) - int(b.row(y)[i]);
            d.largest = std::max(d.largest, std::abs(diff));
            sum += diff;
        }
    d.mean = sum / (double(samples) * a.height());
    return d;
}

// ---------------------------------------------------------------------------------------------
// Decoding

// 8-bit files, lossless and lossy, 4:4:4, 4:2:0 and monochrome, with and without alpha, and the
// first frame of a sequence: the same pixels as avifdec, and alpha exactly when the file has it.
TEST(AvifDecode, EightBitFilesMatchAvifdec) {
    if (!test::haveTool(kAvifdec)) QUILL_SKIP_WITHOUT_TOOL() << "avifdec missing";
    test::TempDir dir;
    const struct {
        const char* name;
        PixelFormat format;
    } cases[] = {{"lossless_alpha.avif", PixelFormat::Bgra32},
                 {"photo420.avif", PixelFormat::Bgr24},
                 {"gray.avif", PixelFormat::Bgr24},
                 {"sequence.avif", PixelFormat::Bgra32}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Image ours = decode(sample(c.name));
        ASSERT_FALSE(ours.empty());
        EXPECT_EQ(ours.format(), c.format);
        EXPECT_TRUE(test::samePixels(ours, avifdec(dir, path(c.name))));
        const auto declared = files::avifDeclaredSize(sample(c.name));
        EXPECT_TRUE(declared.width == ours.width() && declared.height == ours.height());
    }
    // The sequence's second frame is the negative of the first: we must have the first.
    const Image second = avifdec(dir, path("sequence.avif"), "--index 1");
    EXPECT_FALSE(test::samePixels(decode(sample("sequence.avif")), second));
}

// 10- and 12-bit samples are rounded to 8 bits, not truncated (which would make the picture half a
// step darker on average): within one step of avifdec's 16-bit output rounded by our PNG reader,
// on average no darker. avifdec's own 8-bit output takes libyuv's fixed-point shortcut for 10-bit
// pictures and may be off by a step more.
TEST(AvifDecode, DeepSamplesRoundToEightBits) {
    if (!test::haveTool(kAvifdec)) QUILL_SKIP_WITHOUT_TOOL() << "avifdec missing";
    test::TempDir dir;
    for (const char* name : {"deep10_alpha.avif", "deep12.avif"}) {
        SCOPED_TRACE(name);
        const Image ours = decode(sample(name));
        ASSERT_FALSE(ours.empty());
        const Difference wide = differenceOf(ours, avifdec(dir, path(name), "--depth 16"));
        EXPECT_LE(wide.largest, 1);
        EXPECT_LT(std::abs(wide.mean), 0.05);
        const Difference narrow = differenceOf(ours, avifdec(dir, path(name), "--depth 8"));
        EXPECT_LE(narrow.largest, 2);
        EXPECT_LT(std::abs(narrow.mean), 0.15);
    }
    EXPECT_EQ(decode(sample("deep10_alpha.avif")).format(), PixelFormat::Bgra32);
    EXPECT_EQ(decode(sample("deep12.avif")).format(), PixelFormat::Bgr24);
}

// Clean aperture, rotation and mirror are applied as the file says it is seen. avifdec ignores
// them, so its output is cropped, turned and flipped by ImageMagick; heif-convert applies them
// itself. The files are lossless, so all three must agree exactly.
TEST(AvifDecode, ContainerTransformsAreApplied) {
    if (!test::haveTool(kAvifdec) || !test::haveTool(kConvert))
        QUILL_SKIP_WITHOUT_TOOL() << "avifdec or convert missing";
    test::TempDir dir;
    const struct {
        const char* name;
        const char* convertOps; // irot counts anticlockwise, ImageMagick's -rotate clockwise
        int width;
        int height;
    } cases[] = {{"rotated_mirrored.avif", "-rotate -90 -flop", 72, 96},
                 {"cropped_rotated.avif", "-crop 64x48+8+4 +repage -rotate 90", 48, 64}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Image ours = decode(sample(c.name));
        EXPECT_TRUE(ours.width() == c.width && ours.height() == c.height);
        const auto declared = files::avifDeclaredSize(sample(c.name));
        EXPECT_TRUE(declared.width == c.width && declared.height == c.height);

        const Image coded = avifdec(dir, path(c.name));
        ASSERT_EQ(coded.width(), 96) << "avifdec now applies transforms itself";
        const Image turned = pngFrom(kConvert + " " + dir.file("avifdec.png") + " " + c.convertOps +
                                         " " + dir.file("t.png"),
                                     dir.file("t.png"));
        EXPECT_TRUE(test::samePixels(ours, turned));
        if (test::haveTool(kHeifConvert)) {
            const Image heif = pngFrom(kHeifConvert + " " + path(c.name) + " " + dir.file("h.png"),
                                       dir.file("h.png"));
            EXPECT_TRUE(test::samePixels(ours, heif));
        }
    }
}

// Broken, cut-off and foreign bytes give an empty image (and no crash or hang); the signature
// check wants an ftyp box with an AVIF brand and works on a short head.
TEST(AvifDecode, HostileBytesAndSignature) {
    const std::vector<std::uint8_t> good = sample("photo420.avif");
    EXPECT_TRUE(decode({}).empty());
    EXPECT_EQ(files::avifDeclaredSize({}).width, 0);
    for (std::size_t cut :
         {std::size_t(8), std::size_t(40), std::size_t(300), good.size() / 2, good.size() - 1}) {
        SCOPED_TRACE(cut);
        const std::vector<std::uint8_t> head(good.begin(), good.begin() + std::ptrdiff_t(cut));
        EXPECT_TRUE(decode(head).empty());
        (void)files::readAvifMetadata(head);
    }
    // Damaged AV1 data: either refused or a picture of the declared size.
    std::vector<std::uint8_t> damaged = good;
    std::mt19937 random{7};
    for (int i = 0; i < 200; ++i)
        damaged[good.size() - 1 - random() % 4000] ^= 0x5A;
    const Image broken = decode(damaged);
    EXPECT_TRUE(broken.empty() || broken.width() == 320);

    // A container that claims 60000 x 60000 pixels is refused before decoding.
    std::vector<std::uint8_t> huge = good;
    const std::string ispe = "ispe";
    const auto at = std::search(huge.begin(), huge.end(), ispe.begin(), ispe.end());
    ASSERT_NE(at, huge.end());
    const std::uint8_t sides[8] = {0, 0, 0xEA, 0x60, 0, 0, 0xEA, 0x60};
    std::copy(sides, sides + 8, at + 8); // after the box type, version and flags
    EXPECT_TRUE(decode(huge).empty());

    for (const char* name : {"photo420.avif", "sequence.avif", "deep12.avif"})
        EXPECT_TRUE(files::looksLikeAvif(std::span<const std::uint8_t>(sample(name)).first(32)));
    const auto head = [](const char* major, const char* compatible) {
        std::vector<std::uint8_t> h{0, 0, 0, 24, 'f', 't', 'y', 'p'};
        h.insert(h.end(), major, major + 4);
        h.insert(h.end(), {0, 0, 0, 0});
        h.insert(h.end(), compatible, compatible + 8);
        return h;
    };
    EXPECT_TRUE(files::looksLikeAvif(head("mif1", "miafavif")));
    EXPECT_FALSE(files::looksLikeAvif(head("heic", "mif1heic")));
    const std::vector<std::uint8_t> cut = head("avif", "mif1miaf");
    EXPECT_FALSE(files::looksLikeAvif(std::span(cut).first(10)));
    EXPECT_FALSE(files::looksLikeAvif(test::readBytes(test::testdata("png/hopper.png"))));
}

// ---------------------------------------------------------------------------------------------
// Metadata

// Exif comes out from its byte-order mark on, whether the payload was stored bare or after an
// "Exif\0\0" prefix; XMP and ICC exactly as stored; none of them where the file has none.
TEST(AvifMetadata, BlocksComeOutAsStored) {
    const std::vector<std::uint8_t> exif = test::readBytes(test::fixture("avif/sources/exif.tiff"));
    const files::FileMetadata all = files::readAvifMetadata(sample("metadata.avif"));
    EXPECT_EQ(all.exif, exif);
    EXPECT_EQ(all.xmp, test::readBytes(test::fixture("avif/sources/xmp.xml")));
    EXPECT_EQ(all.icc, test::readBytes(test::fixture("avif/sources/srgb.icc")));

    const files::FileMetadata prefixed = files::readAvifMetadata(sample("exif_prefixed.avif"));
    EXPECT_EQ(prefixed.exif, exif);
    EXPECT_TRUE(prefixed.xmp.empty() && prefixed.icc.empty());

    // Carried over by avifenc from a camera JPEG: a big-endian or little-endian TIFF block.
    const files::FileMetadata fromJpeg = files::readAvifMetadata(sample("photo420.avif"));
    ASSERT_GE(fromJpeg.exif.size(), 8u);
    EXPECT_TRUE(std::memcmp(fromJpeg.exif.data(), "II*\0", 4) == 0 ||
                std::memcmp(fromJpeg.exif.data(), "MM\0*", 4) == 0);
    EXPECT_FALSE(fromJpeg.icc.empty());

    const files::FileMetadata none = files::readAvifMetadata(sample("lossless_alpha.avif"));
    EXPECT_TRUE(none.exif.empty() && none.xmp.empty() && none.icc.empty());
}

} // namespace
