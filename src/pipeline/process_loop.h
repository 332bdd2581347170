// The processing loop: every image of the prepared list is loaded, changed by the enabled
// operations in one fixed order, written, post-processed and given its result.
#pragma once

#include "imagefiles/image_record.h"
#include "pipeline/run_control.h"
#include "settings/output_naming.h"
#include "settings/preset.h"
#include "settings/run_settings.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace quill::pipeline {

/// The steps an image can go through, in the order the loop takes them.
enum class ImageStep : std::uint8_t {
    Check,  ///< the source file and its format plan
    Name,   ///< the output path and the overwrite decision
    Load,   ///< the decode
    Edit,   ///< the editing chain
    Encode, ///< the edited image encoded in memory
    Commit, ///< the output put in place (written, copied or moved)
    Finish, ///< metadata, permissions and dates of the output
    Settle, ///< the replaced source removed
    Keep,   ///< the keep list of a window run
};

/// Everything one run of the loop works with. The loop writes results into `images`, adds to
/// `keepList` and publishes its progress through `flags`.
struct ProcessEnvironment {
    imagefiles::ImageList& images;
    imagefiles::ImageList& keepList;
    const settings::Preset& settings;
    const settings::RunSettings& run;
    RunFlags& flags;
    /// Answers the overwrite question: skip-all in the console, replace-all in a preview run.
    settings::CollisionPolicy& collisions;
    DiskFullQuestion& diskFull;
    /// The document creator of PDF output (the title with version and suffix).
    std::string pdfCreator;
    /// Only the list's current record is processed (the one-image preview run).
    bool singleEntry = false;
    /// When set, every output folder is cleared of the temporary files that an interrupted run
    /// of this user left there (platform::removeLeftoverTemporaries), once per run and before the
    /// first write into it; this is told the folder and the count when any were removed. Set it
    /// only while the instance lock is held.
    std::function<void(const std::string& folder, std::size_t removed)> leftoversRemoved = {};
    /// Told of every step an image went through, with the image's position in the list, in the
    /// loop's order (for tests and diagnostics; may be empty).
    std::function<void(std::size_t position, ImageStep step)> stepDone = {};
};

/// Runs the loop over the list (or its current record). Per-image failures are recorded in the
/// records; nothing is thrown. Returns when the list is done or the run was stopped.
void processImages(ProcessEnvironment& environment);

} // namespace quill::pipeline
