// Palette reduction by variance-based median cut on a sampled histogram, refined by k-means.
//
// Method: the sampled pixels go into a 32x32x32 histogram that also keeps the exact colour sums
// of each cell, so every occupied cell is one weighted colour at full precision. Median cut then
// splits, again and again, the box with the largest squared error, along its channel of largest
// variance, at the point that minimises the summed squared error of the two halves (not simply
// at the median, which wastes colours on flat regions of photographs). Four k-means passes over
// the weighted cells move each palette colour to the mean of the cells nearest to it, which
// recovers the accuracy that fixed box boundaries lose. Pixels are mapped through a 64x64x64
// nearest-colour cache filled on demand; Floyd-Steinberg diffusion runs in serpentine order.
// An image with no more distinct colours than the palette holds keeps its colours exactly.
#include "imagefiles/quantizer.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <new>
#include <unordered_map>
#include <unordered_set>

namespace quill::imagefiles {

namespace {

using toolkit::ImageView;

constexpr int kHistBits = 5;
constexpr int kHistSide = 1 << kHistBits;
constexpr int kCacheBits = 6;
constexpr int kCacheSide = 1 << kCacheBits;
constexpr int kRefinePasses = 4;

struct WeightedColor {
    double c[3] = {0, 0, 0}; // blue, green, red
    double weight = 0;
};

struct Box {
    std::size_t begin = 0;
    std::size_t end = 0;
    double error = 0; // summed squared distance of the box's colours to its mean
    double mean[3] = {0, 0, 0};
};

struct Moments {
    double w = 0;
    double s[3] = {0, 0, 0};
    double q[3] = {0, 0, 0};
    void add(const WeightedColor& e) {
        w += e.weight;
        for (int k = 0; k < 3; ++k) {
            s[k] += e.c[k] * e.weight;
            q[k] += e.c[k] * e.c[k] * e.weight;
        }
    }
    [[nodiscard]] double error() const {
        if (w <= 0) return 0;
        double total = 0;
        for (int k = 0; k < 3; ++k)
            total += q[k] - s[k] * s[k] / w;
        return std::max(total, 0.0);
    }
};

Box makeBox(const std::vector<WeightedColor>& entries, std::size_t begin, std::size_t end) {
    Moments m;
    for (std::size_t i = begin; i < end; ++i)
        m.add(entries[i]);
    Box box{begin, end, m.error(), {0, 0, 0}};
    for (int k = 0; k < 3; ++k)
        box.mean[k] = m.w > 0 ? m.s[k] / m.w : 0;
    return box;
}

// Splits `box` in two at the cut that minimises the halves' summed squared error along its
// channel of largest variance. Returns false when the box holds a single colour.
bool splitBox(std::vector<WeightedColor>& entries, const Box& box, Box& left, Box& right) {
    if (box.end - box.begin < 2) return false;
    Moments all;
    for (std::size_t i = box.begin; i < box.end; ++i)
        all.add(entries[i]);
    int axis = 0;
    double best = -1;
    for (int k = 0; k < 3; ++k) {
        const double variance = all.q[k] - all.s[k] * all.s[k] / all.w;
        if (variance > best) {
            best = variance;
            axis = k;
        }
    }
    const auto first = entries.begin() + std::ptrdiff_t(box.begin);
    const auto last = entries.begin() + std::ptrdiff_t(box.end);
    std::sort(first, last, [axis](const WeightedColor& a, const WeightedColor& b) {
        return a.c[axis] < b.c[axis];
    });
    Moments prefix;
    double bestError = std::numeric_limits<double>::infinity();
    std::size_t cut = box.begin + 1;
    for (std::size_t i = box.begin; i + 1 < box.end; ++i) {
        prefix.add(entries[i]);
        Moments rest;
        rest.w = all.w - prefix.w;
        for (int k = 0; k < 3; ++k) {
            rest.s[k] = all.s[k] - prefix.s[k];
            rest.q[k] = all.q[k] - prefix.q[k];
        }
        const double error = prefix.error() + rest.error();
        if (error < bestError) {
            bestError = error;
            cut = i + 1;
        }
    }
    left = makeBox(entries, box.begin, cut);
    right = makeBox(entries, cut, box.end);
    return true;
}

int nearestIndex(const std::vector<PaletteColor>& palette, int b, int g, int r) {
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const int db = b - palette[i].blue;
        const int dg = g - palette[i].green;
        const int dr = r - palette[i].red;
        const int distance = db * db + dg * dg + dr * dr;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = int(i);
        }
    }
    return best;
}

// Nearest palette colour per 6-bit cell, computed for the cell's centre on first use.
class NearestCache {
public:
    explicit NearestCache(const std::vector<PaletteColor>& palette)
        : m_palette(palette), m_cells(std::size_t(kCacheSide) * kCacheSide * kCacheSide, -1) {}

    int lookup(int b, int g, int r) {
        constexpr int shift = 8 - kCacheBits;
        const std::size_t cell = (std::size_t(b >> shift) << (2 * kCacheBits)) |
                                 (std::size_t(g >> shift) << kCacheBits) | std::size_t(r >> shift);
        std::int16_t& slot = m_cells[cell];
        if (slot < 0) {
            constexpr int half = 1 << (shift - 1);
            slot = std::int16_t(nearestIndex(m_palette, (b >> shift << shift) + half,
                                             (g >> shift << shift) + half,
                                             (r >> shift << shift) + half));
        }
        return slot;
    }

private:
    const std::vector<PaletteColor>& m_palette;
    std::vector<std::int16_t> m_cells;
};

std::uint32_t packColor(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16);
}

// The image's distinct colours when there are at most `limit`, else nullopt.
std::optional<std::vector<std::uint32_t>> fewDistinctColors(const ImageView& image, int limit) {
    std::unordered_set<std::uint32_t> seen;
    seen.reserve(std::size_t(limit) * 2);
    const int bpp = toolkit::bytesPerPixel(image.format);
    std::uint32_t last = 0xFFFFFFFF;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* p = image.row(y);
        for (int x = 0; x < image.width; ++x, p += bpp) {
            const std::uint32_t color = packColor(p);
            if (color == last) continue;
            last = color;
            if (seen.contains(color)) continue;
            if (int(seen.size()) == limit) return std::nullopt;
            seen.insert(color);
        }
    }
    std::vector<std::uint32_t> colors(seen.begin(), seen.end());
    std::sort(colors.begin(), colors.end());
    return colors;
}

// The histogram cells of every step-th pixel of the image in reading order, each occupied cell as
// the mean colour of its samples weighted by their count.
std::vector<WeightedColor> sampleHistogram(const ImageView& image) {
    const int bpp = toolkit::bytesPerPixel(image.format);
    const int step = paletteSampleStep(image.width, image.height);
    constexpr int shift = 8 - kHistBits;
    std::vector<WeightedColor> cells(std::size_t(kHistSide) * kHistSide * kHistSide);
    std::int64_t next = 0;
    std::int64_t index = 0;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* row = image.row(y);
        for (; next < index + image.width; next += step) {
            const std::uint8_t* p = row + std::size_t(next - index) * std::size_t(bpp);
            WeightedColor& cell =
                cells[(std::size_t(p[0] >> shift) << (2 * kHistBits)) |
                      (std::size_t(p[1] >> shift) << kHistBits) | std::size_t(p[2] >> shift)];
            for (int k = 0; k < 3; ++k)
                cell.c[k] += p[k];
            cell.weight += 1;
        }
        index += image.width;
    }
    std::vector<WeightedColor> entries;
    for (WeightedColor& cell : cells) {
        if (cell.weight <= 0) continue;
        for (double& c : cell.c)
            c /= cell.weight;
        entries.push_back(cell);
    }
    return entries;
}

// Median cut: splits the box of largest squared error until there are `colors` boxes or none
// can be split.
std::vector<Box> cutBoxes(std::vector<WeightedColor>& entries, int colors) {
    std::vector<Box> boxes{makeBox(entries, 0, entries.size())};
    while (int(boxes.size()) < colors) {
        std::size_t pick = boxes.size();
        double worst = 0;
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            if (boxes[i].end - boxes[i].begin >= 2 && boxes[i].error > worst) {
                worst = boxes[i].error;
                pick = i;
            }
        }
        if (pick == boxes.size()) break;
        Box left, right;
        if (!splitBox(entries, boxes[pick], left, right)) break;
        boxes[pick] = left;
        boxes.push_back(right);
    }
    return boxes;
}

using Centre = std::array<double, 3>;

// One k-means pass: each centre moves to the weighted mean of the cells nearest to it.
void refineCentres(const std::vector<WeightedColor>& entries, std::vector<Centre>& centres) {
    std::vector<std::array<double, 4>> sums(centres.size(), {0, 0, 0, 0});
    for (const WeightedColor& e : entries) {
        std::size_t best = 0;
        double bestDistance = std::numeric_limits<double>::infinity();
        for (std::size_t i = 0; i < centres.size(); ++i) {
            const double db = e.c[0] - centres[i][0];
            const double dg = e.c[1] - centres[i][1];
            const double dr = e.c[2] - centres[i][2];
            const double distance = db * db + dg * dg + dr * dr;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        for (int k = 0; k < 3; ++k)
            sums[best][std::size_t(k)] += e.c[k] * e.weight;
        sums[best][3] += e.weight;
    }
    for (std::size_t i = 0; i < centres.size(); ++i) {
        if (sums[i][3] <= 0) continue; // an empty cluster keeps its colour
        for (std::size_t k = 0; k < 3; ++k)
            centres[i][k] = sums[i][k] / sums[i][3];
    }
}

std::vector<PaletteColor> buildPalette(const ImageView& image, int colors) {
    std::vector<WeightedColor> entries = sampleHistogram(image);
    std::vector<Centre> centres;
    for (const Box& box : cutBoxes(entries, colors))
        centres.push_back({box.mean[0], box.mean[1], box.mean[2]});
    for (int pass = 0; pass < kRefinePasses; ++pass)
        refineCentres(entries, centres);
    std::vector<PaletteColor> palette;
    for (const auto& c : centres) {
        auto channel = [](double v) { return std::uint8_t(std::clamp(std::lround(v), 0L, 255L)); };
        palette.push_back({channel(c[0]), channel(c[1]), channel(c[2])});
    }
    return palette;
}

void mapNearest(const ImageView& image, PalettedImage& out) {
    const int bpp = toolkit::bytesPerPixel(image.format);
    NearestCache cache(out.palette);
    std::uint8_t* dst = out.indices.data();
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* p = image.row(y);
        for (int x = 0; x < image.width; ++x, p += bpp)
            *dst++ = std::uint8_t(cache.lookup(p[0], p[1], p[2]));
    }
}

void mapDithered(const ImageView& image, PalettedImage& out) {
    const int bpp = toolkit::bytesPerPixel(image.format);
    const int w = image.width;
    NearestCache cache(out.palette);
    // Errors in sixteenths, one pixel of margin on either side.
    std::vector<int> current(std::size_t(w + 2) * 3, 0);
    std::vector<int> next(std::size_t(w + 2) * 3, 0);
    for (int y = 0; y < image.height; ++y) {
        const bool forward = (y % 2) == 0;
        const int dir = forward ? 1 : -1;
        const std::uint8_t* row = image.row(y);
        std::uint8_t* dst = out.indices.data() + std::size_t(y) * std::size_t(w);
        std::fill(next.begin(), next.end(), 0);
        for (int i = 0; i < w; ++i) {
            const int x = forward ? i : w - 1 - i;
            const std::uint8_t* p = row + std::size_t(x) * std::size_t(bpp);
            int value[3];
            int* err = &current[std::size_t(x + 1) * 3];
            for (int k = 0; k < 3; ++k)
                value[k] = std::clamp(p[k] + (err[k] + 8) / 16, 0, 255);
            const int index = cache.lookup(value[0], value[1], value[2]);
            dst[x] = std::uint8_t(index);
            const PaletteColor& c = out.palette[std::size_t(index)];
            const int chosen[3] = {c.blue, c.green, c.red};
            for (int k = 0; k < 3; ++k) {
                const int e = value[k] - chosen[k];
                current[std::size_t(x + 1 + dir) * 3 + std::size_t(k)] += e * 7;
                next[std::size_t(x + 1 - dir) * 3 + std::size_t(k)] += e * 3;
                next[std::size_t(x + 1) * 3 + std::size_t(k)] += e * 5;
                next[std::size_t(x + 1 + dir) * 3 + std::size_t(k)] += e;
            }
        }
        std::swap(current, next);
    }
}

} // namespace

int paletteSampleStep(int width, int height) {
    if (width <= 0 || height <= 0) return 1;
    const std::int64_t n = std::int64_t(width) * height / 262144 + 1;
    return int(std::min<std::int64_t>(n, 10));
}

std::optional<PalettedImage> quantizeImage(const ImageView& image, int colors,
                                           Dithering dithering) {
    if (!image.data || image.width <= 0 || image.height <= 0 || colors < 2 || colors > 256)
        return std::nullopt;
    try {
        PalettedImage out;
        out.width = image.width;
        out.height = image.height;
        out.indices.resize(std::size_t(image.width) * std::size_t(image.height));
        if (auto exact = fewDistinctColors(image, colors)) {
            std::unordered_map<std::uint32_t, std::uint8_t> lookup;
            for (std::uint32_t color : *exact) {
                lookup.emplace(color, std::uint8_t(out.palette.size()));
                out.palette.push_back(
                    {std::uint8_t(color), std::uint8_t(color >> 8), std::uint8_t(color >> 16)});
            }
            if (out.palette.empty()) out.palette.push_back({});
            const int bpp = toolkit::bytesPerPixel(image.format);
            std::uint8_t* dst = out.indices.data();
            for (int y = 0; y < image.height; ++y) {
                const std::uint8_t* p = image.row(y);
                for (int x = 0; x < image.width; ++x, p += bpp)
                    *dst++ = lookup[packColor(p)];
            }
            return out;
        }
        out.palette = buildPalette(image, colors);
        if (dithering == Dithering::FloydSteinberg)
            mapDithered(image, out);
        else
            mapNearest(image, out);
        return out;
    } catch (const std::bad_alloc&) {
        return std::nullopt;
    }
}

} // namespace quill::imagefiles
