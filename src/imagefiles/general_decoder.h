// The general decoder: JPEG, PNG, BMP, TGA, TIFF and JPEG 2000, recognised by content.
#pragma once

#include <cstdint>
#include <span>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes a JPEG, PNG, BMP, TIFF or JPEG 2000 file recognised by its signature, or a TGA file
/// (which has none) when nothing else matches. Empty for anything else (GIF, PCX, PNM, ICO are
/// not read here) and on failure.
[[nodiscard]] toolkit::Image decodeGeneral(std::span<const std::uint8_t> bytes);

} // namespace quill::imagefiles
