// The output size limit through whole runs: outputs with their metadata (or the PDF around the
// JPEG) within the limit in every format that takes one, an output that cannot fit written and
// reported, and formats without a quality scale left as they are.
#include "batch_run_fixture.h"

#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "pipeline/jpeg_metadata.h"
#include "toolkit/platform/platform.h"

#include <cstdint>
#include <string>

namespace quill::pipeline::test_runs {
namespace {

class SizeLimitRun : public BatchRun {
protected:
    // Runs without expecting every image to be done.
    void runReporting() { process(settings::CollisionAnswer::ReplaceAll); }
    std::uint64_t sizeOf(const std::string& path) { return test::readBytes(path).size(); }
};

TEST_F(SizeLimitRun, OutputsFitTheLimitTogetherWithTheirMetadata) {
    // cat.jpg carries EXIF, an ICC profile and a comment; the outputs keep them and get a comment.
    preset.keepMetadata = 1;
    preset.commentEnabled = 1;
    preset.commentText = "A comment that the output carries along, counted with its size";
    // A chosen quality re-encodes the JPEG without a limit too (it would be copied otherwise).
    preset.qualityEnabled = 1;
    preset.quality = 9;
    const struct {
        settings::OutputFormat format;
        const char* extension;
    } cases[] = {{settings::OutputFormat::Jpeg, "jpg"},
                 {settings::OutputFormat::Webp, "webp"},
                 {settings::OutputFormat::Avif, "avif"},
                 {settings::OutputFormat::JpegXl, "jxl"},
                 {settings::OutputFormat::Pdf, "pdf"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.extension);
        images.clear();
        add("jpeg/cat.jpg", std::string("cat-") + c.extension + ".jpg");
        const std::string output = dir.path() + "out/cat-" + c.extension + "." + c.extension;
        preset.outputFormat = c.format;
        preset.outputSizeLimit = 0;
        run();
        const std::uint64_t unlimited = sizeOf(output);
        ASSERT_GT(unlimited, 2048u);
        ASSERT_TRUE(platform::deleteFile(output));
        // Just below the file written without a limit: the quality must come down, and what
        // goes in beside the pixels must be counted, or the file ends up above the limit.
        preset.outputSizeLimit = std::uint32_t((unlimited - 1) / 1024);
        run();
        const std::uint64_t limited = sizeOf(output);
        EXPECT_LE(limited, std::uint64_t(preset.outputSizeLimit) * 1024);
        EXPECT_GT(limited, std::uint64_t(preset.outputSizeLimit) * 1024 * 3 / 4)
            << "the highest quality that fits, not just any";
        if (c.format == settings::OutputFormat::Jpeg) {
            JpegMetadata metadata;
            ASSERT_TRUE(readMetadata(output, metadata));
            EXPECT_TRUE(metadata.hasApp1 && metadata.hasComment);
        }
    }
}

TEST_F(SizeLimitRun, AnOutputThatCannotFitIsWrittenAndReported) {
    preset.outputFormat = settings::OutputFormat::Webp;
    preset.outputSizeLimit = 1;
    preset.moveOriginal = 1;
    const std::string source = add("jpeg/progressive_3.jpg", "wide.jpg");
    runReporting();
    const imagefiles::ImageRecord& record = images.records().front();
    EXPECT_EQ(record.resultState, imagefiles::ImageResult::StepFailed);
    EXPECT_EQ(record.resultCode, imagefiles::DetailLargerThanLimit);
    // Written at the lowest quality: a whole file, larger than the limit; the source stays.
    const std::string output = dir.path() + "out/wide.webp";
    const auto bytes = test::readBytes(output);
    EXPECT_GT(bytes.size(), 1024u);
    EXPECT_FALSE(imagefiles::loadImageFile(output, imagefiles::FormatKind::Webp).empty());
    EXPECT_TRUE(platform::isRegularFile(source));
}

TEST_F(SizeLimitRun, APngOutputIsTheSameWithALimitAsWithout) {
    preset.outputFormat = settings::OutputFormat::Png;
    add("jpeg/cat.jpg", "lossless.jpg");
    run(settings::CollisionAnswer::ReplaceAll);
    const auto unlimited = test::readBytes(dir.path() + "out/lossless.png");
    preset.outputSizeLimit = 1;
    run(settings::CollisionAnswer::ReplaceAll);
    EXPECT_EQ(test::readBytes(dir.path() + "out/lossless.png"), unlimited);
}

} // namespace
} // namespace quill::pipeline::test_runs
