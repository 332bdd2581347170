// The preview run.
#include "batch/preview_run.h"
#include "settings/ui_text_ids.h"

#include "imagefiles/image_list.h"

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

PreviewRunResult runPreviewOnRecord(RunDriver& driver, std::size_t index) {
    imagefiles::ImageList& images = driver.images();
    const std::ptrdiff_t previousCurrent = images.currentIndex();
    images.setCurrentIndex(std::ptrdiff_t(index));
    const std::int32_t recordId = images[index].recordId;
    (void)driver.work();
    PreviewRunResult result;
    if (const std::ptrdiff_t at = images.indexOfId(recordId); at >= 0) {
        imagefiles::ImageRecord& record = images[std::size_t(at)];
        result.resultState = record.resultState;
        result.resultCode = record.resultCode;
        result.outputPath = record.resultText;
        record.resultState = imagefiles::ImageResult::Pending;
        record.resultCode = imagefiles::DetailNone;
        record.resultText.clear();
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
