// Size limits shared by the decoders: the 1 GiB pixel-buffer cap, lowered for fuzzing so that our
// own guards trip before the fuzzer's memory limit.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include "toolkit/image.h"
#include "toolkit/memory_budget.h"

namespace quill::imagefiles::detail {

/// The largest pixel buffer one decode may allocate: the 1 GiB image cap, or less in fuzz builds
/// and in replays of fuzz inputs (setDecodeCap), so that our own guards trip before the fuzzer's
/// memory limit and an input found under the lower cap behaves the same when replayed.
#if defined(QUILL_FUZZING)
inline std::atomic<std::size_t> g_decodeCap{std::size_t{64} << 20};
#else
inline std::atomic<std::size_t> g_decodeCap{toolkit::kMaxImageBytes};
#endif

[[nodiscard]] inline std::size_t decodeMaxBytes() {
    return g_decodeCap.load(std::memory_order_relaxed);
}

/// Lowers (or restores) the cap; for fuzz drivers before their first input.
inline void setDecodeCap(std::size_t bytes) {
    g_decodeCap.store(std::min(bytes, toolkit::kMaxImageBytes), std::memory_order_relaxed);
}

/// Largest file the loaders read into memory.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 31;

/// What one decode may use in all: the file's bytes, the decoded image and the library's work
/// buffers together. The process budget, or twice a lowered cap when that is less.
[[nodiscard]] inline std::uint64_t decodeBudget() {
    const std::uint64_t limit = toolkit::MemoryBudget::process().limit();
    const std::size_t cap = decodeMaxBytes();
    if (cap >= toolkit::kMaxImageBytes) return limit;
    return limit < 2 * std::uint64_t(cap) ? limit : 2 * std::uint64_t(cap);
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
    return stride <= decodeMaxBytes() / std::size_t(height);
}

/// Allocates a decoded image (all zero) when the size is allowed; empty otherwise.
[[nodiscard]] inline toolkit::Image allocateImage(long long width, long long height,
                                                  toolkit::PixelFormat format) {
    if (!decodeSizeAllowed(width, height, format)) return {};
    return toolkit::Image(int(width), int(height), format);
}

} // namespace quill::imagefiles::detail
