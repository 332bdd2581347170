// Enlarging the canvas around the working image with a colour, transparency or the image's own
// edge pixels.
#pragma once

#include <cstdint>

#include "settings/preset_codes.h"
#include "toolkit/image.h"

namespace quill::pipeline {

/// How the margins of an enlarged canvas are filled: the preset's `canvasMode`.
using settings::CanvasMode;

/// Position value that puts the image at the top-left corner; any other value centres it.
inline constexpr std::uint8_t kCanvasTopLeft = 123;

/// A canvas request, filled by the caller; `extendCanvas` writes the results back into it.
struct CanvasRequest {
    /// Nonzero: compute the new size but leave the image unchanged.
    std::uint8_t measureOnly = 0;
    /// The image to place (replaced in place by the new canvas); may be null when measuring.
    toolkit::Image* image = nullptr;
    /// The current size used when measuring without an image.
    std::int32_t knownWidth = 0;
    std::int32_t knownHeight = 0;
    /// 0: each side becomes the larger of the requested and the current size (the canvas never
    /// cuts the image); other: each side becomes exactly the requested size.
    std::uint8_t sizeMode = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    /// kCanvasTopLeft: the image goes to the top-left corner; other values centre it.
    std::uint8_t position = 0;
    /// A CanvasMode value.
    std::uint8_t mode = 0;
    /// Margin colour for CanvasMode::Colour (red in the low byte; the alpha byte is ignored).
    toolkit::Rgba colour;
    /// Results.
    std::int32_t newWidth = 0;
    std::int32_t newHeight = 0;
};

/// Places the image on a canvas of the requested size. The canvas is 32-bit, transparent under
/// the margins before they are filled, when the image is 32-bit or the mode is Transparent;
/// otherwise 24-bit. When the size does not change the image stays as it is. False for a missing
/// image (unless measuring), an unknown mode, a size beyond the image limit or no memory; the
/// image is then unchanged.
[[nodiscard]] bool extendCanvas(CanvasRequest& request);

} // namespace quill::pipeline
