// Writing images: each encoder checked through ImageMagick, identify or libjpeg's own cjpeg, and
// the write path's behaviour on refusals and on a full disk.
#include "imagefiles/image_saver.h"

#include <algorithm>
#include <cerrno>
#include <random>
#include <tuple>

#include <gtest/gtest.h>

#include "image_oracle.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

namespace {

using quill::imagefiles::Encoder;
using quill::imagefiles::saveImageFile;
using quill::toolkit::Image;
using quill::toolkit::PixelFormat;
namespace test = quill::test;

constexpr int kDither = quill::imagefiles::kSaveFlagDither;

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
    EXPECT_FALSE(saveImageFile(image, dir.file("a.tif"), 0x46464954u, 8, 24).ok);
    EXPECT_FALSE(quill::platform::fileExists(dir.file("a.tif")));
    EXPECT_FALSE(saveImageFile(image, "", Encoder::Png, 0, 24).ok);
    EXPECT_FALSE(saveImageFile(Image(), dir.file("b.png"), Encoder::Png, 0, 24).ok);
    const auto missing = saveImageFile(image, dir.file("no/such/c.png"), Encoder::Png, 0, 24);
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
    ASSERT_TRUE(saveImageFile(image, dir.file("in.bmp"), Encoder::Bmp, 0, 24).ok);
    const std::pair<int, const char*> cases[] = {
        {8, "-quality 80"},
        {15, "-quality 100"},
        {3 + kDither, "-quality 30"},
        {-4, "-quality 1"},
        {1 + quill::imagefiles::kSaveFlagBaseline, "-quality 10 -baseline"}};
    for (const auto& [flags, options] : cases) {
        SCOPED_TRACE(options);
        const std::string ours = dir.file("ours.jpg"), ref = dir.file("ref.jpg");
        ASSERT_TRUE(saveImageFile(image, ours, Encoder::Jpeg, flags, 32).ok);
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
        ASSERT_TRUE(saveImageFile(photo, path, Encoder::Jp2k, quality, 24).ok);
        const std::size_t size = test::readBytes(path).size();
        EXPECT_GE(size, previousSize + (quality <= 8 ? 1 : 0));
        EXPECT_LT(double(size), 640.0 * 480 * 3 / rate * 1.1 + 400); // headers on top
        previousSize = size;
        EXPECT_GT(test::psnr(photo, test::decodeWithImageMagick(path, false)), minimumPsnr);
    }
    const Image rgba = synthetic(64, 40, PixelFormat::Bgra32);
    const std::string path = dir.file("alpha.jp2");
    ASSERT_TRUE(saveImageFile(rgba, path, Encoder::Jp2k, 10, 32).ok);
    // JP2 boxes, not a bare codestream.
    EXPECT_EQ(test::identify(path, "%m %w %h %z %A"), "JP2 64 40 8 True");
    EXPECT_GT(test::psnr(rgba, test::decodeWithImageMagick(path, true), true), 35.0);
    // The codestream extensions, in any case, get a bare codestream: its SOC and SIZ markers.
    for (const char* name : {"a.j2k", "B.J2K", "b.j2c"}) {
        ASSERT_TRUE(saveImageFile(rgba, dir.file(name), Encoder::Jp2k, 8, 32).ok);
        const auto bytes = test::readBytes(dir.file(name));
        EXPECT_TRUE(bytes.size() > 4 && bytes[0] == 0xFF && bytes[1] == 0x4F && bytes[2] == 0xFF &&
                    bytes[3] == 0x51)
            << name;
    }
}

TEST(ImageSaverWrite, FullDiskFailsCleanlyAndKeepsTheOldFile) {
    test::TempDir dir;
    const std::string mountPoint = dir.file("small");
    ASSERT_TRUE(quill::platform::createDirectory(mountPoint));
    test::SmallDisk disk(mountPoint, 64);
    if (!disk.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here";
    const std::string target = mountPoint + "/out.bmp";
    const std::vector<std::uint8_t> old(1000, 0x5A);
    test::writeBytes(target, old);

    Image noisy(300, 300, PixelFormat::Bgr24); // noise: over 64 KiB in any format
    std::mt19937 random(7);
    for (std::size_t i = 0; i < noisy.sizeInBytes(); ++i)
        noisy.data()[i] = std::uint8_t(random());
    for (Encoder encoder : {Encoder::Bmp, Encoder::Png, Encoder::Jpeg, Encoder::Jp2k}) {
        SCOPED_TRACE(std::uint32_t(encoder));
        const auto result = saveImageFile(noisy, target, encoder, 10, 24);
        EXPECT_FALSE(result.ok);
        EXPECT_EQ(result.systemError, ENOSPC);
        EXPECT_EQ(test::readBytes(target), old);
        EXPECT_EQ(quill::platform::listDirectory(mountPoint + "/").value().size(), 1u)
            << "a temporary file was left behind";
    }
    // A file that fits still replaces the old one.
    const Image small = synthetic(8, 8, PixelFormat::Bgr24);
    EXPECT_TRUE(saveImageFile(small, target, Encoder::Bmp, 0, 24).ok);
    EXPECT_EQ(test::readBytes(target).size(), 54u + 24u * 8u);
}

} // namespace
