// Cutting fixed margins off the working image and trimming uniform borders automatically.
#include "pipeline/crop_trim.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace quill::pipeline {

using toolkit::Image;

namespace {

/// Copies a rectangle that lies inside `image` into a new image of the same format.
Image copyRect(const Image& image, int x, int y, int w, int h) {
    Image out(w, h, image.format());
    if (out.empty()) return {};
    const std::size_t bpp = std::size_t(image.bytesPerPixel());
    for (int row = 0; row < h; ++row)
        std::memcpy(out.row(row), image.row(y + row) + std::size_t(x) * bpp, std::size_t(w) * bpp);
    return out;
}

/// Rounds half away from zero; values beyond the int range saturate.
int roundToInt(double value) {
    const double r = std::round(value);
    if (r >= double(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    if (r <= double(std::numeric_limits<int>::min())) return std::numeric_limits<int>::min();
    return int(r);
}

/// A pixel as one number: blue, green, red, alpha from the low byte up. 24-bit pixels get an
/// opaque alpha so that the alpha channel always compares as equal for them.
inline std::uint32_t pixelKey(const std::uint8_t* p, bool hasAlpha) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(hasAlpha ? p[3] : 255) << 24);
}

/// The background test of one side: its colour and the per-channel tolerance.
struct Background {
    std::uint32_t key = 0;
    int channel[4] = {};
    int tolerance = 0;

    /// True when the pixel is not the background colour and a channel differs by more than the
    /// tolerance.
    [[nodiscard]] bool isOutlier(std::uint32_t pixel) const {
        if (pixel == key) return false;
        for (int c = 0; c < 4; ++c) {
            const int v = int((pixel >> (8 * c)) & 0xFF);
            if (std::abs(v - channel[c]) > tolerance) return true;
        }
        return false;
    }
};

/// The most frequent colour of a line of pixels; among equally frequent colours the one with
/// the lowest key wins, so the choice does not depend on pixel order.
std::uint32_t mostFrequent(std::vector<std::uint32_t>& keys) {
    std::sort(keys.begin(), keys.end());
    std::uint32_t best = keys.front();
    std::size_t bestCount = 0;
    for (std::size_t i = 0; i < keys.size();) {
        std::size_t j = i;
        while (j < keys.size() && keys[j] == keys[i])
            ++j;
        if (j - i > bestCount) {
            bestCount = j - i;
            best = keys[i];
        }
        i = j;
    }
    return best;
}

Background columnBackground(const Image& image, int x, int tolerance) {
    const bool alpha = image.hasAlpha();
    const std::size_t offset = std::size_t(x) * std::size_t(image.bytesPerPixel());
    std::vector<std::uint32_t> keys(std::size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        keys[std::size_t(y)] = pixelKey(image.row(y) + offset, alpha);
    Background bg;
    bg.key = mostFrequent(keys);
    for (int c = 0; c < 4; ++c)
        bg.channel[c] = int((bg.key >> (8 * c)) & 0xFF);
    bg.tolerance = tolerance;
    return bg;
}

Background rowBackground(const Image& image, int y, int tolerance) {
    const bool alpha = image.hasAlpha();
    const int bpp = image.bytesPerPixel();
    std::vector<std::uint32_t> keys(std::size_t(image.width()));
    const std::uint8_t* p = image.row(y);
    for (int x = 0; x < image.width(); ++x, p += bpp)
        keys[std::size_t(x)] = pixelKey(p, alpha);
    Background bg;
    bg.key = mostFrequent(keys);
    for (int c = 0; c < 4; ++c)
        bg.channel[c] = int((bg.key >> (8 * c)) & 0xFF);
    bg.tolerance = tolerance;
    return bg;
}

int countRowOutliers(const Image& image, int y, const Background& bg) {
    const bool alpha = image.hasAlpha();
    const int bpp = image.bytesPerPixel();
    const std::uint8_t* p = image.row(y);
    int count = 0;
    for (int x = 0; x < image.width(); ++x, p += bpp)
        count += bg.isOutlier(pixelKey(p, alpha));
    return count;
}

/// Counts the outliers of the columns [first, first + n) in one pass over the rows, so that the
/// column scans read memory row by row instead of jumping a whole row per pixel.
void countColumnOutliers(const Image& image, int first, int n, const Background& bg, int* counts) {
    const bool alpha = image.hasAlpha();
    const int bpp = image.bytesPerPixel();
    std::fill(counts, counts + n, 0);
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* p = image.row(y) + std::size_t(first) * std::size_t(bpp);
        for (int i = 0; i < n; ++i, p += bpp)
            counts[i] += bg.isOutlier(pixelKey(p, alpha));
    }
}

constexpr int kNoEdge = std::numeric_limits<int>::min();
constexpr int kColumnStrip = 16;

/// The side of the image a scan starts from: left or top (Near), right or bottom (Far).
enum class Side : bool { Near, Far };

/// Scans columns from one side until one holds more than `allowance` outliers. Returns that
/// column or kNoEdge; `counts` receives the count of every column scanned.
int scanColumns(const Image& image, const Background& bg, int allowance, Side side,
                std::vector<int>& counts) {
    const bool fromLeft = side == Side::Near;
    const int w = image.width();
    counts.assign(std::size_t(w), 0);
    int strip[kColumnStrip];
    for (int done = 0; done < w; done += kColumnStrip) {
        const int n = std::min(kColumnStrip, w - done);
        const int first = fromLeft ? done : w - done - n;
        countColumnOutliers(image, first, n, bg, strip);
        for (int i = 0; i < n; ++i) {
            const int x = fromLeft ? first + i : first + n - 1 - i;
            const int count = strip[x - first];
            if (count > allowance) return x;
            counts[std::size_t(x)] = count;
        }
    }
    return kNoEdge;
}

int scanRows(const Image& image, const Background& bg, int allowance, Side side,
             std::vector<int>& counts) {
    const bool fromTop = side == Side::Near;
    const int h = image.height();
    counts.assign(std::size_t(h), 0);
    for (int i = 0; i < h; ++i) {
        const int y = fromTop ? i : h - 1 - i;
        const int count = countRowOutliers(image, y, bg);
        if (count > allowance) return y;
        counts[std::size_t(y)] = count;
    }
    return kNoEdge;
}

/// The fallback for a side whose scan found no line above the allowance: walks the remembered
/// counts from the opposite side towards this one and takes each line whose count beats every
/// count seen before. With an edge on the opposite side the walk ends at the first line that
/// does not beat it.
int edgeFromCounts(const std::vector<int>& counts, Side side, bool oppositeHasEdge) {
    const bool walkDown = side == Side::Near;
    const int n = int(counts.size());
    int edge = kNoEdge;
    int best = 0;
    for (int i = 0; i < n; ++i) {
        const int line = walkDown ? n - 1 - i : i;
        if (counts[std::size_t(line)] > best) {
            best = counts[std::size_t(line)];
            edge = line;
        } else if (oppositeHasEdge) {
            break;
        }
    }
    return edge;
}

/// Widens a span to the minimum size around its middle, then moves it inside [0, size).
void fitSpan(int& start, int& length, int minimum, int size) {
    if (length < minimum) {
        start += (length - minimum) / 2;
        length = minimum;
    }
    if (start < 0) start = 0;
    if (start + length > size - 1) start = size - length;
    // A span wider than the image (possible when one side found no edge and counts as -1, or a
    // minimum share above 1) would start before the image: keep it to the image instead of
    // reading outside it.
    if (length > size) length = size;
    if (start < 0) start = 0;
}

} // namespace

Image cropMargins(const Image& image, int left, int top, int right, int bottom) {
    if (image.empty() || left < 0 || top < 0 || right < 0 || bottom < 0) return {};
    const long long w = (long long)image.width() - left - right;
    const long long h = (long long)image.height() - top - bottom;
    if (w <= 0 || h <= 0) return {};
    return copyRect(image, left, top, int(w), int(h));
}

Image autoTrim(const Image& image, const TrimOptions& options) {
    if (image.empty()) return {};
    if (!options.left && !options.right && !options.top && !options.bottom) return {};
    const int w = image.width();
    const int h = image.height();
    if (w < 6 || h < 6) return {};
    if (!std::isfinite(options.colorTolerance) || !std::isfinite(options.outlierShare) ||
        !std::isfinite(options.minimumShare))
        return {};

    const int tolerance = roundToInt(255.0 * options.colorTolerance);
    const int columnAllowance = roundToInt(h * options.outlierShare);
    const int rowAllowance = roundToInt(w * options.outlierShare);
    // A minimum beyond the whole side means the whole side.
    const int minW = std::min(roundToInt(w * options.minimumShare), w);
    const int minH = std::min(roundToInt(h * options.minimumShare), h);

    std::vector<int> leftCounts, rightCounts, topCounts, bottomCounts;
    int left = 0, right = w, top = 0, bottom = h;
    if (options.left) {
        const Background bg = columnBackground(image, 0, tolerance);
        left = scanColumns(image, bg, columnAllowance, Side::Near, leftCounts);
    }
    if (options.right) {
        const Background bg = columnBackground(image, w - 1, tolerance);
        right = scanColumns(image, bg, columnAllowance, Side::Far, rightCounts);
        if (right != kNoEdge) right += 1;
    }
    if (options.top) {
        const Background bg = rowBackground(image, 0, tolerance);
        top = scanRows(image, bg, rowAllowance, Side::Near, topCounts);
    }
    if (options.bottom) {
        const Background bg = rowBackground(image, h - 1, tolerance);
        bottom = scanRows(image, bg, rowAllowance, Side::Far, bottomCounts);
        if (bottom != kNoEdge) bottom += 1;
    }

    if (left == kNoEdge) left = edgeFromCounts(leftCounts, Side::Near, right != kNoEdge);
    if (right == kNoEdge) right = edgeFromCounts(rightCounts, Side::Far, left != kNoEdge);
    if (top == kNoEdge) top = edgeFromCounts(topCounts, Side::Near, bottom != kNoEdge);
    if (bottom == kNoEdge) bottom = edgeFromCounts(bottomCounts, Side::Far, top != kNoEdge);
    if (left == kNoEdge) left = -1;
    if (right == kNoEdge) right = -1;
    if (top == kNoEdge) top = -1;
    if (bottom == kNoEdge) bottom = -1;

    int x = left, rw = right - left;
    int y = top, rh = bottom - top;
    fitSpan(x, rw, minW, w);
    fitSpan(y, rh, minH, h);
    if (rw <= 0 || rh <= 0) return {};
    return copyRect(image, x, y, rw, rh);
}

} // namespace quill::pipeline
