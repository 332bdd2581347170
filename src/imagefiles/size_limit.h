// Encoding within a file size: the best quality, up to the one asked for, whose file fits.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "imagefiles/image_saver.h"

namespace quill::imagefiles {

/// The most encodes one image's size search makes.
inline constexpr int kMaxSizeSearchEncodes = 8;

/// Whether the size limit applies to files `encoder` writes (JPEG, WebP, AVIF and JPEG XL).
[[nodiscard]] bool takesSizeLimit(Encoder encoder);

/// Turns encoded bytes into what is written (metadata put in, say) and gives the size of the file
/// that will be written from them.
using CompleteEncoding = std::function<std::uint64_t(std::vector<std::uint8_t>& bytes)>;

/// What the size search wrote.
struct SizedEncoding {
    std::optional<std::vector<std::uint8_t>> bytes; ///< nullopt: the encoder failed
    bool fits = true;   ///< false: even the lowest quality is larger than the limit
    int encodes = 0;    ///< encodes made
    int stepBelow = -1; ///< the step written (EncodeOptions::stepBelow); -1 the quality asked for
};

/// Encodes as encodeImage does at `options.quality`; when the file is larger than `limitBytes`,
/// bisects the encoder's own quality scale below that quality (qualityStepsBelow) for the highest
/// step whose file fits, in at most kMaxSizeSearchEncodes encodes. When none fits, the bytes of
/// the lowest step are given with `fits` false. `complete` (may be empty) is applied to every
/// encoding; the size it gives is compared with the limit. A limit of 0 encodes once.
[[nodiscard]] SizedEncoding encodeWithinSize(const toolkit::Image& image, Encoder encoder,
                                             EncodeOptions options, int depth,
                                             std::uint64_t limitBytes,
                                             const CompleteEncoding& complete = {});

} // namespace quill::imagefiles
