// Scaling the working image: turning a size request into a pixel size, and the two-pass cubic
// resampler.
#pragma once

#include <cstdint>
#include <optional>

#include "toolkit/image.h"

namespace quill::pipeline {

/// How the targets of a scale request are read.
enum class ScaleBasis : std::uint8_t {
    Pixels, ///< targetX and targetY are sizes in pixels
    Factor, ///< targetX and targetY are factors
};

/// Which targets count.
enum class ScaleAxis : std::uint8_t {
    Both,       ///< both targets
    WidthOnly,  ///< only the width target; the height factor is 1
    HeightOnly, ///< only the height target; the width factor is 1
};

/// Which way the image may change.
enum class ScaleLimit : std::uint8_t {
    None,         ///< enlarge or reduce
    NeverEnlarge, ///< factors above 1 become 1
    NeverReduce,  ///< factors below 1 become 1
};

/// Whether both sides share one factor.
enum class ScaleAspect : std::uint8_t {
    Keep,    ///< one factor for both sides: the smaller one, or the one of the axis that counts
    Stretch, ///< each side gets its own factor
};

/// What a scaling asks for; the image's own size comes with the call.
struct ScaleRequest {
    ScaleBasis basis = ScaleBasis::Pixels;
    ScaleAxis axis = ScaleAxis::Both;
    ScaleLimit limit = ScaleLimit::None;
    ScaleAspect aspect = ScaleAspect::Keep;
    float targetX = 0.0f;
    float targetY = 0.0f;
};

/// The size a scale request gives.
struct ScaledSize {
    std::int32_t width = 0; ///< may be 0 when a tiny factor rounds a side away
    std::int32_t height = 0;
    float factor = 0.0f; ///< the common factor (also computed for ScaleAspect::Stretch)
};

/// The new size of an image of width x height under `request`; nullopt when a side of the image
/// is below 1 or a new side would be beyond any image.
[[nodiscard]] std::optional<ScaledSize> measureScale(const ScaleRequest& request, int width,
                                                     int height);

/// Resamples `image` to the size measureScale gives (nothing to do when the size stays). False,
/// with the image unchanged, for an empty image, a side that rounds to 0, a size beyond any image
/// or no memory.
[[nodiscard]] bool scaleImage(toolkit::Image& image, const ScaleRequest& request);

/// Replaces the pixels of `image` (24- or 32-bit) with a copy resampled to width x height by the
/// two-pass Mitchell-Netravali cubic filter (B = C = 1/3). In 32-bit images fully transparent
/// pixels count as transparent white, so they do not darken the edges next to them. The current
/// size succeeds without work. False, with the image unchanged, for an empty image, a side below
/// 1, a size beyond the image limit or no memory.
[[nodiscard]] bool resizeImageSmooth(toolkit::Image& image, int width, int height);

/// One side of an image decoded reduced in the JPEG DCT, as the resize maps it onto the full
/// image: reduced pixel i stands for full pixels [reduction * i, min(reduction * (i + 1), full)),
/// so when `full` is not a multiple of `reduction` the last pixel stands for fewer. A rotation or
/// mirroring before the resize may have turned that narrower pixel into the first one.
struct ReducedSide {
    int full = 0;      ///< the full image's side
    int reduction = 1; ///< 1, 2, 4 or 8
    bool narrowFirst = false;
};

/// resizeImageSmooth for an image decoded reduced: the result is resampled from the part of the
/// reduced pixels the full picture covers, `across` along the rows and `down` along the columns,
/// so that it lies where the same resize of the full image would put it. Treating the partial
/// edge pixel as whole would stretch the picture by up to one reduced pixel. A side that does not
/// match its ReducedSide (ceil(full / reduction) pixels) is taken as whole pixels.
[[nodiscard]] bool resizeReducedImageSmooth(toolkit::Image& image, int width, int height,
                                            const ReducedSide& across, const ReducedSide& down);

/// How much larger than the resize's result a decode reduced by `reduction` (2, 4 or 8) in the
/// JPEG DCT must stay on both sides. The reduced IDCT is no Mitchell filter: it leaves block
/// averages and some aliasing that the cubic pass smooths away only when it reduces much further.
/// Measured against an exact Mitchell reduction of the full decode (bench/reduced_decode_quality
/// on 2- to 9-megapixel photographs with odd sides), the reduced decode stays within 1 dB of the
/// full decode from 6 times the result at 1/2, 8 times at 1/4 and 10 times at 1/8 (at 1.5 times
/// it lost 11 to 14 dB).
[[nodiscard]] double dctReductionMargin(int reduction);

/// The strongest reduction (1, 2, 4 or 8) by which a JPEG of srcWidth x srcHeight may be decoded
/// in the library's DCT before `request` resizes it: the reduced image, ceil(side / reduction) on
/// each side, stays at least dctReductionMargin(reduction) times the request's result on both
/// sides. 1 when the request does not reduce by that much or cannot be measured. The caller
/// resizes the reduced image (resizeReducedImageSmooth) to the size the request gives for the
/// full image.
[[nodiscard]] int largestDctReduction(int srcWidth, int srcHeight, const ScaleRequest& request);

} // namespace quill::pipeline
