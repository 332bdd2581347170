// Lossless JPEG turns and crops: the same coefficients as jpegtran's, no loss over four turns,
// the refusals that send an image back to the decoder, the plan's choice of which runs may use
// it, and runs of the processing loop that write it with the source's metadata.
#include "batch_run_fixture.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "ops_test_images.h"
#include "pipeline/exif.h"
#include "pipeline/image_steps.h"
#include "pipeline/jpeg_metadata.h"
#include "pipeline/lossless_jpeg.h"
#include "pipeline/process_loop.h"
#include "pipeline/run_plan.h"
#include "settings/language_pack.h"
#include "settings/output_naming.h"
#include "settings/preset.h"
#include "settings/run_settings.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quill::pipeline {
namespace {

using toolkit::Image;
using toolkit::PixelFormat;

Image decodeJpeg(const std::vector<std::uint8_t>& bytes, test::TempDir& dir) {
    const std::string path = dir.file("decoded.jpg");
    test::writeBytes(path, bytes);
    return imagefiles::loadImageFile(path, imagefiles::FormatKind::Jpeg);
}

/// jpegtran's switches for each turn.
const char* jpegtranSwitch(RotateMode turn) {
    switch (turn) {
    case RotateMode::CounterClockwise90:
        return "-rotate 270";
    case RotateMode::Clockwise90:
        return "-rotate 90";
    case RotateMode::Rotate180:
        return "-rotate 180";
    case RotateMode::MirrorLeftRight:
        return "-flip horizontal";
    case RotateMode::MirrorTopBottom:
        return "-flip vertical";
    case RotateMode::Transpose:
        return "-transpose";
    default:
        return "-transverse";
    }
}

// A camera JPEG (4:2:2, 640 x 480: MCUs of 16 x 8, which trade places in a quarter turn) turned
// every way and cropped: the same pixels as jpegtran's perfect transform gives.
TEST(LosslessJpeg, EveryTurnOfACameraJpegEqualsJpegtransPerfectTransform) {
    if (!test::haveTool("/usr/bin/jpegtran")) QUILL_SKIP_WITHOUT_TOOL() << "jpegtran missing";
    test::TempDir dir;
    const std::string source = test::testdata("exif/nokia_n70_iptc.jpg");
    const auto bytes = test::readBytes(source);
    for (int mode = 0; mode <= 6; ++mode) {
        const auto turn = RotateMode(mode);
        SCOPED_TRACE(mode);
        const auto made = transformJpegLosslessly(bytes, {.turn = turn, .margins = {}});
        ASSERT_TRUE(made);
        const bool swaps = sidesSwap(turn);
        EXPECT_EQ(std::pair(made->width, made->height),
                  swaps ? std::pair(480, 640) : std::pair(640, 480));
        const std::string theirs = dir.file("theirs.jpg");
        ASSERT_EQ(test::runCommand(std::string("jpegtran -perfect -copy none ") +
                                   jpegtranSwitch(turn) + " -outfile " + theirs + " " + source),
                  0);
        const Image expected = imagefiles::loadImageFile(theirs, imagefiles::FormatKind::Jpeg);
        EXPECT_TRUE(test::samePixels(decodeJpeg(made->bytes, dir), expected));
    }
    // A crop on MCU boundaries of the turned picture, against jpegtran's crop of its turn.
    const auto cropped = transformJpegLosslessly(
        bytes, {.turn = RotateMode::Clockwise90,
                .margins = {.left = 16, .top = 32, .right = 5, .bottom = 7}});
    ASSERT_TRUE(cropped);
    EXPECT_EQ(std::pair(cropped->width, cropped->height), std::pair(480 - 21, 640 - 39));
    ASSERT_EQ(test::runCommand("jpegtran -perfect -copy none -rotate 90 -crop 459x601+16+32 "
                               "-outfile " +
                               dir.file("theirs.jpg") + " " + source),
              0);
    EXPECT_TRUE(test::samePixels(
        decodeJpeg(cropped->bytes, dir),
        imagefiles::loadImageFile(dir.file("theirs.jpg"), imagefiles::FormatKind::Jpeg)));
}

TEST(LosslessJpeg, FourQuarterTurnsGiveTheOriginalPixelsAndTheCarryOverFindsItsHeader) {
    test::TempDir dir;
    const Image photo = test::makeImage(96, 64, PixelFormat::Bgr24, [](int x, int y) {
        return test::Bgra{std::uint8_t(x * 2), std::uint8_t(y * 3), std::uint8_t(x ^ y)};
    });
    ASSERT_TRUE(imagefiles::saveImageFile(photo, dir.file("p.jpg"), imagefiles::Encoder::Jpeg,
                                          {.quality = 7}, 24));
    const auto original = test::readBytes(dir.file("p.jpg"));
    std::vector<std::uint8_t> bytes = original;
    for (int i = 0; i < 4; ++i) {
        const auto made = transformJpegLosslessly(bytes, {.turn = RotateMode::Clockwise90});
        ASSERT_TRUE(made);
        bytes = made->bytes;
        // What the metadata carry-over inserts its segments after.
        JpegMetadata metadata;
        setComment(metadata, "kept");
        EXPECT_TRUE(insertSegments(bytes, metadata));
    }
    EXPECT_TRUE(test::samePixels(decodeJpeg(bytes, dir), decodeJpeg(original, dir)));
}

// Whatever would not give exactly the edited picture at its full size is refused: the caller
// decodes instead.
TEST(LosslessJpeg, ImperfectTurnsUnalignedCropsCmykAndDamagedFilesAreRefused) {
    test::TempDir dir;
    // 100 x 68, 4:4:4 (MCUs of 8): 68 rows leave a partial block row at the bottom.
    const auto canon = test::readBytes(test::testdata("exif/Canon_40D.jpg"));
    EXPECT_FALSE(transformJpegLosslessly(canon, {.turn = RotateMode::Clockwise90}));
    EXPECT_FALSE(transformJpegLosslessly(canon, {.turn = RotateMode::Rotate180}));
    EXPECT_FALSE(transformJpegLosslessly(canon, {.turn = RotateMode::MirrorTopBottom}));
    // Turns that leave the partial blocks at the right and bottom are perfect.
    const auto transposed = transformJpegLosslessly(canon, {.turn = RotateMode::Transpose});
    ASSERT_TRUE(transposed);
    EXPECT_EQ(std::pair(transposed->width, transposed->height), std::pair(68, 100));
    const auto mirrored = transformJpegLosslessly(canon, {.turn = RotateMode::MirrorLeftRight});
    EXPECT_FALSE(mirrored); // 100 columns: a partial block column would move to the left

    // A crop whose left or top edge is inside an MCU, or that leaves nothing.
    EXPECT_FALSE(transformJpegLosslessly(canon, {.margins = {.left = 4}}));
    EXPECT_FALSE(transformJpegLosslessly(canon, {.margins = {.top = 9}}));
    EXPECT_FALSE(transformJpegLosslessly(canon, {.margins = {.left = 56, .right = 44}}));
    EXPECT_FALSE(transformJpegLosslessly(canon, {.margins = {.left = -8}}));
    // On block boundaries of a 4:4:4 file the crop gives exactly the decoded pixels' crop.
    const auto cropped = transformJpegLosslessly(
        canon, {.margins = {.left = 8, .top = 16, .right = 3, .bottom = 5}});
    ASSERT_TRUE(cropped);
    EXPECT_EQ(std::pair(cropped->width, cropped->height), std::pair(89, 47));
    const Image whole = decodeJpeg(canon, dir);
    EXPECT_TRUE(test::samePixels(decodeJpeg(cropped->bytes, dir), cropMargins(whole, 8, 16, 3, 5)));

    // CMYK files have no JFIF header to carry the metadata after.
    EXPECT_FALSE(
        transformJpegLosslessly(test::readBytes(test::testdata("jpeg/pil_sample_cmyk.jpg")),
                                {.turn = RotateMode::Transpose}));
    // A file cut short, or no JPEG at all.
    const auto hopper = test::readBytes(test::testdata("jpeg/hopper.jpg"));
    ASSERT_TRUE(transformJpegLosslessly(hopper, {.turn = RotateMode::Rotate180}));
    const std::vector<std::uint8_t> cut(hopper.begin(), hopper.begin() + hopper.size() / 2);
    EXPECT_FALSE(transformJpegLosslessly(cut, {.turn = RotateMode::Rotate180}));
    EXPECT_FALSE(transformJpegLosslessly(std::vector<std::uint8_t>(100, 0xFF), {}));
    EXPECT_FALSE(transformJpegLosslessly({}, {.turn = RotateMode::Rotate180}));
}

// --- Which runs use it -----------------------------------------------------------------------

class LosslessPlan : public ::testing::Test {
protected:
    void SetUp() override {
        preset = settings::defaultPreset(0, "Test");
        preset.convertFormat = 1;
        preset.outputFormat = settings::OutputFormat::Jpeg;
        preset.rotateEnabled = 1;
        preset.rotateMode = int(RotateMode::Clockwise90);
    }
    std::optional<LosslessJpegEdit>
    plan(std::int32_t orientation = 0, imagefiles::FormatKind kind = imagefiles::FormatKind::Jpeg) {
        const settings::RunSettings run =
            settings::deriveRunSettings(preset, settings::runContextFromPlatform(1, 0));
        const RunPlan runPlan = makeRunPlan(preset, run, images, "creator");
        return losslessJpegPlan(runPlan, kind, orientation);
    }
    settings::Preset preset;
    imagefiles::ImageList images;
};

TEST_F(LosslessPlan, OnlyTurnsAndMarginsOfJpegsWrittenAsJpegAtNoChosenQuality) {
    ASSERT_TRUE(plan());
    EXPECT_EQ(plan()->turn, RotateMode::Clockwise90);
    EXPECT_FALSE(plan(0, imagefiles::FormatKind::Png));
    // Margins (how a turn moves them is checked on pixels below). An upright turn comes before
    // the crop: the margins stay as they are.
    preset.cropEnabled = 1;
    preset.cropMode = settings::CropMode::Margins;
    preset.cropLeft = 16;
    preset.cropTop = 0;
    preset.cropRight = 8;
    preset.cropBottom = 32;
    preset.rotateMode = int(RotateMode::Upright);
    ASSERT_TRUE(plan(8));
    EXPECT_EQ(plan(8)->turn, RotateMode::CounterClockwise90);
    EXPECT_EQ(plan(8)->margins.left, 16);
    ASSERT_TRUE(plan(1));
    EXPECT_FALSE(plan(1)->turn); // stored upright: the crop alone
    preset.rotateEnabled = 0;
    ASSERT_TRUE(plan());
    EXPECT_FALSE(plan()->turn);

    const auto refuses = [&](auto change) {
        settings::Preset kept = preset;
        preset.rotateEnabled = 1;
        change(preset);
        const bool refused = !plan();
        preset = kept;
        return refused;
    };
    using P = settings::Preset&;
    EXPECT_TRUE(refuses([](P p) { p.qualityEnabled = 1; }));
    EXPECT_TRUE(refuses([](P p) { p.cropMode = settings::CropMode::Trim; }));
    EXPECT_TRUE(refuses([](P p) { p.resizeEnabled = 1; }));
    EXPECT_TRUE(refuses([](P p) { p.brightnessEnabled = 1; }));
    EXPECT_TRUE(refuses([](P p) { p.canvasEnabled = 1; }));
    EXPECT_TRUE(refuses([](P p) { p.convertToSrgb = 1; }));
    EXPECT_TRUE(refuses([](P p) { p.outputFormat = settings::OutputFormat::Pdf; }));
    EXPECT_TRUE(refuses([](P p) { p.outputFormat = settings::OutputFormat::Png; }));
    EXPECT_FALSE(refuses([](P p) { p.keepMetadata = 0; }));
}

// The plan's edit made losslessly shows what the chain makes of the decoded pixels, for every
// turn with margins on each side (4:2:2, so the MCUs trade places in a quarter turn).
TEST_F(LosslessPlan, TheTransformOfThePlansEditMatchesTheChainOnDecodedPixels) {
    test::TempDir dir;
    const auto bytes = test::readBytes(test::testdata("exif/nokia_n70_iptc.jpg"));
    const Image source = decodeJpeg(bytes, dir);
    preset.cropEnabled = 1;
    preset.cropMode = settings::CropMode::Margins;
    preset.cropLeft = 16;
    preset.cropTop = 32;
    preset.cropRight = 48;
    preset.cropBottom = 64;
    for (int mode = 0; mode <= 6; ++mode) {
        SCOPED_TRACE(mode);
        preset.rotateMode = std::uint8_t(mode);
        const auto edit = plan();
        ASSERT_TRUE(edit);
        const auto made = transformJpegLosslessly(bytes, *edit);
        ASSERT_TRUE(made);
        const settings::RunSettings run =
            settings::deriveRunSettings(preset, settings::runContextFromPlatform(1, 0));
        const EditPlan chain = makeEditPlan(preset, run);
        Image expected = source.clone();
        ASSERT_EQ(applyEditChain(expected, chain, EditTools(chain), "").result, ImageResult::Done);
        const Image lossless = decodeJpeg(made->bytes, dir);
        ASSERT_EQ(std::pair(lossless.width(), lossless.height()),
                  std::pair(expected.width(), expected.height()));
        EXPECT_GT(test::psnr(lossless, expected), 38.0);
    }
}

// --- Runs of the processing loop ---------------------------------------------------------------

class LosslessRun : public test_runs::BatchRun {
protected:
    void SetUp() override {
        BatchRun::SetUp();
        preset.rotateEnabled = 1;
        preset.useExifOrientation = 1;
        preset.keepMetadata = 1;
    }
};

// A run turns what it can losslessly, with the source's segments carried over and its EXIF
// patched, and decodes what it cannot: a file with odd sides comes out turned at its full size.
TEST_F(LosslessRun, PerfectTurnsKeepTheCoefficientsAndOddSidesFallBackToTheDecoder) {
    const std::string upright = add("exif/orientation/hopper_orientation_6.jpg", "six.jpg");
    const std::string odd = add("exif/Canon_40D.jpg", "odd.jpg");
    preset.rotateMode = int(RotateMode::Upright);
    run();

    const auto six = test::readBytes(upright);
    const auto expected = transformJpegLosslessly(six, {.turn = RotateMode::Clockwise90});
    ASSERT_TRUE(expected);
    test::TempDir scratch;
    EXPECT_TRUE(test::samePixels(
        imagefiles::loadImageFile(dir.file("out/six.jpg"), imagefiles::FormatKind::Jpeg),
        decodeJpeg(expected->bytes, scratch)));
    EXPECT_EQ(readExifDetails(dir.file("out/six.jpg")).orientation, 1);
    JpegMetadata source, written;
    ASSERT_TRUE(readMetadata(upright, source));
    ASSERT_TRUE(readMetadata(dir.file("out/six.jpg"), written));
    EXPECT_EQ(source.segments.size(), written.segments.size());

    // Orientation 1 and no turn: Canon's picture written as it is, through the decoder.
    const Image canon = imagefiles::loadImageFile(odd, imagefiles::FormatKind::Jpeg);
    const Image out =
        imagefiles::loadImageFile(dir.file("out/odd.jpg"), imagefiles::FormatKind::Jpeg);
    EXPECT_EQ(std::pair(out.width(), out.height()), std::pair(100, 68));
    EXPECT_TRUE(test::samePixels(out, canon)); // its coefficients copied as they are

    // A quarter turn of the odd file cannot be lossless: decoded, turned, full size.
    images.clear();
    ASSERT_TRUE(imagefiles::addImageRecord(odd, images, {}));
    preset.rotateMode = int(RotateMode::Clockwise90);
    preset.outputDirPattern = dir.path() + "again/";
    ASSERT_TRUE(platform::createDirectories(dir.path() + "again/"));
    run();
    const Image turned =
        imagefiles::loadImageFile(dir.file("again/odd.jpg"), imagefiles::FormatKind::Jpeg);
    EXPECT_EQ(std::pair(turned.width(), turned.height()), std::pair(68, 100));
    EXPECT_GT(test::psnr(turned, rotateImage(canon, RotateMode::Clockwise90)), 30.0);
    std::string tags;
    if (test::haveTool("/usr/bin/exiftool")) {
        test::runCommand("exiftool -n -s3 -ExifImageWidth -ExifImageHeight " +
                             test::shellQuote(dir.file("again/odd.jpg")),
                         &tags);
        EXPECT_EQ(tags, "68\n100\n");
    }
}

} // namespace
} // namespace quill::pipeline
