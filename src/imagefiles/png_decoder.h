// PNG decoding through libpng.
#pragma once

#include <cstdint>
#include <span>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes a PNG of any colour type and bit depth. 16-bit samples are rounded to 8 bits; images
/// with an alpha channel or a tRNS chunk (any colour type) become 32-bit, all others 24-bit.
/// A file that breaks off keeps the rows decoded so far, the rest zero. Empty on failure.
[[nodiscard]] toolkit::Image decodePng(std::span<const std::uint8_t> bytes);

} // namespace quill::imagefiles
