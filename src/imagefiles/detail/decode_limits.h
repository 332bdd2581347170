// Size limits shared by the decoders: the 1 GiB pixel-buffer cap, lowered in fuzz builds so that
// our own guard trips before the fuzzer's memory limit.
#pragma once

#include <cstddef>
#include <cstdint>

#include "toolkit/image.h"

namespace quill::imagefiles::detail {

#if defined(QUILL_FUZZING)
inline constexpr std::size_t kDecodeMaxBytes = std::size_t{64} << 20;
#else
inline constexpr std::size_t kDecodeMaxBytes = toolkit::kMaxImageBytes;
#endif

/// Largest file the loaders read into memory.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;

/// True when a decoded image of this size may be allocated.
[[nodiscard]] inline bool decodeSizeAllowed(long long width, long long height,
                                            toolkit::PixelFormat format) {
    if (width <= 0 || height <= 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return false;
    if (!toolkit::Image::sizeAllowed(int(width), int(height), format)) return false;
    const std::size_t stride = toolkit::Image::strideFor(int(width), format);
    return stride <= kDecodeMaxBytes / std::size_t(height);
}

/// Allocates a decoded image (all zero) when the size is allowed; empty otherwise.
[[nodiscard]] inline toolkit::Image allocateImage(long long width, long long height,
                                                  toolkit::PixelFormat format) {
    if (!decodeSizeAllowed(width, height, format)) return {};
    return toolkit::Image(int(width), int(height), format);
}

} // namespace quill::imagefiles::detail
