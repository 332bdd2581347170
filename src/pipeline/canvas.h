// Enlarging the canvas around the working image with a colour, transparency or the image's own
// edge pixels.
#pragma once

#include <cstdint>
#include <optional>

#include "settings/preset_codes.h"
#include "toolkit/image.h"

namespace quill::pipeline {

/// How the margins of an enlarged canvas are filled: the preset's `canvasMode`.
using settings::CanvasMode;

/// How the requested size is taken.
enum class CanvasSizing : std::uint8_t {
    AtLeast, ///< each side becomes the larger of the requested and the current size (never cuts)
    Exact,   ///< each side becomes exactly the requested size (may cut the image)
};

/// Where the image sits on the canvas.
enum class CanvasPosition : std::uint8_t {
    Centre,  ///< centred (offsets rounded toward zero)
    TopLeft, ///< in the top-left corner
};

/// What a canvas step asks for; the image's own size comes with the call.
struct CanvasRequest {
    CanvasSizing sizing = CanvasSizing::AtLeast;
    std::int32_t width = 0;
    std::int32_t height = 0;
    CanvasPosition position = CanvasPosition::Centre;
    CanvasMode mode = CanvasMode::Colour;
    /// Margin colour for CanvasMode::Colour (red in the low byte; the alpha byte is ignored).
    toolkit::Rgba colour = {};
};

/// A canvas size.
struct CanvasSize {
    std::int32_t width = 0;
    std::int32_t height = 0;
};

/// The canvas size `request` gives an image of width x height; nullopt when a side of either is
/// below 1 or the mode is unknown.
[[nodiscard]] std::optional<CanvasSize> measureCanvas(const CanvasRequest& request, int width,
                                                      int height);

/// Places the image on a canvas of the requested size. The canvas is 32-bit, transparent under
/// the margins before they are filled, when the image is 32-bit or the mode is Transparent;
/// otherwise 24-bit. When the size does not change the image stays as it is. False for an empty
/// image, an unknown mode, a size beyond the image limit or no memory; the image is then
/// unchanged.
[[nodiscard]] bool extendCanvas(toolkit::Image& image, const CanvasRequest& request);

} // namespace quill::pipeline
