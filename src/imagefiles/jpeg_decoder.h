// JPEG decoding through libjpeg-turbo.
#pragma once

#include <cstdint>
#include <span>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes a baseline, extended or progressive JPEG (greyscale, YCbCr/RGB, CMYK/YCCK) into a
/// 24-bit image. A file that breaks off after the header yields the rows decoded so far (the
/// library fills the rest from the missing data as grey). Empty on failure.
[[nodiscard]] toolkit::Image decodeJpeg(std::span<const std::uint8_t> bytes);

/// decodeJpeg at a reduced size: the library's scaled decoding by 1/2, 1/4 or 1/8, the
/// strongest reduction whose result is still at least minWidth x minHeight (full size when
/// none is, or when either minimum is 0).
[[nodiscard]] toolkit::Image decodeJpegReduced(std::span<const std::uint8_t> bytes, int minWidth,
                                               int minHeight);

/// decodeJpeg reduced by a fixed factor in the library's DCT: `reduction` 2, 4 or 8 gives
/// ceil(width / reduction) x ceil(height / reduction); any other value decodes at full size.
[[nodiscard]] toolkit::Image decodeJpegScaled(std::span<const std::uint8_t> bytes, int reduction);

} // namespace quill::imagefiles
