// The program's own GIF decoder: the first image of a file, with a single transparent colour.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "imagefiles/packed_dib.h"
#include "toolkit/image.h"

namespace quill::imagefiles {

/// The first image of a GIF file as a packed bitmap (1, 4 or 8 bits per pixel) with the
/// transparency that the conversion applies afterwards.
struct GifBitmap {
    PackedDib dib;
    bool transparent = false;      ///< the transparent colour applies (still images only)
    DecodedColor transparentColor; ///< every pixel of this colour becomes transparent
};

/// Decodes the first image of a GIF file held in `bytes` into a packed bitmap; nothing on a bad
/// signature, a missing colour table, a bad code size or an image too large to allocate.
[[nodiscard]] std::optional<GifBitmap> decodeGifBitmap(std::span<const std::uint8_t> bytes);

/// Decodes the first image of a GIF file held in `bytes`: a 24-bit image, or a 32-bit one whose
/// transparent colour has alpha 0. Empty on failure.
[[nodiscard]] toolkit::Image decodeGif(std::span<const std::uint8_t> bytes);

} // namespace quill::imagefiles
