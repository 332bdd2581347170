// Finding the ICC colour profile a file embeds, from the file's bytes in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "imagefiles/codec.h"

namespace quill::imagefiles {

/// The largest profile taken from a file; a larger one counts as none. Display and camera
/// profiles take a few kilobytes, the largest printer profiles a few megabytes.
inline constexpr std::size_t kMaxIccProfileBytes = std::size_t{8} << 20;

/// The embedded profile of a whole file, by its content: JPEG (the APP2 "ICC_PROFILE" chain),
/// PNG (iCCP), TIFF (tag 34675), JPEG 2000 (the colr box of methods 2 and 3), and the formats of
/// the format table with a metadata reader (WebP, AVIF, HEIF, JPEG XL). Empty when the file has
/// none, when its profile is broken (an incomplete JPEG chain, a PNG profile that does not
/// inflate) or larger than kMaxIccProfileBytes.
[[nodiscard]] std::vector<std::uint8_t> readIccProfile(std::span<const std::uint8_t> file);

/// The metadata reader of the format table for formats whose only block read here is the
/// profile (PNG, TIFF, JPEG 2000).
[[nodiscard]] FileMetadata readIccOnlyMetadata(std::span<const std::uint8_t> file);

} // namespace quill::imagefiles
