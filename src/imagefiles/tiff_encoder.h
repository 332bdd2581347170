// The TIFF encoder (libtiff, written to memory): Deflate-compressed RGB, RGBA and palette files.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imagefiles/quantizer.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// Appends a little-endian TIFF of `image` to `out`: 8-bit RGB for a 24-bit view, RGBA with
/// unassociated alpha for a 32-bit one, Deflate with horizontal differencing. `quality` is not
/// used (the compression is lossless). False when the view is empty, libtiff fails or a stop is
/// requested; `out` is then left as it was.
[[nodiscard]] bool encodeTiff(const toolkit::ImageView& image, int quality,
                              std::vector<std::uint8_t>& out);
/// The same with an ICC profile embedded (`icc` not empty), for the format table.
[[nodiscard]] bool encodeTiffWithProfile(const toolkit::ImageView& image, int quality,
                                         std::span<const std::uint8_t> icc,
                                         std::vector<std::uint8_t>& out);

/// Appends a palette TIFF of `image` at `depth` 1, 4 or 8 bits a pixel (the palette must fit) to
/// `out`, Deflate-compressed; the colour map is padded with black to 2^depth entries.
[[nodiscard]] bool encodeTiffPalette(const PalettedImage& image, int depth,
                                     std::vector<std::uint8_t>& out);

} // namespace quill::imagefiles
