// The live preview: reduction, the enabling rule, and pictures compared with what the processing
// loop writes for the reduced image.
#include "app/ui/preview/live_preview.h"
#include "imagefiles/format.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "pipeline/process_loop.h"
#include "settings/filter_conditions.h"
#include "settings/language_pack.h"
#include "settings/output_naming.h"
#include "settings/preset_range.h"
#include "settings/ui_text_ids.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

namespace quill::app::ui {
namespace {

toolkit::Image gradient(int w, int h) {
    toolkit::Image image(w, h, toolkit::PixelFormat::Bgr24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = image.row(y) + 3 * x;
            p[0] = std::uint8_t(x * 255 / w);
            p[1] = std::uint8_t(y * 255 / h);
            p[2] = std::uint8_t((x + y) % 256);
        }
    return image;
}

settings::RunContext context() {
    return settings::runContextFromPlatform(1, 0);
}

TEST(LivePreview, ReducedJpegDecodeGivesTheFullGeometry) {
    test::TempDir dir;
    const std::string path = dir.file("big.jpg");
    ASSERT_TRUE(imagefiles::saveImageFile(gradient(1600, 1200), path, imagefiles::Encoder::Jpeg,
                                          {.quality = 9}, 24));
    const PreviewSource s = loadPreviewSource(path, imagefiles::FormatKind::Jpeg);
    EXPECT_EQ(s.image.width(), 144);
    EXPECT_EQ(s.image.height(), 108);
    EXPECT_EQ(s.geometry.sourceWidth, 1600);
    EXPECT_NEAR(s.geometry.scale, 0.09, 1e-6);
    EXPECT_TRUE(
        loadPreviewSource(dir.file("missing.jpg"), imagefiles::FormatKind::Jpeg).image.empty());
}

/// Runs the processing loop with `working` on the PNG at `path`, written as a PNG into `out`;
/// the image it wrote.
toolkit::Image imageTheRunWrites(const settings::Preset& working, const std::string& path,
                                 const std::string& out) {
    settings::Preset s = working;
    s.convertFormat = 1;
    s.outputFormat = settings::OutputFormat::Png;
    s.qualityEnabled = s.colorDepthEnabled = s.renameEnabled = s.keepMetadata = 0;
    s.outputDirEnabled = 1;
    s.outputDirPattern = out;
    imagefiles::ImageList images;
    EXPECT_TRUE(imagefiles::addImageRecord(path, images, {}));
    imagefiles::ImageList keep;
    pipeline::RunFlags flags;
    flags.runActive = 1;
    const settings::RunSettings run = settings::deriveRunSettings(s, context());
    settings::FixedCollisionPolicy replaceAll(settings::CollisionAnswer::ReplaceAll);
    struct NeverStop final : pipeline::DiskFullQuestion {
        bool askStopAfterDiskFull(const std::string&) override { return false; }
    } diskFull;
    pipeline::ProcessEnvironment env{images, keep, s, run, flags, replaceAll, diskFull, "c", false};
    pipeline::processImages(env);
    EXPECT_EQ(images[0].resultState, imagefiles::ImageResult::Done) << images[0].resultCode;
    return imagefiles::loadImageFile(images[0].resultText, imagefiles::FormatKind::None);
}

TEST(LivePreview, PictureEqualsTheLoopsOutputForTheReducedImage) {
    test::TempDir dir;
    const PreviewSource source = reduceForPreview(gradient(1000, 750), 1000, 750); // scale 0.144
    ASSERT_EQ(source.image.width(), 144);

    settings::Preset working = settings::defaultPreset(0, "w");
    working.cropEnabled = 1;
    working.cropMode = settings::CropMode::Margins;
    working.cropLeft = 100; // 14.4
    working.cropTop = 52;   // 7.488
    working.resizeEnabled = 1;
    working.resizeMode = settings::ResizeMode::Pixels;
    working.resizeOption = 1;
    working.resizeLimits = settings::ResizeLimits::None;
    working.resizeWidth = 500; // 72
    working.resizeHeight = 500;
    working.overlayEnabled = 1;
    working.overlayKind = settings::OverlayKind::Text;
    working.overlayText = "%FN%";
    working.overlayFontName = "Helvetica";
    working.overlayFontSize = 90;         // 12.96
    working.overlayHorizontalMargin = 40; // 5.76
    working.overlayVerticalMargin = 30;   // 4.32
    ASSERT_TRUE(settings::presetInRange(working));

    const PreviewRendering r = renderPreview(source, working, context(), Qt::white, 4);
    ASSERT_TRUE(r.inRange);
    ASSERT_FALSE(r.failed);
    EXPECT_TRUE(r.caption.contains("1000 x 750"));

    // The loop on the reduced image saved as IMG0087.png, with the pixel settings scaled by hand.
    ASSERT_TRUE(imagefiles::saveImageFile(source.image, dir.file("IMG0087.png"),
                                          imagefiles::Encoder::Png, {}, 24));
    settings::Preset s = working;
    s.cropLeft = 14;
    s.cropTop = 7;
    s.resizeWidth = s.resizeHeight = 72;
    s.overlayFontSize = 13;
    s.overlayHorizontalMargin = 6;
    s.overlayVerticalMargin = 4;
    const toolkit::Image written = imageTheRunWrites(s, dir.file("IMG0087.png"), dir.file("out/"));
    EXPECT_TRUE(test::samePixels(r.result, written));
}

// The result size under the picture is the size the run writes for the full image, not the
// reduced picture's size scaled back (which misses by a few pixels).
TEST(LivePreview, CaptionGivesTheSizeTheRunWrites) {
    using Change = void (*)(settings::Preset&);
    const struct {
        int width, height, page;
        Change change;
    } cases[] = {
        {3000, 2000, 4,
         [](settings::Preset& p) { // turned, then fitted into 512 x 768
             p.rotateEnabled = 1;
             p.rotateMode = 1;
             p.resizeEnabled = 1;
             p.resizeMode = settings::ResizeMode::Pixels;
             p.resizeOption = 1;
             p.resizeLimits = settings::ResizeLimits::None;
             p.resizeWidth = 512;
             p.resizeHeight = 768;
         }},
        {1237, 911, 4,
         [](settings::Preset& p) {
             p.resizeEnabled = 1;
             p.resizeMode = settings::ResizeMode::Percent;
             p.resizePercent = 23;
         }},
        {1001, 751, 6,
         [](settings::Preset& p) { // margins off, then a canvas wider than the rest
             p.cropEnabled = 1;
             p.cropMode = settings::CropMode::Margins;
             p.cropLeft = 101;
             p.cropTop = 33;
             p.canvasEnabled = 1;
             p.canvasWidth = 950;
             p.canvasHeight = 700;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        test::TempDir dir;
        const std::string path = dir.file("photo.png");
        ASSERT_TRUE(imagefiles::saveImageFile(gradient(c.width, c.height), path,
                                              imagefiles::Encoder::Png, {}, 24));
        settings::Preset working = settings::defaultPreset(0, "w");
        c.change(working);
        ASSERT_TRUE(settings::presetInRange(working));
        const PreviewRendering r =
            renderPreview(loadPreviewSource(path, imagefiles::FormatKind::Png), working, context(),
                          Qt::white, c.page);
        ASSERT_FALSE(r.failed);
        const toolkit::Image written = imageTheRunWrites(working, path, dir.file("out/"));
        const auto [w, h] = std::pair(written.width(), written.height());
        EXPECT_TRUE(r.caption.endsWith(QStringLiteral(": %1 x %2").arg(w).arg(h)))
            << r.caption.toStdString() << " / " << w << " x " << h;
    }
}

TEST(LivePreview, OutOfRangeSettingsShowTheReducedImageUnprocessed) {
    const PreviewSource source = reduceForPreview(gradient(400, 300), 400, 300);
    settings::Preset working = settings::defaultPreset(0, "w");
    working.rotateEnabled = 1;
    working.rotateMode = 1;
    working.brightnessEnabled = 1;
    working.brightnessLevel = 30000;
    const PreviewRendering r = renderPreview(source, working, context(), Qt::white, 3);
    EXPECT_FALSE(r.inRange);
    EXPECT_TRUE(test::samePixels(r.result, source.image));
    working.brightnessLevel = 100;
    const PreviewRendering rotated = renderPreview(source, working, context(), Qt::white, 3);
    EXPECT_TRUE(rotated.inRange);
    EXPECT_EQ(rotated.result.width(), source.image.height());
}

/// The smallest rectangle around the pixels of `picture` that are not `background`.
QRect drawnArea(const QImage& picture, QColor background) {
    QRect area;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            if (picture.pixelColor(x, y) != background) area |= QRect(x, y, 1, 1);
    return area;
}

// A result larger than the picture (an enlarging resize or canvas, above all of a small image,
// which is not reduced first) is reduced to fit: the whole of it shows, with the ground around.
TEST(LivePreview, AResultLargerThanThePictureShowsWhole) {
    const PreviewSource source = reduceForPreview(gradient(40, 30), 40, 30);
    ASSERT_EQ(source.geometry.scale, 1.0f);
    settings::Preset plain = settings::defaultPreset(0, "p");
    settings::Preset resize = plain;
    resize.resizeEnabled = 1;
    resize.resizeMode = settings::ResizeMode::Pixels;
    resize.resizeWidth = 1024;
    resize.resizeHeight = 768;
    settings::Preset canvas = plain;
    canvas.canvasEnabled = 1;
    canvas.canvasWidth = 1000;
    canvas.canvasHeight = 250;
    const struct {
        const char* what;
        const settings::Preset& preset;
        QSize result;
        QRect drawn; // the shown result with its outline, where it falls on the picture
    } cases[] = {
        {"unchanged", plain, {40, 30}, {51, 56, 42, 32}},
        {"resized", resize, {1024, 768}, {0, 17, 144, 110}},
        {"canvas", canvas, {1000, 250}, {0, 53, 144, 38}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const PreviewRendering r = renderPreview(source, c.preset, context(), Qt::white, 4);
        EXPECT_EQ(QSize(r.result.width(), r.result.height()), c.result);
        EXPECT_EQ(drawnArea(r.picture, Qt::white), c.drawn);
    }
}

/// What the worker shows for `path`: the reason it gives for an empty preview, or "picture".
QString previewOutcome(LivePreview& preview, std::int32_t id, const std::string& path,
                       const settings::Preset& working) {
    QSignalSpy cleared(&preview, &LivePreview::cleared);
    QSignalSpy pictures(&preview, &LivePreview::pictureReady);
    preview.setSettings(working, 0);
    preview.setSelection(id, path, imagefiles::FormatKind::None);
    if (!QTest::qWaitFor([&] { return cleared.count() + pictures.count() > 0; }, 10000))
        return QStringLiteral("nothing");
    return pictures.count() > 0 ? QStringLiteral("picture") : cleared.front()[0].toString();
}

TEST(LivePreview, AnEmptyPreviewSaysWhy) {
    test::TempDir dir;
    ASSERT_TRUE(imagefiles::saveImageFile(gradient(200, 400), dir.file("tall.png"),
                                          imagefiles::Encoder::Png, {}, 24));
    test::writeText(dir.file("notes.jpg"), std::string(300, 'x'));
    // A PNG whose header (signature and size chunk) is followed by no image data.
    auto bytes = platform::readFile(dir.file("tall.png"), 1 << 20);
    ASSERT_TRUE(bytes && bytes->size() > 100);
    bytes->resize(33);
    bytes->resize(100, 0);
    test::writeBytes(dir.file("damaged.png"), *bytes);
    const settings::Preset plain = settings::defaultPreset(0, "p");
    settings::Preset narrow = plain; // leaves out images narrower than 300 pixels
    narrow.filterEnabled = 1;
    narrow.filterConditions = {{settings::kConditionActive, settings::PropertyWidth, 2, "300", 1}};
    settings::Preset narrowOff = narrow;
    narrowOff.filterEnabled = 0;
    settings::Preset wide = narrow;
    wide.filterConditions[0].value = "100";
    const auto ui = [](int index) { return QString::fromStdString(settings::uiText(index)); };
    const struct {
        const char* file;
        const settings::Preset& working;
        QString shown;
    } cases[] = {
        {"missing.png", plain, ui(settings::text::kUnreadableFile)},
        {"notes.jpg", plain, ui(settings::text::kNotAnImage)},
        {"damaged.png", plain, ui(settings::text::kLoadingFailed)},
        {"tall.png", narrow, ui(settings::text::kExcludedByFilter)},
        {"tall.png", narrowOff, QStringLiteral("picture")},
        {"tall.png", wide, QStringLiteral("picture")},
    };
    LivePreview preview(context());
    std::int32_t id = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        EXPECT_EQ(previewOutcome(preview, ++id, dir.file(c.file), c.working).toStdString(),
                  c.shown.toStdString());
    }
}

// The preview shows on the operation pages whose operation is on, stays while the user switches
// that operation off on the same page, and asks for a new picture only when the page changes.
TEST(LivePreview, EnablingRule) {
    settings::Preset p = settings::defaultPreset(0, "p");
    p.cropEnabled = p.gammaEnabled = 0;
    PreviewEnabling rule;
    const auto expect = [&](int page, bool rowSelected, PreviewDecision wanted) {
        const PreviewDecision got = rule.evaluate(page, rowSelected, p);
        EXPECT_EQ(got.enabled, wanted.enabled) << "page " << page;
        EXPECT_EQ(got.refresh, wanted.refresh) << "page " << page;
    };
    expect(0, true, {.enabled = true, .refresh = true});
    expect(2, true, {}); // crop is off
    p.cropEnabled = 1;
    expect(2, true, {.enabled = true, .refresh = false}); // same page: no new picture
    p.cropEnabled = 0;
    expect(2, true, {.enabled = true, .refresh = false}); // switched off on the same page: kept
    expect(5, true, {});
    p.gammaEnabled = 1;
    expect(5, true, {.enabled = true, .refresh = false});
    expect(9, true, {});
    expect(0, false, {});
}

TEST(LivePreview, WorkerDropsPicturesOfAnEarlierSelection) {
    test::TempDir dir;
    ASSERT_TRUE(imagefiles::saveImageFile(gradient(800, 600), dir.file("a.png"),
                                          imagefiles::Encoder::Png, {}, 24));
    ASSERT_TRUE(imagefiles::saveImageFile(gradient(200, 400), dir.file("b.png"),
                                          imagefiles::Encoder::Png, {}, 24));
    LivePreview preview(context());
    QSignalSpy pictures(&preview, &LivePreview::pictureReady);
    preview.setSettings(settings::defaultPreset(0, "p"), 0);
    preview.setSelection(1, dir.file("a.png"), imagefiles::FormatKind::Png);
    preview.setSelection(2, dir.file("b.png"), imagefiles::FormatKind::Png);
    ASSERT_TRUE(QTest::qWaitFor([&] { return preview.current() != nullptr; }, 5000));
    QTest::qWait(50);
    EXPECT_GE(pictures.count(), 1);
    EXPECT_EQ(preview.current()->geometry.sourceWidth, 200);
    preview.setSelection(-1, "", imagefiles::FormatKind::None);
    EXPECT_EQ(preview.current(), nullptr);
}

} // namespace
} // namespace quill::app::ui
