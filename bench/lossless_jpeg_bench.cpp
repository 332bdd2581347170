// Lossless JPEG turns against decoding, turning and encoding again: one 12 MP photo turned by
// each path (the median of several turns), then a batch of such photos run through the
// processing loop with a quarter turn, once at no chosen quality (the lossless path) and once at
// quality 8 (which asks for the decode and encode).
//
// Usage: lossless_jpeg_bench [photos in the batch, default 8]
#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "pipeline/crop_trim.h"
#include "pipeline/lossless_jpeg.h"
#include "pipeline/process_loop.h"
#include "pipeline/rotate.h"
#include "settings/language_pack.h"
#include "settings/output_naming.h"
#include "settings/preset.h"
#include "settings/run_settings.h"
#include "textured_photo.h"
#include "toolkit/platform/platform.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

using namespace quill;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(const std::function<void()>& work) {
    const auto start = Clock::now();
    work();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double runBatch(const std::string& folder, bool chosenQuality) {
    settings::Preset preset = settings::defaultPreset(0, "Bench");
    preset.outputDirEnabled = 1;
    preset.outputDirPattern = folder + (chosenQuality ? "/decoded/" : "/lossless/");
    preset.renameEnabled = 0;
    preset.convertFormat = 1;
    preset.outputFormat = settings::OutputFormat::Jpeg;
    preset.rotateEnabled = 1;
    preset.rotateMode = int(pipeline::RotateMode::Clockwise90);
    preset.qualityEnabled = chosenQuality ? 1 : 0;
    preset.quality = 8;
    std::filesystem::create_directories(preset.outputDirPattern);
    imagefiles::ImageList images;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        if (entry.path().extension() == ".jpg")
            (void)imagefiles::addImageRecord(entry.path().string(), images, {});
    imagefiles::ImageList keep;
    pipeline::RunFlags flags;
    flags.runActive = 1;
    settings::FixedCollisionPolicy replace(settings::CollisionAnswer::ReplaceAll);
    struct NeverStop final : pipeline::DiskFullQuestion {
        bool askStopAfterDiskFull(const std::string&) override { return false; }
    } diskFull;
    const settings::RunSettings run =
        settings::deriveRunSettings(preset, settings::runContextFromPlatform(images.size(), 0));
    pipeline::ProcessEnvironment env{images, keep, preset, run, flags, replace, diskFull, "bench"};
    const double took = seconds([&] { pipeline::processImages(env); });
    for (const auto& record : images.records())
        if (record.resultState != imagefiles::ImageResult::Done)
            std::fprintf(stderr, "%s failed\n", record.sourcePath.c_str());
    return took;
}

} // namespace

int main(int argc, char** argv) {
    const int photos = argc > 1 ? std::max(1, std::atoi(argv[1])) : 8;
    if (!settings::loadProgramInfo()) return 1;
    const std::string folder =
        (std::filesystem::temp_directory_path() / "quill_lossless_bench").string();
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);

    std::vector<std::uint8_t> jpeg;
    for (int i = 0; i < photos; ++i) {
        // 4000 x 2992: whole MCUs of 16 rows, so that the quarter turn is perfect (3000 rows
        // would leave a partial row of blocks that the turn moves to the left: decoded).
        const toolkit::Image photo =
            pipeline::cropMargins(bench::texturedPhoto(unsigned(i + 1)), 0, 0, 0, 8);
        const std::string path = folder + "/photo" + std::to_string(i) + ".jpg";
        if (!imagefiles::saveImageFile(photo, path, imagefiles::Encoder::Jpeg, {.quality = 9}, 24))
            return 1;
        if (i == 0) jpeg = *platform::readFile(path, std::uint64_t{1} << 30);
    }
    std::printf("12 MP JPEG (4000 x 2992), %zu bytes, a quarter turn:\n", jpeg.size());

    std::vector<double> lossless, decoded;
    for (int i = 0; i < 5; ++i) {
        lossless.push_back(seconds([&] {
            if (!pipeline::transformJpegLosslessly(jpeg,
                                                   {.turn = pipeline::RotateMode::Clockwise90}))
                std::fprintf(stderr, "lossless transform refused\n");
        }));
        decoded.push_back(seconds([&] {
            const toolkit::Image image =
                imagefiles::loadImageFile(folder + "/photo0.jpg", imagefiles::FormatKind::Jpeg);
            const toolkit::Image turned =
                pipeline::rotateImage(image, pipeline::RotateMode::Clockwise90);
            (void)imagefiles::encodeImage(turned, imagefiles::Encoder::Jpeg, {.quality = 8}, 24);
        }));
    }
    std::printf("  lossless (coefficients)   %7.1f ms\n", 1000 * median(lossless));
    std::printf("  decode, turn, encode      %7.1f ms\n", 1000 * median(decoded));

    const double batchLossless = runBatch(folder, false);
    const double batchDecoded = runBatch(folder, true);
    std::printf("batch of %d through the processing loop (%s threads):\n", photos,
                std::getenv("QUILL_THREADS") ? std::getenv("QUILL_THREADS") : "all");
    std::printf("  no chosen quality (lossless)   %6.2f s\n", batchLossless);
    std::printf("  quality 8 (decode and encode)  %6.2f s\n", batchDecoded);
    std::filesystem::remove_all(folder);
    return 0;
}
