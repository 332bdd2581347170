// Rotating the working image by a multiple of 90 degrees, mirroring and transposing it.
#pragma once

#include "toolkit/image.h"

#include <cstdint>
#include <optional>

namespace quill::pipeline {

/// The rotation modes, numbered as the presets store them.
enum class RotateMode : int {
    CounterClockwise90 = 0, ///< dst(x, y) = src(W - 1 - y, x); result H x W
    Clockwise90 = 1,        ///< dst(x, y) = src(y, H - 1 - x); result H x W
    Rotate180 = 2,          ///< dst(x, y) = src(W - 1 - x, H - 1 - y)
    MirrorLeftRight = 3,    ///< dst(x, y) = src(W - 1 - x, y)
    MirrorTopBottom = 4,    ///< dst(x, y) = src(x, H - 1 - y)
    Transpose = 5,          ///< dst(x, y) = src(y, x); result H x W
    Transverse = 6,         ///< dst(x, y) = src(W - 1 - y, H - 1 - x); result H x W
    /// Each image by what its EXIF orientation says, so that it is seen upright: one of the
    /// modes above chosen per image (uprightTurn), or none for an image stored upright.
    Upright = 7,
};

/// The turn that brings an image stored with EXIF `orientation` upright: nullopt for 1 (stored
/// upright), for 0 (no orientation known) and for values outside 1..8.
[[nodiscard]] std::optional<RotateMode> uprightTurn(std::int32_t orientation);

/// Returns a rotated or mirrored copy of `image` with the same pixel format (alpha included).
/// Empty for an empty image, a mode outside 0..6 (Upright included: it names no one turn) or on
/// no memory.
[[nodiscard]] toolkit::Image rotateImage(const toolkit::Image& image, RotateMode mode);

} // namespace quill::pipeline
