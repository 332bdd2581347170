// Writing images: each encoder checked through ImageMagick, identify or libjpeg's own cjpeg, and
// the write path's behaviour on refusals and on a full disk.
#include "imagefiles/image_saver.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include "image_oracle.h"
#include "imagefiles/general_decoder.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/jp2_encoder.h"
#include "imagefiles/jpeg_decoder.h"
#include "imagefiles/jpeg_encoder.h"
#include "imagefiles/png_encoder.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"
#include "toolkit/stop_request.h"

namespace {

using quill::imagefiles::Encoder;
using quill::imagefiles::saveImageFile;
using quill::toolkit::Image;
using quill::toolkit::PixelFormat;
namespace test = quill::test;

constexpr quill::imagefiles::EncodeOptions kDither{.dither = true};

// A smooth picture with a little noise, so every encoder has real work to do.
Image synthetic(int width, int height, PixelFormat format) {
    Image image(width, height, format);
    std::mt19937 random{unsigned(width)};
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = image.row(y);
        for (int x = 0; x < width; ++x, p += image.bytesPerPixel()) {
            p[0] = std::uint8_t((x * 255) / std::max(1, width - 1));
            p[1] = std::uint8_t((y * 255) / std::max(1, height - 1));
            p[2] = std::uint8_t(((x + y) * 4 + random() % 8) & 0xFF);
            if (image.hasAlpha()) p[3] = std::uint8_t((x * 7 + y * 3) & 0xFF);
        }
    }
    return image;
}

// `count` (2 to 5) distinct colours in an irregular pattern.
Image fewColours(int width, int height, int count) {
    static const std::uint8_t colours[5][3] = {
        {10, 200, 30}, {250, 128, 7}, {0, 0, 0}, {255, 255, 255}, {1, 2, 3}};
    Image image(width, height, PixelFormat::Bgr24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            std::copy_n(colours[(x * x + 3 * y) % 7 % count], 3, image.row(y) + x * 3);
    return image;
}

TEST(ImageSaverWrite, RefusalsLeaveNoFile) {
    test::TempDir dir;
    const Image image = synthetic(8, 8, PixelFormat::Bgr24);
    // "HEIC": a format that is read but never written.
    EXPECT_FALSE(saveImageFile(image, dir.file("a.heic"), 0x43494548u, 8, 24).ok);
    EXPECT_FALSE(quill::platform::fileExists(dir.file("a.heic")));
    EXPECT_FALSE(saveImageFile(image, "", Encoder::Png, {}, 24).ok);
    EXPECT_FALSE(saveImageFile(Image(), dir.file("b.png"), Encoder::Png, {}, 24).ok);
    const auto missing = saveImageFile(image, dir.file("no/such/c.png"), Encoder::Png, {}, 24);
    EXPECT_TRUE(!missing.ok && missing.systemError == ENOENT);
}

// Our files equal those of libjpeg's own cjpeg at the library quality (ten times ours, clamped)
// byte for byte, apart from the JFIF density that cjpeg takes from its bitmap input: the same
// tables, frame type (extended at low qualities unless the baseline flag asks for 8-bit tables)
// and data. Alpha is dropped and the colours of transparent pixels are kept.
TEST(JpegEncoder, FilesEqualThoseOfCjpeg) {
    if (!test::haveTool("/usr/bin/cjpeg")) QUILL_SKIP_WITHOUT_TOOL() << "cjpeg missing";
    test::TempDir dir;
    const Image image = synthetic(64, 48, PixelFormat::Bgra32);
    ASSERT_TRUE(saveImageFile(image, dir.file("in.bmp"), Encoder::Bmp, {}, 24).ok);
    const std::pair<int, const char*> cases[] = {
        {8, "-quality 80"},
        {15, "-quality 100"},
        {3 + quill::imagefiles::kSaveFlagDither, "-quality 30"},
        {-4, "-quality 1"},
        {1 + quill::imagefiles::kSaveFlagBaseline, "-quality 10 -baseline"}};
    for (const auto& [flags, options] : cases) {
        SCOPED_TRACE(options);
        const std::string ours = dir.file("ours.jpg"), ref = dir.file("ref.jpg");
        // Through the identifier interface, whose flags pack the quality and the options.
        ASSERT_TRUE(saveImageFile(image, ours, std::uint32_t(Encoder::Jpeg), flags, 32).ok);
        ASSERT_EQ(test::runCommand(std::string("/usr/bin/cjpeg ") + options + " -outfile " +
                                   test::shellQuote(ref) + " " +
                                   test::shellQuote(dir.file("in.bmp"))),
                  0);
        auto ourBytes = test::readBytes(ours), refBytes = test::readBytes(ref);
        ASSERT_TRUE(ourBytes.size() > 18 && refBytes.size() > 18);
        std::fill_n(ourBytes.begin() + 13, 5, 0); // the density unit and values
        std::fill_n(refBytes.begin() + 13, 5, 0);
        EXPECT_TRUE(ourBytes == refBytes);
    }
}

// Lossless saves come back exactly through ImageMagick: direct colour with odd row lengths, alpha
// where it is kept (BMP only at 32 bits), and palettes that hold every colour (the 1-bit case
// checks the bit order and the row padding).
TEST(LosslessEncoders, RoundTripExactlyThroughImageMagick) {
    if (!test::haveImageMagick()) QUILL_SKIP_WITHOUT_TOOL() << "ImageMagick missing";
    test::TempDir dir;
    const std::pair<Image, int> cases[] = {{synthetic(1, 9, PixelFormat::Bgr24), 24},
                                           {synthetic(14, 9, PixelFormat::Bgr24), 24},
                                           {synthetic(13, 9, PixelFormat::Bgra32), 32},
                                           {synthetic(13, 9, PixelFormat::Bgra32), 24},
                                           {fewColours(21, 11, 5), 4},
                                           {fewColours(21, 11, 5), 8},
                                           {fewColours(19, 5, 2), 1}};
    for (const Encoder encoder : {Encoder::Png, Encoder::Bmp}) {
        const bool png = encoder == Encoder::Png;
        const std::string path = dir.file(png ? "out.png" : "out.bmp");
        for (const auto& [image, depth] : cases) {
            SCOPED_TRACE(testing::Message() << path << " " << image.width() << " depth " << depth);
            ASSERT_TRUE(saveImageFile(image, path, encoder, kDither, depth).ok);
            const bool alpha = image.hasAlpha() && (depth == 32 || (png && depth == 24));
            const Image expected = alpha ? image.clone() : image.toBgr24();
            EXPECT_TRUE(test::samePixels(expected, test::decodeWithImageMagick(path, alpha)));
            EXPECT_EQ(test::identify(path, "%A"), alpha ? "True" : "False");
            // Bits per pixel in the bitmap info header; the PNG header's bit depth.
            EXPECT_EQ(test::readBytes(path).at(png ? 24 : 28), png ? std::min(depth, 8) : depth);
        }
    }
}

// Sizes grow with the quality and stay within the rates (500 at quality 0, 100 at 3, 10 at 8);
// the top qualities ask for more than the 9/7 wavelet's finest quantisation gives on this
// picture, so they may share a size.
TEST(Jp2Encoder, SizesFollowTheQualityAndAlphaIsKept) {
    if (!test::haveImageMagick()) QUILL_SKIP_WITHOUT_TOOL() << "ImageMagick missing";
    test::TempDir dir;
    const Image photo =
        test::decodeWithImageMagick(test::testdata("exif/nokia_n70_iptc.jpg"), false);
    ASSERT_FALSE(photo.empty());
    std::size_t previousSize = 0;
    for (const auto& [quality, rate, minimumPsnr] :
         {std::tuple{0, 500, 0.0}, {3, 100, 28.0}, {8, 10, 0.0}, {9, 5, 0.0}, {10, 2, 40.0}}) {
        SCOPED_TRACE(quality);
        const std::string path = dir.file("q" + std::to_string(quality) + ".jp2");
        ASSERT_TRUE(saveImageFile(photo, path, Encoder::Jp2k, {.quality = quality}, 24).ok);
        const std::size_t size = test::readBytes(path).size();
        EXPECT_GE(size, previousSize + (quality <= 8 ? 1 : 0));
        EXPECT_LT(double(size), 640.0 * 480 * 3 / rate * 1.1 + 400); // headers on top
        previousSize = size;
        EXPECT_GT(test::psnr(photo, test::decodeWithImageMagick(path, false)), minimumPsnr);
    }
    const Image rgba = synthetic(64, 40, PixelFormat::Bgra32);
    const std::string path = dir.file("alpha.jp2");
    ASSERT_TRUE(saveImageFile(rgba, path, Encoder::Jp2k, {.quality = 10}, 32).ok);
    // JP2 boxes, not a bare codestream.
    EXPECT_EQ(test::identify(path, "%m %w %h %z %A"), "JP2 64 40 8 True");
    EXPECT_GT(test::psnr(rgba, test::decodeWithImageMagick(path, true), true), 35.0);
    // The codestream extensions, in any case, get a bare codestream: its SOC and SIZ markers; so
    // does the codestream flag of the identifier interface.
    for (const char* name : {"a.j2k", "B.J2K", "b.j2c"})
        ASSERT_TRUE(saveImageFile(rgba, dir.file(name), Encoder::Jp2k, {.quality = 8}, 32).ok);
    ASSERT_TRUE(saveImageFile(rgba, dir.file("flagged.jp2"), std::uint32_t(Encoder::Jp2k),
                              8 + quill::imagefiles::kSaveFlagCodestream, 32)
                    .ok);
    for (const char* name : {"a.j2k", "B.J2K", "b.j2c", "flagged.jp2"}) {
        const auto bytes = test::readBytes(dir.file(name));
        EXPECT_TRUE(bytes.size() > 4 && bytes[0] == 0xFF && bytes[1] == 0x4F && bytes[2] == 0xFF &&
                    bytes[3] == 0x51)
            << name;
    }
}

// --- JPEG 2000 in tiles ---------------------------------------------------------------------

// The tiles of a codestream: its start-of-tile markers (FF 90, which coded data never holds).
int tileCount(const std::vector<std::uint8_t>& bytes) {
    int count = 0;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
        count += bytes[i] == 0xFF && bytes[i + 1] == 0x90;
    return count;
}

// A part of a photograph with odd sides, so that the last tiles of a row and a column are cut
// (to one pixel, at 257).
Image photoPart(PixelFormat format, int width = 257, int height = 203) {
    const Image photo = quill::imagefiles::loadImageFile(test::testdata("exif/nokia_n70_iptc.jpg"),
                                                         quill::imagefiles::FormatKind::None);
    Image part(width, height, format);
    for (int y = 0; y < part.height(); ++y)
        for (int x = 0; x < part.width(); ++x) {
            std::memcpy(part.row(y) + x * part.bytesPerPixel(), photo.row(y + 7) + (x + 11) * 3, 3);
            if (part.hasAlpha()) part.row(y)[x * 4 + 3] = std::uint8_t(x + 2 * y);
        }
    return part;
}

// Every tiling holds the whole image: coded losslessly, each decodes to the very pixels it was
// made from, through our decoder and through OpenJPEG's own decompressor.
TEST(Jp2Encoder, EveryTilingDecodesToTheImage) {
    const Image rgb = photoPart(PixelFormat::Bgr24);
    const Image rgba = photoPart(PixelFormat::Bgra32);
    const bool reference = test::haveTool("/usr/bin/opj_decompress");
    test::TempDir dir;
    const struct {
        const Image& image;
        int tileSide;
        bool codestream;
        int tiles;
    } cases[] = {
        {rgb, -1, false, 1}, // small: one tile
        {rgb, 0, true, 1},     {rgb, 64, false, 20},  {rgb, 100, true, 20},
        {rgba, 128, false, 6}, {rgba, 301, false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "tiles of " << c.tileSide << ", alpha "
                                        << c.image.hasAlpha() << ", codestream " << c.codestream);
        std::vector<std::uint8_t> bytes{1, 2, 3}; // the file is appended
        ASSERT_TRUE(quill::imagefiles::encodeJp2(c.image.view(), 10, bytes, c.codestream,
                                                 {.tileSide = c.tileSide, .lossless = true}));
        bytes.erase(bytes.begin(), bytes.begin() + 3);
        EXPECT_EQ(tileCount(bytes), c.tiles);
        EXPECT_TRUE(test::samePixels(quill::imagefiles::decodeGeneral(bytes), c.image));
        if (!reference) continue;
        const std::string in = dir.file(c.codestream ? "t.j2k" : "t.jp2");
        test::writeBytes(in, bytes);
        const std::string out = dir.file("t.png");
        std::remove(out.c_str());
        ASSERT_EQ(test::runCommand("/usr/bin/opj_decompress -quiet -i " + test::shellQuote(in) +
                                   " -o " + test::shellQuote(out) + " >/dev/null 2>&1"),
                  0);
        EXPECT_TRUE(test::samePixels(
            quill::imagefiles::loadImageFile(out, quill::imagefiles::FormatKind::None), c.image));
    }
}

// At a rate, tiles keep the output's size and cost little of its quality.
TEST(Jp2Encoder, TilesKeepTheRateAndTheQuality) {
    const Image rgb = photoPart(PixelFormat::Bgr24, 620, 460);
    for (const int quality : {5, 8, 10}) {
        SCOPED_TRACE(quality);
        std::vector<std::uint8_t> whole, tiled;
        ASSERT_TRUE(
            quill::imagefiles::encodeJp2(rgb.view(), quality, whole, false, {.tileSide = 0}));
        ASSERT_TRUE(
            quill::imagefiles::encodeJp2(rgb.view(), quality, tiled, false, {.tileSide = 256}));
        EXPECT_EQ(tileCount(tiled), 6);
        EXPECT_NEAR(double(tiled.size()), double(whole.size()), 0.05 * double(whole.size()));
        const double wholePsnr = test::psnr(rgb, quill::imagefiles::decodeGeneral(whole));
        EXPECT_GT(test::psnr(rgb, quill::imagefiles::decodeGeneral(tiled)), wholePsnr - 1.5);
    }
}

// An image past the tiling threshold is written in tiles: the codec then holds one tile's
// samples and buffers, not several copies of the whole image (about 7 bytes a sample).
TEST(Jp2Encoder, LargeImagesAreCodedTileByTile) {
    const int side = 4097;
    static_assert(std::int64_t{4097} * 4097 > quill::imagefiles::kJp2TilingPixels);
    const Image large = synthetic(side, side, PixelFormat::Bgr24);
    const long image = long(large.sizeInBytes() >> 20);
    const long growth = test::childPeakGrowthMiB([&] {
        std::vector<std::uint8_t> out;
        out.reserve(large.sizeInBytes() / 100); // the output at quality 0 (rate 500)
        return quill::imagefiles::encodeJp2(large.view(), 0, out);
    });
    EXPECT_GE(growth, 0);
    EXPECT_LT(growth, 2 * image) << "the codec holds more than a tile at a time";
}

TEST(ImageSaverWrite, FullDiskFailsCleanlyAndKeepsTheOldFile) {
    test::TempDir dir;
    const std::string mountPoint = dir.file("small");
    ASSERT_TRUE(quill::platform::createDirectory(mountPoint));
    test::SmallDisk disk(mountPoint, 64);
    if (!disk.mounted()) QUILL_SKIP_WITHOUT_TMPFS();
    const std::string target = mountPoint + "/out.bmp";
    const std::vector<std::uint8_t> old(1000, 0x5A);
    test::writeBytes(target, old);

    Image noisy(300, 300, PixelFormat::Bgr24); // noise: over 64 KiB in any format
    std::mt19937 random(7);
    for (std::size_t i = 0; i < noisy.sizeInBytes(); ++i)
        noisy.data()[i] = std::uint8_t(random());
    for (Encoder encoder : {Encoder::Bmp, Encoder::Png, Encoder::Jpeg, Encoder::Jp2k}) {
        SCOPED_TRACE(std::uint32_t(encoder));
        const auto result = saveImageFile(noisy, target, encoder, {.quality = 10}, 24);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.systemError, ENOSPC);
        EXPECT_EQ(test::readBytes(target), old);
        EXPECT_EQ(quill::platform::listDirectory(mountPoint + "/").value().size(), 1u)
            << "a temporary file was left behind";
    }
    // A file that fits still replaces the old one.
    const Image small = synthetic(8, 8, PixelFormat::Bgr24);
    EXPECT_TRUE(saveImageFile(small, target, Encoder::Bmp, {}, 24).ok);
    EXPECT_EQ(test::readBytes(target).size(), 54u + 24u * 8u);
}

// A cancelled run must not wait for a long decode or encode in flight: the JPEG decoder and the
// JPEG and PNG encoders give up between rows once the thread's stop request is set, and leave
// no partial output; with the request clear, or outside its scope, they work as ever.
TEST(StopRequest, DecodersAndEncodersGiveUpWhenTheirThreadIsAskedToStop) {
    using namespace quill::imagefiles;
    const std::vector<std::uint8_t> jpeg = test::readBytes(test::testdata("jpeg/hopper.jpg"));
    const Image image = decodeJpeg(jpeg);
    ASSERT_FALSE(image.empty());
    // decoded, JPEG encoded, PNG encoded, the output holds only what was made
    const auto works = [&] {
        std::vector<std::uint8_t> jpegOut{1, 2, 3}, pngOut{1, 2, 3};
        const bool jpegOk = encodeJpeg(image.view(), 8, jpegOut);
        const bool pngOk = encodePng(image.view(), pngOut);
        const bool clean = (jpegOk ? jpegOut.size() > 3 : jpegOut.size() == 3) &&
                           (pngOk ? pngOut.size() > 3 : pngOut.size() == 3);
        return std::tuple{!decodeJpeg(jpeg).empty(), jpegOk, pngOk, clean};
    };
    std::atomic<std::int32_t> cancelled{0};
    {
        const quill::toolkit::StopScope scope(&cancelled);
        EXPECT_EQ(works(), std::tuple(true, true, true, true));
        cancelled.store(1);
        EXPECT_EQ(works(), std::tuple(false, false, false, true));
    }
    EXPECT_EQ(works(), std::tuple(true, true, true, true));
}

} // namespace
