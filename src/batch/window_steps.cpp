// The parts of a window run that need no window.
#include "batch/window_steps.h"
#include "settings/ui_text_ids.h"

#include "settings/settings_validation.h"
#include "toolkit/platform/platform.h"

#include <ctime>

namespace quill::batch {

namespace text = settings::text;

bool preRunChecksWindow(const imagefiles::ImageList& images, const settings::Preset& s,
                        bool ignoreWarnings, settings::RunSettings& run, const ShowCheckBox& show,
                        const settings::UiTextLookup& texts) {
    using Kind = CheckBox::Kind;
    auto refuse = [&](Kind kind, int title, std::string text) {
        (void)show(CheckBox{kind, title, std::move(text)});
        return false;
    };
    // A warning lets the checks go on when it is ignored or answered Yes.
    auto confirm = [&](int textIndex, Kind kind = Kind::Question) {
        return ignoreWarnings || show(CheckBox{kind, text::kQuestion, texts(textIndex)});
    };

    if (images.empty()) return refuse(Kind::Information, text::kInformation, texts(text::kNoFiles));
    const std::int64_t now = platform::localFromUtc(std::int64_t(std::time(nullptr)));
    run = settings::deriveRunSettings(s, settings::runContextFromPlatform(images.size(), now));

    using settings::ValidationResult;
    const ValidationResult result = settings::settingsValidation(
        settings::ValidationScope::Whole, s, run, settings::listedVideos(images));
    switch (result) {
    case ValidationResult::Valid:
        break;
    case ValidationResult::OutOfRange:
        return refuse(Kind::Warning, text::kWarning, texts(text::kInvalidSettings));
    case ValidationResult::Contradictory:
        return refuse(Kind::Warning, text::kWarning,
                      texts(text::kWrongSettings) + ": " +
                          settings::problemList(result, s, run, texts));
    case ValidationResult::NothingToDo:
        return refuse(Kind::Information, text::kInformation, texts(text::kNothingToDo));
    case ValidationResult::VideosNeedDetails:
        if (!confirm(text::kSettingsNeedImageDetails)) return false;
        break;
    case ValidationResult::BadFilterValue:
        return refuse(Kind::Warning, text::kWarning,
                      texts(text::kWrongFilterConditions) + ": \r\n" +
                          settings::problemList(result, s, run, texts));
    }
    if (!s.outputDirEnabled &&
        !confirm(text::kReallyReplaceSourceImages, Kind::DestructiveQuestion))
        return false;
    if (s.outputDirEnabled && s.moveOriginal &&
        !confirm(text::kReallyDeleteSourceImages, Kind::DestructiveQuestion))
        return false;
    return true;
}

bool keepsAnything(const settings::Preset& s) {
    return s.keepFilteredImages || s.keepProcessedSources || s.keepFailedSources ||
           s.loadOutputImages || s.keepUnprocessedImages;
}

void refillFromKeepList(imagefiles::ImageList& images, imagefiles::ImageList& keepList,
                        const settings::Preset& settings) {
    images.clear();
    if (keepsAnything(settings)) images.takeRecordsFrom(keepList);
    keepList.clear();
    images.setCurrentIndex(images.empty() ? -1 : 0);
}

} // namespace quill::batch
