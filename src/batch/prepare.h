// The preparation phase of a batch run: image details, the filter conditions and sorting.
#pragma once

#include "imagefiles/image_record.h"
#include "pipeline/run_control.h"
#include "settings/preset.h"
#include "settings/run_settings.h"
#include "toolkit/image.h"

#include <vector>

namespace quill::batch {

/// What the preparation phase works on.
struct PrepareEnvironment {
    imagefiles::ImageList& images;
    imagefiles::ImageList& keepList;
    const settings::Preset& settings;
    const settings::RunSettings& run;
    pipeline::RunFlags& flags;
    bool previewRun = false; ///< only the list's current record is prepared
    /// Filtered records stay in the list, marked with DetailFiltered (a dry run shows them).
    bool markFiltered = false;
};

/// Reads the details the settings need, applies the filter conditions (removing excluded
/// records) and sorts the list. A thread body; the preview run calls it directly.
void prepare(PrepareEnvironment& environment);

/// Number of distinct colours of an image (alpha ignored), 1..16,777,216; 0 for an empty image.
[[nodiscard]] std::int32_t countDistinctColours(const toolkit::Image& image);
/// Average brightness 0..1: the mean Rec. 601 luma (0.299 R + 0.587 G + 0.114 B) / 255.
[[nodiscard]] double averageBrightness(const toolkit::Image& image);
/// Sorts the records by a sort key (Random: shuffled), ascending or descending.
void sortRecords(std::vector<imagefiles::ImageRecord>& records, settings::SortKey sortKey,
                 bool ascending);

} // namespace quill::batch
