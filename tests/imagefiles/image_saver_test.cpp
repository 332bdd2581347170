// Writing images: identifiers, each encoder checked through ImageMagick, and the write path's
// behaviour when the disk is full.
#include "imagefiles/image_saver.h"

#include <algorithm>
#include <cerrno>
#include <random>
#include <sstream>

#include <gtest/gtest.h>

#include "image_oracle.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/jp2_encoder.h"
#include "imagefiles/jpeg_encoder.h"
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
Image synthetic(int width, int height, PixelFormat format, unsigned seed = 1) {
    Image image(width, height, format);
    std::mt19937 random(seed);
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

Image load(const std::string& path) {
    return quill::imagefiles::loadImageFile(path, -1);
}

// The quantisation table segments (DQT) of a JPEG file, byte for byte.
std::vector<std::uint8_t> quantisationTables(const std::vector<std::uint8_t>& jpeg) {
    std::vector<std::uint8_t> tables;
    std::size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
        const std::size_t length = std::size_t(jpeg[pos + 2] << 8 | jpeg[pos + 3]);
        const std::size_t end = std::min(jpeg.size(), pos + 2 + length);
        if (jpeg[pos + 1] == 0xDB)
            tables.insert(tables.end(), jpeg.begin() + long(pos), jpeg.begin() + long(end));
        pos = end;
    }
    return tables;
}

TEST(ImageSaverWrite, RefusalsLeaveNoFile) {
    test::TempDir dir;
    const Image image = synthetic(8, 8, PixelFormat::Bgr24);
    EXPECT_FALSE(saveImageFile(image, dir.file("a.tif"), 0x46464954u, 8, 24).ok);
    EXPECT_FALSE(quill::platform::fileExists(dir.file("a.tif")));
    EXPECT_FALSE(saveImageFile(image, "", Encoder::Png, 0, 24).ok);
    EXPECT_FALSE(saveImageFile(Image(), dir.file("b.png"), Encoder::Png, 0, 24).ok);
    const auto missingDir = saveImageFile(image, dir.file("no/such/c.png"), Encoder::Png, 0, 24);
    EXPECT_FALSE(missingDir.ok);
    EXPECT_EQ(missingDir.systemError, ENOENT);
}

TEST(JpegEncoder, JfifLayoutAndQualityTables) {
    if (!test::haveTool("/usr/bin/cjpeg")) GTEST_SKIP() << "cjpeg missing";
    test::TempDir dir;
    const Image image = synthetic(64, 48, PixelFormat::Bgr24);
    ASSERT_TRUE(saveImageFile(image, dir.file("in.bmp"), Encoder::Bmp, 0, 24).ok);
    const auto q8 = [&] {
        EXPECT_TRUE(saveImageFile(image, dir.file("q8.jpg"), Encoder::Jpeg, 8, 24).ok);
        return test::readBytes(dir.file("q8.jpg"));
    }();
    // FF D8, then a 16-byte JFIF APP0 segment, so the next marker sits at offset 20.
    ASSERT_GE(q8.size(), 22u);
    EXPECT_EQ(
        std::vector<std::uint8_t>(q8.begin(), q8.begin() + 11),
        (std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0}));
    EXPECT_EQ(q8[20], 0xFF);
    // The tables equal those libjpeg's own cjpeg writes for the library quality.
    for (const auto& [flags, libraryQuality] : std::vector<std::pair<int, int>>{
             {8, 80}, {10, 100}, {15, 100}, {3 + kDither, 30}, {-4, 1}}) {
        SCOPED_TRACE(flags);
        const std::string ours = dir.file("ours.jpg"), ref = dir.file("ref.jpg");
        ASSERT_TRUE(saveImageFile(image, ours, Encoder::Jpeg, flags, 24).ok);
        ASSERT_EQ(test::runCommand("/usr/bin/cjpeg -quality " + std::to_string(libraryQuality) +
                                   " -outfile " + test::shellQuote(ref) + " " +
                                   test::shellQuote(dir.file("in.bmp"))),
                  0);
        const auto tables = quantisationTables(test::readBytes(ours));
        EXPECT_GE(tables.size(), 4u + 2u * 65u); // a luminance and a chrominance table
        EXPECT_EQ(tables, quantisationTables(test::readBytes(ref)));
    }
    EXPECT_EQ(quill::imagefiles::jpegLibraryQuality(11), 100);
}

TEST(JpegEncoder, PhotographsKeepTheirQualityAndAlphaIsDropped) {
    if (!test::haveImageMagick()) GTEST_SKIP() << "ImageMagick missing";
    test::TempDir dir;
    for (const char* name : {"exif/nokia_n70_iptc.jpg", "exif/Canon_PowerShot_S40.jpg"}) {
        SCOPED_TRACE(name);
        const Image photo = test::photograph(name);
        ASSERT_FALSE(photo.empty());
        double previous = 0;
        for (int quality : {2, 8, 10}) {
            const std::string path = dir.file("p" + std::to_string(quality) + ".jpg");
            ASSERT_TRUE(saveImageFile(photo, path, Encoder::Jpeg, quality, 24).ok);
            const double value = test::psnr(photo, load(path).toBgr24());
            EXPECT_GT(value, quality == 10 ? 40.0 : quality == 8 ? 33.0 : 27.0);
            EXPECT_GT(value, previous);
            previous = value;
            EXPECT_EQ(test::identify(path, "%m %w %h %z %[colorspace]"),
                      "JPEG " + std::to_string(photo.width()) + " " +
                          std::to_string(photo.height()) + " 8 sRGB");
        }
    }
    // A 32-bit image loses its alpha but keeps its colours, transparent pixels included.
    Image rgba(32, 32, PixelFormat::Bgra32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            std::uint8_t* p = rgba.row(y) + x * 4;
            p[0] = 40, p[1] = 90, p[2] = 200, p[3] = x < 16 ? 0 : 255;
        }
    const std::string path = dir.file("alpha.jpg");
    ASSERT_TRUE(saveImageFile(rgba, path, Encoder::Jpeg, 10, 32).ok);
    EXPECT_GT(test::psnr(rgba.toBgr24(), load(path)), 40.0);
    EXPECT_EQ(test::identify(path, "%[channels]"), "srgb");
}

// PNG and BMP files come back exactly through ImageMagick and through our own loader.
TEST(LosslessEncoders, DirectColourRoundTripsExactly) {
    if (!test::haveImageMagick()) GTEST_SKIP() << "ImageMagick missing";
    test::TempDir dir;
    for (const Encoder encoder : {Encoder::Png, Encoder::Bmp}) {
        const std::string ext = encoder == Encoder::Png ? ".png" : ".bmp";
        for (int width : {1, 13, 45}) { // odd widths exercise the row padding
            SCOPED_TRACE(ext + " " + std::to_string(width));
            const Image rgb = synthetic(width, 9, PixelFormat::Bgr24, unsigned(width));
            const Image rgba = synthetic(width, 9, PixelFormat::Bgra32, unsigned(width));
            const std::string size = std::to_string(width) + " 9 8";
            const std::string rgbPath = dir.file("rgb" + ext), rgbaPath = dir.file("rgba" + ext);
            ASSERT_TRUE(saveImageFile(rgb, rgbPath, encoder, 0, 24).ok);
            EXPECT_TRUE(test::samePixels(rgb, test::decodeWithImageMagick(rgbPath, false)));
            EXPECT_TRUE(test::samePixels(rgb, load(rgbPath).toBgr24()));
            EXPECT_EQ(test::identify(rgbPath, "%w %h %z %A"), size + " False");
            ASSERT_TRUE(saveImageFile(rgba, rgbaPath, encoder, 0, 32).ok);
            EXPECT_TRUE(test::samePixels(rgba, test::decodeWithImageMagick(rgbaPath, true)));
            EXPECT_TRUE(test::samePixels(rgba, load(rgbaPath).toBgra32()));
            EXPECT_EQ(test::identify(rgbaPath, "%w %h %z %A"), size + " True");
            if (encoder != Encoder::Bmp) continue;
            // A bitmap holds alpha only when 32 bits are asked for.
            ASSERT_TRUE(saveImageFile(rgba, dir.file("drop.bmp"), encoder, 0, 24).ok);
            EXPECT_TRUE(test::samePixels(rgba.toBgr24(), load(dir.file("drop.bmp")).toBgr24()));
            EXPECT_EQ(test::identify(dir.file("drop.bmp"), "%A"), "False");
            EXPECT_EQ(test::readBytes(dir.file("rgb.bmp")).size(),
                      54u + std::size_t((width * 3 + 3) / 4 * 4) * 9u);
        }
    }
}

TEST(PaletteFiles, IdentifyAgreesOnDepthAndPaletteSize) {
    if (!test::haveImageMagick()) GTEST_SKIP() << "ImageMagick missing";
    test::TempDir dir;
    const Image photo = test::photograph("exif/nokia_n70_iptc.jpg");
    ASSERT_FALSE(photo.empty());
    for (Encoder encoder : {Encoder::Png, Encoder::Bmp}) {
        const bool png = encoder == Encoder::Png;
        for (int depth : {1, 4, 8}) {
            // Both mappings get covered, alternating over the depths and encoders.
            const int flags = ((depth == 4) == png) ? 8 + kDither : 8;
            const std::string path =
                dir.file("pal" + std::to_string(depth) + (png ? ".png" : ".bmp"));
            SCOPED_TRACE(path);
            ASSERT_TRUE(saveImageFile(photo, path, encoder, flags, depth).ok);
            std::istringstream info(test::identify(path, "%w %h %z %[type] %k"));
            int width = 0, height = 0, fileDepth = 0, colours = 0;
            std::string type;
            info >> width >> height >> fileDepth >> type >> colours;
            EXPECT_EQ(width, 640);
            EXPECT_EQ(height, 480);
            EXPECT_TRUE(type == "Palette" || type == "Bilevel" || type == "Grayscale") << type;
            EXPECT_LE(colours, 1 << depth);
            EXPECT_GT(colours, (1 << depth) / 2); // the palette is put to use
            // Bits per pixel in the bitmap info header; IHDR bit depth and colour type 3.
            const auto bytes = test::readBytes(path);
            EXPECT_EQ(bytes[png ? 24 : 28], depth);
            EXPECT_EQ(png ? bytes[25] : fileDepth, png ? 3 : depth);
            // The reduced picture still resembles the photograph.
            EXPECT_GT(test::psnr(photo, test::decodeWithImageMagick(path, false)), depth == 1 ? 8.0
                                                                                   : depth == 4
                                                                                       ? 20.0
                                                                                       : 28.0);
        }
    }
}

TEST(PaletteFiles, FewColoursAreKeptExactly) {
    if (!test::haveImageMagick()) GTEST_SKIP() << "ImageMagick missing";
    test::TempDir dir;
    Image image(21, 11, PixelFormat::Bgr24);
    const std::uint8_t colours[5][3] = {
        {0, 0, 0}, {255, 255, 255}, {10, 200, 30}, {1, 2, 3}, {250, 128, 7}};
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 21; ++x)
            std::copy_n(colours[(x * 3 + y) % 5], 3, image.row(y) + x * 3);
    for (Encoder encoder : {Encoder::Png, Encoder::Bmp}) {
        for (int depth : {4, 8}) {
            const std::string path = dir.file(encoder == Encoder::Png ? "few.png" : "few.bmp");
            ASSERT_TRUE(saveImageFile(image, path, encoder, kDither, depth).ok);
            EXPECT_TRUE(test::samePixels(image, test::decodeWithImageMagick(path, false)))
                << path << " depth " << depth;
            EXPECT_EQ(test::identify(path, "%k"), "5");
        }
        // Two colours in an irregular pattern at one bit a pixel: checks the bit order and the
        // padding of 1-bit rows.
        Image two(19, 5, PixelFormat::Bgr24);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 19; ++x)
                std::copy_n(colours[(x * x + y) % 3 == 0 ? 2 : 4], 3, two.row(y) + x * 3);
        const std::string path = dir.file(encoder == Encoder::Png ? "two.png" : "two.bmp");
        ASSERT_TRUE(saveImageFile(two, path, encoder, 0, 1).ok);
        EXPECT_TRUE(test::samePixels(two, test::decodeWithImageMagick(path, false))) << path;
    }
}

TEST(Jp2Encoder, BoxFileSizesFallWithQualityAndAlphaIsKept) {
    if (!test::haveImageMagick()) GTEST_SKIP() << "ImageMagick missing";
    test::TempDir dir;
    const Image photo = test::photograph("exif/nokia_n70_iptc.jpg");
    ASSERT_FALSE(photo.empty());
    std::size_t previousSize = 0;
    for (int quality = 0; quality <= 10; ++quality) {
        SCOPED_TRACE(quality);
        const std::string path = dir.file("q" + std::to_string(quality) + ".jp2");
        ASSERT_TRUE(saveImageFile(photo, path, std::uint32_t(Encoder::Jp2k), quality, 24).ok);
        const auto bytes = test::readBytes(path);
        // Rates 5 and 2 ask for more than the 9/7 wavelet's finest quantisation produces on this
        // picture, so the top qualities may share a size; below them every step is smaller.
        if (quality <= 8)
            EXPECT_GT(bytes.size(), previousSize);
        else
            EXPECT_GE(bytes.size(), previousSize);
        // The rate is a size ratio of the raw picture; allow for the headers.
        const double raw = 640.0 * 480 * 3;
        EXPECT_LT(double(bytes.size()),
                  raw / quill::imagefiles::jp2CompressionRate(quality) * 1.1 + 400);
        previousSize = bytes.size();
        if (quality == 3 || quality == 10) {
            const double value = test::psnr(photo, load(path).toBgr24());
            EXPECT_GT(value, quality == 10 ? 40.0 : 28.0);
        }
    }
    const Image rgba = synthetic(64, 40, PixelFormat::Bgra32);
    ASSERT_TRUE(saveImageFile(rgba, dir.file("alpha.jp2"), Encoder::Jp2k, 10, 32).ok);
    // JP2 boxes, not a bare codestream.
    EXPECT_EQ(test::identify(dir.file("alpha.jp2"), "%m %w %h %z %A"), "JP2 64 40 8 True");
    const Image back = load(dir.file("alpha.jp2"));
    ASSERT_TRUE(back.hasAlpha());
    EXPECT_GT(test::psnr(rgba, back, true), 35.0);
}

TEST(ImageSaverWrite, CodestreamExtensionsGetABareCodestream) {
    test::TempDir dir;
    const Image image = synthetic(40, 30, PixelFormat::Bgr24);
    for (const char* name : {"a.j2k", "B.J2K", "b.j2c", "c.jp2"}) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(saveImageFile(image, dir.file(name), Encoder::Jp2k, 8, 24).ok);
        const auto bytes = test::readBytes(dir.file(name));
        ASSERT_GT(bytes.size(), 4u);
        // A codestream starts with its SOC and SIZ markers; a JP2 file with a signature box.
        const bool codestream =
            bytes[0] == 0xFF && bytes[1] == 0x4F && bytes[2] == 0xFF && bytes[3] == 0x51;
        EXPECT_EQ(codestream, std::string(name) != "c.jp2");
        if (std::string(name) != "b.j2c") {
            EXPECT_FALSE(load(dir.file(name)).empty());
        }
    }
}

TEST(ImageSaverWrite, BaselineFlagKeepsLowQualitiesBaseline) {
    // At quality 1 the tables need 16-bit entries: an extended frame (C1) unless forced to 8 bits.
    const Image image = synthetic(64, 48, PixelFormat::Bgr24);
    const auto frameMarker = [](const std::vector<std::uint8_t>& jpeg) {
        for (std::size_t i = 2; i + 1 < jpeg.size(); ++i)
            if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC1)) return jpeg[i + 1];
        return std::uint8_t(0);
    };
    for (int quality : {1, 2}) {
        const auto plain = quill::imagefiles::encodeImage(image, Encoder::Jpeg, quality, 24);
        const auto baseline = quill::imagefiles::encodeImage(
            image, Encoder::Jpeg, quality | quill::imagefiles::kSaveFlagBaseline, 24);
        ASSERT_TRUE(plain && baseline);
        EXPECT_EQ(frameMarker(*plain), 0xC1) << quality;
        EXPECT_EQ(frameMarker(*baseline), 0xC0) << quality;
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
        EXPECT_TRUE(quill::platform::isDiskFull(result.systemError));
        EXPECT_EQ(test::readBytes(target), old);
        const auto entries = quill::platform::listDirectory(mountPoint + "/");
        ASSERT_TRUE(entries);
        EXPECT_EQ(entries->size(), 1u) << "a temporary file was left behind";
    }
    // A file that fits still replaces the old one.
    const Image small = synthetic(8, 8, PixelFormat::Bgr24);
    EXPECT_TRUE(saveImageFile(small, target, Encoder::Bmp, 0, 24).ok);
    EXPECT_EQ(test::readBytes(target).size(), 54u + 24u * 8u);
}

} // namespace
