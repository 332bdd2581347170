// The pieces of the batch run that work without the program: image details, sorting, the
// preparation phase, the single-entry run and the error log's lines.
#include "batch/error_log.h"
#include "batch/prepare.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_record.h"
#include "imagefiles/image_saver.h"
#include "pipeline/process_loop.h"
#include "settings/language_pack.h"
#include "settings/run_settings.h"
#include "test_support.h"
#include "toolkit/memory_budget.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <unistd.h>

namespace quill::batch {
namespace {

using imagefiles::ImageRecord;
using imagefiles::ImageResult;
using toolkit::Image;
using toolkit::PixelFormat;

Image filled(int w, int h, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    Image image(w, h, PixelFormat::Bgr24);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            image.row(y)[3 * x] = b;
            image.row(y)[3 * x + 1] = g;
            image.row(y)[3 * x + 2] = r;
        }
    return image;
}

TEST(ImageDetails, DistinctColoursAndBrightness) {
    Image gradient(256, 256, PixelFormat::Bgra32);
    for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
            std::uint8_t* p = gradient.row(y) + 4 * x;
            p[0] = std::uint8_t(x);
            p[1] = std::uint8_t(y);
            p[2] = 7;
            p[3] = std::uint8_t(x ^ y); // alpha never makes a colour distinct
        }
    EXPECT_EQ(countDistinctColours(gradient), 65536);
    EXPECT_EQ(countDistinctColours(filled(9, 3, 1, 2, 3)), 1);
    EXPECT_EQ(countDistinctColours(Image()), 0);

    EXPECT_DOUBLE_EQ(averageBrightness(filled(4, 4, 255, 255, 255)), 1.0);
    EXPECT_DOUBLE_EQ(averageBrightness(filled(4, 4, 0, 0, 0)), 0.0);
    EXPECT_NEAR(averageBrightness(filled(4, 4, 0, 0, 255)), 0.299, 1e-9);
    EXPECT_LT(averageBrightness(Image()), 0.0);
}

TEST(Sorting, EveryKeyBothWaysAndRandomKeepsTheRecords) {
    std::vector<ImageRecord> records(3);
    const char* names[] = {"b", "c", "a"};
    for (int i = 0; i < 3; ++i) {
        records[i].fileName = names[i];
        records[i].fileSize = 30 - 10 * i;     // 30 20 10
        records[i].recordedDate = 100 + i;     // 100 101 102
        records[i].width = i == 1 ? 70000 : i; // unsigned compare
        records[i].height = 3 - i;
        records[i].pixelCount = 5 * i;
        records[i].aspectRatio = float(i) / 2;
        records[i].colorCount = 9 - i;
        records[i].brightness = float(i) / 3;
        records[i].recordId = i;
    }
    auto order = [&](settings::SortKey key, bool ascending) {
        auto copy = records;
        sortRecords(copy, key, ascending);
        std::string ids;
        for (const auto& r : copy)
            ids += char('0' + r.recordId);
        return ids;
    };
    EXPECT_EQ(order(settings::SortKey::FileName, true), "201");
    EXPECT_EQ(order(settings::SortKey::FileName, false), "102");
    EXPECT_EQ(order(settings::SortKey::FileSize, true), "210");
    EXPECT_EQ(order(settings::SortKey::ImageDate, false), "210");
    EXPECT_EQ(order(settings::SortKey::Width, true), "021");
    EXPECT_EQ(order(settings::SortKey::Height, true), "210");
    EXPECT_EQ(order(settings::SortKey::PixelCount, false), "210");
    EXPECT_EQ(order(settings::SortKey::AspectRatio, true), "012");
    EXPECT_EQ(order(settings::SortKey::ColourCount, true), "210");
    EXPECT_EQ(order(settings::SortKey::Brightness, false), "210");
    std::string shuffled = order(settings::SortKey::Random, true);
    std::sort(shuffled.begin(), shuffled.end());
    EXPECT_EQ(shuffled, "012");
}

class BatchWithFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings::loadProgramInfo());
        ASSERT_TRUE(settings::loadUiTexts(settings::kEnglishLanguage));
        settingsRecord = settings::defaultPreset(0, "Test");
        settingsRecord.outputDirPattern = dir.path() + "out/";
        ASSERT_TRUE(platform::createDirectories(dir.path() + "out/"));
    }
    void add(const std::string& sample, const std::string& as) {
        const std::string path = dir.file(as);
        test::writeBytes(path, test::readBytes(test::testdata(sample)));
        ASSERT_TRUE(imagefiles::addImageRecord(path, images, {}));
    }
    /// Runs the loop as a window run that answers "replace all" and goes on after a full disk.
    void processWithReplaceAll(bool singleEntry) {
        const settings::RunSettings run = derive();
        settings::FixedCollisionPolicy replaceAll(settings::CollisionAnswer::ReplaceAll);
        struct NeverStop final : pipeline::DiskFullQuestion {
            bool askStopAfterDiskFull(const std::string&) override { return false; }
        } diskFull;
        flags.runActive = 1;
        pipeline::ProcessEnvironment env{images,     keep,     settingsRecord, run,        flags,
                                         replaceAll, diskFull, "creator",      singleEntry};
        pipeline::processImages(env);
    }
    settings::RunSettings derive() {
        return settings::deriveRunSettings(settingsRecord,
                                           settings::runContextFromPlatform(images.size(), 0));
    }

    test::TempDir dir;
    imagefiles::ImageList images;
    imagefiles::ImageList keep;
    pipeline::RunFlags flags;
    settings::Preset settingsRecord;
};

TEST_F(BatchWithFiles, PreparationFiltersIntoTheKeepListAndSorts) {
    add("png/basn2c08.png", "a.png"); // 32 x 32
    add("jpeg/hopper.jpg", "b.jpg");  // larger
    add("png/basn0g08.png", "c.png"); // 32 x 32
    settingsRecord.filterEnabled = 1;
    settings::FilterCondition small;
    small.flags = settings::kConditionActive;
    small.property = 4;  // width
    small.operator_ = 2; // less than
    small.value = "33";
    small.valueKind = 1;
    settingsRecord.filterConditions = {small};
    settingsRecord.keepFilteredImages = 1;
    settingsRecord.exitAfterRun = 0;
    flags.runActive = 1;
    const settings::RunSettings run = derive();
    ASSERT_EQ(run.needsImageData, 1);
    PrepareEnvironment env{images, keep, settingsRecord, run, flags, false};
    prepare(env);
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].fileName, "b");
    EXPECT_GT(images[0].width, 32);
    ASSERT_EQ(keep.size(), 2u);
    EXPECT_EQ(keep[0].fileName, "a");
    EXPECT_EQ(keep[1].fileName, "c");

    // A preview run marks instead of removing.
    add("png/basn2c08.png", "d.png");
    images.setCurrentIndex(1);
    PrepareEnvironment preview{images, keep, settingsRecord, run, flags, true};
    prepare(preview);
    EXPECT_EQ(images.size(), 2u);
    EXPECT_EQ(images[1].resultCode, imagefiles::DetailFiltered);
}

TEST_F(BatchWithFiles, SingleEntryRunReplacesAnExistingOutputAndTouchesNothingElse) {
    add("png/basn2c08.png", "a.png");
    add("png/basn0g08.png", "b.png");
    test::writeText(dir.file("out/b.jpg"), "old");
    images.setCurrentIndex(1);
    processWithReplaceAll(true);
    EXPECT_EQ(images[1].resultState, ImageResult::Done);
    EXPECT_EQ(images[1].resultText, dir.file("out/b.jpg"));
    EXPECT_GT(test::readBytes(dir.file("out/b.jpg")).size(), 100u);
    EXPECT_EQ(images[0].resultState, ImageResult::Pending);
    EXPECT_FALSE(platform::fileExists(dir.file("out/a.jpg")));
}

TEST_F(BatchWithFiles, AnImageReadsTheFileThatTheImageBeforeItWrote) {
    // a.png becomes a.jpg next to it, replacing the listed a.jpg, which is processed next: that
    // one must be read as the first image left it, although the loop decodes ahead.
    auto solid = [](std::uint8_t b, std::uint8_t g, std::uint8_t r) {
        return filled(64, 48, b, g, r);
    };
    ASSERT_TRUE(imagefiles::saveImageFile(solid(0, 0, 255), dir.file("a.png"),
                                          imagefiles::Encoder::Png, 8, 24));
    ASSERT_TRUE(imagefiles::saveImageFile(solid(255, 0, 0), dir.file("a.jpg"),
                                          imagefiles::Encoder::Jpeg, 8, 24));
    ASSERT_TRUE(imagefiles::addImageRecord(dir.file("a.png"), images, {}));
    ASSERT_TRUE(imagefiles::addImageRecord(dir.file("a.jpg"), images, {}));
    settingsRecord.outputDirEnabled = 0;
    settingsRecord.resizeEnabled = 1;
    settingsRecord.resizeMode = settings::ResizeMode::Percent;
    settingsRecord.resizePercent = 50;
    processWithReplaceAll(false);
    ASSERT_EQ(images[1].resultState, ImageResult::Done);
    const Image result = imagefiles::loadImageFile(dir.file("a.jpg"), -1);
    ASSERT_EQ(result.width(), 16);            // halved twice
    EXPECT_GT(result.row(6)[3 * 8 + 2], 200); // red, as a.png was
    EXPECT_LT(result.row(6)[3 * 8 + 0], 60);
    EXPECT_FALSE(platform::fileExists(dir.file("a.png")));
}

TEST_F(BatchWithFiles, ASourceSwappedForALinkIsLeftAlone) {
    // The overwrite question comes after the source was looked at and before it is removed; in
    // that gap the source is replaced by a link to a file elsewhere.
    add("png/basn2c08.png", "a.png");
    const std::string elsewhere = dir.file("elsewhere.png");
    test::writeBytes(elsewhere, test::readBytes(dir.file("a.png")));
    test::writeText(dir.file("out/a.jpg"), "old");
    struct SwapThenReplace final : settings::CollisionPolicy {
        std::string source, target;
        settings::CollisionAnswer decide(const std::string&) override {
            EXPECT_TRUE(platform::deleteFile(source));
            EXPECT_EQ(symlink(target.c_str(), source.c_str()), 0);
            return settings::CollisionAnswer::ReplaceThis;
        }
    } policy;
    policy.source = dir.file("a.png");
    policy.target = elsewhere;
    settingsRecord.moveOriginal = 1;
    const settings::RunSettings run = derive();
    struct NeverStop final : pipeline::DiskFullQuestion {
        bool askStopAfterDiskFull(const std::string&) override { return false; }
    } diskFull;
    flags.runActive = 1;
    pipeline::ProcessEnvironment env{images, keep,     settingsRecord, run,  flags,
                                     policy, diskFull, "creator",      false};
    pipeline::processImages(env);
    EXPECT_EQ(images[0].resultState, ImageResult::WriteFailed);
    EXPECT_TRUE(platform::fileIdentity(dir.file("a.png"))->isLink) << "the link was removed";
    EXPECT_TRUE(platform::isRegularFile(elsewhere));
}

TEST_F(BatchWithFiles, DecodeAheadWaitsWhileTheNextImageWouldPassTheBudget) {
    add("jpeg/hopper.jpg", "a.jpg");
    add("png/basn2c08.png", "b.png");
    add("jpeg/hopper.jpg", "c.jpg");
    // Room for the largest image alone, never for two: every decode ahead has to wait until the
    // image before it is done, and no image may fail for want of memory.
    std::uint64_t largest = 0;
    for (const auto& record : images.records())
        largest = std::max(largest, imagefiles::estimateDecodeBytes(record.sourcePath));
    ASSERT_GT(largest, 0u);
    toolkit::MemoryBudget& budget = toolkit::MemoryBudget::process();
    const std::uint64_t limit = budget.limit();
    budget.setLimit(largest + 1);
    processWithReplaceAll(false);
    budget.setLimit(limit);
    for (const auto& record : images.records())
        EXPECT_EQ(record.resultState, ImageResult::Done) << record.fileName;
    EXPECT_EQ(budget.reserved(), 0u);
}

// The English texts, written out here, so that a wrong text index shows.
TEST_F(BatchWithFiles, FailureLinesNameTheOperationOfAFailedStep) {
    ImageRecord record;
    record.resultState = ImageResult::StepFailed;
    for (const auto& [code, line] :
         {std::pair{int(imagefiles::DetailResize), "Processing failed  (Resize)"},
          {0, "Processing failed"},
          {99, "Processing failed"}}) {
        record.resultCode = code;
        EXPECT_EQ(failureLine(record), line) << code;
    }
    record.resultState = ImageResult::WriteFailed;
    record.resultCode = imagefiles::DetailResize; // only failed steps name an operation
    EXPECT_EQ(failureLine(record), "Writing failed");

    images.append(record);
    ImageRecord done;
    done.resultState = ImageResult::Done;
    images.append(done);
    const std::string log = errorLogText(images, "Title");
    EXPECT_EQ(log.rfind("\xEF\xBB\xBFTitle\r\n*****\r\n", 0), 0u);
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'),
              std::count(log.begin(), log.end(), '\r')); // every line ends with CR LF
    EXPECT_NE(log.find("Error: Writing failed\r\n"), std::string::npos);
    EXPECT_NE(log.find("Explanations\r\nWriting failed\r\nThe output file could not be written."),
              std::string::npos);
}

TEST(ErrorLog, PathsAreWrittenAsValidUtf8) {
    const struct {
        std::string raw;
        std::string logged;
    } cases[] = {
        {"/p/caf\xC3\xA9.jpg", "/p/caf\xC3\xA9.jpg"}, // valid: unchanged
        {"/p/caf\xE9.jpg", "/p/caf\\xE9.jpg"},        // Latin-1 byte
        {"/p/\xC3(.jpg", "/p/\\xC3(.jpg"},            // cut sequence
        {"/p/a\nb.jpg", "/p/a\\x0Ab.jpg"},            // a line feed keeps lines intact
        {"/p/\xF0\x9F\x93\xB7.jpg", "/p/\xF0\x9F\x93\xB7.jpg"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(logSafeText(c.raw), c.logged) << c.raw;

    imagefiles::ImageList images;
    ImageRecord record;
    record.sourcePath = "/p/caf\xE9.png";
    record.resultText = "/out/caf\xE9.jpg";
    record.resultState = ImageResult::WriteFailed;
    images.append(record);
    const std::string log = errorLogText(images, "Title");
    EXPECT_EQ(log.find("\xE9"), std::string::npos);
    EXPECT_NE(log.find("/out/caf\\xE9.jpg"), std::string::npos);
}

} // namespace
} // namespace quill::batch
