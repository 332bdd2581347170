// TIFF decoding through libtiff.
#pragma once

#include <cstdint>
#include <span>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes the first image of a TIFF file through libtiff's RGBA interface (every photometric
/// interpretation and compression libtiff reads). Alpha is kept unpremultiplied; the rows come in
/// stored order, top row first. Damaged strips or tiles stay zero. Empty on failure.
[[nodiscard]] toolkit::Image decodeTiff(std::span<const std::uint8_t> bytes);

} // namespace quill::imagefiles
