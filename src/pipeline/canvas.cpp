// Enlarging the canvas around the working image with a colour, transparency or the image's own
// edge pixels.
#include "pipeline/canvas.h"

#include <algorithm>
#include <cstring>

namespace quill::pipeline {

using toolkit::Image;
using toolkit::PixelFormat;

namespace {

/// Writes the pixel bytes of `image` at (x, y) into `out` in the canvas format.
inline void readPixel(const Image& image, int x, int y, int outBpp, std::uint8_t* out) {
    const std::uint8_t* p = image.row(y) + std::size_t(x) * std::size_t(image.bytesPerPixel());
    out[0] = p[0];
    out[1] = p[1];
    out[2] = p[2];
    if (outBpp == 4) out[3] = image.hasAlpha() ? p[3] : 255;
}

/// Copies one run of image pixels [x0, x1) of image row `y` to `dst`, converting 24 to 32 bits
/// when the canvas has alpha and the image does not.
void copyRun(const Image& image, int y, int x0, int x1, int outBpp, std::uint8_t* dst) {
    const int inBpp = image.bytesPerPixel();
    const std::uint8_t* s = image.row(y) + std::size_t(x0) * std::size_t(inBpp);
    if (inBpp == outBpp) {
        std::memcpy(dst, s, std::size_t(x1 - x0) * std::size_t(inBpp));
        return;
    }
    for (int x = x0; x < x1; ++x, s += 3, dst += 4) {
        dst[0] = s[0];
        dst[1] = s[1];
        dst[2] = s[2];
        dst[3] = 255;
    }
}

inline void fillRun(std::uint8_t* dst, int count, const std::uint8_t* pixel, int bpp) {
    for (int i = 0; i < count; ++i, dst += bpp)
        std::memcpy(dst, pixel, std::size_t(bpp));
}

/// Where the image lies on the canvas and how the margins are filled.
struct CanvasLayout {
    const Image& image;
    int x0, y0;                   ///< offset of the image; negative when an exact size cuts it
    int left, right, top, bottom; ///< the canvas columns and rows that the image covers
    int bpp;
    CanvasMode mode;
    toolkit::Rgba colour;
};

/// Fills canvas row `y` (`newW` pixels) with the image and the margins.
void fillCanvasRow(const CanvasLayout& l, int y, std::uint8_t* row, int newW) {
    const Image& image = l.image;
    const int w = image.width();
    const int h = image.height();
    const int bpp = l.bpp;
    if (l.mode == CanvasMode::EdgeExtension) {
        // Every canvas pixel takes the nearest image pixel: corners the corner pixels, bands
        // above and below the top or bottom pixel of their column, bands beside the first or
        // last pixel of their row.
        const int sy = std::clamp(y - l.y0, 0, h - 1);
        std::uint8_t pixel[4];
        readPixel(image, std::clamp(-l.x0, 0, w - 1), sy, bpp, pixel);
        fillRun(row, l.left, pixel, bpp);
        if (l.right > l.left)
            copyRun(image, sy, l.left - l.x0, l.right - l.x0, bpp, row + std::size_t(l.left) * bpp);
        readPixel(image, std::clamp(newW - 1 - l.x0, 0, w - 1), sy, bpp, pixel);
        fillRun(row + std::size_t(l.right) * bpp, newW - l.right, pixel, bpp);
        return;
    }
    const bool imageRow = y >= l.top && y < l.bottom;
    if (imageRow && l.right > l.left)
        copyRun(image, y - l.y0, l.left - l.x0, l.right - l.x0, bpp,
                row + std::size_t(l.left) * bpp);
    if (l.mode != CanvasMode::Colour) return;
    const std::uint8_t colour[4] = {l.colour.blue(), l.colour.green(), l.colour.red(), 255};
    if (!imageRow) {
        fillRun(row, newW, colour, bpp);
    } else {
        fillRun(row, l.left, colour, bpp);
        fillRun(row + std::size_t(l.right) * bpp, newW - l.right, colour, bpp);
    }
}

} // namespace

std::optional<CanvasSize> measureCanvas(const CanvasRequest& request, int w, int h) {
    if (std::uint8_t(request.mode) > std::uint8_t(CanvasMode::EdgeExtension)) return std::nullopt;
    if (w <= 0 || h <= 0) return std::nullopt;
    const bool atLeast = request.sizing == CanvasSizing::AtLeast;
    const int newW = atLeast ? std::max(request.width, w) : request.width;
    const int newH = atLeast ? std::max(request.height, h) : request.height;
    if (newW <= 0 || newH <= 0) return std::nullopt;
    return CanvasSize{newW, newH};
}

bool extendCanvas(Image& image, const CanvasRequest& request) {
    if (image.empty()) return false;
    const int w = image.width();
    const int h = image.height();
    const auto size = measureCanvas(request, w, h);
    if (!size) return false;
    const int newW = size->width;
    const int newH = size->height;
    if (newW == w && newH == h) return true;

    const CanvasMode mode = request.mode;
    const bool alpha = image.hasAlpha() || mode == CanvasMode::Transparent;
    const PixelFormat format = alpha ? PixelFormat::Bgra32 : PixelFormat::Bgr24;
    const int bpp = alpha ? 4 : 3;
    if (!Image::sizeAllowed(newW, newH, format)) return false;
    Image canvas(newW, newH, format); // all bytes zero: transparent black
    if (canvas.empty()) return false;

    // Offset of the image on the canvas; negative when an exact size cuts the image.
    const bool topLeft = request.position == CanvasPosition::TopLeft;
    const int x0 = topLeft ? 0 : (newW - w) / 2;
    const int y0 = topLeft ? 0 : (newH - h) / 2;
    // The canvas columns and rows that the image covers.
    const int left = std::clamp(x0, 0, newW);
    const int right = std::clamp(x0 + w, 0, newW);
    const int top = std::clamp(y0, 0, newH);
    const int bottom = std::clamp(y0 + h, 0, newH);

    const CanvasLayout layout{image, x0, y0, left, right, top, bottom, bpp, mode, request.colour};
    for (int y = 0; y < newH; ++y)
        fillCanvasRow(layout, y, canvas.row(y), newW);

    image = std::move(canvas);
    return true;
}

} // namespace quill::pipeline
