// The preview run: the current settings tried on one selected image, written into the preview
// directory, without touching the list, the keep list, the stored settings or the source.
#pragma once

#include "batch/run_driver.h"
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

/// The questions of a preview run, answered without asking: an existing file in the preview
/// directory is an earlier preview and is replaced, and a full disk has no later image to stop.
/// The window adds the checks.
class PreviewRunFace : public RunFace {
public:
    settings::CollisionPolicy& collisions() override { return m_replaceAll; }
    pipeline::DiskFullQuestion& diskFull() override { return m_goOn; }

private:
    class GoOnAfterDiskFull final : public pipeline::DiskFullQuestion {
    public:
        bool askStopAfterDiskFull(const std::string&) override { return false; }
    };
    settings::FixedCollisionPolicy m_replaceAll{settings::CollisionAnswer::ReplaceAll};
    GoOnAfterDiskFull m_goOn;
};

/// Runs `driver` (begun with RunScope::CurrentImage and settings from previewRunSettings) on the
/// record at `index` of its list, then resets the record's result fields and the list's current
/// record to what they were.
[[nodiscard]] PreviewRunResult runPreviewOnRecord(RunDriver& driver, std::size_t index);

/// The text of the box shown when the preview run wrote nothing: UI text 384 + ":\r\n", then
/// UI text 430 for a filtered image, else UI text 388 + "! " + the explanation of the failure
/// kind, or "(" + the state + ")" for a state without one.
[[nodiscard]] std::string previewFailureText(const PreviewRunResult& result,
                                             const settings::UiTextLookup& texts);

} // namespace quill::batch
