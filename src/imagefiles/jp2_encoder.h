// The JPEG 2000 encoder (OpenJPEG): .jp2 box files or raw codestreams with one quality layer.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "toolkit/image.h"

namespace quill::imagefiles {

/// The compression rate (size ratio) for a quality argument 0..10, clamped:
/// 500, 250, 125, 100, 80, 60, 30, 15, 10, 5, 2.
[[nodiscard]] int jp2CompressionRate(int quality);

/// Images of more pixels than this are written in tiles of kJp2TileSide: the codec then holds
/// the samples and work buffers of one tile at a time instead of several copies of the image.
/// Smaller images are one tile, which codes a little more compactly.
inline constexpr std::int64_t kJp2TilingPixels = std::int64_t{4096} * 4096;
inline constexpr int kJp2TileSide = 1024;
/// What the codec holds for one such tile: 32-bit samples of four components, code-block and
/// coded-tile buffers.
inline constexpr std::uint64_t kJp2TileWorkBytes = std::uint64_t{96} << 20;

/// How the codestream is laid out. The defaults are what outputs use.
struct Jp2Coding {
    /// -1: tiles of kJp2TileSide beyond kJp2TilingPixels, else one tile; 0: one tile; else
    /// square tiles of the largest power of two up to this side (at least 32).
    int tileSide = -1;
    /// The reversible wavelet with every bit kept instead of the rate (the tiling's checks).
    bool lossless = false;
};

/// Appends a .jp2 file of `image` to `out`: three sRGB components, a fourth alpha component for
/// 32-bit images, one quality layer at jp2CompressionRate(quality). With `codestream` the bare
/// codestream is written instead (the content of .j2k and .j2c files). False on a codec error.
[[nodiscard]] bool encodeJp2(const toolkit::ImageView& image, int quality,
                             std::vector<std::uint8_t>& out, bool codestream = false,
                             const Jp2Coding& coding = {}, std::span<const std::uint8_t> icc = {});

} // namespace quill::imagefiles
