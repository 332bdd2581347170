// The PNG encoder (libpng, zlib): true-colour with or without alpha, and palette files.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "imagefiles/quantizer.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// Row filters tried by the encoder.
enum class PngFilters {
    None,     ///< no filtering
    Adaptive, ///< libpng picks the best of all five filters per row
    Paeth,    ///< the Paeth filter on every row
};

/// Compression settings; the defaults are what saveImageFile uses (see png_encoder.cpp).
struct PngTuning {
    int zlibLevel = 6;                         ///< 0..9
    PngFilters filters = PngFilters::Adaptive; ///< for true-colour files; palettes use None
};

/// Appends a PNG of `image` to `out`: RGB for 24-bit images, RGBA for 32-bit ones.
/// `icc`, when not empty, is written as the iCCP chunk.
[[nodiscard]] bool encodePng(const toolkit::ImageView& image, std::vector<std::uint8_t>& out,
                             PngTuning tuning = {}, std::span<const std::uint8_t> icc = {});

/// Appends a palette PNG of `image` at `bitDepth` 1, 4 or 8 (the palette must fit) to `out`.
[[nodiscard]] bool encodePngPalette(const PalettedImage& image, int bitDepth,
                                    std::vector<std::uint8_t>& out, PngTuning tuning = {});

} // namespace quill::imagefiles
