// The preview run.
#include "batch/preview_run.h"
#include "settings/ui_text_ids.h"

#include "batch/prepare.h"
#include "imagefiles/image_list.h"
#include "pipeline/process_loop.h"
#include "settings/output_naming.h"

namespace quill::batch {

namespace text = settings::text;

settings::Preset previewRunSettings(const settings::Preset& working,
                                    const std::string& previewDirectory) {
    settings::Preset s = working;
    s.keepFilteredImages = 0;
    s.keepProcessedSources = 0;
    s.keepFailedSources = 0;
    s.loadOutputImages = 0;
    s.keepUnprocessedImages = 0;
    s.exitAfterRun = 1;
    s.sortEnabled = 0;
    s.outputDirEnabled = 1;
    s.outputDirPattern = previewDirectory;
    s.mirrorSubfolders = 0;
    s.moveOriginal = 0;
    return s;
}

PreviewRunResult runPreviewOnRecord(imagefiles::ImageList& images, std::size_t index,
                                    const settings::Preset& settings,
                                    const settings::RunSettings& run, pipeline::RunFlags& flags,
                                    const std::string& pdfCreator) {
    const std::ptrdiff_t previousCurrent = images.currentIndex();
    images.setCurrentIndex(std::ptrdiff_t(index));
    imagefiles::ImageList keepList(images.lastRecordId());
    const std::int32_t recordId = images[index].recordId;
    auto record = [&]() -> imagefiles::ImageRecord* {
        const std::ptrdiff_t at = images.indexOfId(recordId);
        return at < 0 ? nullptr : &images[std::size_t(at)];
    };
    if (run.needsImageData) {
        PrepareEnvironment prepareEnv{.images = images,
                                      .keepList = keepList,
                                      .settings = settings,
                                      .run = run,
                                      .flags = flags,
                                      .previewRun = true};
        prepare(prepareEnv);
    }
    imagefiles::ImageRecord* r = record();
    if (r && !(r->resultState == imagefiles::ImageResult::Pending &&
               r->resultCode == imagefiles::DetailFiltered)) {
        images.setCurrentIndex(images.indexOfId(recordId));
        // An existing file in the preview directory is an earlier preview: replace it.
        settings::FixedCollisionPolicy replaceAll(settings::CollisionAnswer::ReplaceAll);
        struct NeverStop final : pipeline::DiskFullQuestion {
            bool askStopAfterDiskFull(const std::string&) override { return false; }
        } diskFull;
        pipeline::ProcessEnvironment env{.images = images,
                                         .keepList = keepList,
                                         .settings = settings,
                                         .run = run,
                                         .flags = flags,
                                         .collisions = replaceAll,
                                         .diskFull = diskFull,
                                         .pdfCreator = pdfCreator,
                                         .singleEntry = true};
        pipeline::processImages(env);
        r = record();
    }
    PreviewRunResult result;
    if (r) {
        result.resultState = r->resultState;
        result.resultCode = r->resultCode;
        result.outputPath = r->resultText;
        r->resultState = imagefiles::ImageResult::Pending;
        r->resultCode = imagefiles::DetailNone;
        r->resultText.clear();
    }
    images.setCurrentIndex(previousCurrent);
    return result;
}

std::string previewFailureText(const PreviewRunResult& result,
                               const settings::UiTextLookup& texts) {
    std::string text = texts(text::kResult) + ":\r\n";
    if (result.filtered()) return text + texts(text::kExcludedByFilter);
    text += texts(text::kError) + "! ";
    const int state = int(result.resultState);
    if (state >= 2 && state <= 8)
        text += texts(text::kUnreadableFileExplained + 2 * (state - 2));
    else
        text += "(" + std::to_string(state) + ")";
    return text;
}

} // namespace quill::batch
