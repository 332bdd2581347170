// The general decoder: JPEG, PNG, BMP, TGA, TIFF and JPEG 2000, recognised by content.
#pragma once

#include <cstdint>
#include <span>

#include "imagefiles/codec.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// Decodes a JPEG, PNG, BMP, TIFF or JPEG 2000 file recognised by its signature, or a TGA file
/// (which has none) when nothing else matches. Empty for anything else (GIF, PCX, PNM, ICO are
/// not read here) and on failure.
[[nodiscard]] toolkit::Image decodeGeneral(std::span<const std::uint8_t> bytes);

/// The decoder of the formats read by content (JPEG, BMP, TGA, TIFF, JPEG 2000 by extension): the
/// formats of the format table whose signature the bytes carry go to their own decoder (so that a
/// WebP saved as ".jpg" still loads); everything else to decodeGeneral. JPEG content decodes
/// reduced in the library's DCT when the request allows a reduction of 2, 4 or 8.
[[nodiscard]] toolkit::Image decodeByContent(std::span<const std::uint8_t> bytes,
                                             const DecodeRequest& request);

/// The PNG extension's decoder: decodeGeneral, then the colour-key step, which makes the colour
/// of a tRNS chunk that directly follows the header transparent when the decoder gave no alpha.
[[nodiscard]] toolkit::Image decodePngWithColorKey(std::span<const std::uint8_t> bytes,
                                                   const DecodeRequest& request);

} // namespace quill::imagefiles
