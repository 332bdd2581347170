// The editing steps of one image.
#include "pipeline/edit_chain.h"

#include "pipeline/canvas.h"
#include "pipeline/crop_trim.h"
#include "pipeline/resize.h"
#include "pipeline/rotate.h"
#include "settings/preset.h"
#include "settings/run_settings.h"

namespace quill::pipeline {

void prepareColourValues(const settings::Preset& s, EditValues& v) {
    v.tones.clear();
    if (s.brightnessEnabled)
        v.tones.emplace_back(ToneKind::Brightness, (s.brightnessLevel - 100) / 100.0,
                             BrightnessVariant::Blend);
    if (s.saturationEnabled)
        v.tones.emplace_back(ToneKind::Saturation, s.saturationLevel / 100.0,
                             BrightnessVariant::Additive);
    if (s.contrastEnabled)
        v.tones.emplace_back(ToneKind::Contrast, (s.contrastLevel - 100) / 100.0,
                             BrightnessVariant::Additive);
    if (s.gammaEnabled)
        v.tones.emplace_back(ToneKind::Gamma, s.gammaLevel / 100.0, BrightnessVariant::Additive);
    v.offsets.reset();
    if (s.channelAdjustEnabled)
        v.offsets.emplace(channelOffsetForLevel(s.channelAdjustRed),
                          channelOffsetForLevel(s.channelAdjustGreen),
                          channelOffsetForLevel(s.channelAdjustBlue));
}

EditValues prepareEditValues(const settings::Preset& s, const settings::RunSettings& run) {
    EditValues v;
    prepareColourValues(s, v);
    if (s.overlayEnabled) {
        v.overlaySettings = overlaySettingsFrom(s);
        v.overlay = prepareOverlay(v.overlaySettings, run.overlayImageRun);
    }
    return v;
}

EditOutcome applyEditChain(toolkit::Image& image, const settings::Preset& s,
                           const settings::RunSettings& run, const EditValues& values,
                           std::string_view overlayText, const std::function<void()>& afterStep) {
    EditOutcome out;
    auto step = [&] {
        if (afterStep) afterStep();
    };
    auto ok = [&] { return out.result == ImageResult::Done; };
    auto fail = [&](std::int32_t detail) {
        out.result = ImageResult::StepFailed;
        out.detail = detail;
    };

    if (s.cropEnabled) {
        toolkit::Image cropped;
        if (s.cropMode == settings::CropMode::Margins) {
            cropped = cropMargins(image, s.cropLeft, s.cropTop, s.cropRight, s.cropBottom);
        } else {
            TrimOptions trim;
            trim.left = s.trimLeft != 0;
            trim.right = s.trimRight != 0;
            trim.top = s.trimTop != 0;
            trim.bottom = s.trimBottom != 0;
            trim.colorTolerance = s.trimColorTolerance / 100.0;
            trim.outlierShare = s.trimOutlierTolerance / 100.0;
            cropped = autoTrim(image, trim);
        }
        if (cropped.empty())
            fail(DetailCrop);
        else
            image = std::move(cropped);
    }
    step();

    if (ok() && s.rotateEnabled) {
        toolkit::Image rotated = rotateImage(image, RotateMode(s.rotateMode));
        if (rotated.empty())
            fail(DetailRotate);
        else {
            image = std::move(rotated);
            out.rotationApplied = s.rotateMode;
        }
    }
    step();

    if (ok() && s.resizeEnabled) {
        ScaleRequest request;
        request.image = &image;
        if (s.resizeMode == settings::ResizeMode::Pixels) {
            request.basis = 0;
            request.axis = std::uint8_t(run.resizeAxis > 0 ? run.resizeAxis : 0);
            request.limit =
                std::uint8_t(s.resizeLimits == settings::ResizeLimits::ShrinkOnly    ? 1
                             : s.resizeLimits == settings::ResizeLimits::EnlargeOnly ? 2
                                                                                     : 0);
            request.stretch = s.resizeOption == 0 ? 1 : 0;
            request.targetX = float(s.resizeWidth);
            request.targetY = float(s.resizeHeight);
        } else {
            request.basis = 1;
            request.targetX = request.targetY = float(s.resizePercent) / 100.0f;
        }
        if (!scaleImage(request)) fail(DetailResize);
    }
    step();

    if (ok()) {
        for (const ToneAdjustment& tone : values.tones) {
            if (!tone.apply(image)) {
                fail(DetailColour);
                break;
            }
        }
        if (ok() && values.offsets && !values.offsets->apply(image)) fail(DetailColour);
    }
    step();

    if (ok() && s.canvasEnabled) {
        CanvasRequest request;
        request.image = &image;
        request.sizeMode = 0;
        request.width = s.canvasWidth;
        request.height = s.canvasHeight;
        request.position = 0;
        request.mode = std::uint8_t(s.canvasMode);
        request.colour = toolkit::Rgba{s.canvasColor};
        if (!extendCanvas(request)) fail(DetailCanvas);
    }
    step();

    if (ok() && s.overlayEnabled) {
        if (!applyOverlay(image, values.overlaySettings, values.overlay,
                          s.overlayKind == settings::OverlayKind::Text ? overlayText
                                                                       : std::string_view()))
            fail(DetailOverlay);
    }
    step();
    return out;
}

} // namespace quill::pipeline
