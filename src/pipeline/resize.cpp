// Scaling the working image: turning a size request into a pixel size, and the two-pass cubic
// resampler.
//
// The resampler is separable: one pass filters along rows, the other along columns, through an
// intermediate image of 8-bit channels. The intermediate image is streamed a few rows at a time
// rather than held whole, so it stays in cache. Each pass precomputes, for every destination
// index, the first source index and the filter weights (a contribution table) as 16-bit
// fixed-point numbers, so the inner loops are integer multiply-adds over whole rows: AVX2 where
// the processor has it (checked at run time), else SSE2, else plain C++. All three compute the
// same integer sums, so every machine gives the same bytes.
#include "pipeline/resize.h"

#include "pipeline/detail/resize_kernel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define QUILL_HAVE_AVX2_KERNEL 1
#endif

namespace quill::pipeline {

using toolkit::Image;
using toolkit::PixelFormat;

namespace {

// ---------------------------------------------------------------------------------------------
// Contribution tables

/// Mitchell-Netravali cubic with B = C = 1/3, support 2.
double mitchell(double x) {
    constexpr double b = 1.0 / 3.0;
    constexpr double c = 1.0 / 3.0;
    const double t = std::fabs(x);
    if (t < 1.0)
        return ((12.0 - 9.0 * b - 6.0 * c) * t * t * t + (-18.0 + 12.0 * b + 6.0 * c) * t * t +
                (6.0 - 2.0 * b)) /
               6.0;
    if (t < 2.0)
        return ((-b - 6.0 * c) * t * t * t + (6.0 * b + 30.0 * c) * t * t +
                (-12.0 * b - 48.0 * c) * t + (8.0 * b + 24.0 * c)) /
               6.0;
    return 0.0;
}

/// The weights of one pass: for destination index i, `taps` weights starting at source index
/// first[i] (unused tail weights are 0). Weights are fixed-point numbers with `bits` fraction
/// bits; for every destination whose weights were normalised they add up to exactly 1 << bits,
/// so a constant colour passes through unchanged.
struct Contributions {
    int taps = 0;
    int bits = 14;
    std::vector<int> first;
    std::vector<int> count;
    std::vector<std::int16_t> weights;
};

/// How the source pixels of one pass lie along the picture the destination spans. A plain
/// resize spans whole pixels (`extent` = the source length). An image decoded reduced spans
/// less: its edge pixel stands for the part of a block the full picture has, so `extent` is the
/// full side divided by the reduction, and that narrower pixel is the last one, or the first
/// when a rotation or mirroring put it there.
struct SourceSpan {
    double extent = 0.0;
    bool narrowFirst = false;
};

/// The span of one side of an image: whole pixels, or, when `reduced` fits that side, the full
/// side it was reduced from.
SourceSpan spanOf(int length, const std::optional<ReducedSide>& reduced) {
    if (!reduced || reduced->reduction < 1 || reduced->full < 1 ||
        (std::int64_t(reduced->full) + reduced->reduction - 1) / reduced->reduction != length)
        return {double(length), false};
    return {double(reduced->full) / double(reduced->reduction), reduced->narrowFirst};
}

/// The most weights a table may hold: a larger resize is refused rather than allocated.
constexpr std::size_t kMaxTableEntries = std::size_t{1} << 28;

/// The weights of every destination pixel before they are made fixed-point: the source pixels
/// each reads (`first`, `count`), where its weights start in `real`, and whether they were
/// normalised to sum to one; with the largest weight and weight sum, which bound the fraction
/// bits.
struct RealWeights {
    std::vector<double> real;
    std::vector<std::size_t> start;
    std::vector<int> first, count;
    std::vector<char> normalised;
    double maxAbs = 0.0;
    double maxAbsSum = 0.0;
    int maxCount = 1;
};

bool realWeights(int srcLen, int dstLen, SourceSpan span, RealWeights& out) {
    const double scale = double(dstLen) / span.extent;
    const double radius = scale < 1.0 ? 2.0 / scale : 2.0;
    const double weightScale = scale < 1.0 ? scale : 1.0;
    const int maxContributors = 2 * int(std::ceil(radius)) + 1;
    const double offset = 0.5 / scale - 0.5;
    // Source pixel j's centre, less one half, in source pixels from the start of the span: j,
    // except for the last pixel, which is as wide as the span leaves it. (With a whole last
    // pixel this is exactly j again.) A span with its narrow pixel first is the mirror image of
    // one with it last, so that case is built mirrored and turned round.
    // The narrow pixel also stands for less of the picture: its weight shrinks with its width,
    // or the edge would count as much as a whole pixel where the picture has only a part of one.
    const int last = srcLen - 1;
    const double lastCentre = (double(last) + span.extent) / 2.0 - 0.5;
    const double lastWidth = std::clamp(span.extent - double(last), 0.0, 1.0);
    const auto position = [&](int j) { return j == last ? lastCentre : double(j); };
    const auto share = [&](int j) { return j == last ? lastWidth : 1.0; };

    const std::size_t dst = std::size_t(dstLen);
    const std::size_t perEntry = std::size_t(std::min(maxContributors, srcLen));
    if (perEntry > kMaxTableEntries / dst) return false;
    std::vector<double>& real = out.real;
    real.reserve(dst * perEntry);
    out.first.assign(dst, 0);
    out.count.assign(dst, 0);
    out.start.assign(dst, 0);
    out.normalised.assign(dst, 0);
    for (int i = 0; i < dstLen; ++i) {
        const int mirrored = span.narrowFirst ? dstLen - 1 - i : i;
        const double centre = mirrored / scale + offset;
        int left = int(std::floor(centre - radius));
        int right = int(std::ceil(centre + radius));
        if (left < 0) left = 0;
        if (right > srcLen - 1) right = srcLen - 1;
        if (right - left + 1 > maxContributors) {
            if (left < right)
                ++left;
            else
                --right;
        }
        if (right < left) right = left; // a destination beyond the source still reads one pixel
        const std::size_t at = real.size();
        double sum = 0.0;
        for (int j = left; j <= right; ++j) {
            const double w =
                mitchell((centre - position(j)) * weightScale) * weightScale * share(j);
            real.push_back(w);
            sum += w;
        }
        const int n = right - left + 1;
        if (span.narrowFirst) {
            std::reverse(real.begin() + std::ptrdiff_t(at), real.end());
            left = last - right;
        }
        if (sum != 0.0 && sum != 1.0)
            for (int k = 0; k < n; ++k)
                real[at + std::size_t(k)] /= sum;
        double absSum = 0.0;
        for (int k = 0; k < n; ++k) {
            out.maxAbs = std::max(out.maxAbs, std::fabs(real[at + std::size_t(k)]));
            absSum += std::fabs(real[at + std::size_t(k)]);
        }
        out.maxAbsSum = std::max(out.maxAbsSum, absSum);
        out.first[std::size_t(i)] = left;
        out.count[std::size_t(i)] = n;
        out.start[std::size_t(i)] = at;
        out.normalised[std::size_t(i)] = sum != 0.0;
        out.maxCount = std::max(out.maxCount, n);
    }
    return true;
}

/// As many fraction bits as the 16-bit weights and the 32-bit sums allow (at most 22).
int fractionBits(const RealWeights& r) {
    int bits = 22;
    while (bits > 1 && (r.maxAbs * double(1 << bits) > 32767.0 ||
                        (r.maxAbsSum * 255.0 + 1.0) * double(1 << bits) > 2.0e9))
        --bits;
    return bits;
}

/// The fixed-point weights, `taps` a destination pixel, with `bits` fraction bits.
std::vector<std::int16_t> fixedWeights(const RealWeights& r, int taps, int bits) {
    const std::size_t dst = r.first.size();
    std::vector<std::int16_t> weights(dst * std::size_t(taps), 0);
    const double one = double(1 << bits);
    for (std::size_t i = 0; i < dst; ++i) {
        std::int16_t* w = weights.data() + i * std::size_t(taps);
        int total = 0;
        int largest = 0;
        for (int k = 0; k < r.count[i]; ++k) {
            const double v = r.real[r.start[i] + std::size_t(k)];
            w[k] = std::int16_t(std::lround(v * one));
            total += w[k];
            if (std::fabs(v) > std::fabs(r.real[r.start[i] + std::size_t(largest)])) largest = k;
        }
        // Rounding each weight may leave the sum a few units off one; the largest weight takes
        // the difference. Weights are far below the 16-bit limit, so this cannot overflow.
        if (r.normalised[i]) w[largest] = std::int16_t(w[largest] + ((1 << bits) - total));
    }
    return weights;
}

/// Builds the table for source length `srcLen` and destination length `dstLen`, the destination
/// spanning `span` of the source. `tapMultiple` pads the tap count (the row pass reads taps in
/// groups of four).
bool buildContributions(int srcLen, int dstLen, int tapMultiple, Contributions& table,
                        SourceSpan span) {
    RealWeights real;
    if (!realWeights(srcLen, dstLen, span, real)) return false;
    const int taps = (real.maxCount + tapMultiple - 1) / tapMultiple * tapMultiple;
    if (std::size_t(taps) > kMaxTableEntries / std::size_t(dstLen)) return false;
    table.bits = fractionBits(real);
    table.weights = fixedWeights(real, taps, table.bits);
    table.taps = taps;
    table.first = std::move(real.first);
    table.count = std::move(real.count);
    return true;
}

inline std::uint8_t clampToByte(int v) {
    return std::uint8_t(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// ---------------------------------------------------------------------------------------------
// Row pass: filters along each row. Source rows are first widened into a padded buffer of
// 4-byte pixels, so that 24- and 32-bit images share one kernel and the padded taps never read
// outside the buffer.

void filterRowScalar(const std::uint8_t* line, const Contributions& table, int dstWidth, int bpp,
                     std::uint8_t* out) {
    const int taps = table.taps;
    const int bits = table.bits;
    const int rounding = 1 << (bits - 1);
    for (int x = 0; x < dstWidth; ++x) {
        const std::uint8_t* p = line + std::size_t(table.first[std::size_t(x)]) * 4;
        const std::int16_t* w = table.weights.data() + std::size_t(x) * std::size_t(taps);
        int acc[4] = {rounding, rounding, rounding, rounding};
        for (int k = 0; k < taps; ++k, p += 4)
            for (int c = 0; c < 4; ++c)
                acc[c] += w[k] * p[c];
        std::uint8_t* d = out + std::size_t(x) * std::size_t(bpp);
        for (int c = 0; c < bpp; ++c)
            d[c] = clampToByte(acc[c] >> bits);
    }
}

#if defined(__SSE2__)
/// Rounds, shifts and saturates the four channel sums of one pixel and stores `bpp` bytes.
inline void storePixel(__m128i acc, __m128i shift, int bpp, std::uint8_t* d) {
    acc = _mm_sra_epi32(acc, shift);
    acc = _mm_packs_epi32(acc, acc);
    acc = _mm_packus_epi16(acc, acc);
    const std::uint32_t pixel = std::uint32_t(_mm_cvtsi128_si32(acc));
    std::memcpy(d, &pixel, std::size_t(bpp));
}

void filterRowSse2(const std::uint8_t* line, const Contributions& table, int dstWidth, int bpp,
                   std::uint8_t* out) {
    const int taps = table.taps;
    const int bits = table.bits;
    const __m128i zero = _mm_setzero_si128();
    const __m128i rounding = _mm_set1_epi32(1 << (bits - 1));
    const __m128i shift = _mm_cvtsi32_si128(bits);
    for (int x = 0; x < dstWidth; ++x) {
        const std::uint8_t* p = line + std::size_t(table.first[std::size_t(x)]) * 4;
        const std::int16_t* w = table.weights.data() + std::size_t(x) * std::size_t(taps);
        __m128i acc = rounding;
        for (int k = 0; k < taps; k += 4, p += 16, w += 4) {
            // Four pixels p0..p3; reorder to p0 p2 p1 p3 so that one byte interleave pairs the
            // channels of p0 with p1 and of p2 with p3: b0 b1 g0 g1 r0 r1 a0 a1 | b2 b3 ...
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            v = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
            const __m128i pairs = _mm_unpacklo_epi8(v, _mm_srli_si128(v, 8));
            const __m128i wv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w));
            const __m128i w01 = _mm_shuffle_epi32(wv, _MM_SHUFFLE(0, 0, 0, 0));
            const __m128i w23 = _mm_shuffle_epi32(wv, _MM_SHUFFLE(1, 1, 1, 1));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi8(pairs, zero), w01));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpackhi_epi8(pairs, zero), w23));
        }
        storePixel(acc, shift, bpp, out + std::size_t(x) * std::size_t(bpp));
    }
}
#endif

#if defined(QUILL_HAVE_AVX2_KERNEL)
/// The SSE2 row kernel eight taps at a time: each 128-bit lane does the work of one SSE2 step
/// (taps 0..3 in the low lane, 4..7 in the high one), and the lanes are added at the end.
__attribute__((target("avx2"))) void filterRowAvx2(const std::uint8_t* line,
                                                   const Contributions& table, int dstWidth,
                                                   int bpp, std::uint8_t* out) {
    const int taps = table.taps;
    const int bits = table.bits;
    const __m256i zero = _mm256_setzero_si256();
    const __m128i rounding = _mm_set1_epi32(1 << (bits - 1));
    const __m128i shift = _mm_cvtsi32_si128(bits);
    // Weight pairs (w0 w1)(w2 w3)(w4 w5)(w6 w7) spread to lanes: d0 d1 d0 d1 | d2 d3 d2 d3.
    const __m256i spread = _mm256_setr_epi32(0, 1, 0, 1, 2, 3, 2, 3);
    for (int x = 0; x < dstWidth; ++x) {
        const std::uint8_t* p = line + std::size_t(table.first[std::size_t(x)]) * 4;
        const std::int16_t* w = table.weights.data() + std::size_t(x) * std::size_t(taps);
        __m256i acc = zero;
        int k = 0;
        for (; k + 8 <= taps; k += 8, p += 32, w += 8) {
            __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            v = _mm256_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
            const __m256i pairs = _mm256_unpacklo_epi8(v, _mm256_srli_si256(v, 8));
            const __m256i wv = _mm256_permutevar8x32_epi32(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(w))),
                spread);
            const __m256i w01 = _mm256_shuffle_epi32(wv, _MM_SHUFFLE(0, 0, 0, 0));
            const __m256i w23 = _mm256_shuffle_epi32(wv, _MM_SHUFFLE(1, 1, 1, 1));
            acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_unpacklo_epi8(pairs, zero), w01));
            acc = _mm256_add_epi32(acc, _mm256_madd_epi16(_mm256_unpackhi_epi8(pairs, zero), w23));
        }
        __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
        sum = _mm_add_epi32(sum, rounding);
        if (k < taps) { // four taps left over
            __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            v = _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 1, 2, 0));
            const __m128i pairs = _mm_unpacklo_epi8(v, _mm_srli_si128(v, 8));
            const __m128i wv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w));
            const __m128i z = _mm_setzero_si128();
            sum =
                _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi8(pairs, z),
                                                  _mm_shuffle_epi32(wv, _MM_SHUFFLE(0, 0, 0, 0))));
            sum =
                _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpackhi_epi8(pairs, z),
                                                  _mm_shuffle_epi32(wv, _MM_SHUFFLE(1, 1, 1, 1))));
        }
        storePixel(sum, shift, bpp, out + std::size_t(x) * std::size_t(bpp));
    }
}
#endif

void filterRow(const std::uint8_t* line, const Contributions& table, int dstWidth, int bpp,
               std::uint8_t* out, detail::ResizeKernel kernel) {
    switch (kernel) {
#if defined(QUILL_HAVE_AVX2_KERNEL)
    case detail::ResizeKernel::Avx2:
        return filterRowAvx2(line, table, dstWidth, bpp, out);
#endif
#if defined(__SSE2__)
    case detail::ResizeKernel::Sse2:
        return filterRowSse2(line, table, dstWidth, bpp, out);
#endif
    default:
        return filterRowScalar(line, table, dstWidth, bpp, out);
    }
}

/// Filters single rows along their length. Holds the widened, padded copy of the row being
/// filtered, allocated once per pass.
class RowFilter {
public:
    RowFilter(const Contributions& table, int srcWidth, int bpp, detail::ResizeKernel kernel)
        : m_table(table), m_srcWidth(srcWidth), m_bpp(bpp), m_kernel(kernel),
          // Room for the padded taps of the last destination pixels and the 16-byte reads.
          m_buffer(std::size_t(srcWidth) + std::size_t(table.taps) + 4, 0) {}

    /// Filters the source row `s` (srcWidth pixels) into `out` (one destination row).
    void filter(const std::uint8_t* s, std::uint8_t* out, int dstWidth) {
        const int srcW = m_srcWidth;
        if (m_bpp == 4) {
            std::memcpy(m_buffer.data(), s, std::size_t(srcW) * 4);
        } else {
            // Whole 4-byte reads except for the last pixel, which may end the row's memory.
            for (int x = 0; x + 1 < srcW; ++x) {
                std::uint32_t v;
                std::memcpy(&v, s + std::size_t(x) * 3, 4);
                m_buffer[std::size_t(x)] = v & 0x00FFFFFFu;
            }
            const std::uint8_t* last = s + std::size_t(srcW - 1) * 3;
            m_buffer[std::size_t(srcW - 1)] = std::uint32_t(last[0]) |
                                              (std::uint32_t(last[1]) << 8) |
                                              (std::uint32_t(last[2]) << 16);
        }
        filterRow(reinterpret_cast<const std::uint8_t*>(m_buffer.data()), m_table, dstWidth, m_bpp,
                  out, m_kernel);
    }

private:
    const Contributions& m_table;
    int m_srcWidth;
    int m_bpp;
    detail::ResizeKernel m_kernel;
    std::vector<std::uint32_t> m_buffer;
};

// ---------------------------------------------------------------------------------------------
// Column pass: every destination row is a weighted sum of whole source rows, computed over the
// row's bytes regardless of the pixel layout.

#if defined(QUILL_HAVE_AVX2_KERNEL)
/// The column kernel 32 bytes at a time. The byte interleaves and packs work within 128-bit
/// lanes and undo each other, so the bytes come out in their order.
__attribute__((target("avx2"))) std::size_t
filterColumnsAvx2(const std::uint8_t* const* rows, const std::int16_t* weights, int count, int bits,
                  std::size_t bytes, std::uint8_t* out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i rounding = _mm256_set1_epi32(1 << (bits - 1));
    const __m128i shift = _mm_cvtsi32_si128(bits);
    std::size_t b = 0;
    for (; b + 32 <= bytes; b += 32) {
        __m256i acc0 = rounding, acc1 = rounding, acc2 = rounding, acc3 = rounding;
        for (int k = 0; k < count; k += 2) {
            const bool pair = k + 1 < count;
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k] + b));
            const __m256i c =
                pair ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(rows[k + 1] + b)) : zero;
            const std::uint32_t w0 = std::uint16_t(weights[k]);
            const std::uint32_t w1 = pair ? std::uint16_t(weights[k + 1]) : 0u;
            const __m256i w = _mm256_set1_epi32(int(w0 | (w1 << 16)));
            const __m256i lo = _mm256_unpacklo_epi8(a, c);
            const __m256i hi = _mm256_unpackhi_epi8(a, c);
            acc0 = _mm256_add_epi32(acc0, _mm256_madd_epi16(_mm256_unpacklo_epi8(lo, zero), w));
            acc1 = _mm256_add_epi32(acc1, _mm256_madd_epi16(_mm256_unpackhi_epi8(lo, zero), w));
            acc2 = _mm256_add_epi32(acc2, _mm256_madd_epi16(_mm256_unpacklo_epi8(hi, zero), w));
            acc3 = _mm256_add_epi32(acc3, _mm256_madd_epi16(_mm256_unpackhi_epi8(hi, zero), w));
        }
        acc0 = _mm256_sra_epi32(acc0, shift);
        acc1 = _mm256_sra_epi32(acc1, shift);
        acc2 = _mm256_sra_epi32(acc2, shift);
        acc3 = _mm256_sra_epi32(acc3, shift);
        const __m256i packed =
            _mm256_packus_epi16(_mm256_packs_epi32(acc0, acc1), _mm256_packs_epi32(acc2, acc3));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + b), packed);
    }
    return b;
}
#endif

void filterColumns(const std::uint8_t* const* rows, const std::int16_t* weights, int count,
                   int bits, std::size_t bytes, std::uint8_t* out, detail::ResizeKernel kernel) {
    std::size_t b = 0;
#if defined(QUILL_HAVE_AVX2_KERNEL)
    if (kernel == detail::ResizeKernel::Avx2)
        b = filterColumnsAvx2(rows, weights, count, bits, bytes, out);
#endif
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i rounding = _mm_set1_epi32(1 << (bits - 1));
    const __m128i shift = _mm_cvtsi32_si128(bits);
    for (; kernel != detail::ResizeKernel::Scalar && b + 16 <= bytes; b += 16) {
        __m128i acc0 = rounding, acc1 = rounding, acc2 = rounding, acc3 = rounding;
        for (int k = 0; k < count; k += 2) {
            const bool pair = k + 1 < count;
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k] + b));
            const __m128i c =
                pair ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[k + 1] + b)) : zero;
            const std::uint32_t w0 = std::uint16_t(weights[k]);
            const std::uint32_t w1 = pair ? std::uint16_t(weights[k + 1]) : 0u;
            const __m128i w = _mm_set1_epi32(int(w0 | (w1 << 16)));
            const __m128i lo = _mm_unpacklo_epi8(a, c);
            const __m128i hi = _mm_unpackhi_epi8(a, c);
            acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(_mm_unpacklo_epi8(lo, zero), w));
            acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(_mm_unpackhi_epi8(lo, zero), w));
            acc2 = _mm_add_epi32(acc2, _mm_madd_epi16(_mm_unpacklo_epi8(hi, zero), w));
            acc3 = _mm_add_epi32(acc3, _mm_madd_epi16(_mm_unpackhi_epi8(hi, zero), w));
        }
        acc0 = _mm_sra_epi32(acc0, shift);
        acc1 = _mm_sra_epi32(acc1, shift);
        acc2 = _mm_sra_epi32(acc2, shift);
        acc3 = _mm_sra_epi32(acc3, shift);
        const __m128i packed =
            _mm_packus_epi16(_mm_packs_epi32(acc0, acc1), _mm_packs_epi32(acc2, acc3));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + b), packed);
    }
#endif
    const int rounding1 = 1 << (bits - 1);
    for (; b < bytes; ++b) {
        int acc = rounding1;
        for (int k = 0; k < count; ++k)
            acc += weights[k] * rows[k][b];
        out[b] = clampToByte(acc >> bits);
    }
}

bool anyTransparent(const Image& image) {
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* p = image.row(y);
        for (int x = 0; x < image.width(); ++x)
            if (p[std::size_t(x) * 4 + 3] == 0) return true;
    }
    return false;
}

/// A copy in which every fully transparent pixel is transparent white (FF FF FF 00).
Image whitenTransparent(const Image& image) {
    Image copy = image.clone();
    if (copy.empty()) return {};
    for (int y = 0; y < copy.height(); ++y) {
        std::uint8_t* p = copy.row(y);
        for (int x = 0; x < copy.width(); ++x, p += 4)
            if (p[3] == 0) p[0] = p[1] = p[2] = 255;
    }
    return copy;
}

/// The largest pixel count a result side may have before the size check refuses it.
constexpr double kMaxSide = double(std::numeric_limits<std::int32_t>::max());

float clampFactor(float value) {
    // NaN compares false everywhere and ends up at the lower bound.
    if (!(value >= 0.001f)) return 0.001f;
    return std::min(value, 1000.0f);
}

} // namespace

namespace {

bool resample(Image& image, int width, int height, detail::ResizeKernel kernel,
              const std::optional<ReducedSide>& across = {},
              const std::optional<ReducedSide>& down = {}) {
    const int srcW = image.width();
    const int srcH = image.height();
    const SourceSpan spanX = spanOf(srcW, across);
    const SourceSpan spanY = spanOf(srcH, down);
    const bool whole = spanX.extent == double(srcW) && spanY.extent == double(srcH);
    if (width == srcW && height == srcH && whole) return true;
    if (!Image::sizeAllowed(width, height, image.format())) return false;

    Contributions columns, rows;
    if (!buildContributions(srcW, width, 4, columns, spanX)) return false;
    if (!buildContributions(srcH, height, 1, rows, spanY)) return false;

    Image whitened;
    if (image.hasAlpha() && anyTransparent(image)) {
        whitened = whitenTransparent(image);
        if (whitened.empty()) return false;
    }
    const Image& src = whitened.empty() ? image : whitened;

    Image out(width, height, image.format());
    if (out.empty()) return false;
    const int bpp = image.bytesPerPixel();
    RowFilter rowFilter(columns, srcW, bpp, kernel);
    std::vector<const std::uint8_t*> taps(std::size_t(rows.taps));
    // Rows first when that makes the intermediate image the smaller one.
    if (std::int64_t(width) * srcH <= std::int64_t(srcW) * height) {
        // The intermediate image (width x srcH) is produced row by row as the column pass asks
        // for it, into a ring of rows; each destination row needs a window of consecutive
        // intermediate rows that only moves forwards (give or take one row), so a ring a few
        // rows longer than the longest window never drops a row that is still needed.
        const int ringRows = rows.taps + 4;
        const std::size_t rowBytes = std::size_t(width) * std::size_t(bpp);
        // 16 spare bytes: the SIMD loops never read past a row's end, but keep the ring's
        // rows apart from the vector's end all the same.
        std::vector<std::uint8_t> ring(std::size_t(ringRows) * rowBytes + 16);
        std::vector<int> held(std::size_t(ringRows), -1);
        for (int y = 0; y < height; ++y) {
            const int first = rows.first[std::size_t(y)];
            const int count = rows.count[std::size_t(y)];
            for (int k = 0; k < count; ++k) {
                const int j = first + k;
                const std::size_t slot = std::size_t(j % ringRows);
                std::uint8_t* row = ring.data() + slot * rowBytes;
                if (held[slot] != j) {
                    rowFilter.filter(src.row(j), row, width);
                    held[slot] = j;
                }
                taps[std::size_t(k)] = row;
            }
            filterColumns(taps.data(),
                          rows.weights.data() + std::size_t(y) * std::size_t(rows.taps), count,
                          rows.bits, rowBytes, out.row(y), kernel);
        }
    } else {
        // Columns first: each intermediate row (srcW x 1) is filtered along its length at once.
        const std::size_t rowBytes = std::size_t(srcW) * std::size_t(bpp);
        std::vector<std::uint8_t> middle(rowBytes + 16);
        for (int y = 0; y < height; ++y) {
            const int first = rows.first[std::size_t(y)];
            const int count = rows.count[std::size_t(y)];
            for (int k = 0; k < count; ++k)
                taps[std::size_t(k)] = src.row(first + k);
            filterColumns(taps.data(),
                          rows.weights.data() + std::size_t(y) * std::size_t(rows.taps), count,
                          rows.bits, rowBytes, middle.data(), kernel);
            rowFilter.filter(middle.data(), out.row(y), width);
        }
    }
    image = std::move(out);
    return true;
}

} // namespace

namespace detail {

ResizeKernel bestResizeKernel() {
#if defined(QUILL_HAVE_AVX2_KERNEL)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return ResizeKernel::Avx2;
#endif
#if defined(__SSE2__)
    return ResizeKernel::Sse2;
#else
    return ResizeKernel::Scalar;
#endif
}

bool resizeImageSmoothWith(Image& image, int width, int height, ResizeKernel kernel) {
    if (image.empty() || width < 1 || height < 1) return false;
    if (kernel > bestResizeKernel()) kernel = bestResizeKernel();
    // The tables and buffers are plain vectors; running out of memory is a failed step, not an
    // exception for the caller.
    try {
        return resample(image, width, height, kernel);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

} // namespace detail

bool resizeImageSmooth(Image& image, int width, int height) {
    return detail::resizeImageSmoothWith(image, width, height, detail::bestResizeKernel());
}

bool resizeReducedImageSmooth(Image& image, int width, int height, const ReducedSide& across,
                              const ReducedSide& down) {
    if (image.empty() || width < 1 || height < 1) return false;
    try {
        return resample(image, width, height, detail::bestResizeKernel(), across, down);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

std::optional<ScaledSize> measureScale(const ScaleRequest& request, int w, int h) {
    if (w <= 0 || h <= 0) return std::nullopt;
    float fx, fy;
    if (request.basis == ScaleBasis::Factor) {
        fx = request.targetX;
        fy = request.targetY;
    } else {
        fx = request.targetX / float(w);
        fy = request.targetY / float(h);
    }
    float f;
    if (request.axis == ScaleAxis::WidthOnly) {
        fy = 1.0f;
        f = fx;
    } else if (request.axis == ScaleAxis::HeightOnly) {
        fx = 1.0f;
        f = fy;
    } else {
        f = fx < fy ? fx : fy;
    }
    if (request.limit == ScaleLimit::NeverEnlarge) {
        fx = std::min(fx, 1.0f);
        fy = std::min(fy, 1.0f);
        f = std::min(f, 1.0f);
    } else if (request.limit == ScaleLimit::NeverReduce) {
        fx = std::max(fx, 1.0f);
        fy = std::max(fy, 1.0f);
        f = std::max(f, 1.0f);
    }
    fx = clampFactor(fx);
    fy = clampFactor(fy);
    f = clampFactor(f);

    // A float factor times an int is exact in double, so the rounding sees the true product.
    const bool stretch = request.aspect == ScaleAspect::Stretch;
    const double newW = std::floor(double(w) * double(stretch ? fx : f) + 0.5);
    const double newH = std::floor(double(h) * double(stretch ? fy : f) + 0.5);
    if (newW > kMaxSide || newH > kMaxSide) return std::nullopt;
    return ScaledSize{int(newW), int(newH), f};
}

bool scaleImage(Image& image, const ScaleRequest& request) {
    if (image.empty()) return false;
    const auto size = measureScale(request, image.width(), image.height());
    if (!size) return false;
    if (size->width == image.width() && size->height == image.height()) return true;
    return resizeImageSmooth(image, size->width, size->height);
}

double dctReductionMargin(int reduction) {
    return reduction >= 8 ? 10.0 : reduction >= 4 ? 8.0 : 6.0;
}

int largestDctReduction(int srcWidth, int srcHeight, const ScaleRequest& request) {
    const auto target = measureScale(request, srcWidth, srcHeight);
    if (!target || target->width < 1 || target->height < 1) return 1;
    for (int reduction = 8; reduction > 1; reduction /= 2) {
        // The reduced decode must keep its margin over the target on both sides.
        const double margin = dctReductionMargin(reduction);
        const std::int64_t w = (std::int64_t(srcWidth) + reduction - 1) / reduction;
        const std::int64_t h = (std::int64_t(srcHeight) + reduction - 1) / reduction;
        if (double(w) >= margin * target->width && double(h) >= margin * target->height)
            return reduction;
    }
    return 1;
}

} // namespace quill::pipeline
