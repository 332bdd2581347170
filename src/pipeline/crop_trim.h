// Cutting fixed margins off the working image and trimming uniform borders automatically.
#pragma once

#include "toolkit/image.h"

namespace quill::pipeline {

/// Copies the part of `image` that remains after cutting `left`, `top`, `right` and `bottom`
/// pixels off its sides. Empty when the margins leave nothing (the width must exceed
/// left + right and the height top + bottom), when a margin is negative or on no memory.
[[nodiscard]] toolkit::Image cropMargins(const toolkit::Image& image, int left, int top, int right,
                                         int bottom);

/// Which sides the automatic trim examines, and how tolerant it is.
struct TrimOptions {
    bool left = true;
    bool right = true;
    bool top = true;
    bool bottom = true;
    /// Largest per-channel difference from a side's background colour that still counts as
    /// background, as a share of 255 (0.10 for 10 %).
    double colorTolerance = 0.0;
    /// Share of a line's pixels that may differ from the background before the line counts as
    /// content (0.05 for 5 %).
    double outlierShare = 0.0;
    /// The result is never narrower or lower than this share of the source side.
    double minimumShare = 0.33;
};

/// Removes the uniform borders of the switched-on sides and returns the remaining rectangle.
/// Each side's background is the most frequent colour on its outermost line. Empty when no side
/// is switched on, when the image is narrower or lower than 6 pixels, when the rectangle has no
/// area, or on no memory.
[[nodiscard]] toolkit::Image autoTrim(const toolkit::Image& image, const TrimOptions& options);

} // namespace quill::pipeline
