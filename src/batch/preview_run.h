// The preview run: the current settings tried on one selected image, written into the preview
// directory, without touching the list, the keep list, the stored settings or the source.
#pragma once

#include "imagefiles/image_record.h"
#include "pipeline/run_control.h"
#include "settings/preset.h"
#include "settings/problem_list.h"
#include "settings/run_settings.h"

#include <cstdint>
#include <string>

namespace quill::batch {

/// The settings a preview run works with: the working settings with every keep option off,
/// exit-after-run on, sorting off, the preview directory as the output directory (without
/// mirrored subfolders) and the sources kept. The working settings themselves stay unchanged.
[[nodiscard]] settings::Preset previewRunSettings(const settings::Preset& working,
                                                  const std::string& previewDirectory);

/// What happened to the image.
struct PreviewRunResult {
    imagefiles::ImageResult resultState = imagefiles::ImageResult::Pending;
    /// DetailFiltered with state Pending: excluded by the filter conditions
    std::int32_t resultCode = imagefiles::DetailNone;
    std::string outputPath; ///< the written file when done
    [[nodiscard]] bool done() const { return resultState == imagefiles::ImageResult::Done; }
    [[nodiscard]] bool filtered() const {
        return resultState != imagefiles::ImageResult::Done &&
               resultCode == imagefiles::DetailFiltered;
    }
};

/// Prepares (when the settings need image details) and processes the record at `index` of
/// `images` with `settings` (from previewRunSettings, checked) and `run`, then resets the
/// record's result fields. The caller has set the run flags; `runCancelled` must be 1 so that
/// the loop stops after this image.
[[nodiscard]] PreviewRunResult runPreviewOnRecord(imagefiles::ImageList& images, std::size_t index,
                                                  const settings::Preset& settings,
                                                  const settings::RunSettings& run,
                                                  pipeline::RunFlags& flags,
                                                  const std::string& pdfCreator);

/// The text of the box shown when the preview run wrote nothing: UI text 384 + ":\r\n", then
/// UI text 430 for a filtered image, else UI text 388 + "! " + the explanation of the failure
/// kind, or "(" + the state + ")" for a state without one.
[[nodiscard]] std::string previewFailureText(const PreviewRunResult& result,
                                             const settings::UiTextLookup& texts);

} // namespace quill::batch
