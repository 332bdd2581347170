// Small helpers for the image-operation tests: building images pixel by pixel, reading pixels,
// PPM files for the command-line comparisons, and PSNR.
#pragma once

#include <array>
#include <cmath>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "test_support.h"
#include "toolkit/image.h"

namespace quill::test {

/// Blue, green, red, alpha (alpha 255 for 24-bit pixels).
using Bgra = std::array<std::uint8_t, 4>;

inline toolkit::Image makeImage(int w, int h, toolkit::PixelFormat format,
                                const std::function<Bgra(int, int)>& pixel) {
    toolkit::Image image(w, h, format);
    const int bpp = image.bytesPerPixel();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Bgra p = pixel(x, y);
            std::memcpy(image.row(y) + std::size_t(x) * std::size_t(bpp), p.data(),
                        std::size_t(bpp));
        }
    return image;
}

inline toolkit::Image solidImage(int w, int h, toolkit::PixelFormat format, Bgra colour) {
    return makeImage(w, h, format, [&](int, int) { return colour; });
}

inline Bgra pixelAt(const toolkit::Image& image, int x, int y) {
    const std::uint8_t* p = image.row(y) + std::size_t(x) * std::size_t(image.bytesPerPixel());
    return {p[0], p[1], p[2], image.hasAlpha() ? p[3] : std::uint8_t(255)};
}

/// A pixel value that differs for every position of a small image (and in every channel).
inline Bgra uniquePixel(int x, int y) {
    return {std::uint8_t(x * 7 + y), std::uint8_t(y * 5 + 3), std::uint8_t(x + y * 11),
            std::uint8_t(255 - x - y)};
}

/// True when both images have the same size, format and pixel bytes (row padding ignored).
inline bool samePixels(const toolkit::Image& a, const toolkit::Image& b) {
    if (a.width() != b.width() || a.height() != b.height() || a.format() != b.format())
        return false;
    const std::size_t bytes = std::size_t(a.width()) * std::size_t(a.bytesPerPixel());
    for (int y = 0; y < a.height(); ++y)
        if (std::memcmp(a.row(y), b.row(y), bytes) != 0) return false;
    return true;
}

/// Reads a binary 8-bit PPM (P6) into a 24-bit image; empty on any problem.
inline toolkit::Image readPpm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    // Header fields separated by white space, with "#" comments up to the end of a line.
    auto field = [&in]() {
        std::string token;
        while (in && token.empty()) {
            const int c = in.get();
            if (c == '#') {
                std::string comment;
                std::getline(in, comment);
            } else if (c != EOF && !std::isspace(c)) {
                token += char(c);
                while (in && !std::isspace(in.peek())) token += char(in.get());
            }
        }
        return token;
    };
    const std::string magic = field();
    const int w = std::atoi(field().c_str());
    const int h = std::atoi(field().c_str());
    const int maxval = std::atoi(field().c_str());
    in.get();
    if (!in || magic != "P6" || maxval != 255) return {};
    toolkit::Image image(w, h, toolkit::PixelFormat::Bgr24);
    if (image.empty()) return {};
    std::string row(std::size_t(w) * 3, '\0');
    for (int y = 0; y < h; ++y) {
        if (!in.read(row.data(), std::streamsize(row.size()))) return {};
        std::uint8_t* d = image.row(y);
        for (int x = 0; x < w; ++x) {
            d[x * 3 + 0] = std::uint8_t(row[std::size_t(x) * 3 + 2]);
            d[x * 3 + 1] = std::uint8_t(row[std::size_t(x) * 3 + 1]);
            d[x * 3 + 2] = std::uint8_t(row[std::size_t(x) * 3 + 0]);
        }
    }
    return image;
}

/// Writes the colour channels of a 24- or 32-bit image as a binary PPM (P6).
inline bool writePpm(const std::string& path, const toolkit::Image& image) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "P6\n" << image.width() << " " << image.height() << "\n255\n";
    const int bpp = image.bytesPerPixel();
    std::string row(std::size_t(image.width()) * 3, '\0');
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* s = image.row(y);
        for (int x = 0; x < image.width(); ++x) {
            row[std::size_t(x) * 3 + 0] = char(s[x * bpp + 2]);
            row[std::size_t(x) * 3 + 1] = char(s[x * bpp + 1]);
            row[std::size_t(x) * 3 + 2] = char(s[x * bpp + 0]);
        }
        out.write(row.data(), std::streamsize(row.size()));
    }
    return bool(out);
}

/// Decodes a sample file with ImageMagick into a 24-bit image (empty when that fails).
inline toolkit::Image decodeWithImageMagick(const std::string& path, const TempDir& dir) {
    const std::string ppm = dir.file("decoded.ppm");
    const std::string cmd = "/usr/bin/convert " + shellQuote(path) + " -strip -depth 8 " +
                            shellQuote("ppm:" + ppm) + " 2>/dev/null";
    if (runCommand(cmd) != 0) return {};
    return readPpm(ppm);
}

/// PSNR in dB over the colour channels of two images of the same size.
inline double psnr(const toolkit::Image& a, const toolkit::Image& b) {
    double sum = 0.0;
    std::size_t n = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const Bgra p = pixelAt(a, x, y);
            const Bgra q = pixelAt(b, x, y);
            for (int c = 0; c < 3; ++c) {
                const double d = double(p[std::size_t(c)]) - double(q[std::size_t(c)]);
                sum += d * d;
                ++n;
            }
        }
    if (sum == 0.0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

} // namespace quill::test
