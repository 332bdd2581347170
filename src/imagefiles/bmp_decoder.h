// BMP decoding (our own code).
#pragma once

#include <cstdint>
#include <span>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes a Windows or OS/2 bitmap: 1, 2, 4, 8, 16, 24 and 32 bits per pixel, RLE4, RLE8 and
/// OS/2 RLE24, bit-field masks (an alpha mask gives a 32-bit image), top-down and bottom-up rows,
/// and JPEG or PNG data wrapped in a bitmap header. A file that breaks off keeps the rows decoded
/// so far, the rest zero. Empty on failure.
[[nodiscard]] toolkit::Image decodeBmp(std::span<const std::uint8_t> bytes);

} // namespace quill::imagefiles
