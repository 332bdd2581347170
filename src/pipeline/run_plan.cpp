// The run plan.
#include "pipeline/run_plan.h"

#include "imagefiles/format.h"

namespace quill::pipeline {
namespace {

/// The output format code for a source: the source's own, or the chosen output format.
int targetFormatFor(const settings::Preset& s, int sourceFormat) {
    if (sourceFormat == imagefiles::FormatVideo) return sourceFormat;
    if (!s.convertFormat) return sourceFormat;
    switch (s.outputFormat) {
    case settings::OutputFormat::Jpeg:
        return imagefiles::FormatJpeg;
    case settings::OutputFormat::Png:
        return imagefiles::FormatPng;
    case settings::OutputFormat::Bmp:
        return imagefiles::FormatBmp;
    case settings::OutputFormat::Jpeg2000:
        return imagefiles::FormatJpeg2000;
    case settings::OutputFormat::Pdf:
        return imagefiles::FormatJpeg; // wrapped into a PDF afterwards
    default:
        return -1;
    }
}

EncodePlan encodePlanFrom(const settings::Preset& s) {
    EncodePlan plan;
    plan.quality = s.qualityEnabled ? s.quality : 8;
    if (s.colorDepthEnabled) {
        static constexpr int kDepths[] = {1, 4, 8, 24, 32};
        const auto depth = s.colorDepth <= settings::ColorDepth::Bits32
                               ? s.colorDepth
                               : settings::ColorDepth::Bits24;
        plan.outputDepth = kDepths[std::size_t(depth)];
        plan.depthFlag = (s.colorDepth < settings::ColorDepth::Bits24 && s.colorDepthOption == 1)
                             ? imagefiles::kSaveFlagDither
                             : 0;
    }
    return plan;
}

} // namespace

FormatPlan RunPlan::formatFor(int source) const {
    const settings::Preset& s = settings;
    FormatPlan plan;
    plan.targetFormat = targetFormatFor(s, source);
    if (source == imagefiles::FormatVideo) return plan; // never decoded, never re-encoded
    plan.encoder = imagefiles::encoderForFormat(plan.targetFormat);
    const int target = plan.targetFormat;
    plan.jpegToJpeg = source == imagefiles::FormatJpeg && target == imagefiles::FormatJpeg;
    plan.formatChanges = s.convertFormat && target != source;
    if (s.convertFormat && s.outputFormat == settings::OutputFormat::Pdf) {
        plan.jpegToJpeg = false;
        plan.formatChanges = true;
        plan.pdf = true;
    }
    const bool paletteTarget = target == imagefiles::FormatPng || target == imagefiles::FormatBmp;
    const bool qualityTarget =
        target == imagefiles::FormatJpeg || target == imagefiles::FormatJpeg2000;
    plan.depthOptionApplies = s.colorDepthEnabled && paletteTarget;
    const bool qualityApplies = s.qualityEnabled && qualityTarget;
    plan.decodeNeeded = s.cropEnabled || s.rotateEnabled || s.resizeEnabled || run.anyColorAdjust ||
                        s.canvasEnabled || s.overlayEnabled || plan.formatChanges ||
                        qualityApplies || plan.depthOptionApplies;
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
