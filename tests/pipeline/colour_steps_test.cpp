// The colour decisions of a run: a wide-gamut photograph's profile travels into outputs that
// hold one, and its pixels become sRGB where the output cannot hold it, where metadata is removed
// and where sRGB is asked for; overlays are drawn in the colours of the profile kept.
#include "batch_run_fixture.h"
#include "imagefiles/colour_profile.h"
#include "imagefiles/icc_reader.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "pipeline/image_result.h"
#include "pipeline/process_loop.h"
#include "settings/language_pack.h"
#include "settings/output_naming.h"
#include "settings/run_settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace quill::pipeline {
namespace {

using Bytes = std::vector<std::uint8_t>;
using settings::OutputFormat;
using toolkit::Image;

class ColourRun : public test_runs::BatchRun {
protected:
    void SetUp() override {
        BatchRun::SetUp();
        preset.keepMetadata = 1;
        source = dir.file("photo.jpg");
        test::writeBytes(source, test::readBytes(test::fixture("colour/hopper-display-p3.jpg")));
        profile = test::readBytes(test::fixture("colour/display-p3.icc"));
        Bytes icc;
        decoded = imagefiles::loadImageFile(source, imagefiles::FormatKind::Jpeg,
                                            imagefiles::Videos::Excluded, nullptr, &icc);
        ASSERT_EQ(icc, profile);
        inSrgb = decoded.clone();
        ASSERT_TRUE(imagefiles::convertImageToSrgb(inSrgb, profile));
    }
    /// Runs the preset over the photograph; the output's path.
    std::string run(OutputFormat format, const std::string& extension) {
        preset.outputFormat = format;
        images.clear();
        EXPECT_TRUE(imagefiles::addImageRecord(source, images, {}));
        BatchRun::run(settings::CollisionAnswer::ReplaceAll);
        return dir.file("out/photo." + extension);
    }
    Image load(const std::string& path) {
        return imagefiles::loadImageFile(path, imagefiles::FormatKind::None).toBgr24();
    }

    std::string source;
    Bytes profile;
    Image decoded; ///< the photograph's pixels as stored (Display P3)
    Image inSrgb;  ///< the same converted to sRGB
};

/// The APP2 profile segments of a JPEG file.
int profileSegments(const Bytes& jpeg) {
    int count = 0;
    for (std::size_t pos = 2; pos + 4 <= jpeg.size() && jpeg[pos] == 0xFF && jpeg[pos + 1] != 0xDA;
         pos += 2 + ((std::size_t(jpeg[pos + 2]) << 8) | jpeg[pos + 3]))
        if (jpeg[pos + 1] == 0xE2 && std::memcmp(&jpeg[pos + 4], "ICC_PROFILE", 12) == 0) ++count;
    return count;
}

TEST_F(ColourRun, KeptProfileTravelsUnchangedWithUnconvertedPixels) {
    const struct {
        OutputFormat format;
        const char* extension;
        double minimumPsnr; // 0: the same pixels (lossless); else at the default quality
    } outputs[] = {{OutputFormat::Png, "png", 0},     {OutputFormat::Tiff, "tif", 0},
                   {OutputFormat::Webp, "webp", 30},  {OutputFormat::Avif, "avif", 28},
                   {OutputFormat::JpegXl, "jxl", 30}, {OutputFormat::Jpeg2000, "jp2", 30}};
    for (const auto& output : outputs) {
        const std::string path = run(output.format, output.extension);
        EXPECT_EQ(imagefiles::readIccProfile(test::readBytes(path)), profile) << output.extension;
        const Image written = load(path);
        ASSERT_EQ(written.width(), decoded.width()) << output.extension;
        // Unconverted: as close to the stored P3 pixels as the format's loss allows.
        if (output.minimumPsnr == 0)
            EXPECT_TRUE(test::samePixels(written, decoded)) << output.extension;
        else
            EXPECT_GE(test::psnr(written, decoded), output.minimumPsnr) << output.extension;
    }
    // A JPEG from a JPEG carries the source's segments: the profile is there once, not twice.
    const Bytes jpeg = test::readBytes(run(OutputFormat::Jpeg, "jpg"));
    EXPECT_EQ(profileSegments(jpeg), 1);
    EXPECT_EQ(imagefiles::readIccProfile(jpeg), profile);
}

TEST_F(ColourRun, OutputsWithoutRoomForAProfileGetSrgbPixels) {
    const Image bmp = load(run(OutputFormat::Bmp, "bmp"));
    EXPECT_TRUE(test::samePixels(bmp, inSrgb));
    // A palette reduction is made from the sRGB pixels and carries no profile.
    preset.colorDepthEnabled = 1;
    preset.colorDepth = settings::ColorDepth::Bits8;
    const std::string palette = run(OutputFormat::Png, "png");
    EXPECT_TRUE(imagefiles::readIccProfile(test::readBytes(palette)).empty());
    preset.colorDepthEnabled = 0;
}

TEST_F(ColourRun, RemovingMetadataOrAskingForSrgbConvertsAndWritesNoProfile) {
    for (const bool removeMetadata : {true, false}) {
        preset.keepMetadata = removeMetadata ? 0 : 1;
        preset.convertToSrgb = removeMetadata ? 0 : 1;
        const std::string png = run(OutputFormat::Png, "png");
        EXPECT_TRUE(imagefiles::readIccProfile(test::readBytes(png)).empty());
        EXPECT_TRUE(test::samePixels(load(png), inSrgb)) << removeMetadata;
        // A JPEG from a JPEG, decoded for its new quality, loses the source's profile segments
        // along with the conversion.
        preset.qualityEnabled = 1;
        const Bytes jpeg = test::readBytes(run(OutputFormat::Jpeg, "jpg"));
        EXPECT_EQ(profileSegments(jpeg), 0) << removeMetadata;
        EXPECT_GE(test::psnr(load(dir.file("out/photo.jpg")), inSrgb), 30.0) << removeMetadata;
        preset.qualityEnabled = 0;
    }
}

TEST_F(ColourRun, ACopiedFileKeepsItsPixelsAndProfile) {
    // Copied unchanged, with sRGB asked for (a copy is never decoded).
    preset.convertFormat = 0;
    preset.convertToSrgb = 1;
    EXPECT_EQ(test::readBytes(run(OutputFormat::Jpeg, "jpg")), test::readBytes(source));
    // With metadata removed the copy keeps its profile: its colours do not shift.
    preset.convertToSrgb = 0;
    preset.keepMetadata = 0;
    const Bytes copy = test::readBytes(run(OutputFormat::Jpeg, "jpg"));
    EXPECT_EQ(imagefiles::readIccProfile(copy), profile);
}

TEST_F(ColourRun, OverlayColoursAreConvertedIntoTheKeptProfile) {
    // A pure sRGB red square in the top left corner, drawn over the P3 photograph.
    Image red(12, 12, toolkit::PixelFormat::Bgr24);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 12; ++x)
            red.row(y)[3 * x + 2] = 255;
    const std::string overlay = dir.file("red.png");
    ASSERT_TRUE(imagefiles::saveImageFile(red, overlay, imagefiles::Encoder::Png, {}, 24));
    preset.overlayEnabled = 1;
    preset.overlayKind = settings::OverlayKind::Image;
    preset.overlayImagePath = overlay;
    preset.overlayImageScale = 100;
    preset.overlayOpacity = 100;
    preset.overlayOutline = 0;
    preset.overlayHorizontalAlign = settings::OverlayAlign::Start;
    preset.overlayVerticalAlign = settings::OverlayAlign::Start;
    preset.overlayHorizontalMargin = 1; // 0 would centre it
    preset.overlayVerticalMargin = 1;

    toolkit::Rgba expected[] = {toolkit::Rgba::fromChannels(255, 0, 0)};
    ASSERT_TRUE(imagefiles::convertColoursFromSrgb(expected, profile));
    const std::string png = run(OutputFormat::Png, "png");
    EXPECT_EQ(imagefiles::readIccProfile(test::readBytes(png)), profile);
    const Image kept = load(png);
    const std::uint8_t* p = kept.row(5) + 3 * 5;
    EXPECT_NEAR(p[2], expected[0].red(), 1);
    EXPECT_NEAR(p[1], expected[0].green(), 1);
    EXPECT_NEAR(p[0], expected[0].blue(), 1);
    EXPECT_LT(p[2], 245) << "drawn as sRGB red, unconverted";

    // Converted to sRGB, the square is sRGB red again.
    preset.convertToSrgb = 1;
    const Image converted = load(run(OutputFormat::Png, "png"));
    const std::uint8_t* q = converted.row(5) + 3 * 5;
    EXPECT_EQ(q[2], 255);
    EXPECT_EQ(q[1], 0);
    EXPECT_EQ(q[0], 0);
}

} // namespace
} // namespace quill::pipeline
