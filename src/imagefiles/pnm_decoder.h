// The program's own PNM decoder: bitmaps (P1, P4), grey maps (P2, P5) and pix maps (P3, P6).
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "imagefiles/packed_dib.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes a PNM file held in `bytes` into a packed bitmap: 1 bit with a black and white palette
/// for bitmaps, 8 bits with a grey palette for grey maps, 24 bits for pix maps. Nothing for a
/// bad signature, a maximum value outside 1..65535 or a size that cannot be allocated.
[[nodiscard]] std::optional<PackedDib> decodePnmBitmap(std::span<const std::uint8_t> bytes);

/// Decodes a PNM file held in `bytes` into a 24-bit image; empty on failure.
[[nodiscard]] toolkit::Image decodePnm(std::span<const std::uint8_t> bytes);

} // namespace quill::imagefiles
