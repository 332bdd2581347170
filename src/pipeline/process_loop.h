// The processing loop: every image of the prepared list is loaded, changed by the enabled
// operations in one fixed order, written, post-processed and given its result.
#pragma once

#include "imagefiles/image_record.h"
#include "pipeline/run_control.h"
#include "settings/output_naming.h"
#include "settings/preset.h"
#include "settings/run_settings.h"

#include <string>

namespace quill::pipeline {

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
};

/// Runs the loop over the list (or its current record). Per-image failures are recorded in the
/// records; nothing is thrown. Returns when the list is done or the run was stopped.
void processImages(ProcessEnvironment& environment);

} // namespace quill::pipeline
