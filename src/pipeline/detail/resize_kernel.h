// The inner loops of the resampler: which instruction set they use. Every kernel computes the
// same integer sums, so the choice changes the speed and never the bytes.
#pragma once

#include <cstdint>

#include "toolkit/image.h"

namespace quill::pipeline::detail {

/// Kernels from the plainest to the fastest.
enum class ResizeKernel : std::uint8_t {
    Scalar, ///< plain C++
    Sse2,   ///< 128-bit integer multiply-adds
    Avx2,   ///< 256-bit integer multiply-adds, when the processor has them
};

/// The fastest kernel this processor runs (checked once, at run time).
[[nodiscard]] ResizeKernel bestResizeKernel();

/// resizeImageSmooth with a given kernel; one the processor lacks falls back to the best it has.
[[nodiscard]] bool resizeImageSmoothWith(toolkit::Image& image, int width, int height,
                                         ResizeKernel kernel);

} // namespace quill::pipeline::detail
