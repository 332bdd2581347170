// Helpers for the image-operation tests: images built pixel by pixel and compared.
#pragma once

#include <array>
#include <cstring>
#include <functional>
#include <string>

#include "toolkit/image.h"

namespace quill::test {

/// Blue, green, red, alpha (alpha 255 for 24-bit pixels).
using Bgra = std::array<std::uint8_t, 4>;

inline toolkit::Image makeImage(int w, int h, toolkit::PixelFormat format,
                                const std::function<Bgra(int, int)>& pixel) {
    toolkit::Image image(w, h, format);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            std::memcpy(image.row(y) + x * image.bytesPerPixel(), pixel(x, y).data(),
                        std::size_t(image.bytesPerPixel()));
    return image;
}

inline Bgra pixelAt(const toolkit::Image& image, int x, int y) {
    const std::uint8_t* p = image.row(y) + x * image.bytesPerPixel();
    return {p[0], p[1], p[2], image.hasAlpha() ? p[3] : std::uint8_t(255)};
}

/// Differs for every position of a small image, in every channel.
inline Bgra uniquePixel(int x, int y) {
    return {std::uint8_t(x * 7 + y), std::uint8_t(y * 5 + 3), std::uint8_t(x + y * 11),
            std::uint8_t(255 - x - y)};
}

/// Number of pixels where `image` differs from expected(x, y); a size mismatch counts all.
inline int countMismatches(const toolkit::Image& image, int w, int h,
                           const std::function<Bgra(int, int)>& expected) {
    if (image.width() != w || image.height() != h) return w * h;
    int n = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            n += pixelAt(image, x, y) != expected(x, y);
    return n;
}

/// The same count against another image.
inline int countMismatches(const toolkit::Image& image, const toolkit::Image& expected) {
    return countMismatches(image, expected.width(), expected.height(),
                           [&](int x, int y) { return pixelAt(expected, x, y); });
}

} // namespace quill::test
