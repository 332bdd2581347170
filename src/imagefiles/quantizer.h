// Palette reduction: builds a palette of 2, 16 or 256 colours for an image and maps its pixels.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// One palette entry.
struct PaletteColor {
    std::uint8_t blue = 0;
    std::uint8_t green = 0;
    std::uint8_t red = 0;
    constexpr bool operator==(const PaletteColor&) const = default;
};

/// An image as palette indices, one byte a pixel, rows top first without padding.
struct PalettedImage {
    int width = 0;
    int height = 0;
    std::vector<PaletteColor> palette; ///< at most the requested number of colours
    std::vector<std::uint8_t> indices; ///< width x height entries
};

/// How pixels are mapped onto the palette.
enum class Dithering {
    None,           ///< each pixel takes its nearest palette colour
    FloydSteinberg, ///< the mapping error is diffused onto the neighbours
};

/// Every n-th pixel that palette building samples: n = width x height / 262144 + 1, at most 10.
[[nodiscard]] int paletteSampleStep(int width, int height);

/// Reduces `image` to at most `colors` colours (2..256). An image with no more distinct colours
/// than that keeps them exactly. Alpha is ignored. nullopt when the image is empty, `colors` is
/// out of range or memory runs out.
[[nodiscard]] std::optional<PalettedImage> quantizeImage(const toolkit::ImageView& image,
                                                         int colors, Dithering dithering);

} // namespace quill::imagefiles
