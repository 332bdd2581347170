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

} // namespace

bool extendCanvas(CanvasRequest& request) {
    const bool haveImage = request.image && !request.image->empty();
    if (!haveImage && !request.measureOnly) return false;
    if (request.mode > 2) return false;
    const int w = haveImage ? request.image->width() : request.knownWidth;
    const int h = haveImage ? request.image->height() : request.knownHeight;
    if (w <= 0 || h <= 0) return false;

    const int newW = request.sizeMode == 0 ? std::max(request.width, w) : request.width;
    const int newH = request.sizeMode == 0 ? std::max(request.height, h) : request.height;
    if (newW <= 0 || newH <= 0) return false;
    if (request.measureOnly || (newW == w && newH == h)) {
        request.newWidth = newW;
        request.newHeight = newH;
        return true;
    }

    const Image& image = *request.image;
    const auto mode = CanvasMode(request.mode);
    const bool alpha = image.hasAlpha() || mode == CanvasMode::Transparent;
    const PixelFormat format = alpha ? PixelFormat::Bgra32 : PixelFormat::Bgr24;
    const int bpp = alpha ? 4 : 3;
    if (!Image::sizeAllowed(newW, newH, format)) return false;
    Image canvas(newW, newH, format); // all bytes zero: transparent black
    if (canvas.empty()) return false;

    // Offset of the image on the canvas; negative when an exact size cuts the image.
    const int x0 = request.position == kCanvasTopLeft ? 0 : (newW - w) / 2;
    const int y0 = request.position == kCanvasTopLeft ? 0 : (newH - h) / 2;
    // The canvas columns and rows that the image covers.
    const int left = std::clamp(x0, 0, newW);
    const int right = std::clamp(x0 + w, 0, newW);
    const int top = std::clamp(y0, 0, newH);
    const int bottom = std::clamp(y0 + h, 0, newH);

    std::uint8_t colour[4] = {request.colour.blue(), request.colour.green(), request.colour.red(),
                              255};
    for (int y = 0; y < newH; ++y) {
        std::uint8_t* row = canvas.row(y);
        const bool imageRow = y >= top && y < bottom;
        if (mode == CanvasMode::EdgeExtension) {
            // Every canvas pixel takes the nearest image pixel: corners the corner pixels, bands
            // above and below the top or bottom pixel of their column, bands beside the first or
            // last pixel of their row.
            const int sy = std::clamp(y - y0, 0, h - 1);
            std::uint8_t pixel[4];
            readPixel(image, std::clamp(-x0, 0, w - 1), sy, bpp, pixel);
            fillRun(row, left, pixel, bpp);
            if (right > left)
                copyRun(image, sy, left - x0, right - x0, bpp, row + std::size_t(left) * bpp);
            readPixel(image, std::clamp(newW - 1 - x0, 0, w - 1), sy, bpp, pixel);
            fillRun(row + std::size_t(right) * bpp, newW - right, pixel, bpp);
            continue;
        }
        if (imageRow && right > left)
            copyRun(image, y - y0, left - x0, right - x0, bpp, row + std::size_t(left) * bpp);
        if (mode == CanvasMode::Colour) {
            if (!imageRow) {
                fillRun(row, newW, colour, bpp);
            } else {
                fillRun(row, left, colour, bpp);
                fillRun(row + std::size_t(right) * bpp, newW - right, colour, bpp);
            }
        }
    }

    *request.image = std::move(canvas);
    request.newWidth = newW;
    request.newHeight = newH;
    return true;
}

} // namespace quill::pipeline
