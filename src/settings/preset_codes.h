// The named codes of the preset record: each enumerator has the value stored in the settings file.
#pragma once

#include <cstdint>

namespace quill::settings {

/// `cropMode`: what the crop step cuts.
enum class CropMode : std::uint8_t {
    Margins = 0, ///< fixed margins
    Trim = 1,    ///< automatic trim of uniform borders
};

/// `resizeMode`: how the target size is given.
enum class ResizeMode : std::uint8_t {
    Pixels = 0,  ///< width and height in pixels
    Percent = 1, ///< a percentage of the image size
};

/// `resizeLimits`: a bit set of the directions a resize may go; None is out of range in pixel
/// mode.
enum class ResizeLimits : std::uint8_t {
    None = 0,
    ShrinkOnly = 1,  ///< only make images smaller
    EnlargeOnly = 2, ///< only make images larger
    Both = 3,        ///< either direction
};

/// `canvasMode`: what fills the added area of the canvas.
enum class CanvasMode : std::uint8_t {
    Colour = 0,        ///< `canvasColor` (opaque on a 32-bit canvas)
    Transparent = 1,   ///< fully transparent; the canvas becomes 32-bit
    EdgeExtension = 2, ///< the nearest edge pixel of the image
};

/// `overlayKind`: what the overlay step lays over the image.
enum class OverlayKind : std::uint8_t {
    Text = 0,
    Image = 1,
};

/// `overlayTextAlign`: alignment of the text lines inside the text block.
enum class TextAlign : std::uint8_t {
    Left = 0,
    Centre = 1,
    Right = 2,
};

/// `overlayHorizontalAlign` and `overlayVerticalAlign`: where the overlay sits on one axis.
enum class OverlayAlign : std::uint8_t {
    Start = 0,  ///< from the left or top edge by the margin
    Centre = 1, ///< centred; the margin is not used
    End = 2,    ///< from the right or bottom edge by the margin
};

/// `sortKey`: the image property the list is sorted by.
enum class SortKey : std::uint8_t {
    Random = 0,
    FileName = 1,
    FileSize = 2,
    ImageDate = 3,
    Width = 4,
    Height = 5,
    PixelCount = 6,
    AspectRatio = 7,
    ColourCount = 8,
    Brightness = 9,
};

/// `fileDateSource`: which dates the output file gets.
enum class FileDateSource : std::uint8_t {
    Own = 0,       ///< the source's own three dates
    Fixed = 1,     ///< `fixedFileDate` for all three
    ImageDate = 2, ///< the image date for all three
    Shifted = 3,   ///< the source's dates shifted by `fileDateShiftMinutes`
};

/// `outputFormat`: the format written when `convertFormat` is on.
enum class OutputFormat : std::uint8_t {
    Jpeg = 0,
    Png = 1,
    Bmp = 2,
    Jpeg2000 = 3,
    Pdf = 4, ///< a one-page PDF wrapping a JPEG
    Webp = 5,
    Avif = 6,
    JpegXl = 7,
    Tiff = 8,
};

/// `colorDepth`: bits per pixel of the output.
enum class ColorDepth : std::uint8_t {
    Bits1 = 0,
    Bits4 = 1,
    Bits8 = 2,
    Bits24 = 3,
    Bits32 = 4,
};

} // namespace quill::settings
