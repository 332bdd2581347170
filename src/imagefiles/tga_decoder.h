// TGA decoding (our own code).
#pragma once

#include <cstdint>
#include <span>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes a Truevision TGA of type 1, 2, 3, 9, 10 or 11 (colour-mapped, true-colour, greyscale,
/// raw or run-length), 8/15/16/24/32 bits, any origin corner. Alpha bits in the pixels give a
/// 32-bit image. A file that breaks off keeps the pixels decoded so far, the rest zero. Empty on
/// failure.
[[nodiscard]] toolkit::Image decodeTga(std::span<const std::uint8_t> bytes);

/// True when the first 18 bytes look like a TGA header this decoder accepts (TGA has no
/// signature; the general decoder uses this as its last guess).
[[nodiscard]] bool looksLikeTga(std::span<const std::uint8_t> bytes);

} // namespace quill::imagefiles
