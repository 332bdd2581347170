// Rotating the working image by a multiple of 90 degrees, mirroring and transposing it.
#include "pipeline/rotate.h"

#include <algorithm>
#include <cstring>

namespace quill::pipeline {

using toolkit::Image;

namespace {

template <int Bpp> inline void copyPixel(std::uint8_t* dst, const std::uint8_t* src) {
    std::memcpy(dst, src, Bpp);
}

/// Modes that keep the size: every destination row comes from one source row, read forwards or
/// backwards.
template <int Bpp> void flipRows(const Image& src, Image& dst, bool mirrorX, bool mirrorY) {
    const int w = src.width();
    const int h = src.height();
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* s = src.row(mirrorY ? h - 1 - y : y);
        std::uint8_t* d = dst.row(y);
        if (!mirrorX) {
            std::memcpy(d, s, std::size_t(w) * Bpp);
            continue;
        }
        s += std::size_t(w - 1) * Bpp;
        for (int x = 0; x < w; ++x, d += Bpp, s -= Bpp)
            copyPixel<Bpp>(d, s);
    }
}

/// Modes that swap width and height: destination row y reads source column y (or W - 1 - y),
/// destination column x reads source row x (or H - 1 - x). The work goes in square tiles so
/// that both images are touched a cache line at a time.
template <int Bpp>
void transposeTiles(const Image& src, Image& dst, bool flipColumn, bool flipRow) {
    constexpr int kTile = 32;
    const int srcW = src.width();
    const int srcH = src.height();
    const int dstW = dst.width();  // == srcH
    const int dstH = dst.height(); // == srcW
    for (int ty = 0; ty < dstH; ty += kTile) {
        const int yEnd = std::min(ty + kTile, dstH);
        for (int tx = 0; tx < dstW; tx += kTile) {
            const int xEnd = std::min(tx + kTile, dstW);
            for (int y = ty; y < yEnd; ++y) {
                const std::size_t sx = std::size_t(flipColumn ? srcW - 1 - y : y) * Bpp;
                std::uint8_t* d = dst.row(y) + std::size_t(tx) * Bpp;
                for (int x = tx; x < xEnd; ++x, d += Bpp) {
                    const int sy = flipRow ? srcH - 1 - x : x;
                    copyPixel<Bpp>(d, src.row(sy) + sx);
                }
            }
        }
    }
}

template <int Bpp> void rotateInto(const Image& src, Image& dst, RotateMode mode) {
    switch (mode) {
    case RotateMode::CounterClockwise90:
        transposeTiles<Bpp>(src, dst, true, false);
        break;
    case RotateMode::Clockwise90:
        transposeTiles<Bpp>(src, dst, false, true);
        break;
    case RotateMode::Rotate180:
        flipRows<Bpp>(src, dst, true, true);
        break;
    case RotateMode::MirrorLeftRight:
        flipRows<Bpp>(src, dst, true, false);
        break;
    case RotateMode::MirrorTopBottom:
        flipRows<Bpp>(src, dst, false, true);
        break;
    case RotateMode::Transpose:
        transposeTiles<Bpp>(src, dst, false, false);
        break;
    case RotateMode::Transverse:
        transposeTiles<Bpp>(src, dst, true, true);
        break;
    case RotateMode::Upright: // refused by rotateImage
        break;
    }
}

} // namespace

std::optional<RotateMode> uprightTurn(std::int32_t orientation) {
    // The EXIF orientation says how the stored rows and columns are to be shown; the turn that
    // shows them so is its inverse (orientations 6 and 8 are each other's).
    switch (orientation) {
    case 2:
        return RotateMode::MirrorLeftRight;
    case 3:
        return RotateMode::Rotate180;
    case 4:
        return RotateMode::MirrorTopBottom;
    case 5:
        return RotateMode::Transpose;
    case 6:
        return RotateMode::Clockwise90;
    case 7:
        return RotateMode::Transverse;
    case 8:
        return RotateMode::CounterClockwise90;
    default:
        return std::nullopt;
    }
}

Image rotateImage(const Image& image, RotateMode mode) {
    if (image.empty()) return {};
    const int m = int(mode);
    if (m < 0 || m > 6) return {};
    const bool swaps = mode == RotateMode::CounterClockwise90 || mode == RotateMode::Clockwise90 ||
                       mode == RotateMode::Transpose || mode == RotateMode::Transverse;
    Image out(swaps ? image.height() : image.width(), swaps ? image.width() : image.height(),
              image.format());
    if (out.empty()) return {};
    if (image.bytesPerPixel() == 4)
        rotateInto<4>(image, out, mode);
    else
        rotateInto<3>(image, out, mode);
    return out;
}

} // namespace quill::pipeline
