// A synthetic photo for the window benchmarks: 4000 x 3000 with texture, so that its JPEG has a
// realistic size and decoding cost.
#pragma once

#include <cstdint>
#include <random>

#include "toolkit/image.h"

namespace quill::bench {

inline toolkit::Image texturedPhoto(unsigned seed) {
    toolkit::Image image(4000, 3000, toolkit::PixelFormat::Bgr24);
    std::minstd_rand noise(seed);
    for (int y = 0; y < image.height(); ++y) {
        std::uint8_t* row = image.row(y);
        for (int x = 0; x < image.width(); ++x) {
            row[3 * x] = std::uint8_t(x / 16 + noise() % 24);
            row[3 * x + 1] = std::uint8_t(y / 12 + noise() % 24);
            row[3 * x + 2] = std::uint8_t((x + y) / 28 + seed * 40);
        }
    }
    return image;
}

} // namespace quill::bench
