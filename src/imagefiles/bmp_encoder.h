// The built-in BMP writer: uncompressed Windows bitmaps with a palette, 24 or 32 bits.
#pragma once

#include <cstdint>
#include <vector>

#include "imagefiles/quantizer.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// Alpha handling of the direct-colour BMP writer.
enum class BmpAlpha {
    Drop,  ///< 24 bits a pixel
    Write, ///< 32 bits a pixel with an alpha mask (alpha 255 for a 24-bit image)
};

/// Appends a complete BMP file of `image` to `out`. False when the image is empty or too large.
[[nodiscard]] bool encodeBmp(const toolkit::ImageView& image, BmpAlpha alpha,
                             std::vector<std::uint8_t>& out);

/// Appends a palette BMP of `image` at `bitDepth` 1, 4 or 8 (the palette must fit) to `out`.
[[nodiscard]] bool encodeBmpPalette(const PalettedImage& image, int bitDepth,
                                    std::vector<std::uint8_t>& out);

} // namespace quill::imagefiles
