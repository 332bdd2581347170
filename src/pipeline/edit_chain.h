// The editing steps of one image in their fixed order: crop or trim, rotate or flip, resize,
// colour adjustments, channel offsets, canvas, overlay. The processing loop and the live preview
// both edit through this chain, so a preview picture is made by the same operations as a run.
#pragma once

#include "pipeline/image_result.h"
#include "pipeline/overlay.h"
#include "pipeline/tone.h"
#include "toolkit/image.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace quill::settings {
struct Preset;
struct RunSettings;
} // namespace quill::settings

namespace quill::pipeline {

/// What the editing steps need besides the preset, prepared once per run.
struct EditValues {
    std::vector<ToneAdjustment> tones; ///< brightness, saturation, contrast, gamma as enabled
    std::optional<ChannelOffsets> offsets;
    OverlaySettings overlaySettings;
    PreparedOverlay overlay;
};

/// The tone adjustments and channel offsets of the preset.
void prepareColourValues(const settings::Preset& preset, EditValues& values);
/// prepareColourValues plus the overlay (font or overlay image) of the preset.
[[nodiscard]] EditValues prepareEditValues(const settings::Preset& preset,
                                           const settings::RunSettings& run);

/// How the chain ended.
struct EditOutcome {
    ImageResult result = ImageResult::Done;
    std::int32_t detail = DetailNone; ///< the failed step with StepFailed
    int rotationApplied = -1;         ///< rotateMode when the rotate step ran, else -1
};

/// Applies the enabled steps of `preset` to `image` in order and stops at the first failure
/// (the image then holds the result of the steps before it). `overlayText` is the overlay text
/// already expanded for this image. `afterStep` is called after each of the six step groups
/// (crop, rotate, resize, colour, canvas, overlay), also when a step failed or was skipped.
[[nodiscard]] EditOutcome applyEditChain(toolkit::Image& image, const settings::Preset& preset,
                                         const settings::RunSettings& run, const EditValues& values,
                                         std::string_view overlayText,
                                         const std::function<void()>& afterStep = {});

} // namespace quill::pipeline
