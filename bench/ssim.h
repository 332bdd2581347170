// Structural similarity of two pictures of the same size, on their luma, as the quality-mapping
// benchmarks measure it: 8 x 8 windows stepped by 4 pixels, the usual constants for 8-bit samples
// (K1 = 0.01, K2 = 0.03), the mean over all windows. 1.0 means identical.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "toolkit/image.h"

namespace quill::bench {

/// Luma (BT.601 weights) of a 24- or 32-bit view, one double a pixel, top row first. Alpha is
/// ignored: the benchmarks compare opaque photographs.
inline std::vector<double> lumaOf(const toolkit::ImageView& view) {
    std::vector<double> luma(std::size_t(view.width) * std::size_t(view.height));
    const int bpp = toolkit::bytesPerPixel(view.format);
    for (int y = 0; y < view.height; ++y) {
        const std::uint8_t* row = view.row(y);
        for (int x = 0; x < view.width; ++x) {
            const std::uint8_t* p = row + std::size_t(x) * std::size_t(bpp);
            luma[std::size_t(y) * std::size_t(view.width) + std::size_t(x)] =
                0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
        }
    }
    return luma;
}

/// SSIM of two views of equal size; 0 when the sizes differ or the pictures are smaller than a
/// window.
inline double ssim(const toolkit::ImageView& a, const toolkit::ImageView& b) {
    constexpr int kWindow = 8;
    constexpr int kStep = 4;
    constexpr double kC1 = (0.01 * 255) * (0.01 * 255);
    constexpr double kC2 = (0.03 * 255) * (0.03 * 255);
    if (a.width != b.width || a.height != b.height || a.width < kWindow || a.height < kWindow)
        return 0.0;
    const std::vector<double> la = lumaOf(a);
    const std::vector<double> lb = lumaOf(b);
    const auto at = [&](const std::vector<double>& l, int x, int y) {
        return l[std::size_t(y) * std::size_t(a.width) + std::size_t(x)];
    };
    double total = 0.0;
    std::size_t windows = 0;
    for (int y0 = 0; y0 + kWindow <= a.height; y0 += kStep) {
        for (int x0 = 0; x0 + kWindow <= a.width; x0 += kStep) {
            double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
            for (int y = y0; y < y0 + kWindow; ++y) {
                for (int x = x0; x < x0 + kWindow; ++x) {
                    const double va = at(la, x, y);
                    const double vb = at(lb, x, y);
                    sa += va;
                    sb += vb;
                    saa += va * va;
                    sbb += vb * vb;
                    sab += va * vb;
                }
            }
            constexpr double n = kWindow * kWindow;
            const double ma = sa / n;
            const double mb = sb / n;
            const double va = saa / n - ma * ma;
            const double vb = sbb / n - mb * mb;
            const double cov = sab / n - ma * mb;
            total += ((2 * ma * mb + kC1) * (2 * cov + kC2)) /
                     ((ma * ma + mb * mb + kC1) * (va + vb + kC2));
            ++windows;
        }
    }
    return windows ? total / double(windows) : 0.0;
}

} // namespace quill::bench
