// The exact Mitchell–Netravali reduction the resampler tests and quality benchmarks judge by:
// double precision, pixel centres aligned, the filter widened by the reduction factor.
#pragma once

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace quill::test {

/// The Mitchell–Netravali filter with B = C = 1/3.
inline double mitchell(double x) {
    const double b = 1.0 / 3.0, c = 1.0 / 3.0, t = std::fabs(x);
    if (t < 1.0)
        return ((12 - 9 * b - 6 * c) * t * t * t + (-18 + 12 * b + 6 * c) * t * t + (6 - 2 * b)) /
               6;
    if (t < 2.0)
        return ((-b - 6 * c) * t * t * t + (6 * b + 30 * c) * t * t + (-12 * b - 48 * c) * t +
                (8 * b + 24 * c)) /
               6;
    return 0.0;
}

/// For each of `dst` samples along one axis, the source indices and normalised weights of the
/// exact reduction from `src` samples (weights past the edges left out, the rest renormalised).
inline std::vector<std::vector<std::pair<int, double>>> exactTaps(int src, int dst) {
    const double scale = double(dst) / src;
    const double support = scale < 1 ? 2.0 / scale : 2.0;
    const double stretch = scale < 1 ? scale : 1.0;
    auto all = std::vector<std::vector<std::pair<int, double>>>(std::size_t(dst));
    for (int i = 0; i < dst; ++i) {
        const double centre = (i + 0.5) / scale - 0.5;
        double sum = 0;
        for (int j = std::max(0, int(std::floor(centre - support)));
             j <= std::min(src - 1, int(std::ceil(centre + support))); ++j) {
            all[std::size_t(i)].emplace_back(j, mitchell((centre - j) * stretch));
            sum += all[std::size_t(i)].back().second;
        }
        for (auto& tap : all[std::size_t(i)])
            tap.second /= sum;
    }
    return all;
}

} // namespace quill::test
