// Size limits shared by the decoders: the 1 GiB pixel-buffer cap, lowered in fuzz builds so that
// our own guard trips before the fuzzer's memory limit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "toolkit/image.h"
#include "toolkit/memory_budget.h"

namespace quill::imagefiles::detail {

#if defined(QUILL_FUZZING)
inline constexpr std::size_t kDecodeMaxBytes = std::size_t{64} << 20;
#else
inline constexpr std::size_t kDecodeMaxBytes = toolkit::kMaxImageBytes;
#endif

/// Largest file the loaders read into memory.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;

/// What one decode may use in all: the file's bytes, the decoded image and the library's work
/// buffers together. The process budget, lowered in fuzz builds like the pixel cap.
[[nodiscard]] inline std::uint64_t decodeBudget() {
    const std::uint64_t limit = toolkit::MemoryBudget::process().limit();
#if defined(QUILL_FUZZING)
    return limit < 2 * kDecodeMaxBytes ? limit : 2 * kDecodeMaxBytes;
#else
    return limit;
#endif
}

/// True when `parts` bytes in all (each part already checked to be below 2^62) fit the budget
/// of one decode.
[[nodiscard]] inline bool fitsDecodeBudget(std::initializer_list<std::uint64_t> parts) {
    std::uint64_t total = 0;
    for (const std::uint64_t part : parts) {
        if (part > decodeBudget() - total) return false;
        total += part;
    }
    return true;
}

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
