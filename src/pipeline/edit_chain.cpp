// The editing steps of one image.
#include "pipeline/edit_chain.h"

#include "settings/preset.h"
#include "settings/run_settings.h"

#include <algorithm>
#include <utility>

namespace quill::pipeline {
namespace {

std::variant<CropMargins, TrimOptions> cropRequestFrom(const settings::Preset& s) {
    if (s.cropMode == settings::CropMode::Margins)
        return CropMargins{s.cropLeft, s.cropTop, s.cropRight, s.cropBottom};
    return TrimOptions{.left = s.trimLeft != 0,
                       .right = s.trimRight != 0,
                       .top = s.trimTop != 0,
                       .bottom = s.trimBottom != 0,
                       .colorTolerance = s.trimColorTolerance / 100.0,
                       .outlierShare = s.trimOutlierTolerance / 100.0};
}

ScaleRequest scaleRequestFrom(const settings::Preset& s, const settings::RunSettings& run) {
    if (s.resizeMode != settings::ResizeMode::Pixels) {
        const float factor = float(s.resizePercent) / 100.0f;
        return {.basis = ScaleBasis::Factor, .targetX = factor, .targetY = factor};
    }
    const auto axis = run.resizeAxis == 1   ? ScaleAxis::WidthOnly
                      : run.resizeAxis == 2 ? ScaleAxis::HeightOnly
                                            : ScaleAxis::Both;
    const auto limit =
        s.resizeLimits == settings::ResizeLimits::ShrinkOnly    ? ScaleLimit::NeverEnlarge
        : s.resizeLimits == settings::ResizeLimits::EnlargeOnly ? ScaleLimit::NeverReduce
                                                                : ScaleLimit::None;
    return {.basis = ScaleBasis::Pixels,
            .axis = axis,
            .limit = limit,
            .aspect = s.resizeOption == 0 ? ScaleAspect::Stretch : ScaleAspect::Keep,
            .targetX = float(s.resizeWidth),
            .targetY = float(s.resizeHeight)};
}

/// The crop step: the remaining part, or an empty image when nothing remains.
toolkit::Image cropped(const toolkit::Image& image,
                       const std::variant<CropMargins, TrimOptions>& request) {
    if (const auto* m = std::get_if<CropMargins>(&request))
        return cropMargins(image, m->left, m->top, m->right, m->bottom);
    return autoTrim(image, std::get<TrimOptions>(request));
}

/// The colour step: the tone adjustments in order, then the channel offsets, in one pass.
bool adjustColours(toolkit::Image& image, const EditPlan& plan) {
    return !plan.toneChain || plan.toneChain->apply(image);
}

} // namespace

bool sidesSwap(RotateMode mode) {
    return mode == RotateMode::CounterClockwise90 || mode == RotateMode::Clockwise90 ||
           mode == RotateMode::Transpose || mode == RotateMode::Transverse;
}

std::optional<RotateMode> turnFor(const EditPlan& plan, std::int32_t orientation) {
    if (!plan.rotate) return std::nullopt;
    if (*plan.rotate == RotateMode::Upright) return uprightTurn(orientation);
    return plan.rotate;
}

bool turnsFirst(const EditPlan& plan) {
    return plan.rotate == RotateMode::Upright;
}

void planColourSteps(const settings::Preset& s, EditPlan& plan) {
    plan.tones.clear();
    if (s.brightnessEnabled)
        plan.tones.emplace_back(ToneKind::Brightness, (s.brightnessLevel - 100) / 100.0,
                                BrightnessVariant::Blend);
    if (s.saturationEnabled)
        plan.tones.emplace_back(ToneKind::Saturation, s.saturationLevel / 100.0,
                                BrightnessVariant::Additive);
    if (s.contrastEnabled)
        plan.tones.emplace_back(ToneKind::Contrast, (s.contrastLevel - 100) / 100.0,
                                BrightnessVariant::Additive);
    if (s.gammaEnabled)
        plan.tones.emplace_back(ToneKind::Gamma, s.gammaLevel / 100.0, BrightnessVariant::Additive);
    plan.offsets.reset();
    if (s.channelAdjustEnabled)
        plan.offsets.emplace(channelOffsetForLevel(s.channelAdjustRed),
                             channelOffsetForLevel(s.channelAdjustGreen),
                             channelOffsetForLevel(s.channelAdjustBlue));
    plan.toneChain.reset();
    if (!plan.tones.empty() || plan.offsets)
        plan.toneChain.emplace(plan.tones, plan.offsets ? &*plan.offsets : nullptr);
}

EditPlan makeEditPlan(const settings::Preset& s, const settings::RunSettings& run) {
    EditPlan plan;
    if (s.cropEnabled) plan.crop = cropRequestFrom(s);
    if (s.rotateEnabled) plan.rotate = RotateMode(s.rotateMode);
    if (s.resizeEnabled) plan.scale = scaleRequestFrom(s, run);
    planColourSteps(s, plan);
    if (s.canvasEnabled)
        plan.canvas = CanvasRequest{.sizing = CanvasSizing::AtLeast,
                                    .width = s.canvasWidth,
                                    .height = s.canvasHeight,
                                    .position = CanvasPosition::Centre,
                                    .mode = CanvasMode(s.canvasMode),
                                    .colour = toolkit::Rgba{s.canvasColor}};
    if (s.overlayEnabled)
        plan.overlay = prepareOverlay(overlaySettingsFrom(s), run.overlayImageRun);
    return plan;
}

std::optional<EditedSize> measureEditChain(const EditPlan& plan, int width, int height,
                                           std::optional<EditedSize> trimmed,
                                           std::int32_t orientation) {
    EditedSize size{width, height};
    if (size.width < 1 || size.height < 1) return std::nullopt;
    const std::optional<RotateMode> turn = turnFor(plan, orientation);
    const bool swaps = turn && sidesSwap(*turn);
    if (turnsFirst(plan) && swaps) std::swap(size.width, size.height);
    if (plan.crop) {
        if (const auto* m = std::get_if<CropMargins>(&*plan.crop)) {
            if (m->left < 0 || m->top < 0 || m->right < 0 || m->bottom < 0) return std::nullopt;
            const long long w = (long long)size.width - m->left - m->right;
            const long long h = (long long)size.height - m->top - m->bottom;
            if (w <= 0 || h <= 0) return std::nullopt;
            size = {int(w), int(h)};
        } else if (trimmed) {
            size = *trimmed;
        }
    }
    if (!turnsFirst(plan) && swaps) std::swap(size.width, size.height);
    if (plan.scale) {
        const auto scaled = measureScale(*plan.scale, size.width, size.height);
        if (!scaled || scaled->width < 1 || scaled->height < 1) return std::nullopt;
        size = {scaled->width, scaled->height};
    }
    if (plan.canvas) {
        const auto canvas = measureCanvas(*plan.canvas, size.width, size.height);
        if (!canvas) return std::nullopt;
        size = {canvas->width, canvas->height};
    }
    return size;
}

EditTools::EditTools(const EditPlan& plan) {
    if (plan.overlay) m_overlayFont = openOverlayFont(*plan.overlay);
}

namespace {

EditEstimate estimateWith(const EditPlan& plan, std::int64_t width, std::int64_t height,
                          bool turnedFirst) {
    if (turnedFirst) std::swap(width, height);
    const auto bytes = [](std::int64_t w, std::int64_t h) {
        return w > 0 && h > 0 ? std::uint64_t(w) * std::uint64_t(h) * 4 : 0;
    };
    // Crop, rotate and the colour steps hold the image and at most one copy of it.
    EditEstimate e{2 * bytes(width, height), width, height};
    const auto through = [&](std::int64_t w, std::int64_t h) {
        e.bytes = std::max(e.bytes, bytes(e.width, e.height) + bytes(w, h));
        e.width = w;
        e.height = h;
    };
    if (plan.crop)
        if (const auto* m = std::get_if<CropMargins>(&*plan.crop))
            through(std::max<std::int64_t>(1, e.width - m->left - m->right),
                    std::max<std::int64_t>(1, e.height - m->top - m->bottom));
    if (plan.rotate && !turnsFirst(plan) && sidesSwap(*plan.rotate)) std::swap(e.width, e.height);
    const auto fits = [](std::int64_t w, std::int64_t h) {
        return w > 0 && h > 0 && w <= 0x7FFFFFFF && h <= 0x7FFFFFFF;
    };
    if (plan.scale && fits(e.width, e.height))
        if (const auto size = measureScale(*plan.scale, int(e.width), int(e.height)))
            if (size->width > 0 && size->height > 0) through(size->width, size->height);
    if (plan.canvas && fits(e.width, e.height))
        if (const auto size = measureCanvas(*plan.canvas, int(e.width), int(e.height)))
            through(size->width, size->height);
    return e;
}

} // namespace

EditEstimate estimateEdit(const EditPlan& plan, std::int64_t width, std::int64_t height) {
    const EditEstimate kept = estimateWith(plan, width, height, false);
    if (!turnsFirst(plan)) return kept;
    const EditEstimate turned = estimateWith(plan, width, height, true);
    // The larger room; at equal room, the larger result, which the encoder's estimate reads.
    const auto key = [](const EditEstimate& e) { return std::pair(e.bytes, e.width * e.height); };
    return key(turned) > key(kept) ? turned : kept;
}

namespace {

/// The sides of a reduced image as `rotate` (when set) left them: which full side each of them
/// stands for, and whether its narrower edge pixel, last on the decoded image, came first.
std::pair<ReducedSide, ReducedSide> reducedSides(const ReducedFrom& full,
                                                 std::optional<RotateMode> rotate) {
    const ReducedSide x{full.width, full.reduction, false};
    const ReducedSide y{full.height, full.reduction, false};
    const auto reversed = [](ReducedSide side) {
        side.narrowFirst = true;
        return side;
    };
    if (!rotate) return {x, y};
    switch (*rotate) {
    case RotateMode::CounterClockwise90:
        return {y, reversed(x)};
    case RotateMode::Clockwise90:
        return {reversed(y), x};
    case RotateMode::Rotate180:
        return {reversed(x), reversed(y)};
    case RotateMode::MirrorLeftRight:
        return {reversed(x), y};
    case RotateMode::MirrorTopBottom:
        return {x, reversed(y)};
    case RotateMode::Transpose:
        return {y, x};
    case RotateMode::Transverse:
        return {reversed(y), reversed(x)};
    case RotateMode::Upright: // resolved to one of the turns above before it gets here
        break;
    }
    return {x, y};
}

} // namespace

EditOutcome applyEditChain(toolkit::Image& image, const EditPlan& plan, const EditTools& tools,
                           std::string_view overlayText,
                           const std::function<void(EditStep)>& afterStep,
                           std::optional<ReducedFrom> reducedFrom, std::int32_t orientation,
                           std::span<const std::uint8_t> outputProfile) {
    EditOutcome out;
    auto ok = [&] { return out.result == ImageResult::Done; };
    // Runs one step group when the chain has not failed yet; reports it in any case.
    auto step = [&](EditStep which, bool planned, std::int32_t detail, auto&& run) {
        if (ok() && planned && !run()) {
            out.result = ImageResult::StepFailed;
            out.detail = detail;
        }
        if (afterStep) afterStep(which);
    };

    const std::optional<RotateMode> turn = turnFor(plan, orientation);
    auto turnImage = [&] {
        if (!turn) return true; // an upright source of an upright turn
        toolkit::Image rotated = rotateImage(image, *turn);
        if (rotated.empty()) return false;
        image = std::move(rotated);
        out.rotation = turn;
        return true;
    };
    const bool first = turnsFirst(plan);
    if (first && !turnImage()) {
        out.result = ImageResult::StepFailed;
        out.detail = DetailRotate;
    }

    step(EditStep::Crop, plan.crop.has_value(), DetailCrop, [&] {
        toolkit::Image part = cropped(image, *plan.crop);
        if (part.empty()) return false;
        image = std::move(part);
        return true;
    });
    step(EditStep::Rotate, plan.rotate.has_value() && !first, DetailRotate, turnImage);
    step(EditStep::Resize, plan.scale.has_value(), DetailResize, [&] {
        if (!reducedFrom) return scaleImage(image, *plan.scale);
        // The size the full image would give, turned as the rotate step turned the image.
        const bool turned = turn && sidesSwap(*turn);
        const auto size =
            measureScale(*plan.scale, turned ? reducedFrom->height : reducedFrom->width,
                         turned ? reducedFrom->width : reducedFrom->height);
        if (!size) return false;
        const auto [across, down] = reducedSides(*reducedFrom, turn);
        return resizeReducedImageSmooth(image, size->width, size->height, across, down);
    });
    step(EditStep::Colour, true, DetailColour, [&] { return adjustColours(image, plan); });
    step(EditStep::Canvas, plan.canvas.has_value(), DetailCanvas, [&] {
        if (!extendCanvas(image, *plan.canvas)) return false;
        out.canvasMadeAlpha = image.hasAlpha();
        return true;
    });
    step(EditStep::Overlay, plan.overlay.has_value(), DetailOverlay, [&] {
        const bool text = plan.overlay->isText();
        return applyOverlay(image, *plan.overlay, tools.overlayFont(),
                            text ? overlayText : std::string_view(), outputProfile);
    });
    return out;
}

} // namespace quill::pipeline
