// Colour conversions between an embedded ICC profile and sRGB, through Little CMS. Every call
// makes its own Little CMS context, so conversions run on any number of threads at once.
#pragma once

#include <cstdint>
#include <span>

#include "toolkit/image.h"

namespace quill::imagefiles {

using IccBytes = std::span<const std::uint8_t>;

/// What a profile means for pixels stored under it.
enum class ProfileKind : std::uint8_t {
    None,    ///< no profile, or one Little CMS cannot open or convert RGB pixels with
    Srgb,    ///< sRGB itself (colorants and tone curves of sRGB): converting changes nothing
    OtherRgb ///< an RGB profile of another colour space
};

/// The kind of a profile (an empty span is None). A gray, CMYK or Lab profile is None: the
/// working image is RGB, so such a profile cannot describe its pixels.
[[nodiscard]] ProfileKind profileKind(IccBytes icc);

/// Converts the pixels of `image` in place from `icc` to sRGB (perceptual intent, no black point
/// compensation); alpha is kept. False, pixels untouched, when the profile cannot be used.
bool convertImageToSrgb(toolkit::Image& image, IccBytes icc);

/// Converts the pixels of `image` in place from sRGB to `icc` (perceptual intent); alpha is
/// kept. False, pixels untouched, when the profile cannot be used.
bool convertImageFromSrgb(toolkit::Image& image, IccBytes icc);

/// Converts colours (red in the low byte, as toolkit::Rgba stores them; the top byte is kept)
/// in place from sRGB to `icc`. False, colours untouched, when the profile cannot be used.
bool convertColoursFromSrgb(std::span<toolkit::Rgba> colours, IccBytes icc);

} // namespace quill::imagefiles
