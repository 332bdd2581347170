// The dry run: what a batch run would do with each image of the list, found without writing,
// moving or deleting anything.
#pragma once

#include "imagefiles/image_record.h"
#include "settings/output_naming.h"
#include "settings/preset.h"
#include "settings/run_settings.h"

#include <functional>
#include <string>

namespace quill::pipeline {

/// What the run would do with one image.
struct DryRunLine {
    std::string source;
    std::string output; ///< the path it would write ("" when that is not known)
    /// A short word for scripts: ok, filtered, unreadable, unsupported, exists, same-as-source,
    /// numbering, failed.
    std::string code;
    std::string reason;   ///< why it would be left out or fail ("" for ok)
    bool failure = false; ///< the run would count the image as failed
};

/// Goes through the prepared list in run order and tells `report` each image's line: the
/// output path it would get, with numbering counted as the run counts it, or why it would be
/// left out or fail (filtered, unreadable, unsupported, an existing output, the source itself).
/// `collisions` answers for existing outputs, including those an earlier image of the run would
/// write. Filtered records are those the preparation marked with DetailFiltered. Returns true
/// when no image would fail.
bool dryRunImages(const imagefiles::ImageList& images, const settings::Preset& settings,
                  const settings::RunSettings& run, settings::CollisionPolicy& collisions,
                  const std::function<void(const DryRunLine&)>& report);

} // namespace quill::pipeline
