// Colour profiles: reading them from every format that embeds one, carrying them into every
// output that holds one byte for byte, and converting pixels to sRGB as Little CMS's own tools do.
#include "imagefiles/colour_profile.h"

#include "imagefiles/icc_reader.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "imagefiles/jpeg_encoder.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace quill::imagefiles {
namespace {

using Bytes = std::vector<std::uint8_t>;
using toolkit::Image;
using toolkit::PixelFormat;

const char* const kProfiles[] = {"display-p3", "adobe-rgb", "prophoto"};

Bytes profileBytes(const std::string& name) {
    return test::readBytes(test::fixture("colour/" + name + ".icc"));
}

std::string photoPath(const std::string& profile) {
    return test::fixture("colour/hopper-" + profile + ".jpg");
}

/// Mean CIEDE2000 difference of two images of the same size, both read as sRGB.
double meanDeltaE(const Image& a, const Image& b) {
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab =
        cmsCreateTransform(srgb, TYPE_BGR_8, lab, TYPE_Lab_DBL, INTENT_RELATIVE_COLORIMETRIC, 0);
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            cmsCIELab la, lb;
            cmsDoTransform(toLab, a.row(y) + 3 * x, &la, 1);
            cmsDoTransform(toLab, b.row(y) + 3 * x, &lb, 1);
            sum += cmsCIE2000DeltaE(&la, &lb, 1, 1, 1);
        }
    }
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return sum / (double(a.width()) * a.height());
}

/// The profile exiftool finds in a file (empty when it finds none).
Bytes exiftoolProfile(const std::string& path, const test::TempDir& dir) {
    const std::string out = dir.file("exiftool.icc");
    std::remove(out.c_str());
    test::runCommand("exiftool -q -b -icc_profile " + test::shellQuote(path) + " > " +
                     test::shellQuote(out));
    return test::readBytes(out);
}

/// A JPEG's bytes with its APP2 segments listed by position.
struct Segment {
    std::size_t start, end;
};
std::vector<Segment> app2Segments(const Bytes& jpeg) {
    std::vector<Segment> found;
    std::size_t pos = 2;
    while (pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA) {
        const std::size_t length = (std::size_t(jpeg[pos + 2]) << 8) | jpeg[pos + 3];
        if (jpeg[pos + 1] == 0xE2) found.push_back({pos, pos + 2 + length});
        pos += 2 + length;
    }
    return found;
}

Image gradient(int width, int height, PixelFormat format) {
    Image image(width, height, format);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = image.row(y) + image.bytesPerPixel() * x;
            p[0] = std::uint8_t(x * 255 / width);
            p[1] = std::uint8_t(y * 255 / height);
            p[2] = std::uint8_t((x + y) * 127 / (width + height) + 128);
            if (format == PixelFormat::Bgra32) p[3] = std::uint8_t(x * 4);
        }
    return image;
}

// Reading: the photographs made with exiftool, a chain of seven segments made by another
// program, files written by ImageMagick, and chains that are broken.
TEST(IccReader, FindsTheProfileEachFormatEmbeds) {
    for (const char* name : kProfiles) {
        Bytes icc;
        const Image image =
            loadImageFile(photoPath(name), FormatKind::Jpeg, Videos::Excluded, nullptr, &icc);
        ASSERT_FALSE(image.empty()) << name;
        EXPECT_EQ(icc, profileBytes(name)) << name;
    }
    const test::TempDir dir;
    const Bytes big = test::readBytes(test::testdata("jpeg/icc_profile_big.jpg"));
    EXPECT_EQ(readIccProfile(big).size(), 399788U);
    if (test::haveTool("/usr/bin/exiftool")) {
        EXPECT_EQ(readIccProfile(big),
                  exiftoolProfile(test::testdata("jpeg/icc_profile_big.jpg"), dir));
    }
    EXPECT_TRUE(readIccProfile(test::readBytes(test::testdata("png/7x13.png"))).empty());

    if (!test::haveTool("/usr/local/bin/convert")) QUILL_SKIP_WITHOUT_TOOL();
    for (const char* ext : {"png", "tif", "webp"}) {
        const std::string out = dir.file(std::string("magick.") + ext);
        ASSERT_EQ(test::runCommand("convert " + test::shellQuote(photoPath("display-p3")) + " " +
                                   test::shellQuote(out)),
                  0);
        Bytes icc;
        EXPECT_FALSE(loadImageFile(out, FormatKind::None, Videos::Excluded, nullptr, &icc).empty())
            << ext;
        EXPECT_EQ(icc, profileBytes("display-p3")) << ext;
    }
}

TEST(IccReader, TakesAJpegChainInAnyOrderAndRefusesABrokenOne) {
    // A profile of three segments (the library splits at 65519 bytes), the middle one moved last.
    Bytes profile(150000);
    for (std::size_t i = 0; i < profile.size(); ++i)
        profile[i] = std::uint8_t(i * 7 + i / 251);
    const Image image = gradient(16, 16, PixelFormat::Bgr24);
    Bytes jpeg;
    ASSERT_TRUE(encodeJpeg(image.view(), 8, jpeg, false, profile));
    const auto segments = app2Segments(jpeg);
    ASSERT_EQ(segments.size(), 3U);
    EXPECT_EQ(readIccProfile(jpeg), profile);

    const auto piece = [&](const Segment& s) {
        return Bytes(jpeg.begin() + std::ptrdiff_t(s.start), jpeg.begin() + std::ptrdiff_t(s.end));
    };
    const auto rebuilt = [&](const std::vector<Segment>& order) {
        Bytes out(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(segments[0].start));
        for (const Segment& s : order) {
            const Bytes p = piece(s);
            out.insert(out.end(), p.begin(), p.end());
        }
        out.insert(out.end(), jpeg.begin() + std::ptrdiff_t(segments[2].end), jpeg.end());
        return out;
    };
    EXPECT_EQ(readIccProfile(rebuilt({segments[0], segments[2], segments[1]})), profile);
    EXPECT_TRUE(readIccProfile(rebuilt({segments[0], segments[2]})).empty()) << "a part missing";
    EXPECT_TRUE(
        readIccProfile(rebuilt({segments[0], segments[1], segments[1], segments[2]})).empty())
        << "a part twice";
    Bytes overCount = jpeg;
    overCount[segments[2].start + 4 + 12] = 4; // part 4 of a chain of 3
    EXPECT_TRUE(readIccProfile(overCount).empty());
}

TEST(IccReader, RefusesBrokenAndOversizedProfilesInPngTiffAndJp2) {
    const Image image = gradient(8, 8, PixelFormat::Bgr24);
    const Bytes icc = profileBytes("adobe-rgb");
    // A PNG whose iCCP data is cut short no longer inflates.
    const auto png = encodeImage(image, Encoder::Png, {.iccProfile = icc}, 24);
    ASSERT_TRUE(png);
    EXPECT_EQ(readIccProfile(*png), icc);
    const auto at = std::search(png->begin(), png->end(), "iCCP", "iCCP" + 4) - png->begin();
    Bytes cut = *png;
    const std::uint32_t length =
        (std::uint32_t(cut[std::size_t(at) - 2]) << 8) | cut[std::size_t(at) - 1];
    cut.erase(cut.begin() + at + 4 + std::ptrdiff_t(length) - 10,
              cut.begin() + at + 4 + std::ptrdiff_t(length));
    cut[std::size_t(at) - 1] = std::uint8_t(length - 10);
    cut[std::size_t(at) - 2] = std::uint8_t((length - 10) >> 8);
    EXPECT_TRUE(readIccProfile(cut).empty());
    // A TIFF whose profile tag points past the end of the file.
    auto tiff = encodeImage(image, Encoder::Tiff, {.iccProfile = icc}, 24);
    ASSERT_TRUE(tiff);
    EXPECT_EQ(readIccProfile(*tiff), icc);
    tiff->resize(tiff->size() / 2);
    EXPECT_TRUE(readIccProfile(*tiff).empty());
    // A JP2 with its boxes truncated.
    auto jp2 = encodeImage(image, Encoder::Jp2k, {.quality = 8, .iccProfile = icc}, 24);
    ASSERT_TRUE(jp2);
    EXPECT_EQ(readIccProfile(*jp2), icc);
    jp2->resize(100);
    EXPECT_TRUE(readIccProfile(*jp2).empty());
}

// Writing: every output that holds a profile gets it byte for byte, as our reader and exiftool
// read it back; the others get none.
TEST(IccWriter, EveryOutputThatHoldsAProfileCarriesItUnchanged) {
    const test::TempDir dir;
    const Bytes icc = profileBytes("display-p3");
    const bool exiftool = test::haveTool("/usr/bin/exiftool");
    const Image opaque = gradient(40, 30, PixelFormat::Bgr24);
    const Image alpha = gradient(40, 30, PixelFormat::Bgra32);
    const struct {
        Encoder encoder;
        const char* extension;
    } outputs[] = {{Encoder::Jpeg, "jpg"},  {Encoder::Png, "png"},   {Encoder::Tiff, "tif"},
                   {Encoder::Webp, "webp"}, {Encoder::Avif, "avif"}, {Encoder::JpegXl, "jxl"},
                   {Encoder::Jp2k, "jp2"}};
    for (const auto& output : outputs) {
        for (const Image* image : {&opaque, &alpha}) {
            const int depth = image->hasAlpha() ? 32 : 24;
            ASSERT_TRUE(outputKeepsProfile(output.encoder, depth, false)) << output.extension;
            const auto bytes =
                encodeImage(*image, output.encoder, {.quality = 8, .iccProfile = icc}, depth);
            ASSERT_TRUE(bytes) << output.extension;
            EXPECT_EQ(readIccProfile(*bytes), icc) << output.extension << " " << depth;
            const std::string path = dir.file(std::string("out.") + output.extension);
            test::writeBytes(path, *bytes);
            // A bare JPEG XL codestream keeps the profile compressed inside it, where exiftool
            // does not look; libjxl's reading of it is checked above.
            if (exiftool && output.encoder != Encoder::JpegXl) {
                EXPECT_EQ(exiftoolProfile(path, dir), icc) << output.extension;
            }
            Bytes read;
            EXPECT_FALSE(
                loadImageFile(path, FormatKind::None, Videos::Excluded, nullptr, &read).empty())
                << output.extension;
            EXPECT_EQ(read, icc) << output.extension;
        }
        // Without a profile, none is written.
        const auto plain = encodeImage(opaque, output.encoder, {.quality = 8}, 24);
        ASSERT_TRUE(plain);
        EXPECT_TRUE(readIccProfile(*plain).empty()) << output.extension;
    }
    EXPECT_FALSE(outputKeepsProfile(Encoder::Bmp, 24, false));
    EXPECT_FALSE(outputKeepsProfile(Encoder::Png, 8, false));
    EXPECT_FALSE(outputKeepsProfile(Encoder::Tiff, 4, false));
    EXPECT_FALSE(outputKeepsProfile(Encoder::Jp2k, 24, true));
}

// Converting: the pixels come out as Little CMS's own tools make them from the same profile.
TEST(ColourConversion, MatchesTificcForEveryWideGamutProfile) {
    if (!test::haveTool("/usr/bin/tificc")) QUILL_SKIP_WITHOUT_TOOL();
    const test::TempDir dir;
    for (const char* name : kProfiles) {
        Bytes icc;
        Image image =
            loadImageFile(photoPath(name), FormatKind::Jpeg, Videos::Excluded, nullptr, &icc);
        ASSERT_FALSE(image.empty());
        ASSERT_EQ(profileKind(icc), ProfileKind::OtherRgb) << name;
        // The tool converts a lossless TIFF of the same pixels with the profile embedded.
        const auto tiff = encodeImage(image, Encoder::Tiff, {.iccProfile = icc}, 24);
        ASSERT_TRUE(tiff);
        const std::string in = dir.file("in.tif");
        const std::string out = dir.file("out.tif");
        test::writeBytes(in, *tiff);
        ASSERT_EQ(test::runCommand("tificc " + test::shellQuote(in) + " " + test::shellQuote(out)),
                  0);
        const Image reference = loadImageFile(out, FormatKind::Tiff).toBgr24();
        ASSERT_EQ(reference.width(), image.width());

        const Image original = image.clone();
        ASSERT_TRUE(convertImageToSrgb(image, icc));
        const double ours = meanDeltaE(image, reference);
        const double unconverted = meanDeltaE(original, reference);
        std::printf("[ colour ] %s: mean dE2000 against tificc %.4f (unconverted %.2f)\n", name,
                    ours, unconverted);
        EXPECT_LE(ours, 1.0) << name;
        EXPECT_GT(unconverted, 1.0) << name << ": the profile changes nothing to test";
    }
}

TEST(ColourConversion, TellsSrgbApartAndLeavesUnusableProfilesAlone) {
    // sRGB profiles as cameras embed them; Little CMS's own; a gray one; bytes that are none.
    Bytes icc;
    (void)loadImageFile(test::testdata("exif/Canon_40D.jpg"), FormatKind::Jpeg, Videos::Excluded,
                        nullptr, &icc);
    EXPECT_EQ(profileKind(icc), ProfileKind::Srgb);
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(srgb, nullptr, &size);
    Bytes own(size);
    cmsSaveProfileToMem(srgb, own.data(), &size);
    cmsCloseProfile(srgb);
    EXPECT_EQ(profileKind(own), ProfileKind::Srgb);
    for (const char* name : kProfiles)
        EXPECT_EQ(profileKind(profileBytes(name)), ProfileKind::OtherRgb);

    cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
    cmsHPROFILE gray = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsFreeToneCurve(curve);
    cmsSaveProfileToMem(gray, nullptr, &size);
    Bytes grayBytes(size);
    cmsSaveProfileToMem(gray, grayBytes.data(), &size);
    cmsCloseProfile(gray);
    Bytes broken = profileBytes("adobe-rgb");
    broken.resize(100);
    Image image = gradient(8, 8, PixelFormat::Bgr24);
    const Image before = image.clone();
    for (const Bytes& unusable : {grayBytes, broken, Bytes{}, Bytes(200, 0x41)}) {
        EXPECT_EQ(profileKind(unusable), ProfileKind::None);
        EXPECT_FALSE(convertImageToSrgb(image, unusable));
        EXPECT_TRUE(test::samePixels(image, before));
    }
}

TEST(ColourConversion, KeepsAlphaAndRoundTripsThroughTheProfile) {
    const Bytes icc = profileBytes("display-p3");
    Image image = gradient(32, 16, PixelFormat::Bgra32);
    const Image before = image.clone();
    ASSERT_TRUE(convertImageFromSrgb(image, icc));
    EXPECT_FALSE(test::samePixels(image, before));
    ASSERT_TRUE(convertImageToSrgb(image, icc));
    int worst = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < 4 * image.width(); ++x) {
            const int d = std::abs(int(image.row(y)[x]) - int(before.row(y)[x]));
            if (x % 4 == 3) {
                EXPECT_EQ(d, 0) << "alpha at " << x / 4 << "," << y;
            }
            worst = std::max(worst, d);
        }
    EXPECT_LE(worst, 3); // 8-bit samples through the narrower space and back

    // Pure sRGB red lies inside P3: its P3 coordinates are well off the primaries.
    toolkit::Rgba colours[] = {toolkit::Rgba::fromChannels(255, 0, 0, 77)};
    ASSERT_TRUE(convertColoursFromSrgb(colours, icc));
    EXPECT_NEAR(colours[0].red(), 234, 3);
    EXPECT_NEAR(colours[0].green(), 51, 4);
    EXPECT_NEAR(colours[0].blue(), 35, 4);
    EXPECT_EQ(colours[0].alpha(), 77);
}

} // namespace
} // namespace quill::imagefiles
