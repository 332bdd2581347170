// Upright turns: the turn each EXIF orientation asks for, the readers that find the orientation
// in TIFF structures and PNG files, the chain that turns before it crops and resizes, and runs
// of the processing loop from files of several formats to outputs whose metadata says upright.
#include "batch_run_fixture.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "ops_test_images.h"
#include "pipeline/edit_chain.h"
#include "pipeline/exif.h"
#include "pipeline/image_steps.h"
#include "pipeline/jpeg_metadata.h"
#include "pipeline/process_loop.h"
#include "pipeline/run_plan.h"
#include "settings/language_pack.h"
#include "settings/output_naming.h"
#include "settings/preset.h"
#include "settings/run_settings.h"
#include "test_support.h"
#include "toolkit/bytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quill::pipeline {
namespace {

using toolkit::Image;
using toolkit::PixelFormat;

// --- Building files with an orientation ------------------------------------------------------

/// A little-endian TIFF structure whose first directory holds the orientation and points to an
/// EXIF directory holding the pixel size.
std::vector<std::uint8_t> tiffBlock(int orientation, int width, int height) {
    std::vector<std::uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    const auto u16 = [&](int v) {
        b.push_back(std::uint8_t(v));
        b.push_back(std::uint8_t(v >> 8));
    };
    const auto u32 = [&](std::uint32_t v) {
        u16(int(v & 0xFFFF));
        u16(int(v >> 16));
    };
    const auto entry = [&](int tag, int type, std::uint32_t value) {
        u16(tag);
        u16(type);
        u32(1);
        u32(value); // a SHORT sits in the first two bytes, little-endian
    };
    u16(2);
    entry(0x0112, 3, std::uint32_t(orientation));
    entry(0x8769, 4, 38);
    u32(0);
    u16(2);
    entry(0xA002, 4, std::uint32_t(width));
    entry(0xA003, 4, std::uint32_t(height));
    u32(0);
    return b;
}

/// Saves `image` as a JPEG file of the program's encoder with an EXIF block holding the
/// orientation (none for 0) and the size.
void saveJpegWithOrientation(const Image& image, const std::string& path, int orientation) {
    ASSERT_TRUE(
        imagefiles::saveImageFile(image, path, imagefiles::Encoder::Jpeg, {.quality = 9}, 24));
    if (orientation == 0) return;
    JpegMetadata metadata;
    MetadataSegment exif;
    exif.marker = kMarkerApp1;
    exif.data = {'E', 'x', 'i', 'f', 0, 0};
    const auto block = tiffBlock(orientation, image.width(), image.height());
    exif.data.insert(exif.data.end(), block.begin(), block.end());
    exif.length = std::uint16_t(exif.data.size());
    exif.loaded = true;
    metadata.segments.push_back(exif);
    metadata.present = metadata.hasApp1 = true;
    ASSERT_TRUE(writeMetadata(path, metadata));
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

/// A PNG file with an eXIf chunk (with the "Exif" 00 00 prefix some writers add, when asked)
/// put before its IEND chunk.
std::vector<std::uint8_t> withExifChunk(std::vector<std::uint8_t> png,
                                        const std::vector<std::uint8_t>& block, bool prefixed) {
    // Pushed byte by byte: GCC 12 warns of a false overflow when one list is inserted after
    // another at -O2 under ThreadSanitizer.
    static constexpr char kType[] = "eXIfExif\0";
    std::vector<std::uint8_t> chunk;
    chunk.reserve(10 + block.size());
    for (std::size_t i = 0; i < (prefixed ? 10u : 4u); ++i)
        chunk.push_back(std::uint8_t(kType[i]));
    chunk.insert(chunk.end(), block.begin(), block.end());
    std::vector<std::uint8_t> out(png.begin(), png.end() - 12);
    const auto u32 = [&](std::uint32_t v) {
        toolkit::appendU16be(out, std::uint16_t(v >> 16));
        toolkit::appendU16be(out, std::uint16_t(v));
    };
    u32(std::uint32_t(chunk.size() - 4));
    out.insert(out.end(), chunk.begin(), chunk.end());
    u32(crc32(chunk.data(), chunk.size()));
    out.insert(out.end(), png.end() - 12, png.end());
    return out;
}

// --- The turn of each orientation and the readers ---------------------------------------------

TEST(UprightTurn, EachOrientationsTurnLeavesTheTagAtOneAndMatchesTheCarryOversTable) {
    EXPECT_FALSE(uprightTurn(0));
    EXPECT_FALSE(uprightTurn(1));
    EXPECT_FALSE(uprightTurn(9));
    EXPECT_FALSE(uprightTurn(-1));
    for (int orientation = 2; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const auto turn = uprightTurn(orientation);
        ASSERT_TRUE(turn);
        // The metadata patch describes the turned pixels by this table: upright is 1.
        EXPECT_EQ(newOrientation(orientation, int(*turn)), 1);
        EXPECT_EQ(uprightRotateMode(orientation), int(*turn));
    }
}

TEST(UprightTurn, TiffAndPngReadersFindTheOrientationAndStayInsideDamagedBytes) {
    const auto block = tiffBlock(6, 30, 20);
    EXPECT_EQ(tiffOrientation(block), 6);
    // Big-endian: the same directory with every number turned around.
    const std::vector<std::uint8_t> big = {'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3,
                                           0,   0,   0, 1,  0, 8, 0, 0, 0, 0, 0,    0,    0, 0};
    EXPECT_EQ(tiffOrientation(big), 8);
    auto wrongType = block;
    wrongType[12] = 4; // a LONG is no orientation
    EXPECT_EQ(tiffOrientation(wrongType), 0);
    auto outOfRange = block;
    outOfRange[18] = 9;
    EXPECT_EQ(tiffOrientation(outOfRange), 0);
    auto farDirectory = block;
    farDirectory[4] = 0xF0; // past the end
    EXPECT_EQ(tiffOrientation(farDirectory), 0);
    auto manyEntries = block;
    manyEntries[8] = 0xFF; // more entries than the bytes hold
    manyEntries[9] = 0xFF;
    EXPECT_EQ(tiffOrientation(manyEntries), 6);
    for (std::size_t cut = 0; cut < 20; ++cut)
        EXPECT_EQ(tiffOrientation(std::span(block).first(cut)), 0) << cut;
    EXPECT_EQ(tiffOrientation({}), 0);

    test::TempDir dir;
    ASSERT_TRUE(imagefiles::saveImageFile(Image(8, 8, PixelFormat::Bgr24), dir.file("p.png"),
                                          imagefiles::Encoder::Png, {}, 24));
    const auto png = test::readBytes(dir.file("p.png"));
    EXPECT_TRUE(pngExifBlock(png).empty());
    for (const bool prefixed : {false, true}) {
        const auto tagged = withExifChunk(png, block, prefixed);
        const auto found = pngExifBlock(tagged);
        EXPECT_EQ(std::vector(found.begin(), found.end()), block);
        // A chunk whose length runs past the end is not read.
        auto cut = tagged;
        cut.resize(png.size() - 12 + 12 + block.size() / 2);
        EXPECT_TRUE(pngExifBlock(cut).empty());
    }
    EXPECT_TRUE(pngExifBlock(block).empty()); // not a PNG file
}

// --- The chain ---------------------------------------------------------------------------------

EditPlan uprightPlan() {
    EditPlan plan;
    plan.rotate = RotateMode::Upright;
    return plan;
}

// Margins, the resize and the size measured beforehand all act on the upright picture.
TEST(UprightChain, CropAndResizeActOnTheUprightPictureAndTheMeasureAgrees) {
    const Image stored = test::makeImage(64, 40, PixelFormat::Bgr24, test::uniquePixel);
    EditPlan plan = uprightPlan();
    plan.crop = CropMargins{.left = 0, .top = 0, .right = 0, .bottom = 10};
    const EditTools tools(plan);
    for (int orientation = 0; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        Image image = stored.clone();
        ASSERT_EQ(applyEditChain(image, plan, tools, "", {}, {}, orientation).result,
                  ImageResult::Done);
        Image upright = stored.clone();
        if (const auto turn = uprightTurn(orientation)) upright = rotateImage(stored, *turn);
        const Image expected = cropMargins(upright, 0, 0, 0, 10);
        EXPECT_TRUE(test::samePixels(image, expected));
        const auto measured = measureEditChain(plan, 64, 40, {}, orientation);
        ASSERT_TRUE(measured);
        EXPECT_EQ(*measured, (EditedSize{image.width(), image.height()}));
    }
    // Only the room estimate cannot know the orientation: it takes the larger case.
    EditPlan fit = uprightPlan();
    fit.scale = ScaleRequest{.basis = ScaleBasis::Pixels,
                             .limit = ScaleLimit::NeverEnlarge,
                             .aspect = ScaleAspect::Keep,
                             .targetX = 100,
                             .targetY = 10};
    const EditEstimate estimate = estimateEdit(fit, 40, 64);
    EXPECT_EQ(estimate.bytes, 2u * 40 * 64 * 4);
    EXPECT_EQ(estimate.width, 16);
    EXPECT_EQ(estimate.height, 10);
}

// --- Runs of the processing loop ---------------------------------------------------------------

class UprightRun : public test_runs::BatchRun {
protected:
    void SetUp() override {
        BatchRun::SetUp();
        preset.rotateEnabled = 1;
        preset.rotateMode = int(RotateMode::Upright);
        preset.keepMetadata = 1;
    }
    Image output(const std::string& name, imagefiles::FormatKind kind) {
        return imagefiles::loadImageFile(dir.file("out/" + name), kind);
    }
};

// A portrait photo stored landscape (orientation 6) fitted into 1024 x 768 comes out upright,
// 576 x 768, with orientation 1 in its EXIF block, also with the flag that patches the
// orientation after other turns switched off; a photo stored upright stays as it is.
TEST_F(UprightRun, APortraitPhotoFittedInLandscapeBoundsComesOutUprightWithOrientationOne) {
    const Image stored = test::makeImage(1024, 768, PixelFormat::Bgr24, [](int x, int y) {
        return test::Bgra{std::uint8_t(x / 4), std::uint8_t(y / 3),
                          std::uint8_t(x < 100 ? 255 : 0)};
    });
    saveJpegWithOrientation(stored, dir.file("portrait.jpg"), 6);
    saveJpegWithOrientation(stored, dir.file("landscape.jpg"), 1);
    saveJpegWithOrientation(stored, dir.file("untagged.jpg"), 0);
    for (const char* name : {"portrait.jpg", "landscape.jpg", "untagged.jpg"})
        ASSERT_TRUE(imagefiles::addImageRecord(dir.file(name), images, {}));
    preset.useExifOrientation = 0;
    preset.resizeEnabled = 1;
    preset.resizeMode = settings::ResizeMode::Pixels;
    preset.resizeOption = 1; // keep the aspect ratio
    preset.resizeLimits = settings::ResizeLimits::ShrinkOnly;
    preset.resizeWidth = 1024;
    preset.resizeHeight = 768;
    run();

    const Image portrait = output("portrait.jpg", imagefiles::FormatKind::Jpeg);
    EXPECT_EQ(std::pair(portrait.width(), portrait.height()), std::pair(576, 768));
    // The red band on the stored left edge is now along the top.
    EXPECT_GT(test::pixelAt(portrait, 288, 10)[2], 200);
    EXPECT_LT(test::pixelAt(portrait, 288, 700)[2], 60);
    EXPECT_EQ(readExifDetails(dir.file("out/portrait.jpg")).orientation, 1);
    const Image landscape = output("landscape.jpg", imagefiles::FormatKind::Jpeg);
    EXPECT_EQ(std::pair(landscape.width(), landscape.height()), std::pair(1024, 768));
    EXPECT_EQ(readExifDetails(dir.file("out/landscape.jpg")).orientation, 1);
    EXPECT_EQ(output("untagged.jpg", imagefiles::FormatKind::Jpeg).width(), 1024);
}

// Camera photos of all eight orientations: each comes out as ImageMagick's -auto-orient shows
// it, 600 x 450, with orientation 1 written.
TEST_F(UprightRun, CameraPhotosOfAllEightOrientationsComeOutAsImageMagickShowsThem) {
    const bool magick =
        test::haveTool("/usr/local/bin/convert") || test::haveTool("/usr/bin/convert");
    const EditPlan plan = uprightPlan();
    const EditTools tools(plan);
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const std::string name = "landscape_" + std::to_string(orientation) + ".jpg";
        const std::string source = test::testdata("exif/orientation/" + name);
        ASSERT_EQ(uprightOrientation(source, imagefiles::FormatKind::Jpeg), orientation);
        Image image = imagefiles::loadImageFile(source, imagefiles::FormatKind::Jpeg);
        ASSERT_EQ(applyEditChain(image, plan, tools, "", {}, {}, orientation).result,
                  ImageResult::Done);
        EXPECT_EQ(std::pair(image.width(), image.height()), std::pair(600, 450));
        if (magick) {
            const std::string theirs = dir.file("theirs.png");
            ASSERT_EQ(test::runCommand("convert " + source + " -auto-orient " + theirs), 0);
            EXPECT_TRUE(test::samePixels(
                image, imagefiles::loadImageFile(theirs, imagefiles::FormatKind::Png)));
        }
        test::writeBytes(dir.file(name), test::readBytes(source));
        ASSERT_TRUE(imagefiles::addImageRecord(dir.file(name), images, {}));
    }
    run();
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const std::string out = dir.file("out/landscape_" + std::to_string(orientation) + ".jpg");
        EXPECT_EQ(readExifDetails(out).orientation, 1) << orientation;
        const Image written = imagefiles::loadImageFile(out, imagefiles::FormatKind::Jpeg);
        EXPECT_EQ(std::pair(written.width(), written.height()), std::pair(600, 450));
    }
}

// PNG (eXIf) and TIFF sources are turned by their orientation once; written as PNG the result
// is the upright picture, exactly.
TEST_F(UprightRun, PngAndTiffSourcesAreTurnedByTheirOwnOrientation) {
    const Image stored = test::makeImage(48, 32, PixelFormat::Bgr24, test::uniquePixel);
    const Image upright = rotateImage(stored, RotateMode::Clockwise90);
    ASSERT_TRUE(
        imagefiles::saveImageFile(stored, dir.file("plain.png"), imagefiles::Encoder::Png, {}, 24));
    test::writeBytes(dir.file("tagged.png"), withExifChunk(test::readBytes(dir.file("plain.png")),
                                                           tiffBlock(6, 48, 32), false));
    ASSERT_TRUE(imagefiles::addImageRecord(dir.file("tagged.png"), images, {}));
    const bool magick =
        test::haveTool("/usr/local/bin/convert") || test::haveTool("/usr/bin/convert");
    if (magick) {
        ASSERT_EQ(test::runCommand("convert " + dir.file("plain.png") +
                                   " -orient RightTop -compress none " + dir.file("turned.tif")),
                  0);
        ASSERT_TRUE(imagefiles::addImageRecord(dir.file("turned.tif"), images, {}));
    }
    preset.outputFormat = settings::OutputFormat::Png;
    run();
    EXPECT_TRUE(test::samePixels(output("tagged.png", imagefiles::FormatKind::Png), upright));
    if (!magick) QUILL_SKIP_WITHOUT_TOOL() << "ImageMagick missing: no TIFF with an orientation";
    EXPECT_TRUE(test::samePixels(output("turned.png", imagefiles::FormatKind::Png), upright));
}

} // namespace
} // namespace quill::pipeline
