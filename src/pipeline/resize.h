// Scaling the working image: turning a size request into a pixel size, and the two-pass cubic
// resampler.
#pragma once

#include <cstdint>

#include "toolkit/image.h"

namespace quill::pipeline {

/// A scaling request, filled by the caller; `scaleImage` writes the results back into it.
struct ScaleRequest {
    /// Nonzero: compute the new size but leave the image unchanged.
    std::uint8_t measureOnly = 0;
    /// The image to scale (replaced in place); may be null when measuring.
    toolkit::Image* image = nullptr;
    /// The current size used when measuring without an image.
    std::int32_t knownWidth = 0;
    std::int32_t knownHeight = 0;
    /// 1: targetX and targetY are factors; any other value: sizes in pixels.
    std::uint8_t basis = 0;
    /// 1: only the width target counts; 2: only the height target counts; other: both.
    std::uint8_t axis = 0;
    /// 1: never enlarge; 2: never reduce; other: no limit.
    std::uint8_t limit = 0;
    /// Nonzero: each side gets its own factor; 0: one factor for both (aspect ratio kept).
    std::uint8_t stretch = 0;
    float targetX = 0.0f;
    float targetY = 0.0f;
    /// Results.
    std::int32_t newWidth = 0;
    std::int32_t newHeight = 0;
    /// Result: the common factor (written also when stretch is set).
    float factor = 0.0f;
};

/// Computes the new size of the request and, unless measuring, resamples the image to it.
/// False when the resampling fails (a side of 0, no memory, no image) or the size is beyond any
/// image; the results are written only on success.
[[nodiscard]] bool scaleImage(ScaleRequest& request);

/// Replaces the pixels of `image` (24- or 32-bit) with a copy resampled to width x height by the
/// two-pass Mitchell-Netravali cubic filter (B = C = 1/3). In 32-bit images fully transparent
/// pixels count as transparent white, so they do not darken the edges next to them. The current
/// size succeeds without work. False, with the image unchanged, for an empty image, a side below
/// 1, a size beyond the image limit or no memory.
[[nodiscard]] bool resizeImageSmooth(toolkit::Image& image, int width, int height);

/// The strongest reduction (1, 2, 4 or 8) by which a JPEG of srcWidth x srcHeight may be decoded
/// in the library's DCT before `request` resizes it: the reduced image, ceil(side / reduction) on
/// each side, stays at least twice the request's result on both sides, so the cubic pass that
/// follows still does most of the reduction. 1 when the request does not reduce by that much or
/// cannot be measured. Only the size fields of `request` count (it is measured, never applied);
/// the caller resizes the reduced image to the size the request gives for the full image.
[[nodiscard]] int largestDctReduction(int srcWidth, int srcHeight, const ScaleRequest& request);

} // namespace quill::pipeline
