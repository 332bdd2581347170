// The run plan.
#include "pipeline/run_plan.h"

#include "imagefiles/format.h"
#include "imagefiles/size_limit.h"

namespace quill::pipeline {
namespace {

/// The output format for a source: the source's own, or the chosen output format.
imagefiles::FormatKind targetFormatFor(const settings::Preset& s,
                                       imagefiles::FormatKind sourceFormat) {
    if (sourceFormat == imagefiles::FormatKind::Video) return sourceFormat;
    if (!s.convertFormat) return sourceFormat;
    // The PDF choice writes a JPEG, which the PDF writer wraps afterwards.
    if (s.outputFormat == settings::OutputFormat::Pdf) return imagefiles::FormatKind::Jpeg;
    const imagefiles::FormatInfo* format = imagefiles::formatForOutputChoice(int(s.outputFormat));
    return format != nullptr ? format->kind : imagefiles::FormatKind::None;
}

EncodePlan encodePlanFrom(const settings::Preset& s) {
    EncodePlan plan;
    plan.quality = s.qualityEnabled ? s.quality : 8;
    plan.sizeLimitBytes = std::uint64_t(s.outputSizeLimit) * 1024;
    if (s.colorDepthEnabled) {
        static constexpr int kDepths[] = {1, 4, 8, 24, 32};
        const auto depth = s.colorDepth <= settings::ColorDepth::Bits32
                               ? s.colorDepth
                               : settings::ColorDepth::Bits24;
        plan.outputDepth = kDepths[std::size_t(depth)];
        plan.dither = s.colorDepth < settings::ColorDepth::Bits24 && s.colorDepthOption == 1;
    }
    return plan;
}

} // namespace

FormatPlan RunPlan::formatFor(imagefiles::FormatKind source) const {
    const settings::Preset& s = settings;
    FormatPlan plan;
    plan.targetFormat = targetFormatFor(s, source);
    if (source == imagefiles::FormatKind::Video) return plan; // never decoded, never re-encoded
    plan.encoder = imagefiles::encoderForFormat(plan.targetFormat);
    const imagefiles::FormatKind target = plan.targetFormat;
    plan.jpegToJpeg =
        source == imagefiles::FormatKind::Jpeg && target == imagefiles::FormatKind::Jpeg;
    plan.formatChanges = s.convertFormat && target != source;
    if (s.convertFormat && s.outputFormat == settings::OutputFormat::Pdf) {
        plan.jpegToJpeg = false;
        plan.formatChanges = true;
        plan.pdf = true;
    }
    // The colour depth applies to the formats that hold palettes, the quality to lossy ones.
    const imagefiles::FormatInfo* written = imagefiles::formatInfo(target);
    const bool paletteTarget =
        written != nullptr && (written->holds & imagefiles::HoldsPalette) && written->writable;
    const bool qualityTarget =
        written != nullptr && written->quality != imagefiles::QualityScale::None;
    plan.depthOptionApplies = s.colorDepthEnabled && paletteTarget;
    const bool qualityApplies = s.qualityEnabled && qualityTarget;
    // A size limit re-encodes every image it applies to, as a chosen quality does.
    plan.sizeLimited =
        s.outputSizeLimit != 0 && plan.encoder && imagefiles::takesSizeLimit(*plan.encoder);
    plan.decodeNeeded = plan.sizeLimited || s.cropEnabled || s.rotateEnabled || s.resizeEnabled ||
                        run.anyColorAdjust || s.canvasEnabled || s.overlayEnabled ||
                        plan.formatChanges || qualityApplies || plan.depthOptionApplies;
    return plan;
}

RunPlan makeRunPlan(const settings::Preset& s, const settings::RunSettings& run,
                    const imagefiles::ImageList& images, std::string pdfCreator) {
    RunPlan plan{.settings = s,
                 .run = run,
                 .edit = makeEditPlan(s, run),
                 .encode = encodePlanFrom(s),
                 .pdfCreator = std::move(pdfCreator),
                 .commonBase = s.mirrorSubfolders ? settings::commonBaseFolder(images) : ""};
    plan.fileOperation = s.commentEnabled || !s.keepMetadata || s.setFileDates ||
                         s.resetFileAttributes || s.renameEnabled || s.outputDirEnabled;
    plan.keepsAnything =
        !s.exitAfterRun && (s.keepProcessedSources || s.keepFailedSources || s.loadOutputImages);
    plan.keepOptions.includeHiddenFiles = true;
    plan.keepOptions.videos = imagefiles::Videos::Included;
    return plan;
}

} // namespace quill::pipeline
