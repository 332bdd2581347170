// The run plan: every request of a batch run that depends only on the settings, made once before
// the first image and then only read, by any number of threads at the same time.
#pragma once

#include "imagefiles/image_list.h"
#include "imagefiles/image_saver.h"
#include "pipeline/edit_chain.h"
#include "settings/preset.h"
#include "settings/run_settings.h"

#include <cstdint>
#include <optional>
#include <string>

namespace quill::pipeline {

/// What happens to a source of one format, decided from the settings alone.
struct FormatPlan {
    /// The format written (the source's, or chosen).
    imagefiles::FormatKind targetFormat = imagefiles::FormatKind::None;
    std::optional<imagefiles::Encoder> encoder; ///< none: the program cannot write the format
    bool jpegToJpeg = false;         ///< a JPEG source written as JPEG (its metadata can travel)
    bool formatChanges = false;      ///< the output format differs from the source's
    bool pdf = false;                ///< the output is wrapped into a PDF
    bool depthOptionApplies = false; ///< the colour-depth option applies to the target format
    bool decodeNeeded = false; ///< decoded and re-encoded; otherwise copied, moved or left alone
    /// The output size limit applies: a limit is set and the encoder takes it (for a PDF, the
    /// document is kept within the limit through the quality of its JPEG).
    bool sizeLimited = false;
};

/// How decoded images are encoded.
struct EncodePlan {
    int quality = 8;                  ///< 0..10
    int outputDepth = 24;             ///< bits per pixel when the colour-depth option applies
    bool dither = false;              ///< the palette of a reduction to 1, 4 or 8 bits is dithered
    std::uint64_t sizeLimitBytes = 0; ///< the largest output file; 0 for any size
};

/// The plan of one run. Made by makeRunPlan; immutable afterwards.
struct RunPlan {
    settings::Preset settings;
    settings::RunSettings run;
    EditPlan edit;
    EncodePlan encode;
    /// The document creator of PDF output (the title with version and suffix).
    std::string pdfCreator;
    /// The common base folder of the list, for mirrored subfolders ("" when not mirroring).
    std::string commonBase;
    /// A file operation is asked for (comment, metadata removal, dates, attributes, renaming or
    /// an output folder), so a file of a format that cannot be written is still handled.
    bool fileOperation = false;
    /// One of the per-image keep options applies (a window run that does not quit afterwards).
    bool keepsAnything = false;
    imagefiles::ListOptions keepOptions = {}; ///< outputs and sources are kept as they are

    /// The plan for a source of format `sourceFormat`.
    [[nodiscard]] FormatPlan formatFor(imagefiles::FormatKind sourceFormat) const;
};

/// Makes the plan of a run over `images` with the working settings and their run settings.
[[nodiscard]] RunPlan makeRunPlan(const settings::Preset& settings,
                                  const settings::RunSettings& run,
                                  const imagefiles::ImageList& images, std::string pdfCreator);

} // namespace quill::pipeline
