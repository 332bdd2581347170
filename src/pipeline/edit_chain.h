// The editing steps of one image in their fixed order: crop or trim, rotate or flip, resize,
// colour adjustments, channel offsets, canvas, overlay (an upright turn comes before the crop). The
// processing loop and the live preview both edit through this chain, so a preview picture is made
// by the same operations as a run.
#pragma once

#include "pipeline/canvas.h"
#include "pipeline/crop_trim.h"
#include "pipeline/edit_step.h"
#include "pipeline/image_result.h"
#include "pipeline/overlay.h"
#include "pipeline/resize.h"
#include "pipeline/rotate.h"
#include "pipeline/tone.h"
#include "toolkit/image.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <variant>
#include <vector>

namespace quill::settings {
struct Preset;
struct RunSettings;
} // namespace quill::settings

namespace quill::pipeline {

/// Fixed margins to cut off, in pixels.
struct CropMargins {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

/// The requests of the editing steps, made once per run from the settings. Nothing in it changes
/// while images are edited, so any number of threads may read one plan at the same time.
struct EditPlan {
    std::optional<std::variant<CropMargins, TrimOptions>> crop; ///< margins or automatic trim
    std::optional<RotateMode> rotate;
    std::optional<ScaleRequest> scale;
    std::vector<ToneAdjustment> tones; ///< brightness, saturation, contrast, gamma as enabled
    std::optional<ChannelOffsets> offsets;
    /// The tones and offsets above merged into one pass (none when there are neither).
    std::optional<ToneChain> toneChain;
    std::optional<CanvasRequest> canvas;
    std::optional<PreparedOverlay> overlay;
};

/// Whether `mode` turns the image by a quarter, so that width and height trade places.
[[nodiscard]] bool sidesSwap(RotateMode mode);

/// The turn the rotate step of `plan` gives an image stored with EXIF `orientation` (0 when it
/// has none or it is unknown): the plan's mode, or with Upright the turn that shows the image
/// upright. nullopt when the plan has no rotate step or the image needs no turn.
[[nodiscard]] std::optional<RotateMode> turnFor(const EditPlan& plan, std::int32_t orientation);

/// Whether the rotate step of `plan` runs first, before the crop: an upright turn does, so that
/// margins, sizes and overlays are placed on the picture as it is seen.
[[nodiscard]] bool turnsFirst(const EditPlan& plan);

/// A width and height.
struct EditedSize {
    int width = 0;
    int height = 0;
    friend bool operator==(const EditedSize&, const EditedSize&) = default;
};

/// The size the chain gives an image of width x height, from the plan alone: the crop margins,
/// the turn, the scale and the canvas, each measured as its step measures it (the colour steps
/// and the overlay keep the size). A trim depends on the pixels: `trimmed` is the size it left,
/// without which the trim counts as keeping the size. `orientation` is the image's EXIF
/// orientation for an upright turn (see turnFor). nullopt when a step would fail.
[[nodiscard]] std::optional<EditedSize> measureEditChain(const EditPlan& plan, int width,
                                                         int height,
                                                         std::optional<EditedSize> trimmed = {},
                                                         std::int32_t orientation = 0);

/// The tone adjustments and channel offsets of the preset, into `plan`.
void planColourSteps(const settings::Preset& preset, EditPlan& plan);
/// The plan of every enabled step of the preset, the overlay (image file) included.
[[nodiscard]] EditPlan makeEditPlan(const settings::Preset& preset,
                                    const settings::RunSettings& run);

/// What one thread needs of its own to edit with a plan: the overlay font, whose glyph cache
/// must not be shared between threads. Made once per thread from the plan it edits with.
class EditTools {
public:
    explicit EditTools(const EditPlan& plan);
    [[nodiscard]] const toolkit::Font* overlayFont() const {
        return m_overlayFont ? &*m_overlayFont : nullptr;
    }

private:
    std::optional<toolkit::Font> m_overlayFont;
};

/// How the chain ended.
struct EditOutcome {
    ImageResult result = ImageResult::Done;
    std::int32_t detail = DetailNone;   ///< the failed step with StepFailed
    std::optional<RotateMode> rotation; ///< the rotation applied, when the rotate step ran
    bool canvasMadeAlpha = false;       ///< the canvas step left a 32-bit image
};

/// The size of the full image when the image entering the chain was decoded reduced (in the
/// JPEG DCT): the resize then aims at the size the full image gives, and maps the reduced pixels
/// onto the full image's area.
struct ReducedFrom {
    int width = 0;
    int height = 0;
    int reduction = 1; ///< 2, 4 or 8: the decode's reduction
};

/// What the chain holds at most for an image entering it at a given size.
struct EditEstimate {
    std::uint64_t bytes = 0; ///< the largest image before and after one step, together
    std::int64_t width = 0;  ///< the size the chain ends with
    std::int64_t height = 0;
};

/// The estimate for an image of width x height, counting 4 bytes per pixel (any step may make
/// an image 32-bit). Trimming counts as keeping the whole image; an upright turn, which depends
/// on each image's orientation, counts as the larger of turning and not turning.
[[nodiscard]] EditEstimate estimateEdit(const EditPlan& plan, std::int64_t width,
                                        std::int64_t height);

/// Applies the steps of `plan` to `image` in order and stops at the first failure (the image
/// then holds the result of the steps before it). `overlayText` is the overlay text already
/// expanded for this image; `tools` belong to the calling thread. `afterStep` is called after
/// each of the six step groups, also when a step failed, was skipped or is not in the plan.
/// `reducedFrom` is the full image's size when `image` was decoded reduced. `orientation` is the
/// source's EXIF orientation (0 when none), which an upright turn follows; with it the turn runs
/// before the crop (still reported after it).
[[nodiscard]] EditOutcome applyEditChain(toolkit::Image& image, const EditPlan& plan,
                                         const EditTools& tools, std::string_view overlayText,
                                         const std::function<void(EditStep)>& afterStep = {},
                                         std::optional<ReducedFrom> reducedFrom = std::nullopt,
                                         std::int32_t orientation = 0,
                                         std::span<const std::uint8_t> outputProfile = {});

} // namespace quill::pipeline
