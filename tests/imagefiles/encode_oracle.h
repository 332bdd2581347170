// Independent checks for written image files: decoding through ImageMagick, identify's view of a
// file, and picture-difference measures.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "test_support.h"
#include "toolkit/image.h"

namespace quill::test {

inline bool haveImageMagick() {
    return haveTool("/usr/bin/convert") && haveTool("/usr/bin/identify");
}

/// identify's answer for a format string (first frame).
inline std::string identify(const std::string &path, const std::string &format) {
    std::string output;
    runCommand("/usr/bin/identify -format " + shellQuote(format) + " " + shellQuote(path) +
                   "'[0]' 2>/dev/null",
               &output);
    return output;
}

/// Decodes any file ImageMagick reads into a 24- or 32-bit image; empty on failure.
inline toolkit::Image decodeWithImageMagick(const std::string &path, bool withAlpha) {
    std::istringstream size(identify(path, "%w %h"));
    int width = 0, height = 0;
    size >> width >> height;
    if (width <= 0 || height <= 0) return {};
    std::string raw;
    runCommand("/usr/bin/convert " + shellQuote(path) + "'[0]' -depth 8 " +
                   (withAlpha ? "bgra:-" : "bgr:-") + " 2>/dev/null",
               &raw);
    const auto format = withAlpha ? toolkit::PixelFormat::Bgra32 : toolkit::PixelFormat::Bgr24;
    const std::size_t bpp = withAlpha ? 4 : 3;
    if (raw.size() != std::size_t(width) * std::size_t(height) * bpp) return {};
    toolkit::Image image(width, height, format);
    for (int y = 0; y < height; ++y)
        std::copy_n(raw.data() + std::size_t(y) * std::size_t(width) * bpp,
                    std::size_t(width) * bpp, image.row(y));
    return image;
}

/// Peak signal-to-noise ratio over the colour channels (or all channels with `includeAlpha`).
inline double psnr(const toolkit::Image &a, const toolkit::Image &b, bool includeAlpha = false) {
    if (a.width() != b.width() || a.height() != b.height()) return 0;
    double sum = 0;
    std::size_t count = 0;
    const int channels = includeAlpha ? 4 : 3;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const std::uint8_t *p = a.row(y) + x * a.bytesPerPixel();
            const std::uint8_t *q = b.row(y) + x * b.bytesPerPixel();
            for (int c = 0; c < channels; ++c) {
                const double d = double(p[c]) - double(q[c]);
                sum += d * d;
                ++count;
            }
        }
    }
    if (sum == 0) return 99;
    return 10 * std::log10(255.0 * 255.0 / (sum / double(count)));
}

/// True when both images hold the same pixels in the same format.
inline bool samePixels(const toolkit::Image &a, const toolkit::Image &b) {
    if (a.width() != b.width() || a.height() != b.height() || a.format() != b.format())
        return false;
    const std::size_t rowBytes = std::size_t(a.width()) * std::size_t(a.bytesPerPixel());
    for (int y = 0; y < a.height(); ++y)
        if (!std::equal(a.row(y), a.row(y) + rowBytes, b.row(y))) return false;
    return true;
}

/// A decoded photograph from the shared test data (24-bit).
inline toolkit::Image photograph(const std::string &relative) {
    return decodeWithImageMagick(testdata(relative), false);
}

} // namespace quill::test
