// The size search: one encode at the quality asked for, then a bisection of the steps below it.
// The file size falls with the quality nearly everywhere, but not strictly (an encoder may give a
// few bytes more at a lower step): the bisection answers with a step whose file fits and whose
// next step up was encoded and did not, which is the highest fitting step wherever the sizes do
// fall with the quality.
#include "imagefiles/size_limit.h"

#include <utility>

namespace quill::imagefiles {

bool takesSizeLimit(Encoder encoder) {
    return encoder == Encoder::Jpeg || encoder == Encoder::Webp || encoder == Encoder::Avif ||
           encoder == Encoder::JpegXl;
}

SizedEncoding encodeWithinSize(const toolkit::Image& image, Encoder encoder, EncodeOptions options,
                               int depth, std::uint64_t limitBytes,
                               const CompleteEncoding& complete) {
    SizedEncoding result;
    // One encode at `step`; its file's size, or nullopt when the encoder failed.
    const auto encodeAt = [&](int step) -> std::optional<std::uint64_t> {
        options.stepBelow = step;
        ++result.encodes;
        auto bytes = encodeImage(image, encoder, options, depth);
        if (!bytes) return std::nullopt;
        const std::uint64_t size = complete ? complete(*bytes) : bytes->size();
        result.bytes = std::move(bytes);
        return size;
    };
    const auto top = encodeAt(-1);
    if (!top) return result;
    if (limitBytes == 0 || *top <= limitBytes || !takesSizeLimit(encoder)) return result;

    const int steps = qualityStepsBelow(encoder, options.quality);
    std::optional<std::vector<std::uint8_t>> best;
    int bestStep = -1;
    int low = 0;
    int high = steps - 1;
    while (low <= high && result.encodes < kMaxSizeSearchEncodes) {
        const int middle = low + (high - low) / 2;
        const auto size = encodeAt(middle);
        if (!size) return SizedEncoding{.bytes = std::nullopt, .encodes = result.encodes};
        if (*size <= limitBytes) {
            best = std::move(result.bytes);
            bestStep = middle;
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    if (best) {
        result.bytes = std::move(best);
        result.stepBelow = bestStep;
        return result;
    }
    // Nothing fits: the last encode was the lowest step tried (step 0 whenever there are steps).
    result.fits = false;
    result.stepBelow = steps > 0 ? low : -1;
    return result;
}

} // namespace quill::imagefiles
